#include "engine/GainStage.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "dsp/dsp.h"

namespace tunara {
namespace {

float FromDb(float db) {
    return std::pow(10.0f, db / 20.0f);
}

void Load(const audio::PcmFormat& f, const uint8_t* in, float* out, uint32_t samples) {
    switch (f.bitsPerSample) {
        case 8:
            for (uint32_t i = 0; i < samples; ++i)
                out[i] = (static_cast<int>(in[i]) - 128) * (1.0f / 128);
            break;
        case 16:
            for (uint32_t i = 0; i < samples; ++i) {
                int16_t s;
                std::memcpy(&s, in + 2 * i, 2);
                out[i] = s * (1.0f / 32768);
            }
            break;
        case 24:
            for (uint32_t i = 0; i < samples; ++i) {
                const uint8_t* p = in + 3 * i;
                const int32_t s = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                                       static_cast<uint32_t>(p[1]) << 16 |
                                                       static_cast<uint32_t>(p[2]) << 24) >>
                                  8;
                out[i] = s * (1.0f / 8388608);
            }
            break;
        default:
            for (uint32_t i = 0; i < samples; ++i) {
                int32_t s;
                std::memcpy(&s, in + 4 * i, 4);
                out[i] = static_cast<float>(s * (1.0 / 2147483648.0));
            }
            break;
    }
}

// Rounded to the nearest step and held at full scale.
void Store(const audio::PcmFormat& f, const float* in, uint8_t* out, uint32_t samples) {
    switch (f.bitsPerSample) {
        case 8:
            for (uint32_t i = 0; i < samples; ++i)
                out[i] =
                    static_cast<uint8_t>(128 + std::clamp(std::lrint(in[i] * 128.0f), -128L, 127L));
            break;
        case 16:
            for (uint32_t i = 0; i < samples; ++i) {
                const auto s =
                    static_cast<int16_t>(std::clamp(std::lrint(in[i] * 32768.0f), -32768L, 32767L));
                std::memcpy(out + 2 * i, &s, 2);
            }
            break;
        case 24:
            for (uint32_t i = 0; i < samples; ++i) {
                const auto s = static_cast<int32_t>(
                    std::clamp(std::lrint(in[i] * 8388608.0f), -8388608L, 8388607L));
                out[3 * i] = static_cast<uint8_t>(s);
                out[3 * i + 1] = static_cast<uint8_t>(s >> 8);
                out[3 * i + 2] = static_cast<uint8_t>(s >> 16);
            }
            break;
        default:
            for (uint32_t i = 0; i < samples; ++i) {
                const double v = std::clamp(static_cast<double>(in[i]) * 2147483648.0,
                                            -2147483648.0, 2147483647.0);
                const auto s = static_cast<int32_t>(std::lrint(v));
                std::memcpy(out + 4 * i, &s, 4);
            }
            break;
    }
}

}  // namespace

// Only Process touches it.
struct GainStage::Running {
    uint64_t generation = ~uint64_t{0};
    SoundSettings settings;
    DspEqState eq{};
    uint32_t rate = 0;
    uint16_t channels = 0;
    bool eqRunning = false;  // filtering, or ramping back to flat before it stops
    static constexpr uint32_t kChunk = 1024;
    float work[kChunk * dspEqMaxChannels];
};

GainStage::GainStage() : running_(std::make_unique<Running>()) {}
GainStage::~GainStage() = default;

void GainStage::Refresh(Running& st, const audio::PcmFormat& f) {
    const uint64_t gen = generation_.load(std::memory_order_acquire);
    const bool newFormat = f.sampleRate != st.rate || f.channels != st.channels;
    if (gen == st.generation && !newFormat) return;
    // Never wait for the user-interface thread: a change caught mid-write is
    // taken on the next chunk.
    if (gen != st.generation) {
        std::unique_lock lock(lock_, std::try_to_lock);
        if (lock.owns_lock()) {
            st.settings = settings_;
            st.generation = gen;
        }
    }
    if (newFormat) {
        st.rate = f.sampleRate;
        st.channels = f.channels;
        st.eqRunning = false;
    }
    if (st.settings.eqOn) {
        if (!st.eqRunning) dspEqInit(&st.eq, static_cast<int32_t>(st.rate), st.channels);
        dspEqSet(&st.eq, st.settings.eqDb.data(), st.settings.eqPreampDb);
        st.eqRunning = true;
    } else if (st.eqRunning) {
        static const float kFlat[dspEqBands] = {};
        dspEqSet(&st.eq, kFlat, 0.0f);  // fades out, then stops
    }
}

