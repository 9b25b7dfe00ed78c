#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/SpectrumAnalyser.h"

namespace tunara {
namespace {

constexpr int kFrames = SpectrumAnalyser::kFrames;

// 1024 frames of 16-bit PCM, `channels` wide, sample = f(frame, channel).
template <class F>
std::vector<uint8_t> Pcm16(int channels, F f) {
    std::vector<uint8_t> out(kFrames * channels * 2);
    for (int i = 0; i < kFrames; ++i)
        for (int c = 0; c < channels; ++c) {
            int16_t s = static_cast<int16_t>(f(i, c));
            std::memcpy(&out[(i * channels + c) * 2], &s, 2);
        }
    return out;
}

struct Analysed {
    float left = -1, right = -1;
    std::vector<float> bands;
};

Analysed AnalyseAndRead(SpectrumAnalyser& a, const std::vector<uint8_t>& pcm,
                        bool stopped = false) {
    a.Analyse(pcm.data());
    Analysed r;
    r.bands.assign(a.BandCount(), -1.0f);
    a.GetLevels(r.left, r.right, stopped);
    a.GetSpectrum(r.bands.data(), stopped);
    return r;
}

// Silence leaves every peak at zero.
TEST(SpectrumAnalyser, Silence16_GivesZeros) {
    SpectrumAnalyser a;
    a.SetFormat(2, 16);
    auto r = AnalyseAndRead(a, Pcm16(2, [](int, int) { return 0; }));
    EXPECT_EQ(r.left, 0.0f);
    EXPECT_EQ(r.right, 0.0f);
    for (float b : r.bands) EXPECT_EQ(b, 0.0f);
}

// -32768 is full scale: a square wave reads 1.0.
TEST(SpectrumAnalyser, FullScaleSquare_ReadsOne) {
    SpectrumAnalyser a;
    a.SetFormat(2, 16);
    auto r = AnalyseAndRead(
        a, Pcm16(2, [](int i, int c) { return c ? 0 : ((i / 32) % 2 ? 32767 : -32768); }));
    EXPECT_EQ(r.left, 1.0f);
    EXPECT_EQ(r.right, 0.0f);
}

// 8-bit samples are unsigned around 128.
TEST(SpectrumAnalyser, EightBit_CentredOn128) {
    SpectrumAnalyser a;
    a.SetFormat(2, 8);
    std::vector<uint8_t> pcm(kFrames * 2, 128);
    auto r = AnalyseAndRead(a, pcm);
    EXPECT_EQ(r.left, 0.0f);
    EXPECT_EQ(r.right, 0.0f);
    for (int i = 0; i < kFrames; ++i) pcm[2 * i + 1] = i % 2 ? 255 : 0;
    r = AnalyseAndRead(a, pcm);
    EXPECT_EQ(r.left, 0.0f);
    EXPECT_EQ(r.right, 1.0f);
}

// Mono reports its one level on both sides; wider samples are scaled too.
TEST(SpectrumAnalyser, Mono_SameLevelBothSides) {
    SpectrumAnalyser a;
    a.SetFormat(1, 16);
    auto r = AnalyseAndRead(a, Pcm16(1, [](int i, int) { return i == 100 ? -16384 : 0; }));
    EXPECT_EQ(r.left, 0.5f);
    EXPECT_EQ(r.right, 0.5f);

    a.SetFormat(1, 24);
    std::vector<uint8_t> pcm(kFrames * 3, 0);
    pcm[3 * 7 + 2] = 0x40;  // 0x400000 = half scale
    r = AnalyseAndRead(a, pcm);
    EXPECT_EQ(r.left, 0.5f);
    EXPECT_EQ(r.right, 0.5f);
}

TEST(SpectrumAnalyser, SixteenBands_CoverTheListedBins) {
    int first[16];
    EXPECT_EQ(SpectrumAnalyser::BandEdges(16, first), 512);
    const int expect[16] = {0, 1, 2, 3, 4, 7, 10, 15, 22, 33, 49, 72, 107, 158, 234, 346};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(first[i], expect[i]) << i;
    // Every band count covers the bins from 0 without gaps or overlap (the
    // float factor may leave the top bin out).
    std::vector<int> edges(512);
    for (int n : {1, 2, 7, 16, 32, 100, 511, 512}) {
        int end = SpectrumAnalyser::BandEdges(n, edges.data());
        EXPECT_GE(end, 511) << n;
        EXPECT_LE(end, 512) << n;
        EXPECT_EQ(edges[0], 0);
        for (int i = 1; i < n; ++i) EXPECT_GT(edges[i], edges[i - 1]) << n << " band " << i;
    }
}

// A sine at the centre of bin k peaks in the band that holds bin k.
TEST(SpectrumAnalyser, SineAtBin_PeaksInItsBand) {
    int first[16];
    SpectrumAnalyser::BandEdges(16, first);
    for (int band = 0; band < 16; ++band) {
        int last = band == 15 ? 511 : first[band + 1] - 1;
        int k = (first[band] + last) / 2;
        SpectrumAnalyser a;
        a.SetFormat(1, 16);
        auto r = AnalyseAndRead(
            a, Pcm16(1, [&](int i, int) {
                return k == 0 ? 8000.0 : 8000.0 * std::sin(2 * M_PI * k * i / kFrames + 0.3);
            }));
        int loudest =
            static_cast<int>(std::max_element(r.bands.begin(), r.bands.end()) - r.bands.begin());
        EXPECT_EQ(loudest, band) << "bin " << k;
    }
}

// The display covers 40 dB: band power 0.001 sits half way.
TEST(SpectrumAnalyser, BandScale_IsFortyDecibels) {
    SpectrumAnalyser a;
    a.SetFormat(1, 16);
    // Constant A: bin 0 = A * (sum of the Hann weights = 511.5) / 1024.
    const double amplitude = std::sqrt(0.001) * 1024.0 / 511.5;
    auto r =
        AnalyseAndRead(a, Pcm16(1, [&](int, int) { return std::lround(amplitude * 32768.0); }));
    EXPECT_NEAR(r.bands[0], 0.5f, 0.01f);
    r = AnalyseAndRead(a, Pcm16(1, [](int, int) { return 32767; }));
    EXPECT_EQ(r.bands[0], 1.0f);
    r = AnalyseAndRead(a, Pcm16(1, [](int, int) { return 1; }));
    EXPECT_EQ(r.bands[0], 0.0f);  // about -86 dB, below the floor
}

// Peaks hold until read; a read while stopped shows zeros but still clears them.
TEST(SpectrumAnalyser, Peaks_HoldUntilRead) {
    SpectrumAnalyser a;
    a.SetFormat(2, 16);
    auto loud = Pcm16(2, [](int i, int) { return i % 2 ? 20000 : -20000; });
    auto quiet = Pcm16(2, [](int, int) { return 0; });
    a.Analyse(loud.data());
    auto r = AnalyseAndRead(a, quiet);  // not read in between: the loud buffer still shows
    EXPECT_NEAR(r.left, 20000 / 32768.0f, 1e-6f);
    EXPECT_GT(r.bands[15], 0.0f);
    r = AnalyseAndRead(a, quiet);
    EXPECT_EQ(r.left, 0.0f);
    EXPECT_EQ(r.bands[15], 0.0f);

    a.Analyse(loud.data());
    float l = -1, rt = -1;
    std::vector<float> bands(16, -1.0f);
    a.GetLevels(l, rt, true);
    a.GetSpectrum(bands.data(), true);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(rt, 0.0f);
    for (float b : bands) EXPECT_EQ(b, 0.0f);
    r = AnalyseAndRead(a, quiet);
    EXPECT_EQ(r.left, 0.0f);
    EXPECT_EQ(r.bands[15], 0.0f);
}

// Buffers analysed ahead show only once the device has begun to play them,
// each in its turn, however many were queued; a new run drops the rest.
TEST(SpectrumAnalyser, AnalysedAhead_ShowWhenHeard) {
    SpectrumAnalyser a;
    a.SetFormat(2, 16);
    auto level = [](int v) { return Pcm16(2, [v](int, int) { return v; }); };
    a.AnalyseAhead(level(1000).data(), 0);
    a.AnalyseAhead(level(8000).data(), 1024);
    a.AnalyseAhead(level(3000).data(), 2048);
    auto read = [&](uint32_t heard) {
        a.Reach(heard);
        float l = -1, r = -1;
        a.GetLevels(l, r, false);
        return std::lround(l * 32768.0f);
    };
    EXPECT_EQ(read(0), 0);
    EXPECT_EQ(read(500), 1000);
    EXPECT_EQ(read(1024), 1000);  // the loud one starts with the next frame
    EXPECT_EQ(read(1100), 8000);
    EXPECT_EQ(read(1500), 8000);  // held: nothing new was heard
    EXPECT_EQ(read(2100), 3000);
    a.AnalyseAhead(level(9000).data(), 3072);
    a.ClearAhead();
    EXPECT_EQ(read(4000), 3000);
}

// Band counts outside 1..512 are held to the nearest limit rather than
// running past the peak table.
TEST(SpectrumAnalyser, BandCount_KeptInRange) {
    SpectrumAnalyser a;
    a.SetFormat(2, 16);
    a.SetBandCount(0);
    EXPECT_EQ(a.BandCount(), 1);
    a.SetBandCount(100000);
    EXPECT_EQ(a.BandCount(), 512);
    auto r = AnalyseAndRead(a, Pcm16(2, [](int i, int) { return (i * 7919) % 20000 - 10000; }));
    EXPECT_EQ(r.bands.size(), 512u);
    for (float b : r.bands) {
        EXPECT_GE(b, 0.0f);
        EXPECT_LE(b, 1.0f);
    }
}

}  // namespace
}  // namespace tunara
