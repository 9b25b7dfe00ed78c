#pragma once
// The main window's two displays. Both draw into an off-screen image that is
// copied to the window in one piece, and every setter redraws only when what
// is shown changes, so a 25 ms tick with unchanged values costs no drawing.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <array>
#include <string>

#include "ui/qt/SkinBitmap.h"

namespace tunara::qt {

// "Arial Bold" at a point size, as the displays and the list view use it.
QFont SkinFont(int points, bool bold = true);

class InfoDisplay : public QWidget {
    Q_OBJECT
public:
    explicit InfoDisplay(QWidget* parent);

    void ShowTitle(const std::string& text);
    void ShowFormatName(const std::string& text);
    void ShowTrackNumber(int number);
    void ShowTrackCount(int count);
    void ShowBitRate(int bitsPerSecond);
    void ShowChannels(int channels);
    void ShowSampleRate(int hz);
    void ShowPosition(int seconds);
    void ShowDuration(int seconds);
    // Shows `text` in place of the bottom row; `ms` 0 keeps it until the next
    // timed message.
    void ShowMessage(const std::string& text, int ms);

    void SetColours(QColor background, QColor small, QColor large);
    // The time as what is left rather than what has played.
    void SetRemaining(bool on) { Set(remaining_, on); }
    bool Remaining() const { return remaining_; }
    // One tick of a title too long for the display: it moves a pixel every
    // other tick and rests at each end. Redraws only when it moved.
    void StepScroll();
    // Back to the start, at rest.
    void ResetScroll();
    int ScrollOffset() const { return scroll_; }
    bool TitleOverflows() const { return overflow_ > 0; }

    // The texts of the cells as drawn (tests).
    QString TimeText() const;
    QString TrackText() const;
    QString BitRateText() const;
    QString SampleRateText() const;
    QString ChannelsText() const;
    const QString& Title() const { return title_; }
    const QString& Message() const { return message_; }
    bool MessageMode() const { return messageMode_; }
    int Redraws() const { return redraws_; }
    const QImage& Image() const { return image_; }

signals:
    // A click on the time.
    void timeClicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    void MeasureTitle();
    template <typename T>
    void Set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        Redraw();
    }
    void Redraw();

    QString title_, formatName_, message_;
    int trackNumber_ = 0, trackCount_ = 0, bitRate_ = 0, channels_ = 0, sampleRate_ = 0;
    int position_ = 0, duration_ = 0;
    bool messageMode_ = false;
    bool remaining_ = false;
    int overflow_ = 0;  // pixels of the title past the display's width
    int scroll_ = 0;    // pixels scrolled
    int scrollDir_ = 1;
    int rest_ = 0;  // ticks left to rest at an end
    int phase_ = 0;
    QTimer messageTimer_;
    QColor background_{Qt::black}, small_{192, 192, 192}, large_{Qt::white};
    QFont smallFont_, largeFont_;
    QImage image_;
    bool stale_ = false;  // changed while unseen
    int redraws_ = 0;
};

class LevelDisplay : public QWidget {
    Q_OBJECT
public:
    enum Mode { kLevelMeter = 0, kSpectrum = 1 };
    static constexpr int kHoldBitmap = 308;

    explicit LevelDisplay(QWidget* parent);

    void SetLevels(float left, float right);
    void SetBands(const float* bands);  // 16 values
    void Hold(int ms);
    void SetMode(Mode mode);
    Mode GetMode() const { return mode_; }
    bool Held() const { return hold_; }
    void SetColours(QColor background, QColor low, QColor middle, QColor high);

    // Lit segments as drawn (tests).
    int LeftSegments() const;
    int RightSegments() const;
    int BandSegments(int band) const;
    int Redraws() const { return redraws_; }
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    void Redraw();
    QColor ZoneColour(int zone) const;

    Mode mode_ = kLevelMeter;
    float left_ = 0, right_ = 0;
    std::array<float, 16> bands_{};
    bool hold_ = false;
    QTimer holdTimer_;
    QColor background_{Qt::black}, low_{128, 128, 128}, middle_{192, 192, 192}, high_{Qt::white};
    SkinBitmap holdBitmap_;
    QImage image_;
    bool stale_ = false;  // changed while unseen
    int redraws_ = 0;
};

}  // namespace tunara::qt
