#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "PacketChecker.h"
#include "kvmc/Internal.h"
#include "kvmc/kvmc.h"

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Counts operator new calls so a test can prove that encoding allocates nothing.
std::atomic<long> gNewCalls{0};
void* operator new(size_t size) {
    ++gNewCalls;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    ++gNewCalls;
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size) {
    ++gNewCalls;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// Every form the code may use is replaced, so each allocation and its release
// pair up (the decoder uses the nothrow array form).
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    ++gNewCalls;
    return std::malloc(size ? size : 1);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using kvmctest::CheckerConfig;
using kvmctest::CheckPacket;

struct Encoder {
    KvmcHandle h = nullptr;
    Encoder() { EXPECT_EQ(kvmcOpen(&h), 0); }
    ~Encoder() { kvmcClose(&h); }
};

KvmcStreamInfo Stream(int ch, int rate, int br) {
    return {1, ch, rate, br, 0, 0, 0};
}

enum class Signal { Silence, Sine, Noise };

// Drives the encoder as the recording job does: a five-hop window, shifted by one hop per call.
struct EncodeRun {
    Encoder enc;
    KvmcStreamInfo info;
    std::vector<int16_t> window;
    std::vector<uint8_t> packet;
    std::mt19937 rng{7};
    long frame = 0;
    Signal signal;
    double freq;
    int configureResult;

    EncodeRun(int ch, int rate, int br, int flags, Signal s, double f = 1000.0)
        : info(Stream(ch, rate, br)), signal(s), freq(f) {
        KvmcParams p{1.0f, 0.0f, 0.5f, 0.5f, flags};
        configureResult = kvmcConfigure(enc.h, &info, &p);
        if (configureResult != 0) return;
        window.assign(size_t(5 * info.samplesPerPacket * ch), 0);
        packet.assign(size_t(info.bytesPerPacket), 0xEE);
        for (int slot = 0; slot < 4; ++slot) Fill(slot);
    }
    int16_t Next() {
        switch (signal) {
            case Signal::Silence:
                return 0;
            case Signal::Sine:
                return int16_t(12000 * std::sin(2 * M_PI * freq * double(frame) / info.sampleRate));
            case Signal::Noise:
                return int16_t(std::uniform_int_distribution<int>(-20000, 20000)(rng));
        }
        return 0;
    }
    void Fill(int slot) {
        const int H = info.samplesPerPacket, ch = info.channels;
        for (int i = 0; i < H; ++i, ++frame) {
            const int16_t v = Next();
            for (int c = 0; c < ch; ++c)
                window[size_t((slot * H + i) * ch + c)] = c ? int16_t(v / 2) : v;
        }
    }
    int32_t Encode() {
        const int H = info.samplesPerPacket, ch = info.channels;
        Fill(4);
        std::fill(packet.begin(), packet.end(), 0xEE);
        const int32_t rc = kvmcEncodePacket(enc.h, int32_t(window.size() * 2), window.data(),
                                            int32_t(packet.size()), packet.data());
        std::copy(window.begin() + H * ch, window.end(), window.begin());
        return rc;
    }
    // Encodes one packet and checks it; returns the checker's verdict.
    std::string Step(std::vector<kvmctest::CheckedComponent>* comps = nullptr) {
        EXPECT_EQ(Encode(), 0);
        return CheckPacket(packet.data(), CheckerConfig::From(*enc.h), comps);
    }
};

// The derived settings of the stream values named in the design.
TEST(KvmcConfigure, DerivesSettingsFromStreamValues) {
    {
        Encoder e;
        auto info = Stream(2, 44100, 128000);
        ASSERT_EQ(kvmcConfigure(e.h, &info, nullptr), 0);
        EXPECT_EQ(e.h->n, 2);
        EXPECT_EQ(info.samplesPerPacket, 4096);
        EXPECT_EQ(info.subBlock, 256);
        EXPECT_EQ(info.bytesPerPacket, 1486);
        EXPECT_TRUE(e.h->wideBand);
        EXPECT_EQ(e.h->quality, 1);
    }
    {
        Encoder e;
        auto info = Stream(2, 44100, 48000);
        ASSERT_EQ(kvmcConfigure(e.h, &info, nullptr), 0);
        EXPECT_EQ(info.bytesPerPacket, 556);
        EXPECT_FALSE(e.h->wideBand);
        EXPECT_EQ(e.h->bandLimit, 8920);
        EXPECT_EQ(e.h->quality, 0);
    }
    {
        Encoder e;
        auto info = Stream(1, 22050, 32000);
        ASSERT_EQ(kvmcConfigure(e.h, &info, nullptr), 0);
        EXPECT_EQ(info.samplesPerPacket, 2048);
        EXPECT_EQ(info.bytesPerPacket, (2048 * 32000 / 22050 / 8) & ~1);
        auto small = Stream(1, 11025, 16000);
        ASSERT_EQ(kvmcConfigure(e.h, &small, nullptr), 0);
        EXPECT_EQ(small.samplesPerPacket, 1024);
        EXPECT_EQ(small.subBlock, 64);
        EXPECT_EQ(small.bytesPerPacket, 184);
    }
    {
        Encoder e;
        auto info = Stream(2, 44100, 7999);
        EXPECT_EQ(kvmcConfigure(e.h, &info, nullptr), kKvmcRateTooLow);
        auto bad = Stream(3, 44100, 128000);
        EXPECT_EQ(kvmcConfigure(e.h, &bad, nullptr), kKvmcBadArgument);
    }
    {
        Encoder e;
        auto info = Stream(2, 44100, 128000);
        KvmcParams p{1.0f, 0.0f, 1.5f, NAN, 0x43};
        ASSERT_EQ(kvmcConfigure(e.h, &info, &p), 0);
        EXPECT_FLOAT_EQ(e.h->GA, 0.5f * 0.5f * 0.5f * 0.5f * 3.2f);
        EXPECT_FLOAT_EQ(e.h->GB, 1.0f);
    }
}

// The caller's own stream values and description atoms agree with the encoder's.
TEST(KvmcConfigure, StreamValuesAndExtensionMatchTheEncoder) {
    auto info = Stream(2, 48000, 96000);
    ASSERT_EQ(kvmcStreamValues(&info), 0);
    Encoder e;
    auto configured = Stream(2, 48000, 96000);
    ASSERT_EQ(kvmcConfigure(e.h, &configured, nullptr), 0);
    EXPECT_EQ(info.bytesPerPacket, configured.bytesPerPacket);
    EXPECT_EQ(kvmcRecordParams(23999).flags, 67);
    EXPECT_EQ(kvmcRecordParams(24000).flags, 83);
    uint8_t ext[kKvmcExtensionBytes];
    const KvmcParams p = kvmcRecordParams(96000);
    kvmcWriteExtension(&info, &p, ext);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ext + 4), 8), "frmaKVM2");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ext + 16), 4), "KVCA");
    EXPECT_EQ(ext[12 + 8 + 4 * 6 + 3] | ext[12 + 8 + 4 * 6 + 2] << 8, info.bytesPerPacket);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ext + 52), 4), "KVCP");
    EXPECT_EQ(ext[12 + 36 + 8], 0x3F);  // 1.0f
    EXPECT_EQ(ext[76 + 3], 8);
    EXPECT_EQ(ext[76 + 4] | ext[77 + 4] | ext[78 + 4] | ext[79 + 4], 0);
}

