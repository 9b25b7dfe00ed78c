// The decoder's building blocks against their defining formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp.h"
#include "mpegdec/Context.h"
#include "mpegdec/FrameHeader.h"
#include "mpegdec/HuffmanTables.h"
#include "mpegdec/Tables.h"

using namespace mpegdec;

// Every code of every table decodes to its own value with its own length, through the lookup
// and the tree walk alike; the trees have the expected sizes.
TEST(Internals, HuffmanTables_EveryCodeDecodesToItsValue) {
    const HuffmanDecodeTable* tables = HuffmanTables();
    const int expectedNodes[34] = {0,   7,   17,  17,  0,   31,  31,  71,  71,  71,  127, 127,
                                   127, 511, 0,   511, 511, 511, 511, 511, 511, 511, 511, 511,
                                   511, 511, 511, 511, 511, 511, 511, 511, 31,  31};
    for (int t = 0; t < 34; ++t) {
        const HuffmanCodeTable& code = kHuffmanCodeTables[t];
        EXPECT_EQ(tables[t].tree.nodeCount, expectedNodes[t]) << "table " << t;
        if (!code.codes) continue;
        const int values = code.xlen == 1 ? 16 : code.xlen * code.ylen;
        for (int v = 0; v < values; ++v) {
            const int len = code.lengths[v];
            // The code, then alternating filler bits after it.
            const uint64_t bits =
                uint64_t(code.codes[v]) << (64 - len) | (0x5555555555555555ull >> len);
            int32_t used = 0;
            const int32_t got = DecodeHuffmanCode(bits, tables[t], &used);
            const int x = code.xlen == 1 ? 0 : v / code.ylen;
            const int y = code.xlen == 1 ? v : v % code.ylen;
            ASSERT_EQ(got, x << 4 | y) << "table " << t << " value " << v;
            ASSERT_EQ(used, len) << "table " << t << " value " << v;
        }
    }
    EXPECT_EQ(tables[24].linbits, 4);
    EXPECT_EQ(tables[23].linbits, 13);
    EXPECT_EQ(tables[31].linbits, 13);
}

// Chain links (offsets of 250 and more) are followed on the same side, also after the
// lookup has taken the first bits.
TEST(Internals, HuffmanTree_ChainLinkFollowed) {
    static uint8_t nodes[300][2] = {};
    nodes[0][0] = 1;  // 0 -> node 1
    nodes[0][1] = 2;  // 1 -> node 2, a leaf
    nodes[2][0] = 0;
    nodes[2][1] = 0x56;
    nodes[1][0] = 2;    // 00 -> node 3, a leaf
    nodes[1][1] = 250;  // 01 -> chain to node 251, whose side 1 says +4 -> node 255
    nodes[3][0] = 0;
    nodes[3][1] = 0x12;
    nodes[251][0] = 1;
    nodes[251][1] = 4;
    nodes[255][0] = 0;
    nodes[255][1] = 0x34;
    for (int lookupBits : {0, 1}) {
        static const uint16_t lookup[2] = {1, 0x8000 | 1 << 8 | 0x56};
        HuffmanDecodeTable t{16, 16, 0, 0, {nodes, 300}, lookupBits, lookup};
        int32_t used = 0;
        EXPECT_EQ(DecodeHuffmanCode(0ull, t, &used), 0x12);
        EXPECT_EQ(used, 2);
        EXPECT_EQ(DecodeHuffmanCode(1ull << 62, t, &used), 0x34);
        EXPECT_EQ(used, 2);
        EXPECT_EQ(DecodeHuffmanCode(1ull << 63, t, &used), 0x56);
        EXPECT_EQ(used, 1);
    }
}

// The fast 32-point transform equals its definition.
TEST(Internals, Dct32_MatchesDefinition) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1000, 1000);
    float in[32], out[32];
    for (float& v : in) v = u(rng);
    Dct32(in, out);
    for (int m = 0; m < 32; ++m) {
        double s = 0;
        for (int k = 0; k < 32; ++k) s += in[k] * std::cos(m * (2 * k + 1) * M_PI / 64);
        EXPECT_NEAR(out[m], s, 2e-3 * 1000) << m;
    }
}

