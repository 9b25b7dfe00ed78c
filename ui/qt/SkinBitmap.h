#pragma once
// One skin bitmap from the program's resources, and the shaping rule that
// turns a one-bit mask into a window outline.
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QRegion>
#include <QString>

class QPainter;

namespace tunara::qt {

// The resource path of a skin bitmap by its identifier.
QString SkinPath(int id);

// The union of the pixels of `mask` whose colour is `key`, built row by row:
// each maximal run of key-coloured pixels adds a one-pixel-high rectangle.
QRegion MaskRegion(const QImage& mask, QRgb key = qRgb(0, 0, 0));

class SkinBitmap {
public:
    SkinBitmap() = default;
    explicit SkinBitmap(int id) { Load(id); }

    // False when the resource does not load.
    bool Load(int id);
    // The same from an image in memory.
    bool Load(const QImage& image);

    bool IsNull() const { return image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    QSize Size() const { return image_.size(); }
    const QImage& Image() const { return image_; }
    // What Draw paints: the art at the screen's pixel ratio (the @2x drawing
    // on screens with more than one pixel per unit), made once.
    const QPixmap& Pixmap() const;

    // Copies `source` (default: the whole bitmap) to `target` (default: the
    // source's size at 0,0); a different size stretches.
    void Draw(QPainter& painter, QRect target = {}, QRect source = {}) const;
    QRegion MakeRegion(QRgb key = qRgb(0, 0, 0)) const { return MaskRegion(image_, key); }

private:
    QImage image_;
    int id_ = 0;
    mutable QPixmap pixmap_;
};

}  // namespace tunara::qt
