#pragma once
// The desktop's file associations on XDG systems: the default application of
// each MIME type in the user's mimeapps.list ([Default Applications]) and our
// desktop entry and icon under $XDG_DATA_HOME.
//
// mimeapps.list belongs to the whole desktop: every line we do not own is kept
// byte for byte, and the file is replaced atomically.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/io/Paths.h"

namespace tunara::shell {

// The desktop file id the player is known by.
inline constexpr std::string_view kDesktopId = "tunara.desktop";
inline constexpr std::string_view kIconName = "tunara";
// The x-content type under which desktops list audio-CD players.
inline constexpr std::string_view kAudioCdType = "x-content/audio-cdda";

using io::ConfigHome;
using io::DataHome;
std::filesystem::path MimeAppsFile();        // ConfigHome()/mimeapps.list
std::filesystem::path DesktopEntryFile();    // DataHome()/applications/tunara.desktop
std::filesystem::path IconFile(int sizePx);  // DataHome()/icons/hicolor/NxN/apps/tunara.png

using io::HomeFolder;
// "~" and "~/..." with the home folder, "~name/..." with that user's; any
// other text as it is. For paths typed at prompts or quoted past the shell.
std::string ExpandHome(const std::string& path);
// The user's music folder (XDG_MUSIC_DIR of ConfigHome()/user-dirs.dirs,
// ~/Music when it names none), whether or not it exists.
std::filesystem::path MusicFolder();
// Where a folder chooser meant for `wanted` should open: `wanted` when it is
// a folder, else the music folder when it exists, else the home folder.
std::filesystem::path ExistingStartFolder(const std::string& wanted);

// --- mimeapps.list as text (pure, tested on their own) -----------------------

// The value of `mimeType` in the [Default Applications] group ("" when the
// line has no value), nullopt without such a line. MIME types compare
// without regard to case.
std::optional<std::string> DefaultEntry(std::string_view fileText, std::string_view mimeType);
// The text with the line for `mimeType` set to `value`, or removed when
// `value` is nullopt. Every other byte stays; a missing group is added at the
// end. A second line for the same type (which readers ignore) is removed.
std::string WithDefaultEntry(std::string_view fileText, std::string_view mimeType,
                             const std::optional<std::string>& value);
// The first desktop id of a value "a.desktop;b.desktop;".
std::string FirstDesktopId(std::string_view value);

// --- on the user's files ------------------------------------------------------

// The raw value in the user's mimeapps.list; nullopt without a line or file.
std::optional<std::string> ReadDefault(std::string_view mimeType);
// Sets (or with nullopt removes) the line; false when the file could not be
// written (the old file stays whole). Removing a line that is not there
// leaves the file untouched.
bool WriteDefault(std::string_view mimeType, const std::optional<std::string>& value);
// True when the user's default for the type is our desktop entry.
bool IsDefault(std::string_view mimeType);
// The name a desktop shows for the desktop id ("org.x.Player.desktop"): the
// Name of its entry under DataHome() or $XDG_DATA_DIRS, else the id without
// ".desktop".
std::string ApplicationName(std::string_view desktopId);

// The desktop entry for the program at `programPath`: Exec with %f, the MIME
// types it opens, our icon name.
std::string DesktopEntryText(const std::string& programPath,
                             const std::vector<std::string>& mimeTypes);
// Writes the desktop entry and the icon (PNG bytes of a square icon of
// `iconSizePx`); an empty `iconPng` writes no icon. With `onlyIfMissing` an
// existing entry that already runs this program is left alone. False when a
// file could not be written.
bool InstallDesktopEntry(const std::string& programPath, const std::vector<std::string>& mimeTypes,
                         std::string_view iconPng, int iconSizePx, bool onlyIfMissing);
// Removes the desktop entry and our icons; false when one stays.
bool RemoveDesktopEntry();

}  // namespace tunara::shell
