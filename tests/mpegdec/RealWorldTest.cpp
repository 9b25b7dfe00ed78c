// Files made with lame from generated signals decode like mpg123 decodes them.
#include <gtest/gtest.h>

#include "DecodeHelpers.h"
#include "TestTools.h"

using namespace mpegtest;

namespace {

struct Case {
    const char* name;
    int rate;
    int channels;
    const char* lameArgs;
};

std::vector<int16_t> Mpg123(const std::string& mp3) {
    const std::string out = mp3 + ".mpg123.raw";
    if (!RunCommand("mpg123 -q -s '" + mp3 + "' > '" + out + "' 2>/dev/null")) return {};
    return ReadPcm(out);
}

class RealWorld : public ::testing::TestWithParam<Case> {};

}  // namespace

// Within 96 dB PSNR and one step of mpg123's 16-bit output after lining up the start (mpg123 drops
// the info frame and the encoder delay).
TEST_P(RealWorld, MatchesMpg123) {
    TUNARA_SKIP_IF_MISSING(!HaveTool("lame") || !HaveTool("mpg123"), "lame or mpg123");
    const Case& c = GetParam();
    // Long enough for the alignment window at the lowest rates too.
    const double seconds = std::max(4.0, 80000.0 / (c.rate * c.channels));
    const std::string wav =
        WriteSignalWav(std::string(c.name) + ".wav", c.rate, c.channels, seconds, true);
    const std::string mp3 = Lame(wav, std::string(c.name) + ".mp3", c.lameArgs);
    ASSERT_FALSE(mp3.empty());
    const Decoded d = DecodeAll(ReadFile(mp3));
    ASSERT_EQ(d.lastStatus, kMpegDecEndOfData);
    const std::vector<int16_t> ref = Mpg123(mp3);
    ASSERT_FALSE(ref.empty());
    const int channels = d.calls.size() > 1 ? d.calls[1].channels : 0;
    const long offset = BestOffset(d.pcm, ref, 4000L * channels, channels);
    const Comparison cmp = CompareAligned(d.pcm, ref, offset);
    std::printf("%-14s rate %5d ch %d offset %6ld samples, PSNR %.2f dB, max diff %d\n", c.name,
                d.rate, channels, offset / channels, cmp.psnr, cmp.maxDiff);
    EXPECT_GE(cmp.psnr, 96.0);
    EXPECT_LE(cmp.maxDiff, 1);
    EXPECT_GT(cmp.compared, ref.size() * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(
    LameFiles, RealWorld,
    ::testing::Values(Case{"cbr32", 32000, 2, "-b 32 --resample 32"},
                      Case{"cbr64", 44100, 2, "-b 64 --resample 44.1 -m s"},
                      Case{"cbr128js", 44100, 2, "-b 128 -m j"}, Case{"cbr192", 48000, 2, "-b 192"},
                      Case{"cbr320", 44100, 2, "-b 320"}, Case{"vbr2", 44100, 2, "-V 2"},
                      Case{"vbr6", 32000, 2, "-V 6"}, Case{"mono96", 44100, 1, "-b 96 -m m"},
                      Case{"lsf16k", 16000, 2, "-b 32"}, Case{"lsf22k", 22050, 2, "-b 64"},
                      Case{"lsf24kmono", 24000, 1, "-b 40 -m m"},
                      Case{"lsf24kvbr", 24000, 2, "-V 4"},
                      // MPEG-2.5 rates, and free format (no bit rate in the headers).
                      Case{"m25_8k", 8000, 2, "-b 16"}, Case{"m25_11kvbr", 11025, 2, "-V 5"},
                      Case{"m25_12kmono", 12000, 1, "-b 24 -m m"},
                      Case{"m25_8kmonovbr", 8000, 1, "-V 7 -m m"},
                      Case{"free640", 44100, 2, "--freeformat -b 640"},
                      Case{"free32k", 32000, 2, "--freeformat -b 400"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
