// The CD audio device over disc images: table of contents, time formats,
// sharing of an open device, digital playback and a disc that disappears.
#include <gtest/gtest.h>

#include <sys/stat.h>

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

// Sheets are files users download: only well-formed ones reach libcdio, each
// refusal says what is wrong, and what is accepted opens with its own driver.
TEST(CdImageCheck, CraftedSheets_RefusedWithAReason) {
    TempDir dir;
    WriteCdImage(dir.Path(), "disc", {{150, true, 440.0}, {75, true, 660.0}});
    std::filesystem::create_directory(dir.Path() / "a-folder.bin");
    auto tracks = [](int count, int firstNumber, bool step) {
        std::string cue = "FILE \"disc.bin\" BINARY\n";
        for (int t = 0; t < count; ++t)
            cue += "TRACK " + std::to_string(step ? firstNumber + t : firstNumber) +
                   " AUDIO\nINDEX 01 " + testing::Msf(t * 75) + "\n";
        return cue;
    };
    struct Case {
        const char* name;
        std::string text;
        const char* reason;  // empty: accepted, with this many tracks
        int tracks = 0;
    };
    const std::string head = "FILE \"disc.bin\" BINARY\n";
    const std::string bin = (dir.Path() / "disc.bin").string();
    const Case cases[] = {
        {"plain.cue",
         head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:02:00\n", "", 2},
        {"dressed.cue",
         "REM GENRE Test\r\nPERFORMER \"Some One\"\r\nTITLE \"A Disc\"\r\n"
         "FILE \"disc.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    FLAGS DCP PRE\r\n"
         "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    TITLE Two\r\n    INDEX 00 00:01:00\r\n"
         "    INDEX 01 00:02:00\r\n    INDEX 02 00:02:30\r\n",
         "", 2},
        // More than the .bin holds: a damaged track for the reader, not a bad sheet.
        {"long.cue",
         head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 40:00:00\n", "", -1},
        {"lower-case.cue", "file \"disc.bin\" binary\ntrack 01 audio\nindex 01 00:00:00\n",
         "unknown command file"},
        {"marked.cue", "\xEF\xBB\xBF" + head, "byte-order mark"},
        {"hundred-and-one.cue", tracks(101, 1, false), "track 1 where track 2 should come"},
        {"over99.cue", tracks(100, 1, true), "more than 99 tracks"},
        {"seventy.cue", tracks(1, 70, false), "track 70 where track 1 should come"},
        {"no-index1.cue", head + "TRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\n",
         "track 1 has no INDEX 01"},
        {"falling.cue",
         head + "TRACK 01 AUDIO\nINDEX 01 00:03:00\nTRACK 02 AUDIO\nINDEX 01 00:02:00\n",
         "does not come after"},
        {"bad-time.cue", head + "TRACK 01 AUDIO\nINDEX 01 00:61:00\n", "bad time"},
        {"no-bin.cue", "FILE \"gone.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         "\"gone.bin\" is missing"},
        {"folder.cue", "FILE \"a-folder.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
         "\"a-folder.bin\" is missing"},
        {"unknown.cue", head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nEXPLODE now\n",
         "unknown command"},
        {"quote.cue", "FILE \"disc.bin BINARY\n", "a quote is not closed"},
        {"binary.cue", head + std::string("TRACK 01 AUDIO\0\n", 16), "not text"},
        {"line.cue", head + "REM " + std::string(2000, 'x') + "\n", "line is too long"},
        {"huge.cue", head + std::string(300 * 1024, '\n'), "larger than 256 KB"},
        {"empty.cue", "", "no tracks"},
        // libcdio opens a table's data files from the current folder.
        {"plain.toc",
         "CD_DA\nTRACK AUDIO\nFILE \"" + bin + "\" 0 00:02:00\nTRACK AUDIO\nFILE \"" + bin +
             "\" 00:02:00 00:01:00\n",
         "", 2},
        {"no-file.toc", "CD_DA\nTRACK AUDIO\nFILE \"gone.bin\" 0\n", "\"gone.bin\" is missing"},
        {"beyond.toc", "CD_DA\nTRACK AUDIO\nFILE \"" + bin + "\" 0 99999999999\n", "time"},
        {"mode.toc", "CD_DA\nTRACK NOISE\nFILE \"" + bin + "\" 0\n", "unknown track mode"},
    };
    for (const Case& c : cases) {
        const std::string path = (dir.Path() / c.name).string();
        std::ofstream(path, std::ios::binary) << c.text;
        // libcdio reads the data of NAME.cue from NAME.bin.
        const auto bin = dir.Path() / std::filesystem::path(c.name).replace_extension(".bin");
        if (path.ends_with(".cue")) std::filesystem::create_hard_link(dir.Path() / "disc.bin", bin);
        const std::string refusal = CheckImage(path);
        CdIo_t* cdio = OpenCdio(path);
        if (*c.reason == 0) {
            EXPECT_EQ(refusal, "") << c.name;
            EXPECT_NE(cdio, nullptr) << c.name;
            Toc toc;
            if (c.tracks > 0) {
                EXPECT_EQ(ReadToc(cdio, toc), kOk) << c.name;
                EXPECT_EQ(toc.Count(), c.tracks) << c.name;
            }
        } else {
            EXPECT_EQ(refusal.rfind("The disc image " + path + " is damaged: ", 0), 0u) << refusal;
            EXPECT_NE(refusal.find(c.reason), std::string::npos) << c.name << ": " << refusal;
            EXPECT_EQ(cdio, nullptr) << c.name;
        }
        CloseCdio(cdio);
    }
    // A .bin is read through the sheet beside it; a FIFO sheet is not waited on;
    // .nrg images are not handed to libcdio's reader at all.
    EXPECT_EQ(CheckImage((dir.Path() / "disc.bin").string()), "");
    std::filesystem::rename(dir.Path() / "seventy.cue", dir.Path() / "seventy-data.cue");
    EXPECT_NE(CheckImage((dir.Path() / "seventy-data.bin").string()).find("its cue sheet"),
              std::string::npos);
    const std::string fifo = (dir.Path() / "fifo.cue").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(CheckImage(fifo).find("not a regular file"), std::string::npos);
    std::ofstream(dir.Path() / "x.nrg") << "NER5";
    EXPECT_NE(CheckImage((dir.Path() / "x.nrg").string()).find(".nrg images are not supported"),
              std::string::npos);
    OpenDevice refused((dir.Path() / "seventy-data.cue").string());
    bool present = true;
    EXPECT_EQ(StatusMediaPresent(refused.id, present), kErrHardware);
    EXPECT_FALSE(present);
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
