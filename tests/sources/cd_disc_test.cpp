// CdDisc and CdTrackSource over disc images made by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "engine/testing/EngineTesting.h"
#include "platform/audio/AudioDevice.h"
#include "platform/audio/NullDevice.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/CdDisc.h"
#include "sources/CdTrackSource.h"
#include "support/CdImage.h"
#include "support/Eventually.h"
#include "support/LibcdioLeaks.h"

namespace tunara {
namespace {

using testing::CdImageTrack;
using testing::kSectorBytes;
using testing::StandardTracks;
using testing::TempDir;
using testing::TonePcm;
using testing::WriteCdImage;

bool WaitFor(const std::function<bool()>& pred) {
    return testing::Eventually(pred, std::chrono::seconds(10));
}

std::vector<uint8_t> ReadWavData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), {});
    return all.size() > 44 ? std::vector<uint8_t>(all.begin() + 44, all.end())
                           : std::vector<uint8_t>{};
}

// The worked example: tracks at 2 s, 3 min 20 s and 10 min 5 s give the
// digit sum 2 + 2 + 11 = 15 in the top byte.
TEST(CdDiscId, WorkedExample_TopByteIs0F) {
    std::vector<uint32_t> offsets = {150, 200 * 75, 605 * 75};
    uint32_t leadout = 20 * 60 * 75;
    uint32_t id = CdDisc::ComputeDiscId(offsets, leadout);
    EXPECT_EQ(id >> 24, 0x0Fu);
    EXPECT_EQ((id >> 8) & 0xffff, 1200u - 2u);
    EXPECT_EQ(id & 0xff, 3u);
}

// A 12-track table of contents, its identifier worked out by hand from the
// CDDB definition: start seconds 2, 214, 520, 780, 1022, 1257, 1515, 1742,
// 2004, 2260, 2498, 2719 have digit sums adding up to 135 (0x87); the
// lead-out at frame 221049 is second 2947, so the disc lasts 2945 s (0xB81).
TEST(CdDiscId, KnownTableOfContents) {
    std::vector<uint32_t> offsets = {150,    16065,  39037,  58555,  76690,  94305,
                                     113657, 130705, 150322, 169542, 187372, 203960};
    EXPECT_EQ(CdDisc::ComputeDiscLength(offsets, 221049), 2945);
    EXPECT_EQ(CdDisc::ComputeDiscId(offsets, 221049), 0x870B810Cu);
    // One frame less of lead-out changes nothing here; one second less does.
    EXPECT_EQ(CdDisc::ComputeDiscId(offsets, 221048), 0x870B810Cu);
    EXPECT_EQ(CdDisc::ComputeDiscId(offsets, 221049 - 75), 0x870B800Cu);
}

// Three audio tracks and a data track: the data track counts in the id and
// the offsets but is not listed; the last listed track runs to the next
// start, the disc's last track to its length.
TEST(CdDisc, ReadToc_ListsAudioTracksAndCountsDataTrack) {
    TempDir dir;
    CdDisc disc(tunara::testing::TestEngine(), WriteCdImage(dir.Path(), "disc", StandardTracks()));
    ASSERT_EQ(disc.ReadToc(), 0u);
    EXPECT_FALSE(disc.TakeError());
    EXPECT_EQ(disc.TrackCount(), 4);
    ASSERT_EQ(disc.Count(), 3);
    EXPECT_EQ(disc.TrackOffsets(), (std::vector<uint32_t>{150, 300, 525, 638}));
    // 938 frames of lead-out: 12 - 2 seconds; start seconds 2, 4, 7, 8.
    EXPECT_EQ(disc.DiscLength(), 10);
    EXPECT_EQ(disc.DiscId(), (uint32_t(2 + 4 + 7 + 8) << 24) | (10u << 8) | 4u);
    EXPECT_NE(disc.MediaIdentity(), 0u);
    EXPECT_EQ(disc.Current(), 0);
    EXPECT_EQ(disc.ItemAt(0)->GetDuration(), 2000);
    EXPECT_EQ(disc.ItemAt(1)->GetDuration(), 3000);
    EXPECT_EQ(disc.ItemAt(2)->GetDuration(), 638 * 1000 / 75 - 525 * 1000 / 75);
    EXPECT_EQ(disc.ItemAt(2)->GetTitle(), "Track 3");
    EXPECT_EQ(disc.ItemAt(2)->GetArtist(), "Unknown");
    EXPECT_EQ(disc.ItemAt(2)->GetFormatName(), "CD");

    CdDisc audioOnly(tunara::testing::TestEngine(),
                     WriteCdImage(dir.Path(), "audio", {{150}, {200}}));
    ASSERT_EQ(audioOnly.ReadToc(), 0u);
    ASSERT_EQ(audioOnly.Count(), 2);
    EXPECT_EQ(audioOnly.ItemAt(1)->GetDuration(), 200 * 1000 / 75);

    // Reading again rebuilds rather than adds.
    ASSERT_EQ(disc.ReadToc(), 0u);
    EXPECT_EQ(disc.Count(), 3);
}

