#include "ui/qt/LabelControl.h"

#include <QApplication>

namespace tunara::qt {

LabelControl::LabelControl(QWidget* parent) : QLabel(parent) {
    // Defaults: the system's text and button-face colours and its UI font.
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    p.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(p);
    setFont(QApplication::font());
}

void LabelControl::SetTextColour(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
    update();
}

void LabelControl::SetBackground(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    setPalette(p);
    update();
}

void LabelControl::SetFontFace(const QString& face) {
    QFont f = font();
    f.setFamily(face);
    setFont(f);
}

void LabelControl::SetFontSize(int points) {
    QFont f = font();
    f.setPointSize(points);
    setFont(f);
}

}  // namespace tunara::qt
