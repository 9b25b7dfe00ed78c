#pragma once
// The about box: the skin's picture and "Version " with the product version.
// Shown as the splash screen while the program starts and by the main
// window's product button; a click closes it.
#include <QEventLoop>
#include <QPointer>

#include "ui/qt/SkinnedWindow.h"

class QLabel;

namespace tunara::qt {

// The program's version, "1.0" when the build does not name one.
QString ProductVersion();

class AboutBox : public SkinnedWindow {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* owner = nullptr);

    // Shows the box modally until it is clicked.
    void Exec();
    QLabel* VersionLabel() const { return version_; }

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override {}
    void mouseReleaseEvent(QMouseEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    QLabel* version_ = nullptr;
    QPointer<QEventLoop> loop_;
};

}  // namespace tunara::qt
