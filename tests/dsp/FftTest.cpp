#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "dsp/dsp.h"

namespace {

std::vector<float> RandomSignal(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) v = dist(rng);
    return x;
}

// Direct DFT in double precision, as CCS (N+2 floats).
std::vector<double> DirectCcs(const std::vector<float>& x) {
    const size_t n = x.size();
    std::vector<double> out(n + 2);
    for (size_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t i = 0; i < n; ++i) {
            const double a = -2.0 * M_PI * static_cast<double>((k * i) % n) / n;
            re += x[i] * std::cos(a);
            im += x[i] * std::sin(a);
        }
        out[2 * k] = re;
        out[2 * k + 1] = im;
    }
    return out;
}

// Squared error relative to the energy of the reference.
double RelativeError(const float* got, const std::vector<double>& want) {
    double err = 0, energy = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        err += (got[i] - want[i]) * (got[i] - want[i]);
        energy += want[i] * want[i];
    }
    return err / energy;
}

// Both real-input kernels agree with a direct DFT at every order the codecs use.
TEST(RealFft, Forward_MatchesDirectDft_Orders2To13) {
    for (int order = 2; order <= 13; ++order) {
        const size_t n = size_t{1} << order;
        const auto x = RandomSignal(n, order);
        const auto want = DirectCcs(x);

        std::vector<float> inPlace(n + 2);
        std::copy(x.begin(), x.end(), inPlace.begin());
        EXPECT_EQ(dspsRealFft(inPlace.data(), order, dspFftForward), static_cast<int32_t>(n));
        EXPECT_LT(RelativeError(inPlace.data(), want), 1e-10) << "order " << order;
        EXPECT_EQ(inPlace[1], 0.0f);
        EXPECT_EQ(inPlace[n + 1], 0.0f);

        std::vector<float> out(n + 2, 99.0f);
        const auto in = x;
        dspsRealFftNip(in.data(), out.data(), order, dspFftForward);
        EXPECT_EQ(in, x) << "input changed";
        EXPECT_LT(RelativeError(out.data(), want), 1e-10) << "order " << order;
    }
}
}  // namespace
