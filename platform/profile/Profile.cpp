#include "platform/profile/Profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "platform/io/AtomicFile.h"
#include "platform/io/FileLock.h"
#include "platform/io/OwnFile.h"
#include "platform/io/Paths.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::profile {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// The first `maxChars` characters of `text`; a UTF-8 lead byte and its
// continuation bytes count as one.
std::string_view CutChars(std::string_view text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80 && i > 0) continue;  // continuation byte
        if (chars == maxChars) return text.substr(0, i);
        ++chars;
    }
    return text;
}

bool ValidName(std::string_view name) {
    if (Trim(name).empty()) return false;
    for (char c : name)
        if (c == '\n' || c == '\r' || c == '\0') return false;
    return true;
}

std::string OneLine(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    return out;
}

}  // namespace

std::filesystem::path CdPlayerIniPath() {
    return io::VendorConfigFolder() / "cdplayer.ini";
}

ProfileFile ProfileFile::Parse(std::string_view text) {
    ProfileFile p;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        p.bom_ = true;
        text.remove_prefix(3);
    }
    const size_t firstBreak = text.find('\n');
    p.crlf_ =
        firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r';
    p.finalNewline_ = text.empty() || text.back() == '\n';
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view raw = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        Line line;
        line.raw.assign(raw);
        std::string_view t = Trim(raw);
        if (!t.empty() && t.front() == '[') {
            const size_t close = t.find(']');
            line.kind = Line::Section;
            line.name.assign(
                Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1)));
        } else if (!t.empty() && t.front() != ';') {
            line.kind = Line::Entry;
            const size_t eq = t.find('=');
            line.name.assign(Trim(t.substr(0, eq)));
            if (eq != std::string_view::npos) line.value = Unquote(Trim(t.substr(eq + 1)));
        }
        p.lines_.push_back(std::move(line));
    }
    return p;
}

std::string ProfileFile::Serialize() const {
    std::string out;
    if (bom_) out += "\xEF\xBB\xBF";
    const char* eol = crlf_ ? "\r\n" : "\n";
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].raw;
        if (i + 1 < lines_.size() || finalNewline_) out += eol;
    }
    return out;
}

int ProfileFile::FindSection(std::string_view section) const {
    const std::string_view want = Trim(section);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && SameName(lines_[i].name, want))
            return static_cast<int>(i);
    return -1;
}

int ProfileFile::SectionEnd(int header) const {
    size_t i = static_cast<size_t>(header) + 1;
    while (i < lines_.size() && lines_[i].kind != Line::Section) ++i;
    return static_cast<int>(i);
}

int ProfileFile::FindKey(int header, std::string_view key) const {
    if (header < 0) return -1;
    const std::string_view want = Trim(key);
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (lines_[i].kind == Line::Entry && SameName(lines_[i].name, want)) return i;
    return -1;
}

size_t ProfileFile::GetString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::string& out,
                              size_t bufferChars) const {
    out.clear();
    if (bufferChars == 0) return 0;
    const int at = FindKey(FindSection(section), key);
    std::string_view value = at >= 0 ? std::string_view(lines_[at].value) : TrimRight(defaultValue);
    out.assign(CutChars(value, bufferChars - 1));
    size_t chars = 0;
    for (unsigned char c : out)
        if ((c & 0xC0) != 0x80) ++chars;
    return chars;
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
    const int at = FindKey(FindSection(section), key);
    if (at < 0 || lines_[at].value.empty()) return defaultValue;
    std::string_view v = lines_[at].value;
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    long long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) n = -n;
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

bool ProfileFile::HasSection(std::string_view section) const {
    return FindSection(section) >= 0;
}

std::vector<std::string> ProfileFile::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& l : lines_)
        if (l.kind == Line::Section) names.push_back(l.name);
    return names;
}

