// Drawing helpers shared by the skin's bitmaps and the movie frames. All of
// them keep straight edges on whole pixels; only curves are antialiased.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRect>
#include <QString>

namespace tunara::skin {

// One corner of a window outline: rounded with a radius, or cut at 45 degrees.
struct Corner {
    enum Kind { kRound, kBevel } kind = kRound;
    double size = 0;
};

struct Corners {
    Corner topLeft, topRight, bottomRight, bottomLeft;
};

// The outline of a rectangle with the given corners, inset by `inset` pixels.
QPainterPath Outline(const QRectF& rect, const Corners& corners, double inset = 0);

// A hard-edged 1-bit mask: a pixel is inside (black) when its centre lies in
// the path.
QImage MaskFromPath(QSize size, const QPainterPath& path);
QImage MaskFromRect(QSize size);

// The scale every following drawing is made at: 1, or 2 for screens with
// twice the pixels. Drawings keep their coordinates in 1x pixels; a canvas
// carries the scale as its device pixel ratio, so painters scale themselves.
void SetScale(int scale);
int Scale();

// A 24-bit canvas of `size` 1x pixels at the current scale, filled with one
// colour.
QImage Canvas(QSize size, const QColor& fill);

// The body colour of a window of the given height at row y.
QColor BodyAt(int y, int height);

// The window body: dark outline on the mask's edge, graphite gradient inside,
// a 1-pixel highlight on the upper and left edges and a shadow on the lower
// and right ones.
void PaintWindowBody(QImage& image, const QRectF& rect, const Corners& corners);

// A recessed pane: dark fill, inner shadow on top and left, a lip of light on
// its lower and right outside edge.
void PaintRecess(QPainter& p, const QRect& rect, const QColor& fill);

// A groove for a slider channel (same shading as a recess, rounded ends).
void PaintGroove(QPainter& p, const QRectF& rect, double radius);

// A font at a pixel size, hinted to the pixel grid.
QFont PixelFont(const QString& family, int pixelSize, bool bold = true, double spacing = 0);

// Draws text whose baseline starts at a whole pixel.
void DrawText(QPainter& p, const QFont& font, int x, int baseline, const QString& text,
              const QColor& colour);

// Width in whole pixels that DrawText takes for the text.
int TextWidth(const QFont& font, const QString& text);

// The pen position that centres the text's ink (not its advance) in a span
// of `width` pixels starting at 0.
int CentredX(const QFont& font, const QString& text, int width);

// Engraved caption on the body: light text with a dark line above it.
void DrawEngraved(QPainter& p, const QFont& font, int x, int baseline, const QString& text,
                  const QColor& colour);

// Mixes two colours, t = 0 gives a, t = 1 gives b.
QColor Mix(const QColor& a, const QColor& b, double t);

}  // namespace tunara::skin
