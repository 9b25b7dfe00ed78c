// The skin's bitmaps, compiled into Qt resources under ":/skin/<id>.png".
// Masks are 1-bit images: black is inside the window, white outside.
#pragma once

#include <QRect>
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

}  // namespace tunara::skin
