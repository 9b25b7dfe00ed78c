#include "platform/audio/NullDevice.h"

namespace tunara::audio {

std::string NullDevice::Name() const {
    switch (pace_) {
        case Pace::Fast:
            return "null:fast";
        case Pace::Step:
            return "null:step";
        default:
            return "null";
    }
}

uint64_t NullDevice::Consume(uint64_t frames) {
    std::lock_guard lock(mutex_);
    if (pace_ != Pace::Step || paused_) return 0;
    auto now = Clock::now();
    Progress(now);
    uint64_t take = std::min(frames, handed_ - stepped_);
    stepped_ += take;
    Progress(now);
    Wake();
    return take;
}

uint64_t NullDevice::Played(uint64_t handed, Clock::time_point now) {
    switch (pace_) {
        case Pace::Fast:
            return handed;
        case Pace::Step:
            return stepped_;
        case Pace::RealTime:
            break;
    }
    if (anchorTime_ == Clock::time_point{}) {
        anchorTime_ = now;
        anchorPlayed_ = played_;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchorTime_).count();
    uint64_t p =
        anchorPlayed_ + static_cast<uint64_t>(elapsed) * format_.sampleRate / 1000000000ull;
    if (p >= handed) {
        // Ran dry: the clock starts again when more arrives.
        p = handed;
        anchorPlayed_ = handed;
        anchorTime_ = now;
    }
    return p;
}

DeviceCore::Clock::time_point NullDevice::NextLook(uint64_t handed, uint64_t nextEnd,
                                                   Clock::time_point now) {
    (void)handed;
    if (pace_ != Pace::RealTime) return Clock::time_point::max();
    if (nextEnd <= anchorPlayed_) return now;
    uint64_t frames = nextEnd - anchorPlayed_;
    auto ns = std::chrono::nanoseconds((frames * 1000000000ull + format_.sampleRate - 1) /
                                       format_.sampleRate);
    return anchorTime_ + std::chrono::duration_cast<Clock::duration>(ns);
}

void NullDevice::BackendPause(bool paused, Clock::time_point now) {
    // Pause freezes the clock at what was heard; restart resumes from there.
    anchorPlayed_ = played_;
    anchorTime_ = paused ? Clock::time_point{} : now;
}

void NullDevice::BackendReset() {
    stepped_ = 0;
    anchorPlayed_ = 0;
    anchorTime_ = Clock::time_point{};
}

}  // namespace tunara::audio
