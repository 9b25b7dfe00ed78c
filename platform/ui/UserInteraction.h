#pragma once
// The one channel through which the core talks to the user: error boxes,
// questions and work posted to the user-interface thread. The GUI implements
// it with dialogs, tunara-cli with the terminal, tests with a recorder.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tunara {

// One error box: the string id, its text with "%1" and the argument for it.
struct UserMessage {
    int stringId = 0;
    std::string text;      // the template, e.g. "Failed to open the file %1."
    std::string argument;  // what replaces %1: for a file, its path
    int errorNumber = 0;   // errno of the system call that failed, if one did
    // The text as the user reads it, %1 replaced.
    std::string Formatted() const;
};

// The message of a string id from the strings table.
UserMessage MessageOf(int stringId, std::string_view argument = {}, int errorNumber = 0);

// One failure kept for whoever decides whether the user hears of it: set on
// any thread (a feeder meets a damaged frame), taken on the user-interface
// thread. A newer failure replaces one not yet taken.
class ErrorSlot {
public:
    void Set(UserMessage message);
    // The failure, if any, which leaves the slot empty.
    std::optional<UserMessage> Take();

private:
    std::mutex mutex_;
    std::optional<UserMessage> message_;
};

enum class Answer { Yes, No, Cancel };

class UserInteraction {
public:
    virtual ~UserInteraction() = default;
    // Shows an error box. Always called on the user-interface thread.
    virtual void ShowError(const UserMessage& message) = 0;
    // Asks a question; withCancel adds a Cancel choice to Yes and No.
    virtual Answer Ask(const std::string& question, bool withCancel) = 0;
};

// Work handed from any thread to the user-interface thread. The front end
// calls Deliver() from its loop (the GUI from a queued call, tunara-cli from
// its tick); tests call it where they want posted work to run.
class PostedQueue {
public:
    void Post(std::function<void()> work);
    // Runs everything posted so far; returns how many items ran.
    int Deliver();
    // Called after every Post, on the posting thread: a front end with an
    // event loop wakes it here so posted work runs without waiting for a tick.
    void SetWaker(std::function<void()> waker);

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> items_;
    std::function<void()> waker_;
};

// Process-wide wiring. Until a front end installs its own, messages go to
// standard error and questions answer Cancel.
void SetUserInteraction(UserInteraction* ui);
UserInteraction& CurrentUserInteraction();
PostedQueue& UiQueue();
// Marks the calling thread as the user-interface thread (start-up does it;
// the first thread to report is taken otherwise).
void SetUiThread(std::thread::id id = std::this_thread::get_id());
bool OnUiThread();

// Tells the user the message of a string id with its argument. From the
// user-interface thread the box shows at once; from any other thread it is
// posted and shows on the next Deliver().
void ReportError(int stringId, std::string_view argument = {});
void ReportError(UserMessage message);

}  // namespace tunara
