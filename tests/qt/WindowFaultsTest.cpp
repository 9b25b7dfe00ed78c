// The main window's behaviour around its panels and dialogs, and what a file
// handed over by a second start does.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

#include "playlist/FakeMediaSource.h"
#include "qt/QtApp.h"
#include "sources/testing/TestSources.h"
#include "tracklist/TrackList.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/CdWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/PlaylistWindow.h"
#include "ui/qt/SkinIds.h"
#include "ui/qt/VideoWindow.h"

namespace tunara::qt {
namespace {

class WindowFaults : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        for (int i = 0; i < 3; ++i)
            playlist_.Append(testing::MakeFake("Item " + std::to_string(i), 60000, log_));
        window_ = std::make_unique<MainWindow>(playlist_, nullptr, "");
        window_->TickTimer().stop();
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        playlist_.Clear();
    }
    PlayerController& C() { return window_->Controller(); }

    std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
    Playlist playlist_{tunara::testing::TestSources()};
    std::unique_ptr<MainWindow> window_;
    QTemporaryDir dir_;
};

TEST_F(WindowFaults, AHandedOverFilePlaysAtOnceWhetherStoppedOrPlaying) {
    for (const char* name : {"a.wav", "b.wav"}) testing::WriteSilentWav(dir_.filePath(name), 5);
    ASSERT_EQ(C().State(), Stopped);
    window_->HandOver(dir_.filePath("a.wav"));
    EXPECT_EQ(C().State(), Playing);
    EXPECT_EQ(window_->windowTitle(), "Tunara - a");
    // Already playing: the new file takes over rather than stopping the player.
    window_->HandOver(dir_.filePath("b.wav"));
    EXPECT_EQ(C().State(), Playing);
    EXPECT_EQ(window_->windowTitle(), "Tunara - b");
    EXPECT_EQ(playlist_.Count(), 5);
}

TEST_F(WindowFaults, PanelsOpenWithoutCoveringEachOtherAndLightTheirButtons) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    window_->move(area.topLeft() + QPoint(20, 20));
    auto lit = [this](int id) { return window_->Button(id)->Lit(); };
    EXPECT_FALSE(lit(kIdPlayList));
    window_->TogglePlaylistWindow();
    window_->ToggleCdWindow();
    ASSERT_TRUE(window_->PlaylistPanel() && window_->CdPanel());
    EXPECT_TRUE(lit(kIdPlayList) && lit(kCmdCd));
    const QRect list = window_->PlaylistPanel()->frameGeometry();
    const QRect cd = window_->CdPanel()->frameGeometry();
    EXPECT_FALSE(list.intersects(cd)) << "both panels on one spot";
    EXPECT_FALSE(cd.intersects(window_->frameGeometry()));
    window_->PlaylistPanel()->close();
    window_->CdPanel()->close();
    testing::Drain();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(lit(kIdPlayList) || lit(kCmdCd));
}

TEST_F(WindowFaults, AboutBoxStaysOnScreenAndClosesFromTheKeyboard) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    window_->move(area.bottomRight() - QPoint(60, 60));  // owner mostly off the edge
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space}) {
        AboutBox box(window_.get());
        EXPECT_TRUE(area.contains(box.geometry())) << box.geometry().x();
        box.show();
        QTest::keyClick(&box, Qt::Key(key));
        EXPECT_FALSE(box.isVisible()) << key;
    }
}

// The movie's window opens beside the main window, not over it, and goes at
// Stop until the player plays again.
TEST_F(WindowFaults, VideoWindowSitsBesideTheMainWindowAndGoesAtStop) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    window_->move(area.topLeft() + QPoint(10, 10));
    QtVideoWindow video;
    std::vector<uint32_t> pixels(64 * 48, 0xFF000000u);
    const media::VideoFrame frame{reinterpret_cast<const uint8_t*>(pixels.data()), 64, 48, 64 * 4,
                                  0};
    auto present = [&] {
        std::thread([&] { video.PresentFrame(frame); }).join();
        testing::Drain();
    };
    present();
    VideoPanel* panel = video.Panel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->geometry().intersects(window_->geometry()));
    EXPECT_TRUE(area.contains(panel->geometry()));

    C().Play();
    C().Stop();
    EXPECT_FALSE(panel->isVisible());
    present();  // the picture of the seek back to the start
    EXPECT_FALSE(panel->isVisible());
    C().Play();
    EXPECT_TRUE(panel->isVisible());
}

TEST(UnknownOption, PrintsTheUsageAndEndsWithTwo) {
    QProcess p;
    p.start(TUNARA_BINARY_DIR "/app/tunara", {"--bogus"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
    const QByteArray err = p.readAllStandardError();
    EXPECT_TRUE(err.contains("--bogus") && err.contains("usage: tunara")) << err.toStdString();
}

}  // namespace
}  // namespace tunara::qt