// Every code is a prefix code; codes with two or more leaves are complete (Kraft sum 1).
TEST(KvmcCodes, ArePrefixFreeAndComplete) {
    kvmc::HuffCode codes[kvmc::kCodeCount];
    kvmc::BuildAllCodes(codes);
    for (int c = 0; c < kvmc::kCodeCount; ++c) {
        double kraft = 0;
        int leaves = 0;
        for (int i = 0; i < kvmc::kLeafCount; ++i) {
            if (!codes[c].present[i]) continue;
            ++leaves;
            EXPECT_LE(codes[c].length[i], 32) << "code " << c;
            kraft += std::ldexp(1.0, -codes[c].length[i]);
            for (int j = 0; j < kvmc::kLeafCount; ++j) {
                if (j == i || !codes[c].present[j] || codes[c].length[j] < codes[c].length[i])
                    continue;
                const uint32_t mask =
                    codes[c].length[i] >= 32 ? ~0u : (1u << codes[c].length[i]) - 1;
                EXPECT_NE(codes[c].bits[j] & mask, codes[c].bits[i])
                    << "code " << c << " leaves " << i << "," << j;
            }
        }
        if (c >= 21) {
            EXPECT_EQ(leaves, 1);
            EXPECT_EQ(codes[c].length[0], 0);
        } else {
            EXPECT_DOUBLE_EQ(kraft, 1.0) << "code " << c;
        }
    }
    // Codes 21..23: every symbol is the escape integer alone; symbol 5 costs 3 + 3 bits.
    EXPECT_EQ(kvmc::SymbolBits(codes[21], 5), 6);
}

