#include "platform/registry/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>

#include "platform/io/AtomicFile.h"
#include "platform/io/FileLock.h"
#include "platform/io/OwnFile.h"
#include "platform/io/Paths.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::registry {
namespace {

constexpr std::string_view kFileHeader = "TunaraSettings 1";
constexpr std::string_view kStoreFileName = "settings";

struct Value {
    std::string name;  // as first written
    ValueType type = ValueType::Dword;
    uint32_t dword = 0;
    std::string text;
};

struct KeyRecord {
    std::string path;                     // as first written, levels joined by '/'
    std::map<std::string, Value> values;  // by lower-case name
};

// Keys by lower-case path; "" is the root.
using Tree = std::map<std::string, KeyRecord>;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool ValidName(std::string_view name) {
    if (name.empty()) return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\0'; });
}

// "A\\B//C/" -> "A/B/C"; nullopt for a level that cannot be kept.
std::optional<std::string> NormalisePath(std::string_view path) {
    std::string out;
    std::string level;
    auto flush = [&]() {
        if (level.empty()) return;
        if (!out.empty()) out += '/';
        out += level;
        level.clear();
    };
    for (char c : path) {
        if (c == '\\' || c == '/') {
            flush();
        } else if (c == '\0') {
            return std::nullopt;
        } else {
            level += c;
        }
    }
    flush();
    return out;
}

std::string ParentPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Makes a key and every key above it.
KeyRecord& EnsureKey(Tree& tree, const std::string& path) {
    if (!path.empty()) EnsureKey(tree, ParentPath(path));
    KeyRecord& record = tree[Lower(path)];
    if (record.path.empty()) record.path = path;
    return record;
}

// ---- the file format -------------------------------------------------------
//   TunaraSettings 1
//   [CDOptions]
//   "AutoPlayCD"=dword:00000001
//   "CDDBAddr"="gnudb.gnudb.org"
// Brackets, quotes, backslashes, '=' and control bytes are written \xHH.

std::string Escape(std::string_view s) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\' || c == '[' || c == ']' || c == '=') {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> Unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            if (s[i] == '"' || s[i] == '[' || s[i] == ']') return std::nullopt;
            out += s[i];
            continue;
        }
        if (i + 3 >= s.size() || s[i + 1] != 'x') return std::nullopt;
        const int hi = HexDigit(s[i + 2]);
        const int lo = HexDigit(s[i + 3]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 3;
    }
    return out;
}

std::string Serialise(const Tree& tree) {
    std::ostringstream out;
    out << kFileHeader << '\n';
    for (const auto& [lowerPath, record] : tree) {
        out << '[' << Escape(record.path) << "]\n";
        for (const auto& [lowerName, value] : record.values) {
            out << '"' << Escape(value.name) << "\"=";
            if (value.type == ValueType::Dword) {
                char digits[16];
                std::snprintf(digits, sizeof digits, "%08x", value.dword);
                out << "dword:" << digits << '\n';
            } else {
                out << '"' << Escape(value.text) << "\"\n";
            }
        }
    }
    return out.str();
}

struct Parsed {
    Tree tree;
    bool damaged = false;  // some lines could not be read and were left out
};

// One value line ("name"=dword:... or "name"="text"), or nullopt.
std::optional<Value> ParseValue(std::string_view line) {
    if (line.empty() || line.front() != '"') return std::nullopt;
    const size_t close = line.find('"', 1);
    if (close == std::string_view::npos || close + 1 >= line.size() || line[close + 1] != '=')
        return std::nullopt;
    auto name = Unescape(line.substr(1, close - 1));
    if (!name || !ValidName(*name)) return std::nullopt;
    std::string_view rest = line.substr(close + 2);
    Value value;
    value.name = *name;
    if (rest.starts_with("dword:")) {
        rest.remove_prefix(6);
        if (rest.size() != 8) return std::nullopt;
        uint32_t number = 0;
        for (char c : rest) {
            const int digit = HexDigit(c);
            if (digit < 0) return std::nullopt;
            number = number << 4 | static_cast<uint32_t>(digit);
        }
        value.type = ValueType::Dword;
        value.dword = number;
    } else if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        auto textValue = Unescape(rest.substr(1, rest.size() - 2));
        if (!textValue) return std::nullopt;
        value.type = ValueType::String;
        value.text = std::move(*textValue);
    } else {
        return std::nullopt;
    }
    return value;
}

