#pragma once
// Control identifiers of the windows and the skin bitmaps they use.
namespace tunara::qt {

// Main window controls besides the controller's commands.
inline constexpr int kIdOk = 1;
inline constexpr int kIdMin = 2;
inline constexpr int kIdInfoDisplay = 1011;
inline constexpr int kIdLevelDisplay = 1012;
inline constexpr int kIdPositionSlider = 1013;
inline constexpr int kIdVolumeSlider = 1015;
inline constexpr int kIdPlayList = 1017;
inline constexpr int kIdOptions = 1035;
inline constexpr int kIdAbout = 1036;
// Playlist window.
inline constexpr int kIdNew = 1021;
inline constexpr int kIdOpen = 1022;
inline constexpr int kIdSave = 1023;
inline constexpr int kIdSaveAs = 1024;
inline constexpr int kIdAdd = 1025;
inline constexpr int kIdRemove = 1026;
inline constexpr int kIdListView = 1017;
// The equaliser: its button and the balance slider on the main window, and
// the window's own controls (the preamp's slider, then a band's by index).
inline constexpr int kIdEqualiser = 1040;
inline constexpr int kIdBalanceSlider = 1041;
inline constexpr int kIdEqOn = 1042;
inline constexpr int kIdEqPresets = 1043;
inline constexpr int kIdEqPreamp = 1050;
inline constexpr int kIdEqBand = 1051;  // + band, 31 Hz first

// Bitmaps.
inline constexpr int kMainBackground = 129;
inline constexpr int kMainMask = 130;
inline constexpr int kPlaylistBackground = 232;
inline constexpr int kPlaylistMask = 231;
inline constexpr int kVideoBackground = 193;
inline constexpr int kVideoMask = 192;
inline constexpr int kAboutBackground = 304;
inline constexpr int kAboutMask = 307;
inline constexpr int kTransportMask = 236;
inline constexpr int kTextButtonMask = 237;
inline constexpr int kThumb = 186;
inline constexpr int kThumbMask = 184;
inline constexpr int kPositionChannel = 191;
inline constexpr int kPositionChannelMask = 189;
inline constexpr int kVolumeChannel = 190;
inline constexpr int kVolumeChannelMask = 188;
inline constexpr int kPanelClose = 240;
inline constexpr int kPanelClosePressed = 241;
inline constexpr int kPanelCloseLit = 242;
inline constexpr int kPanelCloseMask = 239;
inline constexpr int kProgramIcon = 128;
inline constexpr int kProductButtonLit = 298;

}  // namespace tunara::qt
