#include "mpeg/Header.h"

#include <gtest/gtest.h>

#include "mpeg/HuffmanCodes.h"
#include "mpeg/Tables.h"

namespace {

TEST(MpegHeader, StreamBytesGiveRatesAndFrameSize) {
    // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, padded, joint stereo.
    const uint8_t b[4] = {0xFF, 0xFB, 0x92, 0x40};
    ASSERT_TRUE(mpeg::IsLayer3Sync(b));
    const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(b), 0);
    EXPECT_EQ(mpegHeaderSampleRate(w), 44100);
    EXPECT_EQ(mpegHeaderBitrate(w), 128000);
    EXPECT_EQ(mpegHeaderFrameBytes(w), 418);
    EXPECT_EQ(mpegHeaderChannels(w), 2);
    EXPECT_EQ(mpeg::SideInfoBytes(mpegHeaderId(w), 2), 32);

    // LSF 24 kHz, 8 kbit/s, mono.
    const uint8_t lsf[4] = {0xFF, 0xF3, 0x14, 0xC0};
    ASSERT_TRUE(mpeg::IsLayer3Sync(lsf));
    const MpegHeaderWord l = mpegHeaderFromStream(mpeg::StreamBits(lsf), 0);
    EXPECT_EQ(mpegHeaderSampleRate(l), 24000);
    EXPECT_EQ(mpegHeaderSamplesPerFrame(l), 576);
    EXPECT_EQ(mpeg::SideInfoBytes(mpegHeaderId(l), 1), 9);
}

TEST(MpegHeader, RefusedIndicesGiveZero) {
    EXPECT_EQ(mpeg::SampleRate(1, 3), 0);
    EXPECT_EQ(mpeg::Bitrate(1, 15), 0);
    EXPECT_EQ(mpeg::FrameLengthNoPadding(1, 0, 0), 0);  // free format
    const uint8_t layer2[4] = {0xFF, 0xFD, 0x90, 0x00};
    EXPECT_FALSE(mpeg::IsLayer3Sync(layer2));
}

TEST(MpegTables, BandsEndAtGranuleAndHuffmanTablesAreConsistent) {
    for (const auto& byId : mpeg::kBands)
        for (const mpeg::BandTable& t : byId) {
            EXPECT_EQ(t.l[22], 576);
            EXPECT_EQ(t.s[13], 192);
        }
    for (const mpeg::HuffmanCodeTable& t : mpeg::kHuffmanCodeTables)
        EXPECT_EQ(t.codes == nullptr, t.lengths == nullptr);
}

}  // namespace
