// The ten-band equaliser: peaking biquads in cascade, direct form I in double
// precision (the 31 Hz band's poles sit close to the unit circle).
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/Report.h"
#include "dsp/dsp.h"

namespace {

constexpr const char* kEq = "dspeq";
constexpr float kCentres[dspEqBands] = {31.f,   62.f,   125.f,  250.f,  500.f,
                                        1000.f, 2000.f, 4000.f, 8000.f, 16000.f};
// An octave wide between the half-gain points.
constexpr double kQ = std::numbers::sqrt2;
constexpr double kLimitDb = 12.0;

constexpr DspEqBiquad kFlat{1.0, 0.0, 0.0, 0.0, 0.0};

DspEqBiquad Peaking(double hz, double rate, double db) {
    if (db == 0.0) return kFlat;
    const double a = std::pow(10.0, db / 40.0);
    const double w0 = 2.0 * std::numbers::pi * hz / rate;
    const double alpha = std::sin(w0) / (2.0 * kQ);
    const double c = std::cos(w0);
    const double a0 = 1.0 + alpha / a;
    return {(1.0 + alpha * a) / a0, -2.0 * c / a0, (1.0 - alpha * a) / a0, -2.0 * c / a0,
            (1.0 - alpha / a) / a0};
}

// Coefficients and preamp for the gains in the state now.
void Design(DspEqState* s) {
    for (int b = 0; b < s->bands; ++b)
        s->cur[b] = Peaking(kCentres[b], s->sampleRate, s->gainDb[b]);
    s->preamp = std::pow(10.0, s->gainDb[dspEqBands] / 20.0);
}

template <int Channels>
void Run(DspEqState* s, float* samples, int32_t frames) {
    const int bands = s->bands;
    for (int32_t f = 0; f < frames; ++f) {
        float* frame = samples + static_cast<ptrdiff_t>(f) * Channels;
        double x[Channels];
        for (int ch = 0; ch < Channels; ++ch) x[ch] = frame[ch] * s->preamp;
        for (int b = 0; b < bands; ++b) {
            const DspEqBiquad& c = s->cur[b];
            double* x1 = s->x1[b];
            double* x2 = s->x2[b];
            double* y1 = s->y1[b];
            double* y2 = s->y2[b];
            for (int ch = 0; ch < Channels; ++ch) {
                const double y =
                    c.b0 * x[ch] + c.b1 * x1[ch] + c.b2 * x2[ch] - c.a1 * y1[ch] - c.a2 * y2[ch];
                x2[ch] = x1[ch];
                x1[ch] = x[ch];
                y2[ch] = y1[ch];
                y1[ch] = y;
                x[ch] = y;
            }
        }
        for (int ch = 0; ch < Channels; ++ch) frame[ch] = static_cast<float>(x[ch]);
    }
}

bool IsFlat(const DspEqBiquad& c) {
    return c.b0 == 1.0 && c.b1 == 0.0 && c.b2 == 0.0 && c.a1 == 0.0 && c.a2 == 0.0;
}

#if defined(__SSE2__)
// One band of the stereo cascade with both channels in one register; its
// state and coefficients stay in registers over a block.
struct Section {
    __m128d b0, b1, b2, a1, a2, x1, x2, y1, y2;
    double* state[4];