TEST(KvmcCodes, BucketsEscapesAndQuantisers) {
    EXPECT_EQ(kvmc::BucketBase(9), 16);
    EXPECT_EQ(kvmc::BucketBase(63), 229372);
    EXPECT_EQ(kvmc::BucketSymbol(13), 8);
    EXPECT_EQ(kvmc::AmpCode(1.0f), 4);
    EXPECT_EQ(kvmc::AmpCode(1.5f), 5);
    EXPECT_EQ(kvmc::AmpCode(2.0f), 6);
    EXPECT_EQ(kvmc::AmpCode(0.8f), 3);
    EXPECT_EQ(kvmc::AmpCode(0.6f), 2);
    EXPECT_EQ(kvmc::AmpCode(0.4f), 1);
    EXPECT_EQ(kvmc::AmpCode(0.2f), 0);
    EXPECT_EQ(kvmc::PhaseCode(0, 1), 0);
    EXPECT_EQ(kvmc::PhaseCode(1, 0), 2);
    EXPECT_EQ(kvmc::PhaseCode(0, -1), 4);
    EXPECT_EQ(kvmc::PhaseCode(-1e-4f, 1), 0);
    EXPECT_FLOAT_EQ(kvmc::AmpValue(46), 2490368.0f);

    // Bucketed 13 writes symbol 8 and the two offset bits of 1; raw bits go out low bit first.
    kvmc::HuffCode codes[kvmc::kCodeCount];
    kvmc::BuildAllCodes(codes);
    std::vector<kvmc::Entry> storage(kvmc::kListCapacity);
    kvmc::SymbolList list;
    list.entries = storage.data();
    ASSERT_TRUE(kvmc::ListAdd(list, codes, 13, 21, true));
    EXPECT_EQ(list.entries[0].symbol, 8);
    EXPECT_EQ(list.bits, 3 + 4 + 2);  // escape integer of 8 (k = 4) and 2 offset bits
    uint8_t out[8] = {};
    EXPECT_EQ(kvmc::WriteSubPacket(9, list, 0, list.count, list.bits, codes, out, 8), 4);
    // k - 1 = 3 in 3 bits, 8 in 4 bits, offset 1 in 2 bits.
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], uint8_t(3 | 8 << 3 | 1 << 7));
    EXPECT_EQ(out[3], 0);
}

struct FlagCase {
    int channels, rate, bitRate, flags;
};

class KvmcPackets : public ::testing::TestWithParam<FlagCase> {};

