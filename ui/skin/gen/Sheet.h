// A contact sheet for looking at the skin: the windows put together with
// their controls on a light desktop, and every bitmap at 1x and 2x.
#pragma once

#include <QString>

namespace tunara::skin {

// Writes FILE (everything at 1x and small bitmaps at 2x) and FILE with
// "-2x" before the extension (the assembled windows at 2x, nearest neighbour).
bool WriteContactSheet(const QString& file);

}  // namespace tunara::skin