// CD-Text in the image stands in for "Track N" and "Unknown": a track's
// performer, else the disc's; a cue sheet in UTF-8 read as such.
TEST(CdDisc, ReadToc_TakesCdText) {
    TempDir dir;
    testing::CdImage image = testing::MakeCdImage(
        dir.Path() / "text", {75, 75, 75},
        {"Album Bold", "Band", {"Premi\xC3\xA8re", "", "Third"}, {"", "", "Guest"}});
    CdDisc disc(tunara::testing::TestEngine(), image.cue);
    ASSERT_EQ(disc.ReadToc(), 0u);
    ASSERT_EQ(disc.Count(), 3);
    EXPECT_EQ(disc.ItemAt(0)->GetTitle(), "Premi\xC3\xA8re");
    EXPECT_EQ(disc.ItemAt(1)->GetTitle(), "Track 2");
    EXPECT_EQ(disc.ItemAt(0)->GetArtist(), "Band");
    EXPECT_EQ(disc.ItemAt(2)->GetArtist(), "Guest");
    EXPECT_EQ(disc.ItemAt(1)->GetAlbum(), "Album Bold");
}

// No drive: 263 and nothing to tell. An empty drive: success and an empty
// list. A broken image: its text to tell and an empty list.
TEST(CdDisc, ReadToc_Failures) {
    TempDir dir;
    ScopedRecordingInteraction ui;
    CdDisc none(tunara::testing::TestEngine(), "");
    EXPECT_EQ(none.ReadToc(), 263u);
    EXPECT_FALSE(none.TakeError());
    CdDisc empty(tunara::testing::TestEngine(), (dir.Path() / "none.cue").string());
    EXPECT_EQ(empty.ReadToc(), 0u);
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_FALSE(empty.TakeError());

    std::string broken = (dir.Path() / "broken.cue").string();
    std::ofstream(broken)
        << "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    CdDisc bad(tunara::testing::TestEngine(), broken);
    EXPECT_NE(bad.ReadToc(), 0u);
    EXPECT_EQ(bad.Count(), 0);
    EXPECT_EQ(bad.DiscId(), 0u);
    const std::optional<UserMessage> error = bad.TakeError();
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->Formatted().empty());
    EXPECT_TRUE(ui->errors.empty());
}

