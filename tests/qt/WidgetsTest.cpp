// The skin widgets: the shaping rule, buttons, sliders, the displays.
#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>

#include "qt/QtApp.h"
#include "ui/core/PlayerController.h"
#include "ui/qt/BitmapButton.h"
#include "ui/qt/BitmapSlider.h"
#include "ui/qt/Displays.h"
#include "ui/qt/SkinIds.h"

namespace tunara::qt {
namespace {

using testing::Drain;

// The region a mask should give, one pixel at a time.
QRegion PixelRegion(const QImage& mask) {
    QRegion r;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            if ((mask.pixel(x, y) & 0xFFFFFF) == 0) r += QRect(x, y, 1, 1);
    return r;
}

TEST(MaskRegion, EqualsTheBlackRunsOfEveryRow) {
    QImage mask(23, 9, QImage::Format_Mono);
    mask.fill(1);  // white
    mask.setColor(0, qRgb(0, 0, 0));
    mask.setColor(1, qRgb(255, 255, 255));
    mask.fill(1);
    auto black = [&](int x0, int x1, int y) {
        for (int x = x0; x < x1; ++x) mask.setPixel(x, y, 0);
    };
    black(0, 23, 0);                                    // the whole row
    black(0, 1, 1), black(22, 23, 1);                   // single pixels at both edges
    black(3, 7, 2), black(9, 10, 2), black(15, 23, 2);  // the last run ends at the edge
    black(5, 6, 3);
    // row 4 all white
    black(1, 22, 5);
    for (int x = 0; x < 23; x += 2) mask.setPixel(x, 6, 0);  // alternating
    black(10, 13, 8);
    const QRegion region = MaskRegion(mask);
    EXPECT_EQ(region, PixelRegion(mask));
    EXPECT_TRUE(region.contains(QPoint(22, 2)));
    EXPECT_FALSE(region.contains(QPoint(22, 3)));
    EXPECT_FALSE(region.intersects(QRect(0, 4, 23, 1)));
}

TEST(MaskRegion, RandomMasksMatchPixelByPixel) {
    uint32_t seed = 12345;
    for (int round = 0; round < 20; ++round) {
        QImage mask(37 + round, 11, QImage::Format_RGB32);
        for (int y = 0; y < mask.height(); ++y)
            for (int x = 0; x < mask.width(); ++x) {
                seed = seed * 1103515245u + 12345u;
                mask.setPixel(x, y, (seed >> 16) & 1 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
            }
        ASSERT_EQ(MaskRegion(mask), PixelRegion(mask)) << "round " << round;
    }
}

TEST(MaskRegion, AllWhiteGivesAnEmptyOutline) {
    QImage mask(16, 16, QImage::Format_RGB32);
    mask.fill(Qt::white);
    EXPECT_TRUE(MaskRegion(mask).isEmpty());
}

TEST(SkinBitmaps, WindowMasksCoverTheirBackgrounds) {
    for (auto [bg, mask] : {std::pair{kMainBackground, kMainMask},
                            {kPlaylistBackground, kPlaylistMask},
                            {kVideoBackground, kVideoMask},
                            {kAboutBackground, kAboutMask}}) {
        SkinBitmap b(bg), m(mask);
        ASSERT_FALSE(b.IsNull()) << bg;
        ASSERT_EQ(b.Size(), m.Size()) << bg;
        const QRegion r = m.MakeRegion();
        EXPECT_TRUE(r.contains(QPoint(b.Width() / 2, b.Height() / 2))) << mask;
        EXPECT_LE(r.boundingRect().width(), b.Width());
    }
}

// ---- buttons ---------------------------------------------------------------------

TEST(BitmapButton, TakesTheNormalSizeAndShowsTheRightBitmap) {
    QWidget parent;
    BitmapButton b(kCmdPlay, &parent);
    b.move(170, 126);
    ASSERT_TRUE(b.SetBitmaps(138, 145, 179, 0, kTransportMask));
    EXPECT_EQ(b.size(), QSize(32, 32));
    EXPECT_EQ(b.pos(), QPoint(170, 126));
    EXPECT_EQ(b.ShownBitmap(), 138);
    b.SetLit(true);
    EXPECT_EQ(b.ShownBitmap(), 179);
    b.SetLit(false);
    parent.show();
    QSignalSpy clicks(&b, &BitmapButton::clicked);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_EQ(b.ShownBitmap(), 145);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_EQ(b.ShownBitmap(), 138);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks[0][0].toInt(), kCmdPlay);
    // Released outside: no click.
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(16, 16));
    QTest::mouseMove(&b, QPoint(40, 40));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(clicks.count(), 1);
    // A missing bitmap is refused.
    BitmapButton bad(1, &parent);
    EXPECT_FALSE(bad.SetBitmaps(138, 99999, 0, 0, kTransportMask));
}

TEST(BitmapButton, HoverLightsOnlyInsideTheOutline) {
    QWidget parent;
    BitmapButton b(kCmdStop, &parent);
    ASSERT_TRUE(b.SetBitmaps(141, 148, 174, 0, kTransportMask));
    parent.show();
    QEnterEvent enterCorner(QPointF(0, 0), QPointF(0, 0), QPointF(0, 0));
    QCoreApplication::sendEvent(&b, &enterCorner);
    EXPECT_FALSE(b.Hovered()) << "the corner lies outside the round outline";
    QTest::mouseMove(&b, QPoint(16, 16));
    EXPECT_TRUE(b.Hovered());
    EXPECT_EQ(b.ShownBitmap(), 174);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&b, &leave);
    EXPECT_EQ(b.ShownBitmap(), 141);
}

