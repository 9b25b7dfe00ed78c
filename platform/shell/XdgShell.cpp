#include "platform/shell/XdgShell.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <system_error>

#include "platform/io/AtomicFile.h"
#include "platform/io/OwnFile.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::shell {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDefaultGroup = "[Default Applications]";
// Icon sizes we may have written; all are removed on uninstall.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameType(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// One line of the file with its ending ("\n", "\r\n" or none at the end).
struct Line {
    std::string_view text;  // without the ending
    std::string_view ending;
};

std::vector<Line> SplitLines(std::string_view file) {
    std::vector<Line> lines;
    while (!file.empty()) {
        const size_t nl = file.find('\n');
        if (nl == std::string_view::npos) {
            lines.push_back({file, {}});
            break;
        }
        size_t end = nl;
        if (end > 0 && file[end - 1] == '\r') --end;
        lines.push_back({file.substr(0, end), file.substr(end, nl + 1 - end)});
        file.remove_prefix(nl + 1);
    }
    return lines;
}

bool IsGroupHeader(std::string_view text) {
    const std::string_view t = Trim(text);
    return !t.empty() && t.front() == '[';
}

// The key of a "key=value" line, empty for anything else.
std::string_view KeyOf(std::string_view text, std::string_view* value = nullptr) {
    const std::string_view t = Trim(text);
    if (t.empty() || t.front() == '#' || t.front() == '[') return {};
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return {};
    if (value) *value = Trim(t.substr(eq + 1));
    return Trim(t.substr(0, eq));
}

// Missing: nullopt; a file that is there but cannot be read: nullopt and `unreadable`.
std::optional<std::string> ReadWholeFile(const fs::path& path, bool* unreadable = nullptr) {
    std::string text;
    const io::OwnFileStatus status = io::ReadOwnFile(path.string(), text);
    if (auto notice = io::OwnFileNotice(path.string(), status)) ReportError(std::move(*notice));
    if (unreadable)
        *unreadable = status != io::OwnFileStatus::kOk && status != io::OwnFileStatus::kMissing;
    if (status != io::OwnFileStatus::kOk) return std::nullopt;
    return text;
}

// Quoting of one Exec argument, then the escaping of a desktop-entry string.
std::string ExecArgument(const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

bool WriteFile(const fs::path& path, std::string_view bytes) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    return io::WriteFileAtomically(path.string(), bytes);
}

}  // namespace

std::string ExpandHome(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    const size_t slash = path.find('/');
    const std::string user =
        path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string home;
    if (user.empty()) {
        home = HomeFolder().string();
    } else {
        const passwd* pw = ::getpwnam(user.c_str());
        if (!pw || !pw->pw_dir) return path;  // no such user: a folder really named so
        home = pw->pw_dir;
    }
    return slash == std::string::npos ? home : home + path.substr(slash);
}

fs::path MusicFolder() {
    // Lines such as XDG_MUSIC_DIR="$HOME/Musik"; only $HOME is expanded there.
    std::string text;
    const std::string dirs = (ConfigHome() / "user-dirs.dirs").string();
    const io::OwnFileStatus status = io::ReadOwnFile(dirs, text);
    if (auto notice = io::OwnFileNotice(dirs, status)) ReportError(std::move(*notice));
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::string_view v = Trim(line);
        constexpr std::string_view kKey = "XDG_MUSIC_DIR=";
        if (v.substr(0, kKey.size()) != kKey) continue;
        v.remove_prefix(kKey.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        std::string value(v);
        if (value.rfind("$HOME", 0) == 0) value = HomeFolder().string() + value.substr(5);
        if (fs::path(value).is_absolute()) return value;
    }
    return HomeFolder() / "Music";
}

fs::path ExistingStartFolder(const std::string& wanted) {
    std::error_code ec;
    if (!wanted.empty() && fs::is_directory(ExpandHome(wanted), ec)) return ExpandHome(wanted);
    fs::path music = MusicFolder();
    if (fs::is_directory(music, ec)) return music;
    return HomeFolder();
}

fs::path MimeAppsFile() {
    return ConfigHome() / "mimeapps.list";
}
fs::path DesktopEntryFile() {
    return DataHome() / "applications" / std::string(kDesktopId);
}
fs::path IconFile(int sizePx) {
    const std::string size = std::to_string(sizePx) + "x" + std::to_string(sizePx);
    return DataHome() / "icons" / "hicolor" / size / "apps" / (std::string(kIconName) + ".png");
}

std::optional<std::string> DefaultEntry(std::string_view fileText, std::string_view mimeType) {
    bool inGroup = false;
    for (const Line& line : SplitLines(fileText)) {
        if (IsGroupHeader(line.text)) {
            inGroup = Trim(line.text) == kDefaultGroup;
            continue;
        }
        std::string_view value;
        if (inGroup && SameType(KeyOf(line.text, &value), mimeType)) return std::string(value);
    }
    return std::nullopt;
}

