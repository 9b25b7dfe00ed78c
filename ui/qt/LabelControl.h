#pragma once
// A small coloured static text: text colour, a solid background and a font,
// each changeable on its own (the CD window's lines, the about box's).
#include <QLabel>

namespace tunara::qt {

class LabelControl : public QLabel {
    Q_OBJECT
public:
    explicit LabelControl(QWidget* parent = nullptr);

    void SetTextColour(const QColor& colour);
    void SetBackground(const QColor& colour);
    // Keep the font's other attributes.
    void SetFontFace(const QString& face);
    void SetFontSize(int points);

    QColor TextColour() const { return palette().color(QPalette::WindowText); }
    QColor BackgroundColour() const { return palette().color(QPalette::Window); }
};

}  // namespace tunara::qt
