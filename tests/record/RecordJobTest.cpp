// The recording job's steps, driven with disc images, a stepped reader and a
// stepped encoder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "record/RecordTestSupport.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;
using test::FilesIn;
using testing::PumpUntil;

class RecordJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = testing::MakeCdImage(dir.path / "img", {113, 150, 76, 90, 131});
        ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
        fs::create_directories(temp);
        out = dir.path / "Music";
    }
    void TearDown() override { ::unsetenv("TUNARA_CD_IMAGES"); }

    RecordJobConfig Config(std::vector<int> trackNumbers) {
        RecordJobConfig c;
        for (int n : trackNumbers) {
            RecordTrack t;
            t.number = n;
            t.title = "Title " + std::to_string(n);
            t.artist = "Artist";
            t.album = "Album";
            t.category = "Rock";
            t.lengthMs = image.LengthMs(n - 1);
            t.trackTotal = 6;
            t.year = "1999";
            c.tracks.push_back(t);
        }
        c.drive = image.cue;
        c.encoder = RecordEncoder::FastMp3;
        c.bitRateKbps = 64;
        c.folder = out.string();
        c.tempFolder = temp.string();
        c.recordName = [](const RecordTrack& t) { return t.album + " - " + t.title; };
        c.addToPlaylist = [this](const std::string& p) { playlist.push_back(p); };
        c.makeWorker = [this](const WorkerRequest& r, RecordWorker::PostFn post) {
            requests.push_back(r);
            return std::make_unique<test::SteppedWorker>(r, std::move(post), gate);
        };
        return c;
    }

    // Runs a job to its end with everything allowed.
    void Run(RecordJob& job) {
        job.Start();
        ASSERT_TRUE(PumpUntil(queue, [&] {
            return job.State() == RecordState::Finished || job.State() == RecordState::Closed;
        }));
    }

    testing::TempDir dir;
    testing::CdImage image;
    fs::path temp = dir.path / "tmp";
    fs::path out;
    PostedQueue queue;
    test::FrameGate gate;
    test::FakeView view;
    std::vector<std::string> playlist;
    std::vector<WorkerRequest> requests;
};

// Five tracks: each read then encoded in turn, the counter naming the track
// in hand, the overall bar only rising and ending at 100, the files named by
// the rule, holding the track's audio, tagged, listed, and no WAV left over.
TEST_F(RecordJobTest, FiveTracks_RecordedInTurn) {
    CdReader reader(queue);
    RecordJob job(Config({1, 2, 3, 4, 5}), reader, view, queue);
    view.job = &job;
    Run(job);
    ASSERT_EQ(job.State(), RecordState::Finished)
        << (view.messages.empty() ? "" : view.messages[0].second);
    EXPECT_TRUE(view.finished);

    // It ends in its finished state, not on the last track's texts.
    EXPECT_EQ(view.statuses.back(), "Finished | 5 tracks written, 0 failed");
    view.countersByIndex.pop_back();
    for (auto& [index, counter] : view.countersByIndex) {
        if (counter.empty()) continue;
        EXPECT_EQ(counter, "Recording Track " + std::to_string(index + 1) + " of 5");
    }
    EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(),
                        "Reading \"Title 2\" | Recording Track 2 of 5"),
              view.statuses.end());
    EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(),
                        "Writing \"Album - Title 2.mp3\" | Recording Track 2 of 5"),
              view.statuses.end());
    ASSERT_FALSE(view.overall.empty());
    EXPECT_TRUE(std::is_sorted(view.overall.begin(), view.overall.end()));
    EXPECT_EQ(view.overall.back(), 100);
    EXPECT_EQ(job.OverallDoneMs(), job.OverallLengthMs());

    ASSERT_EQ(job.Written().size(), 5u);
    EXPECT_EQ(playlist, job.Written());
    for (int t = 0; t < 5; ++t) {
        std::string expected = (out / ("Album - Title " + std::to_string(t + 1) + ".mp3")).string();
        EXPECT_EQ(job.Written()[size_t(t)], expected);
        auto bytes = test::FileBytes(expected);
        ASSERT_GE(bytes.size(), 128u);
        auto track = image.Track(t);
        // The stepped encoder pads its last frame with silence.
        ASSERT_GE(bytes.size() - 128, track.size() * 2);
        EXPECT_EQ(std::memcmp(bytes.data(), track.data(), track.size() * 2), 0);
        const char* tag = bytes.data() + bytes.size() - 128;
        EXPECT_EQ(std::string(tag, 3), "TAG");
        EXPECT_EQ(std::string(tag + 3), "Title " + std::to_string(t + 1));
        // A v1.1 comment holds 28 characters.
        EXPECT_EQ(std::string(tag + 97, 28), std::string(kRecordComment).substr(0, 28));
        EXPECT_EQ(tag[125], 0);
        EXPECT_EQ(uint8_t(tag[126]), t + 1);
        EXPECT_EQ(uint8_t(tag[127]), 17);  // "Rock"
    }
    EXPECT_EQ(requests.front().bitRate, 64000);
    // The workers get the whole texts for the tags they write.
    ASSERT_EQ(requests.size(), 5u);
    const EncodeTags& tags = requests[1].tags;
    EXPECT_EQ(tags.title, "Title 2");
    EXPECT_EQ(tags.artist, "Artist");
    EXPECT_EQ(tags.album, "Album");
    EXPECT_EQ(tags.year, "1999");
    EXPECT_EQ(tags.genre, "Rock");
    EXPECT_EQ(tags.track, 2);
    EXPECT_EQ(tags.trackTotal, 6);
    // Finished files have the permissions any new file gets, not a temporary file's 0600.
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(job.Written()[0]).permissions(), fs::perms(0666 & ~mask) & fs::perms::all);
    EXPECT_EQ(FilesIn(out).size(), 5u);
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_EQ(view.folderQuestions, 0);
}

