// The art fits the windows built from it: controls sit inside the outlines,
// labels and pictograms are centred, lit states carry the accent, and the
// about box's version line lands on its light band.
#include <gtest/gtest.h>

#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "ui/skin/Skin.h"

namespace {

QImage Load(int id) {
    tunara::skin::InitResources();
    return QImage(tunara::skin::BitmapPath(id)).convertToFormat(QImage::Format_RGB32);
}

bool Inside(const QImage& mask, int x, int y) {
    return (mask.pixel(x, y) & 0xffffff) == 0;
}

int Luma(QRgb p) {
    return (qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114) / 1000;
}

bool Bluish(QRgb p) {
    return qBlue(p) > 160 && qBlue(p) > qRed(p) + 80;
}

// Bounding box of the pixels of `image` inside `area` for which `ink` holds.
template <typename Ink>
QRect InkBox(const QImage& image, const QRect& area, Ink ink) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (ink(image.pixel(x, y))) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

struct Control {
    int bitmap;
    int x, y;
};

// Every control of a window lies wholly inside the window's outline.
void ExpectControlsInside(int maskId, const std::vector<Control>& controls) {
    const QImage mask = Load(maskId);
    for (const Control& c : controls) {
        const QImage art = Load(c.bitmap);
        const QRect r(c.x, c.y, art.width(), art.height());
        int outside = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                if (!mask.rect().contains(x, y) || !Inside(mask, x, y)) ++outside;
            }
        }
        EXPECT_EQ(outside, 0) << "bitmap " << c.bitmap << " at " << c.x << "," << c.y
                              << " in window mask " << maskId;
    }
}

}  // namespace

TEST(SkinArt, MainWindowControlsLieInsideItsOutline) {
    ExpectControlsInside(
        130, {{315, 358, 7},   {310, 347, 7},   {245, 315, 24},  {225, 315, 39},  {201, 315, 54},
              {274, 315, 69},  {198, 71, 97},   {196, 110, 97},  {194, 149, 97},  {199, 188, 97},
              {140, 16, 127},  {152, 55, 126},  {155, 93, 127},  {141, 131, 126}, {138, 170, 126},
              {153, 209, 126}, {154, 247, 126}, {296, 305, 139}, {191, 22, 112},  {190, 291, 15},
              {338, 315, 84},  {341, 312, 112}});
}

TEST(SkinArt, PanelControlsLieInsideTheirOutlines) {
    ExpectControlsInside(231, {{240, 358, 7},
                               {249, 320, 30},
                               {251, 320, 46},
                               {254, 320, 62},
                               {253, 320, 78},
                               {250, 320, 94},
                               {252, 320, 110},
                               {274, 320, 136}});
    ExpectControlsInside(271, {{240, 358, 7}, {273, 319, 68}, {275, 319, 86}, {274, 319, 116}});
    namespace eq = tunara::skin::equaliser;
    std::vector<Control> equaliser = {{240, 358, 7},
                                      {eq::kOnNormal, eq::kOn.x(), eq::kOn.y()},
                                      {eq::kPresetsNormal, eq::kPresets.x(), eq::kPresets.y()},
                                      {190, eq::kPreampX, eq::kSliderTop}};
    for (int b = 0; b < eq::kBands; ++b) equaliser.push_back({190, eq::BandX(b), eq::kSliderTop});
    ExpectControlsInside(eq::kMask, equaliser);
    const QRect cancel = tunara::skin::recording::kCancel;
    ExpectControlsInside(288, {{tunara::skin::kCancelNormal, cancel.x(), cancel.y()}});
}

// The displays and list views are drawn on dark panes, never on the body's
// edges or captions.
TEST(SkinArt, DisplaysAndListsSitOnDarkPanes) {
    struct Pane {
        int background;
        QRect rect;
    };
    const Pane panes[] = {{129, QRect(30, 30, 240, 35)},
                          {129, QRect(30, 70, 240, 21)},
                          {232, QRect(QPoint(34, 36), QPoint(284, 185))},
                          {272, QRect(QPoint(34, 64), QPoint(284, 185))},
                          {272, QRect(40, 36, 245, 24)},
                          {330, tunara::skin::equaliser::kResponse}};
    for (const Pane& pane : panes) {
        const QImage art = Load(pane.background);
        const QRect bright = InkBox(art, pane.rect, [](QRgb p) { return Luma(p) > 24; });
        EXPECT_TRUE(bright.isNull()) << "bitmap " << pane.background << " has light pixels at "
                                     << bright.x() << "," << bright.y();
    }
}

// The version line ("Version " in black on white, right edge 8 pixels from
// the box's right edge, top at y 95) lands on the box's light band.
TEST(SkinArt, AboutBoxCarriesALightBandForTheVersion) {
    const QImage about = Load(304);
    const QRect line(about.width() - 8 - 120, 95, 120, 14);
    const QRect dark = InkBox(about, line, [](QRgb p) { return Luma(p) < 230; });
    EXPECT_TRUE(dark.isNull()) << "dark pixels at " << dark.x() << "," << dark.y();
}

// Labels sit centred in their pills (the ink's centre within a pixel of the
// pill's), keep off the ends and are tall enough to read.
TEST(SkinArt, TextButtonLabelsAreCentred) {
    for (int id : {245, 225, 201, 274, 198, 196, 194, 199, 249, 251,
                   254, 253, 250, 252, 273, 275, 289, 332, 335, 338}) {
        const QImage pill = Load(id);
        double sum = 0, moment = 0;
        for (int y = 1; y < 9; ++y) {
            for (int x = 2; x < 36; ++x) {
                const int w = std::max(0, Luma(pill.pixel(x, y)) - 70);
                sum += w;
                moment += w * (x + 0.5);
            }
        }
        ASSERT_GT(sum, 0) << "bitmap " << id << " has no label";
        EXPECT_NEAR(moment / sum, pill.width() / 2.0, 1.0) << "bitmap " << id;
        const QRect label = InkBox(pill, QRect(2, 1, 34, 8), [](QRgb p) { return Luma(p) > 120; });
        EXPECT_GE(std::min(label.left(), pill.width() - 1 - label.right()), 2) << "bitmap " << id;
        EXPECT_GE(label.height(), 5) << "bitmap " << id << ": label too small to read";
    }
}

