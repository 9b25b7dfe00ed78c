#include "platform/ui/testing/RecordingInteraction.h"

namespace tunara {

void RecordingInteraction::ShowError(const UserMessage& message) {
    errors.push_back(message);
}

Answer RecordingInteraction::Ask(const std::string& question, bool) {
    questions.push_back(question);
    return nextAnswer_ < answers.size() ? answers[nextAnswer_++] : Answer::Cancel;
}

ScopedRecordingInteraction::ScopedRecordingInteraction() : previous_(&CurrentUserInteraction()) {
    SetUserInteraction(&rec_);
    SetUiThread();
}

ScopedRecordingInteraction::~ScopedRecordingInteraction() {
    SetUserInteraction(previous_);
}

}  // namespace tunara