// ---- sliders ---------------------------------------------------------------------

struct Notices {
    std::vector<std::pair<int, int>> seen;
    explicit Notices(BitmapSlider& s) {
        QObject::connect(&s, &BitmapSlider::scrolled,
                         [this](int code, int value) { seen.emplace_back(code, value); });
    }
};

TEST(BitmapSlider, ThumbPositionFollowsTheRangeAndNeverDividesByZero) {
    QWidget parent;
    BitmapSlider s(kIdPositionSlider, Qt::Horizontal, &parent);
    ASSERT_TRUE(s.SetBitmaps(kThumb, kThumbMask, kPositionChannel, kPositionChannelMask));
    EXPECT_EQ(s.size(), QSize(259, 12));
    s.SetRange(0, 0);
    s.SetPosition(5);
    EXPECT_EQ(s.ThumbRect().left(), 0);
    s.SetRange(0, 1000);
    s.SetPosition(500);
    EXPECT_EQ(s.ThumbRect().left(), (259 - 13) * 500 / 1000);
    // The outline already holds the thumb anywhere: a moving thumb sets no
    // new mask (each one costs the whole window a new look at its children).
    const QRegion outline = s.mask();
    EXPECT_TRUE(outline.contains(s.ThumbRect()));
    s.SetPosition(1000);
    EXPECT_EQ(s.ThumbRect().left(), 259 - 13);
    EXPECT_EQ(s.mask(), outline);
    EXPECT_TRUE(outline.contains(s.ThumbRect().center()));

    BitmapSlider v(kIdVolumeSlider, Qt::Vertical, &parent);
    ASSERT_TRUE(v.SetBitmaps(kThumb, kThumbMask, kVolumeChannel, kVolumeChannelMask));
    v.SetRange(0, 100);
    v.SetPosition(0);
    EXPECT_EQ(v.ThumbRect().top(), 0);
    v.SetPosition(100);
    EXPECT_EQ(v.ThumbRect().top(), 93 - 12);
}

TEST(BitmapSlider, DragAndClickNotifyInOrderAndAfterTheEvent) {
    QWidget parent;
    BitmapSlider s(kIdPositionSlider, Qt::Horizontal, &parent);
    ASSERT_TRUE(s.SetBitmaps(kThumb, kThumbMask, kPositionChannel, kPositionChannelMask));
    s.SetRange(0, 246);  // one unit per pixel of travel
    parent.show();
    Notices n(s);

    // Grab the thumb 4 pixels into it and drag.
    QTest::mousePress(&s, Qt::LeftButton, {}, QPoint(4, 6));
    EXPECT_TRUE(s.Dragging());
    QTest::mouseMove(&s, QPoint(54, 6));
    EXPECT_EQ(s.Position(), 50);
    EXPECT_TRUE(n.seen.empty()) << "notices are posted, not sent";
    s.SetPosition(7);  // the controller's tick while dragging changes nothing
    EXPECT_EQ(s.Position(), 50);
    QTest::mouseMove(&s, QPoint(104, 6));
    QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(104, 6));
    Drain();
    const std::vector<std::pair<int, int>> drag = {
        {kThumbTrack, 50}, {kThumbTrack, 100}, {kThumbTrack, 100}, {kThumbPosition, 100}};
    EXPECT_EQ(n.seen, drag);

    // A click beside the thumb centres it under the pointer: one position notice.
    n.seen.clear();
    QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(206, 6));
    Drain();
    const std::vector<std::pair<int, int>> click = {{kThumbPosition, 200}};
    EXPECT_EQ(n.seen, click);
    EXPECT_EQ(s.Position(), 200);
}

// ---- displays --------------------------------------------------------------------

TEST(InfoDisplay, ShowsTheTextsOfKnownValues) {
    InfoDisplay d(nullptr);
    d.resize(240, 35);
    d.ShowSampleRate(44100);
    EXPECT_EQ(d.SampleRateText(), " 44.1 kHz");
    d.ShowSampleRate(22050);
    EXPECT_EQ(d.SampleRateText(), " 22.05 kHz");
    d.ShowSampleRate(48000);
    EXPECT_EQ(d.SampleRateText(), " 48 kHz");
    d.ShowBitRate(127600);
    EXPECT_EQ(d.BitRateText(), " 128 kbits/s");
    d.ShowBitRate(400);
    EXPECT_EQ(d.BitRateText(), " 0 kbits/s");
    d.ShowPosition(3725);
    EXPECT_EQ(d.TimeText(), "01:02:05");
    d.ShowDuration(7322);
    EXPECT_EQ(d.TimeText(), "01:02:05 / 02:02:02");
    d.ShowTrackNumber(3);
    d.ShowTrackCount(12);
    EXPECT_EQ(d.TrackText(), "Track 03 of 12");
    d.ShowTrackCount(0);
    EXPECT_EQ(d.TrackText(), "");
    d.ShowChannels(1);
    EXPECT_EQ(d.ChannelsText(), "Mono");
}

