#include "Bitmaps.h"

#include <QLinearGradient>
#include <QPolygonF>
#include <QRadialGradient>
#include <cmath>
#include <set>
#include <vector>

#include "Paint.h"
#include "Palette.h"
#include "ui/skin/Skin.h"

namespace tunara::skin {

namespace pal = palette;

namespace {

enum class State { kNormal, kPressed, kLit };

QColor Transparent(QColor c, int alpha = 0) {
    c.setAlpha(alpha);
    return c;
}

constexpr Corner Round(double r) {
    return {Corner::kRound, r};
}
constexpr Corner Bevel(double s) {
    return {Corner::kBevel, s};
}

// Main window: round top corners, bevels at the bottom where panels dock.
const Corners kMainCorners{Round(pal::kMainCornerRadius), Round(pal::kMainCornerRadius),
                           Bevel(pal::kDockBevel), Bevel(pal::kDockBevel)};
// Docking panels: bevels at the top, round bottom corners.
const Corners kPanelCorners{Bevel(pal::kDockBevel), Bevel(pal::kDockBevel),
                            Round(pal::kPanelCornerRadius), Round(pal::kPanelCornerRadius)};
const Corners kDialogCorners{Round(pal::kPanelCornerRadius), Round(pal::kPanelCornerRadius),
                             Round(pal::kPanelCornerRadius), Round(pal::kPanelCornerRadius)};

// ---------------------------------------------------------------- pictograms

enum class Glyph { kNone, kEject, kPrev, kBack, kStop, kPlay, kFwd, kNext, kPause, kRecord };

// The pictogram in a 32 x 32 button, centred on (16, 16).
QPainterPath GlyphPath(Glyph g) {
    QPainterPath path;
    auto tri = [&path](QPointF a, QPointF b, QPointF c) {
        QPolygonF poly;
        poly << a << b << c << a;
        path.addPolygon(poly);
    };
    switch (g) {
        case Glyph::kNone:
            break;
        case Glyph::kEject:
            tri({10, 18}, {22, 18}, {16, 11});
            path.addRect(10, 20, 12, 2);
            break;
        case Glyph::kPrev:
            path.addRect(10, 11, 2, 10);
            tri({21, 11}, {21, 21}, {12.5, 16});
            break;
        case Glyph::kNext:
            path.addRect(20, 11, 2, 10);
            tri({11, 11}, {11, 21}, {19.5, 16});
            break;
        case Glyph::kBack:
            tri({16, 11}, {16, 21}, {8, 16});
            tri({24, 11}, {24, 21}, {16, 16});
            break;
        case Glyph::kFwd:
            tri({8, 11}, {8, 21}, {16, 16});
            tri({16, 11}, {16, 21}, {24, 16});
            break;
        case Glyph::kStop:
            path.addRect(11, 11, 10, 10);
            break;
        case Glyph::kPlay:
            tri({13, 10}, {13, 22}, {23, 16});
            break;
        case Glyph::kPause:
            path.addRect(11, 11, 3, 10);
            path.addRect(18, 11, 3, 10);
            break;
        case Glyph::kRecord:
            path.addEllipse(QPointF(16, 16), 5, 5);
            break;
    }
    path.setFillRule(Qt::WindingFill);
    return path;
}

// ---------------------------------------------------------------- buttons

// Colour under the buttons where their mask edge shows: the socket drawn
// into the main window around each transport button.
const QColor kSocket = Mix(pal::kShadow, pal::kBodyBottom, 0.25);

void PaintDome(QPainter& p, QPointF centre, double radius, State state) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // Rim: a dark ring all round.
    p.setBrush(pal::kOutline);
    p.drawEllipse(centre, radius, radius);
    const double r = radius - 1;
    // Body: light from the top left, darker and flatter when pressed.
    QLinearGradient body(centre.x() - r * 0.5, centre.y() - r, centre.x() + r * 0.5,
                         centre.y() + r);
    if (state == State::kPressed) {
        body.setColorAt(0, pal::kKnobPressedTop);
        body.setColorAt(1, pal::kKnobPressedBottom);
    } else {
        body.setColorAt(0, pal::kKnobTop);
        body.setColorAt(1, pal::kKnobBottom);
    }
    p.setBrush(body);
    p.drawEllipse(centre, r, r);
    if (state != State::kPressed) {
        // Dome: a soft sheen in the upper half.
        QRadialGradient sheen(centre.x() - r * 0.25, centre.y() - r * 0.55, r * 0.9);
        sheen.setColorAt(0, pal::Sheen(46));
        sheen.setColorAt(1, pal::Sheen(0));
        p.setBrush(sheen);
        p.drawEllipse(centre, r, r);
        // A thin bright rim on the upper left edge.
        QLinearGradient rim(centre.x() - r, centre.y() - r, centre.x() + r, centre.y() + r);
        rim.setColorAt(0, pal::kRim);
        rim.setColorAt(0.5, Transparent(pal::kRim));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QBrush(rim), 1));
        p.drawEllipse(centre, r - 0.5, r - 0.5);
        p.setPen(Qt::NoPen);
    } else {
        // Pressed: the shadow falls inside along the top.
        QLinearGradient inner(0, centre.y() - r, 0, centre.y());
        inner.setColorAt(0, pal::Shade(110));
        inner.setColorAt(1, pal::Shade(0));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QBrush(inner), 1.5));
        p.drawEllipse(centre, r - 0.75, r - 0.75);
        p.setPen(Qt::NoPen);
    }
}

