#include "playlist/Playlist.h"

#include <vector>

#include "platform/io/AtomicFile.h"
#include "platform/io/OwnFile.h"
#include "playlist/PlaylistPaths.h"
#include "sources/SourceFactory.h"

namespace tunara {

namespace {

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    return io::ReadOwnFile(path, bytes) == io::OwnFileStatus::kOk;
}

// Lines end at the first CR or LF; any run of CR and LF after it is skipped,
// so empty lines vanish.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(pos, end - pos));
        pos = bytes.find_first_not_of("\r\n", end);
        if (pos == std::string::npos) break;
    }
    return lines;
}

}  // namespace

bool Playlist::Reset() {
    Clear();
    modified_ = false;
    path_.clear();
    isM3u_ = false;
    return true;
}

int Playlist::AddFile(const std::string& fileName) {
    std::unique_ptr<MediaSource> source = CreateSourceFor(fileName);
    if (!source) return -1;
    source->SetLocation(fileName);
    if (source->LoadInfo() == 0) return -1;
    return Append(std::move(source));
}

bool Playlist::Load(const std::string& path) {
    Reset();
    path_ = path;
    std::string folder = FolderOf(path);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return false;

    for (const auto& value : ParsePlaylistText(bytes, isM3u_)) AddFile(ResolveEntry(value, folder));
    modified_ = false;
    return true;
}

std::vector<std::string> ParsePlaylistText(const std::string& bytes, bool& isM3u) {
    std::vector<std::string> lines = SplitLines(bytes);
    std::vector<std::string> values;
    isM3u = lines.empty() || lines[0] != "[playlist]";
    for (size_t i = isM3u ? 0 : 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (isM3u) {
            // "#" lines are comments, among them extended M3U's #EXTM3U and #EXTINF.
            if (!line.empty() && line[0] != '#') values.push_back(line);
            continue;
        }
        // Only "FileN=" lines name entries; the number is not used, the file
        // order is.
        auto eq = line.find('=');
        if (eq == std::string::npos || line.compare(0, 4, "File") != 0) continue;
        if (eq + 1 < line.size()) values.push_back(line.substr(eq + 1));
    }
    return values;
}

std::string Playlist::Serialize() const {
    std::string folder = FolderOf(path_);
    std::string out;
    if (!isM3u_) out += "[playlist]\r\n";
    for (int n = 1; n <= Count(); ++n) {
        std::string name = StoredEntry(ItemAt(n - 1)->GetLocation(), folder);
        if (isM3u_)
            out += name + "\r\n";
        else
            out += "File" + std::to_string(n) + "=" + name + "\r\n";
    }
    if (!isM3u_) out += "NumberOfEntries=" + std::to_string(Count()) + "\r\n";
    return out;
}

bool Playlist::Save() {
    if (!modified_) return true;
    if (path_.empty()) return false;
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

Playlist& ThePlaylist() {
    static Playlist playlist;
    return playlist;
}

}  // namespace tunara
