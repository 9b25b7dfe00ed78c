#pragma once
// Measuring ReplayGain 2.0 values: EBU R128 integrated loudness against the
// -18 LUFS reference, and the true peak, over PCM as it is decoded or encoded.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "metadata/ReplayGain.h"

namespace tunara {

// One item's measurement; feed it every frame (all channels, interleaved).
// Used by one thread at a time.
class LoudnessMeter {
public:
    LoudnessMeter(int channels, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // False when the format cannot be measured (no channels, more than 8, rate out of range).
    bool Valid() const { return state_ != nullptr; }
    int Channels() const { return channels_; }
    int SampleRate() const { return sampleRate_; }

    void AddFloat(const float* samples, size_t frames);
    // Little-endian signed samples of 16, 24 or 32 bits, or unsigned 8-bit ones.
    void AddPcm(const uint8_t* bytes, size_t frames, int bitsPerSample);

    // Integrated loudness in LUFS; -inf for silence (nothing above the gate).
    double Loudness() const;
    // The highest true peak of any channel, linear (1.0 = full scale).
    double TruePeak() const;
    int64_t Frames() const { return frames_; }

    // The track values; the gain is NaN for silence, which no gain brings to the reference.
    ReplayGainValues TrackValues() const;

    // The album values of several items measured as one (the loudness of all their blocks
    // together, the highest peak); their track values are left out.
    static ReplayGainValues AlbumValues(const std::vector<const LoudnessMeter*>& items);

private:
    struct State;
    State* state_ = nullptr;
    int channels_ = 0;
    int sampleRate_ = 0;
    int64_t frames_ = 0;
    std::vector<float> scratch_;
};

// The reference level ReplayGain 2.0 brings items to.
inline constexpr double kReplayGainReferenceLufs = -18.0;

}  // namespace tunara
