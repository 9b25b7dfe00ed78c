#include "Movie.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Bitmaps.h"
#include "Paint.h"
#include "Palette.h"
#include "platform/io/WavHeader.h"

namespace tunara::skin {

namespace pal = palette;

namespace {

constexpr double kPi = 3.14159265358979323846;

double Clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}
// 0 before a, 1 after b, eased in between.
double Ease(double t, double a, double b) {
    const double x = Clamp01((t - a) / (b - a));
    return x * x * (3 - 2 * x);
}

QImage Frame(int index, const QImage& logo) {
    const double t = static_cast<double>(index) / kMovieFps;
    const double duration = static_cast<double>(kMovieFrames) / kMovieFps;
    QImage frame(kMovieWidth, kMovieHeight, QImage::Format_RGB32);
    QPainter p(&frame);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    // Backdrop: graphite with a slow blue light drifting across.
    QLinearGradient back(0, 0, 0, kMovieHeight);
    back.setColorAt(0, pal::kBodyTop);
    back.setColorAt(1, pal::kBodyBottom);
    p.fillRect(frame.rect(), back);
    QRadialGradient light(60 + 200 * t / duration, 40, 180);
    QColor glow = pal::kAccent;
    glow.setAlpha(34);
    light.setColorAt(0, glow);
    light.setColorAt(1, pal::Shade(0));
    p.fillRect(frame.rect(), light);

    // Spectrum bars along the bottom, breathing with the chord.
    for (int i = 0; i < 32; ++i) {
        const double v =
            0.25 + 0.75 * std::fabs(std::sin(t * 2.1 + i * 0.55) * std::cos(t * 1.3 + i * 0.21));
        const double h = 18 * v * Ease(t, 0.3, 1.5) * (1 - Ease(t, 4.3, 5.0));
        QColor c = pal::kAccent;
        c.setAlpha(70);
        p.fillRect(QRectF(4 + i * 10, kMovieHeight - 4 - h, 7, h), c);
    }

    // Logo: grows in at the centre, then moves left to make room for the name.
    const double appear = Ease(t, 0.1, 0.9);
    const double slide = Ease(t, 1.1, 1.8);
    const double size = 64 * (0.6 + 0.4 * appear);
    const QPointF centre(160 + (52 - 160) * slide, 74);
    p.setOpacity(appear);
    p.drawImage(QRectF(centre.x() - size / 2, centre.y() - size / 2, size, size), logo);
    p.setOpacity(1);

    // The name, letter by letter.
    const QFont mark = PixelFont(pal::kFont, 38, true);
    const int spacing = 5;
    p.setFont(mark);
    const QFontMetrics fm(mark);
    double x = 98;
    for (int i = 0; i < pal::kProductName.size(); ++i) {
        const QString letter = pal::kProductName.mid(i, 1);
        const double a = Ease(t, 1.75 + i * 0.1, 2.15 + i * 0.1);
        p.setOpacity(a);
        p.setPen(pal::Shade(160));
        p.drawText(QPointF(x + 1, 90 + 10 * (1 - a) + 2), letter);
        p.setPen(pal::kWordmark);
        p.drawText(QPointF(x, 90 + 10 * (1 - a)), letter);
        x += fm.horizontalAdvance(letter) + spacing;
    }
    p.setOpacity(1);
    // Accent rule sweeping under the name.
    const double sweep = Ease(t, 2.5, 3.1);
    p.fillRect(QRectF(99, 99, (x - spacing - 99) * sweep, 2), pal::kAccent);

    // Tagline and home page.
    const QFont tag = PixelFont(pal::kFont, 13, true);
    const QFont home = PixelFont(pal::kFont, 12, false);
    p.setOpacity(Ease(t, 2.9, 3.4));
    p.setFont(tag);
    p.setPen(pal::kSubtitle);
    p.drawText(QPointF(99 + 8 * (1 - Ease(t, 2.9, 3.4)), 124), pal::kTagline);
    p.setOpacity(Ease(t, 3.2, 3.8));
    p.setFont(home);
    p.setPen(pal::kAccentLit);
    p.drawText(QRectF(0, 134, kMovieWidth, 16), Qt::AlignHCenter | Qt::AlignVCenter,
               pal::kHomePage);
    p.setOpacity(1);

    // Fade from and to black.
    const double black = std::max(1 - Ease(t, 0, 0.4), Ease(t, duration - 0.5, duration));
    if (black > 0) p.fillRect(frame.rect(), pal::Shade(static_cast<int>(255 * black)));
    p.end();
    return frame;
}

// A soft A major chord with a chime when the logo appears, faded in and out.
std::vector<int16_t> Sound() {
    const int frames = kMovieFrames * kMovieSampleRate / kMovieFps;
    const double duration = static_cast<double>(frames) / kMovieSampleRate;
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * 2);
    const double notes[] = {110.0, 220.0, 277.18, 329.63, 440.0};
    const double weights[] = {0.5, 0.8, 0.6, 0.6, 0.35};
    for (int n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kMovieSampleRate;
        const double envelope = Ease(t, 0.0, 1.2) * (1 - Ease(t, duration - 1.6, duration));
        double left = 0, right = 0;
        for (int k = 0; k < 5; ++k) {
            // Slightly detuned pairs, one per side, give the pad its width.
            const double tremolo = 0.85 + 0.15 * std::sin(2 * kPi * 0.7 * t + k);
            left += weights[k] * tremolo * std::sin(2 * kPi * notes[k] * 0.999 * t);
            right += weights[k] * tremolo * std::sin(2 * kPi * notes[k] * 1.001 * t + 0.3);
        }
        double chime = 0;
        if (t > 0.15) {
            const double c = t - 0.15;
            chime = 0.5 * std::exp(-c * 3.0) *
                    (std::sin(2 * kPi * 880 * c) + 0.3 * std::sin(2 * kPi * 1320 * c));
        }
        const double gain = 0.09;
        pcm[2 * n] = static_cast<int16_t>(std::lround(32767 * gain * (envelope * left + chime)));
        pcm[2 * n + 1] =
            static_cast<int16_t>(std::lround(32767 * gain * (envelope * right + chime)));
    }
    return pcm;
}

bool WriteWav(const QString& path, const std::vector<int16_t>& pcm) {
    const uint64_t dataBytes = pcm.size() * 2;
    uint8_t header[io::kWavHeaderBytes];
    io::MakeWavHeader({2, kMovieSampleRate, 16}, dataBytes, header);
    QByteArray out(reinterpret_cast<const char*>(header), sizeof header);
    for (int16_t s : pcm) {
        out.append(static_cast<char>(s & 0xff));
        out.append(static_cast<char>((uint16_t(s) >> 8) & 0xff));
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(out) == out.size();
}

}  // namespace

bool WriteMovieSources(const QString& dir) {
    const QImage logo = DrawLogo(128, 1.0);
    for (int i = 0; i < kMovieFrames; ++i) {
        const QString name = QString("%1/frame_%2.png").arg(dir).arg(i, 3, 10, QChar('0'));
        if (!Frame(i, logo).save(name)) return false;
    }
    return WriteWav(dir + "/sound.wav", Sound());
}

}  // namespace tunara::skin