    Section(DspEqState* s, int b)
        : b0(_mm_set1_pd(s->cur[b].b0)),
          b1(_mm_set1_pd(s->cur[b].b1)),
          b2(_mm_set1_pd(s->cur[b].b2)),
          a1(_mm_set1_pd(s->cur[b].a1)),
          a2(_mm_set1_pd(s->cur[b].a2)),
          x1(_mm_loadu_pd(s->x1[b])),
          x2(_mm_loadu_pd(s->x2[b])),
          y1(_mm_loadu_pd(s->y1[b])),
          y2(_mm_loadu_pd(s->y2[b])),
          state{s->x1[b], s->x2[b], s->y1[b], s->y2[b]} {}
    ~Section() {
        _mm_storeu_pd(state[0], x1);
        _mm_storeu_pd(state[1], x2);
        _mm_storeu_pd(state[2], y1);
        _mm_storeu_pd(state[3], y2);
    }
    // y1 comes in last: the next frame waits only for that multiply and
    // subtract.
    __m128d Step(__m128d x) {
        const __m128d t = _mm_sub_pd(
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(b0, x), _mm_mul_pd(b1, x1)), _mm_mul_pd(b2, x2)),
            _mm_mul_pd(a2, y2));
        const __m128d y = _mm_sub_pd(t, _mm_mul_pd(a1, y1));
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

void RunOne(DspEqState* s, int b, double* buf, int n) {
    Section band(s, b);
    for (int i = 0; i < n; ++i) _mm_store_pd(buf + 2 * i, band.Step(_mm_load_pd(buf + 2 * i)));
}

// Two bands in a row, the second one frame behind the first: two independent
// recurrences per step keep the multiplier busy while each waits for its y1.
void RunTwo(DspEqState* s, int b, double* buf, int n) {
    Section first(s, b), second(s, b + 1);
    __m128d carry = first.Step(_mm_load_pd(buf));
    for (int i = 1; i < n; ++i) {
        const __m128d next = first.Step(_mm_load_pd(buf + 2 * i));
        _mm_store_pd(buf + 2 * (i - 1), second.Step(carry));
        carry = next;
    }
    _mm_store_pd(buf + 2 * (n - 1), second.Step(carry));
}

// Stereo, a block at a time and band by band over it.
void RunStereo(DspEqState* s, float* samples, int32_t frames) {
    constexpr int kBlock = 256;
    alignas(16) double buf[kBlock * 2];
    const __m128d preamp = _mm_set1_pd(s->preamp);
    while (frames > 0) {
        const int n = std::min<int32_t>(frames, kBlock);
        for (int i = 0; i < n; ++i) {
            const __m128 lr =
                _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(samples + 2 * i)));
            _mm_store_pd(buf + 2 * i, _mm_mul_pd(_mm_cvtps_pd(lr), preamp));
        }
        int pending = -1;  // a band waiting for a partner
        for (int b = 0; b < s->bands; ++b) {
            if (!IsFlat(s->cur[b])) {
                if (pending < 0) {
                    pending = b;
                } else {
                    RunTwo(s, pending, buf, n);
                    pending = -1;
                }
                continue;
            }
            if (pending >= 0) RunOne(s, pending, buf, n);
            pending = -1;
            // Passes the block as it is; its history still follows, so a gain
            // that moves off 0 dB starts from the real past.
            const __m128d last = _mm_load_pd(buf + 2 * (n - 1));
            const __m128d before = n > 1 ? _mm_load_pd(buf + 2 * (n - 2)) : _mm_loadu_pd(s->x1[b]);
            _mm_storeu_pd(s->x1[b], last);
            _mm_storeu_pd(s->y1[b], last);
            _mm_storeu_pd(s->x2[b], before);
            _mm_storeu_pd(s->y2[b], before);
        }
        if (pending >= 0) RunOne(s, pending, buf, n);
        for (int i = 0; i < n; ++i)
            _mm_store_sd(reinterpret_cast<double*>(samples + 2 * i),
                         _mm_castps_pd(_mm_cvtpd_ps(_mm_load_pd(buf + 2 * i))));
        samples += 2 * n;
        frames -= n;
    }
}
#endif

}  // namespace

const float* dspEqCentres() {
    return kCentres;
}

void dspEqClearHistory(DspEqState* s) {
    if (!s) return;
    for (int b = 0; b < dspEqBands; ++b)
        for (int ch = 0; ch < dspEqMaxChannels; ++ch)
            s->x1[b][ch] = s->x2[b][ch] = s->y1[b][ch] = s->y2[b][ch] = 0.0;
}

