// The windows the skin does not draw: dark like the skin, text readable on
// them, and kept inside the screen however the screen is scaled.
#include <gtest/gtest.h>

#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "qt/QtApp.h"
#include "ui/qt/DialogLook.h"

using namespace tunara;

namespace {

double Contrast(const QColor& a, const QColor& b) {
    auto lum = [](const QColor& c) {
        auto lin = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double la = lum(a), lb = lum(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

TEST(DialogLook, DarkWithReadableText) {
    const QPalette p = qt::DarkPalette();
    EXPECT_LT(p.color(QPalette::Window).lightness(), 60);
    EXPECT_LT(p.color(QPalette::Base).lightness(), 60);
    const QPalette::ColorRole pairs[][2] = {{QPalette::WindowText, QPalette::Window},
                                            {QPalette::Text, QPalette::Base},
                                            {QPalette::ButtonText, QPalette::Button},
                                            {QPalette::HighlightedText, QPalette::Highlight}};
    for (const auto& pair : pairs) {
        EXPECT_GE(Contrast(p.color(pair[0]), p.color(pair[1])), 4.5) << pair[0];
    }
}

TEST(DialogLook, WindowsAreKeptInsideTheScreen) {
    tunara::testing::App();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QRect& asked : {QRect(area.left() - 50, area.top() - 80, 300, 200),
                               QRect(area.right() - 100, area.bottom() - 50, 300, 200),
                               QRect(area.topLeft(), area.size() + QSize(200, 300))}) {
        QWidget w(nullptr, Qt::Window | Qt::FramelessWindowHint);
        w.setGeometry(asked);
        qt::KeepOnScreen(&w);
        EXPECT_TRUE(area.contains(w.frameGeometry())) << asked.x() << "," << asked.y();
        EXPECT_GT(w.frameGeometry().top(), area.top()) << "against the top edge";
    }
}