std::string WithDefaultEntry(std::string_view fileText, std::string_view mimeType,
                             const std::optional<std::string>& value) {
    const std::vector<Line> lines = SplitLines(fileText);
    const std::string newLine = value ? std::string(mimeType) + "=" + *value : std::string();
    std::string out;
    out.reserve(fileText.size() + newLine.size() + 32);
    bool inGroup = false;
    bool sawGroup = false;
    bool written = !value;  // removing needs no new line
    // Where a new line goes: after the last key line of the group (blank
    // lines and comments that end the group stay after it).
    size_t insertAt = std::string::npos;
    std::string_view ending = "\n";
    for (const Line& line : lines) {
        if (!line.ending.empty()) ending = line.ending;
        if (IsGroupHeader(line.text)) {
            inGroup = Trim(line.text) == kDefaultGroup;
            if (inGroup && !sawGroup) {
                sawGroup = true;
                out.append(line.text).append(line.ending.empty() ? ending : line.ending);
                insertAt = out.size();
                continue;
            }
        } else if (inGroup && SameType(KeyOf(line.text), mimeType)) {
            if (!written) {
                out.append(newLine).append(line.ending.empty() ? ending : line.ending);
                written = true;
            }
            continue;  // removed, replaced, or a duplicate
        }
        out.append(line.text).append(line.ending);
        if (inGroup && sawGroup && !KeyOf(line.text).empty()) {
            if (line.ending.empty()) out.append(ending);
            insertAt = out.size();
        }
    }
    if (written) return out;
    if (insertAt != std::string::npos) {
        out.insert(insertAt, newLine + std::string(ending));
        return out;
    }
    if (!out.empty() && out.back() != '\n') out += ending;
    if (!out.empty()) out += ending;
    out.append(kDefaultGroup).append(ending).append(newLine).append(ending);
    return out;
}

std::string FirstDesktopId(std::string_view value) {
    const size_t semi = value.find(';');
    return std::string(Trim(value.substr(0, semi)));
}

std::optional<std::string> ReadDefault(std::string_view mimeType) {
    const auto text = ReadWholeFile(MimeAppsFile());
    if (!text) return std::nullopt;
    return DefaultEntry(*text, mimeType);
}

bool WriteDefault(std::string_view mimeType, const std::optional<std::string>& value) {
    const fs::path file = MimeAppsFile();
    bool unreadable = false;
    const std::string text = ReadWholeFile(file, &unreadable).value_or(std::string());
    // The user's other defaults live there too: never replaced by what we could not read.
    if (unreadable) return false;
    const std::string changed = WithDefaultEntry(text, mimeType, value);
    if (changed == text) return true;
    return WriteFile(file, changed);
}

bool IsDefault(std::string_view mimeType) {
    const auto value = ReadDefault(mimeType);
    return value && FirstDesktopId(*value) == kDesktopId;
}

std::string ApplicationName(std::string_view desktopId) {
    std::string id(Trim(desktopId));
    if (id.empty() || id.find('/') != std::string::npos) return id;
    std::vector<fs::path> roots{DataHome()};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string_view list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    while (!list.empty()) {
        const size_t colon = list.find(':');
        const std::string_view dir = list.substr(0, colon);
        if (!dir.empty() && fs::path(dir).is_absolute()) roots.emplace_back(dir);
        list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
    }
    for (const fs::path& root : roots) {
        const auto text = ReadWholeFile(root / "applications" / id);
        if (!text) continue;
        bool inEntry = false;
        for (const Line& line : SplitLines(*text)) {
            if (IsGroupHeader(line.text)) {
                inEntry = Trim(line.text) == "[Desktop Entry]";
                continue;
            }
            std::string_view value;
            if (inEntry && KeyOf(line.text, &value) == "Name" && !value.empty())
                return std::string(value);
        }
    }
    const std::string_view suffix = ".desktop";
    if (id.size() > suffix.size() &&
        id.compare(id.size() - suffix.size(), suffix.size(), suffix) == 0)
        id.resize(id.size() - suffix.size());
    return id;
}

std::string DesktopEntryText(const std::string& programPath,
                             const std::vector<std::string>& mimeTypes) {
    std::ostringstream out;
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Tunara\n"
        << "GenericName=Media Player\n"
        << "Comment=Play MP3, WAV, audio CDs and movies; record CD tracks\n"
        << "Exec=" << ExecArgument(programPath) << " %f\n"
        << "TryExec=" << programPath << "\n"
        << "Icon=" << kIconName << "\n"
        << "Terminal=false\n"
        << "Categories=AudioVideo;Audio;Player;\n"
        << "MimeType=";
    for (const std::string& type : mimeTypes) out << type << ';';
    out << "\n";
    return out.str();
}

bool InstallDesktopEntry(const std::string& programPath, const std::vector<std::string>& mimeTypes,
                         std::string_view iconPng, int iconSizePx, bool onlyIfMissing) {
    const std::string entry = DesktopEntryText(programPath, mimeTypes);
    bool ok = true;
    const auto old = ReadWholeFile(DesktopEntryFile());
    if (!(onlyIfMissing && old && *old == entry)) ok = WriteFile(DesktopEntryFile(), entry) && ok;
    if (!iconPng.empty()) {
        const fs::path icon = IconFile(iconSizePx);
        std::error_code ec;
        if (!(onlyIfMissing && fs::exists(icon, ec))) ok = WriteFile(icon, iconPng) && ok;
    }
    return ok;
}

bool RemoveDesktopEntry() {
    bool ok = true;
    std::error_code ec;
    fs::remove(DesktopEntryFile(), ec);
    if (ec) ok = false;
    for (int size : kIconSizes) {
        fs::remove(IconFile(size), ec);
        if (ec) ok = false;
    }
    return ok;
}

}  // namespace tunara::shell
