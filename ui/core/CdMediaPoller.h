#pragma once
// Looks at every CD drive about once a second on a thread of its own and
// posts what changed to the user-interface thread, so that a slow drive
// spinning up never freezes the window.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/cdaudio/MediaWatcher.h"

namespace tunara {

class CdMediaPoller {
public:
    // Runs on the user-interface thread for each change, in drive order.
    using Handler = std::function<void(const cdaudio::MediaWatcher::Change&)>;

    CdMediaPoller(std::vector<std::string> drives, Handler handler);
    ~CdMediaPoller();

    // Takes the drives' present state as the starting point and, with an
    // interval above 0, starts the thread. With 0 nothing polls until
    // PollNow (tests step it this way).
    void Start(int intervalMs);
    // One look at every drive on the calling thread; changes are posted.
    void PollNow();
    // Stops the thread; changes posted and not yet delivered are dropped.
    void Stop();

private:
    void Run(int intervalMs);
    void Post(std::vector<cdaudio::MediaWatcher::Change> changes);

    std::vector<std::string> drives_;
    Handler handler_;
    std::unique_ptr<cdaudio::MediaWatcher> watcher_;
    // Shared with the posted work: false once stopped (user-interface thread).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tunara
