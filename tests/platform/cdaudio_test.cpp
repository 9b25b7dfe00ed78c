// The CD audio device over disc images: table of contents, time formats,
// sharing of an open device, digital playback and a disc that disappears.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/audio/AudioDevice.h"
#include "platform/audio/NullDevice.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/cdaudio/Player.h"
#include "platform/cdaudio/Toc.h"
#include "support/CdImage.h"
#include "support/LibcdioLeaks.h"

namespace tunara::cdaudio {
namespace {

using testing::StandardTracks;
using testing::TempDir;
using testing::TonePcm;
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

std::vector<uint8_t> ReadWavData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), {});
    return all.size() > 44 ? std::vector<uint8_t>(all.begin() + 44, all.end())
                           : std::vector<uint8_t>{};
}

// Opens an element for one test and closes it at the end.
struct OpenDevice {
    explicit OpenDevice(const std::string& element) { result = Open(element, id); }
    ~OpenDevice() {
        if (id) Close(id);
    }
    Result result;
    DeviceId id = 0;
};

struct DeviceFactoryScope {
    explicit DeviceFactoryScope(std::function<std::unique_ptr<audio::AudioDevice>()> f) {
        audio::SetDeviceFactory(std::move(f));
    }
    ~DeviceFactoryScope() { audio::SetDeviceFactory({}); }
};

// Starts, lengths and types come from the cue sheet; the lead-in counts in
// every position.
TEST(CdAudio, TableOfContents_OfImage) {
    TempDir dir;
    std::string cue = WriteCdImage(dir.Path(), "disc", StandardTracks());
    OpenDevice dev(cue);
    ASSERT_EQ(dev.result, kOk);
    bool present = false;
    ASSERT_EQ(StatusMediaPresent(dev.id, present), kOk);
    EXPECT_TRUE(present);
    int count = 0;
    ASSERT_EQ(StatusNumberOfTracks(dev.id, count), kOk);
    EXPECT_EQ(count, 4);
    TrackType type;
    EXPECT_EQ(StatusTrackType(dev.id, 3, type), kOk);
    EXPECT_EQ(type, TrackType::Audio);
    EXPECT_EQ(StatusTrackType(dev.id, 4, type), kOk);
    EXPECT_EQ(type, TrackType::Other);
    EXPECT_EQ(StatusTrackType(dev.id, 5, type), kErrOutOfRange);

    uint32_t v = 0;
    ASSERT_EQ(StatusTrackPosition(dev.id, 2, v), kOk);  // MSF is the default
    EXPECT_EQ(v, MakeMsf(0, 4, 0));                     // 150 + 150 frames
    ASSERT_EQ(StatusTrackLength(dev.id, 4, v), kOk);
    EXPECT_EQ(v, MakeMsf(0, 4, 0));  // 300 frames
    ASSERT_EQ(SetTimeFormat(dev.id, TimeFormat::Milliseconds), kOk);
    ASSERT_EQ(StatusTrackPosition(dev.id, 3, v), kOk);
    EXPECT_EQ(v, (150u + 375u) * 1000 / 75);
    ASSERT_EQ(StatusTrackLength(dev.id, 2, v), kOk);
    EXPECT_EQ(v, 3000u);
    ASSERT_EQ(StatusPosition(dev.id, v), kOk);
    EXPECT_EQ(v, 2000u);  // a fresh disc sits at the start of track 1
}

// The identity depends on the table of contents only: the same layout under
// another name gives the same number, one sector more gives another.
TEST(CdAudio, MediaIdentity_FollowsTableOfContents) {
    TempDir dir;
    auto tracks = StandardTracks();
    std::string a = WriteCdImage(dir.Path(), "a", tracks);
    std::string b = WriteCdImage(dir.Path(), "b", tracks);
    tracks[1].sectors += 1;
    std::string c = WriteCdImage(dir.Path(), "c", tracks);
    auto identity = [](const std::string& cue) {
        OpenDevice dev(cue);
        std::string text;
        EXPECT_EQ(InfoMediaIdentity(dev.id, text), kOk);
        return text;
    };
    std::string ia = identity(a);
    EXPECT_FALSE(ia.empty());
    EXPECT_EQ(ia, identity(b));
    EXPECT_NE(ia, identity(c));
    EXPECT_EQ(ia, std::to_string(std::stoull(ia)));
}

