#include "ui/core/OptionsModel.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/shell/XdgShell.h"
#include "platform/ui/UserInteraction.h"
#include "ui/core/Associations.h"
#include "ui/core/RecordName.h"
#include "ui/core/RecordOptions.h"
#include "ui/core/SettingsStore.h"

namespace tunara {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string Replace(std::string_view pattern, std::string_view what, const std::string& with) {
    std::string out(pattern);
    const size_t at = out.find(what);
    if (at != std::string::npos) out.replace(at, what.size(), with);
    return out;
}

constexpr int kKvmcEncoder = 0;
constexpr int kHqMp3Encoder = 2;
constexpr int kBitRate128Kvmc = 3;
constexpr int kBitRate128Mp3 = 2;

}  // namespace

bool CheckRecordFolder(const std::string& path, UserInteraction& ui) {
    const std::string folder = shell::ExpandHome(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
    }
    const int error = errno;
    if (error == ENOENT) {
        if (ui.Ask(Replace(kFolderMissingQuestion, "%s", path), false) != Answer::Yes) return false;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!ec) return true;
        ui.ShowError({0, std::string(kFolderCreateFailed), {}});
        return false;
    }
    std::string text = Replace(kFolderUnusable, "%s", path);
    text = Replace(text, "%d", std::to_string(error));
    ui.ShowError({0, text, {}});
    return false;
}

OptionsModel::OptionsModel(SettingsStore& settings, std::vector<std::string> cdDrives,
                           UserInteraction& ui, Effects effects)
    : settings_(settings), drives_(std::move(cdDrives)), ui_(ui), effects_(std::move(effects)) {
    std::sort(drives_.begin(), drives_.end());
    for (const settings::Entry& e : settings::Table()) {
        if (e.type == settings::Type::Number) {
            numbers_.emplace(std::string(e.key), settings_.Number(e.key));
        } else {
            texts_.emplace(std::string(e.key), settings_.Text(e.key));
        }
    }
}

uint32_t OptionsModel::Number(std::string_view key) const {
    const auto it = numbers_.find(key);
    return it == numbers_.end() ? 0 : it->second;
}

std::string OptionsModel::Text(std::string_view key) const {
    const auto it = texts_.find(key);
    return it == texts_.end() ? std::string() : it->second;
}

std::string OptionsModel::RecordFolderToBrowse() const {
    return shell::ExistingStartFolder(Text(settings::kRecordFilePath)).string();
}

void OptionsModel::SetNumber(std::string_view key, uint32_t value) {
    const auto it = numbers_.find(key);
    if (it != numbers_.end()) it->second = value;
}

void OptionsModel::SetText(std::string_view key, std::string value) {
    const auto it = texts_.find(key);
    if (it != texts_.end()) it->second = std::move(value);
}

int OptionsModel::SelectedDrive() const {
    if (drives_.empty()) return -1;
    const std::string preferred = Text(settings::kPreferredCDdrive);
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (!preferred.empty() && SameIgnoringCase(drives_[i], preferred)) return int(i);
    }
    return 0;
}

void OptionsModel::SelectDrive(int index) {
    if (index >= 0 && size_t(index) < drives_.size()) {
        SetText(settings::kPreferredCDdrive, drives_[size_t(index)]);
    }
}

bool OptionsModel::ProxyEditsEnabled() const {
    return Flag(settings::kUseProxy);
}

const std::vector<std::string>& OptionsModel::EncoderNames() {
    static const std::vector<std::string> names = {"Korvan Music Encoder", "Fast MP3 Encoder",
                                                   "High Quality MP3 Encoder", "FLAC (lossless)"};
    return names;
}

const std::vector<std::string>& OptionsModel::NamePartNames(int part) {
    static const std::vector<std::string> first = {"Album", "Artist", "Track Title", "Track Number",
                                                   "Bitrate"};
    static const std::vector<std::string> later = {"Album",        "Artist",  "Track Title",
                                                   "Track Number", "Bitrate", "None"};
    return part < 2 ? first : later;
}

std::vector<std::string> OptionsModel::BitRateLabels() const {
    std::vector<std::string> labels;
    for (int kbps : RecordBitRates(Encoder())) labels.push_back(std::to_string(kbps) + " kbits/s");
    return labels;
}

int OptionsModel::Encoder() const {
    return std::min<int>(int(Number(settings::kEncoder)), int(EncoderNames().size()) - 1);
}

int OptionsModel::BitRateIndex() const {
    const int count = int(RecordBitRates(Encoder()).size());
    return std::min<int>(int(Number(settings::kBitRate)), count - 1);
}

