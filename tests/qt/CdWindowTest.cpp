// The CD window over a generated disc image: the tracks and the disc's
// artist and title, the label control, Record's refusal and its rows; opened
// from the main window, its CD information from a CDDB server on the loopback
// address, and recordings through the recording window.
#include <gtest/gtest.h>

#include <QMenu>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "engine/testing/EngineTesting.h"
#include "metadata/Id3Tag.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/Playlist.h"
#include "qt/QtApp.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "sources/testing/TestSources.h"
#include "support/CdImage.h"
#include "support/Eventually.h"
#include "support/FakeAccurateRip.h"
#include "support/FakeCddbServer.h"
#include "ui/core/SettingsStore.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/CdWindow.h"
#include "ui/qt/Displays.h"
#include "ui/qt/LabelControl.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/RecordDialog.h"
#include "ui/qt/TrackListView.h"

namespace tunara::qt {
namespace {

namespace fs = std::filesystem;

class CdWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        image_ = testing::MakeCdImage(fs::path(dir_.path().toStdString()) / "img", {90, 120, 75});
        ::setenv("TUNARA_CD_IMAGES", image_.cue.c_str(), 1);
        disc_ = std::make_unique<CdDisc>(tunara::testing::TestEngine(), image_.cue);
        ASSERT_EQ(disc_->ReadToc(), 0u);
        main_ = std::make_unique<MainWindow>(playlist_, nullptr, "");
        main_->TickTimer().stop();
    }
    void TearDown() override {
        window_ = nullptr;
        main_.reset();
        disc_.reset();
        ::unsetenv("TUNARA_CD_IMAGES");
    }
    CdWindow* Open() {
        window_ = new CdWindow(main_.get(), disc_.get(), main_->Controller(), nullptr);
        window_->showError = [this](const QString& caption, const QString& text) {
            errors_.push_back(caption + ": " + text);
        };
        window_->runRecording = [this](std::vector<int> rows) { recorded_.push_back(rows); };
        return window_;
    }

    QTemporaryDir dir_;
    testing::CdImage image_;
    std::unique_ptr<CdDisc> disc_;
    Playlist playlist_{tunara::testing::TestSources()};
    std::unique_ptr<MainWindow> main_;
    CdWindow* window_ = nullptr;
    std::vector<QString> errors_;
    std::vector<std::vector<int>> recorded_;
};

// The disc's tracks in the list view; the labels show the first track's
// artist and album, in the idle colour until the disc is the active list.
TEST_F(CdWindowTest, ShowsTheDiscAndFollowsTheActiveList) {
    for (int i = 0; i < disc_->Count(); ++i) {
        disc_->ItemAt(i)->SetArtist("The Band");
        disc_->ItemAt(i)->SetAlbum("First Light");
    }
    Open()->show();
    testing::Drain();
    EXPECT_EQ(window_->size(), QSize(375, 221));
    EXPECT_EQ(window_->View()->RowCount(), 3);
    EXPECT_EQ(window_->ArtistLabel()->text(), "The Band");
    EXPECT_EQ(window_->TitleLabel()->text(), "First Light");
    EXPECT_EQ(window_->ArtistLabel()->TextColour(), QColor(0, 127, 255));
    EXPECT_EQ(window_->ArtistLabel()->BackgroundColour(), QColor(Qt::black));
    EXPECT_EQ(window_->ArtistLabel()->font().pointSize(), 7);
    // Docked below the main window.
    EXPECT_EQ(window_->DockedTo(), main_.get());

    main_->Controller().MakeActive(disc_.get());
    window_->Refresh();
    EXPECT_EQ(window_->TitleLabel()->TextColour(), QColor(224, 224, 224));
    main_->Controller().MakeActive(&playlist_);
    window_->Refresh();
    EXPECT_EQ(window_->TitleLabel()->TextColour(), QColor(0, 127, 255));
    window_->close();
}

TEST_F(CdWindowTest, Record_NothingSelected_Refuses) {
    Open();
    window_->Button(kCdRecordId)->clicked(kCdRecordId);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], "Error: No tracks are selected.");
    EXPECT_TRUE(recorded_.empty());
    window_->close();
}

TEST_F(CdWindowTest, RightClickMenuPlaysAndRecordsTheSelection) {
    Open();
    std::unique_ptr<QMenu> menu(window_->ContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions()) texts << a->text();
    EXPECT_EQ(texts, (QStringList{"Play", "Record...", "CD Info"}));
    EXPECT_FALSE(menu->actions()[0]->isEnabled());  // nothing selected
    window_->View()->Select(1);
    menu.reset(window_->ContextMenu());
    menu->actions()[0]->trigger();
    EXPECT_TRUE(main_->Controller().IsActive(disc_.get()));
    EXPECT_EQ(disc_->Current(), 1);
    EXPECT_EQ(main_->Controller().State(), PlayState::Playing);
    menu->actions()[1]->trigger();
    EXPECT_EQ(recorded_, (std::vector<std::vector<int>>{{1}}));
    main_->Controller().Stop();
    window_->close();
}