class CdTrackTest : public ::testing::Test {
protected:
    CdTrackTest() {
        audio::SetDeviceFactory([this] {
            auto d = std::make_unique<audio::NullDevice>(audio::NullDevice::Pace::Step);
            device_ = d.get();
            return d;
        });
        disc_ = std::make_unique<CdDisc>(tunara::testing::TestEngine(),
                                         WriteCdImage(dir_.Path(), "disc", StandardTracks()));
        disc_->ReadToc();
    }
    ~CdTrackTest() override {
        disc_.reset();
        audio::SetDeviceFactory({});
    }
    // Lets the device play `cdFrames`, a few at a time: the engine's ring
    // holds less than a second.
    void Consume(uint32_t cdFrames) {
        for (uint32_t left = cdFrames; left > 0;) {
            const uint32_t step = std::min(left, 10u);
            // The device may still be paused for priming after a seek restarted it.
            const uint64_t want = uint64_t{step} * cdaudio::kPcmFramesPerCdFrame;
            uint64_t played = 0;
            ASSERT_TRUE(WaitFor([&] {
                if (device_) played += device_->Consume(want - played);
                return played == want;
            }));
            left -= step;
        }
    }
    MediaSource& Track(int i) { return *disc_->ItemAt(i); }

    TempDir dir_;
    audio::NullDevice* device_ = nullptr;
    std::unique_ptr<CdDisc> disc_;
};

// Play, Stop and Play again resume where the first Play was stopped.
TEST_F(CdTrackTest, PlayStopPlay_Resumes) {
    MediaSource& t = Track(1);
    ASSERT_EQ(t.Open(), 1);
    EXPECT_EQ(t.GetPosition(), 0);
    t.Play();
    EXPECT_EQ(t.IsPlaying(), 1);
    Consume(75);
    EXPECT_EQ(t.GetPosition(), 1000);
    t.Stop();
    EXPECT_EQ(t.IsPlaying(), 0);
    EXPECT_EQ(t.GetPosition(), 1000);
    t.Play();
    Consume(15);
    EXPECT_EQ(t.GetPosition(), 1200);
    t.Stop();
    t.Close();
}

// A track plays to its own end only, then reports not playing.
TEST_F(CdTrackTest, Play_EndsAtTrackEnd) {
    MediaSource& t = Track(0);
    ASSERT_EQ(t.Open(), 1);
    t.Seek(1800);
    t.Play();
    Consume(15);
    ASSERT_TRUE(WaitFor([&] { return t.IsPlaying() == 0; }));
    EXPECT_EQ(t.GetPosition(), 2000);
    t.Close();
}

// Seeking while playing goes on playing from the new place.
TEST_F(CdTrackTest, SeekWhilePlaying_PlaysFromThere) {
    MediaSource& t = Track(1);
    ASSERT_EQ(t.Open(), 1);
    t.Play();
    Consume(10);
    t.Seek(2000);
    EXPECT_EQ(t.IsPlaying(), 1);
    Consume(15);
    EXPECT_EQ(t.GetPosition(), 2200);
    t.Stop();
    t.Seek(500);
    EXPECT_EQ(t.IsPlaying(), 0);
    EXPECT_NEAR(t.GetPosition(), 500, 14);
    t.Close();
}

// Fast forward and rewind run through the track at double speed, with the
// level meter following the tone.
TEST_F(CdTrackTest, FastForwardAndRewind_DoubleSpeedAndMetered) {
    MediaSource& t = Track(1);
    ASSERT_EQ(t.Open(), 1);
    t.FastForward();
    Consume(75);
    EXPECT_EQ(t.GetPosition(), 2000);
    float l = 0, r = 0;
    t.GetLevels(l, r);
    EXPECT_GT(l, 0.1f);
    EXPECT_GT(r, 0.1f);
    t.Stop();
    t.Rewind();
    Consume(30);
    EXPECT_EQ(t.GetPosition(), 1200);
    t.Stop();
    t.Close();
}

