// The encoder summaries of a stream's first frame.
#include "mpegdec/mpegstream.h"

#include <gtest/gtest.h>

#include "DecodeHelpers.h"
#include "TestTools.h"

using namespace mpegtest;

namespace {

TEST(MpegStream, LameVbrSummaryWithDelay) {
    const std::string wav = WriteSignalWav("summary.wav", 44100, 2, 2.0);
    const std::string mp3 = Lame(wav, "summary-vbr.mp3", "-V 4");
    TUNARA_SKIP_IF_MISSING(mp3.empty(), "lame");
    const std::vector<uint8_t> b = ReadFile(mp3);
    MpegStreamSummary s;
    ASSERT_EQ(mpegStreamReadSummary(b.data(), b.size(), &s), 1);
    EXPECT_EQ(s.variable, 1);
    EXPECT_EQ(s.bytes, int64_t(b.size()));
    // 2 s at 44.1 kHz with the encoder's delay and padding: about 78 frames.
    EXPECT_NEAR(double(s.frames), 2.0 * 44100 / 1152, 3);
    EXPECT_GT(s.encoderDelay, 0);
    // The count leaves out the summary frame; delay, audio and padding fill the rest.
    EXPECT_EQ(s.frames * 1152, int64_t(s.encoderDelay) + 88200 + s.encoderPadding);
}

TEST(MpegStream, VbriAndNone) {
    std::vector<uint8_t> f(MPEG_STREAM_SUMMARY_PROBE_BYTES, 0);
    const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x00};  // MPEG-1, 128 kbit/s, stereo
    std::copy(header, header + 4, f.begin());
    MpegStreamSummary s;
    EXPECT_EQ(mpegStreamReadSummary(f.data(), f.size(), &s), 0);
    EXPECT_EQ(s.frames, 0);
    EXPECT_EQ(s.encoderDelay, -1);
    const uint8_t vbri[18] = {'V', 'B', 'R', 'I', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 42};
    std::copy(vbri, vbri + 18, f.begin() + 36);
    f[36 + 12] = 0x10;  // bytes: 0x00011000
    ASSERT_EQ(mpegStreamReadSummary(f.data(), f.size(), &s), 1);
    EXPECT_EQ(s.variable, 1);
    EXPECT_EQ(s.frames, 42);
    EXPECT_EQ(s.bytes, 0x00011000);
    // Too short to hold the block, or not a frame at all.
    EXPECT_EQ(mpegStreamReadSummary(f.data(), 40, &s), 0);
    f[0] = 0;
    EXPECT_EQ(mpegStreamReadSummary(f.data(), f.size(), &s), 0);
}

}  // namespace
