#pragma once
// What the player controller shows, as plain numbers and texts. The GUI
// implements it with its windows, tunara-cli with the terminal. The
// controller calls the setters on every 25 ms tick, so an implementation
// compares and redraws only what changed.
#include <string>

namespace tunara {

class PlayerDisplay {
public:
    virtual ~PlayerDisplay() = default;

    // Information display.
    virtual void ShowTitle(const std::string& title) = 0;
    virtual void ShowFormatName(const std::string& name) = 0;
    virtual void ShowBitRate(int bitsPerSecond) = 0;
    virtual void ShowSampleRate(int hz) = 0;
    virtual void ShowChannels(int channels) = 0;
    virtual void ShowDuration(int seconds) = 0;
    virtual void ShowPosition(int seconds) = 0;
    virtual void ShowTrackNumber(int number) = 0;
    virtual void ShowTrackCount(int count) = 0;
    // Shows text in place of the bottom line for `ms` milliseconds.
    virtual void ShowMessage(const std::string& text, int ms) = 0;

    // Level display: two peak levels and 16 bands, each 0..1.
    virtual void SetLevels(float left, float right) = 0;
    virtual void SetBands(const float* bands) = 0;
    virtual void Hold(int ms) = 0;

    // Sliders: the position slider counts in units of 10 ms; the volume
    // slider runs 0 (top, loud) .. 100.
    virtual void SetPositionRange(int max) = 0;
    virtual void SetPositionSlider(int position) = 0;
    virtual void SetVolumeSlider(int position) = 0;

    virtual void SetWindowTitle(const std::string& title) = 0;
    virtual void SetTransportLit(bool play, bool fastForward, bool rewind) = 0;
    virtual void SetModeLit(bool intro, bool shuffle, bool repeat) = 0;
    virtual void EnableCdButton(bool enabled) = 0;
    // The CD button: opens the CD window, or closes it when open.
    virtual void ToggleCdWindow() {}
    // Stop, or the end of the list: a movie's picture goes away until the
    // next play.
    virtual void PlaybackStopped() {}
    // The playlist window's list view and the CD window.
    virtual void RefreshListViews() = 0;
};

}  // namespace tunara
