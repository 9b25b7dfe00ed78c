#pragma once
// A slider drawn from a channel and a thumb bitmap. It keeps its own range
// and position and tells its owner of user moves with the thumb-track and
// thumb-position codes of the player controller, always posted (queued), in
// the order: moves while dragging as thumb-track, the release as thumb-track
// then thumb-position, a click beside the thumb as thumb-position.
#include <QWidget>

#include "ui/qt/SkinBitmap.h"

namespace tunara::qt {

class BitmapSlider : public QWidget {
    Q_OBJECT
public:
    BitmapSlider(int id, Qt::Orientation orientation, QWidget* parent);

    int Id() const { return id_; }
    bool SetBitmaps(int thumb, int thumbMask, int channel, int channelMask);
    void SetRange(int min, int max);
    // Ignored while the user drags the thumb or when nothing changes; never
    // notifies the owner.
    void SetPosition(int value);
    int Position() const { return pos_; }
    int Minimum() const { return min_; }
    int Maximum() const { return max_; }
    bool Dragging() const { return dragging_; }
    // The thumb's rectangle for the current position.
    QRect ThumbRect() const;

signals:
    // code: the controller's kThumbTrack or kThumbPosition.
    void scrolled(int code, int value);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int Along(const QPoint& p) const;  // the pointer coordinate along the track
    int ValueAt(int along, int offset) const;
    bool Move(int value);  // true when the position changed
    void Notify(int code);
    void Reshape();
    QRegion Shape() const;  // the channel and the thumb where it is now

    int id_;
    Qt::Orientation orientation_;
    SkinBitmap thumb_, channel_;
    QRegion thumbRegion_, channelRegion_;
    int min_ = 0, max_ = 0, pos_ = 0;
    bool dragging_ = false;
    int grabOffset_ = 0;
};

}  // namespace tunara::qt
