#include "ui/qt/SkinnedWindow.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

namespace tunara::qt {

namespace {
constexpr int kSnapDistance = 10;
// Without further moves for this long, a window manager's move has ended.
constexpr int kSettleMs = 150;
}  // namespace

SkinnedWindow::SkinnedWindow(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
        systemMoving_ = false;
        SystemMoveSettled();
    });
}

bool SkinnedWindow::SetUpSkin(int background, int mask) {
    SkinBitmap maskBitmap;
    const bool ok = background_.Load(background) & maskBitmap.Load(mask);
    if (!background_.IsNull()) setFixedSize(background_.Size());
    outline_ = maskBitmap.IsNull() ? QRegion(rect()) : maskBitmap.MakeRegion();
    setMask(outline_);
    return ok;
}

void SkinnedWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (background_.IsNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    background_.Draw(painter, rect());
}

void SkinnedWindow::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    raise();
    activateWindow();
    // The window manager moves the window where it can (Wayland allows
    // nothing else); without one the window follows the pointer itself.
    if (windowHandle() && windowHandle()->startSystemMove()) {
        systemMoving_ = true;
        settle_.start();
        return;
    }
    manualDrag_ = true;
    pressOffset_ = e->globalPosition().toPoint() - pos();
}

void SkinnedWindow::mouseMoveEvent(QMouseEvent* e) {
    if (manualDrag_ && (e->buttons() & Qt::LeftButton))
        DragTo(e->globalPosition().toPoint() - pressOffset_);
}

void SkinnedWindow::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !manualDrag_) return;
    DragTo(e->globalPosition().toPoint() - pressOffset_);
    manualDrag_ = false;
}

void SkinnedWindow::DragTo(const QPoint& topLeft) {
    move(topLeft);
}

void SkinnedWindow::moveEvent(QMoveEvent* e) {
    if (systemMoving_) settle_.start();
    QWidget::moveEvent(e);
}

// ---- panels -------------------------------------------------------------------

namespace {
std::vector<PanelWindow*>& PanelList() {
    static std::vector<PanelWindow*> panels;
    return panels;
}
}  // namespace

PanelWindow::PanelWindow(PanelWindow* owner) : SkinnedWindow(owner), owner_(owner) {
    PanelList().push_back(this);
    if (owner) dockedTo_ = owner;
}

PanelWindow::~PanelWindow() {
    auto& panels = PanelList();
    panels.erase(std::remove(panels.begin(), panels.end(), this), panels.end());
    for (PanelWindow* p : panels)
        if (p->dockedTo_ == this) p->dockedTo_ = nullptr;
}

const std::vector<PanelWindow*>& PanelWindow::Panels() {
    return PanelList();
}

bool PanelWindow::IsDockedUnder(const PanelWindow* panel) const {
    // The chain cannot loop (a panel never docks to one docked under it), but
    // a bound keeps a broken chain from hanging.
    const PanelWindow* p = dockedTo_;
    for (size_t n = 0; p && n <= PanelList().size(); ++n, p = p->dockedTo_)
        if (p == panel) return true;
    return false;
}

PanelWindow::Snap PanelWindow::SnapRect(QRect r) const {
    Snap snap;
    const auto& panels = PanelList();
    for (auto it = panels.rbegin(); it != panels.rend(); ++it) {
        PanelWindow* other = *it;
        if (other == this || other->IsDockedUnder(this) || !other->isVisible()) continue;
        const QRect o = other->geometry();
        const QRect near = o.adjusted(-kSnapDistance, -kSnapDistance, kSnapDistance, kSnapDistance);
        const QRect inner =
            o.adjusted(kSnapDistance, kSnapDistance, -kSnapDistance, -kSnapDistance);
        if (!r.intersects(near) || r.intersects(inner)) continue;
        // Edges as exclusive coordinates: bottom and right lie one past the window.
        const int oTop = o.y(), oBottom = o.y() + o.height();
        const int oLeft = o.x(), oRight = o.x() + o.width();
        auto close = [](int a, int b) { return std::abs(a - b) < kSnapDistance; };
        if (close(r.y(), oTop)) r.moveTop(oTop);
        if (close(r.y() + r.height(), oBottom)) r.moveTop(oBottom - r.height());
        if (close(r.y() + r.height(), oTop)) r.moveTop(oTop - r.height());
        if (close(r.y(), oBottom)) r.moveTop(oBottom);
        if (close(r.x() + r.width(), oRight)) r.moveLeft(oRight - r.width());
        if (close(r.x(), oLeft)) r.moveLeft(oLeft);
        if (close(r.x() + r.width(), oLeft)) r.moveLeft(oLeft - r.width());
        if (close(r.x(), oRight)) r.moveLeft(oRight);
        snap.dockTo = other;
    }
    snap.rect = r;
    return snap;
}

void PanelWindow::DragTo(const QPoint& topLeft) {
    const Snap snap = SnapRect(QRect(topLeft, size()));
    dockedTo_ = snap.dockTo;
    MoveTo(snap.rect.topLeft());
}

void PanelWindow::MoveTo(const QPoint& topLeft) {
    const QPoint delta = topLeft - pos();
    move(topLeft);
    lastPos_ = topLeft;
    if (!delta.isNull()) FollowMove(delta);
}

void PanelWindow::FollowMove(const QPoint& delta) {
    // Copy: a follower's move must not disturb this walk.
    const std::vector<PanelWindow*> panels = PanelList();
    for (PanelWindow* p : panels)
        if (p->dockedTo_ == this) p->MoveTo(p->pos() + delta);
}

void PanelWindow::moveEvent(QMoveEvent* e) {
    SkinnedWindow::moveEvent(e);
    // Moves the window manager makes for us: docked panels follow as they go.
    if (SystemMoving() && pos() != lastPos_) {
        const QPoint delta = pos() - lastPos_;
        lastPos_ = pos();
        FollowMove(delta);
    }
}

void PanelWindow::SystemMoveSettled() {
    DragTo(pos());
}

void PanelWindow::showEvent(QShowEvent* e) {
    if (!placed_) {
        placed_ = true;
        if (owner_) {
            // Below the owner, and below any panel already docked there, so
            // that two panels never open on the same spot.
            QRect r(owner_->pos() + QPoint(0, owner_->height()), size());
            for (bool moved = true; moved;) {
                moved = false;
                for (PanelWindow* p : PanelList()) {
                    if (p == this || p == owner_ || !p->isVisible()) continue;
                    if (!p->frameGeometry().intersects(r)) continue;
                    r.moveTop(p->frameGeometry().bottom() + 1);
                    dockedTo_ = p;
                    moved = true;
                }
            }
            move(r.topLeft());
        }
        lastPos_ = pos();
    }
    SkinnedWindow::showEvent(e);
}

void PanelWindow::changeEvent(QEvent* e) {
    SkinnedWindow::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange || !owner_ || !(windowState() & Qt::WindowMinimized))
        return;
    // A panel minimised by the system closes; one minimised along with its
    // owner just waits for the owner to come back.
    QTimer::singleShot(0, this, [this] {
        if (!(windowState() & Qt::WindowMinimized)) return;
        if (owner_ && owner_->isMinimized()) {
            hide();
            return;
        }
        close();
    });
}

}  // namespace tunara::qt
