#include "playlist/Playlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "playlist/PlaylistPaths.h"
#include "playlist/SourceFactory.h"

namespace tunara {

namespace {

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
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

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
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
            if (!line.empty()) values.push_back(line);
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
    if (!WriteFileAtomically(path_, Serialize())) return false;
    modified_ = false;
    return true;
}

bool Playlist::SaveTo(const std::string& path) {
    path_ = path;
    modified_ = true;
    return Save();
}

bool WriteFileAtomically(const std::string& requested, const std::string& bytes) {
    // Replace the file a symbolic link points at, not the link.
    std::string path = requested;
    struct stat link {};
    if (::lstat(requested.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* target = ::realpath(requested.c_str(), nullptr);
        if (target) {
            path = target;
            std::free(target);
        }
    }
    std::string folder = FolderOf(path);
    std::string base = path.substr(folder.size());
    if (base.empty()) return false;
    std::string tempName = folder + "." + base + ".XXXXXX";
    std::vector<char> temp(tempName.begin(), tempName.end());
    temp.push_back('\0');
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;

    // Keep the mode of the list being replaced; a new list gets the usual
    // mode for new files.
    struct stat old {};
    mode_t mode;
    if (::stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.data(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.data());
        return false;
    }
    // Make the rename itself durable.
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

Playlist& ThePlaylist() {
    static Playlist playlist;
    return playlist;
}

}  // namespace tunara
