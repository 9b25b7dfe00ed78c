#pragma once
// Every user setting of the player, held in memory and kept in the per-user
// store (platform/registry) under three sections. Other code names a setting
// by its key, e.g. store.Flag(settings::kAutoPlayCD).
//
// Thread safety: getters and setters may be called from any thread; LoadAll,
// SaveAll and the drive choice belong to the user-interface thread.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunara {

namespace settings {
// Sections.
inline constexpr std::string_view kCdOptions = "CDOptions";
inline constexpr std::string_view kRecordOptions = "RecordOptions";
inline constexpr std::string_view kFileOptions = "FileOptions";
inline constexpr std::string_view kSoundOptions = "SoundOptions";
// Keys.
inline constexpr std::string_view kAutoPlayCD = "AutoPlayCD";
inline constexpr std::string_view kAutoSampleCD = "AutoSampleCD";
inline constexpr std::string_view kAutoCDInfo = "AutoCDInfo";
inline constexpr std::string_view kCDDBAddr = "CDDBAddr";
inline constexpr std::string_view kUseProxy = "UseProxy";
inline constexpr std::string_view kProxyAddr = "ProxyAddr";
inline constexpr std::string_view kProxyPort = "ProxyPort";
inline constexpr std::string_view kPreferredCDdrive = "PreferredCDdrive";
// Stored as the 32-bit pattern of a signed number of samples.
inline constexpr std::string_view kReadOffset = "ReadOffset";
// 0: CDDB, 1: MusicBrainz, 2: both, MusicBrainz first.
inline constexpr std::string_view kTitleSource = "TitleSource";
inline constexpr std::string_view kMusicBrainzAddr = "MusicBrainzAddr";
inline constexpr std::string_view kVerifyAccurateRip = "VerifyAccurateRip";
inline constexpr std::string_view kBitRate = "BitRate";
inline constexpr std::string_view kEncoder = "Encoder";
inline constexpr std::string_view kFlacLevel = "FlacLevel";
// 0: constant bit rate; 1 to 10: variable, quality 0 (best) to 9 (the high-quality MP3 encoder).
inline constexpr std::string_view kVbrQuality = "VbrQuality";
inline constexpr std::string_view kRecordName1 = "RecordName1";
inline constexpr std::string_view kRecordName2 = "RecordName2";
inline constexpr std::string_view kRecordName3 = "RecordName3";
inline constexpr std::string_view kRecordName4 = "RecordName4";
inline constexpr std::string_view kAssocAIF = "AssocAIF";
inline constexpr std::string_view kAssocAU = "AssocAU";
inline constexpr std::string_view kAssocAVI = "AssocAVI";
inline constexpr std::string_view kAssocMID = "AssocMID";
inline constexpr std::string_view kAssocMOV = "AssocMOV";
inline constexpr std::string_view kAssocMP3 = "AssocMP3";
inline constexpr std::string_view kAssocSND = "AssocSND";
inline constexpr std::string_view kAssocWAV = "AssocWAV";
inline constexpr std::string_view kAssocPLS = "AssocPLS";
inline constexpr std::string_view kAssocM3U = "AssocM3U";
inline constexpr std::string_view kUseID3Title = "UseID3Title";
inline constexpr std::string_view kAskFilePath = "AskFilePath";
inline constexpr std::string_view kRecordFilePath = "RecordFilePath";
// The windowed player's own choices.
inline constexpr std::string_view kResumeSession = "ResumeSession";
inline constexpr std::string_view kShowRemaining = "ShowRemaining";
// Sound: numbers in dB and the balance are texts, as they may be negative.
inline constexpr std::string_view kReplayGainMode = "ReplayGainMode";  // 0 off .. 3 automatic
inline constexpr std::string_view kReplayGainPreamp = "ReplayGainPreamp";
inline constexpr std::string_view kReplayGainDefault = "ReplayGainDefault";
inline constexpr std::string_view kPreventClipping = "PreventClipping";
inline constexpr std::string_view kEqualiserOn = "EqualiserOn";
inline constexpr std::string_view kEqualiser = "Equaliser";  // ten gains, then the preamp
inline constexpr std::string_view kEqualiserPresets = "EqualiserPresets";  // NAME=G1,...,G10;...
inline constexpr std::string_view kBalance = "Balance";

inline constexpr std::string_view kDefaultCddbHost = "gnudb.gnudb.org";
// Texts are read into a buffer of this many bytes, terminating zero included;
// a longer stored text is ignored and the field keeps its value.
inline constexpr size_t kTextBufferBytes = 200;
// Folders may be longer than that on this system.
inline constexpr size_t kPathBufferBytes = 4096;

enum class Type { Number, Text };

struct Entry {
    std::string_view section;
    std::string_view key;
    Type type;
    uint32_t defaultNumber;        // numbers
    std::string_view defaultText;  // texts; RecordFilePath's default is computed
    size_t bufferBytes;            // texts
};

// Every setting, in the order in which sections are read and written.
const std::vector<Entry>& Table();

// The user's music folder: where recordings go when the user is not asked
// each time.
std::string DefaultRecordFilePath();
}  // namespace settings

class SettingsStore {
public:
    // Sets the defaults, makes the store's base key when missing, reads every
    // setting, then chooses the current drive among `cdDrives`.
    explicit SettingsStore(const std::vector<std::string>& cdDrives = {});
    // The same on another store file.
    SettingsStore(std::filesystem::path storeFile, const std::vector<std::string>& cdDrives);

    // Reads the three sections; a value that is missing or unreadable keeps
    // the field as it is.
    void LoadAll();
    // Writes the three sections; false when any could not be saved.
    bool SaveAll();

    // By key. An unknown key, or one of the other type, reads 0 / "" and is
    // refused by the setters.
    uint32_t Number(std::string_view key) const;
    bool Flag(std::string_view key) const { return Number(key) != 0; }  // any non-zero is set
    std::string Text(std::string_view key) const;
    bool SetNumber(std::string_view key, uint32_t value);
    bool SetText(std::string_view key, std::string value);

    // The value now in the store, read back for comparison; nullopt when the
    // section or value is missing or unreadable.
    std::optional<uint32_t> StoredNumber(std::string_view key) const;
    std::optional<std::string> StoredText(std::string_view key) const;

    // Picks the current CD drive among `drives` by "PreferredCDdrive" (case
    // ignored; the field takes the drive's own spelling). An empty preference
    // takes the first drive and names it; an unknown one stays and the first
    // drive is current. Returns the index, -1 without drives.
    int ChooseCdDrive(const std::vector<std::string>& drives);
    int CurrentCdDrive() const { return currentCdDrive_; }

    const std::filesystem::path& StoreFile() const { return file_; }

private:
    struct Field {
        uint32_t number = 0;
        std::string text;
    };
    int IndexOf(std::string_view key) const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;   // guards fields_
    std::vector<Field> fields_;  // parallel to settings::Table()
    int currentCdDrive_ = -1;
};

}  // namespace tunara
