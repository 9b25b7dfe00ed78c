#include "playlist/Playlist.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "platform/io/AtomicFile.h"
#include "platform/io/OwnFile.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/PlaylistPaths.h"
#include "sources/SourceFactory.h"

namespace tunara {

namespace {

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    const io::OwnFileStatus status = io::ReadOwnFile(path, bytes);
    if (auto notice = io::OwnFileNotice(path, status)) ReportError(std::move(*notice));
    return status == io::OwnFileStatus::kOk;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Lines end at the first CR or LF; any run of CR and LF after it is skipped,
// so empty lines vanish, as do lines of blanks alone.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        if (!Trim(line).empty()) lines.push_back(std::move(line));
        pos = bytes.find_first_not_of("\r\n", end);
        if (pos == std::string::npos) break;
    }
    return lines;
}

// A list's seconds; anything that is not a number, or below 0, is unknown.
int32_t ParseSeconds(const std::string& text) {
    size_t i = 0;
    bool negative = i < text.size() && text[i] == '-';
    if (negative) ++i;
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT32_MAX / 1000);
    return negative ? -1 : static_cast<int32_t>(value);
}

// "file12" -> 12 for the key "file"; -1 for other keys.
int64_t KeyNumber(const std::string& key, const char* word) {
    const size_t n = std::char_traits<char>::length(word);
    if (key.size() <= n || key.compare(0, n, word) != 0) return -1;
    int64_t value = 0;
    for (size_t i = n; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9') return -1;
        value = value * 10 + (key[i] - '0');
        if (value > INT32_MAX) return -1;
    }
    return value;
}

std::vector<PlaylistEntry> ParsePls(const std::vector<std::string>& lines) {
    // Entries play in the order of their numbers, whatever the order of lines.
    std::map<int64_t, PlaylistEntry> byNumber;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto eq = lines[i].find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Lower(Trim(lines[i].substr(0, eq)));
        const std::string value = Trim(lines[i].substr(eq + 1));
        if (int64_t n = KeyNumber(key, "file"); n >= 0)
            byNumber[n].value = value;
        else if (int64_t t = KeyNumber(key, "title"); t >= 0)
            byNumber[t].title = value;
        else if (int64_t l = KeyNumber(key, "length"); l >= 0)
            byNumber[l].lengthSec = ParseSeconds(value);
    }
    std::vector<PlaylistEntry> entries;
    for (auto& [number, entry] : byNumber)
        if (!entry.value.empty()) entries.push_back(std::move(entry));
    return entries;
}

std::vector<PlaylistEntry> ParseM3u(const std::vector<std::string>& lines) {
    std::vector<PlaylistEntry> entries;
    PlaylistEntry pending;
    for (const std::string& raw : lines) {
        // Only a "#" that starts the line makes a comment.
        if (raw[0] != '#') {
            pending.value = Trim(raw);
            entries.push_back(std::move(pending));
            pending = {};
            continue;
        }
        // "#EXTINF:seconds,Title" describes the entry below it; other "#"
        // lines, #EXTM3U among them, are comments.
        const std::string line = Trim(raw);
        if (Lower(line.substr(0, 8)) != "#extinf:") continue;
        const std::string info = line.substr(8);
        const auto comma = info.find(',');
        pending.lengthSec = ParseSeconds(Trim(info.substr(0, comma)));
        pending.title = comma == std::string::npos ? std::string() : Trim(info.substr(comma + 1));
    }
    return entries;
}

// A text that fits on one line of a list file and reads back as written.
std::string OneLine(const std::string& text) {
    std::string out = AsUtf8(text);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return Trim(out);
}

// Stands in the list for an entry whose file cannot be opened now: it keeps
// the entry's name and place, and never plays.
class UnavailableEntry : public MediaSource {
public:
    explicit UnavailableEntry(const std::string& fileName) {
        location_ = fileName;
        const size_t slash = fileName.find_last_of('/');
        title_ = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
        const size_t dot = title_.find_last_of('.');
        if (dot != std::string::npos && dot > 0) title_.resize(dot);
    }
    int32_t GetPosition() override { return 0; }
    void Seek(int32_t) override {}
    void GetLevels(float& left, float& right) override { left = right = 0.0f; }
    void GetSpectrum(float*) override {}
    int Open() override { return 0; }
    void Close() override {}
    void Play() override {}
    void Stop() override {}
    void FastForward() override {}
    void Rewind() override {}
    void Tick() override {}
    int IsPlaying() override { return 0; }
    int LoadInfo() override { return 0; }
    void EnableMetering(int) override {}
    void SetBandCount(int) override {}
};

// The item for a file, or null when its source cannot read it; says nothing:
// loading a list tells once about all its entries.
std::unique_ptr<MediaSource> OpenQuietly(const SourceFactory& sources,
                                         const std::string& fileName) {
    std::unique_ptr<MediaSource> source = sources.Create(fileName);
    if (!source) return nullptr;
    source->SetLocation(fileName);
    if (source->LoadInfo() == 0) return nullptr;
    return source;
}

}  // namespace

bool IsPlaylistName(const std::string& name) {
    // A name without a dot has no extension, whatever FileExtension makes of it.
    if (name.substr(name.find_last_of('/') + 1).find('.') == std::string::npos) return false;
    return ExtensionIs(name, "pls") || ExtensionIs(name, "m3u") || ExtensionIs(name, "m3u8");
}

