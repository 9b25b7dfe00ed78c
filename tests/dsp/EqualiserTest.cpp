#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/dsp.h"

namespace {

constexpr int kRate = 44100;

std::vector<float> Sine(double hz, int frames, double amplitude = 0.25, int channels = 2) {
    std::vector<float> v(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < channels; ++ch)
            v[static_cast<size_t>(i) * channels + ch] =
                static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate));
    return v;
}

// Amplitude of the `hz` component of one channel from `from` on, by a least-squares fit.
double Amplitude(const std::vector<float>& v, double hz, int from, int channel, int channels = 2) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    const int frames = static_cast<int>(v.size()) / channels;
    for (int i = from; i < frames; ++i) {
        const double w = 2 * std::numbers::pi * hz * i / kRate;
        const double s = std::sin(w), c = std::cos(w),
                     x = v[static_cast<size_t>(i) * channels + channel];
        ss += s * s, sc += s * c, cc += c * c, xs += x * s, xc += x * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    return std::hypot(a, b);
}

}  // namespace

TEST(Equaliser, SinesAtAndBetweenCentresFollowTheDesignResponse) {
    const float gains[dspEqBands] = {6, -4, 3, -12, 12, 0, -6, 9, -3, 5};
    DspEqState eq;
    ASSERT_EQ(dspEqInit(&eq, kRate, 2), 0);
    ASSERT_EQ(dspEqSet(&eq, gains, -3.0f), 0);
    std::vector<double> probes;
    for (int b = 0; b < dspEqBands; ++b) {
        probes.push_back(dspEqCentres()[b]);
        if (b + 1 < dspEqBands)
            probes.push_back(std::sqrt(dspEqCentres()[b] * dspEqCentres()[b + 1]));
    }
    for (double hz : probes) {
        DspEqState run = eq;
        auto v = Sine(hz, kRate);  // a second: settles well within the first half
        ASSERT_EQ(dspEqProcess(&run, v.data(), kRate), 0);
        for (int ch = 0; ch < 2; ++ch) {
            const double db = 20 * std::log10(Amplitude(v, hz, kRate / 2, ch) / 0.25);
            EXPECT_NEAR(db, dspEqResponseDb(&eq, hz), 0.1) << hz << " Hz, channel " << ch;
        }
    }
    // The design itself: a band alone has its gain at its centre.
    float one[dspEqBands] = {};
    one[4] = -7.5f;
    ASSERT_EQ(dspEqSet(&eq, one, 0.0f), 0);
    EXPECT_NEAR(dspEqResponseDb(&eq, 500.0), -7.5, 1e-6);
}

TEST(Equaliser, BandsNearNyquistAreLeftOutAndFlatIsExact) {
    DspEqState eq;
    ASSERT_EQ(dspEqInit(&eq, 32000, 1), 0);
    EXPECT_EQ(eq.bands, 9);
    const float zero[dspEqBands] = {};
    ASSERT_EQ(dspEqSet(&eq, zero, 0.0f), 0);
    auto v = Sine(440, 4096, 0.5, 1);
    const auto before = v;
    ASSERT_EQ(dspEqProcess(&eq, v.data(), 4096), 0);
    EXPECT_EQ(v, before);
    EXPECT_NE(dspEqInit(&eq, 44100, 3), 0);
}

TEST(Equaliser, AMovingBandDoesNotClick) {
    // The steepest step of the output must stay near that of the sine before or
    // after the change; a jump in the preamp or the coefficients overshoots it.
    for (double hz : {1000.0, 62.0}) {
        DspEqState eq;
        ASSERT_EQ(dspEqInit(&eq, kRate, 2), 0);
        auto v = Sine(hz, kRate);
        const int change = 10007;
        ASSERT_EQ(dspEqProcess(&eq, v.data(), change), 0);
        float gains[dspEqBands] = {};
        gains[hz > 100 ? 5 : 1] = -12;
        ASSERT_EQ(dspEqSet(&eq, gains, 6.0f), 0);
        ASSERT_EQ(dspEqProcess(&eq, v.data() + 2 * change, kRate - change), 0);
        double steepest = 0, before = 0, after = 0;
        for (int i = 1; i < kRate; ++i) {
            const double d = std::fabs(v[2 * i] - v[2 * (i - 1)]);
            steepest = std::max(steepest, d);
            if (i < change) before = std::max(before, d);
            if (i > kRate / 2) after = std::max(after, d);
        }
        EXPECT_LE(steepest, std::max(before, after) * 1.1) << hz;
    }
}