// Every packet is exactly bytesPerPacket bytes and walks cleanly, for silence, a sine and noise.
TEST_P(KvmcPackets, EveryPacketIsWholeAndReadable) {
    const FlagCase fc = GetParam();
    for (Signal s : {Signal::Silence, Signal::Sine, Signal::Noise}) {
        EncodeRun run(fc.channels, fc.rate, fc.bitRate, fc.flags, s);
        ASSERT_EQ(run.configureResult, 0);
        for (int i = 0; i < 8; ++i) {
            const std::string verdict = run.Step();
            ASSERT_EQ(verdict, "") << "packet " << i << " signal " << int(s);
        }
        EXPECT_EQ(run.enc.h->assemblyOverflows, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flags, KvmcPackets,
    ::testing::Values(FlagCase{2, 44100, 128000, 0x53}, FlagCase{2, 44100, 48000, 0x53},
                      FlagCase{2, 44100, 16000, 0x43}, FlagCase{1, 22050, 32000, 0x53},
                      FlagCase{1, 11025, 8000, 0x43}, FlagCase{2, 48000, 320000, 0x53},
                      FlagCase{1, 16000, 64000, 0x53}, FlagCase{2, 44100, 128000, 0x01},
                      FlagCase{2, 44100, 128000, 0x02}, FlagCase{2, 44100, 64000, 0x04},
                      FlagCase{2, 44100, 128000, 0x10}, FlagCase{2, 44100, 128000, 0x20},
                      FlagCase{2, 44100, 128000, 0x40}, FlagCase{1, 11025, 16000, 0x04},
                      FlagCase{2, 32000, 96000, 0x08}));

// A single sine is found as a component at its own frequency.
TEST(KvmcAnalysis, SineComponentAtItsFrequency) {
    const double freq = 1500.0;
    EncodeRun run(1, 44100, 48000, 0x53, Signal::Sine, freq);
    ASSERT_EQ(run.configureResult, 0);
    std::vector<kvmctest::CheckedComponent> comps;
    for (int i = 0; i < 6; ++i) ASSERT_EQ(run.Step(&comps), "");
    ASSERT_FALSE(comps.empty());
    // The loudest component (largest amplitude symbol) lies within a bin of the sine.
    auto loud = *std::max_element(comps.begin(), comps.end(),
                                  [](auto& a, auto& b) { return a.ampSymbol < b.ampSymbol; });
    const int L = 1 << (2 + 7 + loud.row);
    const double found = (loud.bin + 0.5) * 44100.0 / L;
    EXPECT_NEAR(found, freq, 44100.0 / L * 1.5) << "row " << loud.row << " bin " << loud.bin;
}

// Encoding a packet obtains no memory.
TEST(KvmcEncode, AllocatesNothing) {
    EncodeRun run(2, 44100, 128000, 0x53, Signal::Noise);
    ASSERT_EQ(run.configureResult, 0);
    long calls = 0;
    for (int i = 0; i < 5; ++i) {
        const long before = gNewCalls.load();
        ASSERT_EQ(run.Encode(), 0);
        calls += gNewCalls.load() - before;
    }
    EXPECT_EQ(calls, 0);
}

TEST(KvmcEncode, RefusesBadCalls) {
    Encoder e;
    int16_t in[8] = {};
    uint8_t out[8];
    EXPECT_EQ(kvmcEncodePacket(e.h, 16, in, 8, out), kKvmcBadArgument);  // not configured
    auto info = Stream(1, 11025, 16000);
    ASSERT_EQ(kvmcConfigure(e.h, &info, nullptr), 0);
    EXPECT_EQ(kvmcEncodePacket(e.h, 16, in, 8, out), kKvmcBadArgument);  // wrong sizes
    EXPECT_EQ(kvmcEncodePacket(nullptr, 16, in, 8, out), kKvmcBadArgument);
    KvmcHandle none = nullptr;
    kvmcClose(&none);
    kvmcClose(nullptr);
}

}  // namespace

namespace {

// Silence: every envelope is eight equal levels (first level, run length 6, difference 0), and
// the empty rows carry only their advance symbols: one 0 at row 4 up to two 1s at row 0.
TEST(KvmcLists, SilenceCodesFlatEnvelopesAndEmptyRows) {
    EncodeRun run(2, 44100, 48000, 0x53, Signal::Silence);
    ASSERT_EQ(run.configureResult, 0);
    ASSERT_EQ(run.Step(), "");
    const KvmcEncoder& e = *run.enc.h;
    const kvmc::SymbolList& env = e.lists[1];
    ASSERT_EQ(env.count, 3 * e.envelopeBands * e.channels);
    for (int i = 0; i < env.count; i += 3) {
        EXPECT_EQ(env.entries[i].value, 0);
        EXPECT_EQ(env.entries[i + 1].value, 6);
        EXPECT_EQ(env.entries[i + 1].code, 2);
        EXPECT_EQ(env.entries[i + 2].value, 0);
        EXPECT_EQ(env.entries[i + 2].code, 1);
    }
    const kvmc::SymbolList& tonal = e.lists[2];
    const std::vector<std::vector<int>> expected = {{0}, {0, 0}, {0, 0, 0, 0}, {1}, {1, 1}};
    for (int r = 1; r <= 5; ++r) {
        std::vector<int> values;
        for (int i = e.rangeFirst[r]; i < e.rangeLast[r]; ++i) {
            values.push_back(tonal.entries[i].value);
            EXPECT_EQ(tonal.entries[i].code, 16 + 5 - r);
        }
        EXPECT_EQ(values, expected[size_t(r - 1)]) << "row " << 5 - r;
    }
}

// The wide-band lists carry groups 8 up to min(8 x 2^n, 30) - 1 in sub-packet 12: none at size
// index 0; the normal mode carries none of the three lists.
TEST(KvmcLists, WideBandGroupsFollowTheSizeIndex) {
    {
        EncodeRun run(1, 11025, 64000, 0x53, Signal::Noise);
        ASSERT_EQ(run.configureResult, 0);
        ASSERT_TRUE(run.enc.h->wideBand);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(run.Step(), "");
        EXPECT_GT(run.enc.h->lists[4].count, 0);
        EXPECT_EQ(run.enc.h->lists[5].count, 0);
    }
    {
        EncodeRun run(2, 44100, 48000, 0x53, Signal::Noise);
        ASSERT_FALSE(run.enc.h->wideBand);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(run.Step(), "");
        for (int l = 3; l <= 5; ++l) EXPECT_EQ(run.enc.h->lists[l].count, 0);
    }
}

}  // namespace