TEST(InfoDisplay, RedrawsOnlyOnChangeAndTimedMessagesEnd) {
    InfoDisplay d(nullptr);
    d.resize(240, 35);
    d.ShowTitle("Song");
    d.ShowPosition(5);
    const int before = d.Redraws();
    for (int i = 0; i < 40; ++i) {
        d.ShowTitle("Song");
        d.ShowPosition(5);
        d.ShowBitRate(0);
    }
    EXPECT_EQ(d.Redraws(), before);
    d.ShowMessage("Looking up the disc", 30);
    EXPECT_TRUE(d.MessageMode());
    EXPECT_EQ(d.Redraws(), before + 1);
    d.ShowMessage("Looking up the disc", 30);
    EXPECT_EQ(d.Redraws(), before + 1);
    QTRY_VERIFY_WITH_TIMEOUT(!d.MessageMode(), 5000);
    EXPECT_EQ(d.Redraws(), before + 2);
}

TEST(LevelDisplay, LightsTheSegmentsOfKnownValues) {
    LevelDisplay d(nullptr);
    d.resize(240, 21);
    d.SetColours(Qt::black, QColor(64, 0, 127), QColor(32, 64, 192), QColor(0, 127, 255));
    d.SetLevels(0.5f, 1.0f);
    EXPECT_EQ(d.LeftSegments(), 24);
    EXPECT_EQ(d.RightSegments(), 48);
    // w' = 208, pitch 4, bars 0..7 and 13..20: segment 23 (low) lit, 24 not.
    const QImage& img = d.Image();
    EXPECT_EQ(img.pixelColor(23 * 4, 3), QColor(64, 0, 127));
    EXPECT_EQ(img.pixelColor(24 * 4, 3), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(47 * 4, 15), QColor(0, 127, 255));
    EXPECT_EQ(img.pixelColor(47 * 4 + 2, 15), QColor(Qt::black)) << "the gap after a segment";
    EXPECT_EQ(img.pixelColor(0, 10), QColor(Qt::black)) << "between the bars";

    float bands[16] = {1.0f, 0.01f, 0.0f, 1.5f, std::numeric_limits<float>::quiet_NaN()};
    d.SetBands(bands);
    d.SetMode(LevelDisplay::kSpectrum);
    EXPECT_EQ(d.BandSegments(0), 7);
    EXPECT_EQ(d.BandSegments(1), 1);
    EXPECT_EQ(d.BandSegments(2), 0);
    EXPECT_EQ(d.BandSegments(3), 7);
    EXPECT_EQ(d.BandSegments(4), 0);
    const QImage& image = d.Image();
    // Band 0 spans x 0..10 (bw 13); segment 6 spans y 1..3, high colour.
    EXPECT_EQ(image.pixelColor(5, 2), QColor(0, 127, 255));
    EXPECT_EQ(image.pixelColor(5, 20), QColor(64, 0, 127));
    EXPECT_EQ(image.pixelColor(11, 20), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(13 + 5, 17), QColor(Qt::black)) << "band 1 lights one segment";
}

TEST(LevelDisplay, UnchangedValuesCostNoRedrawAndAClickSwitchesMode) {
    LevelDisplay d(nullptr);
    d.resize(240, 21);
    float zeros[16] = {};
    d.SetLevels(0, 0);
    d.SetBands(zeros);
    const int before = d.Redraws();
    for (int i = 0; i < 40; ++i) {
        d.SetLevels(0, 0);
        d.SetBands(zeros);
    }
    EXPECT_EQ(d.Redraws(), before);
    d.Hold(0);
    EXPECT_TRUE(d.Held());
    EXPECT_EQ(d.Redraws(), before + 1);
    d.show();
    QTest::mouseClick(&d, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(d.GetMode(), LevelDisplay::kSpectrum);
    QTest::mouseClick(&d, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(d.GetMode(), LevelDisplay::kLevelMeter);
}

// A minimised window's meters cost nothing; they catch up when it shows again.
TEST(LevelDisplay, DrawsNothingWhileMinimisedAndCatchesUpAfter) {
    LevelDisplay d(nullptr);
    d.resize(240, 21);
    d.show();
    d.showMinimized();
    const int before = d.Redraws();
    d.SetLevels(1.0f, 1.0f);
    EXPECT_EQ(d.Redraws(), before);
    d.showNormal();
    d.grab();
    EXPECT_EQ(d.Redraws(), before + 1);
    EXPECT_EQ(d.LeftSegments(), d.RightSegments());
    EXPECT_GT(d.LeftSegments(), 40);
}

}  // namespace
}  // namespace tunara::qt
