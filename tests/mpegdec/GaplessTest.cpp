// Files from an encoder decode to exactly their source's samples: the summary frame left out,
// the encoder's delay and padding trimmed, as `tunara-cli decode` and the player do it.
#include <gtest/gtest.h>

#include "DecodeHelpers.h"
#include "TestTools.h"
#include "mpegdec/mpegstream.h"

using namespace mpegtest;

namespace {

struct Trimmed {
    std::vector<int16_t> pcm;
    int channels = 0;
    int64_t frames = 0;
};

// The stream's audio frames decoded and cut to the trim; every frame at the first's channels.
Trimmed DecodeTrimmed(const std::vector<uint8_t>& file) {
    Trimmed t;
    MpegStreamLayout layout;
    if (!mpegStreamLayout(file.data(), file.size(), &layout)) return t;
    const std::vector<uint8_t> audio(file.begin() + layout.audioFrame, file.end());
    const Decoded d = DecodeAll(audio);
    t.channels = mpegHeaderChannels(layout.first);
    t.frames = layout.frames;
    const MpegStreamTrim trim =
        mpegStreamTrim(layout.frames, mpegHeaderSamplesPerFrame(layout.first),
                       layout.summary.encoderDelay, layout.summary.encoderPadding);
    const size_t from = size_t(trim.skip) * size_t(t.channels);
    const size_t to = std::min(d.pcm.size(), size_t(trim.skip + trim.keep) * size_t(t.channels));
    if (from < to) t.pcm.assign(d.pcm.begin() + ptrdiff_t(from), d.pcm.begin() + ptrdiff_t(to));
    return t;
}

std::vector<int16_t> Mpg123(const std::string& mp3) {
    const std::string out = mp3 + ".mpg123.raw";
    if (!RunCommand("mpg123 -q -s '" + mp3 + "' > '" + out + "' 2>/dev/null")) return {};
    return ReadPcm(out);
}

struct Case {
    const char* name;
    int rate;
    int channels;
    int samples;  // per channel in the source
    const char* lameArgs;
};

class Gapless : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Gapless, SourceLengthAndMpg123AtOffsetZero) {
    TUNARA_SKIP_IF_MISSING(!HaveTool("lame") || !HaveTool("mpg123"), "lame or mpg123");
    const Case& c = GetParam();
    const std::string wav = WriteSignalWav(std::string(c.name) + ".wav", c.rate, c.channels,
                                           (c.samples + 0.5) / c.rate, true);
    const std::string mp3 = Lame(wav, std::string(c.name) + ".mp3", c.lameArgs);
    ASSERT_FALSE(mp3.empty());
    const Trimmed t = DecodeTrimmed(ReadFile(mp3));
    ASSERT_EQ(t.channels, c.channels);
    EXPECT_EQ(t.pcm.size(), size_t(c.samples) * size_t(c.channels));
    if (c.samples < 3000) {
        EXPECT_LE(t.frames, 3);
    }
    const std::vector<int16_t> ref = Mpg123(mp3);
    ASSERT_EQ(ref.size(), t.pcm.size());
    const Comparison cmp = Compare(t.pcm.data(), ref.data(), ref.size());
    EXPECT_GE(cmp.psnr, 90.0) << "max diff " << cmp.maxDiff;
}

INSTANTIATE_TEST_SUITE_P(LameFiles, Gapless,
                         ::testing::Values(Case{"cbr", 44100, 2, 220500 + 77, "-b 128"},
                                           Case{"vbr", 44100, 2, 176400 + 1001, "-V 2"},
                                           Case{"mono", 44100, 1, 100000, "-b 96 -m m"},
                                           Case{"lsf22k", 22050, 2, 66150 + 13, "-b 64"},
                                           Case{"oneframe", 44100, 2, 100, "-b 128"},
                                           Case{"twoframes", 44100, 2, 1200, "-b 128"},
                                           Case{"threeframes", 44100, 1, 2000, "-b 64 -m m"}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(MpegStream, TrimAndSmpb) {
    // Delay 576 + the decoder's 529 skipped; the rest but the padding kept.
    MpegStreamTrim t = mpegStreamTrim(100, 1152, 576, 1000);
    EXPECT_EQ(t.skip, 576 + MPEG_STREAM_DECODER_DELAY);
    EXPECT_EQ(t.keep, 100 * 1152 - 576 - 1000);
    // Not given, or nonsense: everything plays.
    t = mpegStreamTrim(100, 1152, -1, -1);
    EXPECT_EQ(t.skip, 0);
    EXPECT_EQ(t.keep, 115200);
    t = mpegStreamTrim(1, 1152, 4000, 4000);
    EXPECT_EQ(t.keep, 1152);

    int32_t delay = 0, padding = 0;
    ASSERT_EQ(mpegStreamParseSmpb(" 00000000 00000840 000001CA 00000000003F1A36 00000000", &delay,
                                  &padding),
              1);
    EXPECT_EQ(delay, 0x840);
    EXPECT_EQ(padding, 0x1CA);
    EXPECT_EQ(mpegStreamParseSmpb(" 00000000 zz", &delay, &padding), 0);
    EXPECT_EQ(mpegStreamParseSmpb("", &delay, &padding), 0);
}
