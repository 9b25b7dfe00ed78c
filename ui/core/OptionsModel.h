#pragma once
// What the options sheet shows and does, without windows: its three pages'
// values, the enabling rules, the record-name sample, the folder check and
// OK's steps. The sheet edits a working copy of the settings; OK writes it
// into the store and saves, Cancel drops it, so nothing changed in the sheet
// outlives a Cancel.
#include <array>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tunara {

class SettingsStore;
class UserInteraction;

// Texts of the sheet's messages.
inline constexpr std::string_view kFolderMissingQuestion =
    "File path %s does not exist, would you like to create it?";
inline constexpr std::string_view kProxyPortInvalid =
    "The proxy port \"%1\" is not a number from 1 to 65535.";
// Empty, or a whole number from 1 to 65535.
bool ProxyPortValid(std::string_view text);
inline constexpr std::string_view kFolderCreateFailed = "Error: Unable to create directory";
inline constexpr std::string_view kFolderUnusable =
    "File error - directory path %s is unusable (Error = %d)";

// The folder check of OK (and of recording): true when `path` is a usable
// folder, after asking to create a missing one.
bool CheckRecordFolder(const std::string& path, UserInteraction& ui);

class OptionsModel {
public:
    // Outside effects of OK, each optional.
    struct Effects {
        // Brings the file associations in line with the store (after it holds
        // the new values).
        std::function<void()> applyAssociations;
        // "PreferredCDdrive" changed: the drive named in the store becomes current.
        std::function<void()> preferredDriveChanged;
        // "UseID3Title" changed: titles are shown the new way.
        std::function<void()> useId3TitleChanged;
    };

    // Takes the working copy of every setting. `cdDrives`: the names of the
    // CD drives ("D:" style or device paths), in the controller's order.
    OptionsModel(SettingsStore& settings, std::vector<std::string> cdDrives, UserInteraction& ui,
                 Effects effects = {});

    // Working values, by settings key.
    uint32_t Number(std::string_view key) const;
    bool Flag(std::string_view key) const { return Number(key) != 0; }
    std::string Text(std::string_view key) const;
    void SetNumber(std::string_view key, uint32_t value);
    void SetFlag(std::string_view key, bool on) { SetNumber(key, on ? 1 : 0); }
    void SetText(std::string_view key, std::string value);
    // Where a chooser for the recording folder opens: the working folder when
    // it exists, else the user's music folder, else home.
    std::string RecordFolderToBrowse() const;

    // CD page.
    const std::vector<std::string>& DriveList() const { return drives_; }  // sorted
    int SelectedDrive() const;  // the preferred drive, else 0; -1 without drives
    void SelectDrive(int index);
    bool ProxyEditsEnabled() const;
    bool DriveControlsEnabled() const { return !drives_.empty(); }

    // Record page.
    static const std::vector<std::string>& EncoderNames();
    static const std::vector<std::string>& NamePartNames(int part);  // part 0..3
    std::vector<std::string> BitRateLabels() const;                  // of the chosen encoder
    int Encoder() const;
    int BitRateIndex() const;
    // Refills the bit-rate choice: 128 kbit/s in either list.
    void SetEncoder(int encoder);
    void SetBitRateIndex(int index);
    // "VBR quality": "Off" (constant bit rate) then qualities 0 to 9; only the high-quality
    // MP3 encoder has it.
    static const std::vector<std::string>& VbrQualityLabels();
    int VbrQualityIndex() const;
    void SetVbrQualityIndex(int index);
    bool VbrQualityEnabled() const;
    int NamePart(int part) const;
    void SetNamePart(int part, int choice);
    // BuildRecordName over "Album", "Artist", "TrackTitle", track 1 and the
    // chosen bit rate.
    std::string Sample() const;

    // File page.
    bool FolderControlsEnabled() const;  // folder edit and Browse
    void SetAllFileTypes(bool on);

    // OK: false when the sheet stays open (the folder is not usable).
    bool Ok();
    // Cancel: the working copy is dropped.
    void Cancel();

private:
    SettingsStore& settings_;
    std::vector<std::string> drives_;
    UserInteraction& ui_;
    Effects effects_;
    std::map<std::string, uint32_t, std::less<>> numbers_;
    std::map<std::string, std::string, std::less<>> texts_;
};

}  // namespace tunara