// Pictograms sit in the middle of their round buttons.
TEST(SkinArt, TransportPictogramsAreCentred) {
    for (int id : {140, 152, 155, 141, 138, 153, 154}) {
        const QImage art = Load(id);
        const QRect g = InkBox(art, QRect(6, 6, 20, 20), [](QRgb p) { return Luma(p) > 150; });
        ASSERT_FALSE(g.isNull()) << id;
        EXPECT_NEAR((g.left() + g.right() + 1) / 2.0, 16, 1.5) << id;
        EXPECT_NEAR((g.top() + g.bottom() + 1) / 2.0, 16, 1.0) << id;
    }
}

// A pressed button's pictogram is one pixel lower (those with a straight
// lower edge show it exactly).
TEST(SkinArt, PressedPictogramsMoveDownOnePixel) {
    const int buttons[][2] = {{140, 142}, {141, 148}, {152, 156}, {154, 158}};
    for (const auto& b : buttons) {
        auto glyph = [](QRgb p) { return Luma(p) > 120; };
        const QRect n = InkBox(Load(b[0]), QRect(6, 6, 20, 20), glyph);
        const QRect p = InkBox(Load(b[1]), QRect(6, 6, 20, 20), glyph);
        ASSERT_FALSE(n.isNull() || p.isNull()) << b[0];
        EXPECT_EQ(p.bottom(), n.bottom() + 1) << b[1];
        EXPECT_EQ(p.left(), n.left()) << b[1];
    }
}

// Lit bitmaps show the accent; normal and pressed ones do not.
TEST(SkinArt, OnlyLitStatesCarryTheAccent) {
    const int states[][3] = {{138, 145, 179}, {153, 157, 176}, {196, 204, 212}, {245, 244, 246},
                             {315, 316, 317}, {310, 311, 313}, {240, 241, 242}, {296, 297, 298}};
    for (const auto& s : states) {
        for (int i = 0; i < 3; ++i) {
            const QImage art = Load(s[i]);
            const bool accent = !InkBox(art, art.rect(), Bluish).isNull();
            EXPECT_EQ(accent, i == 2) << "bitmap " << s[i];
        }
    }
}

namespace {

// Contrast ratio of two colours as the web's accessibility guidelines define it.
double Contrast(QRgb a, QRgb b) {
    auto luminance = [](QRgb p) {
        auto lin = [](int c) {
            const double v = c / 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(qRed(p)) + 0.7152 * lin(qGreen(p)) + 0.0722 * lin(qBlue(p));
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

// Small texts read at a glance: the brightest ink of each label against the
// commonest colour around it (the body it is engraved in) reaches 4.5:1.
TEST(SkinArt, SmallLabelsStandOutFromWhatTheySitOn) {
    struct Label {
        int bitmap;
        QRect area;
    };
    const Label labels[] = {
        {129, QRect(12, 4, 70, 12)},
        {232, QRect(12, 4, 70, 12)},
        {272, QRect(12, 4, 30, 12)},
        {287, QRect(12, 4, 90, 12)},
        {129, QRect(29, 97, 36, 10)},
        {129, QRect(286, 110, 24, 10)},
        {296, QRect(1, 1, 57, 18)},
        {129, QRect(312, 100, 44, 10)},
        // The equaliser's caption, dB scale and band frequencies.
        {330, QRect(12, 4, 80, 12)},
        {330, QRect(98, 26, 18, 12)},
        {330, QRect(98, 107, 18, 12)},
        {330, QRect(118, 121, 240, 12)},
    };
    for (const Label& l : labels) {
        const QImage art = Load(l.bitmap);
        std::map<QRgb, int> counts;
        QRgb ink = 0;
        for (int y = l.area.top(); y <= l.area.bottom(); ++y) {
            for (int x = l.area.left(); x <= l.area.right(); ++x) {
                const QRgb p = art.pixel(x, y) & 0xffffff;
                ++counts[p];
                if (Luma(p) > Luma(ink)) ink = p;
            }
        }
        const QRgb ground = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first;
        EXPECT_GE(Contrast(ink, ground), 4.5)
            << "bitmap " << l.bitmap << " at " << l.area.x() << "," << l.area.y();
    }
}

// Screens with twice the pixels get the same art drawn at twice the size,
// not the 1x art blown up: it has detail between the 1x pixels.
TEST(SkinArt, DenseScreensGetArtDrawnAtTwiceTheSize) {
    for (int id : {129, 232, 245, 138, 186}) {
        const QImage one = Load(id);
        const QImage two =
            QImage(tunara::skin::BitmapPath2x(id)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(two.size(), one.size() * 2) << "bitmap " << id;
        int finer = 0;
        for (int y = 0; y < two.height(); y += 2) {
            for (int x = 0; x < two.width(); x += 2) {
                const QRgb p = two.pixel(x, y);
                if (p != two.pixel(x + 1, y) || p != two.pixel(x, y + 1)) ++finer;
            }
        }
        EXPECT_GT(finer, 20) << "bitmap " << id << " looks pixel-doubled";
    }
    EXPECT_TRUE(QImage(tunara::skin::BitmapPath2x(130)).isNull()) << "masks stay at 1x";
}