// The tree in `text`; nullopt when the text is not a settings file at all (no
// header). A hand edit may leave CR LF line ends, no final line end or a
// damaged line: every line that reads is kept, the rest marks it damaged.
std::optional<Parsed> Parse(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    Parsed parsed;
    KeyRecord* current = nullptr;
    bool first = true;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            if (line != kFileHeader) return std::nullopt;
            first = false;
            continue;
        }
        if (line.empty()) continue;
        if (line.front() == '[') {
            // Values below a key that cannot be read have no home.
            current = nullptr;
            std::optional<std::string> raw;
            if (line.back() == ']') raw = Unescape(line.substr(1, line.size() - 2));
            auto path = raw ? NormalisePath(*raw) : std::nullopt;
            if (path && *path == *raw)
                current = &EnsureKey(parsed.tree, *path);
            else
                parsed.damaged = true;
            continue;
        }
        auto value = current ? ParseValue(line) : std::nullopt;
        if (!value) {
            parsed.damaged = true;
            continue;
        }
        current->values[Lower(value->name)] = std::move(*value);
    }
    if (first) return std::nullopt;  // empty file: a save that never finished
    return parsed;
}

// The tree in `file`; an absent or unreadable file gives an empty tree.
// `damaged` tells when the file held anything that was not read.
Tree LoadTree(const std::filesystem::path& file, bool* damaged = nullptr) {
    if (damaged) *damaged = false;
    std::string text;
    const io::OwnFileStatus status = io::ReadOwnFile(file.string(), text);
    if (auto notice = io::OwnFileNotice(file.string(), status)) ReportError(std::move(*notice));
    if (status == io::OwnFileStatus::kMissing) return {};
    std::optional<Parsed> parsed;
    if (status == io::OwnFileStatus::kOk) parsed = Parse(text);
    if (damaged) *damaged = !parsed || parsed->damaged;
    return parsed ? std::move(parsed->tree) : Tree{};
}
// Keeps a copy of a file that did not read whole under the first free name
// of FILE.unreadable, FILE.unreadable.1, ...; an earlier copy is never
// replaced. The store itself stays in place until the new one is renamed
// over it.
void KeepAside(const std::filesystem::path& file) {
    for (int n = 0; n < 1000; ++n) {
        auto aside = file;
        aside += ".unreadable";
        if (n > 0) aside += "." + std::to_string(n);
        if (::link(file.c_str(), aside.c_str()) == 0) return;
        if (errno == EEXIST) continue;
        // No hard links here: a copy, made only where nothing is yet.
        std::error_code ec;
        if (std::filesystem::exists(aside, ec)) continue;
        std::filesystem::copy_file(file, aside, ec);
        return;
    }
}

// ---- saving ----------------------------------------------------------------

// Replaces `file` with `contents` so that a reader sees the old file or the
// new one, never a part of either.
Status AtomicWrite(const std::filesystem::path& file, const std::string& contents) {
    io::AtomicWriteOptions options;
    options.mode = 0600;
    return io::WriteFileAtomically(file.string(), contents, options) ? Status::Ok : Status::IoError;
}

// The first open of a store in a run clears what a save killed in an earlier
// run left behind; a minute's age spares a save another process has under way.
void SweepOnce(const std::filesystem::path& file) {
    static std::mutex mutex;
    static std::set<std::string> swept;
    std::lock_guard lock(mutex);
    if (swept.insert(file.string()).second) io::RemoveStaleTemporaries(file.string());
}

struct PendingChange {
    bool remove = false;
    Value value;
};

}  // namespace

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok:
            return "ok";
        case Status::NotFound:
            return "not found";
        case Status::WrongType:
            return "wrong value type";
        case Status::MoreData:
            return "value larger than the buffer";
        case Status::BadName:
            return "bad name";
        case Status::IoError:
            return "the store could not be written";
        case Status::NotOpen:
            return "key not open";
    }
    return "unknown status";
}

std::filesystem::path UserStoreFolder() {
    return io::VendorConfigFolder() / "Tunara";
}

std::filesystem::path UserStoreFile() {
    return UserStoreFolder() / kStoreFileName;
}

struct Key::Impl {
    std::filesystem::path file;
    std::string path;  // normalised
    KeyRecord snapshot;
    std::vector<std::string> subkeys;
    std::vector<PendingChange> pending;
    bool created = false;
};

