#include "ui/qt/AboutBox.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

#include "ui/qt/Displays.h"
#include "ui/qt/SkinIds.h"

namespace tunara::qt {

QString ProductVersion() {
#ifdef TUNARA_VERSION
    return QStringLiteral(TUNARA_VERSION);
#else
    return QStringLiteral("1.0");
#endif
}

AboutBox::AboutBox(QWidget* owner) : SkinnedWindow(owner) {
    setWindowTitle(QStringLiteral("About Tunara"));
    setWindowFlag(Qt::Dialog);
    SetUpSkin(kAboutBackground, kAboutMask);
    version_ = new QLabel(QStringLiteral("Version ") + ProductVersion(), this);
    version_->setFont(SkinFont(8, false));
    version_->setAutoFillBackground(true);
    QPalette palette = version_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    version_->setPalette(palette);
    version_->adjustSize();
    version_->move(width() - 8 - version_->width(), 95);
    version_->setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::StrongFocus);
    // Centred over the owner, or on the screen for the splash; kept wholly on
    // the owner's screen however near its edge the owner sits.
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const QRect area = owner ? owner->frameGeometry() : room;
    QRect r(QPoint(0, 0), size());
    r.moveCenter(area.center());
    if (room.isValid()) {
        r.moveRight(std::min(r.right(), room.right()));
        r.moveBottom(std::min(r.bottom(), room.bottom()));
        r.moveLeft(std::max(r.left(), room.left()));
        r.moveTop(std::max(r.top(), room.top()));
    }
    move(r.topLeft());
}

void AboutBox::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            e->accept();
            close();
            return;
        default:
            SkinnedWindow::keyPressEvent(e);
    }
}

void AboutBox::Exec() {
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
}

void AboutBox::mousePressEvent(QMouseEvent* e) {
    e->accept();
}

void AboutBox::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) close();
}

void AboutBox::closeEvent(QCloseEvent* e) {
    if (loop_) loop_->quit();
    e->accept();
}

}  // namespace tunara::qt