// A category that names no genre is tagged 255; an existing file keeps its
// bytes and the new one gets " (2)", then " (3)".
TEST_F(RecordJobTest, ExistingNames_NotOverwritten_UnknownGenre255) {
    fs::create_directories(out);
    std::ofstream(out / "Album - Title 3.mp3") << "mine";
    std::ofstream(out / "Album - Title 3 (2).mp3") << "mine too";
    auto config = Config({3});
    config.tracks[0].category = "Sea Shanties";
    CdReader reader(queue);
    RecordJob job(config, reader, view, queue);
    view.job = &job;
    Run(job);
    ASSERT_EQ(job.Written().size(), 1u);
    EXPECT_EQ(job.Written()[0], (out / "Album - Title 3 (3).mp3").string());
    EXPECT_EQ(test::FileBytes((out / "Album - Title 3.mp3").string()).size(), 4u);
    auto bytes = test::FileBytes(job.Written()[0]);
    EXPECT_EQ(uint8_t(bytes[bytes.size() - 1]), 255);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].tags.genre, "");  // a category, not a genre
}

// Cancel while a track is read: the read stops, the job closes, nothing is
// written and no WAV is left.
TEST_F(RecordJobTest, CancelDuringReading_LeavesNothing) {
    test::SteppedReader reader(queue);
    RecordJob job(Config({1, 2}), reader, view, queue);
    view.job = &job;
    job.Start();
    reader.Allow(30);
    reader.WaitUntilBlocked();
    ASSERT_TRUE(PumpUntil(queue, [&] { return job.OverallDoneMs() > 0; }));
    EXPECT_EQ(job.State(), RecordState::Reading);
    job.Cancel();
    ASSERT_TRUE(PumpUntil(queue, [&] { return view.closed; }));
    EXPECT_EQ(job.State(), RecordState::Closed);
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_TRUE(view.messages.empty());
}

