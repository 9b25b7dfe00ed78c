// CdDisc and CdTrackSource over disc images made by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/CdImageFixture.h"
#include "platform/audio/AudioDevice.h"
#include "platform/audio/NullDevice.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"
#include "sources/CdDisc.h"
#include "support/CdImage.h"
#include "support/LibcdioLeaks.h"

namespace tunara {
namespace {

using testing::CdImageTrack;
using testing::StandardTracks;
using testing::TempDir;
using testing::WriteCdImage;

template <typename Pred>
bool WaitFor(Pred pred) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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
    CdDisc disc(WriteCdImage(dir.Path(), "disc", StandardTracks()));
    ScopedRecordingInteraction ui;
    ASSERT_EQ(disc.ReadToc(), 0u);
    EXPECT_TRUE(ui->errors.empty());
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

    CdDisc audioOnly(WriteCdImage(dir.Path(), "audio", {{150}, {200}}));
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
    test::CdImage image = test::MakeCdImage(
        dir.Path() / "text", {75, 75, 75},
        {"Album Bold", "Band", {"Premi\xC3\xA8re", "", "Third"}, {"", "", "Guest"}});
    CdDisc disc(image.cue);
    ASSERT_EQ(disc.ReadToc(), 0u);
    ASSERT_EQ(disc.Count(), 3);
    EXPECT_EQ(disc.ItemAt(0)->GetTitle(), "Premi\xC3\xA8re");
    EXPECT_EQ(disc.ItemAt(1)->GetTitle(), "Track 2");
    EXPECT_EQ(disc.ItemAt(0)->GetArtist(), "Band");
    EXPECT_EQ(disc.ItemAt(2)->GetArtist(), "Guest");
    EXPECT_EQ(disc.ItemAt(1)->GetAlbum(), "Album Bold");
}

// No drive: 263 and no box. An empty drive: success and an empty list. A
// broken image: its text in one box and an empty list.
TEST(CdDisc, ReadToc_Failures) {
    TempDir dir;
    ScopedRecordingInteraction ui;
    CdDisc none("");
    EXPECT_EQ(none.ReadToc(), 263u);
    CdDisc empty((dir.Path() / "none.cue").string());
    EXPECT_EQ(empty.ReadToc(), 0u);
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_TRUE(ui->errors.empty());

    std::string broken = (dir.Path() / "broken.cue").string();
    std::ofstream(broken)
        << "FILE \"missing.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    CdDisc bad(broken);
    EXPECT_NE(bad.ReadToc(), 0u);
    EXPECT_EQ(bad.Count(), 0);
    EXPECT_EQ(bad.DiscId(), 0u);
    ASSERT_EQ(ui->errors.size(), 1u);
    EXPECT_FALSE(ui->errors[0].Formatted().empty());
}

class CdTrackTest : public ::testing::Test {
protected:
    CdTrackTest() {
        audio::SetDeviceFactory([this] {
            auto d = std::make_unique<audio::NullDevice>(audio::NullDevice::Pace::Step);
            device_ = d.get();
            return d;
        });
        disc_ = std::make_unique<CdDisc>(WriteCdImage(dir_.Path(), "disc", StandardTracks()));
        disc_->ReadToc();
    }
    ~CdTrackTest() override {
        disc_.reset();
        audio::SetDeviceFactory({});
    }
    void Consume(uint32_t cdFrames) {
        uint64_t want = uint64_t{cdFrames} * cdaudio::kPcmFramesPerCdFrame;
        ASSERT_TRUE(WaitFor([&] { return device_ && device_->QueuedFrames() >= want; }));
        ASSERT_EQ(device_->Consume(want), want);
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

// Fast forward steps one second on every fifth tick, counting from the
// first, and stops at the end of the track.
TEST_F(CdTrackTest, FastForward_StepsEveryFifthTickAndStopsAtEnd) {
    MediaSource& t = Track(1);  // 3000 ms
    ASSERT_EQ(t.Open(), 1);
    t.FastForward();
    EXPECT_EQ(t.IsPlaying(), 1);
    std::vector<int> seen;
    for (int i = 0; i < 15 && t.IsPlaying(); ++i) {
        t.Tick();
        seen.push_back(t.GetPosition());
    }
    EXPECT_EQ(seen,
              (std::vector<int>{1000, 1000, 1000, 1000, 1000, 2000, 2000, 2000, 2000, 2000, 2000}));
    EXPECT_EQ(t.IsPlaying(), 0);  // the step to 3000 would leave the track
    t.Close();
}

// Rewind steps back and stops within the first second, never before the
// start; with both flags off Tick only counts.
TEST_F(CdTrackTest, Rewind_StopsWithinFirstSecond) {
    MediaSource& t = Track(1);
    ASSERT_EQ(t.Open(), 1);
    t.Seek(2800);
    for (int i = 0; i < 5; ++i) t.Tick();  // flags off: nothing moves
    EXPECT_NEAR(t.GetPosition(), 2800, 14);
    t.Rewind();
    std::vector<int> seen;
    for (int i = 0; i < 15 && t.IsPlaying(); ++i) {
        t.Tick();
        if (i % 5 == 0) seen.push_back(t.GetPosition());
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NEAR(seen[0], 1800, 14);
    EXPECT_NEAR(seen[1], 800, 14);
    EXPECT_NEAR(seen[2], 800, 14);  // at 0.8 s it stops instead of seeking
    EXPECT_EQ(t.IsPlaying(), 0);
    t.Close();
}

// Levels and spectrum stay zero whatever the band count.
TEST_F(CdTrackTest, LevelsAndSpectrum_AreZero) {
    MediaSource& t = Track(0);
    t.SetBandCount(4);
    t.EnableMetering(1);
    float bands[16];
    std::fill(std::begin(bands), std::end(bands), 1.0f);
    t.GetSpectrum(bands);
    for (float b : bands) EXPECT_EQ(b, 0.0f);
    float l = 1, r = 1;
    t.GetLevels(l, r);
    EXPECT_EQ(l + r, 0.0f);
}

// A track of a disc that is gone does not open.
TEST_F(CdTrackTest, Open_WithoutDisc_Fails) {
    std::filesystem::remove(dir_.Path() / "disc.cue");
    EXPECT_EQ(Track(0).Open(), 0);
    Track(0).Close();
}

}  // namespace
}  // namespace tunara
