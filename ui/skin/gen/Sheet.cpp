#include "Sheet.h"

#include <QFileInfo>
#include <QPainter>
#include <map>

#include "Bitmaps.h"
#include "Paint.h"
#include "Palette.h"
#include "ui/skin/Skin.h"

namespace tunara::skin {

namespace {

using Bitmaps = std::map<int, QImage>;

// Draws bitmap `id` at `pos` through mask `mask` (0: no mask).
void Blit(QImage& dst, const Bitmaps& b, int id, int mask, QPoint pos) {
    const QImage src = b.at(id).convertToFormat(QImage::Format_RGB32);
    const QImage m = mask ? b.at(mask) : QImage();
    for (int y = 0; y < src.height(); ++y) {
        for (int x = 0; x < src.width(); ++x) {
            if (mask && qRed(m.pixel(x, y)) != 0) continue;
            const QPoint d = pos + QPoint(x, y);
            if (dst.rect().contains(d)) dst.setPixel(d, src.pixel(x, y));
        }
    }
}

void DrawDisplays(QImage& dst, QPoint origin) {
    QPainter p(&dst);
    p.translate(origin);
    p.fillRect(QRect(30, 30, 240, 35), QColor(0, 0, 0));
    p.fillRect(QRect(30, 70, 240, 21), QColor(0, 0, 0));
    const QFont small = PixelFont(palette::kFont, 9, true);
    const QFont large = PixelFont(palette::kFont, 15, true);
    DrawText(p, small, 30, 38, "00:01:07 / 00:03:52", palette::kSmallText);
    DrawText(p, small, 214, 38, "Track 03 of 12", palette::kSmallText);
    DrawText(p, large, 30, 53, "Harbour Lights", palette::kLargeText);
    DrawText(p, small, 30, 63, "MPEG 1 Layer 3", palette::kSmallText);
    DrawText(p, small, 90, 63, " 128 kbits/s", palette::kSmallText);
    DrawText(p, small, 170, 63, " 44.1 kHz", palette::kSmallText);
    DrawText(p, small, 238, 63, "Stereo", palette::kSmallText);
    // Level meter: 48 segments per channel over 208 pixels.
    const int w = 240 - 32, h = 21, sw = w / 48, hh = h / 2;
    for (int ch = 0; ch < 2; ++ch) {
        const int lit = ch == 0 ? 38 : 33;
        for (int j = 0; j < 48; ++j) {
            QColor c = j < 24   ? palette::kLevelLow
                       : j < 36 ? palette::kLevelMid
                                : palette::kLevelHigh;
            if (j >= lit) c = Mix(QColor(0, 0, 0), c, 0.15);
            const int y0 = ch == 0 ? 0 : int(h - 0.8 * hh);
            const int y1 = ch == 0 ? int(0.8 * hh) : h;
            p.fillRect(QRect(30 + j * sw, 70 + y0, int((j + 0.6) * sw) - j * sw, y1 - y0), c);
        }
    }
    p.end();
}

}  // namespace

bool WriteContactSheet(const QString& file) {
    const Bitmaps b = DrawAllBitmaps();
    QImage sheet(1240, 1500, QImage::Format_RGB32);
    sheet.fill(QColor(0xdc, 0xdf, 0xe3));

    // The main window with every control, the playlist docked below it.
    const QPoint main(20, 20);
    Blit(sheet, b, 129, 130, main);
    DrawDisplays(sheet, main);
    Blit(sheet, b, 308, 0, main + QPoint(30 + 240 - 32, 70));
    Blit(sheet, b, 315, 318, main + QPoint(358, 7));
    Blit(sheet, b, 310, 314, main + QPoint(347, 7));
    Blit(sheet, b, 246, 237, main + QPoint(315, 24));
    Blit(sheet, b, 225, 237, main + QPoint(315, 39));
    Blit(sheet, b, 201, 237, main + QPoint(315, 54));
    Blit(sheet, b, 274, 237, main + QPoint(315, 69));
    Blit(sheet, b, 198, 237, main + QPoint(71, 97));
    Blit(sheet, b, 212, 237, main + QPoint(110, 97));
    Blit(sheet, b, 194, 237, main + QPoint(149, 97));
    Blit(sheet, b, 207, 237, main + QPoint(188, 97));
    const int transport[][3] = {{140, 16, 127},  {152, 55, 126},  {155, 93, 127}, {141, 131, 126},
                                {179, 170, 126}, {153, 209, 126}, {154, 247, 126}};
    for (const auto& t : transport) Blit(sheet, b, t[0], 236, main + QPoint(t[1], t[2]));
    Blit(sheet, b, 296, 299, main + QPoint(305, 139));
    Blit(sheet, b, 191, 189, main + QPoint(22, 112));
    Blit(sheet, b, 186, 184, main + QPoint(22 + 70, 112));
    Blit(sheet, b, 190, 188, main + QPoint(291, 15));
    Blit(sheet, b, 186, 184, main + QPoint(291, 15 + 25));

    const QPoint list = main + QPoint(0, 169);
    Blit(sheet, b, 232, 231, list);
    Blit(sheet, b, 240, 239, list + QPoint(358, 7));
    const int listButtons[][2] = {{249, 30}, {251, 46},  {254, 62}, {253, 78},
                                  {250, 94}, {252, 110}, {274, 136}};
    for (const auto& lb : listButtons) Blit(sheet, b, lb[0], 237, list + QPoint(320, lb[1]));

    const QPoint cd(420, 20);
    Blit(sheet, b, 272, 271, cd);
    Blit(sheet, b, 240, 239, cd + QPoint(358, 7));
    Blit(sheet, b, 273, 237, cd + QPoint(319, 68));
    Blit(sheet, b, 275, 237, cd + QPoint(319, 86));
    Blit(sheet, b, 274, 237, cd + QPoint(319, 116));

    const QPoint rec(420, 260);
    Blit(sheet, b, 287, 288, rec);
    Blit(sheet, b, 289, 237, rec + recording::kCancel.topLeft());
    {
        QPainter p(&sheet);
        p.translate(rec);
        const QFont small = PixelFont(palette::kFont, 9, true);
        DrawText(p, small, recording::kStatusText.left(), recording::kStatusText.bottom(),
                 "Recording Track 2", palette::kSmallText);
        DrawText(p, small, recording::kCounterText.left() + 30, recording::kCounterText.bottom(),
                 "2 of 12", palette::kSmallText);
        p.fillRect(recording::kTrackBar.adjusted(1, 2, -140, -2), palette::kAccent);
        p.fillRect(recording::kOverallBar.adjusted(1, 2, -260, -2), palette::kAccent);
    }

    Blit(sheet, b, 304, 307, QPoint(20, 420));
    Blit(sheet, b, 193, 192, QPoint(820, 20));

    // Every bitmap at 1x, then the small ones at 2x.
    int x = 20, y = 620, rowHeight = 0;
    QPainter p(&sheet);
    const QFont tag = PixelFont(palette::kFont, 9, false);
    auto place = [&](int id, int scale) {
        const QImage img = b.at(id);
        const QSize s = img.size() * scale;
        if (x + s.width() + 8 > sheet.width()) {
            x = 20;
            y += rowHeight + 16;
            rowHeight = 0;
        }
        p.drawImage(QRect(QPoint(x, y), s), img);
        DrawText(p, tag, x, y + s.height() + 10, QString::number(id), QColor(0x40, 0x40, 0x40));
        x += std::max(s.width(), 22) + 8;
        rowHeight = std::max(rowHeight, s.height());
    };
    for (const auto& [id, img] : b) {
        if (img.width() <= 59 && img.height() <= 32) place(id, 1);
    }
    x = 20;
    y += rowHeight + 24;
    rowHeight = 0;
    for (const auto& [id, img] : b) {
        if (img.width() <= 59 && img.height() <= 32) place(id, 2);
    }
    for (const auto& [id, img] : b) {
        if (img.width() > 59 && img.width() < 300) place(id, 1);
    }
    p.end();
    if (!sheet.save(file)) return false;

    // The assembled windows at 2x, nearest neighbour.
    const QImage top = sheet.copy(0, 0, 820, 620);
    const QFileInfo info(file);
    return top.scaled(top.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(info.path() + "/" + info.completeBaseName() + "-2x." + info.suffix());
}

}  // namespace tunara::skin
