// The skin's bitmaps, compiled into Qt resources under ":/skin/<id>.png".
// Masks are 1-bit images: black is inside the window, white outside.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace tunara::skin {

// Registers the resources of this static library; call once from main.
void InitResources();

// ":/skin/<id>.png".
QString BitmapPath(int id);
// ":/skin/<id>@2x.png": the same art drawn for twice the pixels (masks have
// none).
QString BitmapPath2x(int id);

// Text buttons drawn for windows whose layout gives no identifiers: the
// recording window's Cancel, and a Close (normal, pressed, lit; mask 237).
inline constexpr int kCancelNormal = 289, kCancelPressed = 290, kCancelLit = 291;
inline constexpr int kCloseNormal = 292, kClosePressed = 293, kCloseLit = 294;

// Where the recording window's art (287) expects its controls, in window
// pixels: the status and counter texts on the pane's first line, a groove for
// each progress bar, Cancel in the tray at the bottom right.
namespace recording {
inline constexpr QRect kStatusText{32, 31, 230, 12};
inline constexpr QRect kCounterText{270, 31, 72, 12};
inline constexpr QRect kTrackBar{32, 59, 311, 8};
inline constexpr QRect kOverallBar{32, 85, 311, 8};
inline constexpr QRect kCancel{313, 115, 38, 10};
}  // namespace recording

// The equaliser window (a panel like the playlist), its buttons, and what
// the main window gained for it: an EQ button and a balance slider.
namespace equaliser {
inline constexpr int kBackground = 330, kMask = 331;
inline constexpr int kOnNormal = 332, kOnPressed = 333, kOnLit = 334;
inline constexpr int kPresetsNormal = 335, kPresetsPressed = 336, kPresetsLit = 337;
// The main window's button that opens the window.
inline constexpr int kEqNormal = 338, kEqPressed = 339, kEqLit = 340;
// The balance slider's channel and its mask (the thumb is the volume's).
inline constexpr int kBalanceChannel = 341, kBalanceChannelMask = 342;

inline constexpr QSize kSize{375, 142};
inline constexpr QPoint kOn{16, 30};
inline constexpr QPoint kPresets{16, 46};
// A dark pane under the buttons where the window draws the response curve.
inline constexpr QRect kResponse{14, 65, 43, 54};
// Vertical sliders on the volume slider's channel (13 x 93): the preamp,
// then the ten bands 31 Hz first, every kBandPitch pixels.
inline constexpr int kSliderTop = 26;
inline constexpr int kPreampX = 72;
inline constexpr int kFirstBandX = 122;
inline constexpr int kBandPitch = 24;
inline constexpr int kBands = 10;
inline constexpr int BandX(int band) {
    return kFirstBandX + band * kBandPitch;
}

// In the main window.
inline constexpr QPoint kEqButton{315, 84};
inline constexpr QPoint kBalance{312, 112};
inline constexpr QSize kBalanceSize{44, 12};
}  // namespace equaliser

}  // namespace tunara::skin
