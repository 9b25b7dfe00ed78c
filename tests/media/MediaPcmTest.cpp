// Sound-only media decoded by the toolbox and played by our own output
// engine: what reaches the device is the decoded signal, joined without a gap
// to a follower and appended to what came before.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "MediaFixture.h"
#include "TestTools.h"
#include "engine/testing/EngineTesting.h"
#include "platform/audio/AudioDevice.h"
#include "platform/media/MediaToolbox.h"
#include "sources/MediaPcmSource.h"
#include "sources/SourceFactory.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tunara;

namespace {

using tunara::testing::Samples;
using tunara::testing::Shell;

class MediaPcm : public tunara::testing::MediaTest {
protected:
    static std::unique_ptr<MediaSource> Loaded(const std::string& path) {
        auto s = CreateSourceFor(tunara::testing::TestEngine(), path);
        s->SetLocation(path);
        EXPECT_EQ(s->LoadInfo(), 1) << path;
        return s;
    }
};

// WAV, MP3 and FLAC one after another into the file output: the WAV leads
// and the FLAC ends the capture sample for sample; the MP3 between them is
// all there (our decoder against mpg123, a frame or so apart at the ends).
TEST_F(MediaPcm, CaptureOfMixedListIsTheirConcatenation) {
    const auto wav = Make("a.wav", "sox -n -r 44100 -c 2 -b 16 OUT synth 0.5 sine 440 vol 0.5");
    const auto flac = Make("c.flac", "sox -n -r 44100 -c 2 -b 16 OUT synth 0.7 sine 660 vol 0.5");
    const auto mp3 = Make("b.mp3",
                          "sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.6 sine 550 vol 0.5 "
                          "| lame --quiet -b 192 - OUT");
    TUNARA_SKIP_IF_MISSING(wav.empty() || flac.empty() || mp3.empty(), "sox, lame");
    const std::string out = (Folder() / "heard.wav").string();
    setenv("TUNARA_AUDIO", ("file:" + out).c_str(), 1);
    for (const auto& path : {wav, mp3, flac}) {
        auto s = Loaded(path);
        ASSERT_EQ(s->Open(), 1) << path;
        s->Play();
        EXPECT_TRUE(PlayToEnd(*s)) << path;
        s->Close();
    }
    EXPECT_NE(
        dynamic_cast<MediaPcmSource*>(CreateSourceFor(tunara::testing::TestEngine(), flac).get()),
        nullptr);

    const auto a = Samples(wav), b = Samples(mp3), c = Samples(flac), heard = Samples(out);
    ASSERT_FALSE(a.empty() || b.empty() || c.empty());
    ASSERT_GE(heard.size(), a.size() + c.size());
    EXPECT_TRUE(std::equal(a.begin(), a.end(), heard.begin())) << "the WAV";
    EXPECT_TRUE(std::equal(c.begin(), c.end(), heard.end() - c.size())) << "the FLAC";
    const long middle = static_cast<long>(heard.size() - a.size() - c.size());
    EXPECT_NEAR(middle, static_cast<long>(b.size()), 2 * 1152 * 2) << "the MP3";
}

// One FLAC cut at an odd sample into two files plays, the second as the
// first's follower, through one device open as the uncut signal.
TEST_F(MediaPcm, SplitFlacPlaysBackUncut) {
    const auto whole =
        Make("whole.flac", "sox -n -r 44100 -c 2 -b 16 OUT synth 1.3 sine 300 sine 510 vol 0.6");
    TUNARA_SKIP_IF_MISSING(whole.empty(), "sox");
    const auto first = Make("first.flac", "sox '" + whole + "' OUT trim 0s 22051s");
    const auto second = Make("second.flac", "sox '" + whole + "' OUT trim 22051s");
    ASSERT_FALSE(first.empty() || second.empty());
    const std::string out = (Folder() / "joined.wav").string();
    int opens = 0;
    audio::SetDeviceFactory([&] {
        ++opens;
        return audio::CreateDevice("file:" + out);
    });
    auto a = Loaded(first);
    auto b = Loaded(second);
    auto* lead = dynamic_cast<MediaPcmSource*>(a.get());
    auto* next = dynamic_cast<MediaPcmSource*>(b.get());
    ASSERT_TRUE(lead && next);
    ASSERT_EQ(lead->Open(), 1);
    ASSERT_TRUE(tunara::testing::TestEngine().Enqueue(*next));
    lead->Play();
    EXPECT_TRUE(PlayToEnd(*lead));
    ASSERT_TRUE(tunara::testing::TestEngine().HandOver(*next));
    EXPECT_TRUE(PlayToEnd(*next));
    next->Close();
    lead->Close();
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(Samples(out), Samples(whole));
}

// The level meter follows a FLAC while it plays, and a seek lands on the
// frame asked for.
TEST_F(MediaPcm, MeterMovesAndSeekLands) {
    const auto flac = Make("tone.flac", "sox -n -r 48000 -c 1 -b 16 OUT synth 3 sine 440 vol 0.8");
    TUNARA_SKIP_IF_MISSING(flac.empty(), "sox");
    setenv("TUNARA_AUDIO", "null", 1);
    auto s = Loaded(flac);
    EXPECT_EQ(s->GetFormatName(), "FLAC");
    EXPECT_NEAR(s->GetDuration(), 3000, 20);
    ASSERT_EQ(s->Open(), 1);
    s->Play();
    EXPECT_TRUE(tunara::testing::Eventually(
        [&] {
            float l = 0, r = 0;
            s->GetLevels(l, r);
            return l > 0.5f;
        },
        20s, 20ms));
    s->Close();
    // AIFF is fed by a pushing source, whose seeks take another way.
    const auto aiff = Make("tone.aiff", "sox '" + flac + "' OUT");
    ASSERT_FALSE(aiff.empty());
    for (const auto& path : {flac, aiff}) {
        MediaPcmSource pcm(tunara::testing::TestEngine());
        pcm.SetLocation(path);
        ASSERT_EQ(pcm.OpenStream(), 1) << path;
        std::vector<int16_t> got(100);
        const auto all = Samples(flac);
        for (const uint32_t frame : {96001u, 7u}) {
            EXPECT_EQ(pcm.SeekFrame(frame), frame) << path;
            ASSERT_EQ(pcm.ReadFrames(got.data(), 100), 100) << path;
            ASSERT_GT(all.size(), frame + 100u);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + frame)) << path << frame;
        }
        pcm.CloseStream();
    }
}

