#include "platform/ui/UserInteraction.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "platform/ui/Strings.h"

namespace tunara {

std::string UserMessage::Formatted() const {
    std::string out = text;
    auto at = out.find("%1");
    if (at != std::string::npos) out.replace(at, 2, argument);
    return out;
}

void PostedQueue::Post(std::function<void()> work) {
    std::function<void()> waker;
    {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(work));
        waker = waker_;
    }
    if (waker) waker();
}

void PostedQueue::SetWaker(std::function<void()> waker) {
    std::lock_guard lock(mutex_);
    waker_ = std::move(waker);
}

int PostedQueue::Deliver() {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(items_);
    }
    for (auto& work : batch) work();
    return static_cast<int>(batch.size());
}

namespace {

class StderrInteraction : public UserInteraction {
public:
    void ShowError(const UserMessage& message) override {
        std::fprintf(stderr, "%s\n", message.Formatted().c_str());
    }
    Answer Ask(const std::string&, bool) override { return Answer::Cancel; }
};

StderrInteraction g_stderrInteraction;
std::atomic<UserInteraction*> g_interaction{nullptr};
std::mutex g_uiThreadMutex;
std::thread::id g_uiThread;
bool g_uiThreadSet = false;

}  // namespace

void SetUserInteraction(UserInteraction* ui) {
    g_interaction.store(ui);
}

UserInteraction& CurrentUserInteraction() {
    UserInteraction* ui = g_interaction.load();
    return ui ? *ui : g_stderrInteraction;
}

PostedQueue& UiQueue() {
    static PostedQueue queue;
    return queue;
}

void SetUiThread(std::thread::id id) {
    std::lock_guard lock(g_uiThreadMutex);
    g_uiThread = id;
    g_uiThreadSet = true;
}

bool OnUiThread() {
    std::lock_guard lock(g_uiThreadMutex);
    if (!g_uiThreadSet) {
        g_uiThread = std::this_thread::get_id();
        g_uiThreadSet = true;
    }
    return g_uiThread == std::this_thread::get_id();
}

UserMessage MessageOf(int stringId, std::string_view argument, int errorNumber) {
    return UserMessage{stringId, strings::Text(stringId), std::string(argument), errorNumber};
}

void ErrorSlot::Set(UserMessage message) {
    std::lock_guard lock(mutex_);
    message_ = std::move(message);
}

std::optional<UserMessage> ErrorSlot::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(message_, std::nullopt);
}

void ReportError(int stringId, std::string_view argument) {
    ReportError(MessageOf(stringId, argument));
}

void ReportError(UserMessage message) {
    if (OnUiThread()) {
        CurrentUserInteraction().ShowError(message);
    } else {
        UiQueue().Post([m = std::move(message)] { CurrentUserInteraction().ShowError(m); });
    }
}

}  // namespace tunara
