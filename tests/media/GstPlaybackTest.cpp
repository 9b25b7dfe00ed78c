// QuickTimeSource on the real toolbox module (GStreamer), with fixtures made
// by sox, ffmpeg and gst-launch-1.0 in a temporary folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "MediaFixture.h"
#include "TestTools.h"
#include "engine/testing/EngineTesting.h"
#include "platform/audio/AudioDevice.h"
#include "platform/media/MediaToolbox.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/CdDisc.h"
#include "sources/QuickTimeSource.h"
#include "sources/SourceFactory.h"
#include "support/CdImage.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tunara;

namespace {

using Clock = std::chrono::steady_clock;
using tunara::testing::Samples;
using tunara::testing::Shell;

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = fread(buf, 1, sizeof(buf), p)) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Duration in ms as ffprobe sees it.
int ProbeDurationMs(const std::string& path) {
    std::string s =
        Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'");
    return s.empty() ? -1 : static_cast<int>(std::lround(std::stod(s) * 1000));
}

// A standard MIDI file: four half-second notes at 120 beats per minute.
void WriteMidi(const std::string& path) {
    std::string track;
    for (unsigned char note : {60, 64, 67, 72}) {
        track += std::string{'\x00', '\x90', static_cast<char>(note), 100};
        track += std::string{'\x83', '\x60', '\x80', static_cast<char>(note), 0};
    }
    track += std::string{'\x00', '\xFF', '\x2F', '\x00'};
    std::ofstream f(path, std::ios::binary);
    f.write("MThd\0\0\0\x06\0\0\0\x01\x01\xE0", 14);
    const uint32_t n = static_cast<uint32_t>(track.size());
    const char len[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    f.write("MTrk", 4);
    f.write(len, 4);
    f << track;
}

class MediaPlayback : public tunara::testing::MediaTest {
protected:
    std::unique_ptr<QuickTimeSource> Load(const std::string& path) {
        auto s = std::make_unique<QuickTimeSource>();
        s->SetLocation(path);
        EXPECT_EQ(s->LoadInfo(), 1) << path;
        return s;
    }
    // Open as the player does.
    static bool OpenLikePlayer(QuickTimeSource& s) {
        if (!s.Open()) return false;
        s.EnableMetering(1);
        s.SetBandCount(16);
        return true;
    }
    static int MsSince(Clock::time_point start) {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
};

#define REQUIRE_FIXTURE(path) TUNARA_SKIP_IF_MISSING((path).empty(), "sox or ffmpeg for " #path)

// Big-endian 16-bit stereo AIFF is 16-bit PCM at the full CD rate.
TEST_F(MediaPlayback, Aiff16Stereo_Is16BitPcm) {
    auto path = Make("stereo.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 3 sine 440");
    REQUIRE_FIXTURE(path);
    auto s = Load(path);
    EXPECT_EQ(s->GetFormatName(), "16 Bit PCM");
    EXPECT_EQ(s->GetBitRate(), 1411200);
    EXPECT_EQ(s->GetSampleRate(), 44100);
    EXPECT_EQ(s->GetChannels(), 2);
    EXPECT_EQ(s->GetTitle(), "stereo");
    EXPECT_NEAR(s->GetDuration(), ProbeDurationMs(path), 50);
}

// IMA ADPCM, in a WAV container and in a movie, at 22050 Hz mono.
TEST_F(MediaPlayback, ImaAdpcm_IsAdpcmAtAQuarterRate) {
    auto wav = Make("ima.wav", "sox -n -r 22050 -c 1 -e ima-adpcm OUT synth 1 sine 440");
    auto mov =
        Make("ima.mov",
             "ffmpeg -loglevel error -y -f lavfi -i sine=f=440:d=1:r=22050 -c:a adpcm_ima_qt OUT");
    REQUIRE_FIXTURE(wav);
    REQUIRE_FIXTURE(mov);
    for (const auto& path : {wav, mov}) {
        auto s = Load(path);
        EXPECT_EQ(s->GetFormatName(), "ADPCM") << path;
        EXPECT_EQ(s->GetBitRate(), 88200) << path;
        EXPECT_EQ(s->GetSampleRate(), 22050);
        EXPECT_EQ(s->GetChannels(), 1);
    }
}

// A µ-law AU file names its codec with the micro sign in UTF-8.
TEST_F(MediaPlayback, MulawAu_IsMicroLaw) {
    auto path = Make("mulaw.au", "sox -n -r 8000 -c 1 -e mu-law OUT synth 2 sine 300");
    REQUIRE_FIXTURE(path);
    auto s = Load(path);
    EXPECT_EQ(s->GetFormatName(), "\xC2\xB5Law");
    EXPECT_EQ(s->GetBitRate(), 64000);
    EXPECT_NEAR(s->GetDuration(), ProbeDurationMs(path), 50);
}

// MP3 inside a movie is named "MP3" with roughly its coded rate.
TEST_F(MediaPlayback, Mp3InMovie_IsMp3) {
    auto path = Make(
        "mp3.mov", "ffmpeg -loglevel error -y -f lavfi -i sine=d=2 -c:a libmp3lame -b:a 128k OUT");
    REQUIRE_FIXTURE(path);
    auto s = Load(path);
    EXPECT_EQ(s->GetFormatName(), "MP3");
    EXPECT_NEAR(s->GetBitRate(), 128000, 16000);
}

// Bits per second as ffprobe sees the sound stream, else the whole file; -1
// when it says neither.
int ProbeBitRate(const std::string& path) {
    for (const char* entry : {"stream=bit_rate", "format=bit_rate"}) {
        std::string s = Capture(std::string("ffprobe -v error -select_streams a:0 -show_entries ") +
                                entry + " -of csv=p=0 '" + path + "'");
        s.erase(s.find_last_not_of(" \n") + 1);
        if (!s.empty() && s.find_first_not_of("0123456789") == std::string::npos)
            return std::stoi(s);
    }
    return -1;
}

// Files of the common compressed codecs name their codec, show their tags and
// their coded rate, not the rate of the decoded PCM.
TEST_F(MediaPlayback, CompressedCodecs_NameTagsAndCodedRate) {
    const std::string tags =
        " -metadata title='J\xC3\xB3ga' -metadata artist='Bj\xC3\xB6rk'"
        " -metadata album=Homogenic -metadata genre=Electronic";
    // Noise, so that a variable-rate encoder spends about what it is asked to.
    const std::string input =
        "ffmpeg -loglevel error -y -f lavfi -i anoisesrc=d=4:c=pink:a=0.3 -ac 2";
    const struct {
        const char* file;
        const char* codec;
        const char* name;
    } cases[] = {
        {"tagged.flac", "-c:a flac", "FLAC"},
        {"tagged.ogg", "-c:a libvorbis -b:a 128k", "Vorbis"},
        {"tagged.opus", "-c:a libopus -b:a 96k", "Opus"},
        {"tagged.m4a", "-c:a aac -b:a 128k", "AAC"},
    };
    for (const auto& c : cases) {
        auto path = Make(c.file, input + " " + c.codec + tags + " OUT");
        TUNARA_SKIP_IF_MISSING(path.empty(), std::string("ffmpeg with ") + c.codec);
        SCOPED_TRACE(c.file);
        auto s = Load(path);
        EXPECT_EQ(s->GetFormatName(), c.name);
        EXPECT_EQ(s->GetTitle(), "J\xC3\xB3ga");
        EXPECT_EQ(s->GetArtist(), "Bj\xC3\xB6rk");
        EXPECT_EQ(s->GetAlbum(), "Homogenic");
        EXPECT_EQ(s->GetCategory(), "Electronic");
        const int probed = ProbeBitRate(path);
        ASSERT_GT(probed, 0);
        EXPECT_NEAR(s->GetBitRate(), probed, probed * 0.1);
        EXPECT_EQ(s->GetChannels(), 2);
        EXPECT_NEAR(s->GetDuration(), ProbeDurationMs(path), 50);
    }
}

// A movie with pictures only: video, no sound fields.
TEST_F(MediaPlayback, MovieWithoutSound_HasEmptySoundFields) {
    auto path =
        Make("silent.mov", "ffmpeg -loglevel error -y -f lavfi -i testsrc=d=2:s=160x120 -an OUT");
    REQUIRE_FIXTURE(path);
    auto s = Load(path);
    EXPECT_EQ(s->GetFormatName(), "");
    EXPECT_EQ(s->GetSampleRate(), 0);
    EXPECT_EQ(s->GetChannels(), 0);
    EXPECT_EQ(s->GetBitRate(), 0);
    EXPECT_TRUE(s->HasVideo());
    EXPECT_NEAR(s->GetDuration(), ProbeDurationMs(path), 50);
    // It still plays (the pictures are discarded) and ends.
    ASSERT_TRUE(OpenLikePlayer(*s));
    s->Play();
    EXPECT_TRUE(PlayToEnd(*s, 10s));
    s->Stop();
    s->Close();
}

// Video and sound: the sound plays with video frames sent to the window.
TEST_F(MediaPlayback, MovieWithVideoWindow_DeliversFrames) {
    auto path = Make("av.mov",
                     "ffmpeg -loglevel error -y -f lavfi -i testsrc=d=1:s=160x120:r=25 -f lavfi -i "
                     "sine=d=1 -c:a pcm_s16be -shortest OUT");
    REQUIRE_FIXTURE(path);
    struct Window : media::VideoWindow {
        std::atomic<int> frames{0};
        std::atomic<int> width{0};
        void PresentFrame(const media::VideoFrame& f) override {
            width = f.width;
            ++frames;
        }
    };
    Window* window = nullptr;
    QuickTimeSource::SetVideoWindowFactory([&] {
        auto w = std::make_unique<Window>();
        window = w.get();
        return std::unique_ptr<media::VideoWindow>(std::move(w));
    });
    auto s = Load(path);
    EXPECT_EQ(s->GetFormatName(), "16 Bit PCM");
    ASSERT_TRUE(OpenLikePlayer(*s));
    ASSERT_NE(window, nullptr);
    s->Play();
    EXPECT_TRUE(PlayToEnd(*s, 10s));
    EXPECT_GE(window->frames.load(), 20);
    EXPECT_EQ(window->width.load(), 160);
    s->Close();
    QuickTimeSource::SetVideoWindowFactory(nullptr);
}

// MIDI plays through the synthesizer and reports its length.
TEST_F(MediaPlayback, Midi_PlaysAndHasDuration) {
    std::string path = (Folder() / "tune.mid").string();
    WriteMidi(path);
    auto s = Load(path);
    EXPECT_EQ(s->GetFormatName(), "MIDI");
    EXPECT_NEAR(s->GetDuration(), 2000, 50);
    ASSERT_TRUE(OpenLikePlayer(*s));
    s->Play();
    EXPECT_TRUE(PlayToEnd(*s, 15s));
    EXPECT_GT(s->GetPosition(), 1500) << "the end is near the reported length";
    s->Close();
}

// Seek lands where asked; the position follows the clock while playing (it
// may lag on a busy machine, but never runs ahead of it).
TEST_F(MediaPlayback, SeekAndPosition_AgreeWithTheClock) {
    auto path = Make("seek.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 5 sine 440");
    REQUIRE_FIXTURE(path);
    setenv("TUNARA_AUDIO", "null", 1);
    auto s = Load(path);
    ASSERT_TRUE(OpenLikePlayer(*s));
    EXPECT_EQ(s->GetPosition(), 0);
    for (int target : {2500, 700, 4000}) {
        s->Seek(target);
        s->Tick();
        EXPECT_NEAR(s->GetPosition(), target, 100);
    }
    s->Seek(1000);
    const auto start = Clock::now();
    s->Play();
    ASSERT_TRUE(TickUntil(*s, [&] { return s->GetPosition() >= 1400; }));
    EXPECT_LE(s->GetPosition(), 1000 + MsSince(start) + 100);
    s->Stop();
    s->Close();
}

// Stop keeps the position; Play goes on from there.
TEST_F(MediaPlayback, StopKeepsPosition_PlayResumes) {
    auto path = Make("resume.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 5 sine 440");
    REQUIRE_FIXTURE(path);
    setenv("TUNARA_AUDIO", "null", 1);
    auto s = Load(path);
    ASSERT_TRUE(OpenLikePlayer(*s));
    s->Play();
    ASSERT_TRUE(TickUntil(*s, [&] { return s->GetPosition() > 250; }));
    s->Stop();
    const int stopped = s->GetPosition();
    // Nothing moves while stopped, however long that is.
    std::this_thread::sleep_for(300ms);
    s->Tick();
    EXPECT_NEAR(s->GetPosition(), stopped, 30);
    EXPECT_EQ(s->IsPlaying(), 1) << "a stopped movie is not finished";
    const auto start = Clock::now();
    s->Play();
    ASSERT_TRUE(TickUntil(*s, [&] { return s->GetPosition() > stopped + 150; }));
    EXPECT_LE(s->GetPosition(), stopped + MsSince(start) + 100);
    s->Close();
}

// Fast forward runs at about twice the speed; rewind steps back to the start and ends.
TEST_F(MediaPlayback, FastForwardAndRewind) {
    auto path = Make("wind.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 6 sine 440");
    REQUIRE_FIXTURE(path);
    setenv("TUNARA_AUDIO", "null", 1);
    auto s = Load(path);
    ASSERT_TRUE(OpenLikePlayer(*s));
    s->FastForward();
    // The speed over a second of media, measured from a running start.
    ASSERT_TRUE(TickUntil(*s, [&] { return s->GetPosition() > 200; }));
    const int from = s->GetPosition();
    const auto start = Clock::now();
    ASSERT_TRUE(TickUntil(*s, [&] { return s->GetPosition() > from + 1000; }));
    const double speed = double(s->GetPosition() - from) / std::max(MsSince(start), 1);
    EXPECT_GT(speed, 1.3);
    EXPECT_LT(speed, 2.6);
    s->Seek(1500);
    s->Rewind();
    ASSERT_TRUE(TickUntil(*s, [&] { return s->GetPosition() < 1100; }));
    EXPECT_GT(s->GetPosition(), 300);
    EXPECT_EQ(s->IsPlaying(), 1);
    EXPECT_TRUE(PlayToEnd(*s, 15s)) << "rewinding to the start ends the item";
    EXPECT_EQ(s->GetPosition(), 0);
    // Forward again after stepping back.
    s->FastForward();
    EXPECT_TRUE(TickUntil(*s, [&] { return s->GetPosition() > 600; }));
    s->Close();
}

// Full-scale square reads 1.0 on the meter; silence reads 0.
TEST_F(MediaPlayback, Levels_FullScaleAndSilence) {
    auto square = Make("square.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 3 square 441 gain -n");
    auto silence = Make("silence.aiff", "sox -n -r 44100 -c 2 -b 16 OUT trim 0 3");
    REQUIRE_FIXTURE(square);
    REQUIRE_FIXTURE(silence);
    setenv("TUNARA_AUDIO", "null", 1);
    for (const auto& [path, want] : {std::pair{square, 1.0f}, std::pair{silence, 0.0f}}) {
        auto s = Load(path);
        ASSERT_TRUE(OpenLikePlayer(*s));
        s->Play();
        float maxLeft = 0, maxRight = 0;
        // Until the meter shows full scale, or (for silence) half a second has played.
        TickUntil(*s, [&] {
            float l, r;
            s->GetLevels(l, r);
            maxLeft = std::max(maxLeft, l);
            maxRight = std::max(maxRight, r);
            return want > 0 ? maxLeft >= want - 0.01f && maxRight >= want - 0.01f
                            : s->GetPosition() >= 500;
        });
        EXPECT_NEAR(maxLeft, want, 0.01f) << path;
        EXPECT_NEAR(maxRight, want, 0.01f) << path;
        s->Stop();
        s->Close();
    }
}

// A 1 kHz tone lights the lowest band; a 9 kHz tone a band near the middle.
TEST_F(MediaPlayback, Spectrum_FollowsTheTone) {
    auto low = Make("tone1k.aiff", "sox -n -r 44100 -c 1 -b 16 OUT synth 3 sine 1000");
    auto high = Make("tone9k.aiff", "sox -n -r 44100 -c 1 -b 16 OUT synth 3 sine 9000");
    REQUIRE_FIXTURE(low);
    REQUIRE_FIXTURE(high);
    setenv("TUNARA_AUDIO", "null", 1);
    // Measured band i starts at i * 44100 / 16 Hz: 1 kHz is in band 0, 9 kHz in band 3.
    for (const auto& [path, band] : {std::pair{low, 0}, std::pair{high, 3}}) {
        auto s = Load(path);
        ASSERT_TRUE(OpenLikePlayer(*s));
        s->Play();
        float peak[16] = {};
        // Half a second of the tone, and at least until its band lights.
        TickUntil(*s, [&] {
            float b[16];
            s->GetSpectrum(b);
            for (int i = 0; i < 16; ++i) peak[i] = std::max(peak[i], b[i]);
            return peak[2 * band] > 0.5f && s->GetPosition() >= 500;
        });
        EXPECT_GT(peak[2 * band], 0.5f) << path;
        for (int m = 0; m < 8; ++m) {
            if (std::abs(m - band) > 1) {
                EXPECT_LT(peak[2 * m], 0.3f) << path << " band " << m;
            }
        }
        s->Close();
    }
}

// TUNARA_AUDIO=file:PATH writes what is played to a WAV file.
TEST_F(MediaPlayback, FileOutput_WritesWhatIsPlayed) {
    auto path = Make("out-src.aiff", "sox -n -r 22050 -c 1 -b 16 OUT synth 1.5 sine 440");
    REQUIRE_FIXTURE(path);
    std::string wav = (Folder() / "played.wav").string();
    setenv("TUNARA_AUDIO", ("file:" + wav).c_str(), 1);
    auto s = Load(path);
    ASSERT_TRUE(OpenLikePlayer(*s));
    s->Play();
    EXPECT_TRUE(PlayToEnd(*s, 10s));
    s->Close();
    EXPECT_NEAR(ProbeDurationMs(wav), 1500, 30);
    EXPECT_EQ(Capture("soxi -r '" + wav + "'"), "22050\n");
    EXPECT_EQ(Capture("soxi -c '" + wav + "'"), "1\n");
}

// A list of our own decoder's items, a CD track and the toolbox's, captured with
// TUNARA_AUDIO=file: and the software volume at one half: each item lands
// after the one before (none overwrites another) and each is scaled by the
// same gain.
TEST_F(MediaPlayback, FileOutput_MixedItemsAppendAtOneGain) {
    auto wav = Make("mix-a.wav", "sox -n -r 44100 -c 2 -b 16 OUT synth 0.4 sine 440 vol 0.6");
    auto flac = Make("mix-b.flac", "sox -n -r 44100 -c 2 -b 16 OUT synth 0.7 sine 660 vol 0.6");
    REQUIRE_FIXTURE(wav);
    REQUIRE_FIXTURE(flac);
    std::string out = (Folder() / "mixed.wav").string();
    setenv("TUNARA_AUDIO", ("file:" + out).c_str(), 1);
    tunara::testing::TestEngine().Gain().SetSoftwareVolume(0.5f);
    CdDisc disc(tunara::testing::TestEngine(),
                tunara::testing::WriteCdImage(Folder(), "mix-cd", {{40, true, 550.0}}));
    ASSERT_EQ(disc.ReadToc(), 0u);
    for (const auto& path : {wav, flac, std::string("cd"), wav, flac}) {
        std::unique_ptr<MediaSource> own =
            path == "cd" ? nullptr : CreateSourceFor(tunara::testing::TestEngine(), path);
        MediaSource* s = path == "cd" ? disc.ItemAt(0) : own.get();
        ASSERT_TRUE(s) << path;
        if (own) {
            s->SetLocation(path);
            ASSERT_EQ(s->LoadInfo(), 1) << path;
        }
        ASSERT_EQ(s->Open(), 1) << path;
        s->Play();
        PlayToEnd(*s, 10s);
        s->Close();
    }
    tunara::testing::TestEngine().Gain().SetSoftwareVolume(1.0f);
    EXPECT_FALSE(fs::exists((Folder() / "mixed-2.wav")));

    std::vector<int16_t> a = Samples(wav), b = Samples(flac), expected;
    std::vector<uint8_t> cdBytes = tunara::testing::TonePcm(40, 550.0);
    std::vector<int16_t> cd(cdBytes.size() / 2);
    std::memcpy(cd.data(), cdBytes.data(), cdBytes.size());
    for (const auto* part : {&a, &b, &cd, &a, &b})
        for (int16_t v : *part) expected.push_back(static_cast<int16_t>(v * 0.5f));
    std::vector<int16_t> heard = Samples(out);
    ASSERT_EQ(heard.size(), expected.size());
    size_t worstAt = 0;
    int worst = 0;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (std::abs(heard[i] - expected[i]) > worst) {
            worst = std::abs(heard[i] - expected[i]);
            worstAt = i;
        }
    }
    EXPECT_LE(worst, 1) << "at sample " << worstAt << " of " << heard.size();
}

// Damaged and non-media files fail to open with the path and why, quickly.
TEST_F(MediaPlayback, DamagedFiles_FailToOpenWithoutHanging) {
    auto good = Make("good.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 2 sine 440");
    REQUIRE_FIXTURE(good);
    std::string text = (Folder() / "notes.txt").string();
    std::ofstream(text) << "not a movie at all\n";
    std::string header = (Folder() / "header-only.aiff").string();
    Shell("head -c 20 '" + good + "' > '" + header + "'");
    std::string garbage = (Folder() / "garbage.mov").string();
    Shell("head -c 65536 /dev/urandom > '" + garbage + "'");
    std::string missing = (Folder() / "missing.aiff").string();
    for (const auto& path : {text, header, garbage, missing}) {
        auto start = Clock::now();
        QuickTimeSource s;
        s.SetLocation(path);
        EXPECT_EQ(s.LoadInfo(), 0) << path;
        const std::optional<UserMessage> error = s.TakeError();
        EXPECT_EQ(s.Open(), 0) << path;
        EXPECT_TRUE(s.TakeError()) << path;
        EXPECT_LT(Clock::now() - start, 12s) << path;
        ASSERT_TRUE(error) << path;
        EXPECT_EQ(error->Formatted(), path == missing
                                          ? "Failed to open the file " + path + "."
                                          : path + " is in a format the player cannot decode.");
    }
}

// A file whose data stops early plays what there is and ends.
TEST_F(MediaPlayback, TruncatedFile_EndsInsteadOfHanging) {
    auto good = Make("long.aiff", "sox -n -r 44100 -c 2 -b 16 OUT synth 4 sine 440");
    REQUIRE_FIXTURE(good);
    std::string cut = (Folder() / "cut.aiff").string();
    Shell("head -c 100000 '" + good + "' > '" + cut + "'");
    auto s = Load(cut);
    ASSERT_TRUE(OpenLikePlayer(*s));
    s->Play();
    EXPECT_TRUE(PlayToEnd(*s, 10s));
    s->Close();
}

// A medium named by an http URL is a stream: its sound track is of type
// "strm", it plays, and its buffering shows on the status line.
TEST_F(MediaPlayback, HttpStream_IsQtStream) {
    auto path = Make("web.aiff", "sox -n -r 22050 -c 1 -b 16 OUT synth 1 sine 440");
    REQUIRE_FIXTURE(path);
    TUNARA_SKIP_IF_MISSING(!Shell("python3 -c 'import http.server'"), "python3 for a local server");
    const int port = 20000 + ::getpid() % 20000;
    pid_t server = fork();
    if (server == 0) {
        execlp("python3", "python3", "-m", "http.server", std::to_string(port).c_str(), "--bind",
               "127.0.0.1", "--directory", Folder().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(server, 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/web.aiff";
    std::vector<std::string> lines;
    QuickTimeSource::SetStatusLine([&](const std::string& t) { lines.push_back(t); });
    {
        ScopedRecordingInteraction rec;  // the server may need a moment to listen
        QuickTimeSource s;
        s.SetLocation(url);
        int loaded = 0;
        for (int i = 0; i < 50 && !loaded; ++i) {
            loaded = s.LoadInfo();
            if (!loaded) std::this_thread::sleep_for(100ms);
        }
        ASSERT_EQ(loaded, 1);
        EXPECT_EQ(s.GetFormatName(), "QT Stream");
        EXPECT_TRUE(s.IsStreamed());
        EXPECT_NEAR(s.GetDuration(), 1000, 50);
        ASSERT_TRUE(OpenLikePlayer(s));
        s.Play();
        EXPECT_TRUE(PlayToEnd(s, 10s));
        s.Close();
    }
    QuickTimeSource::SetStatusLine(nullptr);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    // Buffering notices depend on how fast the local server answers: a one-second
    // file may arrive whole before the pipeline reports any. When they come, they
    // read as stream status.
    if (!lines.empty()) {
        EXPECT_EQ(lines.back().rfind("QT Stream Status: Buffering", 0), 0u) << lines.back();
    }
}

}  // namespace
