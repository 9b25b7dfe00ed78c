#include "qt/QtApp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdlib>

#include "platform/ui/UserInteraction.h"
#include "ui/skin/Skin.h"

namespace tunara::testing {

namespace {
int g_argc = 1;
char g_arg0[] = "test_qt";
char* g_argv[] = {g_arg0, nullptr};

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override { App(); }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace

QApplication& App() {
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static QTemporaryDir config;
        ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
        auto* a = new QApplication(g_argc, g_argv);
        skin::InitResources();
        SetUiThread();
        return a;
    }();
    return *app;
}

void Drain() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WriteSilentWav(const QString& path, int seconds) {
    const quint32 rate = 8000, data = rate * 2 * quint32(seconds);
    QByteArray h(44, '\0');
    auto put32 = [&h](int at, quint32 v) { qToLittleEndian<quint32>(v, h.data() + at); };
    auto put16 = [&h](int at, quint16 v) { qToLittleEndian<quint16>(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, 36 + data);
    h.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, rate);
    put32(28, rate * 2);
    put16(32, 2);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, data);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(h);
    f.write(QByteArray(int(data), '\0'));
}

}  // namespace tunara::testing
