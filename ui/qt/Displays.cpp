#include "ui/qt/Displays.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/core/DisplayText.h"

namespace tunara::qt {

QFont SkinFont(int points, bool bold) {
    // "Arial" is Liberation Sans here. Sizes in pixels at 96 dots per inch, so
    // the displays look the same whatever the screen reports.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    font.setBold(bold);
    return font;
}

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Nobody sees a display while its window is minimised or hidden: it draws
// when it shows again.
bool Unseen(const QWidget* w) {
    const QWidget* top = w->window();
    return top->isMinimized() ||
           (top->testAttribute(Qt::WA_WState_ExplicitShowHide) && top->isHidden());
}

// The off-screen picture at the screen's pixel ratio, so text and segments
// stay as sharp as the rest of the window on dense screens.
QImage ScreenImage(const QImage& image, const QWidget* w) {
    const qreal ratio = w->devicePixelRatioF();
    const QSize pixels = (QSizeF(w->size()) * ratio).toSize();
    if (image.size() == pixels && image.devicePixelRatio() == ratio) return image;
    QImage fresh(pixels, QImage::Format_RGB32);
    fresh.setDevicePixelRatio(ratio);
    return fresh;
}
}  // namespace

// ---- information display -------------------------------------------------------

InfoDisplay::InfoDisplay(QWidget* parent)
    : QWidget(parent), smallFont_(SkinFont(7)), largeFont_(SkinFont(11)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    messageTimer_.setSingleShot(true);
    connect(&messageTimer_, &QTimer::timeout, this, [this] {
        messageMode_ = false;
        Redraw();
    });
}

namespace {
constexpr int kRestTicks = 60;  // 1.5 s at 25 ms
}  // namespace

void InfoDisplay::ShowTitle(const std::string& t) {
    const QString title = Q(t);
    if (title == title_) return;
    title_ = title;
    MeasureTitle();
    ResetScroll();
    Redraw();
}

void InfoDisplay::MeasureTitle() {
    overflow_ = std::max(0, QFontMetrics(largeFont_).horizontalAdvance(title_) - width());
}

void InfoDisplay::ResetScroll() {
    rest_ = kRestTicks;
    scrollDir_ = 1;
    phase_ = 0;
    if (scroll_ == 0) return;
    scroll_ = 0;
    Redraw();
}

void InfoDisplay::StepScroll() {
    if (overflow_ <= 0 || messageMode_) return;
    if (rest_ > 0) {
        --rest_;
        return;
    }
    if (++phase_ % 2) return;
    scroll_ = std::clamp(scroll_ + scrollDir_, 0, overflow_);
    if (scroll_ == 0 || scroll_ == overflow_) {
        scrollDir_ = -scrollDir_;
        rest_ = kRestTicks;
    }
    Redraw();
}

void InfoDisplay::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && e->position().y() < height() / 4) {
        emit timeClicked();
        return;
    }
    QWidget::mousePressEvent(e);
}
void InfoDisplay::ShowFormatName(const std::string& t) {
    Set(formatName_, Q(t));
}
void InfoDisplay::ShowTrackNumber(int v) {
    Set(trackNumber_, v);
}
void InfoDisplay::ShowTrackCount(int v) {
    Set(trackCount_, v);
}
void InfoDisplay::ShowBitRate(int v) {
    Set(bitRate_, v);
}
void InfoDisplay::ShowChannels(int v) {
    Set(channels_, v);
}
void InfoDisplay::ShowSampleRate(int v) {
    Set(sampleRate_, v);
}
void InfoDisplay::ShowPosition(int v) {
    Set(position_, v);
}
void InfoDisplay::ShowDuration(int v) {
    Set(duration_, v);
}

void InfoDisplay::ShowMessage(const std::string& text, int ms) {
    messageTimer_.stop();
    if (ms != 0) messageTimer_.start(ms);
    const QString t = Q(text);
    const bool changed = !messageMode_ || t != message_;
    messageMode_ = true;
    message_ = t;
    if (changed) Redraw();
}

void InfoDisplay::SetColours(QColor background, QColor small, QColor large) {
    background_ = background;
    small_ = small;
    large_ = large;
    Redraw();
}

QString InfoDisplay::TimeText() const {
    if (remaining_ && duration_ > 0)
        return QLatin1Char('-') +
               Q(display::TimeText(std::max(0, duration_ - position_), duration_));
    return Q(display::TimeText(position_, duration_));
}
QString InfoDisplay::TrackText() const {
    return Q(display::TrackText(trackNumber_, trackCount_));
}
QString InfoDisplay::BitRateText() const {
    return Q(display::BitRateText(bitRate_));
}
QString InfoDisplay::SampleRateText() const {
    return Q(display::SampleRateText(sampleRate_));
}
QString InfoDisplay::ChannelsText() const {
    return Q(display::ChannelsText(channels_));
}

void InfoDisplay::resizeEvent(QResizeEvent*) {
    MeasureTitle();
    Redraw();
}

