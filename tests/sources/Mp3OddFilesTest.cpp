// Files as they come from the wild: junk before the first frame, files of a frame or two,
// damage in the middle, and the encoder's delay and padding that must not be played.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

#include "Mp3Fixtures.h"
#include "platform/ui/UserInteraction.h"

using namespace tunara;
using namespace tunara::testing;

namespace {

struct Opened {
    bool ok = false;
    int durationMs = 0;
    std::vector<int16_t> pcm;
    size_t frames = 0;
    bool error = false;  // the source had something to tell the user
};

Opened PlayAll(const std::string& path) {
    Opened o;
    TestMp3Source s(path);
    if (s.LoadInfo() == 0 || s.OpenStream() == 0) return o;
    o.ok = true;
    o.pcm = ReadToEnd(s);
    o.durationMs = s.GetDuration();
    o.frames = Mp3SourceProbe::FrameIndex(s).size();
    s.CloseStream();
    o.error = s.TakeError().has_value();
    return o;
}

// The bytes of whole audio frames [first, first + count) of a file.
Bytes Frames(const std::string& path, size_t first, size_t count) {
    TestMp3Source s(path);
    EXPECT_EQ(s.LoadInfo(), 1);
    EXPECT_EQ(s.OpenStream(), 1);
    const auto index = Mp3SourceProbe::FrameIndex(s);
    const Bytes all = ReadAll(path);
    EXPECT_LT(first + count, index.size());
    return Bytes(all.begin() + index[first], all.begin() + index[first + count]);
}

}  // namespace

// A LAME file plays exactly its source's samples: summary frame, delay and padding left out.
TEST(Mp3OddFiles, EncoderDelayAndPadding_SourceLength) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    const struct {
        const char* name;
        long samples;  // per channel in the source
        int channels;
    } files[] = {{"cbr", 40L * 44100, 2},
                 {"vbr", 40L * 44100, 2},
                 {"lsf", 6L * 22050, 2},
                 {"mono", 3L * 44100, 1}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const Opened o = PlayAll(Mp3Files::Get()[f.name]);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(long(o.pcm.size()), f.samples * f.channels);
        EXPECT_NEAR(o.durationMs, f.samples * 1000 / (f.name[0] == 'l' ? 22050 : 44100), 1);
        EXPECT_FALSE(o.error);
    }
}

// LAME files of two and three audio frames (the summary frame besides) play exactly their
// source, as mpg123 decodes them.
TEST(Mp3OddFiles, ShortLameFiles_SourceLengthAndMpg123) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    TUNARA_SKIP_IF_MISSING(!HaveTool("mpg123"), "mpg123");
    TempDir dir;
    for (const int samples : {1, 900, 1100, 2000}) {
        SCOPED_TRACE(samples);
        const std::string wav = dir.File("short.wav"), mp3 = dir.File("short.mp3");
        ASSERT_TRUE(tunara::testing::Run("sox -r 44100 -c 2 -n -b 16 " + wav + " synth " +
                                         std::to_string(samples) + "s sine 440 sine 660 vol 0.5"));
        ASSERT_TRUE(tunara::testing::Run("lame --quiet -b 128 " + wav + " " + mp3));
        ASSERT_TRUE(tunara::testing::Run("sh -c 'mpg123 -q -s " + mp3 + " > " + mp3 + ".raw'"));
        const Bytes raw = ReadAll(mp3 + ".raw");
        const Opened o = PlayAll(mp3);
        ASSERT_TRUE(o.ok);
        EXPECT_LE(o.frames, 3u);
        ASSERT_EQ(o.pcm.size(), size_t(samples) * 2);
        ASSERT_EQ(raw.size(), o.pcm.size() * 2);
        double error = 0;
        for (size_t i = 0; i < o.pcm.size(); ++i) {
            const double d = o.pcm[i] - int16_t(raw[2 * i] | raw[2 * i + 1] << 8);
            error += d * d;
        }
        const double mse = error / double(o.pcm.size());
        EXPECT_TRUE(mse == 0 || 10 * std::log10(32767.0 * 32767.0 / mse) > 90) << mse;
    }
}

// After a seek the rest is the whole stream's from that position, to the sample and to the
// end: the bit reservoir and the filter bank are warmed up from earlier frames, also for the
// one-granule frames of MPEG-2 and in the last frames of a file.
TEST(Mp3OddFiles, SeekIsSampleExact) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    for (const char* name : {"vbr", "lsf", "mono"}) {
        SCOPED_TRACE(name);
        TestMp3Source s(Mp3Files::Get()[name]);
        ASSERT_EQ(s.LoadInfo(), 1);
        ASSERT_EQ(s.OpenStream(), 1);
        const std::vector<int16_t> all = ReadToEnd(s);
        const long channels = s.GetChannels();
        const long total = long(all.size()) / channels;
        const long L = Mp3SourceProbe::FrameSamples(s);
        std::vector<long> targets = {0, 1, 1104, 1105, 5000, 12345, total / 2 + 7};
        for (long back = 6 * L + 3; back > 0; back -= 131) targets.push_back(total - back);
        targets.push_back(total - 1);
        for (const long target : targets) {
            SCOPED_TRACE(target);
            ASSERT_EQ(s.SeekFrame(uint32_t(target)), uint32_t(target));
            // Near the end everything that is left, elsewhere a stretch of it.
            const bool toEnd = total - target <= 6 * L + 4;
            const long n = toEnd ? total - target : 2000;
            std::vector<int16_t> part(size_t(n) * size_t(channels));
            if (toEnd)
                part = ReadToEnd(s);
            else
                ASSERT_EQ(s.ReadFrames(part.data(), int(n)), n);
            ASSERT_EQ(long(part.size()), n * channels);
            EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + target * channels));
        }
        EXPECT_EQ(s.SeekFrame(uint32_t(total + 5)), uint32_t(total));
        std::vector<int16_t> part(100 * 2);
        EXPECT_EQ(s.ReadFrames(part.data(), 100), 0);
        EXPECT_FALSE(s.TakeError());
        s.CloseStream();
    }
}

