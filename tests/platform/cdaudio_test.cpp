// The CD audio device over disc images: table of contents, time formats,
// sharing of an open device, reading audio sectors and a disc that disappears.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/cdaudio/CdAudio.h"
#include "platform/cdaudio/Toc.h"
#include "support/CdImage.h"
#include "support/LibcdioLeaks.h"

namespace tunara::cdaudio {
namespace {

using testing::StandardTracks;
using testing::TempDir;
using testing::TonePcm;
using testing::WriteCdImage;

// Opens an element for one test and closes it at the end.
struct OpenDevice {
    explicit OpenDevice(const std::string& element) { result = Open(element, id); }
    ~OpenDevice() {
        if (id) Close(id);
    }
    Result result;
    DeviceId id = 0;
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

// Sectors read as they are in the image; outside the disc nothing is read
// and what comes back is silence, never what the buffer held before.
TEST(CdAudio, ReadAudioSectors_ByteForByteAndSilenceOutside) {
    TempDir dir;
    std::string cue = WriteCdImage(dir.Path(), "disc", StandardTracks());
    OpenDevice dev(cue);
    int32_t start = 0, count = 0;
    ASSERT_EQ(StatusTrackSectors(dev.id, 2, start, count), kOk);
    EXPECT_EQ(start, 150);
    EXPECT_EQ(count, 225);
    std::vector<uint8_t> got(size_t(count) * kBytesPerCdFrame, 0xAA);
    ASSERT_EQ(ReadAudioSectors(dev.id, start, count, got.data()), kOk);
    EXPECT_TRUE(got == TonePcm(225, 660.0));

    std::vector<uint8_t> stale(3 * kBytesPerCdFrame, 0xAA);
    EXPECT_EQ(ReadAudioSectors(dev.id, 787, 3, stale.data()), kErrOutOfRange);
    EXPECT_TRUE(std::all_of(stale.begin(), stale.end(), [](uint8_t b) { return b == 0; }));
}

// Removing the image makes the drive empty: a read says so and gives silence.
TEST(CdAudio, ReadAudioSectors_ImageRemoved_NotReady) {
    TempDir dir;
    std::string cue = WriteCdImage(dir.Path(), "disc", StandardTracks());
    OpenDevice dev(cue);
    std::vector<uint8_t> got(2 * kBytesPerCdFrame, 0xAA);
    ASSERT_EQ(ReadAudioSectors(dev.id, 10, 2, got.data()), kOk);
    std::filesystem::remove(cue);
    std::filesystem::remove(dir.Path() / "disc.bin");
    EXPECT_EQ(ReadAudioSectors(dev.id, 10, 2, got.data()), kErrNotReady);
    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 0; }));
    bool present = true;
    StatusMediaPresent(dev.id, present);
    EXPECT_FALSE(present);
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