void InfoDisplay::Redraw() {
    const int w = width(), h = height();
    if (w <= 0 || h <= 0) return;
    stale_ = Unseen(this);
    if (stale_) return;
    image_ = ScreenImage(image_, this);
    ++redraws_;
    image_.fill(background_);
    QPainter p(&image_);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int one = Qt::TextSingleLine | Qt::AlignVCenter | Qt::TextDontClip;
    p.setFont(smallFont_);
    p.setPen(small_);
    p.drawText(QRect(0, 0, w / 2, h / 4), one | Qt::AlignLeft, TimeText());
    p.drawText(QRect(w / 2, 0, w - w / 2, h / 4), one | Qt::AlignRight, TrackText());
    const QRect bottom(0, 3 * h / 4, w, h - 3 * h / 4);
    if (messageMode_) {
        p.drawText(bottom, one | Qt::AlignLeft, message_);
    } else {
        auto cell = [&](int i) {
            return QRect(i * w / 4, bottom.y(), (i + 1) * w / 4 - i * w / 4, bottom.height());
        };
        p.drawText(cell(0), one | Qt::AlignLeft, formatName_);
        p.drawText(cell(1), one | Qt::AlignLeft, BitRateText());
        p.drawText(cell(2), one | Qt::AlignRight, SampleRateText());
        p.drawText(cell(3), one | Qt::AlignRight, ChannelsText());
    }
    p.setFont(largeFont_);
    p.setPen(large_);
    const QRect middle(0, h / 4, w, 3 * h / 4 - h / 4);
    // A title that does not fit scrolls rather than losing its end.
    p.setClipRect(middle);
    p.drawText(middle.translated(-scroll_, 0).adjusted(0, 0, overflow_, 0), one | Qt::AlignLeft,
               title_);
    p.setClipping(false);
    p.end();
    update();
}

void InfoDisplay::paintEvent(QPaintEvent*) {
    if (image_.isNull() || stale_) Redraw();
    QPainter(this).drawImage(0, 0, image_);
}

// ---- level display ---------------------------------------------------------------

LevelDisplay::LevelDisplay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    holdBitmap_.Load(kHoldBitmap);
    holdTimer_.setSingleShot(true);
    connect(&holdTimer_, &QTimer::timeout, this, [this] {
        hold_ = false;
        Redraw();
    });
}

void LevelDisplay::SetLevels(float left, float right) {
    // Only a change of the lit segments changes the picture.
    const bool changed = display::LevelSegmentsLit(left) != display::LevelSegmentsLit(left_) ||
                         display::LevelSegmentsLit(right) != display::LevelSegmentsLit(right_);
    left_ = left;
    right_ = right;
    if (changed && mode_ == kLevelMeter) Redraw();
}

void LevelDisplay::SetBands(const float* bands) {
    bool changed = false;
    for (int i = 0; i < display::kBandCount; ++i) {
        const float v = display::ClampBand(bands[i]);
        changed |= display::BandSegmentsLit(v) != display::BandSegmentsLit(bands_[i]);
        bands_[i] = v;
    }
    if (changed && mode_ == kSpectrum) Redraw();
}

void LevelDisplay::Hold(int ms) {
    holdTimer_.stop();
    if (ms != 0) holdTimer_.start(ms);
    hold_ = true;
    Redraw();
}

void LevelDisplay::SetMode(Mode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    Redraw();
}

void LevelDisplay::SetColours(QColor background, QColor low, QColor middle, QColor high) {
    background_ = background;
    low_ = low;
    middle_ = middle;
    high_ = high;
    Redraw();
}

int LevelDisplay::LeftSegments() const {
    return display::LevelSegmentsLit(left_);
}
int LevelDisplay::RightSegments() const {
    return display::LevelSegmentsLit(right_);
}
int LevelDisplay::BandSegments(int band) const {
    return display::BandSegmentsLit(bands_[band]);
}

QColor LevelDisplay::ZoneColour(int zone) const {
    return zone == 0 ? low_ : zone == 1 ? middle_ : high_;
}

void LevelDisplay::resizeEvent(QResizeEvent*) {
    Redraw();
}

void LevelDisplay::Redraw() {
    const int w = width(), h = height();
    if (w <= 0 || h <= 0) return;
    stale_ = Unseen(this);
    if (stale_) return;
    image_ = ScreenImage(image_, this);
    ++redraws_;
    image_.fill(background_);
    QPainter p(&image_);
    if (hold_) holdBitmap_.Draw(p, QRect(w - 32, 0, 32, 20));
    const int bars = w - 32;  // the hold symbol's column, shown or not
    if (mode_ == kSpectrum) {
        const int bw = bars / display::kBandCount;
        const int s = h / display::kBandSegments;
        for (int i = 0; i < display::kBandCount; ++i) {
            const int x0 = i * bw, x1 = static_cast<int>((i + 0.8) * bw);
            const int n = BandSegments(i);
            for (int j = 0; j < n; ++j) {
                const int y1 = h - j * s, y0 = static_cast<int>(h - (j + 0.6) * s);
                p.fillRect(x0, y0, x1 - x0, y1 - y0, ZoneColour(display::BandSegmentZone(j)));
            }
        }
    } else {
        const int sw = bars / display::kLevelSegments;
        const int hh = h / 2;
        const int barHeight = static_cast<int>(0.8 * hh);
        const int bottomTop = static_cast<int>(h - 0.8 * hh);
        auto bar = [&](int n, int y0, int y1) {
            for (int j = 0; j < n; ++j) {
                const int x0 = j * sw, x1 = static_cast<int>((j + 0.6) * sw);
                p.fillRect(x0, y0, x1 - x0, y1 - y0, ZoneColour(display::LevelSegmentZone(j)));
            }
        };
        bar(LeftSegments(), 0, barHeight);
        bar(RightSegments(), bottomTop, h);
    }
    p.end();
    update();
}

void LevelDisplay::paintEvent(QPaintEvent*) {
    if (image_.isNull() || stale_) Redraw();
    QPainter(this).drawImage(0, 0, image_);
}

void LevelDisplay::mousePressEvent(QMouseEvent* e) {
    e->accept();  // the release that toggles comes here, not to a window drag
}

void LevelDisplay::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) SetMode(mode_ == kLevelMeter ? kSpectrum : kLevelMeter);
}

}  // namespace tunara::qt
