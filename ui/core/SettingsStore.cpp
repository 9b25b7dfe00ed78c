#include "ui/core/SettingsStore.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/registry/Registry.h"
#include "platform/shell/XdgShell.h"

namespace tunara {
namespace settings {

const std::vector<Entry>& Table() {
    using enum Type;
    static const std::vector<Entry> table = {
        {kCdOptions, kAutoPlayCD, Number, 1, {}, 0},
        {kCdOptions, kAutoSampleCD, Number, 0, {}, 0},
        {kCdOptions, kAutoCDInfo, Number, 1, {}, 0},
        {kCdOptions, kCDDBAddr, Text, 0, kDefaultCddbHost, kTextBufferBytes},
        {kCdOptions, kUseProxy, Number, 0, {}, 0},
        {kCdOptions, kProxyAddr, Text, 0, "", kTextBufferBytes},
        {kCdOptions, kProxyPort, Text, 0, "", kTextBufferBytes},
        {kCdOptions, kPreferredCDdrive, Text, 0, "", kTextBufferBytes},
        {kCdOptions, kReadOffset, Number, 0, {}, 0},
        {kCdOptions, kTitleSource, Number, 0, {}, 0},
        {kCdOptions, kMusicBrainzAddr, Text, 0, "https://musicbrainz.org", kTextBufferBytes},
        {kRecordOptions, kBitRate, Number, 3, {}, 0},
        {kRecordOptions, kEncoder, Number, 0, {}, 0},
        {kRecordOptions, kFlacLevel, Number, 5, {}, 0},
        {kRecordOptions, kVbrQuality, Number, 0, {}, 0},
        {kRecordOptions, kVerifyAccurateRip, Number, 0, {}, 0},
        {kRecordOptions, kRecordName1, Number, 0, {}, 0},
        {kRecordOptions, kRecordName2, Number, 1, {}, 0},
        {kRecordOptions, kRecordName3, Number, 2, {}, 0},
        {kRecordOptions, kRecordName4, Number, 5, {}, 0},
        {kFileOptions, kAssocAIF, Number, 1, {}, 0},
        {kFileOptions, kAssocAU, Number, 1, {}, 0},
        {kFileOptions, kAssocAVI, Number, 1, {}, 0},
        {kFileOptions, kAssocMID, Number, 1, {}, 0},
        {kFileOptions, kAssocMOV, Number, 1, {}, 0},
        {kFileOptions, kAssocMP3, Number, 1, {}, 0},
        {kFileOptions, kAssocSND, Number, 1, {}, 0},
        {kFileOptions, kAssocWAV, Number, 1, {}, 0},
        {kFileOptions, kAssocPLS, Number, 1, {}, 0},
        {kFileOptions, kAssocM3U, Number, 1, {}, 0},
        {kFileOptions, kUseID3Title, Number, 1, {}, 0},
        {kFileOptions, kAskFilePath, Number, 1, {}, 0},
        {kFileOptions, kRecordFilePath, Text, 0, {}, kPathBufferBytes},
        {kFileOptions, kResumeSession, Number, 1, {}, 0},
        {kFileOptions, kShowRemaining, Number, 0, {}, 0},
        {kSoundOptions, kReplayGainMode, Number, 0, {}, 0},
        {kSoundOptions, kReplayGainPreamp, Text, 0, "0", kTextBufferBytes},
        {kSoundOptions, kReplayGainDefault, Text, 0, "0", kTextBufferBytes},
        {kSoundOptions, kPreventClipping, Number, 1, {}, 0},
        {kSoundOptions, kEqualiserOn, Number, 0, {}, 0},
        {kSoundOptions, kEqualiser, Text, 0, "0,0,0,0,0,0,0,0,0,0,0", kTextBufferBytes},
        {kSoundOptions, kEqualiserPresets, Text, 0, "", kPathBufferBytes},
        {kSoundOptions, kBalance, Text, 0, "0", kTextBufferBytes},
    };
    return table;
}

std::string DefaultRecordFilePath() {
    return shell::MusicFolder().string();
}

}  // namespace settings

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

constexpr std::string_view kSections[] = {settings::kCdOptions, settings::kRecordOptions,
                                          settings::kFileOptions, settings::kSoundOptions};

}  // namespace

SettingsStore::SettingsStore(const std::vector<std::string>& cdDrives)
    : SettingsStore(registry::UserStoreFile(), cdDrives) {}