std::vector<std::string> ProfileFile::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const int header = FindSection(section);
    if (header < 0) return names;
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (lines_[i].kind == Line::Entry) names.push_back(lines_[i].name);
    return names;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::optional<std::string_view> value) {
    if (!ValidName(section) || !ValidName(key)) return false;
    const std::string_view s = Trim(section);
    const std::string_view k = Trim(key);
    if (s.find(']') != std::string_view::npos) return false;
    if (k.find('=') != std::string_view::npos || k.front() == ';' || k.front() == '[') return false;

    int header = FindSection(s);
    const int at = FindKey(header, k);
    if (!value) {
        if (at < 0) return true;
        lines_.erase(lines_.begin() + at);
        modified_ = true;
        return true;
    }
    Line line;
    line.kind = Line::Entry;
    line.name.assign(k);
    const std::string v = OneLine(*value);
    line.raw = line.name + "=" + v;
    line.value = Unquote(Trim(v));
    if (at >= 0) {
        if (lines_[at].raw == line.raw) return true;
        lines_[at] = std::move(line);
        modified_ = true;
        return true;
    }
    if (header < 0) {
        Line head;
        head.kind = Line::Section;
        head.name.assign(s);
        head.raw = "[" + head.name + "]";
        lines_.push_back(std::move(head));
        header = static_cast<int>(lines_.size()) - 1;
    }
    // After the section's last non-blank line, so blank lines between
    // sections stay between sections.
    int insert = SectionEnd(header);
    while (insert > header + 1 && Trim(lines_[insert - 1].raw).empty()) --insert;
    lines_.insert(lines_.begin() + insert, std::move(line));
    modified_ = true;
    return true;
}

bool ProfileFile::WriteInt(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool ProfileFile::DeleteSection(std::string_view section) {
    const int header = FindSection(section);
    if (header < 0) return false;
    lines_.erase(lines_.begin() + header, lines_.begin() + SectionEnd(header));
    modified_ = true;
    return true;
}

namespace {

io::OwnFileStatus LoadFile(const std::filesystem::path& file, ProfileFile& profile) {
    std::string text;
    const io::OwnFileStatus status = io::ReadOwnFile(file.string(), text);
    if (auto notice = io::OwnFileNotice(file.string(), status)) ReportError(std::move(*notice));
    profile = ProfileFile::Parse(text);
    return status;
}

}  // namespace

bool Load(const std::filesystem::path& file, ProfileFile& profile) {
    return LoadFile(file, profile) == io::OwnFileStatus::kOk;
}

bool Edit(const std::filesystem::path& file, const std::function<void(ProfileFile&)>& edit) {
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    io::FileLock lock(file);
    // Every save of this file holds the lock: a temporary file beside it now
    // is what an interrupted save left.
    io::RemoveStaleTemporaries(file.string(), std::chrono::seconds(0));
    ProfileFile profile;
    switch (LoadFile(file, profile)) {
        case io::OwnFileStatus::kOk:
        case io::OwnFileStatus::kMissing:
            break;
        case io::OwnFileStatus::kNotRegular:
        case io::OwnFileStatus::kTooLarge: {
            // Kept aside rather than overwritten: it may be worth a look.
            auto aside = file;
            aside += ".unreadable";
            std::filesystem::rename(file, aside, ec);
            if (ec) return false;
            break;
        }
        case io::OwnFileStatus::kReadError:
            return false;  // what could not be read must not be replaced by less
    }
    edit(profile);
    if (!profile.Modified()) return true;
    return io::WriteFileAtomically(file.string(), profile.Serialize());
}

size_t GetString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::string_view defaultValue, std::string& out, size_t bufferChars) {
    ProfileFile p;
    Load(file, p);
    return p.GetString(section, key, defaultValue, out, bufferChars);
}

int GetInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
           int defaultValue) {
    ProfileFile p;
    Load(file, p);
    return p.GetInt(section, key, defaultValue);
}

bool WriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::optional<std::string_view> value) {
    bool ok = true;
    const bool saved = Edit(file, [&](ProfileFile& p) { ok = p.WriteString(section, key, value); });
    return ok && saved;
}

bool WriteInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
              int value) {
    return WriteString(file, section, key, std::to_string(value));
}

}  // namespace tunara::profile
