// The decoder's signal kernels against their defining formulas, evaluated directly in double,
// and the eight-lane paths against the four-lane ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

using namespace kvmc;

namespace {

// Runs `body` with the four-lane kernels, then with the eight-lane ones where the processor
// has them; returns how many widths ran.
template <typename Body>
int ForEachWidth(Body body) {
    const bool saved = g_kvmcWide;
    int runs = 0;
    for (int wide = 0; wide <= int(saved); ++wide) {
        g_kvmcWide = wide != 0;
        body(wide);
        ++runs;
    }
    g_kvmcWide = saved;
    return runs;
}

// A component at full scale stays within a small fraction of an LSB of the exact tone over
// every transform length, for the lowest and highest bins and every coded phase, and is
// added to what the buffer held.
TEST(KvmcSynthesis, AddTone_MatchesExactToneAtEveryLength) {
    const float amp = 32767.0f / float(M_PI / 2);
    std::vector<float> outs[2];
    ForEachWidth([&](int wide) {
        double worst = 0;
        for (int32_t L = 128; L <= 8192; L *= 2)
            for (int32_t bin : {0, 1, L / 3, L / 2 - 1})
                for (uint32_t phase = 0; phase < 8; ++phase) {
                    std::vector<float> out(static_cast<size_t>(L));
                    for (int32_t t = 0; t < L; ++t) out[size_t(t)] = float(t % 7);
                    const uint32_t index = phase * uint32_t(kSineSize / 8);
                    const uint32_t step = uint32_t(2 * bin + 1) * uint32_t(kSineSize / (2 * L));
                    AddTone(out.data(), L, amp, index, step);
                    for (int32_t t = 0; t < L; ++t) {
                        const double w = std::sin(M_PI * t / L);
                        const double tone =
                            amp * (M_PI / 2) * w * w *
                            std::sin(2 * M_PI * (index + double(step) * t) / kSineSize);
                        worst = std::max(worst, std::fabs(out[size_t(t)] - (t % 7) - tone));
                    }
                    outs[wide].insert(outs[wide].end(), out.begin(), out.end());
                }
        EXPECT_LT(worst, 0.1) << (wide ? "eight lanes" : "four lanes");
    });
    if (!outs[1].empty()) {
        EXPECT_EQ(std::memcmp(outs[0].data(), outs[1].data(), outs[0].size() * sizeof(float)), 0);
    }
}

// The filter bank: V[i] = sum over k of cos((16 + i)(2k + 1) pi / 64) S[k] into a 1024-value
// ring, each output the windowed sum of 16 ring values. Three packets in a row, so the ring
// carries over packet joins, for the 8, 16 and 30 bands of the three hop sizes.
TEST(KvmcSynthesis, FilterBank_MatchesDirectSynthesisAcrossPackets) {
    const float* D = dspPolyphaseWindow();
    std::vector<float> outs[2];
    ForEachWidth([&](int wide) {
        for (int32_t bands : {8, 16, 30}) {
            std::mt19937 rng(static_cast<uint32_t>(bands));
            std::uniform_real_distribution<float> u(-20000, 20000);
            std::vector<float> sb(32 * kSubbandLength), X(32 * kSubbandLength), ring(1024, 0.0f);
            std::vector<float> out(32 * kSubbandLength);
            std::vector<double> V(1024, 0.0);
            int32_t vpos = 0, directPos = 0;
            double worst = 0;
            for (int packet = 0; packet < 3; ++packet) {
                for (int32_t k = 0; k < 32; ++k)
                    for (int32_t t = 0; t < kSubbandLength; ++t)
                        sb[size_t(k * kSubbandLength + t)] = k < bands ? u(rng) : 0.0f;
                SynthesisFilterBank(sb.data(), bands, X.data(), ring.data(), vpos, out.data());
                for (int32_t step = 0; step < kSubbandLength; ++step) {
                    directPos = (directPos - 64) & 1023;
                    for (int i = 0; i < 64; ++i) {
                        double v = 0;
                        for (int k = 0; k < bands; ++k)
                            v += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) *
                                 sb[size_t(k * kSubbandLength + step)];
                        V[size_t(directPos + i)] = v;
                    }
                    for (int j = 0; j < 32; ++j) {
                        double y = 0;
                        for (int i = 0; i < 8; ++i) {
                            y += D[64 * i + j] * V[size_t((directPos + 128 * i + j) & 1023)];
                            y += D[64 * i + 32 + j] *
                                 V[size_t((directPos + 128 * i + 96 + j) & 1023)];
                        }
                        worst = std::max(worst, std::fabs(out[size_t(step * 32 + j)] - y));
                    }
                }
                outs[wide].insert(outs[wide].end(), out.begin(), out.end());
            }
            EXPECT_EQ(vpos, directPos);
            EXPECT_LT(worst, 0.1) << bands << " bands, " << (wide ? "eight" : "four") << " lanes";
        }
    });
    if (!outs[1].empty()) {
        EXPECT_EQ(std::memcmp(outs[0].data(), outs[1].data(), outs[0].size() * sizeof(float)), 0);
    }
}

}  // namespace
