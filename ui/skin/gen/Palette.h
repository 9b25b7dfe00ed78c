// The one palette of the skin: every drawing of the generator reads its
// colours, fonts and texts from here, so the look changes in one place.
#pragma once

#include <QColor>
#include <QString>

namespace tunara::skin::palette {

// Body: dark graphite, lit from the top left.
inline const QColor kBodyTop{0x1c, 0x1f, 0x24};
inline const QColor kBodyBottom{0x2a, 0x2f, 0x36};
inline const QColor kHighlight{0x4a, 0x52, 0x5c};
inline const QColor kShadow{0x0b, 0x0c, 0x0e};
inline const QColor kOutline{0x06, 0x07, 0x08};

// Displays and list panes.
inline const QColor kPane{0x05, 0x07, 0x0a};
inline const QColor kAccent{0, 127, 255};
inline const QColor kSmallText{0, 127, 255};
inline const QColor kLargeText{224, 224, 224};
inline const QColor kLevelLow{64, 0, 127};
inline const QColor kLevelMid{32, 64, 192};
inline const QColor kLevelHigh{0, 127, 255};

// Engraved captions on the body and pictograms on buttons.
inline const QColor kCaption{0xa4, 0xac, 0xb6};
inline const QColor kGlyph{0xd4, 0xd8, 0xde};
inline const QColor kGlyphPressed{0xa8, 0xae, 0xb6};
// Pill labels are thin at their size; brighter ink keeps them legible.
inline const QColor kLabel{0xf4, 0xf6, 0xf8};
inline const QColor kLabelLit{0x9c, 0xd2, 0xff};

// Button bodies (domes and pills), top and bottom of their gradient.
inline const QColor kKnobTop{0x4b, 0x53, 0x5d};
inline const QColor kKnobBottom{0x23, 0x27, 0x2d};
inline const QColor kKnobPressedTop{0x1d, 0x20, 0x25};
inline const QColor kKnobPressedBottom{0x2c, 0x31, 0x38};
inline const QColor kGroove{0x16, 0x19, 0x1d};
inline const QColor kPillTop{0x40, 0x47, 0x50};
inline const QColor kPillBottom{0x26, 0x2a, 0x30};
inline const QColor kChipTop{0x3a, 0x41, 0x4a};
inline const QColor kChipBottom{0x24, 0x28, 0x2e};
inline const QColor kEdgeLight{0x5e, 0x67, 0x72};    // top edge of pills and chips
inline const QColor kRim{0x7a, 0x84, 0x90};          // lit rim of domes and screws
inline const QColor kGrooveLight{0x33, 0x39, 0x41};  // lower line of engraved grooves

// The slider knob's metal.
inline const QColor kMetalShine{0xf2, 0xf4, 0xf6};
inline const QColor kMetalLight{0xd6, 0xdb, 0xe1};
inline const QColor kMetalMid{0xa3, 0xaa, 0xb3};
inline const QColor kMetalDark{0x6c, 0x73, 0x7c};

// Accent shades: lit labels and pictograms, and the accent in shadow.
inline const QColor kAccentLit{0x66, 0xb3, 0xff};
inline const QColor kAccentDeep{0x00, 0x33, 0x6b};

// Panes: list views are black; a faint rule splits a pane.
inline const QColor kListPane{0, 0, 0};
inline const QColor kDisplayBackground{0, 0, 0};  // behind the level display and movies
inline const QColor kPaneRule{0x10, 0x14, 0x1a};

// The about box's wordmark and its light band.
inline const QColor kWordmark{0xe6, 0xe8, 0xec};
inline const QColor kPaper{0xff, 0xff, 0xff};
inline const QColor kPaperEdge{0xdc, 0xdf, 0xe3};
inline const QColor kPaperText{0x2a, 0x2f, 0x36};
inline const QColor kSubtitle{0xb8, 0xbe, 0xc6};

// Translucent black and white for shadows and sheens.
inline QColor Shade(int alpha) {
    return QColor(0, 0, 0, alpha);
}
inline QColor Sheen(int alpha) {
    return QColor(255, 255, 255, alpha);
}

// Fonts: "Arial" of the design resolves to Liberation Sans here.
inline const QString kFont = QStringLiteral("Liberation Sans");
inline const QString kNarrowFont = QStringLiteral("Liberation Sans Narrow");

// Texts that the art carries.
inline const QString kProductName = QStringLiteral("TUNARA");
inline const QString kTagline = QStringLiteral("Media player for Linux");
inline const QString kMaker = QStringLiteral("Korvan");
inline const QString kHomePage = QStringLiteral("tunara.korvan.example");

// Geometry shared by several drawings.
inline constexpr int kMainCornerRadius = 8;
inline constexpr int kPanelCornerRadius = 6;
inline constexpr int kDockBevel = 3;  // chamfer where a panel meets the window above it

}  // namespace tunara::skin::palette
