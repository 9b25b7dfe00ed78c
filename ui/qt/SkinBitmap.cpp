#include "ui/qt/SkinBitmap.h"

#include <QGuiApplication>
#include <QPainter>
#include <vector>

#include "ui/skin/Skin.h"

namespace tunara::qt {

QString SkinPath(int id) {
    return skin::BitmapPath(id);
}

QRegion MaskRegion(const QImage& mask, QRgb key) {
    if (mask.isNull()) return {};
    const QImage image = mask.convertToFormat(QImage::Format_RGB32);
    const QRgb want = key & 0xFFFFFF;
    QRegion region;
    std::vector<QRect> runs;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        runs.clear();
        int x = 0;
        const int w = image.width();
        while (x < w) {
            while (x < w && (row[x] & 0xFFFFFF) != want) ++x;
            const int start = x;
            while (x < w && (row[x] & 0xFFFFFF) == want) ++x;
            if (x > start) runs.emplace_back(start, y, x - start, 1);
        }
        if (runs.empty()) continue;
        // One row is one band of disjoint rectangles sorted by x; appending
        // bands below the region so far is cheap for QRegion.
        QRegion band;
        band.setRects(runs.data(), static_cast<int>(runs.size()));
        region += band;
    }
    return region;
}

bool SkinBitmap::Load(int id) {
    const bool ok = Load(QImage(SkinPath(id)));
    id_ = ok ? id : 0;
    return ok;
}

bool SkinBitmap::Load(const QImage& image) {
    image_ = image;
    id_ = 0;
    pixmap_ = QPixmap();
    return !image_.isNull();
}

const QPixmap& SkinBitmap::Pixmap() const {
    if (!pixmap_.isNull() || image_.isNull()) return pixmap_;
    if (id_ != 0 && qGuiApp && qGuiApp->devicePixelRatio() > 1) {
        QImage sharp(skin::BitmapPath2x(id_));
        if (sharp.size() == image_.size() * 2) {
            sharp.setDevicePixelRatio(2);
            pixmap_ = QPixmap::fromImage(sharp);
        }
    }
    if (pixmap_.isNull()) pixmap_ = QPixmap::fromImage(image_);
    return pixmap_;
}

void SkinBitmap::Draw(QPainter& painter, QRect target, QRect source) const {
    if (IsNull()) return;
    if (source.isNull()) source = QRect(QPoint(0, 0), image_.size());
    if (target.isNull()) target = QRect(QPoint(0, 0), source.size());
    const QPixmap& pixmap = Pixmap();
    const qreal ratio = pixmap.devicePixelRatio();
    // The source is given in 1x pixels; the pixmap counts its own.
    painter.drawPixmap(QRectF(target), pixmap,
                       QRectF(source.x() * ratio, source.y() * ratio, source.width() * ratio,
                              source.height() * ratio));
}

}  // namespace tunara::qt
