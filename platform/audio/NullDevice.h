#pragma once
// The device without sound: it discards what it plays. Real time paces
// buffers by the clock, Fast hands them back as soon as they are written,
// Step only when the test calls Consume().
#include "platform/audio/DeviceCore.h"

namespace tunara::audio {

class NullDevice : public DeviceCore {
public:
    enum class Pace { RealTime, Fast, Step };
    explicit NullDevice(Pace pace = Pace::RealTime) : pace_(pace) {}
    ~NullDevice() override { Close(); }

    // Step pace: plays up to `frames` frames of what is queued (nothing while
    // paused) and returns how many were played.
    uint64_t Consume(uint64_t frames);

    std::string Name() const override;

protected:
    Status BackendOpen(const PcmFormat&) override { return Status::Ok; }
    void BackendClose() override {}
    uint64_t Played(uint64_t handed, Clock::time_point now) override;
    Clock::time_point NextLook(uint64_t handed, uint64_t nextEnd, Clock::time_point now) override;
    void BackendPause(bool paused, Clock::time_point now) override;
    void BackendReset() override;

private:
    Pace pace_;
    uint64_t stepped_ = 0;  // Step: frames the test has let play
    // RealTime: played_ was anchorPlayed_ at anchorTime_ and grows with the clock.
    uint64_t anchorPlayed_ = 0;
    Clock::time_point anchorTime_{};
};

}  // namespace tunara::audio