void OptionsModel::SetEncoder(int encoder) {
    if (encoder < 0 || encoder >= int(EncoderNames().size())) return;
    SetNumber(settings::kEncoder, uint32_t(encoder));
    SetNumber(settings::kBitRate, encoder == kKvmcEncoder ? kBitRate128Kvmc : kBitRate128Mp3);
}

void OptionsModel::SetBitRateIndex(int index) {
    if (index >= 0 && index < int(RecordBitRates(Encoder()).size())) {
        SetNumber(settings::kBitRate, uint32_t(index));
    }
}

const std::vector<std::string>& OptionsModel::VbrQualityLabels() {
    static const std::vector<std::string> labels = {
        "Off", "0 (best)", "1", "2 (about 190 kbits/s)", "3", "4", "5",
        "6",   "7",        "8", "9 (smallest)"};
    return labels;
}

int OptionsModel::VbrQualityIndex() const {
    return std::min<int>(int(Number(settings::kVbrQuality)), int(VbrQualityLabels().size()) - 1);
}

void OptionsModel::SetVbrQualityIndex(int index) {
    if (index >= 0 && index < int(VbrQualityLabels().size()))
        SetNumber(settings::kVbrQuality, uint32_t(index));
}

bool OptionsModel::VbrQualityEnabled() const {
    return Encoder() == kHqMp3Encoder;
}

namespace {
constexpr std::string_view kNameKeys[4] = {settings::kRecordName1, settings::kRecordName2,
                                           settings::kRecordName3, settings::kRecordName4};
}

int OptionsModel::NamePart(int part) const {
    if (part < 0 || part > 3) return kNameNone;
    return int(Number(kNameKeys[part]));
}

void OptionsModel::SetNamePart(int part, int choice) {
    if (part < 0 || part > 3) return;
    if (choice < 0 || choice >= int(NamePartNames(part).size())) return;
    SetNumber(kNameKeys[part], uint32_t(choice));
}

std::string OptionsModel::Sample() const {
    const std::array<int, 4> parts = {NamePart(0), NamePart(1), NamePart(2), NamePart(3)};
    // The label's leading number: 24 for "24 kbits/s", 128 for "128 kbits/s".
    const int kbps = RecordBitRateKbps(Encoder(), BitRateIndex());
    return BuildRecordName("Album", "Artist", "TrackTitle", 1, kbps, parts);
}

bool OptionsModel::FolderControlsEnabled() const {
    return !Flag(settings::kAskFilePath);
}

void OptionsModel::SetAllFileTypes(bool on) {
    for (const FileType& t : FileTypes()) SetFlag(t.settingKey, on);
}

bool ProxyPortValid(std::string_view text) {
    if (text.empty()) return true;  // the proxy's usual port
    if (text.size() > 5) return false;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535;
}

bool OptionsModel::Ok() {
    if (!Flag(settings::kAskFilePath) && !CheckRecordFolder(Text(settings::kRecordFilePath), ui_)) {
        return false;
    }
    if (!ProxyPortValid(Text(settings::kProxyPort))) {
        ui_.ShowError({0, std::string(kProxyPortInvalid), Text(settings::kProxyPort)});
        return false;
    }
    if (Text(settings::kCDDBAddr).empty()) {
        SetText(settings::kCDDBAddr, std::string(settings::kDefaultCddbHost));
    }
    const std::string oldDrive = settings_.Text(settings::kPreferredCDdrive);
    const bool oldId3 = settings_.Flag(settings::kUseID3Title);
    for (const auto& [key, value] : numbers_) settings_.SetNumber(key, value);
    for (const auto& [key, value] : texts_) settings_.SetText(key, value);
    if (effects_.applyAssociations) effects_.applyAssociations();
    // Compared with what the store held before, byte for byte.
    if (oldDrive != Text(settings::kPreferredCDdrive) && effects_.preferredDriveChanged) {
        effects_.preferredDriveChanged();
    }
    if (oldId3 != Flag(settings::kUseID3Title) && effects_.useId3TitleChanged) {
        effects_.useId3TitleChanged();
    }
    settings_.SaveAll();
    return true;
}

void OptionsModel::Cancel() {
    numbers_.clear();
    texts_.clear();
    for (const settings::Entry& e : settings::Table()) {
        if (e.type == settings::Type::Number) {
            numbers_.emplace(std::string(e.key), settings_.Number(e.key));
        } else {
            texts_.emplace(std::string(e.key), settings_.Text(e.key));
        }
    }
}

}  // namespace tunara