void PaintGlyph(QPainter& p, const QPainterPath& glyph, State state, QPointF offset) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPainterPath g = glyph.translated(offset);
    if (state == State::kLit) {
        // Glow: the glyph widened in fading rings of the accent.
        for (int w = 5; w >= 1; w -= 2) {
            QColor glow = pal::kAccent;
            glow.setAlpha(36 + (5 - w) * 14);
            p.strokePath(g, QPen(glow, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        }
        p.fillPath(g, pal::kAccentLit);
        return;
    }
    // Raised glyph: a dark shadow one pixel below.
    p.fillPath(g.translated(0, 1), pal::Shade(170));
    p.fillPath(g, state == State::kPressed ? pal::kGlyphPressed : pal::kGlyph);
}

QImage TransportButton(Glyph glyph, State state) {
    QImage image = Canvas({32, 32}, kSocket);
    QPainter p(&image);
    PaintDome(p, {16, 16}, 15.5, state);
    if (state == State::kLit) {
        // Lit: a ring of the accent inside the rim.
        p.setBrush(Qt::NoBrush);
        QColor ring = pal::kAccent;
        ring.setAlpha(150);
        p.setPen(QPen(ring, 1));
        p.drawEllipse(QPointF(16, 16), 13.5, 13.5);
        ring.setAlpha(60);
        p.setPen(QPen(ring, 1));
        p.drawEllipse(QPointF(16, 16), 12.5, 12.5);
    }
    PaintGlyph(p, GlyphPath(glyph), state, {0, state == State::kPressed ? 1.0 : 0.0});
    return image;
}

QImage CircleMask(int size, double radius) {
    QPainterPath path;
    path.addEllipse(QPointF(size / 2.0, size / 2.0), radius, radius);
    return MaskFromPath({size, size}, path);
}

// Small pill: 38 x 10 with a centred label.
const QRectF kPillRect(0, 0, 38, 10);
const Corners kPillCorners{Round(4), Round(4), Round(4), Round(4)};

// As large as the pill allows: caps six pixels high. Long labels close up
// a little rather than shrink.
QFont LabelFont(const QString& label) {
    QFont font = PixelFont(pal::kNarrowFont, 9, true);
    if (TextWidth(font, label) > 33) font = PixelFont(pal::kNarrowFont, 9, true, -0.5);
    return font;
}

QImage TextButton(const QString& label, State state) {
    QImage image = Canvas({38, 10}, Mix(pal::kBodyTop, pal::kBodyBottom, 0.5));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(Outline(kPillRect, kPillCorners), pal::kOutline);
    QLinearGradient body(0, 1, 0, 9);
    // Lit pills sit lower, like a latched key, and their label glows on the
    // darker face.
    if (state != State::kNormal) {
        body.setColorAt(0, pal::kKnobPressedTop);
        body.setColorAt(1, pal::kKnobPressedBottom);
    } else {
        body.setColorAt(0, pal::kPillTop);
        body.setColorAt(1, pal::kPillBottom);
    }
    p.fillPath(Outline(kPillRect, kPillCorners, 1), body);
    if (state != State::kPressed) {
        // Top edge catches the light.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRect(4, 1, 30, 1), pal::kEdgeLight);
    }
    if (!label.isEmpty()) {
        const QFont font = LabelFont(label);
        const int x = CentredX(font, label, 38);
        // The pill is too low to move the label when pressed; the body
        // darkens instead.
        const int baseline = 8;
        const QColor colour = state == State::kLit       ? pal::kLabelLit
                              : state == State::kPressed ? pal::kGlyphPressed
                                                         : pal::kLabel;
        if (state != State::kPressed) {
            DrawText(p, font, x, baseline + 1, label, pal::Shade(150));
        }
        DrawText(p, font, x, baseline, label, colour);
    }
    return image;
}

// Tiny caption button (close, minimise): a dark rounded chip with a pixel glyph.
enum class ChipGlyph { kClose, kMinimise };

QImage Chip(int width, ChipGlyph glyph, State state) {
    QImage image = Canvas({width, 8}, pal::kBodyTop);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRect r(0, 0, width, 8);
    p.fillRect(r.adjusted(1, 0, -1, 0), pal::kOutline);
    p.fillRect(r.adjusted(0, 1, 0, -1), pal::kOutline);
    const QColor top = state == State::kPressed ? pal::kKnobPressedTop : pal::kChipTop;
    const QColor bottom = state == State::kPressed ? pal::kKnobPressedBottom : pal::kChipBottom;
    for (int y = 1; y < 7; ++y) {
        p.fillRect(QRect(1, y, width - 2, 1), Mix(top, bottom, (y - 1) / 5.0));
    }
    QColor ink = state == State::kLit       ? pal::kAccentLit
                 : state == State::kPressed ? pal::kGlyphPressed
                                            : pal::kGlyph;
    const int dy = state == State::kPressed ? 1 : 0;
    if (glyph == ChipGlyph::kClose) {
        // A 5 x 5 cross with a single middle pixel.
        const int x0 = (width - 5) / 2;
        for (int i = 0; i < 5; ++i) {
            p.fillRect(QRect(x0 + i, 1 + i + dy, 1, 1), ink);
            p.fillRect(QRect(x0 + 4 - i, 1 + i + dy, 1, 1), ink);
        }
    } else {
        p.fillRect(QRect((width - 5) / 2, 5 + dy - 1, 5, 1), ink);
    }
    return image;
}

QImage ChipMask(int width) {
    QImage mask = MaskFromRect({width, 8});
    for (auto [x, y] : {std::pair{0, 0}, {width - 1, 0}, {0, 7}, {width - 1, 7}}) {
        mask.setPixel(x, y, 1);
    }
    return mask;
}

// ---------------------------------------------------------------- sliders

const Corners kThumbCorners{Round(3), Round(3), Round(3), Round(3)};

QImage Thumb() {
    QImage image = Canvas({13, 12}, kSocket);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0, 0, 13, 12);
    p.fillPath(Outline(r, kThumbCorners), pal::kOutline);
    QLinearGradient metal(0, 1, 0, 11);
    metal.setColorAt(0, pal::kMetalLight);
    metal.setColorAt(0.5, pal::kMetalMid);
    metal.setColorAt(1, pal::kMetalDark);
    p.fillPath(Outline(r, kThumbCorners, 1), metal);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(3, 1, 7, 1), pal::kMetalShine);
    // A small accent light in the middle, the same for both slider directions.
    p.fillRect(QRect(5, 5, 3, 2), pal::kAccentDeep);
    p.fillRect(QRect(5, 5, 3, 1), pal::kAccent);
    return image;
}

