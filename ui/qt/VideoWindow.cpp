#include "ui/qt/VideoWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <vector>

#include "sources/QuickTimeSource.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/SkinIds.h"

namespace tunara::qt {

namespace {

// The nine pieces of a frame bitmap: corners at their size, edges and centre
// stretched to the target.
void DrawNine(QPainter& p, const QImage& src, const QRect& to, int b) {
    const int sw = src.width(), sh = src.height();
    const int tw = to.width(), th = to.height();
    const int xs[4] = {0, b, sw - b, sw}, ys[4] = {0, b, sh - b, sh};
    const int xt[4] = {0, b, tw - b, tw}, yt[4] = {0, b, th - b, th};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const QRect s(xs[c], ys[r], xs[c + 1] - xs[c], ys[r + 1] - ys[r]);
            const QRect t(to.x() + xt[c], to.y() + yt[r], xt[c + 1] - xt[c], yt[r + 1] - yt[r]);
            if (s.isEmpty() || t.isEmpty()) continue;
            p.drawImage(t, src, s);
        }
}

std::vector<VideoPanel*>& LivePanels() {
    static std::vector<VideoPanel*> panels;
    return panels;
}

}  // namespace

VideoPanel::VideoPanel() : SkinnedWindow(nullptr) {
    LivePanels().push_back(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Tunara Video"));
    frameBitmap_.Load(kVideoBackground);
    frameMask_.Load(kVideoMask);
    close_ = new BitmapButton(kIdOk, this);
    close_->SetBitmaps(kPanelClose, kPanelClosePressed, kPanelCloseLit, 0, kPanelCloseMask);
    connect(close_, &BitmapButton::clicked, this, [this] { close(); });
    FitPicture(QSize(320, 240));
}

VideoPanel::~VideoPanel() {
    auto& panels = LivePanels();
    panels.erase(std::remove(panels.begin(), panels.end(), this), panels.end());
}

void VideoPanel::Hold() {
    held_ = true;
    hide();
}

void VideoPanel::Resume() {
    if (!held_) return;
    held_ = false;
    if (everShown_ && !closedByUser_) show();
}

void HideVideoWindows() {
    for (VideoPanel* p : LivePanels()) p->Hold();
}

void ResumeVideoWindows() {
    for (VideoPanel* p : LivePanels()) p->Resume();
}

QRect VideoPanel::PictureRect() const {
    return QRect(kBorder, kBorder, pictureSize_.width(), pictureSize_.height());
}

void VideoPanel::FitPicture(QSize size) {
    // Pictures larger than the screen are shown scaled down.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableSize() - QSize(2 * kBorder, 2 * kBorder);
        if (room.isValid() && (size.width() > room.width() || size.height() > room.height()))
            size = size.scaled(room, Qt::KeepAspectRatio);
    }
    if (size == pictureSize_) return;
    pictureSize_ = size;
    const QSize whole = size + QSize(2 * kBorder, 2 * kBorder);
    setFixedSize(whole);
    if (!frameMask_.IsNull()) {
        QImage mask(whole, QImage::Format_RGB32);
        mask.fill(Qt::white);
        QPainter p(&mask);
        DrawNine(p, frameMask_.Image().convertToFormat(QImage::Format_RGB32), mask.rect(), kBorder);
        p.end();
        setMask(MaskRegion(mask));
    }
    close_->move(whole.width() - kBorder - 1, (kBorder - close_->height()) / 2);
    update();
}

void VideoPanel::ShowFrame(const QImage& frame) {
    picture_ = frame;
    ++framesShown_;
    FitPicture(frame.size());
    // The window appears with the first picture; once closed it stays closed.
    if (!everShown_ && !held_) {
        everShown_ = true;
        PlaceBesideMainWindow();
        show();
    }
    update(PictureRect());
}

void VideoPanel::PlaceBesideMainWindow() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QRect r(QPoint(0, 0), size());
    r.moveCenter(area.center());
    // Beside the main window where there is room: right, left, then above.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() != QLatin1String("Tunara") || !w->isVisible()) continue;
        const QRect m = w->geometry();
        QRect right = r, left = r, above = r;
        right.moveTopLeft(QPoint(m.right() + 9, m.top()));
        left.moveTopRight(QPoint(m.left() - 9, m.top()));
        above.moveBottomLeft(QPoint(m.left(), m.top() - 9));
        QRect below = r;
        below.moveTopLeft(QPoint(m.left(), m.bottom() + 9));
        // Below the panels docked under the main window too.
        for (QWidget* p : QApplication::topLevelWidgets())
            if (p != w && p->isVisible() && p->geometry().intersects(below))
                below.moveTop(std::max(below.top(), p->geometry().bottom() + 9));
        bool placed = false;
        for (const QRect& c : {right, left, below, above}) {
            if (area.contains(c)) {
                r = c;
                placed = true;
                break;
            }
        }
        if (!placed) {
            // No room anywhere: beside it, as far as the screen allows.
            r = right;
            r.moveRight(std::min(r.right(), area.right()));
            r.moveBottom(std::min(r.bottom(), area.bottom()));
        }
        break;
    }
    // Never off the screen.
    r.moveLeft(std::max(r.left(), area.left()));
    r.moveTop(std::max(r.top(), area.top()));
    move(r.topLeft());
}

void VideoPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!frameBitmap_.IsNull())
        DrawNine(p, frameBitmap_.Image(), rect(), kBorder);
    else
        p.fillRect(rect(), Qt::black);
    if (picture_.isNull())
        p.fillRect(PictureRect(), Qt::black);
    else
        p.drawImage(PictureRect(), picture_);
}

void VideoPanel::closeEvent(QCloseEvent* e) {
    e->accept();
    closedByUser_ = true;
    if (onClosed) onClosed();
}

// ---- the toolbox's window ---------------------------------------------------------

QtVideoWindow::QtVideoWindow() : panel_(new VideoPanel) {
    panel_->onClosed = [this] {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        // Closing the window ends its tie to the movie: no more pictures.
        media::DissociateWindow(this);
    };
}

QtVideoWindow::~QtVideoWindow() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    panel_->onClosed = nullptr;
    panel_->deleteLater();
}

void QtVideoWindow::PresentFrame(const media::VideoFrame& f) {
    if (!f.pixels || f.width <= 0 || f.height <= 0) return;
    // The frame's pixels are valid only during this call: copy them.
    QImage image = QImage(f.pixels, f.width, f.height, f.strideBytes, QImage::Format_RGB32).copy();
    std::lock_guard lock(mutex_);
    if (closed_) return;
    VideoPanel* panel = panel_;
    QMetaObject::invokeMethod(
        panel, [panel, image] { panel->ShowFrame(image); }, Qt::QueuedConnection);
}

void InstallVideoWindows() {
    QuickTimeSource::SetVideoWindowFactory(
        []() -> std::unique_ptr<media::VideoWindow> { return std::make_unique<QtVideoWindow>(); });
}

}  // namespace tunara::qt
