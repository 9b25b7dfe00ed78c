// The whole Layer III family, damaged and joined streams, and the lengths the player and the
// file list show, against mpg123 as a black box. Fixtures are made here with sox and lame.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Mp3Fixtures.h"
#include "platform/ui/UserInteraction.h"

using namespace tunara;
using namespace tunara::testing;

namespace {

bool HaveTools() {
    return HaveTool("sox") && HaveTool("lame") && HaveTool("mpg123");
}

// Noise with a slow swell (so that VBR rates move) encoded by lame; "" on failure.
std::string Encode(const TempDir& dir, const std::string& name, int rate, int channels,
                   double seconds, const std::string& lameArgs) {
    const std::string wav = dir.File(name + ".wav"), mp3 = dir.File(name + ".mp3");
    const bool ok =
        Run("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " +
            wav + " synth " + std::to_string(seconds) + " pinknoise vol 0.4 tremolo 0.5 60") &&
        Run("lame --quiet " + lameArgs + " " + wav + " " + mp3);
    return ok ? mp3 : "";
}

std::vector<int16_t> Mpg123(const std::string& mp3) {
    const std::string raw = mp3 + ".raw";
    if (!Run("mpg123 -q -O '" + raw + "' '" + mp3 + "'")) return {};
    const Bytes b = ReadAll(raw);
    std::vector<int16_t> pcm(b.size() / 2);
    std::memcpy(pcm.data(), b.data(), pcm.size() * 2);
    return pcm;
}

struct Played {
    int loaded = 0;
    int rate = 0, channels = 0, infoMs = 0, openMs = 0;
    std::vector<int16_t> pcm;
    size_t frames() const { return channels ? pcm.size() / size_t(channels) : 0; }
};

// What the file list shows (LoadInfo on a fresh item) and what the player plays.
Played Play(const std::string& path) {
    Played p;
    ScopedRecordingInteraction quiet;
    {
        TestMp3Source info(path);
        p.loaded = info.LoadInfo();
        p.infoMs = info.GetDuration();
    }
    TestMp3Source s(path);
    if (!s.LoadInfo() || !s.OpenStream()) return p;
    p.rate = s.GetSampleRate();
    p.channels = s.GetChannels();
    p.openMs = s.GetDuration();
    s.SetStateForTest(PlayState::Playing);
    p.pcm = ReadToEnd(s);
    s.SetStateForTest(PlayState::Stopped);
    return p;
}

// PSNR and largest difference of `ours` against `ref` after lining them up within a frame.
struct Match {
    double psnr = 0;
    int maxDiff = 1 << 16;
};
Match Compare(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref, int channels) {
    long best = 0;
    double bestErr = 1e300;
    for (long off = -1152L * channels; off <= 1152L * channels; off += channels) {
        double err = 0;
        for (size_t i = 4000; i < 8000 && i < ref.size(); ++i) {
            const long j = long(i) + off;
            if (j < 0 || size_t(j) >= ours.size()) {
                err = 1e300;
                break;
            }
            err += std::pow(double(ours[size_t(j)]) - ref[i], 2);
        }
        if (err < bestErr) bestErr = err, best = off;
    }
    Match m;
    m.maxDiff = 0;
    double se = 0;
    size_t n = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
        const long j = long(i) + best;
        if (j < 0 || size_t(j) >= ours.size()) continue;
        const int d = std::abs(int(ours[size_t(j)]) - ref[i]);
        m.maxDiff = std::max(m.maxDiff, d);
        se += double(d) * d;
        ++n;
    }
    m.psnr = se == 0 ? 200 : 10 * std::log10(32767.0 * 32767.0 * double(n) / se);
    return m;
}

int FrameMs(int rate) {
    return rate > 0 ? 1152 * 1000 / rate + 1 : 0;
}

struct FamilyCase {
    const char* name;
    int rate, channels;
    double seconds;
    const char* lame;
};

class Mp3Family : public ::testing::TestWithParam<FamilyCase> {};

}  // namespace

// MPEG-2.5 rates and free format play through the source like mpg123 plays them, and the list
// shows the length the player plays.
TEST_P(Mp3Family, PlaysLikeMpg123) {
    TUNARA_SKIP_IF_MISSING(!HaveTools(), "sox, lame or mpg123");
    const FamilyCase& c = GetParam();
    TempDir dir;
    const std::string mp3 = Encode(dir, c.name, c.rate, c.channels, c.seconds, c.lame);
    ASSERT_FALSE(mp3.empty());
    const Played p = Play(mp3);
    ASSERT_EQ(p.loaded, 1);
    EXPECT_EQ(p.rate, c.rate);
    const std::vector<int16_t> ref = Mpg123(mp3);
    ASSERT_FALSE(ref.empty());
    const Match m = Compare(p.pcm, ref, p.channels);
    std::printf("%-12s %5d Hz: PSNR %.2f dB, max diff %d, %zu vs %zu samples\n", c.name, p.rate,
                m.psnr, m.maxDiff, p.pcm.size(), ref.size());
    EXPECT_GE(m.psnr, 96.0);
    EXPECT_LE(m.maxDiff, 1);
    EXPECT_NEAR(double(p.pcm.size()), double(ref.size()), 1152.0 * p.channels);
    const int playedMs = int(p.frames() * 1000 / size_t(p.rate));
    EXPECT_NEAR(p.infoMs, playedMs, FrameMs(p.rate));
    EXPECT_NEAR(p.openMs, playedMs, FrameMs(p.rate));
}

INSTANTIATE_TEST_SUITE_P(
    Files, Mp3Family,
    ::testing::Values(FamilyCase{"m25_8k", 8000, 2, 6, "-b 16"},
                      FamilyCase{"m25_11k_vbr", 11025, 2, 6, "-V 5"},
                      FamilyCase{"m25_12k_mono", 12000, 1, 6, "-b 24 -m m"},
                      FamilyCase{"free640", 44100, 2, 4, "--freeformat -b 640"},
                      // No Xing or Info frame: the length comes from counting frames.
                      FamilyCase{"vbr_noxing", 44100, 2, 12, "-V 2 -t"},
                      FamilyCase{"cbr_noinfo", 44100, 2, 12, "-b 128 -t"}),
    [](const ::testing::TestParamInfo<FamilyCase>& info) { return std::string(info.param.name); });