QImage ThumbMask() {
    return MaskFromPath({13, 12}, Outline(QRectF(0, 0, 13, 12), kThumbCorners));
}

// The channel: a groove along the slider's long axis; the mask is the groove
// widened by a pixel so the lip shows.
QRectF GrooveRect(QSize size) {
    return size.width() > size.height() ? QRectF(0, 4, size.width(), 4)
                                        : QRectF(4.5, 0, 4, size.height());
}

QImage Channel(QSize size) {
    QImage image = Canvas(size, pal::kBodyBottom);
    QPainter p(&image);
    PaintGroove(p, GrooveRect(size), 2);
    return image;
}

QImage ChannelMask(QSize size) {
    const QRectF g = GrooveRect(size);
    QPainterPath path;
    path.addRoundedRect(g.adjusted(0, -0.5, 0, 1.5), 2, 2);
    return MaskFromPath(size, path);
}

// ---------------------------------------------------------------- windows

QFont CaptionFont() {
    return PixelFont(pal::kFont, 9, true, 1.5);
}

// The caption strip at the top of every window: engraved title on the left,
// a groove running to the caption buttons on the right.
void PaintCaption(QPainter& p, const QString& title, int grooveEnd) {
    const QFont font = CaptionFont();
    DrawEngraved(p, font, 14, 14, title, pal::kCaption);
    const int x0 = 14 + TextWidth(font, title) + 8;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(x0, 10, grooveEnd - x0, 1), pal::kShadow);
    p.fillRect(QRect(x0, 11, grooveEnd - x0, 1), pal::kGrooveLight);
}