// A second open of the same element answers DeviceOpen with the same id and
// the device stays until the last close.
TEST(CdAudio, OpenTwice_SharesDeviceUntilLastClose) {
    TempDir dir;
    std::string cue = WriteCdImage(dir.Path(), "disc", StandardTracks());
    DeviceId first = 0, second = 0;
    ASSERT_EQ(Open(cue, first), kOk);
    ASSERT_EQ(Open(cue, second), kErrDeviceOpen);
    EXPECT_EQ(GetDeviceId(cue), first);
    EXPECT_EQ(second, first);
    EXPECT_EQ(Close(first), kOk);
    int count = 0;
    EXPECT_EQ(StatusNumberOfTracks(first, count), kOk);
    EXPECT_EQ(Close(first), kOk);
    EXPECT_EQ(StatusNumberOfTracks(first, count), kErrInvalidDeviceId);
    EXPECT_EQ(GetDeviceId(cue), 0u);
}

// An image path is a drive whose disc comes and goes with the file; a
// device path that does not exist is no drive.
TEST(CdAudio, Elements_MissingImageIsEmptyDrive) {
    TempDir dir;
    std::string cue = (dir.Path() / "later.cue").string();
    OpenDevice dev(cue);
    ASSERT_EQ(dev.result, kOk);
    bool present = true;
    EXPECT_EQ(StatusMediaPresent(dev.id, present), kOk);
    EXPECT_FALSE(present);
    Mode mode = Mode::Playing;
    EXPECT_EQ(StatusMode(dev.id, mode), kOk);
    EXPECT_EQ(mode, Mode::NotReady);
    int count = 0;
    EXPECT_EQ(StatusNumberOfTracks(dev.id, count), kErrNotReady);

    WriteCdImage(dir.Path(), "later", StandardTracks());
    EXPECT_EQ(StatusMediaPresent(dev.id, present), kOk);
    EXPECT_TRUE(present);
    EXPECT_EQ(StatusNumberOfTracks(dev.id, count), kOk);
    EXPECT_EQ(count, 4);

    DeviceId id = 0;
    EXPECT_EQ(Open("/dev/no-such-cd-drive", id), kErrInvalidDeviceName);
    EXPECT_EQ(Open("", id), kErrInvalidDeviceName);
    EXPECT_FALSE(ResultText(kErrNotReady).empty());
    EXPECT_LE(ResultText(kErrBadToc).size(), 128u);
}

// The digital path: what the audio device receives is the track's sectors,
// byte for byte, and the position ends at the end of the range.
TEST(CdAudio, PlayTrack_ReachesFileDeviceByteForByte) {
    TempDir dir;
    std::string cue = WriteCdImage(dir.Path(), "disc", StandardTracks());
    std::string wav = (dir.Path() / "out.wav").string();
    DeviceFactoryScope factory([wav] { return audio::CreateDevice("file:" + wav); });
    {
        OpenDevice dev(cue);
        SetTimeFormat(dev.id, TimeFormat::Msf);
        ASSERT_EQ(Play(dev.id, MakeMsf(0, 4, 0), MakeMsf(0, 7, 0)), kOk);
        Mode mode = Mode::Playing;
        ASSERT_TRUE(
            WaitFor([&] { return StatusMode(dev.id, mode) == kOk && mode != Mode::Playing; }));
        EXPECT_EQ(mode, Mode::Stopped);
        uint32_t v = 0;
        StatusPosition(dev.id, v);
        EXPECT_EQ(v, MakeMsf(0, 7, 0));
    }
    std::vector<uint8_t> heard = ReadWavData(wav);
    std::vector<uint8_t> expected = TonePcm(225, 660.0);
    ASSERT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected);
}

