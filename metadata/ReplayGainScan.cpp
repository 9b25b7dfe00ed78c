#include "metadata/ReplayGainScan.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

namespace tunara {

struct LoudnessMeter::State {
    ebur128_state* st = nullptr;
};

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : channels_(channels), sampleRate_(sampleRate) {
    if (channels < 1 || channels > 8 || sampleRate < 8000 || sampleRate > 384000) return;
    // Block energies are kept exactly (80 bytes a second) rather than in
    // 0.1 LU histogram steps, which would cost a tag's last digit.
    ebur128_state* st = ebur128_init(unsigned(channels), unsigned(sampleRate),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (!st) return;
    state_ = new State{st};
}

LoudnessMeter::~LoudnessMeter() {
    if (state_) ebur128_destroy(&state_->st);
    delete state_;
}

void LoudnessMeter::AddFloat(const float* samples, size_t frames) {
    if (!state_ || frames == 0) return;
    ebur128_add_frames_float(state_->st, samples, frames);
    frames_ += int64_t(frames);
}

void LoudnessMeter::AddPcm(const uint8_t* in, size_t frames, int bits) {
    if (!state_) return;
    const size_t count = frames * size_t(channels_);
    scratch_.resize(count);
    float* out = scratch_.data();
    switch (bits) {
        case 8:
            for (size_t i = 0; i < count; ++i) out[i] = float(int(in[i]) - 128) / 128.0f;
            break;
        case 16:
            for (size_t i = 0; i < count; ++i, in += 2)
                out[i] = float(int16_t(uint16_t(in[0] | in[1] << 8))) / 32768.0f;
            break;
        case 24:
            for (size_t i = 0; i < count; ++i, in += 3)
                out[i] = float(int32_t(uint32_t(in[0] << 8 | in[1] << 16 | in[2] << 24)) >> 8) /
                         8388608.0f;
            break;
        case 32:
            for (size_t i = 0; i < count; ++i, in += 4)
                out[i] = float(double(int32_t(uint32_t(in[0] | in[1] << 8 | in[2] << 16 |
                                                       uint32_t(in[3]) << 24))) /
                               2147483648.0);
            break;
        default:
            return;
    }
    AddFloat(out, frames);
}

double LoudnessMeter::Loudness() const {
    double lufs = -HUGE_VAL;
    if (state_ && ebur128_loudness_global(state_->st, &lufs) != EBUR128_SUCCESS) lufs = -HUGE_VAL;
    return lufs;
}

double LoudnessMeter::TruePeak() const {
    double peak = 0;
    for (int c = 0; state_ && c < channels_; ++c) {
        double p = 0;
        if (ebur128_true_peak(state_->st, unsigned(c), &p) == EBUR128_SUCCESS)
            peak = std::max(peak, p);
    }
    return peak;
}

namespace {

float GainFor(double lufs) {
    return std::isfinite(lufs) ? float(kReplayGainReferenceLufs - lufs) : NAN;
}

}  // namespace

ReplayGainValues LoudnessMeter::TrackValues() const {
    ReplayGainValues v;
    if (!state_) return v;
    v.trackGain = GainFor(Loudness());
    v.trackPeak = float(TruePeak());
    return v;
}

ReplayGainValues LoudnessMeter::AlbumValues(const std::vector<const LoudnessMeter*>& items) {
    ReplayGainValues v;
    std::vector<ebur128_state*> states;
    double peak = 0;
    for (const LoudnessMeter* m : items) {
        if (!m || !m->state_) continue;
        states.push_back(m->state_->st);
        peak = std::max(peak, m->TruePeak());
    }
    if (states.empty()) return v;
    double lufs = -HUGE_VAL;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &lufs) != EBUR128_SUCCESS)
        lufs = -HUGE_VAL;
    v.albumGain = GainFor(lufs);
    v.albumPeak = float(peak);
    return v;
}

}  // namespace tunara