// Long and short inverse MDCTs equal the defining sums times the windows (which carry 32768).
TEST(Internals, Imdct_MatchesDefinition) {
    const Tables& t = GetTables();
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1, 1);
    float X[18], x[36];
    for (float& v : X) v = u(rng);
    // With a zero overlap the output is the first half and the overlap the second.
    auto run = [&](int type) {
        float overlap[18] = {};
        if (type == 2)
            ImdctShort(X, overlap, x, t);
        else
            ImdctLong(X, t.window[type], overlap, x, t);
        std::copy(overlap, overlap + 18, x + 18);
    };
    for (int type : {0, 1, 3}) {
        run(type);
        for (int i = 0; i < 36; ++i) {
            double s = 0;
            for (int k = 0; k < 18; ++k)
                s += X[k] * std::cos(M_PI / 72 * (2 * i + 1 + 18) * (2 * k + 1));
            EXPECT_NEAR(x[i], s * t.window[type][i], 0.05) << type << " " << i;
        }
    }
    // The start window's falling part keeps the same scale as the rest.
    EXPECT_NEAR(t.window[1][24], 32768 * std::sin(6.5 * M_PI / 12), 0.01);
    EXPECT_FLOAT_EQ(t.window[1][20], 32768.0f);
    run(2);
    for (int i = 0; i < 36; ++i) {
        double s = 0;
        for (int w = 0; w < 3; ++w) {
            const int n = i - 6 - 6 * w;
            if (n < 0 || n >= 12) continue;
            double y = 0;
            for (int k = 0; k < 6; ++k)
                y += X[3 * k + w] * std::cos(M_PI / 24 * (2 * n + 1 + 6) * (2 * k + 1));
            s += y * std::sin((n + 0.5) * M_PI / 12) * 32768;
        }
        EXPECT_NEAR(x[i], s, 0.05) << i;
    }
}

// The polyphase step equals the matrixing, 16-block shift register and windowing it stands
// for, slot after slot.
TEST(Internals, Polyphase_MatchesReferenceFilterbank) {
    SynthesisState s{};
    s.marker = kSynthMarker;
    const float* D = SynthesisWindow();
    EXPECT_NEAR(D[256], 1.144989014, 1e-6);
    std::vector<double> V(1024, 0.0);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-3000, 3000);
    for (int slot = 0; slot < 40; ++slot) {
        float in[32], out[32];
        for (float& v : in) v = u(rng);
        PolyphaseSlot(s, 1, in, out);
        for (int i = 1023; i >= 64; --i) V[size_t(i)] = V[size_t(i) - 64];
        for (int i = 0; i < 64; ++i) {
            double a = 0;
            for (int k = 0; k < 32; ++k) a += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * in[k];
            V[size_t(i)] = a;
        }
        for (int j = 0; j < 32; ++j) {
            double sum = 0;
            for (int i = 0; i < 8; ++i) {
                sum += V[size_t(i * 128 + j)] * D[i * 64 + j];
                sum += V[size_t(i * 128 + 96 + j)] * D[i * 64 + 32 + j];
            }
            ASSERT_NEAR(out[j], sum, 0.05) << "slot " << slot << " j " << j;
        }
    }
}

// The wide windowing (where the processor has it) gives bit for bit the four-lane result.
TEST(Internals, Polyphase_WidePathMatchesFourLanes) {
    if (!dspCpuHasAvx()) GTEST_SKIP() << "the processor has no AVX";
    const bool saved = g_synthWide;
    std::vector<float> outs[2];
    for (int wide = 0; wide < 2; ++wide) {
        g_synthWide = wide != 0;
        SynthesisState s{};
        s.marker = kSynthMarker;
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> u(-30000, 30000);
        for (int slot = 0; slot < 100; ++slot) {
            float in[32], out[32];
            for (float& v : in) v = u(rng);
            PolyphaseSlot(s, slot & 1, in, out);
            outs[wide].insert(outs[wide].end(), out, out + 32);
        }
    }
    g_synthWide = saved;
    ASSERT_EQ(std::memcmp(outs[0].data(), outs[1].data(), outs[0].size() * sizeof(float)), 0);
}