// Cancel while a track is encoded: the worker ends after the frame in hand,
// the partial file goes, earlier tracks' files stay, no WAV is left.
TEST_F(RecordJobTest, CancelDuringEncoding_StopsAfterCurrentFrame) {
    CdReader reader(queue);
    RecordJob job(Config({1, 2}), reader, view, queue);
    view.job = &job;
    gate.Set(1 << 30);
    job.Start();
    ASSERT_TRUE(PumpUntil(queue, [&] { return job.Written().size() == 1; }));
    gate.Set(0);
    ASSERT_TRUE(PumpUntil(queue, [&] { return job.State() == RecordState::Encoding; }));
    int before = gate.encoded;
    gate.Set(3);
    gate.WaitUntilBlocked();
    ASSERT_TRUE(PumpUntil(queue, [&] { return job.TrackPercent() > 50; }));
    job.Cancel();
    EXPECT_EQ(job.State(), RecordState::Closed);
    EXPECT_EQ(gate.encoded - before, 3);
    queue.Deliver();  // the stopped worker's message finds the job closed
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"Album - Title 1.mp3"});
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_EQ(playlist.size(), 1u);
}

// Cancel around the end of a read, where the reader's thread, its queued
// events and the worker meet: (0) the read has ended and its finished event
// waits in the queue, (1) the worker has started but not yet encoded a
// frame, (2) the first file is finished and the second read has not begun.
// Only files finished before the click stay; nothing partial stays anywhere.
class RecordJobCancelTest : public RecordJobTest, public ::testing::WithParamInterface<int> {};