// Rows in ascending order; a playing disc is stopped first and stays stopped.
TEST_F(CdWindowTest, Record_SelectedRows_StopsPlayback) {
    Open();
    window_->View()->Select(2);
    window_->View()->Select(0, false);
    main_->Controller().PlayRow(*disc_, 1);
    window_->Record();
    ASSERT_EQ(recorded_.size(), 1u);
    EXPECT_EQ(recorded_[0], (std::vector<int>{0, 2}));
    EXPECT_NE(main_->Controller().State(), PlayState::Playing);
    EXPECT_TRUE(errors_.empty());
    window_->close();
}

// The program's own wiring: the main window's controller owns the disc of
// the image drive, the CD button opens the window over it, CD Info asks the
// server of the settings and Record runs the recording window.
class CdPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        root_ = fs::path(dir_.path().toStdString());
        image_ = testing::MakeCdImage(root_ / "img", {90, 120, 75});
        fs::create_directories(temp_);
        SetEnv("TUNARA_CD_IMAGES", image_.cue);
        SetEnv("TMPDIR", temp_.string());
        // The CD information cache, so that no test finds another's titles.
        SetEnv("XDG_CONFIG_HOME", (root_ / "config").string());
        settings_ = std::make_unique<SettingsStore>(root_ / "store", std::vector<std::string>{});
        settings_->SetNumber(settings::kAutoCDInfo, 0);  // CD Info is pressed by the test
        settings_->SetText(settings::kPreferredCDdrive, image_.cue);
        settings_->SetNumber(settings::kEncoder, 1);  // fast MP3
        settings_->SetNumber(settings::kBitRate, 0);  // 64 kbit/s
        settings_->SetNumber(settings::kAskFilePath, 0);
        settings_->SetText(settings::kRecordFilePath, out_.string());
        main_ = std::make_unique<MainWindow>(playlist_, nullptr, "", settings_.get());
        main_->TickTimer().stop();
        disc_ = main_->Controller().CurrentCd();
    }
    void TearDown() override {
        main_.reset();
        playlist_.Clear();
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    void SetEnv(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    CdWindow* OpenFromMainWindow() {
        main_->Button(kCmdCd)->clicked(kCmdCd);
        return main_->CdPanel();
    }
    // What the server answers for this disc.
    std::string Entry() const {
        char id[16];
        std::snprintf(id, sizeof id, "%08x", disc_->DiscId());
        return std::string("{\"query\": {\"body\": \"200 rock ") + id +
               " x\\r\\n\"}, \"read\": {\"body\": \"210 rock " + id +
               "\\r\\nDTITLE=Band / Record\\r\\nTTITLE0=One\\r\\nTTITLE1=Two\\r\\n"
               "TTITLE2=Three\\r\\n.\\r\\n\"}}";
    }
    // Delivers the lookup's notices as the main window's tick would, without
    // running Qt's timers (the timed message and the hold stay on).
    bool DeliverUntilLookupEnds() {
        if (!testing::PumpUntil(UiQueue(), [&] { return !disc_->Info().Running(); })) return false;
        disc_->Info().Wait();
        UiQueue().Deliver();
        return true;
    }
    // Record on the CD window with the recording window driven by `act`,
    // called every 20 ms while it is shown; message boxes are answered and
    // kept. The main window's tick delivers the reader's and workers' events
    // as in the program.
    void RecordWith(CdWindow* window, const std::function<void(RecordDialog&)>& act) {
        QElapsedTimer t;
        t.start();
        QTimer driver;
        driver.setInterval(20);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    boxes_.push_back(box->text());
                    box->done(0);
                }
                auto* dialog = qobject_cast<RecordDialog*>(w);
                if (!dialog || !dialog->isVisible()) continue;
                if (t.elapsed() > 60000) {
                    ADD_FAILURE() << "the recording did not end";
                    dialog->CancelButton()->clicked(kRecordCancelId);
                } else {
                    act(*dialog);
                }
            }
        });
        driver.start();
        main_->TickTimer().start();
        window->Record();
        main_->TickTimer().stop();
    }
    std::vector<std::string> Left(const fs::path& folder) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    QTemporaryDir dir_;
    fs::path root_;
    fs::path temp_ = fs::path(dir_.path().toStdString()) / "tmp";
    fs::path out_ = fs::path(dir_.path().toStdString()) / "Music";
    testing::CdImage image_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    std::unique_ptr<SettingsStore> settings_;
    Playlist playlist_{tunara::testing::TestSources()};
    std::unique_ptr<MainWindow> main_;
    CdDisc* disc_ = nullptr;
    std::vector<QString> boxes_;
};

