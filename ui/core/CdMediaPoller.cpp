#include "ui/core/CdMediaPoller.h"

#include <chrono>

#include "platform/ui/UserInteraction.h"

namespace tunara {

CdMediaPoller::CdMediaPoller(std::vector<std::string> drives, Handler handler)
    : drives_(std::move(drives)), handler_(std::move(handler)) {}

CdMediaPoller::~CdMediaPoller() {
    Stop();
}

void CdMediaPoller::Start(int intervalMs) {
    Stop();
    alive_ = std::make_shared<bool>(true);
    if (intervalMs <= 0) {
        watcher_ = std::make_unique<cdaudio::MediaWatcher>(drives_);
        return;
    }
    stopping_ = false;
    thread_ = std::thread(&CdMediaPoller::Run, this, intervalMs);
}

void CdMediaPoller::PollNow() {
    if (!watcher_) watcher_ = std::make_unique<cdaudio::MediaWatcher>(drives_);
    Post(watcher_->Poll());
}

void CdMediaPoller::Run(int intervalMs) {
    // The first look (which may wait for a drive) happens here, not on the
    // user-interface thread.
    auto watcher = std::make_unique<cdaudio::MediaWatcher>(drives_);
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(intervalMs),
                           [this] { return stopping_; })) {
        lock.unlock();
        Post(watcher->Poll());
        lock.lock();
    }
}

void CdMediaPoller::Post(std::vector<cdaudio::MediaWatcher::Change> changes) {
    if (changes.empty()) return;
    UiQueue().Post([alive = alive_, handler = handler_, changes = std::move(changes)] {
        if (!*alive) return;
        for (const auto& c : changes) handler(c);
    });
}

void CdMediaPoller::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    *alive_ = false;
}

}  // namespace tunara
