#pragma once
// The look of the windows the skin does not draw (the Options sheet, message
// boxes, Qt's own file dialogs): a dark palette taken from the skin's
// colours, so they do not flash light grey next to it.
#include <QPalette>

class QApplication;
class QWidget;

namespace tunara::qt {

// The dark palette: graphite windows, black fields, the displays' blue for
// selections and links, light grey text.
QPalette DarkPalette();

// Sets the palette (and the Fusion style, which follows a palette fully) for
// the whole program; call once after the QApplication is made.
void ApplyDialogLook(QApplication& app);

// Keeps a top-level window wholly inside the available area of its screen,
// shrinking it to fit when it is larger, with a small margin from the edges.
void KeepOnScreen(QWidget* window);

}  // namespace tunara::qt