// The socket around a 32 x 32 transport button at (x, y).
void PaintSocket(QPainter& p, int x, int y) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPointF c(x + 16, y + 16);
    QLinearGradient lip(c.x() - 17, c.y() - 17, c.x() + 17, c.y() + 17);
    lip.setColorAt(0, pal::Shade(120));
    lip.setColorAt(1, Transparent(pal::kEdgeLight, 160));
    p.setBrush(lip);
    p.drawEllipse(c, 17.5, 17.5);
    p.setBrush(kSocket);
    p.drawEllipse(c, 16.5, 16.5);
}

// A shallow tray behind a group of text buttons.
void PaintTray(QPainter& p, const QRect& r) {
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(r), 4, 4);
    p.fillPath(path, pal::Shade(60));
    QPainterPath lip;
    lip.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    p.strokePath(lip, QPen(pal::Shade(90), 1));
    QPainterPath under;
    under.moveTo(r.left() + 4, r.bottom() + 1.5);
    under.lineTo(r.right() - 3, r.bottom() + 1.5);
    p.strokePath(under, QPen(Transparent(pal::kEdgeLight, 110), 1));
}

void PaintScrew(QPainter& p, QPointF c) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::kShadow);
    p.drawEllipse(c, 2, 2);
    QLinearGradient g(c.x() - 1.5, c.y() - 1.5, c.x() + 1.5, c.y() + 1.5);
    g.setColorAt(0, pal::kRim);
    g.setColorAt(1, pal::kBodyBottom);
    p.setBrush(g);
    p.drawEllipse(c, 1.4, 1.4);
}

struct Window {
    QImage image, mask;
};

Window WindowBase(QSize size, const Corners& corners) {
    const QRectF rect(QPointF(0, 0), size);
    Window w{Canvas(size, pal::kOutline), MaskFromPath(size, Outline(rect, corners))};
    PaintWindowBody(w.image, rect, corners);
    return w;
}

struct Transport {
    Glyph glyph;
    int x, y;
};
const Transport kTransport[] = {{Glyph::kEject, 16, 127}, {Glyph::kPrev, 55, 126},
                                {Glyph::kBack, 93, 127},  {Glyph::kStop, 131, 126},
                                {Glyph::kPlay, 170, 126}, {Glyph::kFwd, 209, 126},
                                {Glyph::kNext, 247, 126}};

Window MainWindow() {
    Window w = WindowBase({375, 169}, kMainCorners);
    QPainter p(&w.image);
    PaintCaption(p, pal::kProductName, 340);  // up to the minimise button
    // The displays' pane: information display at 30,30 and levels at 30,70.
    PaintRecess(p, QRect(26, 26, 248, 69), pal::kPane);
    p.fillRect(QRect(30, 67, 240, 1), pal::kPaneRule);
    // Modes.
    PaintTray(p, QRect(68, 96, 161, 12));
    DrawEngraved(p, PixelFont(pal::kFont, 8, true, 1), 31, 105, "MODE", pal::kCaption);
    // Volume: ticks left of the channel at the thumb's centre positions.
    for (int i = 0; i <= 10; ++i) {
        const int y = 15 + 6 + (93 - 12) * i / 10;
        const int len = i % 5 == 0 ? 3 : 2;
        p.fillRect(QRect(289 - len, y - 1, len, 1), pal::kShadow);
        p.fillRect(QRect(289 - len, y, len, 1), pal::kHighlight);
    }
    DrawEngraved(p, PixelFont(pal::kFont, 8, true, 1), 288, 118, "VOL", pal::kCaption);
    // Panel buttons on the right, the equaliser's last.
    PaintTray(p, QRect(312, 21, 44, 76));
    // Balance: caption above, a notch below the channel where the thumb's
    // centre sits at the middle.
    {
        namespace eq = equaliser;
        const QFont font = PixelFont(pal::kFont, 8, true, 1);
        const int x = eq::kBalance.x() + CentredX(font, "BAL", eq::kBalanceSize.width());
        DrawEngraved(p, font, x, eq::kBalance.y() - 3, "BAL", pal::kCaption);
        const int mid = eq::kBalance.x() + (eq::kBalanceSize.width() - 13) / 2 + 6;
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRect(mid, eq::kBalance.y() + 13, 1, 2), pal::kShadow);
        p.fillRect(QRect(mid + 1, eq::kBalance.y() + 13, 1, 2), pal::kHighlight);
    }
    // Transport sockets.
    for (const auto& t : kTransport) {
        PaintSocket(p, t.x, t.y);
    }
    return w;
}

