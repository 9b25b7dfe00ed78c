#include "ui/core/Associations.h"

#include <algorithm>
#include <optional>

#include "platform/registry/Registry.h"
#include "platform/shell/XdgShell.h"
#include "platform/ui/UserInteraction.h"
#include "ui/core/SettingsStore.h"

namespace tunara {

namespace {

std::string BackupKeyPath(std::string_view mimeType) {
    return "Associations/" + std::string(mimeType);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

const std::array<FileType, kFileTypeCount>& FileTypes() {
    // The desktop's shared MIME database names, not the other system's
    // content types: a default under another name would never be found.
    static const std::array<FileType, kFileTypeCount> types = {{
        {".aif", settings::kAssocAIF, "AIFF Audio File", "audio/x-aiff"},
        {".au", settings::kAssocAU, "AU Audio File", "audio/basic"},
        {".avi", settings::kAssocAVI, "AVI Video File", "video/x-msvideo"},
        {".mid", settings::kAssocMID, "Midi File", "audio/midi"},
        {".mov", settings::kAssocMOV, "QuickTime File", "video/quicktime"},
        {".mp3", settings::kAssocMP3, "MP3 Audio File", "audio/mpeg"},
        {".snd", settings::kAssocSND, "SND Audio File", "audio/basic"},
        {".wav", settings::kAssocWAV, "WAV Audio File", "audio/x-wav"},
        {".pls", settings::kAssocPLS, "PLS Playlist File", "audio/x-scpls"},
        {".m3u", settings::kAssocM3U, "M3U Playlist File", "audio/x-mpegurl"},
    }};
    return types;
}

std::vector<std::string> HandledMimeTypes() {
    std::vector<std::string> types;
    for (const FileType& t : FileTypes()) {
        if (std::find(types.begin(), types.end(), t.mimeType) == types.end()) {
            types.emplace_back(t.mimeType);
        }
    }
    types.emplace_back(shell::kAudioCdType);
    return types;
}

Associations::Associations(SettingsStore& settings, std::string programPath, std::string iconPng,
                           int iconSizePx)
    : settings_(settings),
      programPath_(std::move(programPath)),
      iconPng_(std::move(iconPng)),
      iconSizePx_(iconSizePx) {}

bool Associations::IsOurs(size_t index) const {
    return index < kFileTypeCount && shell::IsDefault(FileTypes()[index].mimeType);
}

bool Associations::IsCdPlayer() const {
    return shell::IsDefault(shell::kAudioCdType);
}

bool Associations::Wanted(std::string_view mimeType) const {
    if (mimeType == shell::kAudioCdType) return settings_.Flag(settings::kAutoPlayCD);
    for (const FileType& t : FileTypes()) {
        if (t.mimeType == mimeType && settings_.Flag(t.settingKey)) return true;
    }
    return false;
}

std::string Associations::Backup(std::string_view mimeType) const {
    registry::Key key;
    std::string value;
    if (registry::Key::Open(settings_.StoreFile(), BackupKeyPath(mimeType), false, key) ==
        registry::Status::Ok) {
        key.QueryString(kBackupValue, value);
    }
    return value;
}

bool Associations::TakeOver(std::string_view mimeType) {
    // A default naming a desktop entry that does not exist is skipped by
    // every reader, so the entry comes first.
    bool ok =
        shell::InstallDesktopEntry(programPath_, HandledMimeTypes(), iconPng_, iconSizePx_, true);
    const std::string current = shell::ReadDefault(mimeType).value_or(std::string());
    // The key is kept even for an empty backup: it tells later starts the type was ours.
    if (!WasOurs(mimeType) || !SameIgnoringCase(current, Backup(mimeType))) {
        registry::Key key;
        ok = registry::Key::Open(settings_.StoreFile(), BackupKeyPath(mimeType), true, key) ==
                 registry::Status::Ok &&
             key.SetString(kBackupValue, current) == registry::Status::Ok &&
             key.Close() == registry::Status::Ok && ok;
    }
    return shell::WriteDefault(mimeType, std::string(shell::kDesktopId)) && ok;
}

bool Associations::GiveBack(std::string_view mimeType) {
    const std::string backup = Backup(mimeType);
    return shell::WriteDefault(mimeType,
                               backup.empty() ? std::nullopt : std::optional<std::string>(backup));
}

bool Associations::Apply() {
    bool ok = true;
    for (const std::string& type : HandledMimeTypes()) {
        const bool ours = shell::IsDefault(type);
        const bool wanted = Wanted(type);
        if (ours && !wanted) ok = GiveBack(type) && ok;
        if (!ours && wanted) ok = TakeOver(type) && ok;
    }
    // Nothing to announce: desktops watch mimeapps.list themselves.
    return ok;
}

std::string FirstStartQuestion(const std::vector<std::string>& typeNames,
                               const std::vector<std::string>& programNames) {
    auto list = [](const std::vector<std::string>& items) {
        std::string text;
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
            text += items[i];
        }
        return text;
    };
    std::string text = "Make Tunara the default player for " + list(typeNames) + "?";
    if (!programNames.empty()) text += " (Now: " + list(programNames) + ")";
    return text;
}

bool Associations::WasOurs(std::string_view mimeType) const {
    registry::Key key;
    return registry::Key::Open(settings_.StoreFile(), BackupKeyPath(mimeType), false, key) ==
           registry::Status::Ok;
}

bool Associations::BringInLine(const std::vector<std::string>& types) {
    bool ok = true;
    for (const std::string& type : types) {
        const bool ours = shell::IsDefault(type);
        const bool wanted = Wanted(type);
        if (ours && !wanted) ok = GiveBack(type) && ok;
        if (!ours && wanted) ok = TakeOver(type) && ok;
    }
    return ok;
}

void Associations::SettingsFromDesktop() {
    for (size_t i = 0; i < kFileTypeCount; ++i) {
        settings_.SetNumber(FileTypes()[i].settingKey, IsOurs(i) ? 1 : 0);
    }
    settings_.SetNumber(settings::kAutoPlayCD, IsCdPlayer() ? 1 : 0);
    settings_.SaveAll();
}

bool Associations::CheckAtStart(UserInteraction& ui) {
    std::vector<std::string> restore, offer;
    for (const std::string& type : HandledMimeTypes()) {
        const bool ours = shell::IsDefault(type);
        if (Wanted(type) == ours) continue;
        // Never ours: asking to "restore" it would be untrue.
        (ours || WasOurs(type) ? restore : offer).push_back(type);
    }
    if (restore.empty() && offer.empty()) return false;
    if (!restore.empty()) {
        if (ui.Ask(std::string(kAssociationQuestion), false) == Answer::Yes) {
            BringInLine(restore);
        } else {
            // The offered types are declined with the rest.
            SettingsFromDesktop();
            return true;
        }
    }
    if (offer.empty()) return true;
    std::vector<std::string> typeNames, programs;
    for (const std::string& type : offer) {
        if (type == shell::kAudioCdType) {
            typeNames.emplace_back("audio CDs");
        } else {
            for (const FileType& t : FileTypes()) {
                if (t.mimeType != type) continue;
                std::string name(t.extension.substr(1));
                for (char& c : name) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
                typeNames.push_back(name);
            }
        }
        const std::string id = shell::FirstDesktopId(shell::ReadDefault(type).value_or(""));
        if (id.empty()) continue;
        const std::string program = shell::ApplicationName(id);
        if (std::find(programs.begin(), programs.end(), program) == programs.end())
            programs.push_back(program);
    }
    if (ui.Ask(FirstStartQuestion(typeNames, programs), false) == Answer::Yes)
        BringInLine(offer);
    else
        SettingsFromDesktop();
    return true;
}

bool Associations::GiveBackAll() {
    bool ok = true;
    for (const std::string& type : HandledMimeTypes()) {
        if (shell::IsDefault(type)) ok = GiveBack(type) && ok;
    }
    return ok;
}

}  // namespace tunara
