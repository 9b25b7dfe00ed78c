#pragma once
// The gain stage: what happens to every frame between the output ring and the
// device. Software volume (only where the card has no mixer), balance, the
// item's own gain (ReplayGain with preamp and clipping prevention) and the
// ten-band equaliser, in that order of meaning; done on the device's thread
// as frames go out, so volume and equaliser moves are heard at once while
// the item gain, carried by each buffer, changes exactly at item joins.
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "metadata/ReplayGain.h"
#include "platform/audio/AudioDevice.h"

namespace tunara {

enum class ReplayGainMode { Off, Track, Album, Auto };

struct SoundSettings {
    ReplayGainMode mode = ReplayGainMode::Off;
    float preampDb = 0.0f;        // -15..15, added to tagged gains
    float defaultGainDb = 0.0f;   // for items without ReplayGain values
    bool preventClipping = true;  // lower the gain so that the peak stays at full scale
    bool eqOn = false;
    std::array<float, 10> eqDb{};  // 31 Hz first, -12..12
    float eqPreampDb = 0.0f;       // -12..12
    int balance = 0;               // -100 (left only) .. 100 (right only)
};

// The linear gain an item gets. `inAlbumRun`: the item sits next to another
// of the same album in the list (what automatic mode goes by).
float ItemGain(const ReplayGainValues& values, const SoundSettings& settings, bool inAlbumRun);

// One output's stage (the engine owns it and hands it to its device).
class GainStage {
public:
    GainStage();
    ~GainStage();
    GainStage(const GainStage&) = delete;
    GainStage& operator=(const GainStage&) = delete;

    // Safe from any thread at any time.
    void SetSettings(const SoundSettings& settings);
    SoundSettings Settings() const;
    // The volume of an output without a card's mixer, 0.0 to 1.0 (the
    // software mixer sets it).
    void SetSoftwareVolume(float gain);
    float SoftwareVolume() const { return softwareVolume_.load(std::memory_order_relaxed); }

    // The processing itself, on the device's thread (one device at a time):
    // false when nothing would change the frames, which then go out untouched.
    bool Process(const audio::PcmFormat& format, float itemGain, const uint8_t* in, uint8_t* out,
                 uint32_t frames);
    // Process as an audio::OutputProcessor whose context is the stage.
    static bool ProcessFor(void* stage, const audio::PcmFormat& format, float itemGain,
                           const uint8_t* in, uint8_t* out, uint32_t frames);

private:
    struct Running;  // the device thread's own state

    void Refresh(Running& st, const audio::PcmFormat& f);

    mutable std::mutex lock_;
    SoundSettings settings_;
    std::atomic<uint64_t> generation_{0};
    std::atomic<float> softwareVolume_{1.0f};
    std::unique_ptr<Running> running_;
};

}  // namespace tunara