// A panel's caption groove runs up to its close button at x 358, when it has one.
Window Panel(const QString& title, QSize size, const Corners& corners, bool closeButton) {
    Window w = WindowBase(size, corners);
    QPainter p(&w.image);
    PaintCaption(p, title, closeButton ? 352 : size.width() - 14);
    return w;
}

Window PlaylistWindow() {
    Window w = Panel("PLAYLIST", {375, 221}, kPanelCorners, true);
    QPainter p(&w.image);
    PaintRecess(p, QRect(34, 36, 251, 150), pal::kListPane);
    PaintTray(p, QRect(317, 27, 44, 99));
    PaintTray(p, QRect(317, 133, 44, 16));
    PaintScrew(p, {8.5, 213.5});
    PaintScrew(p, {366.5, 213.5});
    return w;
}

Window CdWindow() {
    Window w = Panel("CD", {375, 221}, kPanelCorners, true);
    QPainter p(&w.image);
    PaintRecess(p, QRect(34, 32, 251, 154), pal::kListPane);
    // The artist and title lines sit above the track list.
    p.fillRect(QRect(36, 61, 247, 1), pal::kPaneRule);
    PaintTray(p, QRect(316, 65, 44, 37));
    PaintTray(p, QRect(316, 113, 44, 16));
    PaintScrew(p, {8.5, 213.5});
    PaintScrew(p, {366.5, 213.5});
    return w;
}

Window RecordingWindow() {
    Window w = Panel("RECORDING", {375, 140}, kDialogCorners, false);
    QPainter p(&w.image);
    namespace at = recording;
    PaintRecess(p, QRect(24, 28, 327, 76), pal::kPane);
    // Captions above the two progress bars, and their grooves.
    const QFont caption = PixelFont(pal::kFont, 8, true, 1);
    DrawText(p, caption, at::kTrackBar.left(), at::kTrackBar.top() - 3, "TRACK",
             Mix(pal::kPane, pal::kCaption, 0.8));
    DrawText(p, caption, at::kOverallBar.left(), at::kOverallBar.top() - 3, "ALL TRACKS",
             Mix(pal::kPane, pal::kCaption, 0.8));
    for (const QRect& bar : {at::kTrackBar, at::kOverallBar}) {
        PaintGroove(p, QRectF(bar), 2);
    }
    PaintTray(p, at::kCancel.adjusted(-3, -3, 3, 3));
    return w;
}

// The frame around a movie: 16-pixel border; corners are copied and edges
// stretched, so edges only change across their width.
Window VideoFrame() {
    const QSize size(375, 221);
    Window w = WindowBase(size, kDialogCorners);
    QPainter p(&w.image);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRect opening(16, 16, 375 - 32, 221 - 32);
    // Stretch-safe body: the gradient runs across each edge, not along it.
    for (int i = 2; i < 14; ++i) {
        const QColor c = BodyAt(i, 20);
        p.fillRect(QRect(i, i, 375 - 2 * i, 1), c);                                 // top
        p.fillRect(QRect(i, 220 - i, 375 - 2 * i, 1), Mix(c, pal::kShadow, 0.15));  // bottom
        p.fillRect(QRect(i, i, 1, 221 - 2 * i), c);                                 // left
        p.fillRect(QRect(374 - i, i, 1, 221 - 2 * i), Mix(c, pal::kShadow, 0.15));  // right
    }
    PaintRecess(p, opening.adjusted(-1, -1, 1, 1), pal::kDisplayBackground);
    return w;
}

