#pragma once
// The player as the desktop's default application of ten file types and as
// its audio-CD player, following the settings "AssocAIF".."AssocM3U" and
// "AutoPlayCD". Taking a type over remembers the previous default as the
// "Tunara.bak" value of the key Associations\<major>\<minor> in our settings
// store; giving it back restores that value (an empty one removes our line).
//
// Several extensions share a MIME type (.au and .snd are both audio/basic):
// such a type is wanted when any of its extensions' settings is on.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tunara {

class SettingsStore;
class UserInteraction;

struct FileType {
    std::string_view extension;    // ".mp3"
    std::string_view settingKey;   // "AssocMP3"
    std::string_view description;  // "MP3 Audio File"
    std::string_view mimeType;     // "audio/mpeg"
};
inline constexpr size_t kFileTypeCount = 10;
// In the order of the settings (AIF, AU, AVI, MID, MOV, MP3, SND, WAV, PLS, M3U).
const std::array<FileType, kFileTypeCount>& FileTypes();
// Every MIME type the desktop entry lists: the ten types' (each once) and
// the audio-CD type.
std::vector<std::string> HandledMimeTypes();

inline constexpr std::string_view kAssociationQuestion =
    "One or more file types associated with Tunara are currently associated with another "
    "application.\nWould you like to restore the file type associations to Tunara?";
// A first start, when no type was ever ours: "Make Tunara the default player
// for MP3, WAV and audio CDs? (Now: Audacious)".
std::string FirstStartQuestion(const std::vector<std::string>& typeNames,
                               const std::vector<std::string>& programNames);
inline constexpr std::string_view kAssociationCaption = "Tunara File Associations";
inline constexpr std::string_view kBackupValue = "Tunara.bak";

class Associations {
public:
    // `programPath` is what the desktop entry runs; `iconPng` (may be empty)
    // the icon installed with it.
    Associations(SettingsStore& settings, std::string programPath, std::string iconPng = {},
                 int iconSizePx = 0);

    // True when the user's default application of the type is ours.
    bool IsOurs(size_t index) const;
    bool IsCdPlayer() const;

    // Brings every registration in line with the settings. False when a
    // file could not be written (what was written stays).
    bool Apply();
    // The start-up check; true when a question was asked. Types that were
    // ours and were taken (or that we hold against the settings) get the
    // restore question; wanted types that were never ours get the first-start
    // question, which names them and their programs now. Yes brings the
    // asked types in line with the settings, No takes the desktop's state
    // into the settings and saves them. Nothing changes without an answer.
    bool CheckAtStart(UserInteraction& ui);
    // Gives every type that is ours back, whatever the settings say (removing
    // the program from the desktop).
    bool GiveBackAll();

    // The backup kept for a MIME type ("" when none).
    std::string Backup(std::string_view mimeType) const;

private:
    // A type we took over at some time keeps its backup key.
    bool WasOurs(std::string_view mimeType) const;
    bool BringInLine(const std::vector<std::string>& types);
    void SettingsFromDesktop();
    bool Wanted(std::string_view mimeType) const;
    bool TakeOver(std::string_view mimeType);
    bool GiveBack(std::string_view mimeType);

    SettingsStore& settings_;
    std::string programPath_;
    std::string iconPng_;
    int iconSizePx_;
};

}  // namespace tunara
