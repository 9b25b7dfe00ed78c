#include "ui/qt/DialogLook.h"

#include <QApplication>
#include <QScreen>
#include <QStyleFactory>
#include <QWidget>
#include <algorithm>

namespace tunara::qt {

QPalette DarkPalette() {
    // The skin's body, panes and accent (see the skin's drawings).
    const QColor body(0x23, 0x27, 0x2d), raised(0x33, 0x39, 0x41), field(0x05, 0x07, 0x0a);
    const QColor text(0xe0, 0xe0, 0xe0), muted(0x8a, 0x92, 0x9c), accent(0, 127, 255);
    QPalette p;
    p.setColor(QPalette::Window, body);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, field);
    p.setColor(QPalette::AlternateBase, QColor(0x10, 0x14, 0x1a));
    p.setColor(QPalette::ToolTipBase, raised);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, muted);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, raised);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x6b));
    p.setColor(QPalette::Light, QColor(0x4a, 0x52, 0x5c));
    p.setColor(QPalette::Midlight, QColor(0x3a, 0x41, 0x4a));
    p.setColor(QPalette::Mid, QColor(0x1c, 0x1f, 0x24));
    p.setColor(QPalette::Dark, QColor(0x0b, 0x0c, 0x0e));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    // The accent, one step deeper, so white text on a selection stays legible.
    p.setColor(QPalette::Highlight, accent.darker(135));
    p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::Link, QColor(0x66, 0xb3, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0x9a, 0x8c, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, muted);
    }
    p.setColor(QPalette::Disabled, QPalette::Button, body);
    p.setColor(QPalette::Disabled, QPalette::Base, body);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x3a, 0x41, 0x4a));
    return p;
}

void ApplyDialogLook(QApplication& app) {
    // A desktop's own style may ignore a palette; Fusion draws from it alone.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    QApplication::setPalette(DarkPalette());
}

void KeepOnScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) return;
    const int margin = 16;
    const QRect area = screen->availableGeometry().adjusted(margin, margin, -margin, -margin);
    if (area.isEmpty()) return;
    QRect frame = window->frameGeometry();
    const QSize extra = frame.size() - window->size();
    const QSize fit = frame.size().boundedTo(area.size());
    if (fit != frame.size()) {
        window->resize((fit - extra).expandedTo(window->minimumSize()));
        frame = window->frameGeometry();
    }
    const int x =
        std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() - frame.width() + 1));
    const int y =
        std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() - frame.height() + 1));
    window->move(x, y);
}

}  // namespace tunara::qt
