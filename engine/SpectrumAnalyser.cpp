#include "engine/SpectrumAnalyser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/dsp.h"

namespace tunara {

namespace {
constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

// Raises a held peak; only the device's thread writes peaks.
void Raise(std::atomic<float>& peak, float v) {
    if (v > peak.load(kRelaxed)) peak.store(v, kRelaxed);
}
}  // namespace

void SpectrumAnalyser::SetFormat(int channels, int bitsPerSample) {
    channels_ = channels == 1 ? 1 : 2;
    bitsPerSample_ = bitsPerSample;
}

void SpectrumAnalyser::ClearPeaks() {
    for (auto& p : levelPeak_) p.store(0.0f, kRelaxed);
    for (auto& p : bandPeak_) p.store(0.0f, kRelaxed);
}

SpectrumAnalyser::BandLayout SpectrumAnalyser::MakeLayout(int count) {
    BandLayout layout;
    layout.count = std::clamp(count, 1, kMaxBands);
    int first[kMaxBands];
    const int end = BandEdges(layout.count, first);
    for (int k = 0; k < layout.count; ++k) layout.edges[k] = static_cast<int16_t>(first[k]);
    layout.edges[layout.count] = static_cast<int16_t>(end);
    return layout;
}

void SpectrumAnalyser::SetBandCount(int count) {
    const BandLayout layout = MakeLayout(count);
    {
        std::lock_guard lock(layoutMutex_);
        layout_ = layout;
        ++layoutVersion_;
    }
    bandCount_.store(layout.count, kRelaxed);
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

// The Hann weights of dspsWinHann for 1024 points with the spectrum's 1/1024
// folded in (a power of two, so the transform's output is scaled exactly as
// if the bins were multiplied afterwards).
const float* ScaledHann() {
    static const auto table = [] {
        static float w[SpectrumAnalyser::kFrames];
        const int n = SpectrumAnalyser::kFrames, end = n - 1;
        const double step = std::cos(2.0 * M_PI / (n - 1));
        double prev = step, cur = 1.0;
        for (int k = 0; k <= end - k; ++k) {
            w[k] = w[end - k] = static_cast<float>((0.5 - 0.5 * cur) / 1024.0);
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

// 16-bit stereo: the windowed mono mix and each channel's extremes.
void MixStereo16(const uint8_t* data, const float* w, float* mix, int* extremes) {
    constexpr int kFrames = SpectrumAnalyser::kFrames;
#if defined(__SSE2__)
    __m128i hi = _mm_set1_epi16(INT16_MIN), lo = _mm_set1_epi16(INT16_MAX);
    const __m128 scale = _mm_set1_ps(1.0f / 65536.0f);
    for (int i = 0; i < kFrames; i += 4) {
        __m128i s =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 4 * i));  // L R L R L R L R
        hi = _mm_max_epi16(hi, s);
        lo = _mm_min_epi16(lo, s);
        __m128 a = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16));  // frames i, i+1
        __m128 b =
            _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16));  // frames i+2, i+3
        __m128 left = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        __m128 right = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        __m128 m = _mm_mul_ps(_mm_mul_ps(_mm_add_ps(left, right), scale), _mm_loadu_ps(w + i));
        _mm_storeu_ps(mix + i, m);
    }
    alignas(16) int16_t h[8], l[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(l), lo);
    extremes[0] = std::max({h[0], h[2], h[4], h[6]});
    extremes[1] = std::min({l[0], l[2], l[4], l[6]});
    extremes[2] = std::max({h[1], h[3], h[5], h[7]});
    extremes[3] = std::min({l[1], l[3], l[5], l[7]});
#else
    int lmax = INT16_MIN, lmin = INT16_MAX, rmax = INT16_MIN, rmin = INT16_MAX;
    for (int i = 0; i < kFrames; ++i) {
        int16_t lr[2];
        std::memcpy(lr, data + 4 * i, 4);
        lmax = std::max<int>(lmax, lr[0]);
        lmin = std::min<int>(lmin, lr[0]);
        rmax = std::max<int>(rmax, lr[1]);
        rmin = std::min<int>(rmin, lr[1]);
        mix[i] = static_cast<float>(lr[0] + lr[1]) * (1.0f / 65536.0f) * w[i];
    }
    extremes[0] = lmax;
    extremes[1] = lmin;
    extremes[2] = rmax;
    extremes[3] = rmin;
#endif
}

}  // namespace

void SpectrumAnalyser::Analyse(const uint8_t* data) {
    const int channels = channels_;
    const int bits = bitsPerSample_;
    const int blockAlign = channels * bits / 8;
    if (layoutMutex_.try_lock()) {
        if (deviceLayoutVersion_ != layoutVersion_) {
            deviceLayout_ = layout_;
            deviceLayoutVersion_ = layoutVersion_;
        }
        layoutMutex_.unlock();
    }
    const int count = deviceLayout_.count;

    if (levelReset_.exchange(false, kRelaxed)) {
        levelPeak_[0].store(0.0f, kRelaxed);
        levelPeak_[1].store(0.0f, kRelaxed);
    }
    if (bandReset_.exchange(false, kRelaxed))
        for (int k = 0; k < count; ++k) bandPeak_[k].store(0.0f, kRelaxed);

    const float* w = ScaledHann();
    if (channels == 2 && bits == 16) {
        // The common case in one pass: levels, mix and window together.
        // (l + r) * 0.5 with l, r scaled by 2^-15 is exactly (L + R) * 2^-16.
        int extremes[4];  // left max, left min, right max, right min
        MixStereo16(data, w, mix_, extremes);
        Raise(levelPeak_[0], static_cast<float>(extremes[0]) * (1.0f / 32768.0f));
        Raise(levelPeak_[0], -static_cast<float>(extremes[1]) * (1.0f / 32768.0f));
        Raise(levelPeak_[1], static_cast<float>(extremes[2]) * (1.0f / 32768.0f));
        Raise(levelPeak_[1], -static_cast<float>(extremes[3]) * (1.0f / 32768.0f));
    } else {
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
        if (channels == 2) {
            for (int i = 0; i < kFrames; ++i)
                mix_[i] = (channel_[0][i] + channel_[1][i]) * 0.5f * w[i];
        } else {
            for (int i = 0; i < kFrames; ++i) mix_[i] = channel_[0][i] * w[i];
        }
    }
    // Spectrum of the windowed mono mix (already scaled by 1/1024) and the
    // power of its first 512 bins.
    dspsRealFft(mix_, 10, dspFftForward);
    dspcbPowerSpectr(mix_, power_, kFrames / 2);

    // Bands on a logarithmic scale: band k ends at bin 512^((k+1)/count); a
    // band narrower than a bin takes the next bin of its own.
    const int16_t* edges = deviceLayout_.edges.data();
    for (int k = 0; k < count; ++k) {
        const int end = std::min<int>(edges[k + 1], kFrames / 2);
        float d = 0.0f;
        for (int i = edges[k]; i < end; ++i) d += power_[i];
        Raise(bandPeak_[k], d);
    }
}

}  // namespace tunara