// What the device receives is the tracks' sectors byte for byte; a follower
// goes on in the same device, so two tracks make one unbroken capture.
TEST(CdTrackCapture, TracksPlayGaplessByteForByte) {
    TempDir dir;
    std::string wav = (dir.Path() / "out.wav").string();
    audio::SetDeviceFactory([wav] { return audio::CreateDevice("file:" + wav); });
    {
        CdDisc disc(tunara::testing::TestEngine(),
                    WriteCdImage(dir.Path(), "disc", StandardTracks()));
        disc.ReadToc();
        MediaSource& first = *disc.ItemAt(1);
        MediaSource& second = *disc.ItemAt(2);
        ASSERT_EQ(first.Open(), 1);
        ASSERT_TRUE(tunara::testing::TestEngine().Enqueue(*second.Pcm()));
        first.Play();
        ASSERT_TRUE(WaitFor([&] { return first.IsPlaying() == 0; }));
        ASSERT_TRUE(tunara::testing::TestEngine().HandOver(*second.Pcm()));
        ASSERT_TRUE(WaitFor([&] { return second.IsPlaying() == 0; }));
        second.Close();
    }
    audio::SetDeviceFactory({});
    std::vector<uint8_t> expected = TonePcm(225, 660.0);
    std::vector<uint8_t> next = TonePcm(113, 550.0);
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_TRUE(ReadWavData(wav) == expected);
    EXPECT_FALSE(std::filesystem::exists(wav.substr(0, wav.size() - 4) + "-2.wav"));
}

// Sectors that cannot be read play as silence of their length, never as
// what an earlier read left behind, and playing goes on to the track's end.
TEST(CdTrackCapture, UnreadableSectors_PlayAsSilence) {
    TempDir dir;
    std::string wav = (dir.Path() / "out.wav").string();
    audio::SetDeviceFactory([wav] { return audio::CreateDevice("file:" + wav); });
    {
        CdDisc disc(tunara::testing::TestEngine(),
                    WriteCdImage(dir.Path(), "disc", {{150, true, 440.0}, {100, true, 660.0}}));
        disc.ReadToc();
        MediaSource& t = *disc.ItemAt(1);
        ASSERT_EQ(t.Open(), 1);
        // The image loses its last 37 sectors under the open disc.
        std::filesystem::resize_file(dir.Path() / "disc.bin", size_t(213) * kSectorBytes);
        t.Play();
        ASSERT_TRUE(WaitFor([&] { return t.IsPlaying() == 0; }));
        t.Close();
    }
    audio::SetDeviceFactory({});
    std::vector<uint8_t> expected = TonePcm(100, 660.0);
    std::fill(expected.begin() + 63 * kSectorBytes, expected.end(), 0);
    std::vector<uint8_t> heard = ReadWavData(wav);
    ASSERT_EQ(heard.size(), expected.size());
    size_t at = std::mismatch(heard.begin(), heard.end(), expected.begin()).first - heard.begin();
    EXPECT_EQ(at, heard.size()) << "sector " << at / kSectorBytes;
}

// A disc taken out while a track plays ends the track, and the user is told
// once.
TEST_F(CdTrackTest, DiscRemovedWhilePlaying_EndsWithMessage) {
    MediaSource& t = Track(1);
    ASSERT_EQ(t.Open(), 1);
    t.Play();
    Consume(20);
    std::filesystem::remove(dir_.Path() / "disc.cue");
    std::filesystem::remove(dir_.Path() / "disc.bin");
    ASSERT_TRUE(WaitFor([&] {
        if (device_->QueuedFrames() > 0) device_->Consume(device_->QueuedFrames());
        return t.IsPlaying() == 0;
    }));
    t.IsPlaying();
    const std::optional<UserMessage> error = t.TakeError();
    ASSERT_TRUE(error);
    EXPECT_NE(error->Formatted().find("no disc"), std::string::npos);
    EXPECT_FALSE(t.TakeError());
    t.Close();
}

// A track of a disc that is gone does not open.
TEST_F(CdTrackTest, Open_WithoutDisc_Fails) {
    std::filesystem::remove(dir_.Path() / "disc.cue");
    EXPECT_EQ(Track(0).Open(), 0);
    Track(0).Close();
}

}  // namespace
}  // namespace tunara