int32_t dspEqInit(DspEqState* s, int32_t sampleRate, int32_t channels) {
    DSP_CHECK(s == nullptr, "dspEqInit", "state==0", kEq);
    DSP_CHECK(sampleRate < 1 || sampleRate > 768000, "dspEqInit", "rate out of range", kEq);
    DSP_CHECK(channels < 1 || channels > dspEqMaxChannels, "dspEqInit", "channels out of range",
              kEq);
    s->sampleRate = sampleRate;
    s->channels = channels;
    s->bands = 0;
    while (s->bands < dspEqBands && kCentres[s->bands] < 0.45 * sampleRate) ++s->bands;
    s->rampLeft = s->stepLeft = 0;
    for (int b = 0; b <= dspEqBands; ++b) s->gainDb[b] = s->targetDb[b] = s->stepDb[b] = 0.0f;
    for (int b = 0; b < dspEqBands; ++b) s->cur[b] = kFlat;
    s->preamp = 1.0;
    dspEqClearHistory(s);
    return dspStsNoErr;
}

int32_t dspEqSet(DspEqState* s, const float* gainsDb, float preampDb) {
    DSP_CHECK(s == nullptr, "dspEqSet", "state==0", kEq);
    DSP_CHECK(gainsDb == nullptr, "dspEqSet", "gains==0", kEq);
    DSP_CHECK(s->bands < 0 || s->bands > dspEqBands, "dspEqSet", "state not initialised", kEq);
    auto clampDb = [](float db) {
        return std::isfinite(db) ? std::clamp(static_cast<double>(db), -kLimitDb, kLimitDb) : 0.0;
    };
    for (int b = 0; b <= dspEqBands; ++b) {
        s->targetDb[b] = static_cast<float>(clampDb(b < dspEqBands ? gainsDb[b] : preampDb));
        s->stepDb[b] = (s->targetDb[b] - s->gainDb[b]) *
                       (static_cast<float>(dspEqStepFrames) / static_cast<float>(dspEqRampFrames));
    }
    s->rampLeft = dspEqRampFrames;
    s->stepLeft = 0;
    return dspStsNoErr;
}

int32_t dspEqProcess(DspEqState* s, float* samples, int32_t frames) {
    DSP_CHECK(frames < 0, "dspEqProcess", "frames<0", kEq);
    DSP_CHECK(s == nullptr, "dspEqProcess", "state==0", kEq);
    DSP_CHECK(samples == nullptr && frames > 0, "dspEqProcess", "samples==0", kEq);
    while (frames > 0) {
        if (s->rampLeft > 0 && s->stepLeft == 0) {
            s->rampLeft -= dspEqStepFrames;
            for (int b = 0; b <= dspEqBands; ++b)
                s->gainDb[b] = s->rampLeft > 0 ? s->gainDb[b] + s->stepDb[b] : s->targetDb[b];
            Design(s);
            s->stepLeft = s->rampLeft > 0 ? dspEqStepFrames : 0;
        }
        const int32_t n = s->stepLeft > 0 ? std::min(frames, s->stepLeft) : frames;
        if (s->channels == 2)
#if defined(__SSE2__)
            RunStereo(s, samples, n);
#else
            Run<2>(s, samples, n);
#endif
        else
            Run<1>(s, samples, n);
        if (s->stepLeft > 0) s->stepLeft -= n;
        samples += static_cast<ptrdiff_t>(n) * s->channels;
        frames -= n;
    }
    return dspStsNoErr;
}

double dspEqResponseDb(const DspEqState* s, double hz) {
    if (!s || s->sampleRate <= 0) return 0.0;
    const double w = 2.0 * std::numbers::pi * hz / s->sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    double db = s->targetDb[dspEqBands];
    for (int b = 0; b < s->bands; ++b) {
        const DspEqBiquad c = Peaking(kCentres[b], s->sampleRate, s->targetDb[b]);
        const std::complex<double> h =
            (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2);
        db += 20.0 * std::log10(std::abs(h));
    }
    return db;
}
