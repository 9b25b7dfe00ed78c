#include "engine/SpectrumAnalyser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/dsp.h"

namespace tunara {

namespace {
constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

// Raises a held peak; only the device's thread writes peaks.
void Raise(std::atomic<float>& peak, float v) {
    if (v > peak.load(kRelaxed)) peak.store(v, kRelaxed);
}
}  // namespace

SpectrumAnalyser& EngineAnalyser() {
    static SpectrumAnalyser analyser;
    return analyser;
}

void SpectrumAnalyser::SetFormat(int channels, int bitsPerSample) {
    channels_ = channels == 1 ? 1 : 2;
    bitsPerSample_ = bitsPerSample;
}

void SpectrumAnalyser::ClearPeaks() {
    for (auto& p : levelPeak_) p.store(0.0f, kRelaxed);
    for (auto& p : bandPeak_) p.store(0.0f, kRelaxed);
}

void SpectrumAnalyser::SetBandCount(int count) {
    bandCount_.store(std::clamp(count, 1, kMaxBands), kRelaxed);
}

void SpectrumAnalyser::GetLevels(float& left, float& right, bool stopped) {
    if (stopped) {
        left = right = 0.0f;
    } else {
        left = levelPeak_[0].load(kRelaxed);
        right = levelPeak_[1].load(kRelaxed);
    }
    levelReset_.store(true, kRelaxed);
}

void SpectrumAnalyser::GetSpectrum(float* bands, bool stopped) {
    const int count = BandCount();
    for (int i = 0; i < count; ++i) {
        float v = bandPeak_[i].load(kRelaxed);
        if (stopped || v <= 0.0f) {
            bands[i] = 0.0f;
            continue;
        }
        float x =
            static_cast<float>((std::log10(static_cast<double>(v)) + 1.0) * 10.0 * 0.025 + 1.0);
        bands[i] = std::clamp(x, 0.0f, 1.0f);
    }
    bandReset_.store(true, kRelaxed);
}

int SpectrumAnalyser::BandEdges(int count, int* firstBins) {
    count = std::clamp(count, 1, kMaxBands);
    const float f = static_cast<float>(std::pow(512.0, 1.0 / count));
    long double c = 1.0L;  // extended precision keeps the edges on whole bins
    int j = 0;
    for (int k = 0; k < count; ++k) {
        c *= f;
        int e = std::min(static_cast<int>(c), kFrames / 2);
        firstBins[k] = j;
        j = j < e ? e : j + 1;
    }
    return std::min(j, kFrames / 2);
}

namespace {

// The Hann weights of dspsWinHann for 1024 points, made once by the same
// recurrence, so applying them here gives the kernel's very results.
const double* HannWeights() {
    static const auto table = [] {
        static double w[SpectrumAnalyser::kFrames];
        const int n = SpectrumAnalyser::kFrames, end = n - 1;
        const double step = std::cos(2.0 * M_PI / (n - 1));
        double prev = step, cur = 1.0;
        for (int k = 0; k <= end - k; ++k) {
            w[k] = w[end - k] = 0.5 + -0.5 * cur;
            const double next = 2.0 * step * cur - prev;
            prev = cur;
            cur = next;
        }
        return w;
    }();
    return table;
}

// Converts one channel to floats in -1.0..1.0; returns its largest and
// smallest value.
template <int Bits>
void Convert(const uint8_t* p, int blockAlign, float* out, float& mx, float& mn) {
    float hi = -2.0f, lo = 2.0f;
    for (int i = 0; i < SpectrumAnalyser::kFrames; ++i, p += blockAlign) {
        float v;
        if constexpr (Bits == 8) {
            v = (static_cast<float>(*p) - 128.0f) * 0.0078125f;
        } else if constexpr (Bits == 16) {
            int16_t s;
            std::memcpy(&s, p, 2);
            v = static_cast<float>(s) * (1.0f / 32768.0f);
        } else if constexpr (Bits == 24) {
            int32_t s = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                             static_cast<uint32_t>(p[1]) << 16 |
                                             static_cast<uint32_t>(p[2]) << 24);
            v = static_cast<float>(s) * (1.0f / 2147483648.0f);
        } else {
            int32_t s;
            std::memcpy(&s, p, 4);
            v = static_cast<float>(s) * (1.0f / 2147483648.0f);
        }
        out[i] = v;
        hi = v > hi ? v : hi;
        lo = v < lo ? v : lo;
    }
    mx = hi;
    mn = lo;
}

}  // namespace

void SpectrumAnalyser::Analyse(const uint8_t* data) {
    const int channels = channels_;
    const int bits = bitsPerSample_;
    const int blockAlign = channels * bits / 8;
    const int count = BandCount();

    if (levelReset_.exchange(false, kRelaxed)) {
        levelPeak_[0].store(0.0f, kRelaxed);
        levelPeak_[1].store(0.0f, kRelaxed);
    }
    if (bandReset_.exchange(false, kRelaxed))
        for (int k = 0; k < count; ++k) bandPeak_[k].store(0.0f, kRelaxed);

    // Levels: the extremes of each channel (-1.0 counts as 1.0).
    for (int c = 0; c < channels; ++c) {
        const uint8_t* p = data + c * (bits / 8);
        float mx = 0.0f, mn = 0.0f;
        switch (bits) {
            case 8:
                Convert<8>(p, blockAlign, channel_[c], mx, mn);
                break;
            case 16:
                Convert<16>(p, blockAlign, channel_[c], mx, mn);
                break;
            case 24:
                Convert<24>(p, blockAlign, channel_[c], mx, mn);
                break;
            case 32:
                Convert<32>(p, blockAlign, channel_[c], mx, mn);
                break;
            default:
                std::memset(channel_[c], 0, sizeof channel_[c]);
        }
        Raise(levelPeak_[c], mx);
        Raise(levelPeak_[c], -mn);
    }
    if (channels == 1) levelPeak_[1].store(levelPeak_[0].load(kRelaxed), kRelaxed);

    // Mono mix under a Hann window, its spectrum scaled by 1/1024, and the
    // power of the first 512 bins.
    const double* w = HannWeights();
    if (channels == 2) {
        for (int i = 0; i < kFrames; ++i)
            mix_[i] = static_cast<float>(((channel_[0][i] + channel_[1][i]) * 0.5f) * w[i]);
    } else {
        for (int i = 0; i < kFrames; ++i) mix_[i] = static_cast<float>(channel_[0][i] * w[i]);
    }
    dspsRealFft(mix_, 10, dspFftForward);
    for (int i = 0; i < kFrames + 2; ++i) mix_[i] *= 1.0f / 1024.0f;
    dspcbPowerSpectr(mix_, power_, kFrames / 2);

    // Bands on a logarithmic scale: band k ends at bin 512^((k+1)/count).
    const float f = static_cast<float>(std::pow(512.0, 1.0 / count));
    long double c = 1.0L;  // extended precision keeps the edges on whole bins
    int j = 0;
    for (int k = 0; k < count; ++k) {
        c *= f;
        int e = std::min(static_cast<int>(c), kFrames / 2);
        float d;
        if (j < e) {
            d = 0.0f;
            for (int i = j; i < e; ++i) d += power_[i];
            j = e;
        } else {
            d = j < kFrames / 2 ? power_[j] : 0.0f;
            ++j;
        }
        Raise(bandPeak_[k], d);
    }
}

}  // namespace tunara
