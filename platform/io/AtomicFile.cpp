#include "platform/io/AtomicFile.h"

#include "platform/io/SaveStages.h"
#include "platform/io/WriteAll.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace tunara::io {

namespace {

mode_t ModeFor(const std::string& path, const AtomicWriteOptions& options) {
    if (options.mode) return *options.mode;
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) return old.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// mkstemp's six characters after ".NAME.".
bool IsTemporaryOf(const std::string& entry, const std::string& prefix) {
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (size_t i = prefix.size(); i < entry.size(); ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

}  // namespace

int RemoveStaleTemporaries(const std::string& path, std::chrono::seconds minAge) {
    const std::filesystem::path file(path);
    const std::string base = file.filename().string();
    if (base.empty()) return 0;
    std::string folder = file.parent_path().string();
    if (folder.empty()) folder = ".";
    const std::string prefix = "." + base + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (!IsTemporaryOf(name, prefix)) continue;
        const std::string full = folder + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (now - st.st_mtime < minAge.count()) continue;
        if (::unlink(full.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool WriteFileAtomically(const std::string& requested, std::string_view bytes,
                         const AtomicWriteOptions& options) {
    std::string path = requested;
    struct stat link {};
    if (::lstat(requested.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* target = ::realpath(requested.c_str(), nullptr)) {
            path = target;
            std::free(target);
        }
    }
    const std::filesystem::path file(path);
    const std::string base = file.filename().string();
    if (base.empty()) return false;
    std::string folder = file.parent_path().string();
    if (folder.empty()) folder = ".";

    std::string temp = folder + "/." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    using internal::SaveStageAllows;
    bool ok = ::fchmod(fd, ModeFor(path, options)) == 0 &&
              WriteAll(fd, bytes.data(), bytes.size()) == 0 && SaveStageAllows("write") &&
              ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // A crash here leaves only a stray temporary file beside the intact old one.
    if (!SaveStageAllows("rename")) return false;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

namespace internal {

namespace {
std::mutex g_stageMutex;
std::function<bool(std::string_view)> g_stageCheck;
}  // namespace

void SetSaveStageCheck(std::function<bool(std::string_view stage)> check) {
    std::lock_guard lock(g_stageMutex);
    g_stageCheck = std::move(check);
}

bool SaveStageAllows(std::string_view stage) {
    std::lock_guard lock(g_stageMutex);
    return !g_stageCheck || g_stageCheck(stage);
}

}  // namespace internal

}  // namespace tunara::io