class StepDevice : public ::testing::Test {
protected:
    StepDevice()
        : factory_([this] {
              auto d = std::make_unique<audio::NullDevice>(audio::NullDevice::Pace::Step);
              device_ = d.get();
              return d;
          }) {}
    // Lets the device play `cdFrames` once that much is queued.
    void Consume(uint32_t cdFrames) {
        uint64_t want = uint64_t{cdFrames} * kPcmFramesPerCdFrame;
        ASSERT_TRUE(WaitFor([&] { return device_ && device_->QueuedFrames() >= want; }));
        ASSERT_EQ(device_->Consume(want), want);
    }
    TempDir dir_;
    audio::NullDevice* device_ = nullptr;
    DeviceFactoryScope factory_;
};

// Stop keeps the place; Play goes on from it.
TEST_F(StepDevice, PlayStopPlay_Resumes) {
    std::string cue = WriteCdImage(dir_.Path(), "disc", StandardTracks());
    OpenDevice dev(cue);
    SetTimeFormat(dev.id, TimeFormat::Msf);
    ASSERT_EQ(Play(dev.id, std::nullopt, MakeMsf(0, 4, 0)), kOk);
    Consume(30);
    uint32_t v = 0;
    StatusPosition(dev.id, v);
    EXPECT_EQ(v, MakeMsf(0, 2, 30));
    ASSERT_EQ(Stop(dev.id), kOk);
    StatusPosition(dev.id, v);
    EXPECT_EQ(v, MakeMsf(0, 2, 30));
    Mode mode;
    StatusMode(dev.id, mode);
    EXPECT_EQ(mode, Mode::Stopped);
    ASSERT_EQ(Play(dev.id, std::nullopt, MakeMsf(0, 4, 0)), kOk);
    Consume(10);
    StatusPosition(dev.id, v);
    EXPECT_EQ(v, MakeMsf(0, 2, 40));
    StatusMode(dev.id, mode);
    EXPECT_EQ(mode, Mode::Playing);
}

// A seek in milliseconds lands within one sector of the target, and ranges
// outside the disc are refused.
TEST_F(StepDevice, Seek_LandsWithinOneSector) {
    std::string cue = WriteCdImage(dir_.Path(), "disc", StandardTracks());
    OpenDevice dev(cue);
    SetTimeFormat(dev.id, TimeFormat::Milliseconds);
    for (uint32_t target : {2000u, 2001u, 3337u, 5999u, 12506u}) {
        ASSERT_EQ(Seek(dev.id, target), kOk);
        uint32_t v = 0;
        StatusPosition(dev.id, v);
        EXPECT_LE(v > target ? v - target : target - v, 1000u / 75) << target;
    }
    EXPECT_EQ(Seek(dev.id, 1000), kErrOutOfRange);  // inside the lead-in
    EXPECT_EQ(Play(dev.id, 3000u, 2500u), kErrOutOfRange);
    EXPECT_EQ(Play(dev.id, 3000u, 60000u), kErrOutOfRange);
}

// Removing the image while it plays stops playback; the drive is then empty.
TEST_F(StepDevice, ImageRemovedWhilePlaying_Stops) {
    std::string cue = WriteCdImage(dir_.Path(), "disc", StandardTracks());
    OpenDevice dev(cue);
    ASSERT_EQ(Play(dev.id, std::nullopt, std::nullopt), kOk);
    Consume(20);
    std::filesystem::remove(cue);
    std::filesystem::remove(dir_.Path() / "disc.bin");
    device_->Consume(10 * kPcmFramesPerCdFrame);  // frees a buffer, so the reader looks again
    Mode mode = Mode::Playing;
    ASSERT_TRUE(WaitFor([&] { return StatusMode(dev.id, mode) == kOk && mode != Mode::Playing; }));
    EXPECT_EQ(mode, Mode::NotReady);
    bool present = true;
    StatusMediaPresent(dev.id, present);
    EXPECT_FALSE(present);
    EXPECT_EQ(Play(dev.id, std::nullopt, std::nullopt), kErrNotReady);
}