bool Playlist::Reset() {
    Clear();
    modified_ = false;
    path_.clear();
    isM3u_ = false;
    return true;
}

int Playlist::AddFile(const std::string& fileName) {
    std::unique_ptr<MediaSource> source = sources_.Create(fileName);
    if (!source) return -1;
    source->SetLocation(fileName);
    if (source->LoadInfo() == 0) {
        // A file the user chose: they hear why it was not added.
        if (std::optional<UserMessage> error = source->TakeError()) ReportError(std::move(*error));
        return -1;
    }
    return Append(std::move(source));
}

bool Playlist::AppendListFile(const std::string& path, int& unavailable, bool& m3u) {
    unavailable = 0;
    // A save of this list that was cut short left its temporary file here.
    io::RemoveStaleTemporaries(path);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return false;
    const std::string folder = FolderOf(path);
    for (const auto& entry : ParsePlaylistEntries(bytes, m3u, ExtensionIs(path, "m3u8"))) {
        const std::string fileName = ResolveEntry(entry.value, folder);
        EntryNote note;
        note.title = entry.title;
        if (entry.lengthSec >= 0) note.lengthMs = entry.lengthSec * 1000;
        std::unique_ptr<MediaSource> item = OpenQuietly(sources_, fileName);
        if (!item) {
            // Kept, so that a disk not mounted now or a file being copied
            // does not cost the entry; it plays once its file is back.
            item = std::make_unique<UnavailableEntry>(fileName);
            note.unavailable = true;
            ++unavailable;
        }
        SetNote(Append(std::move(item)), std::move(note));
    }
    return true;
}

bool Playlist::Load(const std::string& path) {
    Reset();
    path_ = path;
    int unavailable = 0;
    bool m3u = false;
    bool ok = AppendListFile(path_, unavailable, m3u);
    isM3u_ = m3u;
    modified_ = false;
    if (unavailable > 0) ReportError(strings::kPlaylistEntriesUnavailable, path);
    return ok;
}

bool Playlist::AddList(const std::string& path) {
    int unavailable = 0;
    bool m3u = false;
    bool ok = AppendListFile(path, unavailable, m3u);
    if (unavailable > 0) ReportError(strings::kPlaylistEntriesUnavailable, path);
    return ok;
}

bool Playlist::TryRestore(int index) {
    if (!IsUnavailable(index)) return ItemAt(index) != nullptr;
    std::unique_ptr<MediaSource> item = OpenQuietly(sources_, ItemAt(index)->GetLocation());
    if (!item) return false;
    ReplaceItem(index, std::move(item));
    MarkUnavailable(index, false);
    return true;
}

std::vector<PlaylistEntry> ParsePlaylistEntries(const std::string& bytes, bool& isM3u, bool utf8) {
    std::string text = bytes;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.erase(0, 3);
    else if (!utf8)
        text = AsUtf8(text);
    std::vector<std::string> lines = SplitLines(text);
    isM3u = lines.empty() || Lower(Trim(lines[0])) != "[playlist]";
    return isM3u ? ParseM3u(lines) : ParsePls(lines);
}

std::vector<std::string> ParsePlaylistText(const std::string& bytes, bool& isM3u) {
    std::vector<std::string> values;
    for (auto& entry : ParsePlaylistEntries(bytes, isM3u)) values.push_back(std::move(entry.value));
    return values;
}

std::string Playlist::Serialize() const {
    const std::string folder = FolderOf(path_);
    std::string out = isM3u_ ? "#EXTM3U\r\n" : "[playlist]\r\n";
    for (int n = 1; n <= Count(); ++n) {
        const MediaSource* item = ItemAt(n - 1);
        const EntryNote& note = NoteAt(n - 1);
        const std::string name = StoredEntry(item->GetLocation(), folder);
        std::string title = TitleAt(n - 1);
        // A title the file gave goes out as "Artist - Title"; one the list
        // gave is kept as it was written.
        if (title != note.title && !item->GetArtist().empty())
            title = item->GetArtist() + " - " + title;
        title = OneLine(title);
        const int32_t ms = item->GetDuration() > 0 ? item->GetDuration() : note.lengthMs;
        const std::string seconds = std::to_string(ms < 0 ? -1 : (ms + 500) / 1000);
        if (isM3u_) {
            out += "#EXTINF:" + seconds + "," + title + "\r\n" + name + "\r\n";
        } else {
            const std::string number = std::to_string(n);
            out += "File" + number + "=" + name + "\r\n";
            out += "Title" + number + "=" + title + "\r\n";
            out += "Length" + number + "=" + seconds + "\r\n";
        }
    }
    if (!isM3u_) out += "NumberOfEntries=" + std::to_string(Count()) + "\r\nVersion=2\r\n";
    return out;
}

bool Playlist::Save() {
    if (!modified_) return true;
    if (path_.empty()) return false;
    io::RemoveStaleTemporaries(path_);
    // The list keeps its mode, and a list reached through a link stays a link.
    if (!io::WriteFileAtomically(path_, Serialize())) return false;
    modified_ = false;
    return true;
}

bool Playlist::SaveTo(const std::string& path) {
    path_ = path;
    modified_ = true;
    return Save();
}

}  // namespace tunara
