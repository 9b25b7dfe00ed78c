#include "Paint.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "Palette.h"

namespace tunara::skin {

namespace {

// Adds one corner to the path, going clockwise; `from` is where the corner
// starts on the incoming edge, `to` where it ends on the outgoing one.
void AddCorner(QPainterPath& path, const Corner& c, QPointF apex, QPointF from, QPointF to,
               double startAngle) {
    if (c.size <= 0) {
        path.lineTo(apex);
        return;
    }
    if (c.kind == Corner::kBevel) {
        path.lineTo(from);
        path.lineTo(to);
        return;
    }
    // The arc's bounding square has the apex at one corner.
    const double d = 2 * c.size;
    QRectF box;
    if (apex.x() <= from.x() && apex.x() <= to.x()) {
        box.setLeft(apex.x());
    } else {
        box.setLeft(apex.x() - d);
    }
    if (apex.y() <= from.y() && apex.y() <= to.y()) {
        box.setTop(apex.y());
    } else {
        box.setTop(apex.y() - d);
    }
    box.setSize({d, d});
    path.lineTo(from);
    path.arcTo(box, startAngle, -90);
}

}  // namespace

QPainterPath Outline(const QRectF& rect, const Corners& corners, double inset) {
    const QRectF r = rect.adjusted(inset, inset, -inset, -inset);
    auto shrink = [inset](Corner c) {
        // A bevel keeps its 45-degree line when inset; a radius shrinks.
        c.size = c.kind == Corner::kRound ? std::max(0.0, c.size - inset)
                                          : std::max(0.0, c.size - inset * (std::sqrt(2.0) - 1));
        return c;
    };
    const Corner tl = shrink(corners.topLeft), tr = shrink(corners.topRight),
                 br = shrink(corners.bottomRight), bl = shrink(corners.bottomLeft);
    QPainterPath path;
    path.moveTo(r.left() + tl.size, r.top());
    AddCorner(path, tr, r.topRight(), {r.right() - tr.size, r.top()},
              {r.right(), r.top() + tr.size}, 90);
    AddCorner(path, br, r.bottomRight(), {r.right(), r.bottom() - br.size},
              {r.right() - br.size, r.bottom()}, 0);
    AddCorner(path, bl, r.bottomLeft(), {r.left() + bl.size, r.bottom()},
              {r.left(), r.bottom() - bl.size}, 270);
    AddCorner(path, tl, r.topLeft(), {r.left(), r.top() + tl.size}, {r.left() + tl.size, r.top()},
              180);
    path.closeSubpath();
    return path;
}

QImage MaskFromPath(QSize size, const QPainterPath& path) {
    QImage mask(size, QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            mask.setPixel(x, y, path.contains(QPointF(x + 0.5, y + 0.5)) ? 0 : 1);
        }
    }
    return mask;
}

QImage MaskFromRect(QSize size) {
    QPainterPath path;
    path.addRect(QRectF(QPointF(0, 0), size));
    return MaskFromPath(size, path);
}

namespace {
int g_scale = 1;
}  // namespace

void SetScale(int scale) {
    g_scale = scale;
}

int Scale() {
    return g_scale;
}

QImage Canvas(QSize size, const QColor& fill) {
    QImage image(size * g_scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(g_scale);
    image.fill(fill);
    return image;
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    auto ch = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(ch(a.red(), b.red()), ch(a.green(), b.green()), ch(a.blue(), b.blue()));
}

QColor BodyAt(int y, int height) {
    return Mix(palette::kBodyTop, palette::kBodyBottom,
               height > 1 ? static_cast<double>(y) / (height - 1) : 0);
}

void PaintWindowBody(QImage& image, const QRectF& rect, const Corners& corners) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(Outline(rect, corners), palette::kOutline);
    // The body gradient row by row, so every row has one exact colour.
    QLinearGradient body(0, rect.top() + 1, 0, rect.bottom() - 1);
    body.setColorAt(0, palette::kBodyTop);
    body.setColorAt(1, palette::kBodyBottom);
    p.fillPath(Outline(rect, corners, 1), body);

    // Highlight above the diagonal from bottom-left to top-right, shadow below.
    const QPainterPath edge = Outline(rect, corners, 1.5);
    QPolygonF upper;
    upper << rect.topLeft() << rect.topRight() << rect.bottomLeft();
    QPolygonF lower;
    lower << rect.topRight() << rect.bottomRight() << rect.bottomLeft();
    p.save();
    QPainterPath clip;
    clip.addPolygon(upper);
    p.setClipPath(clip);
    p.strokePath(edge, QPen(palette::kHighlight, 1));
    p.restore();
    p.save();
    QPainterPath clip2;
    clip2.addPolygon(lower);
    p.setClipPath(clip2);
    p.strokePath(edge, QPen(Mix(palette::kShadow, palette::kBodyBottom, 0.35), 1));
    p.restore();
}

