// The recording window over a generated disc image: two tracks to tagged
// MP3 files, the texts and bars on the way, Cancel, and a reader that could
// not be made.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/ui/UserInteraction.h"
#include "qt/QtApp.h"
#include "support/CdImage.h"
#include "ui/core/RecordName.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/RecordDialog.h"
#include "ui/skin/Skin.h"

namespace tunara::qt {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) files.push_back(e.path());
    return files;
}

class RecordDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        root_ = fs::path(dir_.path().toStdString());
        image_ = testing::MakeCdImage(root_ / "img", {90, 120, 75});
        ::setenv("TUNARA_CD_IMAGES", image_.cue.c_str(), 1);
        fs::create_directories(out_);
        fs::create_directories(temp_);
    }
    void TearDown() override { ::unsetenv("TUNARA_CD_IMAGES"); }

    RecordJobConfig Config(std::vector<int> numbers) {
        RecordJobConfig c;
        for (int n : numbers) {
            RecordTrack t;
            t.number = n;
            t.title = "Song " + std::to_string(n);
            t.artist = "The Band";
            t.album = "First Light";
            t.lengthMs = image_.LengthMs(n - 1);
            c.tracks.push_back(t);
        }
        c.drive = image_.cue;
        c.encoder = RecordEncoder::FastMp3;
        c.bitRateKbps = 64;
        c.folder = out_.string();
        c.tempFolder = temp_.string();
        c.recordName = [](const RecordTrack& t) {
            return BuildRecordName(t.album, t.artist, t.title, t.number, 64, {0, 1, 2, 5});
        };
        c.addToPlaylist = [this](const std::string& path) { added_.push_back(path); };
        return c;
    }
    // Runs the queue and Qt's events until `done` or 60 s.
    bool PumpUntil(const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > 60000) return false;
            UiQueue().Deliver();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    QTemporaryDir dir_;
    fs::path root_;
    fs::path out_ = fs::path(dir_.path().toStdString()) / "Music";
    fs::path temp_ = fs::path(dir_.path().toStdString()) / "tmp";
    testing::CdImage image_;
    std::vector<std::string> added_;
    std::vector<std::pair<std::string, std::string>> messages_;
};

