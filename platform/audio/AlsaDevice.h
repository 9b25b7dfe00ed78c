#pragma once
// Plays through an ALSA PCM ("default" reaches PipeWire or PulseAudio).
#include <alsa/asoundlib.h>

#include "platform/audio/DeviceCore.h"

namespace tunara::audio {

// ALSA's library prints its own failures (no card, unknown PCM) to standard
// error; we report what matters ourselves, so keep it quiet unless
// TUNARA_ALSA_DEBUG is set. Safe to call from any thread, any number of times.
void QuietAlsaLibrary();

class AlsaDevice : public DeviceCore {
public:
    explicit AlsaDevice(std::string pcmName) : pcmName_(std::move(pcmName)) {}
    ~AlsaDevice() override { Close(); }
    std::string Name() const override { return "alsa:" + pcmName_; }
    std::string MixerCard() const override;

protected:
    Status BackendOpen(const PcmFormat& format) override;
    void BackendClose() override;
    bool TakesData() const override { return true; }
    long HandOut(const uint8_t* data, uint32_t frames) override;
    uint64_t Played(uint64_t handed, Clock::time_point now) override;
    Clock::time_point NextLook(uint64_t handed, uint64_t nextEnd, Clock::time_point now) override;
    void BackendPause(bool paused, Clock::time_point now) override;
    void BackendReset() override;

private:
    std::string pcmName_;
    snd_pcm_t* pcm_ = nullptr;
    bool canPause_ = false;
};

// The mixer card of an ALSA PCM name: "hw:1" for "plughw:1,0", "default" for
// "default"; empty for PCMs without a card ("null").
std::string MixerCardOfPcm(const std::string& pcmName);

}  // namespace tunara::audio
