#pragma once
// The window a movie's pictures appear in: the movie framed by the skin's
// 16-pixel border (corners copied, edges stretched from bitmap 193, the
// outline from mask 192). Frames arrive on a media thread and are handed to
// the window by queued calls.
#include <QImage>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/media/MediaToolbox.h"
#include "ui/qt/SkinnedWindow.h"

namespace tunara::qt {

class BitmapButton;

class VideoPanel : public SkinnedWindow {
    Q_OBJECT
public:
    static constexpr int kBorder = 16;

    VideoPanel();
    ~VideoPanel() override;
    void Hold();
    void Resume();
    bool Held() const { return held_; }
    // Sizes the window to a picture of `size` plus the border on every side.
    void FitPicture(QSize size);
    void ShowFrame(const QImage& frame);
    QRect PictureRect() const;
    int FramesShown() const { return framesShown_; }
    // The user closed the window.
    std::function<void()> onClosed;

protected:
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent*) override;

private:
    void PlaceBesideMainWindow();

    SkinBitmap frameBitmap_, frameMask_;
    BitmapButton* close_ = nullptr;
    QImage picture_;
    QSize pictureSize_;
    int framesShown_ = 0;
    bool everShown_ = false;
    bool held_ = false;
    bool closedByUser_ = false;
};

// What the media toolbox draws into; owned by the playing source.
class QtVideoWindow : public media::VideoWindow {
public:
    QtVideoWindow();
    ~QtVideoWindow() override;

    // Any thread.
    void PresentFrame(const media::VideoFrame& frame) override;
    VideoPanel* Panel() const { return panel_; }

private:
    std::mutex mutex_;
    VideoPanel* panel_;    // deleted with this window
    bool closed_ = false;  // closed by the user or going away: pictures stop
};

// Lets movies with video open a QtVideoWindow.
void InstallVideoWindows();
// At Stop every movie window goes away, and comes back when a movie plays
// again (pictures arriving in between, such as the one of the seek back to
// the start, are kept but not shown).
void HideVideoWindows();
void ResumeVideoWindows();

}  // namespace tunara::qt
