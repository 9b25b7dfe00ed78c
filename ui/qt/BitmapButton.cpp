#include "ui/qt/BitmapButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace tunara::qt {

BitmapButton::BitmapButton(int id, QWidget* parent) : QWidget(parent), id_(id) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
}

bool BitmapButton::SetBitmaps(int normal, int pressed, int lit, int disabled, int mask) {
    const int given[kSlots] = {normal, pressed, lit, disabled};
    bool ok = normal != 0;
    for (int i = 0; i < kSlots; ++i) {
        ids_[i] = given[i];
        bitmaps_[i] = SkinBitmap();
        if (given[i] != 0 && !bitmaps_[i].Load(given[i])) {
            ok = false;
            ids_[i] = 0;
        }
    }
    if (!bitmaps_[kNormal].IsNull()) resize(bitmaps_[kNormal].Size());
    SkinBitmap maskBitmap;
    if (mask != 0 && maskBitmap.Load(mask)) {
        outline_ = maskBitmap.MakeRegion();
        setMask(outline_);
    } else {
        if (mask != 0) ok = false;
        outline_ = QRegion(rect());
        clearMask();
    }
    update();
    return ok;
}

void BitmapButton::SetLit(bool lit) {
    if (lit == lit_) return;
    lit_ = lit;
    update();
}

int BitmapButton::ShownBitmap() const {
    int slot = kNormal;
    if ((lit_ || hover_) && ids_[kLit]) slot = kLit;
    if (Down() && ids_[kPressed]) slot = kPressed;
    if (!isEnabled() && ids_[kDisabled]) slot = kDisabled;
    return ids_[slot];
}

void BitmapButton::paintEvent(QPaintEvent*) {
    const int shown = ShownBitmap();
    for (int i = 0; i < kSlots; ++i) {
        if (ids_[i] == shown && !bitmaps_[i].IsNull()) {
            QPainter painter(this);
            bitmaps_[i].Draw(painter, rect());
            return;
        }
    }
}

bool BitmapButton::Inside(const QPoint& p) const {
    return outline_.contains(p);
}

void BitmapButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !Inside(e->position().toPoint())) {
        e->ignore();
        return;
    }
    if (!window()->isActiveWindow()) window()->activateWindow();
    down_ = inside_ = true;
    update();
}

void BitmapButton::mouseMoveEvent(QMouseEvent* e) {
    const bool in = Inside(e->position().toPoint());
    if (down_ && in != inside_) {
        inside_ = in;
        update();
    }
    if (in != hover_) {
        hover_ = in;
        update();
    }
}

void BitmapButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !down_) return;
    const bool fire = inside_ && Inside(e->position().toPoint());
    down_ = inside_ = false;
    update();
    if (fire && isEnabled()) emit clicked(id_);
}

void BitmapButton::enterEvent(QEnterEvent* e) {
    const bool in = Inside(e->position().toPoint());
    if (in != hover_) {
        hover_ = in;
        update();
    }
}

void BitmapButton::leaveEvent(QEvent*) {
    if (hover_) {
        hover_ = false;
        update();
    }
}

void BitmapButton::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled()) hover_ = down_ = inside_ = false;
        update();
    }
    QWidget::changeEvent(e);
}

}  // namespace tunara::qt
