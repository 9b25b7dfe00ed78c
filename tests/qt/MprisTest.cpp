// The real program on a private session bus, driven and watched through
// playerctl as a desktop would. The test re-runs itself under
// dbus-run-session so that no player of the developer's desktop is touched.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>

#include "TestTools.h"
#include "qt/QtApp.h"

namespace tunara::qt {
namespace {

constexpr const char* kInner = "TUNARA_MPRIS_INNER";

class Mpris : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("TMPDIR", dir_.path());
        env_.insert("XDG_CONFIG_HOME", dir_.path() + "/config");
        env_.insert("XDG_DATA_HOME", dir_.path() + "/data");
        env_.insert("QT_QPA_PLATFORM", "offscreen");
        env_.insert("TUNARA_AUDIO", "null");  // real time: items must not end under the test
    }
    void TearDown() override {
        for (QProcess* p : {&player_, &follow_}) {
            if (p->state() == QProcess::NotRunning) continue;
            p->kill();
            p->waitForFinished();
        }
    }
    QString Ctl(const QStringList& args) {
        QProcess p;
        p.start("playerctl", QStringList{"-p", "tunara"} + args);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    // Polls until playerctl answers `want`, so the player's own pace does not matter.
    bool Answers(const QStringList& args, const QString& want) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (Ctl(args) == want) return true;
            QThread::msleep(50);
        }
        ADD_FAILURE() << args.join(' ').toStdString() << ": " << Ctl(args).toStdString() << ", not "
                      << want.toStdString();
        return false;
    }
    QString Wav(const char* name) {
        const QString path = dir_.filePath(name);
        testing::WriteSilentWav(path, 60);
        return path;
    }

    QTemporaryDir dir_;
    QProcessEnvironment env_;
    QProcess player_, follow_;
};

TEST_F(Mpris, PlayerctlSeesDrivesAndFollowsTheRunningPlayer) {
    if (!std::getenv(kInner)) {
        const bool missing = QStandardPaths::findExecutable("dbus-run-session").isEmpty() ||
                             QStandardPaths::findExecutable("playerctl").isEmpty();
        TUNARA_SKIP_IF_MISSING(missing, "dbus-run-session and playerctl");
        QProcess inner;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kInner, "1");
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::MergedChannels);
        inner.start("dbus-run-session",
                    {"--", QFile::symLinkTarget("/proc/self/exe"),
                     "--gtest_filter=Mpris.PlayerctlSeesDrivesAndFollowsTheRunningPlayer"});
        ASSERT_TRUE(inner.waitForFinished(90000));
        EXPECT_EQ(inner.exitCode(), 0) << inner.readAll().toStdString();
        return;
    }
    const QString a = Wav("a.wav"), b = Wav("b.wav");
    player_.setProcessEnvironment(env_);
    player_.start(TUNARA_BINARY_DIR "/app/tunara", {a});
    ASSERT_TRUE(player_.waitForStarted());
    ASSERT_TRUE(Answers({"status"}, "Playing")) << "a file given at start plays";
    EXPECT_EQ(Ctl({"metadata", "xesam:title"}), "a");
    EXPECT_EQ(Ctl({"metadata", "mpris:length"}), "60000000");
    EXPECT_EQ(Ctl({"metadata", "xesam:url"}), QUrl::fromLocalFile(a).toString());

    follow_.start("playerctl", {"-p", "tunara", "--follow", "status"});
    ASSERT_TRUE(follow_.waitForStarted());
    QThread::msleep(300);
    Ctl({"play-pause"});
    EXPECT_TRUE(Answers({"status"}, "Paused"));
    Ctl({"position", "30"});
    EXPECT_TRUE(Answers({"position"}, "30.000000"));
    Ctl({"volume", "0.5"});
    EXPECT_TRUE(Answers({"volume"}, "0.500000"));

    // A second start hands its file over, and it plays at once.
    QProcess second;
    second.setProcessEnvironment(env_);
    second.start(TUNARA_BINARY_DIR "/app/tunara", {b});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(Answers({"metadata", "xesam:title"}, "b"));
    EXPECT_TRUE(Answers({"status"}, "Playing"));
    Ctl({"previous"});
    EXPECT_TRUE(Answers({"metadata", "xesam:title"}, "a"));
    Ctl({"next"});
    EXPECT_TRUE(Answers({"metadata", "xesam:title"}, "b"));
    Ctl({"stop"});
    EXPECT_TRUE(Answers({"status"}, "Stopped"));

    QThread::msleep(300);
    follow_.terminate();
    follow_.waitForFinished();
    const QStringList seen = QString::fromUtf8(follow_.readAllStandardOutput()).split('\n');
    EXPECT_EQ(seen.mid(0, 4), (QStringList{"Playing", "Paused", "Playing", "Stopped"}))
        << seen.join(',').toStdString();
}

}  // namespace
}  // namespace tunara::qt