// The CD button opens the window docked below the main window over the
// current drive's disc, and closes it on the second press.
TEST_F(CdPanelTest, CdButton_TogglesTheWindowOverTheCurrentDisc) {
    ASSERT_TRUE(main_->Controller().HasCdDrive());
    ASSERT_EQ(disc_->Drive(), image_.cue);
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Disc(), disc_);
    EXPECT_EQ(window->DockedTo(), main_.get());
    EXPECT_EQ(window->View()->RowCount(), 3);
    EXPECT_EQ(window->ArtistLabel()->text(), "Unknown");
    main_->Button(kCmdCd)->clicked(kCmdCd);
    testing::Drain();
    EXPECT_EQ(main_->CdPanel(), nullptr);
}

// CD Info asks the server: the titles reach the disc, the CD window's labels
// and, the disc being played, the main window; the status shows as a timed
// message with the CDDB symbol held in the level display.
TEST_F(CdPanelTest, CdInfo_TitlesReachBothWindows) {
    testing::FakeCddbServer server(root_, Entry());
    settings_->SetText(settings::kCDDBAddr, server.Address());
    disc_->SetCurrent(0);
    main_->Controller().MakeActive(disc_);
    main_->Controller().RefreshAll();
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(main_->Levels()->Held());

    window->Button(kCdInfoId)->clicked(kCdInfoId);
    ASSERT_TRUE(DeliverUntilLookupEnds());
    EXPECT_EQ(disc_->ItemAt(0)->GetTitle(), "One");
    EXPECT_EQ(disc_->ItemAt(2)->GetTitle(), "Three");
    EXPECT_EQ(window->ArtistLabel()->text(), "Band");
    EXPECT_EQ(window->TitleLabel()->text(), "Record");
    EXPECT_EQ(window->TitleLabel()->TextColour(), QColor(224, 224, 224));
    EXPECT_EQ(main_->Info()->Title(), "Band \u2013 One");
    EXPECT_EQ(main_->Info()->Message(), "CDDB Match Found");
    EXPECT_TRUE(main_->Info()->MessageMode());
    EXPECT_TRUE(main_->Levels()->Held());
    EXPECT_EQ(server.Requests().size(), 2u);
}

// MusicBrainz knowing two releases: the window offers them once the titles
// of the first are in, and the one picked replaces them.
TEST_F(CdPanelTest, CdInfo_MusicBrainzReleasesOffered) {
    const std::string id = disc_->Info().MusicBrainzDiscId();
    ASSERT_FALSE(id.empty());
    testing::FakeCddbServer server(root_, testing::TwoReleasesScript(id));
    settings_->SetNumber(settings::kTitleSource, 1);
    settings_->SetText(settings::kMusicBrainzAddr, server.Address());
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    QStringList offered;
    window->chooseRelease = [&](const QStringList& labels, int current) {
        offered = labels;
        EXPECT_EQ(current, 0);
        return 1;
    };
    window->Button(kCdInfoId)->clicked(kCdInfoId);
    ASSERT_TRUE(DeliverUntilLookupEnds());
    EXPECT_EQ(window->TitleLabel()->text(), "First Press");
    testing::Drain();
    EXPECT_EQ(offered, (QStringList{"MB Band \u2013 First Press", "MB Band \u2013 Reissue"}));
    EXPECT_EQ(window->TitleLabel()->text(), "Reissue");
    EXPECT_EQ(window->ArtistLabel()->text(), "MB Band");
    EXPECT_EQ(disc_->ItemAt(1)->GetTitle(), "Dos");
}

// With "Verify with AccurateRip" on, the recording window tells each
// track's verdict once the files are written, and the log lies beside them.
TEST_F(CdPanelTest, Record_VerifiedTracksShowTheirVerdicts) {
    testing::FakeCddbServer server(root_, testing::AccurateRipScript(image_, 2));
    SetEnv("TUNARA_ACCURATERIP_SERVER", server.Address());
    settings_->SetNumber(settings::kVerifyAccurateRip, 1);
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    for (int row = 0; row < 3; ++row) window->View()->Select(row, row == 0);
    QString verdicts, status;
    RecordWith(window, [&](RecordDialog& d) {
        if (!d.ShowsFinishedLook() || d.VerdictText().isEmpty()) return;
        verdicts = d.VerdictText();
        status = d.StatusText();
        d.CancelButton()->clicked(kRecordCancelId);
    });
    EXPECT_TRUE(
        verdicts.startsWith("Track 1: accurate (confidence 5)\n"
                            "Track 2: does not match (2 submissions)\n"
                            "Track 3: accurate (confidence 5)\nLog: "))
        << verdicts.toStdString();
    EXPECT_EQ(status, "AccurateRip: 2 of 3 accurate");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], verdicts);
    EXPECT_TRUE(fs::exists(out_ / "Unknown.log")) << ::testing::PrintToString(Left(out_));
}

