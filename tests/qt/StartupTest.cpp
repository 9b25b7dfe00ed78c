// Start-up pieces: the hand-over to a running player between two real
// processes, and the video window fed from another thread.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <thread>

#include "qt/QtApp.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/SingleInstance.h"
#include "ui/qt/VideoWindow.h"

namespace tunara::qt {
namespace {

// This test process plays the running player; the real program is started a
// second time against it, with its socket folder pointed at ours.
class HandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::App();
        ASSERT_TRUE(dir_.isValid());
        const QString socket = dir_.path() + "/" + SingleInstance::DefaultName();
        instance_ = std::make_unique<SingleInstance>(socket);
        ASSERT_TRUE(instance_->Listen());
    }
    // Starts the program with `args`; true when it ended by itself with 0.
    bool SecondStart(const QStringList& args) {
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", dir_.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TUNARA_AUDIO", "null");
        second.setProcessEnvironment(env);
        second.setWorkingDirectory(dir_.path());
        second.start(TUNARA_BINARY_DIR "/app/tunara", args);
        if (!second.waitForStarted(10000)) return false;
        // Keep answering the socket while the second process runs.
        QElapsedTimer t;
        t.start();
        while (second.state() != QProcess::NotRunning && t.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            second.waitForFinished(10);
        }
        if (second.state() != QProcess::NotRunning) {
            second.kill();
            second.waitForFinished();
            return false;
        }
        return second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
    }

    QTemporaryDir dir_;
    std::unique_ptr<SingleInstance> instance_;
};

TEST_F(HandOverTest, ASecondStartHandsOverItsFileByFullNameAndEnds) {
    QSignalSpy spy(instance_.get(), &SingleInstance::handedOver);
    ASSERT_TRUE(SecondStart({"song one.mp3"}));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
    EXPECT_EQ(spy[0][0].toByteArray(), QDir(dir_.path()).filePath("song one.mp3").toUtf8());
}

// Asking the program about itself is answered at once and reaches no running player.
TEST_F(HandOverTest, HelpAndVersionAreNotHandedOver) {
    QSignalSpy spy(instance_.get(), &SingleInstance::handedOver);
    ASSERT_TRUE(SecondStart({"--help"}));
    ASSERT_TRUE(SecondStart({"--version"}));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(HandOverTest, ASecondStartWithoutAFileOnlyCallsTheFirstForward) {
    QSignalSpy spy(instance_.get(), &SingleInstance::handedOver);
    ASSERT_TRUE(SecondStart({}));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
    EXPECT_TRUE(spy[0][0].toByteArray().isEmpty());
}

TEST(HandOverMessage, CarriesIdentifierOneAndTheBytesWithoutATerminator) {
    const QByteArray m = SingleInstance::Message("/a/b.mp3");
    ASSERT_EQ(m.size(), 8 + 8);
    EXPECT_EQ(m.left(8), QByteArray("\x01\x00\x00\x00\x08\x00\x00\x00", 8));
    EXPECT_EQ(m.mid(8), "/a/b.mp3");
}

TEST(AboutBox, ShowsTheVersionAtTheRightEdge) {
    testing::App();
    AboutBox box;
    EXPECT_EQ(box.size(), QSize(442, 180));
    QLabel* v = box.VersionLabel();
    EXPECT_EQ(v->text(), "Version " + ProductVersion());
    EXPECT_EQ(v->geometry().right() + 1, 442 - 8);
    EXPECT_EQ(v->y(), 95);
}

TEST(VideoWindow, ShowsFramesFromAnotherThreadInsideTheBorderAndStopsWhenClosed) {
    testing::App();
    QtVideoWindow window;
    std::vector<uint32_t> pixels(64 * 48, 0xFF20A040u);
    media::VideoFrame frame{reinterpret_cast<const uint8_t*>(pixels.data()), 64, 48, 64 * 4, 0};
    std::thread([&] { window.PresentFrame(frame); }).join();
    testing::Drain();
    VideoPanel* panel = window.Panel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->FramesShown(), 1);
    EXPECT_EQ(panel->size(), QSize(64 + 32, 48 + 32));
    EXPECT_EQ(panel->PictureRect(), QRect(16, 16, 64, 48));
    const QImage shot = panel->grab().toImage();
    EXPECT_EQ(shot.pixelColor(16 + 32, 16 + 24), QColor(0x20, 0xA0, 0x40));

    panel->close();
    std::thread([&] { window.PresentFrame(frame); }).join();
    testing::Drain();
    EXPECT_EQ(panel->FramesShown(), 1) << "a closed window shows no more pictures";
    EXPECT_FALSE(panel->isVisible());
}

}  // namespace
}  // namespace tunara::qt