float ItemGain(const ReplayGainValues& v, const SoundSettings& s, bool inAlbumRun) {
    if (s.mode == ReplayGainMode::Off) return 1.0f;
    const bool album =
        s.mode == ReplayGainMode::Album || (s.mode == ReplayGainMode::Auto && inAlbumRun);
    float gain = album ? v.albumGain : v.trackGain;
    float peak = album ? v.albumPeak : v.trackPeak;
    // One of the pair stands in for the other when it is all the tags give.
    if (std::isnan(gain)) {
        gain = album ? v.trackGain : v.albumGain;
        peak = album ? v.trackPeak : v.albumPeak;
    }
    if (std::isnan(gain)) return FromDb(std::clamp(s.defaultGainDb, -30.0f, 15.0f));
    float linear = FromDb(gain + std::clamp(s.preampDb, -15.0f, 15.0f));
    if (s.preventClipping && peak > 0.0f && linear * peak > 1.0f) linear = 1.0f / peak;
    return std::isfinite(linear) ? linear : 1.0f;
}

void GainStage::SetSettings(const SoundSettings& settings) {
    std::lock_guard lock(lock_);
    settings_ = settings;
    settings_.preampDb = std::clamp(settings.preampDb, -15.0f, 15.0f);
    settings_.balance = std::clamp(settings.balance, -100, 100);
    generation_.fetch_add(1, std::memory_order_release);
}

void GainStage::SetSoftwareVolume(float gain) {
    if (!(gain >= 0.0f)) gain = 0.0f;  // NaN too
    softwareVolume_.store(std::min(gain, 1.0f), std::memory_order_relaxed);
}

SoundSettings GainStage::Settings() const {
    std::lock_guard lock(lock_);
    return settings_;
}

bool GainStage::ProcessFor(void* stage, const audio::PcmFormat& format, float itemGain,
                           const uint8_t* in, uint8_t* out, uint32_t frames) {
    return static_cast<GainStage*>(stage)->Process(format, itemGain, in, out, frames);
}

bool GainStage::Process(const audio::PcmFormat& f, float itemGain, const uint8_t* in, uint8_t* out,
                        uint32_t frames) {
    Running& st = *running_;
    if (f.channels < 1 || f.channels > dspEqMaxChannels || f.blockAlign == 0) return false;
    Refresh(st, f);
    float left = SoftwareVolume() * (std::isfinite(itemGain) ? itemGain : 1.0f);
    float right = left;
    if (f.channels == 2) {
        if (st.settings.balance > 0) left *= (100 - st.settings.balance) / 100.0f;
        if (st.settings.balance < 0) right *= (100 + st.settings.balance) / 100.0f;
    }
    if (st.eqRunning && !st.settings.eqOn && st.eq.rampLeft <= 0) st.eqRunning = false;
    if (!st.eqRunning && left == 1.0f && right == 1.0f) return false;

    const uint32_t bytesPerSample = f.bitsPerSample / 8u;
    while (frames > 0) {
        const uint32_t n = std::min(frames, Running::kChunk);
        const uint32_t samples = n * f.channels;
        Load(f, in, st.work, samples);
        if (st.eqRunning) dspEqProcess(&st.eq, st.work, static_cast<int32_t>(n));
        if (f.channels == 2) {
            for (uint32_t i = 0; i < samples; i += 2) {
                st.work[i] *= left;
                st.work[i + 1] *= right;
            }
        } else {
            for (uint32_t i = 0; i < samples; ++i) st.work[i] *= left;
        }
        Store(f, st.work, out, samples);
        in += samples * bytesPerSample;
        out += samples * bytesPerSample;
        frames -= n;
    }
    return true;
}

}  // namespace tunara