TEST_P(RecordJobCancelTest, AroundTheEndOfARead_LeavesOnlyFinishedFiles) {
    // Track 4 has 90 sectors: its last one posts no progress event, so the
    // only event after it is the finished one.
    std::atomic<int> posts{0};
    queue.SetWaker([&posts] { ++posts; });
    test::SteppedReader reader(queue);
    RecordJob job(Config({4, 3}), reader, view, queue);
    view.job = &job;
    const int moment = GetParam();
    gate.Set(moment == 2 ? 1 << 30 : 0);
    job.Start();
    if (moment == 2) {
        reader.Allow(90);
        ASSERT_TRUE(PumpUntil(queue, [&] { return job.Written().size() == 1; }));
        reader.WaitUntilBlocked();  // before the second track's first sector
        queue.Deliver();
    } else {
        reader.Allow(89);
        reader.WaitUntilBlocked();
        queue.Deliver();
        const int before = posts;
        reader.Allow(1);
        ASSERT_TRUE(testing::Eventually([&] { return posts > before; }, std::chrono::seconds(60)));
        ASSERT_EQ(job.State(), RecordState::Reading);
        if (moment == 1) {
            queue.Deliver();
            ASSERT_EQ(job.State(), RecordState::Encoding);
        }
    }
    const std::vector<std::string> finished = job.Written();
    job.Cancel();
    ASSERT_TRUE(PumpUntil(queue, [&] { return view.closed; }));
    queue.SetWaker(nullptr);
    std::vector<std::string> expected;
    for (const std::string& path : finished) expected.push_back(fs::path(path).filename());
    EXPECT_EQ(FilesIn(out), expected);
    EXPECT_EQ(playlist, finished);
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_TRUE(view.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Moments, RecordJobCancelTest, ::testing::Values(0, 1, 2));

// An encoder failure ends the job with a message; no partial file stays.
TEST_F(RecordJobTest, EncoderFailure_ClosesWithMessage) {
    gate.failAtFrame = 2;
    CdReader reader(queue);
    RecordJob job(Config({2}), reader, view, queue);
    view.job = &job;
    Run(job);
    EXPECT_EQ(job.State(), RecordState::Closed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, kRecordErrorCaption);
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_TRUE(FilesIn(temp).empty());
}

// "AskFilePath" on: the chooser decides, opening in a folder that exists (the
// music folder the user's directories name, for a missing setting); cancelling
// it records nothing and reads nothing. A typed "~" means the home folder,
// and every missing level of the chosen folder is made.
TEST_F(RecordJobTest, AskFilePath_ChooserDecides) {
    const fs::path home = dir.path / "home";
    fs::create_directories(home / "Tunes");
    fs::create_directories(home / ".config");
    std::ofstream(home / ".config" / "user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n";
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    CdReader reader(queue);
    {
        auto config = Config({1});
        config.askFolder = true;
        RecordJob job(config, reader, view, queue);
        view.job = &job;
        job.Start();
        EXPECT_EQ(view.folderQuestions, 1);
        EXPECT_EQ(view.folderStart, (home / "Tunes").string());
        EXPECT_EQ(job.State(), RecordState::Closed);
        EXPECT_EQ(reader.State(), 0);
        EXPECT_FALSE(fs::exists(out));
    }
    {
        view.folderAnswer = "~/Rips/2026";
        auto config = Config({1});
        config.askFolder = true;
        RecordJob job(config, reader, view, queue);
        view.job = &job;
        Run(job);
        ASSERT_EQ(job.Written().size(), 1u);
        EXPECT_EQ(fs::path(job.Written()[0]).parent_path(), home / "Rips" / "2026");
    }
    ::setenv("HOME", oldHome.c_str(), 1);
}

// A track with unreadable sectors is encoded and kept but reported, never
// counted as written nor listed; the job goes on and its finished texts
// count both kinds.
TEST_F(RecordJobTest, DamagedTrack_KeptReportedAndCounted) {
    image = testing::MakeCdImage(dir.path / "damaged", {60, 80}, {}, 25);
    ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
    CdReader reader(queue);
    RecordJob job(Config({2, 1}), reader, view, queue);
    view.job = &job;
    Run(job);
    ASSERT_EQ(job.State(), RecordState::Finished) << view.messages.size();
    const std::string kept = (out / "Album - Title 2.mp3").string();
    ASSERT_EQ(view.damaged, std::vector<std::string>{"2 25 " + kept});
    EXPECT_TRUE(fs::exists(kept));
    ASSERT_EQ(job.Damaged().size(), 1u);
    EXPECT_EQ(job.Written(), std::vector<std::string>{(out / "Album - Title 1.mp3").string()});
    EXPECT_EQ(playlist, job.Written());
    EXPECT_EQ(view.statuses.back(), "Finished | 1 track written, 1 failed");
    EXPECT_TRUE(view.messages.empty());
}

// A missing output folder is made; one that cannot be made fails the job
// with a message before any reading.
TEST_F(RecordJobTest, OutputFolder_CreatedOrRefusedBeforeReading) {
    CdReader reader(queue);
    out = dir.path / "a" / "b" / "Music";
    {
        RecordJob job(Config({1}), reader, view, queue);
        view.job = &job;
        Run(job);
        EXPECT_EQ(job.Written().size(), 1u);
    }
    std::ofstream(dir.path / "plain-file") << "x";
    out = dir.path / "plain-file" / "Music";
    RecordJob job(Config({1}), reader, view, queue);
    view.job = &job;
    view.messages.clear();
    job.Start();
    EXPECT_EQ(job.State(), RecordState::Closed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].second.find("plain-file"), std::string::npos);
    EXPECT_EQ(reader.State(), 0);
    EXPECT_TRUE(FilesIn(temp).empty());
}

// No drive of the reader matches: nothing starts, Cancel ends the job.
TEST_F(RecordJobTest, UnknownDrive_WaitsForCancel) {
    CdReader reader(queue);
    auto config = Config({1});
    config.drive = "/dev/no-such-drive";
    RecordJob job(config, reader, view, queue);
    view.job = &job;
    job.Start();
    EXPECT_EQ(job.State(), RecordState::Waiting);
    queue.Deliver();
    job.Cancel();
    EXPECT_EQ(job.State(), RecordState::Closed);
    EXPECT_TRUE(FilesIn(temp).empty());
}

// A read error (the disc lacks the track) closes the job with the reader's text.
TEST_F(RecordJobTest, ReadError_ClosesWithReason) {
    CdReader reader(queue);
    auto config = Config({1});
    config.tracks[0].number = 9;
    RecordJob job(config, reader, view, queue);
    view.job = &job;
    Run(job);
    EXPECT_EQ(job.State(), RecordState::Closed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].second.find("Track 9"), std::string::npos);
    EXPECT_TRUE(FilesIn(temp).empty());
}

}  // namespace
}  // namespace tunara
