// The skin's bitmaps, compiled into Qt resources under ":/skin/<id>.png".
// Masks are 1-bit images: black is inside the window, white outside.
#pragma once

#include <QString>

namespace tunara::skin {

// Registers the resources of this static library; call once from main.
void InitResources();

// ":/skin/<id>.png".
QString BitmapPath(int id);

// Text buttons drawn for windows whose layout gives no identifiers: the
// recording window's Cancel, and a Close (normal, pressed, lit; mask 237).
inline constexpr int kCancelNormal = 289, kCancelPressed = 290, kCancelLit = 291;
inline constexpr int kCloseNormal = 292, kClosePressed = 293, kCloseLit = 294;

}  // namespace tunara::skin