// Sound alone goes to our engine; whatever carries pictures stays with the
// toolbox's player.
TEST_F(MediaPcm, SoundOnlyMediaAreToldFromMovies) {
    const std::string tone = "-f lavfi -i sine=frequency=440:duration=0.3";
    const std::string picture = "-f lavfi -i testsrc=size=32x32:rate=5:duration=0.3";
    const struct {
        const char* name;
        std::string command;
        bool soundOnly;
    } cases[] = {
        {"s.flac", "ffmpeg -v error " + tone + " OUT", true},
        {"s.ogg", "ffmpeg -v error " + tone + " -c:a libvorbis OUT", true},
        {"s.opus", "ffmpeg -v error " + tone + " -c:a libopus OUT", true},
        {"s.m4a", "ffmpeg -v error " + tone + " -c:a aac OUT", true},
        {"s.aiff", "ffmpeg -v error " + tone + " OUT", true},
        {"s.au", "ffmpeg -v error " + tone + " OUT", true},
        {"s.wma", "ffmpeg -v error " + tone + " -c:a wmav2 OUT", true},
        {"v.ogv", "ffmpeg -v error " + picture + " " + tone + " -c:v libtheora -c:a libvorbis OUT",
         false},
        {"v.mp4", "ffmpeg -v error " + picture + " " + tone + " OUT", false},
        {"v.wmv", "ffmpeg -v error " + picture + " " + tone + " -c:v wmv2 -c:a wmav2 OUT", false},
    };
    for (const auto& c : cases) {
        const auto path = Make(c.name, c.command);
        TUNARA_SKIP_IF_MISSING(path.empty(), std::string("ffmpeg for ") + c.name);
        EXPECT_EQ(IsSoundOnlyMedium(path), c.soundOnly) << c.name;
    }
}

}  // namespace