// The equaliser: on/off and presets on the left, the preamp, a dB scale,
// then the ten bands, each on the volume slider's channel with its
// frequency below; a rule at 0 dB runs behind the bands.
Window EqualiserWindow() {
    namespace eq = equaliser;
    Window w = Panel("EQUALISER", eq::kSize, kPanelCorners, true);
    QPainter p(&w.image);
    p.setRenderHint(QPainter::Antialiasing, false);
    PaintTray(p, QRect(eq::kOn.x() - 3, eq::kOn.y() - 3, 44, 32));
    PaintRecess(p, eq::kResponse.adjusted(-1, -1, 0, 0), pal::kPane);
    // The thumb's centre at +12, 0 and -12 dB (range 0..48, 93-pixel channel).
    auto centreAt = [](int step) { return eq::kSliderTop + (93 - 12) * step / 48 + 6; };
    const int top = centreAt(0), zero = centreAt(24), bottom = centreAt(48);
    const int bandsLeft = eq::BandX(0) - 6, bandsRight = eq::BandX(eq::kBands - 1) + 13 + 6;
    auto engrave = [&p](int x, int y, int len, const QColor& light) {
        p.fillRect(QRect(x, y - 1, len, 1), pal::kShadow);
        p.fillRect(QRect(x, y, len, 1), light);
    };
    for (int step = 0; step <= 48; step += 6) {
        const int y = centreAt(step);
        const int len = step % 24 == 0 ? 4 : 2;
        // Ticks outside the outer bands and left of the preamp.
        engrave(bandsLeft, y, len, pal::kHighlight);
        engrave(bandsRight - len, y, len, pal::kHighlight);
        engrave(eq::kPreampX - 1 - len, y, len, pal::kHighlight);
    }
    // The 0 dB rule in the gaps between the bands.
    for (int b = 0; b + 1 < eq::kBands; ++b)
        engrave(eq::BandX(b) + 13 + 1, zero, eq::kBandPitch - 13 - 2, pal::kGrooveLight);
    // The dB scale, right-aligned between the preamp and the bands.
    const QFont scale = PixelFont(pal::kFont, 8, true);
    const int scaleRight = bandsLeft - 3;
    for (auto [y, text] : {std::pair{top, "+12"}, {zero, "0"}, {bottom, "-12"}}) {
        const QString t = QString::fromUtf8(text);
        DrawEngraved(p, scale, scaleRight - TextWidth(scale, t), y + 3, t, pal::kCaption);
    }
    // Captions under the sliders, centred on each.
    const QFont caption = PixelFont(pal::kFont, 8, true);
    const int baseline = eq::kSliderTop + 93 + 11;
    auto under = [&](int x, const QString& text) {
        DrawEngraved(p, caption, x + CentredX(caption, text, 13), baseline, text, pal::kCaption);
    };
    under(eq::kPreampX, "PRE");
    const char* bands[] = {"31", "62", "125", "250", "500", "1K", "2K", "4K", "8K", "16K"};
    for (int b = 0; b < eq::kBands; ++b) under(eq::BandX(b), bands[b]);
    PaintScrew(p, {8.5, eq::kSize.height() - 7.5});
    PaintScrew(p, {eq::kSize.width() - 8.5, eq::kSize.height() - 7.5});
    return w;
}

// ---------------------------------------------------------------- about box

Window AboutBox() {
    const QSize size(442, 180);
    Window w = WindowBase(size, kDialogCorners);
    QPainter p(&w.image);
    p.setRenderHint(QPainter::Antialiasing);
    // A faint blue light behind the logo.
    QRadialGradient light(52, 48, 90);
    QColor glow = pal::kAccent;
    glow.setAlpha(40);
    light.setColorAt(0, glow);
    light.setColorAt(1, pal::Shade(0));
    p.fillPath(Outline(QRectF(0, 0, 442, 180), kDialogCorners, 2), light);
    // Logo and wordmark.
    p.drawImage(QPoint(26, 22), DrawLogo(52, 0.6));
    const QFont mark = PixelFont(pal::kFont, 40, true, 7);
    const int markWidth = TextWidth(mark, pal::kProductName);
    DrawText(p, mark, 94, 67, pal::kProductName, pal::kShadow);
    DrawText(p, mark, 93, 65, pal::kProductName, pal::kWordmark);
    // Accent rule under the wordmark.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(94, 74, markWidth - 1, 2), pal::kAccent);
    p.fillRect(QRect(94, 76, markWidth - 1, 1), pal::kAccentDeep);
    // The light band that carries the version line (black on white, its
    // right edge 8 pixels left of the box's right edge, at y 95).
    const QRect band(2, 88, 438, 26);
    p.fillRect(band.adjusted(0, -1, 0, 1), pal::kShadow);
    p.fillRect(band, pal::kPaper);
    p.fillRect(QRect(band.left(), band.bottom(), band.width(), 1), pal::kPaperEdge);
    p.fillRect(QRect(band.left(), band.top(), 4, band.height()), pal::kAccent);
    DrawText(p, PixelFont(pal::kFont, 11, true), 22, 106, pal::kTagline, pal::kPaperText);
    // What it plays, then the footer.
    const QFont small = PixelFont(pal::kFont, 9, false);
    DrawEngraved(p, PixelFont(pal::kFont, 9, true, 1), 22, 134,
                 QStringLiteral("MP3  \u00b7  WAV  \u00b7  AUDIO CD  \u00b7  MOVIES  \u00b7  CDDB  "
                                "\u00b7  RECORDING"),
                 pal::kCaption);
    p.fillRect(QRect(22, 146, 398, 1), pal::kShadow);
    p.fillRect(QRect(22, 147, 398, 1), pal::kGrooveLight);
    DrawEngraved(p, small, 22, 163, QStringLiteral("\u00a9 2026 ") + pal::kMaker, pal::kCaption);
    const int hw = TextWidth(small, pal::kHomePage);
    DrawText(p, small, 442 - 22 - hw, 163, pal::kHomePage, pal::kAccentLit);
    return w;
}

