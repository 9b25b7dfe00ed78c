#pragma once
// Plays through a PulseAudio (or PipeWire) sound server with libpulse. Its
// buffer is larger than the ALSA one: the server mixes in its own time, so
// the device's thread and the feeder can wake a few times a second instead
// of every buffer.
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/audio/DeviceCore.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;

namespace tunara::audio {

class PulseDevice : public DeviceCore {
public:
    // `sink` empty: the server's default sink.
    explicit PulseDevice(std::string sink) : sink_(std::move(sink)) {}
    ~PulseDevice() override;
    std::string Name() const override { return sink_.empty() ? "pulse" : "pulse:" + sink_; }
    // The ALSA "default" mixer reaches the server's volume where the ALSA
    // plugin is installed, as it does for the ALSA output.
    std::string MixerCard() const override { return "default"; }

    // Whether a sound server answers on this session, asked once per process
    // (connecting takes a round trip; a running player asks at every open).
    static bool ServerAnswers();

protected:
    Status BackendOpen(const PcmFormat& format) override;
    void BackendClose() override;
    bool TakesData() const override { return true; }
    // Gathers what the server has room for; FlushHandOut sends it in one
    // message (each message wakes the client's loop and the server).
    long HandOut(const uint8_t* data, uint32_t frames) override;
    bool FlushHandOut() override;
    uint64_t Played(uint64_t handed, Clock::time_point now) override;
    Clock::time_point NextLook(uint64_t handed, uint64_t nextEnd, Clock::time_point now) override;
    void BackendPause(bool paused, Clock::time_point now) override;
    void BackendReset() override;

private:
    void Teardown();
    // Runs `op` and waits for it on the server's loop; lock held by the caller.
    void Await(pa_operation* op);

    std::string sink_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::vector<uint8_t> staged_;
    size_t room_ = 0;  // bytes the server asked for, as of the first of this look
    // Set by the server's loop when the stream runs out; cleared by a write.
    std::atomic<bool> ranDry_{false};
    // The last position the server gave (frames heard since the last reset)
    // and when; trusted for kAskAgain.
    static constexpr auto kAskAgain = std::chrono::milliseconds(20);
    bool asked_ = false;
    Clock::time_point askedAt_;
    uint64_t askedPlayed_ = 0;
};

}  // namespace tunara::audio