TEST_F(RecordDialogTest, TwoTracks_TaggedFilesAndTheFinishedLook) {
    CdReader reader;
    RecordDialog dialog(Config({1, 3}), &reader);
    dialog.showMessage = [this](const std::string& c, const std::string& t) {
        messages_.emplace_back(c, t);
    };
    EXPECT_EQ(dialog.StatusText(), "Track Status");
    std::vector<QString> counters;
    dialog.show();
    dialog.StartJob();
    ASSERT_TRUE(PumpUntil([&] {
        if (counters.empty() || counters.back() != dialog.CounterText()) {
            counters.push_back(dialog.CounterText());
        }
        return dialog.ShowsFinishedLook() || dialog.Job()->State() == RecordState::Closed;
    }));
    ASSERT_TRUE(messages_.empty()) << messages_[0].second;
    EXPECT_NE(std::find(counters.begin(), counters.end(), "Recording Track 2 of 2"),
              counters.end());
    EXPECT_EQ(dialog.OverallPercent(), 100);
    EXPECT_EQ(dialog.CancelButton()->ShownBitmap(), skin::kCloseNormal);
    // Finished, not still "Writing" the last track.
    EXPECT_EQ(dialog.StatusText(), "Finished");
    EXPECT_EQ(dialog.CounterText(), "2 tracks written, 0 failed");
    ASSERT_EQ(added_.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        const int n = k == 0 ? 1 : 3;
        EXPECT_EQ(
            added_[size_t(k)],
            (out_ / ("First Light - The Band - Song " + std::to_string(n) + ".mp3")).string());
        std::ifstream in(added_[size_t(k)], std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        ASSERT_GT(bytes.size(), 1000u);
        const std::string tag = bytes.substr(bytes.size() - 128);
        EXPECT_EQ(tag.substr(0, 3), "TAG");
        EXPECT_EQ(tag.substr(3, 6), "Song " + std::to_string(n));
        EXPECT_EQ(uint8_t(tag[126]), n);
    }
    EXPECT_TRUE(FilesIn(temp_).empty());
    // The counter is shown whole, beside the status rather than over it.
    QLabel *counter = nullptr, *status = nullptr;
    for (QLabel* l : dialog.findChildren<QLabel*>()) {
        if (l->text() == dialog.CounterText()) counter = l;
        if (l->text() == dialog.StatusText()) status = l;
    }
    ASSERT_TRUE(counter && status);
    EXPECT_GE(counter->width(), counter->fontMetrics().horizontalAdvance(counter->text()));
    EXPECT_EQ(counter->geometry().right(), skin::recording::kCounterText.right());
    EXPECT_LT(status->geometry().right(), counter->geometry().left());
    // Close (the finished Cancel) ends the window.
    bool ended = false;
    QObject::connect(&dialog, &RecordDialog::ended, [&] { ended = true; });
    dialog.CancelButton()->clicked(kRecordCancelId);
    EXPECT_TRUE(PumpUntil([&] { return ended; }));
}

// A track with unreadable sectors: the window finishes, counts it as failed
// and names it with its unreadable sectors; its file stays but is not listed.
TEST_F(RecordDialogTest, DamagedTrack_ReportedWhenFinished) {
    image_ = testing::MakeCdImage(root_ / "damaged", {90, 120}, {}, 12);
    ::setenv("TUNARA_CD_IMAGES", image_.cue.c_str(), 1);
    CdReader reader;
    RecordDialog dialog(Config({1, 2}), &reader);
    dialog.showMessage = [this](const std::string& c, const std::string& t) {
        messages_.emplace_back(c, t);
    };
    dialog.show();
    dialog.StartJob();
    ASSERT_TRUE(PumpUntil([&] {
        return dialog.ShowsFinishedLook() || dialog.Job()->State() == RecordState::Closed;
    }));
    EXPECT_TRUE(dialog.ShowsFinishedLook());
    EXPECT_EQ(dialog.StatusText(), "Finished");
    EXPECT_EQ(dialog.CounterText(), "1 track written, 1 failed");
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].second.find("Track 2: 12 sectors could not be read"), std::string::npos)
        << messages_[0].second;
    EXPECT_EQ(added_.size(), 1u);
    EXPECT_EQ(FilesIn(out_).size(), 2u);
}

// Cancel while the first track is read: the window ends, nothing is left
// in the output or the temporary folder.
TEST_F(RecordDialogTest, Cancel_LeavesNoPartialFile) {
    CdReader reader;
    RecordDialog dialog(Config({2, 3}), &reader);
    dialog.showMessage = [this](const std::string& c, const std::string& t) {
        messages_.emplace_back(c, t);
    };
    bool ended = false;
    QObject::connect(&dialog, &RecordDialog::ended, [&] { ended = true; });
    dialog.show();
    dialog.StartJob();
    // Cancel while the first track is being read: waiting for its status text
    // races with a fast read, which may finish (and commit) before the click.
    dialog.CancelButton()->clicked(kRecordCancelId);
    ASSERT_TRUE(PumpUntil([&] { return ended; }));
    EXPECT_EQ(dialog.Job()->State(), RecordState::Closed);
    for (const fs::path& f : FilesIn(out_))
        ADD_FAILURE() << "left: " << f << " " << fs::file_size(f);
    for (const fs::path& f : FilesIn(temp_))
        ADD_FAILURE() << "left: " << f << " " << fs::file_size(f);
    EXPECT_TRUE(added_.empty());
}

// Without a reader the window tells so and ends; it opens over its owner, not at the
// desktop's corner.
TEST_F(RecordDialogTest, NoReader_TellsAndEnds) {
    QWidget owner;
    owner.setGeometry(300, 200, 400, 300);
    owner.show();
    RecordDialog dialog(Config({1}), nullptr, &owner);
    dialog.showMessage = [this](const std::string& c, const std::string& t) {
        messages_.emplace_back(c, t);
    };
    bool ended = false;
    QObject::connect(&dialog, &RecordDialog::ended, [&] { ended = true; });
    dialog.Exec();
    EXPECT_TRUE(ended);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].second, "Can't initialize record component.");
    EXPECT_LE((dialog.geometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
}

}  // namespace
}  // namespace tunara::qt
