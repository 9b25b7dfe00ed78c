#include "qt/QtApp.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
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

}  // namespace tunara::testing
