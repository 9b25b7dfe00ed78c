// The CD reader over disc images: what it writes, its events, and abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/SteppedReader.h"
#include "platform/cdreader/CdReader.h"
#include "support/CdImage.h"

namespace tunara {
namespace {

using test::SteppedReader;
using testing::PumpUntil;
namespace fs = std::filesystem;

struct Events : CdReaderListener {
    std::vector<std::string> log;
    std::vector<int32_t> frames;
    CdReader* reader = nullptr;
    void OnReadError(const std::string& text) override { log.push_back("error: " + text); }
    void OnReadStarted() override { log.push_back("started"); }
    void OnReadFinished() override { log.push_back("finished"); }
    void OnReadProgress() override {
        log.push_back("progress");
        frames.push_back(reader->CurrentFrame());
    }
    bool Finished() const { return !log.empty() && log.back() == "finished"; }
};

class CdReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = testing::MakeCdImage(dir.path / "img", {150, 263, 75});
        ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("TUNARA_CD_IMAGES"); }

    int IndexOfImage(CdReader& reader) {
        const auto& drives = reader.Drives();
        for (size_t i = 0; i < drives.size(); ++i)
            if (drives[i] == image.cue) return int(i);
        return -1;
    }

    testing::TempDir dir;
    testing::CdImage image;
    PostedQueue queue;
};

