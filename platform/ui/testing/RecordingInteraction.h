#pragma once
// A user channel that keeps every message and answers questions from a
// script (Cancel when the script is used up), for tests and benchmarks.
#include <string>
#include <vector>

#include "platform/ui/UserInteraction.h"

namespace tunara {

class RecordingInteraction : public UserInteraction {
public:
    void ShowError(const UserMessage& message) override;
    Answer Ask(const std::string& question, bool withCancel) override;

    std::vector<UserMessage> errors;
    std::vector<std::string> questions;
    std::vector<Answer> answers;  // consumed front to back

private:
    size_t nextAnswer_ = 0;
};

// Installs a RecordingInteraction for the life of a scope and makes the
// calling thread the user-interface thread, so reports show at once.
class ScopedRecordingInteraction {
public:
    ScopedRecordingInteraction();
    ~ScopedRecordingInteraction();
    ScopedRecordingInteraction(const ScopedRecordingInteraction&) = delete;
    ScopedRecordingInteraction& operator=(const ScopedRecordingInteraction&) = delete;
    RecordingInteraction* operator->() { return &rec_; }
    RecordingInteraction& get() { return rec_; }

private:
    RecordingInteraction rec_;
    UserInteraction* previous_;
};

}  // namespace tunara
