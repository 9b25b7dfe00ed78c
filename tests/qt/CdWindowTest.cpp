// The CD window over a generated disc image: the tracks and the disc's
// artist and title, the label control, Record's refusal and its rows.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

#include "platform/CdImageFixture.h"
#include "playlist/Playlist.h"
#include "qt/QtApp.h"
#include "sources/CdDisc.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/CdWindow.h"
#include "ui/qt/LabelControl.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/TrackListView.h"

namespace tunara::qt {
namespace {

namespace fs = std::filesystem;

class CdWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        image_ = test::MakeCdImage(fs::path(dir_.path().toStdString()) / "img", {90, 120, 75});
        ::setenv("TUNARA_CD_IMAGES", image_.cue.c_str(), 1);
        disc_ = std::make_unique<CdDisc>(image_.cue);
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
    test::CdImage image_;
    std::unique_ptr<CdDisc> disc_;
    Playlist playlist_;
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

    MakeActive(disc_.get());
    window_->Refresh();
    EXPECT_EQ(window_->TitleLabel()->TextColour(), QColor(224, 224, 224));
    MakeActive(&playlist_);
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