// The WAV of a track holds exactly the image's sectors of that track, after
// a canonical 16-bit 44.1 kHz stereo header.
TEST_F(CdReaderTest, ReadTrack_Image_WritesItsSectorsByteForByte) {
    CdReader reader(queue);
    Events ev;
    ev.reader = &reader;
    reader.SetListener(&ev);
    ASSERT_TRUE(reader.SelectDrive(IndexOfImage(reader)));
    EXPECT_EQ(reader.DriveName(), image.cue);
    EXPECT_TRUE(reader.Available());
    EXPECT_TRUE(reader.DiscReady());
    reader.SetEnabled(true);
    std::string wav = (dir.path / "t2.wav").string(), error;
    ASSERT_TRUE(reader.ReadTrack(1, wav, error)) << error;
    EXPECT_EQ(reader.State(), 1);
    ASSERT_TRUE(PumpUntil(queue, [&] { return ev.Finished(); }));
    EXPECT_EQ(reader.State(), 0);
    EXPECT_EQ(ev.log.front(), "started");
    for (size_t i = 1; i + 1 < ev.log.size(); ++i) EXPECT_EQ(ev.log[i], "progress");
    for (size_t i = 1; i < ev.frames.size(); ++i) EXPECT_GE(ev.frames[i], ev.frames[i - 1]);
    EXPECT_EQ(reader.StartFrame(), image.firstSector[1]);
    EXPECT_EQ(reader.CurrentFrame(), image.firstSector[1] + image.sectors[1]);

    std::ifstream f(wav, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
    ASSERT_EQ(bytes.size(), 44u + size_t(image.sectors[1]) * testing::kSectorBytes);
    const uint8_t header[16] = {'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0};
    EXPECT_EQ(std::memcmp(bytes.data() + 12, header, 16), 0);
    EXPECT_EQ(testing::ReadWavSamples(wav), image.Track(1));
}

// Reads a track of `img` to the end with a plain reader; the events' log.
std::vector<std::string> ReadWhole(CdReader& reader, PostedQueue& queue,
                                   const testing::CdImage& img, int track, const std::string& wav) {
    Events ev;
    ev.reader = &reader;
    reader.SetListener(&ev);
    const auto& drives = reader.Drives();
    int index = int(std::find(drives.begin(), drives.end(), img.cue) - drives.begin());
    EXPECT_TRUE(reader.SelectDrive(index));
    reader.SetEnabled(true);
    std::string error;
    EXPECT_TRUE(reader.ReadTrack(track, wav, error)) << error;
    EXPECT_TRUE(PumpUntil(queue, [&] { return ev.Finished(); }));
    reader.SetListener(nullptr);
    return ev.log;
}

// An exactly periodic track looks the same one period later: the read must
// still end at the track's last sector, not slide into the next track.
TEST_F(CdReaderTest, PeriodicTrack_EndsAtItsLastSector) {
    // 150 Hz and 225 Hz repeat every 588 samples, once a sector.
    auto img = testing::MakeCdImage(dir.path / "periodic", {75 * 40, 150}, {150.0, 550.0});
    ::setenv("TUNARA_CD_IMAGES", img.cue.c_str(), 1);
    CdReader reader(queue);
    std::string wav = (dir.path / "p.wav").string();
    auto log = ReadWhole(reader, queue, img, 0, wav);
    EXPECT_EQ(log.front(), "started");
    EXPECT_EQ(reader.DamagedSectors(), 0);
    EXPECT_TRUE(testing::ReadWavSamples(wav) == img.Track(0));
}

// A read offset shifts the track's samples across sector boundaries, in either direction; past
// the disc's first or last sample the file holds silence, and the file keeps the track's length.
TEST_F(CdReaderTest, ReadOffset_ShiftsSamplesAndFillsTheEdgesWithSilence) {
    auto img = testing::MakeCdImage(dir.path / "offset", {40, 50, 30});
    ::setenv("TUNARA_CD_IMAGES", img.cue.c_str(), 1);
    CdReader reader(queue);
    std::string wav = (dir.path / "o.wav").string();
    const int64_t total = int64_t(img.samples.size() / 2);
    for (int offset : {667, -1300, 2000, -2000}) {
        for (int track : {0, 1, 2}) {
            reader.SetReadOffset(offset);
            ReadWhole(reader, queue, img, track, wav);
            const auto got = testing::ReadWavSamples(wav);
            const int64_t start =
                int64_t(img.firstSector[size_t(track)]) * testing::kFramesPerSector;
            ASSERT_EQ(got.size(),
                      size_t(img.sectors[size_t(track)]) * testing::kFramesPerSector * 2);
            bool same = true;
            for (int64_t i = 0; i < int64_t(got.size() / 2) && same; ++i) {
                const int64_t at = start + i + offset;
                for (int64_t c = 0; c < 2; ++c)
                    same =
                        same && got[size_t(2 * i + c)] ==
                                    (at < 0 || at >= total ? 0 : img.samples[size_t(2 * at + c)]);
            }
            EXPECT_TRUE(same) << "offset " << offset << " track " << track + 1;
            EXPECT_EQ(reader.DamagedSectors(), 0);
        }
    }
}

// Sectors that stay unreadable are counted, not hidden: the read finishes
// without an error event, keeps its file at full length and tells how many
// sectors it could not read. The next read starts counting afresh.
TEST_F(CdReaderTest, UnreadableSectors_CountedAndFileKept) {
    auto img = testing::MakeCdImage(dir.path / "short", {100, 120}, {}, 30);
    ::setenv("TUNARA_CD_IMAGES", img.cue.c_str(), 1);
    CdReader reader(queue);
    std::string wav = (dir.path / "d.wav").string();
    auto log = ReadWhole(reader, queue, img, 1, wav);
    for (const std::string& e : log) EXPECT_EQ(e.rfind("error", 0), std::string::npos) << e;
    EXPECT_EQ(reader.DamagedSectors(), 30);
    auto samples = testing::ReadWavSamples(wav);
    auto expected = img.Track(1);
    ASSERT_EQ(samples.size(), expected.size());
    const size_t good = size_t(90) * testing::kFramesPerSector * 2;
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + int64_t(good), samples.begin()));

    ReadWhole(reader, queue, img, 0, wav);
    EXPECT_EQ(reader.DamagedSectors(), 0);
    EXPECT_TRUE(testing::ReadWavSamples(wav) == img.Track(0));
}

// Abort ends the read after the sector in hand: one finished event, no error,
// no file left.
TEST_F(CdReaderTest, Abort_DuringRead_LeavesNoFile) {
    SteppedReader reader(queue);
    Events ev;
    ev.reader = &reader;
    reader.SetListener(&ev);
    ASSERT_TRUE(reader.SelectDrive(IndexOfImage(reader)));
    reader.SetEnabled(true);
    std::string wav = (dir.path / "t1.wav").string(), error;
    ASSERT_TRUE(reader.ReadTrack(0, wav, error)) << error;
    reader.Allow(40);
    reader.WaitUntilBlocked();
    ASSERT_TRUE(PumpUntil(queue, [&] { return ev.log.size() >= 2; }));  // started, progress
    EXPECT_EQ(reader.State(), 1);
    reader.Abort();
    ASSERT_TRUE(PumpUntil(queue, [&] { return ev.Finished(); }));
    EXPECT_EQ(ev.log.size(), 3u);
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_EQ(reader.State(), 0);
}

