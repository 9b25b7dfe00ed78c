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

    for (int c = 0; c < channels; ++c) {
        float* out = channel_[c];
        const uint8_t* p = data + c * (bits / 8);
        switch (bits) {
            case 8:
                for (int i = 0; i < kFrames; ++i, p += blockAlign) out[i] = static_cast<float>(*p);
                dspsbSub1(128.0f, out, kFrames);
                dspsbMpy1(0.0078125f, out, kFrames);
                break;
            case 16:
                for (int i = 0; i < kFrames; ++i, p += blockAlign) {
                    int16_t s;
                    std::memcpy(&s, p, 2);
                    out[i] = static_cast<float>(s);
                }
                dspsbMpy1(1.0f / 32768.0f, out, kFrames);
                break;
            case 24:
                for (int i = 0; i < kFrames; ++i, p += blockAlign) {
                    int32_t s = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                                     static_cast<uint32_t>(p[1]) << 16 |
                                                     static_cast<uint32_t>(p[2]) << 24);
                    out[i] = static_cast<float>(s) * (1.0f / 2147483648.0f);
                }
                break;
            case 32:
                for (int i = 0; i < kFrames; ++i, p += blockAlign) {
                    int32_t s;
                    std::memcpy(&s, p, 4);
                    out[i] = static_cast<float>(s) * (1.0f / 2147483648.0f);
                }
                break;
            default:
                std::memset(out, 0, sizeof channel_[c]);
        }
        float mx = dspsMax(out, kFrames);
        float mn = dspsMin(out, kFrames);
        Raise(levelPeak_[c], mx);
        Raise(levelPeak_[c], -mn);
    }
    if (channels == 1) levelPeak_[1].store(levelPeak_[0].load(kRelaxed), kRelaxed);

    const float f = static_cast<float>(std::pow(512.0, 1.0 / count));
    if (channels == 2) {
        for (int i = 0; i < kFrames; ++i) mix_[i] = (channel_[0][i] + channel_[1][i]) * 0.5f;
    } else {
        std::memcpy(mix_, channel_[0], sizeof(float) * kFrames);
    }
    dspsWinHann(mix_, kFrames);
    dspsRealFft(mix_, 10, dspFftForward);
    dspsbMpy1(1.0f / 1024.0f, mix_, kFrames + 2);
    dspcbPowerSpectr(mix_, power_, kFrames / 2);

    long double c = 1.0L;
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