SettingsStore::SettingsStore(std::filesystem::path storeFile,
                             const std::vector<std::string>& cdDrives)
    : file_(std::move(storeFile)) {
    const auto& table = settings::Table();
    fields_.resize(table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        fields_[i].number = table[i].defaultNumber;
        fields_[i].text = table[i].key == settings::kRecordFilePath
                              ? settings::DefaultRecordFilePath()
                              : std::string(table[i].defaultText);
    }
    registry::Key base;
    registry::Key::Open(file_, "", true, base);
    base.Close();
    LoadAll();
    ChooseCdDrive(cdDrives);
}

void SettingsStore::LoadAll() {
    const auto& table = settings::Table();
    for (std::string_view section : kSections) {
        registry::Key key;
        if (registry::Key::Open(file_, section, true, key) != registry::Status::Ok) continue;
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < table.size(); ++i) {
            if (table[i].section != section) continue;
            if (table[i].type == settings::Type::Number) {
                uint32_t value = 0;
                if (key.QueryDword(table[i].key, value) == registry::Status::Ok) {
                    fields_[i].number = value;
                }
            } else {
                std::string value;
                if (key.QueryString(table[i].key, value, table[i].bufferBytes) ==
                    registry::Status::Ok) {
                    fields_[i].text = std::move(value);
                }
            }
        }
    }
}

bool SettingsStore::SaveAll() {
    const auto& table = settings::Table();
    bool ok = true;
    for (std::string_view section : kSections) {
        registry::Key key;
        if (registry::Key::Open(file_, section, true, key) != registry::Status::Ok) {
            ok = false;
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            for (size_t i = 0; i < table.size(); ++i) {
                if (table[i].section != section) continue;
                if (table[i].type == settings::Type::Number) {
                    key.SetDword(table[i].key, fields_[i].number);
                } else {
                    key.SetString(table[i].key, fields_[i].text);
                }
            }
        }
        ok = key.Close() == registry::Status::Ok && ok;
    }
    return ok;
}

int SettingsStore::IndexOf(std::string_view key) const {
    const auto& table = settings::Table();
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].key == key) return static_cast<int>(i);
    }
    return -1;
}

uint32_t SettingsStore::Number(std::string_view key) const {
    const int i = IndexOf(key);
    if (i < 0 || settings::Table()[i].type != settings::Type::Number) return 0;
    std::lock_guard lock(mutex_);
    return fields_[i].number;
}

std::string SettingsStore::Text(std::string_view key) const {
    const int i = IndexOf(key);
    if (i < 0 || settings::Table()[i].type != settings::Type::Text) return {};
    std::lock_guard lock(mutex_);
    return fields_[i].text;
}

bool SettingsStore::SetNumber(std::string_view key, uint32_t value) {
    const int i = IndexOf(key);
    if (i < 0 || settings::Table()[i].type != settings::Type::Number) return false;
    std::lock_guard lock(mutex_);
    fields_[i].number = value;
    return true;
}

bool SettingsStore::SetText(std::string_view key, std::string value) {
    const int i = IndexOf(key);
    if (i < 0 || settings::Table()[i].type != settings::Type::Text) return false;
    std::lock_guard lock(mutex_);
    fields_[i].text = std::move(value);
    return true;
}

std::optional<uint32_t> SettingsStore::StoredNumber(std::string_view key) const {
    const int i = IndexOf(key);
    if (i < 0 || settings::Table()[i].type != settings::Type::Number) return std::nullopt;
    registry::Key k;
    uint32_t value = 0;
    if (registry::Key::Open(file_, settings::Table()[i].section, false, k) !=
            registry::Status::Ok ||
        k.QueryDword(key, value) != registry::Status::Ok) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> SettingsStore::StoredText(std::string_view key) const {
    const int i = IndexOf(key);
    if (i < 0 || settings::Table()[i].type != settings::Type::Text) return std::nullopt;
    registry::Key k;
    std::string value;
    if (registry::Key::Open(file_, settings::Table()[i].section, false, k) !=
            registry::Status::Ok ||
        k.QueryString(key, value, settings::Table()[i].bufferBytes) != registry::Status::Ok) {
        return std::nullopt;
    }
    return value;
}

int SettingsStore::ChooseCdDrive(const std::vector<std::string>& drives) {
    currentCdDrive_ = drives.empty() ? -1 : 0;
    std::string preferred = Text(settings::kPreferredCDdrive);
    bool matched = false;
    for (size_t i = 0; i < drives.size(); ++i) {
        if (!preferred.empty() && SameIgnoringCase(drives[i], preferred)) {
            currentCdDrive_ = static_cast<int>(i);
            preferred = drives[i];
            matched = true;
        }
    }
    if (matched || (preferred.empty() && !drives.empty())) {
        if (!matched) preferred = drives.front();
        SetText(settings::kPreferredCDdrive, preferred);
    }
    return currentCdDrive_;
}

}  // namespace tunara