// An abort or a stop that lands after the last sector, while the finished
// event still waits in the queue, leaves no file either: the host asked for
// none and, after a stop, never hears of this read again.
TEST_F(CdReaderTest, AbortOrStopAfterTheLastSector_LeavesNoFile) {
    for (bool stop : {false, true}) {
        std::atomic<int> posts{0};
        queue.SetWaker([&posts] { ++posts; });
        SteppedReader reader(queue);
        Events ev;
        ev.reader = &reader;
        reader.SetListener(&ev);
        ASSERT_TRUE(reader.SelectDrive(IndexOfImage(reader)));
        reader.SetEnabled(true);
        std::string wav = (dir.path / (stop ? "stopped.wav" : "aborted.wav")).string(), error;
        // Track 2 has 263 sectors: its last one posts no progress event, so
        // the finished event is the only one after it.
        ASSERT_TRUE(reader.ReadTrack(1, wav, error)) << error;
        reader.Allow(262);
        reader.WaitUntilBlocked();
        queue.Deliver();
        const int before = posts;
        reader.Allow(1);
        ASSERT_TRUE(testing::Eventually([&] { return posts > before; }, std::chrono::seconds(60)));
        ASSERT_EQ(reader.State(), 1);
        if (stop)
            reader.Stop();
        else
            reader.Abort();
        queue.Deliver();
        queue.SetWaker(nullptr);
        EXPECT_FALSE(fs::exists(wav)) << (stop ? "after Stop" : "after Abort");
        EXPECT_EQ(reader.State(), 0);
        EXPECT_EQ(ev.Finished(), !stop);
        for (const std::string& e : ev.log) EXPECT_EQ(e.rfind("error", 0), std::string::npos);
    }
}

// Reads are refused while disabled or without a drive; a track the disc
// lacks comes back as an error event followed by the finished event, and the
// file the host had made at the path goes.
TEST_F(CdReaderTest, ReadTrack_Refusals) {
    CdReader reader(queue);
    Events ev;
    reader.SetListener(&ev);
    std::string wav = (dir.path / "x.wav").string(), error;
    reader.SetEnabled(true);
    EXPECT_FALSE(reader.ReadTrack(0, wav, error));
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(reader.SelectDrive(IndexOfImage(reader)));
    reader.SetEnabled(false);
    error.clear();
    EXPECT_FALSE(reader.ReadTrack(0, wav, error));
    reader.SetEnabled(true);
    error.clear();
    std::ofstream(wav).close();
    ASSERT_TRUE(reader.ReadTrack(7, wav, error)) << error;
    ASSERT_TRUE(PumpUntil(queue, [&] { return ev.Finished(); }));
    ASSERT_EQ(ev.log.size(), 2u);
    EXPECT_EQ(ev.log[0].rfind("error: ", 0), 0u);
    EXPECT_FALSE(fs::exists(wav));
}

// A missing image is an error, and Stop drops the events of a read in flight.
TEST_F(CdReaderTest, MissingImage_ReportsError_StopDropsEvents) {
    image.cue = (dir.path / "none.cue").string();
    ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
    CdReader reader(queue);
    Events ev;
    reader.SetListener(&ev);
    ASSERT_TRUE(reader.SelectDrive(IndexOfImage(reader)));
    EXPECT_FALSE(reader.DiscReady());
    reader.SetEnabled(true);
    std::string error;
    ASSERT_TRUE(reader.ReadTrack(0, (dir.path / "y.wav").string(), error));
    ASSERT_TRUE(PumpUntil(queue, [&] { return ev.Finished(); }));
    EXPECT_EQ(ev.log[0].rfind("error: ", 0), 0u);

    ASSERT_TRUE(reader.ReadTrack(0, (dir.path / "y.wav").string(), error));
    reader.Stop();
    queue.Deliver();
    EXPECT_EQ(ev.log.size(), 2u);
    EXPECT_EQ(reader.State(), 0);
}

}  // namespace
}  // namespace tunara