Key::Key() = default;
Key::~Key() {
    Close();
}
Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&& other) noexcept {
    if (this != &other) {
        Close();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

Status Key::Open(const std::filesystem::path& storeFile, std::string_view path, bool create,
                 Key& key) {
    key.Close();
    auto normal = NormalisePath(path);
    if (!normal) return Status::BadName;
    SweepOnce(storeFile);
    const Tree tree = LoadTree(storeFile);
    auto impl = std::make_unique<Impl>();
    impl->file = storeFile;
    impl->path = *normal;
    const auto it = tree.find(Lower(*normal));
    if (it != tree.end()) {
        impl->snapshot = it->second;
        const std::string prefix = it->first.empty() ? std::string() : it->first + "/";
        for (const auto& [lowerPath, record] : tree) {
            if (lowerPath.size() > prefix.size() && lowerPath.starts_with(prefix) &&
                lowerPath.find('/', prefix.size()) == std::string::npos) {
                impl->subkeys.push_back(record.path.substr(prefix.size()));
            }
        }
    } else if (create) {
        impl->snapshot.path = *normal;
        impl->created = true;
    } else {
        return Status::NotFound;
    }
    key.impl_ = std::move(impl);
    return Status::Ok;
}

Status Key::OpenUser(std::string_view path, bool create, Key& key) {
    return Open(UserStoreFile(), path, create, key);
}

bool Key::IsOpen() const {
    return impl_ != nullptr;
}

Status Key::QueryType(std::string_view name, ValueType& type) const {
    if (!impl_) return Status::NotOpen;
    const auto it = impl_->snapshot.values.find(Lower(name));
    if (it == impl_->snapshot.values.end()) return Status::NotFound;
    type = it->second.type;
    return Status::Ok;
}

Status Key::QueryDword(std::string_view name, uint32_t& value) const {
    if (!impl_) return Status::NotOpen;
    const auto it = impl_->snapshot.values.find(Lower(name));
    if (it == impl_->snapshot.values.end()) return Status::NotFound;
    if (it->second.type != ValueType::Dword) return Status::WrongType;
    value = it->second.dword;
    return Status::Ok;
}

Status Key::QueryString(std::string_view name, std::string& value, size_t bufferBytes) const {
    if (!impl_) return Status::NotOpen;
    const auto it = impl_->snapshot.values.find(Lower(name));
    if (it == impl_->snapshot.values.end()) return Status::NotFound;
    if (it->second.type != ValueType::String) return Status::WrongType;
    if (it->second.text.size() >= bufferBytes) return Status::MoreData;
    value = it->second.text;
    return Status::Ok;
}

std::vector<std::string> Key::ValueNames() const {
    std::vector<std::string> names;
    if (!impl_) return names;
    for (const auto& [lower, value] : impl_->snapshot.values) names.push_back(value.name);
    return names;
}

std::vector<std::string> Key::SubkeyNames() const {
    return impl_ ? impl_->subkeys : std::vector<std::string>{};
}

Status Key::SetDword(std::string_view name, uint32_t value) {
    if (!impl_) return Status::NotOpen;
    if (!ValidName(name)) return Status::BadName;
    Value v{std::string(name), ValueType::Dword, value, {}};
    auto& slot = impl_->snapshot.values[Lower(name)];
    if (!slot.name.empty()) v.name = slot.name;
    slot = v;
    impl_->pending.push_back({false, std::move(v)});
    return Status::Ok;
}

Status Key::SetString(std::string_view name, std::string_view value) {
    if (!impl_) return Status::NotOpen;
    if (!ValidName(name)) return Status::BadName;
    Value v{std::string(name), ValueType::String, 0, std::string(value)};
    auto& slot = impl_->snapshot.values[Lower(name)];
    if (!slot.name.empty()) v.name = slot.name;
    slot = v;
    impl_->pending.push_back({false, std::move(v)});
    return Status::Ok;
}

Status Key::DeleteValue(std::string_view name) {
    if (!impl_) return Status::NotOpen;
    if (impl_->snapshot.values.erase(Lower(name)) == 0) return Status::NotFound;
    Value v;
    v.name = std::string(name);
    impl_->pending.push_back({true, std::move(v)});
    return Status::Ok;
}

Status Key::Flush() {
    if (!impl_) return Status::NotOpen;
    if (impl_->pending.empty() && !impl_->created) return Status::Ok;
    std::error_code ec;
    std::filesystem::create_directories(impl_->file.parent_path(), ec);
    Status status = Status::IoError;
    if (!ec || std::filesystem::is_directory(impl_->file.parent_path())) {
        io::FileLock lock(impl_->file);
        // Under the lock no save of ours is under way: any temporary file
        // left beside the store is from one that was interrupted.
        io::RemoveStaleTemporaries(impl_->file.string(), std::chrono::seconds(0));
        bool damaged = false;
        Tree tree = LoadTree(impl_->file, &damaged);
        // What could not be read may still be worth a look.
        if (damaged && std::filesystem::exists(impl_->file, ec)) KeepAside(impl_->file);
        KeyRecord& record = EnsureKey(tree, impl_->path);
        for (const PendingChange& change : impl_->pending) {
            const std::string lower = Lower(change.value.name);
            if (change.remove) {
                record.values.erase(lower);
                continue;
            }
            Value& slot = record.values[lower];
            const std::string keepName = slot.name.empty() ? change.value.name : slot.name;
            slot = change.value;
            slot.name = keepName;
        }
        status = AtomicWrite(impl_->file, Serialise(tree));
    }
    // A failed save is not retried: like a failed registry write, it is lost.
    impl_->pending.clear();
    impl_->created = false;
    return status;
}

Status Key::Close() {
    if (!impl_) return Status::Ok;
    const Status status = Flush();
    impl_.reset();
    return status;
}

}  // namespace tunara::registry