// ---------------------------------------------------------------- product button

const Corners kProductCorners{Round(5), Round(5), Round(5), Round(5)};

QImage ProductButton(State state) {
    QImage image = Canvas({59, 20}, pal::kBodyBottom);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0, 0, 59, 20);
    p.fillPath(Outline(r, kProductCorners), pal::kOutline);
    QLinearGradient body(0, 1, 0, 19);
    body.setColorAt(0, state == State::kPressed ? pal::kKnobPressedTop : pal::kPillTop);
    body.setColorAt(1, state == State::kPressed ? pal::kKnobPressedBottom : pal::kPillBottom);
    p.fillPath(Outline(r, kProductCorners, 1), body);
    if (state != State::kPressed) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(QRect(5, 1, 49, 1), pal::kEdgeLight);
    }
    const QFont font = PixelFont(pal::kFont, 10, true, 1.5);
    const int x = CentredX(font, pal::kProductName, 59);
    const int baseline = state == State::kPressed ? 15 : 14;
    const QColor ink = state == State::kLit ? pal::kAccentLit : pal::kGlyph;
    DrawText(p, font, x, baseline + 1, pal::kProductName, pal::Shade(160));
    DrawText(p, font, x, baseline, pal::kProductName,
             state == State::kPressed ? pal::kGlyphPressed : ink);
    return image;
}

// ---------------------------------------------------------------- CDDB symbol