// An empty drive has no table of contents to ask about: CD Info sends nothing.
TEST_F(CdPanelTest, CdInfo_EmptyDrive_AsksNothing) {
    testing::FakeCddbServer server(root_, Entry());
    settings_->SetText(settings::kCDDBAddr, server.Address());
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    const auto& drives = main_->Controller().CdDrives();
    for (size_t i = 0; i < drives.size(); ++i)
        if (drives[i].get() == disc_) main_->Controller().OnMediaRemoved(1u << i);
    ASSERT_EQ(window->View()->RowCount(), 0);
    window->Button(kCdInfoId)->clicked(kCdInfoId);
    EXPECT_FALSE(disc_->Info().Running());
    EXPECT_TRUE(server.Requests().empty());
}

// Two selected tracks through the recording window: tagged MP3 files named
// by the settings' rule, both in the playlist, nothing left in the temporary
// folder and the player stopped.
TEST_F(CdPanelTest, Record_TwoTracksToTaggedFiles) {
    for (int i = 0; i < disc_->Count(); ++i) {
        disc_->ItemAt(i)->SetTitle("Song " + std::to_string(i + 1));
        disc_->ItemAt(i)->SetArtist("The Band");
        disc_->ItemAt(i)->SetAlbum("First Light");
    }
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    window->View()->Select(2);
    window->View()->Select(0, false);
    main_->Controller().PlayRow(*disc_, 1);
    RecordWith(window, [](RecordDialog& d) {
        if (d.ShowsFinishedLook()) d.CancelButton()->clicked(kRecordCancelId);
    });
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].toStdString();
    EXPECT_EQ(Left(out_), (std::vector<std::string>{"First Light - The Band - Song 1.mp3",
                                                    "First Light - The Band - Song 3.mp3"}));
    for (int n : {1, 3}) {
        Id3Tag tag;
        const fs::path file =
            out_ / ("First Light - The Band - Song " + std::to_string(n) + ".mp3");
        ASSERT_EQ(tag.readV1(file.string()), kId3Ok);
        EXPECT_EQ(tag.title(), "Song " + std::to_string(n));
        EXPECT_EQ(tag.artist(), "The Band");
        EXPECT_EQ(tag.track(), std::to_string(n));
    }
    EXPECT_TRUE(Left(temp_).empty());
    EXPECT_EQ(playlist_.Count(), 2);
    EXPECT_NE(main_->Controller().State(), PlayState::Playing);
}

// Cancel once the first of two files is finished: that file stays, complete
// and in the playlist; the second leaves no partial or temporary file. (The
// job's tests step through the other moments.)
TEST_F(CdPanelTest, Record_CancelBetweenTracks_KeepsOnlyTheFinishedFile) {
    CdWindow* window = OpenFromMainWindow();
    ASSERT_NE(window, nullptr);
    window->View()->Select(0);
    window->View()->Select(1, false);
    std::vector<std::string> finished;
    RecordWith(window, [&](RecordDialog& d) {
        if (!finished.empty() || d.Job()->Written().empty()) return;
        for (const std::string& path : d.Job()->Written())
            finished.push_back(fs::path(path).filename());
        d.CancelButton()->clicked(kRecordCancelId);
    });
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].toStdString();
    ASSERT_FALSE(finished.empty());
    EXPECT_EQ(Left(out_), finished);
    EXPECT_EQ(playlist_.Count(), int(finished.size()));
    EXPECT_TRUE(Left(temp_).empty());
}

TEST(LabelControl, SettersKeepTheOtherAttributes) {
    testing::App();
    LabelControl label;
    label.SetFontFace("Liberation Sans");
    label.SetFontSize(11);
    label.SetFontFace("Liberation Serif");
    EXPECT_EQ(label.font().pointSize(), 11);
    EXPECT_EQ(label.font().family(), "Liberation Serif");
    label.SetBackground(QColor(1, 2, 3));
    label.SetTextColour(QColor(4, 5, 6));
    EXPECT_EQ(label.BackgroundColour(), QColor(1, 2, 3));
    EXPECT_EQ(label.TextColour(), QColor(4, 5, 6));
}

}  // namespace
}  // namespace tunara::qt
