// Hand-built frames for side-information cases that encoders do not produce.
#include <gtest/gtest.h>

#include <random>

#include "DecodeHelpers.h"

using namespace mpegtest;

namespace {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (used_ % 8));
            ++used_;
        }
    }
    std::vector<uint8_t> Take(size_t size) {
        bytes_.resize(size, 0);
        std::vector<uint8_t> out;
        out.swap(bytes_);
        used_ = 0;
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

struct Granule {
    int part23 = 0, bigValues = 0, globalGain = 210, compress = 0;
    int windowSwitching = 0, blockType = 0, mixed = 0;
    int tables[3] = {0, 0, 0};
    int region0 = 0, region1 = 0;
};

struct FrameSpec {
    bool lsf = false;
    bool stereo = false;  // joint stereo with mode extension `modeExt`
    int modeExt = 0;
    Granule gr[2][2];  // [granule][channel]
    std::vector<uint8_t> mainData;
};

// MPEG-1: 44.1 kHz, 128 kbit/s (417 bytes). LSF: 22.05 kHz, 64 kbit/s (208 bytes). No CRC.
std::vector<uint8_t> BuildFrame(const FrameSpec& f) {
    BitWriter w;
    const int channels = f.stereo ? 2 : 1;
    w.Put(0xFFF, 12);
    w.Put(f.lsf ? 0 : 1, 1);
    w.Put(1, 2);  // Layer III
    w.Put(1, 1);  // no CRC
    w.Put(f.lsf ? 8 : 9, 4);
    w.Put(0, 2);
    w.Put(0, 2);  // padding, private
    w.Put(f.stereo ? 1 : 3, 2);
    w.Put(uint32_t(f.modeExt), 2);
    w.Put(0, 4);
    w.Put(0, f.lsf ? 8 : 9);  // main_data_begin
    w.Put(0, f.lsf ? (channels == 1 ? 1 : 2) : (channels == 1 ? 5 : 3));
    if (!f.lsf) w.Put(0, 4 * channels);
    for (int gr = 0; gr < (f.lsf ? 1 : 2); ++gr)
        for (int ch = 0; ch < channels; ++ch) {
            const Granule& g = f.gr[gr][ch];
            w.Put(uint32_t(g.part23), 12);
            w.Put(uint32_t(g.bigValues), 9);
            w.Put(uint32_t(g.globalGain), 8);
            w.Put(uint32_t(g.compress), f.lsf ? 9 : 4);
            w.Put(uint32_t(g.windowSwitching), 1);
            if (g.windowSwitching) {
                w.Put(uint32_t(g.blockType), 2);
                w.Put(uint32_t(g.mixed), 1);
                w.Put(uint32_t(g.tables[0]), 5);
                w.Put(uint32_t(g.tables[1]), 5);
                w.Put(0, 9);
            } else {
                for (int t : g.tables) w.Put(uint32_t(t), 5);
                w.Put(uint32_t(g.region0), 4);
                w.Put(uint32_t(g.region1), 3);
            }
            w.Put(0, f.lsf ? 2 : 3);  // (preflag,) scalefac_scale, count1table_select
        }
    const size_t frameBytes = f.lsf ? 208 : 417;
    std::vector<uint8_t> out = w.Take(frameBytes);
    const size_t sideEnd = 4 + (f.lsf ? (channels == 1 ? 9 : 17) : (channels == 1 ? 17 : 32));
    for (size_t i = 0; i < f.mainData.size() && sideEnd + i < frameBytes; ++i)
        out[sideEnd + i] = f.mainData[i];
    return out;
}

std::vector<uint8_t> Stream(const std::vector<FrameSpec>& frames) {
    std::vector<uint8_t> s;
    for (const auto& f : frames) {
        const std::vector<uint8_t> b = BuildFrame(f);
        s.insert(s.end(), b.begin(), b.end());
    }
    return s;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> b(n);
    for (auto& v : b) v = uint8_t(rng());
    return b;
}

}  // namespace

// Granules with part2_3_length 0 give silence, a full frame of it.
TEST(SyntheticFrames, EmptyGranules_GiveSilence) {
    const Decoded d = DecodeAll(Stream(std::vector<FrameSpec>(5)));
    EXPECT_EQ(d.decodedFrames(), 5);
    ASSERT_EQ(d.pcm.size(), 5u * 1152);
    for (int16_t s : d.pcm) ASSERT_EQ(s, 0);
}

// A granule with window switching and block type 0 abandons its frame with -5; the context
// stays usable and the following frames decode.
TEST(SyntheticFrames, SplitBlockTypeZero_FrameAbandoned) {
    std::vector<FrameSpec> frames(6);
    frames[2].gr[1][0].windowSwitching = 1;
    frames[2].gr[1][0].blockType = 0;
    const Decoded d = DecodeAll(Stream(frames));
    ASSERT_EQ(d.calls.size(), 8u);  // locate, 6 frames, end
    EXPECT_EQ(d.calls[3].status, kMpegDecBadSideInfo);
    EXPECT_EQ(d.calls[4].status, 0);
    EXPECT_EQ(d.calls[4].samples, 1152);
    EXPECT_EQ(d.decodedFrames(), 5);
    EXPECT_EQ(d.lastStatus, kMpegDecEndOfData);
}

// big_values up to 511 and part2_3_length up to 4095 over noise never write past line 576,
// with escape tables too, and decoding goes on.
TEST(SyntheticFrames, OversizedBigValues_StayInside) {
    std::vector<FrameSpec> frames(4);
    for (size_t i = 0; i < frames.size(); ++i) {
        for (auto& gr : frames[i].gr)
            for (auto& g : gr) {
                g.part23 = 1500;
                g.bigValues = 511;
                g.globalGain = 140;
                g.tables[0] = 24;
                g.tables[1] = 15;
                g.tables[2] = 31;
                g.region0 = 15;
                g.region1 = 7;  // region boundary index past the band table
            }
        frames[i].mainData = Noise(396, uint32_t(i));
    }
    const Decoded d = DecodeAll(Stream(frames));
    EXPECT_EQ(d.decodedFrames(), 4);
    EXPECT_EQ(d.lastStatus, kMpegDecEndOfData);
}

// Short and mixed blocks over noise, MPEG-1 and LSF, with intensity stereo including the LSF
// scalefac_compress values 510 and 511 that name no partition row.
TEST(SyntheticFrames, ShortMixedIntensity_Decode) {
    for (bool lsf : {false, true}) {
        std::vector<FrameSpec> frames(6);
        for (size_t i = 0; i < frames.size(); ++i) {
            FrameSpec& f = frames[i];
            f.lsf = lsf;
            f.stereo = true;
            f.modeExt = 3;  // intensity and MS
            for (auto& gr : f.gr)
                for (int ch = 0; ch < 2; ++ch) {
                    Granule& g = gr[ch];
                    g.part23 = 500;
                    g.bigValues = 100;
                    g.globalGain = 150;
                    g.windowSwitching = 1;
                    g.blockType = 2;
                    g.mixed = int(i % 2);
                    g.tables[0] = 7;
                    g.tables[1] = 13;
                    g.compress = lsf ? (ch == 1 ? 510 + int(i % 2) : 300) : 5;
                }
            f.mainData = Noise(lsf ? 187 : 396, uint32_t(100 + i));
        }
        const Decoded d = DecodeAll(Stream(frames));
        EXPECT_EQ(d.decodedFrames(), 6) << (lsf ? "LSF" : "MPEG-1");
        EXPECT_EQ(d.calls[1].samples, lsf ? 576 : 1152);
        EXPECT_EQ(d.calls[1].channels, 2);
    }
}