// Junk before the first frame (no ID3v2 tag) is searched past when later headers confirm the
// frame found; beyond 64 KiB it is not.
TEST(Mp3OddFiles, JunkBeforeFirstFrame) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    TempDir dir;
    const Bytes good = ReadAll(Mp3Files::Get()["v1"]);
    const Opened reference = PlayAll(Mp3Files::Get()["v1"]);
    std::mt19937 rng(7);
    Bytes junk(700);
    for (auto& b : junk) b = uint8_t(rng());
    // A lone false sync in the junk must not be taken for the start.
    junk[100] = 0xFF, junk[101] = 0xFB, junk[102] = 0x90;
    const Opened o = PlayAll(dir.Write("junk.mp3", Cat({junk, good})));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.pcm, reference.pcm);
    EXPECT_FALSE(o.error);
    TestMp3Source far(dir.Write("far.mp3", Cat({Bytes(70 * 1024, 0x55), good})));
    EXPECT_EQ(far.LoadInfo(), 0);
    EXPECT_TRUE(far.TakeError());
}

// One or two frames, alone or followed by a tag, are a stream, and they play: the first frame
// decodes as it does when a second one follows.
TEST(Mp3OddFiles, OneOrTwoFrames) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    TempDir dir;
    const std::string cbr = Mp3Files::Get()["cbr"];
    Bytes v1(128, 0);
    std::copy_n("TAG", 3, v1.begin());
    const Bytes ape = Cat({B("APETAGEX"), Bytes(24, 0)});
    std::vector<int16_t> firstFrame;
    for (size_t count : {size_t(2), size_t(1)}) {
        for (const Bytes* tail : std::initializer_list<const Bytes*>{nullptr, &v1, &ape}) {
            SCOPED_TRACE(std::to_string(count) + (tail ? " with a tag" : " alone"));
            // The first audio frame's main data starts in the frame itself.
            Bytes file = Frames(cbr, 0, count);
            if (tail) file = Cat({file, *tail});
            const Opened o = PlayAll(dir.Write("short.mp3", file));
            ASSERT_TRUE(o.ok);
            EXPECT_EQ(o.frames, count);
            ASSERT_EQ(o.pcm.size(), count * 1152 * 2);
            if (firstFrame.empty()) firstFrame.assign(o.pcm.begin(), o.pcm.begin() + 1152 * 2);
            EXPECT_TRUE(std::equal(firstFrame.begin(), firstFrame.end(), o.pcm.begin()));
            EXPECT_FALSE(o.error);
        }
    }
    EXPECT_GT(*std::max_element(firstFrame.begin(), firstFrame.end()), 200);
    // A tag alone is not.
    TestMp3Source s(dir.Write("tagonly.mp3", Cat({Tag(3, 0, Frame23("TIT2", Latin1("x"))), v1})));
    EXPECT_EQ(s.LoadInfo(), 0);
}

// A stretch cut out of the middle or overwritten: the scan finds the stream again, so the
// duration holds what is there and the last seconds can still be reached.
TEST(Mp3OddFiles, DamageInTheMiddle_ScanGoesOn) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    TempDir dir;
    const Bytes good = ReadAll(Mp3Files::Get()["cbr"]);
    const Opened whole = PlayAll(Mp3Files::Get()["cbr"]);
    Bytes cut = Cat({Bytes(good.begin(), good.begin() + 300000 + 123),
                     Bytes(good.begin() + 500000, good.end())});
    Bytes garbage = good;
    std::mt19937 rng(3);
    for (size_t i = 300000; i < 320000; ++i) garbage[i] = uint8_t(rng());
    for (const auto& [name, bytes, lost] :
         {std::tuple{"cut", cut, 200000L}, std::tuple{"garbage", garbage, 20000L}}) {
        SCOPED_TRACE(name);
        TestMp3Source s(dir.Write(std::string(name) + ".mp3", bytes));
        ASSERT_EQ(s.LoadInfo(), 1);
        ASSERT_EQ(s.OpenStream(), 1);
        // 128 kbit/s: 16 bytes a millisecond.
        EXPECT_NEAR(s.GetDuration(), whole.durationMs - lost / 16, 60);
        const uint32_t nearEnd = uint32_t(s.GetDuration() - 500) * 441 / 10;
        EXPECT_EQ(s.SeekFrame(nearEnd), nearEnd);
        std::vector<int16_t> tail = ReadToEnd(s);
        EXPECT_NEAR(double(tail.size()) / 2, 0.5 * 44100, 1152 * 2);
        // The end is the end of the original, sample for sample.
        ASSERT_GE(whole.pcm.size(), tail.size());
        EXPECT_TRUE(std::equal(tail.end() - 20000, tail.end(), whole.pcm.end() - 20000));
        s.CloseStream();
    }
}