// Likewise the inverse MDCT of long blocks.
TEST(Internals, ImdctLong_WidePathMatchesFourLanes) {
    if (!dspCpuHasAvx()) GTEST_SKIP() << "the processor has no AVX";
    const bool saved = g_synthWide;
    const Tables& t = GetTables();
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-5000, 5000);
    for (int run = 0; run < 50; ++run) {
        float X[18], overlap[2][18], out[2][18];
        for (float& v : X) v = u(rng);
        for (int wide = 0; wide < 2; ++wide) {
            g_synthWide = wide != 0;
            for (float& v : overlap[wide]) v = 1.0f;
            ImdctLong(X, t.window[run % 4], overlap[wide], out[wide], t);
        }
        ASSERT_EQ(std::memcmp(out[0], out[1], sizeof out[0]), 0) << run;
        ASSERT_EQ(std::memcmp(overlap[0], overlap[1], sizeof overlap[0]), 0) << run;
    }
    g_synthWide = saved;
}

// The window is antisymmetric around its centre up to the sign pattern of its 64-blocks.
TEST(Internals, SynthesisWindow_Symmetry) {
    const float* D = SynthesisWindow();
    EXPECT_EQ(D[0], 0.0f);
    for (int i = 1; i < 256; ++i) {
        const int j = 512 - i;
        const float sign = ((i / 64) % 2 == (j / 64) % 2) ? 1.0f : -1.0f;
        ASSERT_EQ(D[j], sign * D[i]) << i;
    }
}

// Requantisation and stereo tables hold the values they are defined by.
TEST(Internals, Tables_Values) {
    const Tables& t = GetTables();
    EXPECT_FLOAT_EQ(t.gain[210], 1.0f);
    EXPECT_FLOAT_EQ(t.gain[214], 2.0f);
    EXPECT_FLOAT_EQ(t.pow43[8], 16.0f);
    EXPECT_NEAR(t.pow43[8206], std::pow(8206.0, 4.0 / 3.0), 1.0);
    EXPECT_FLOAT_EQ(t.pow2Half[2], 0.5f);
    // MPEG-1 intensity position 6: all to the left.
    EXPECT_NEAR(t.isLeft[6], 1.0f, 1e-6);
    EXPECT_NEAR(t.isRight[6], 0.0f, 1e-6);
    EXPECT_NEAR(t.isLeft[3], 0.5f, 1e-6);
    EXPECT_NEAR(t.cs[0], 1 / std::sqrt(1.36), 1e-6);
    EXPECT_NEAR(t.ca[0], -0.6 / std::sqrt(1.36), 1e-6);
    EXPECT_NEAR(t.lsfIs[1][2], 0.5f, 1e-6);
}

// Frame sizes and the packed header word.
TEST(Internals, HeaderWord_PackingAndSizes) {
    EXPECT_EQ(FrameLengthNoPadding(1, 0, 9), 417);  // 128 kbit/s, 44.1 kHz
    EXPECT_EQ(FrameLengthNoPadding(0, 0, 1), 26);   // 8 kbit/s, 22.05 kHz
    EXPECT_EQ(FrameLengthNoPadding(1, 3, 9), 0);
    // FFFB9064: MPEG-1 Layer III, no CRC, 128 kbit/s, 44.1 kHz, padding 0, joint stereo.
    const MpegHeaderWord w = mpegHeaderFromStream(0xFFFB9064u, 0xFF0C0000u);
    EXPECT_EQ(mpegHeaderBitrateIndex(w), 9);
    EXPECT_EQ(mpegHeaderLayerCode(w), 1);
    EXPECT_EQ(mpegHeaderId(w), 1);
    EXPECT_EQ(mpegHeaderHasCrc(w), 0);
    EXPECT_EQ(mpegHeaderMode(w), 1);
    EXPECT_EQ(mpegHeaderModeExt(w), 2);
    EXPECT_EQ(mpegHeaderRateIndex(w), 0);
    EXPECT_EQ(mpegHeaderSampleRate(w), 44100);
    EXPECT_EQ(mpegHeaderBitrate(w), 128000);
    EXPECT_EQ(mpegHeaderFrameBytes(w), 417);
    EXPECT_EQ(mpegHeaderSamplesPerFrame(w), 1152);
    EXPECT_EQ((w >> 22) & 1, 1u);             // original
    EXPECT_EQ(w & 0xFF0C0000u, 0xFF0C0000u);  // bits that are not fields are kept
}
