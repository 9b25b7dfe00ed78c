// The whole Layer III family, damaged and joined streams, and the lengths the player and the
// file list show, against mpg123 as a black box. Fixtures are made here with sox and lame.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Mp3Fixtures.h"
#include "engine/testing/EngineTesting.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/SourceFactory.h"

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

namespace {

Bytes Insert(Bytes file, size_t at, size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes noise(count);
    for (auto& b : noise) b = uint8_t(rng());
    file.insert(file.begin() + long(at), noise.begin(), noise.end());
    return file;
}

// Whole frames of `damaged` that differ from `clean` by more than a step.
int FramesDiffering(const Played& clean, const Played& damaged) {
    const size_t block = 1152 * size_t(clean.channels);
    int differing = 0;
    for (size_t f = 0; (f + 1) * block <= std::min(clean.pcm.size(), damaged.pcm.size()); ++f)
        for (size_t i = f * block; i < (f + 1) * block; ++i)
            if (std::abs(clean.pcm[i] - damaged.pcm[i]) > 1) {
                ++differing;
                break;
            }
    return differing;
}

}  // namespace

// Random bytes inside a CBR file (false sync words among them) are searched past: the item
// plays to its end at its full length, loses only the frames next to the damage, and the list
// shows the length played.
TEST(Mp3Damage, RandomBytesInside_PlayToFullLength) {
    TUNARA_SKIP_IF_MISSING(!HaveTools(), "sox, lame or mpg123");
    TempDir dir;
    const std::string base = Encode(dir, "base", 44100, 2, 10, "-b 128");
    ASSERT_FALSE(base.empty());
    const Played clean = Play(base);
    const Bytes file = ReadAll(base);
    for (size_t kib : {1, 3, 16, 64})
        for (unsigned seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(std::to_string(kib) + " KiB, seed " + std::to_string(seed));
            const Played p = Play(
                dir.Write("damaged.mp3", Insert(file, file.size() / 2 + seed, kib * 1024, seed)));
            ASSERT_EQ(p.loaded, 1);
            EXPECT_NEAR(double(p.frames()), double(clean.frames()), 1152.0);
            EXPECT_NEAR(p.infoMs, clean.infoMs, FrameMs(44100));
            const int lost = FramesDiffering(clean, p);
            std::printf("%2zu KiB seed %u: %d frames differ\n", kib, seed, lost);
            EXPECT_LE(lost, 4);
        }
}

// Two encodes at different rates joined: the first part plays, then the stream says where the
// rate changes and goes on at the second part's rate; nothing is dropped.
TEST(Mp3Damage, RateChange_DecodedThrough) {
    TUNARA_SKIP_IF_MISSING(!HaveTools(), "sox, lame or mpg123");
    TempDir dir;
    const std::string a = Encode(dir, "a", 44100, 2, 3, "-b 128");
    const std::string b = Encode(dir, "b", 22050, 1, 2, "-b 48");
    ASSERT_FALSE(a.empty() || b.empty());
    const std::string joined = dir.Write("joined.mp3", Cat({ReadAll(a), ReadAll(b)}));
    TestMp3Source s(joined);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_NEAR(s.GetDuration(), 5000, 60);
    ASSERT_EQ(s.OpenStream(), 1);
    EXPECT_EQ(s.GetSampleRate(), 44100);
    const int64_t change = s.FormatChangeAt();
    EXPECT_NEAR(double(change), 3 * 44100, 1152);
    const std::vector<int16_t> first = ReadToEnd(s);
    EXPECT_EQ(int64_t(first.size()), change * 2);
    ASSERT_TRUE(s.NextPart());
    EXPECT_EQ(s.GetSampleRate(), 22050);
    EXPECT_EQ(s.GetChannels(), 1);
    EXPECT_EQ(s.FormatChangeAt(), -1);
    EXPECT_NEAR(double(ReadToEnd(s).size()), 2 * 22050, 2 * 576);
    EXPECT_FALSE(s.NextPart());
}

// Zeros after the audio (a sparse gigabyte, or written ones) are no audio: the list shows the
// length the player plays.
TEST(Mp3Damage, ZeroTail_NotCounted) {
    TUNARA_SKIP_IF_MISSING(!HaveTools(), "sox, lame or mpg123");
    TempDir dir;
    // No encoder summary: the length is counted, and zeros must not count.
    const std::string base = Encode(dir, "base", 44100, 2, 4, "-b 128 -t");
    ASSERT_FALSE(base.empty());
    const Played clean = Play(base);
    const std::string written = dir.Write("written.mp3", Cat({ReadAll(base), Bytes(3 << 20, 0)}));
    const std::string sparse = dir.Write("sparse.mp3", ReadAll(base));
    std::filesystem::resize_file(sparse, 1ull << 30);
    for (const std::string& path : {written, sparse}) {
        SCOPED_TRACE(path);
        const Played p = Play(path);
        EXPECT_NEAR(p.infoMs, clean.infoMs, FrameMs(44100));
        EXPECT_NEAR(double(p.frames()), double(clean.frames()), 1152.0);
    }
}

// Layer I/II audio named ".mp3" is recognised by its content and left to the media framework;
// Layer III files (MPEG-2.5 too) stay ours.
TEST(Mp3Layer12, LayerTwoInMp3_GoesToMediaFramework) {
    TUNARA_SKIP_IF_MISSING(!HaveTools() || !HaveTool("ffmpeg"), "sox, lame, mpg123 or ffmpeg");
    TempDir dir;
    const std::string m25 = Encode(dir, "m25", 8000, 1, 2, "-b 16");
    ASSERT_FALSE(m25.empty());
    for (const char* args : {"-ar 44100 -b:a 192k", "-ar 22050 -ac 1 -b:a 64k"}) {
        SCOPED_TRACE(args);
        const std::string l2 = dir.File("l2.mp3");
        ASSERT_TRUE(tunara::testing::Run("ffmpeg -y -i " + dir.File("m25.wav") + " -c:a mp2 " +
                                         args + " -f mp2 " + l2));
        MpegHeaderWord w = 0;
        EXPECT_TRUE(IsMpegLayer12File(l2, &w));
        EXPECT_EQ(mpegHeaderLayerCode(w), 2);
        EXPECT_GT(mpegStreamLayer12Bitrate(w), 0);
        EXPECT_TRUE(NeedsMediaToolbox(l2));
        EXPECT_EQ(
            dynamic_cast<Mp3Source*>(CreateSourceFor(tunara::testing::TestEngine(), l2).get()),
            nullptr);
    }
    EXPECT_FALSE(IsMpegLayer12File(m25));
    EXPECT_FALSE(NeedsMediaToolbox(m25));
    EXPECT_NE(dynamic_cast<Mp3Source*>(CreateSourceFor(tunara::testing::TestEngine(), m25).get()),
              nullptr);
}