void PaintRecess(QPainter& p, const QRect& r, const QColor& fill) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    // Outside lip: dark above and left, light below and right.
    p.fillRect(QRect(r.left() - 1, r.top() - 1, r.width() + 1, 1), palette::kShadow);
    p.fillRect(QRect(r.left() - 1, r.top(), 1, r.height()), palette::kShadow);
    p.fillRect(QRect(r.left() - 1, r.bottom() + 1, r.width() + 2, 1), palette::kHighlight);
    p.fillRect(QRect(r.right() + 1, r.top() - 1, 1, r.height() + 2), palette::kHighlight);
    p.fillRect(r, fill);
    // Inner shadow along the top and left.
    const QColor inner = Mix(fill, QColor(0, 0, 0), 0.6);
    p.fillRect(QRect(r.left(), r.top(), r.width(), 1), inner);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height()), inner);
    p.restore();
}

void PaintGroove(QPainter& p, const QRectF& r, double radius) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath lip;
    lip.addRoundedRect(r.translated(0.5, 1), radius, radius);
    p.fillPath(lip, palette::kHighlight);
    QPainterPath outer;
    outer.addRoundedRect(r, radius, radius);
    p.fillPath(outer, palette::kShadow);
    QPainterPath inner;
    inner.addRoundedRect(r.adjusted(1, 1, -1, -1).translated(0, 0.5), radius - 1, radius - 1);
    p.fillPath(inner, palette::kGroove);
    p.restore();
}

QFont PixelFont(const QString& family, int pixelSize, bool bold, double spacing) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    if (spacing != 0) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    }
    return font;
}

void DrawText(QPainter& p, const QFont& font, int x, int baseline, const QString& text,
              const QColor& colour) {
    p.save();
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QPointF(x, baseline), text);
    p.restore();
}

int TextWidth(const QFont& font, const QString& text) {
    const QFontMetrics fm(font);
    // Letter spacing is added after the last letter too; it is not ink.
    const double trailing =
        font.letterSpacingType() == QFont::AbsoluteSpacing ? font.letterSpacing() : 0;
    return static_cast<int>(std::lround(fm.horizontalAdvance(text) - trailing));
}

int CentredX(const QFont& font, const QString& text, int width) {
    // Render once and measure the ink: side bearings differ per letter.
    const int margin = 8;
    QImage scratch(TextWidth(font, text) + 2 * margin, 4 * font.pixelSize(),
                   QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    {
        QPainter p(&scratch);
        DrawText(p, font, margin, 3 * font.pixelSize(), text, QColor(255, 255, 255));
    }
    // Centre of the ink, weighted by coverage: what the eye takes as the middle.
    double sum = 0, moment = 0;
    for (int y = 0; y < scratch.height(); ++y) {
        for (int x = 0; x < scratch.width(); ++x) {
            const int a = qAlpha(scratch.pixel(x, y));
            sum += a;
            moment += a * (x + 0.5);
        }
    }
    if (sum == 0) return width / 2;
    return static_cast<int>(std::lround(width / 2.0 - (moment / sum - margin)));
}

void DrawEngraved(QPainter& p, const QFont& font, int x, int baseline, const QString& text,
                  const QColor& colour) {
    DrawText(p, font, x, baseline - 1, text, palette::kShadow);
    DrawText(p, font, x, baseline, text, colour);
}

}  // namespace tunara::skin