// A range that cannot be read plays as silence of the same length and
// playback goes on to the end.
TEST(CdPlayer, ReadError_PlaysSilenceAndGoesOn) {
    TempDir dir;
    std::string wav = (dir.Path() / "out.wav").string();
    DeviceFactoryScope factory([wav] { return audio::CreateDevice("file:" + wav); });
    std::vector<uint8_t> disc = TonePcm(100, 440.0);
    {
        Player player(
            [&](int32_t lsn, int count, uint8_t* out) {
                if (lsn < 40 && lsn + count > 30) return false;  // a scratch at 30..39
                std::memcpy(out, disc.data() + size_t(lsn) * 2352, size_t(count) * 2352);
                return true;
            },
            {});
        ASSERT_TRUE(player.Play(150, 250));
        ASSERT_TRUE(WaitFor([&] { return !player.Playing(); }));
        EXPECT_EQ(player.Position(), 250u);
    }
    std::vector<uint8_t> heard = ReadWavData(wav);
    ASSERT_EQ(heard.size(), disc.size());
    std::fill(disc.begin() + 30 * 2352, disc.begin() + 40 * 2352, 0);
    EXPECT_TRUE(heard == disc);
}

// The CD line's volume scales each channel on its own and leaves full
// volume untouched.
TEST(CdPlayer, ScaleStereo16_PerChannel) {
    std::vector<uint8_t> pcm = TonePcm(1, 440.0);
    std::vector<uint8_t> same = pcm;
    ScaleStereo16(same.data(), same.size(), 1.0f, 1.0f);
    EXPECT_TRUE(same == pcm);
    ScaleStereo16(same.data(), same.size(), 0.5f, 0.0f);
    for (size_t i = 0; i < pcm.size(); i += 4) {
        auto at = [](const std::vector<uint8_t>& v, size_t k) {
            return static_cast<int16_t>(static_cast<uint16_t>(v[k] | (v[k + 1] << 8)));
        };
        EXPECT_EQ(at(same, i), static_cast<int16_t>(at(pcm, i) * 0.5f));
        EXPECT_EQ(at(same, i + 2), 0);
    }
}

// The checks on libcdio's answer refuse layouts nobody can play.
TEST(CdToc, Check_RefusesAbsurdLayouts) {
    Toc good;
    good.tracks = {{0, true}, {150, true}};
    good.leadoutLsn = 300;
    EXPECT_EQ(CheckToc(good), kOk);
    Toc t = good;
    t.tracks[1].startLsn = 0;  // not ascending
    EXPECT_EQ(CheckToc(t), kErrBadToc);
    t = good;
    t.leadoutLsn = 150;  // lead-out at the last start
    EXPECT_EQ(CheckToc(t), kErrBadToc);
    t = good;
    t.tracks.assign(100, {0, true});
    for (int i = 0; i < 100; ++i) t.tracks[i].startLsn = i * 10;
    t.leadoutLsn = 5000;
    EXPECT_EQ(CheckToc(t), kErrBadToc);
    t = good;
    t.leadoutLsn = kMaxLsn + 1;
    EXPECT_EQ(CheckToc(t), kErrBadToc);
    EXPECT_EQ(CheckToc(Toc{}), kErrBadToc);
}

// The drive list ends with the images of TUNARA_CD_IMAGES, in order,
// without empty entries or repeats.
TEST(CdDrives, ListDrives_AddsImagesFromEnvironment) {
    setenv("TUNARA_CD_IMAGES", "/x/a.cue::/x/b.toc:/x/a.cue", 1);
    auto drives = ListDrives();
    unsetenv("TUNARA_CD_IMAGES");
    ASSERT_GE(drives.size(), 2u);
    EXPECT_EQ(drives[drives.size() - 2].name, "/x/a.cue");
    EXPECT_EQ(drives.back().name, "/x/b.toc");
    EXPECT_TRUE(drives.back().isImage);
    EXPECT_TRUE(IsImageName("/a/B.CUE"));
    EXPECT_FALSE(IsImageName("/dev/sr0"));
    EXPECT_FALSE(IsImageName("/a.cue/dir"));
}

}  // namespace
}  // namespace tunara::cdaudio