QImage CddbSymbol() {
    QImage image = Canvas({32, 20}, pal::kDisplayBackground);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = pal::kAccent;
    // A disc...
    p.setPen(QPen(ink, 1.5));
    p.setBrush(pal::kAccentDeep);
    p.drawEllipse(QPointF(10, 10), 7.5, 7.5);
    p.setPen(QPen(ink, 1));
    p.setBrush(pal::kDisplayBackground);
    p.drawEllipse(QPointF(10, 10), 2, 2);
    // ...sending and receiving.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const double r = 4 + i * 3.5;
        QColor c = ink;
        c.setAlpha(255 - i * 60);
        p.setPen(QPen(c, 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(20 - r, 10 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
    return image;
}

// ---------------------------------------------------------------- tables

struct Labelled {
    int normal, pressed, lit;
    const char* label;
};

// Text buttons whose windows name them.
const Labelled kTextButtons[] = {
    {245, 244, 246, "PLAYLIST"},
    {225, 227, 229, "CD"},
    {201, 202, 210, "WEB"},
    {274, 277, 280, "OPTIONS"},
    {198, 206, 214, "NORMAL"},
    {196, 204, 212, "INTRO"},
    {194, 208, 216, "SHUFFLE"},
    {199, 207, 215, "REPEAT"},
    {249, 255, 261, "NEW"},
    {251, 257, 263, "OPEN"},
    {254, 260, 266, "SAVE"},
    {253, 259, 265, "SAVE AS"},
    {250, 256, 262, "ADD"},
    {252, 258, 264, "REMOVE"},
    {273, 276, 279, "RECORD"},
    {275, 278, 281, "CD INFO"},
    // The recording window's Cancel, and a Close for dialogs that want one.
    {289, 290, 291, "CANCEL"},
    {292, 293, 294, "CLOSE"},
    {equaliser::kOnNormal, equaliser::kOnPressed, equaliser::kOnLit, "ON"},
    {equaliser::kPresetsNormal, equaliser::kPresetsPressed, equaliser::kPresetsLit, "PRESETS"},
    {equaliser::kEqNormal, equaliser::kEqPressed, equaliser::kEqLit, "EQ"},
};

struct TransportIds {
    int normal, pressed, lit;
    Glyph glyph;
};
const TransportIds kTransportButtons[] = {
    {140, 142, 167, Glyph::kEject}, {152, 156, 181, Glyph::kPrev}, {155, 159, 182, Glyph::kBack},
    {141, 148, 174, Glyph::kStop},  {138, 145, 179, Glyph::kPlay}, {153, 157, 176, Glyph::kFwd},
    {154, 158, 178, Glyph::kNext},
};

}  // namespace

QImage DrawLogo(int diameter, double glow) {
    // Drawn at 32 x 32 proportions, scaled as vectors.
    QImage image(diameter * Scale(), diameter * Scale(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(Scale());
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(diameter / 32.0, diameter / 32.0);
    PaintDome(p, {16, 16}, 15.5, State::kNormal);
    if (glow > 0) {
        QColor ring = pal::kAccent;
        ring.setAlphaF(0.6 * glow);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ring, 1));
        p.drawEllipse(QPointF(16, 16), 13.5, 13.5);
    }
    PaintGlyph(p, GlyphPath(Glyph::kPlay), glow > 0 ? State::kLit : State::kNormal, {0, 0});
    return image;
}

std::map<int, QImage> DrawAllBitmaps(int scale) {
    SetScale(scale);
    std::map<int, QImage> out;
    auto put = [&out](int id, QImage image) { out[id] = std::move(image); };
    auto window = [&put](int image, int mask, Window w) {
        put(image, w.image);
        put(mask, w.mask);
    };
    window(129, 130, MainWindow());
    window(232, 231, PlaylistWindow());
    window(272, 271, CdWindow());
    window(193, 192, VideoFrame());
    window(287, 288, RecordingWindow());
    window(304, 307, AboutBox());
    window(equaliser::kBackground, equaliser::kMask, EqualiserWindow());

    // Transport buttons: the named ones, then a plain pause button for the
    // identifiers of the range that no window uses.
    std::set<int> used;
    for (const auto& t : kTransportButtons) {
        put(t.normal, TransportButton(t.glyph, State::kNormal));
        put(t.pressed, TransportButton(t.glyph, State::kPressed));
        put(t.lit, TransportButton(t.glyph, State::kLit));
        used.insert({t.normal, t.pressed, t.lit});
    }
    for (int id = 138; id <= 182; ++id) {
        if (!used.count(id)) put(id, TransportButton(Glyph::kPause, State::kNormal));
    }
    put(236, CircleMask(32, 16));

    // Text buttons: the labelled ones, then blank pills for the rest.
    used.clear();
    for (const auto& b : kTextButtons) {
        put(b.normal, TextButton(b.label, State::kNormal));
        put(b.pressed, TextButton(b.label, State::kPressed));
        put(b.lit, TextButton(b.label, State::kLit));
        used.insert({b.normal, b.pressed, b.lit});
    }
    for (auto [first, last] : {std::pair{194, 229}, {244, 266}, {273, 281}, {289, 294}}) {
        for (int id = first; id <= last; ++id) {
            if (!used.count(id)) put(id, TextButton(QString(), State::kNormal));
        }
    }
    put(237, MaskFromPath({38, 10}, Outline(kPillRect, kPillCorners)));

    put(315, Chip(10, ChipGlyph::kClose, State::kNormal));
    put(316, Chip(10, ChipGlyph::kClose, State::kPressed));
    put(317, Chip(10, ChipGlyph::kClose, State::kLit));
    put(318, ChipMask(10));
    put(310, Chip(9, ChipGlyph::kMinimise, State::kNormal));
    put(311, Chip(9, ChipGlyph::kMinimise, State::kPressed));
    put(313, Chip(9, ChipGlyph::kMinimise, State::kLit));
    put(314, ChipMask(9));
    put(240, Chip(10, ChipGlyph::kClose, State::kNormal));
    put(241, Chip(10, ChipGlyph::kClose, State::kPressed));
    put(242, Chip(10, ChipGlyph::kClose, State::kLit));
    put(239, ChipMask(10));

    put(296, ProductButton(State::kNormal));
    put(297, ProductButton(State::kPressed));
    put(298, ProductButton(State::kLit));
    put(299, MaskFromPath({59, 20}, Outline(QRectF(0, 0, 59, 20), kProductCorners)));

    put(186, Thumb());
    put(184, ThumbMask());
    put(191, Channel({259, 12}));
    put(189, ChannelMask({259, 12}));
    put(190, Channel({13, 93}));
    put(188, ChannelMask({13, 93}));
    put(equaliser::kBalanceChannel, Channel(equaliser::kBalanceSize));
    put(equaliser::kBalanceChannelMask, ChannelMask(equaliser::kBalanceSize));

    put(308, CddbSymbol());
    // The program icon (window icon, and what a minimised window shows).
    put(128, DrawLogo(64, 0.6));
    SetScale(1);
    return out;
}

}  // namespace tunara::skin
