#include "ui/qt/BitmapSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "ui/core/PlayerController.h"

namespace tunara::qt {

BitmapSlider::BitmapSlider(int id, Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent), id_(id), orientation_(orientation) {
    setFocusPolicy(Qt::NoFocus);
}

bool BitmapSlider::SetBitmaps(int thumb, int thumbMask, int channel, int channelMask) {
    SkinBitmap tm, cm;
    const bool ok =
        thumb_.Load(thumb) && tm.Load(thumbMask) && channel_.Load(channel) && cm.Load(channelMask);
    thumbRegion_ = tm.MakeRegion();
    channelRegion_ = cm.MakeRegion();
    if (!channel_.IsNull()) resize(channel_.Size());
    Reshape();
    update();
    return ok;
}

void BitmapSlider::SetRange(int min, int max) {
    if (max < min) max = min;
    if (min == min_ && max == max_) return;
    min_ = min;
    max_ = max;
    pos_ = std::clamp(pos_, min_, max_);
    Reshape();
    update();
}

void BitmapSlider::SetPosition(int value) {
    if (dragging_) return;
    Move(value);
}

bool BitmapSlider::Move(int value) {
    value = std::clamp(value, min_, max_);
    if (value == pos_) return false;
    const QRect before = ThumbRect();
    pos_ = value;
    // The position moves every tick while playing, the thumb only now and
    // then: repaint only the pixels that change.
    const QRect after = ThumbRect();
    if (after != before) update(before | after);
    return true;
}

QRect BitmapSlider::ThumbRect() const {
    const int span = max_ - min_;
    if (orientation_ == Qt::Horizontal) {
        const int free = width() - thumb_.Width();
        const int left = span == 0 ? 0 : static_cast<int>(int64_t(free) * (pos_ - min_) / span);
        return {left, (height() - thumb_.Height()) / 2, thumb_.Width(), thumb_.Height()};
    }
    const int free = height() - thumb_.Height();
    const int top = span == 0 ? 0 : static_cast<int>(int64_t(free) * (pos_ - min_) / span);
    return {(width() - thumb_.Width()) / 2, top, thumb_.Width(), thumb_.Height()};
}

void BitmapSlider::Reshape() {
    if (channelRegion_.isEmpty() && thumbRegion_.isEmpty()) return;
    // The outline holds the thumb wherever it may go, so that a moving thumb
    // changes no mask: a new mask has the window work out again which of its
    // children cover what, at every paint. Painting and the pointer keep to
    // the shape of the moment instead.
    const bool across = orientation_ == Qt::Horizontal;
    const int travel = std::max(0, across ? width() - thumb_.Width() : height() - thumb_.Height());
    const QPoint start = across ? QPoint(0, (height() - thumb_.Height()) / 2)
                                : QPoint((width() - thumb_.Width()) / 2, 0);
    QRegion reach = channelRegion_;
    for (const QRect& r : thumbRegion_.translated(start))
        reach += r.adjusted(0, 0, across ? travel : 0, across ? 0 : travel);
    if (reach != mask()) setMask(reach);
}

QRegion BitmapSlider::Shape() const {
    return channelRegion_ + thumbRegion_.translated(ThumbRect().topLeft());
}

void BitmapSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!channelRegion_.isEmpty()) painter.setClipRegion(channelRegion_);
    channel_.Draw(painter, rect());
    const QRect thumb = ThumbRect();
    painter.setClipRegion(thumbRegion_.translated(thumb.topLeft()));
    thumb_.Draw(painter, thumb);
}

int BitmapSlider::Along(const QPoint& p) const {
    return orientation_ == Qt::Horizontal ? p.x() : p.y();
}

int BitmapSlider::ValueAt(int along, int offset) const {
    const int track = orientation_ == Qt::Horizontal ? width() : height();
    const int thumb = orientation_ == Qt::Horizontal ? thumb_.Width() : thumb_.Height();
    const int free = track - thumb;
    if (free <= 0) return min_;
    // Integer arithmetic that truncates toward zero, as the trackbar did.
    return static_cast<int>(min_ + int64_t(max_ - min_) * (along - offset) / free);
}

void BitmapSlider::Notify(int code) {
    const int value = pos_;
    QMetaObject::invokeMethod(
        this, [this, code, value] { emit scrolled(code, value); }, Qt::QueuedConnection);
}

void BitmapSlider::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    // Beside the shape the press belongs to the window below (a drag).
    if (!mask().isEmpty() && !Shape().contains(p)) {
        e->ignore();
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    const QRect thumb = ThumbRect();
    if (thumbRegion_.translated(thumb.topLeft()).contains(p)) {
        dragging_ = true;
        grabOffset_ = Along(p) - (orientation_ == Qt::Horizontal ? thumb.left() : thumb.top());
        return;
    }
    const int thumbLength = orientation_ == Qt::Horizontal ? thumb_.Width() : thumb_.Height();
    if (Move(ValueAt(Along(p), thumbLength / 2))) Notify(kThumbPosition);
}

void BitmapSlider::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_) {
        e->ignore();
        return;
    }
    if (Move(ValueAt(Along(e->position().toPoint()), grabOffset_))) Notify(kThumbTrack);
}

void BitmapSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (!dragging_) {
        e->ignore();
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    dragging_ = false;
    Notify(kThumbTrack);
    Notify(kThumbPosition);
}

}  // namespace tunara::qt
