#include "record/RecordFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

namespace tunara {

namespace fs = std::filesystem;

namespace {

// mkstemps on a template "<prefix>XXXXXX<suffix>".
std::string CreateUnique(const std::string& prefix, const std::string& suffix, std::string& error) {
    std::string templ = prefix + "XXXXXX" + suffix;
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    int fd = ::mkstemps(buf.data(), int(suffix.size()));
    if (fd < 0) {
        error = std::strerror(errno);
        return {};
    }
    ::close(fd);
    return std::string(buf.data());
}

std::string NumberedName(const std::string& stem, int n, const std::string& ext) {
    return n == 1 ? stem + ext : stem + " (" + std::to_string(n) + ")" + ext;
}

}  // namespace

std::string RecordTempFolder() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? std::string(dir) : std::string("/tmp");
}

std::string CreateTempWav(const std::string& folder, const std::string& name, std::string& error) {
    std::string path = CreateUnique(folder + "/" + name + "-", ".wav", error);
    if (path.empty()) error = "Cannot create a temporary file in " + folder + ": " + error + ".";
    return path;
}

bool PrepareOutputFolder(const std::string& folder, std::string& error) {
    if (folder.empty()) {
        error = "No folder is set for recorded files.";
        return false;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "Cannot create the folder " + folder + ": " + ec.message() + ".";
        return false;
    }
    if (!fs::is_directory(folder, ec)) {
        error = folder + " is not a folder.";
        return false;
    }
    std::string why;
    std::string probe = CreateUnique(folder + "/.tunara-", ".probe", why);
    if (probe.empty()) {
        error = "Cannot write to the folder " + folder + ": " + why + ".";
        return false;
    }
    ::unlink(probe.c_str());
    return true;
}

std::string FreeOutputPath(const std::string& folder, const std::string& name,
                           const std::string& ext) {
    std::string stem = folder + "/" + name;
    std::error_code ec;
    for (int n = 1;; ++n) {
        std::string path = NumberedName(stem, n, ext);
        if (!fs::exists(fs::symlink_status(path, ec))) return path;
    }
}

std::string CreatePartialFile(const std::string& finalPath, std::string& error) {
    fs::path p(finalPath);
    std::string folder = p.parent_path().string();
    std::string prefix =
        (folder.empty() ? std::string() : folder + "/") + "." + p.stem().string() + ".";
    // Created with the usual permissions (not mkstemp's 0600): the file keeps
    // them under its final name.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%08x", unsigned(random()));
        std::string path = prefix + tag + p.extension().string();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) break;
    }
    error = "Cannot create a file in " + folder + ": " + std::strerror(errno) + ".";
    return {};
}

std::string CommitPartialFile(const std::string& partialPath, const std::string& finalPath,
                              std::string& error) {
    fs::path p(finalPath);
    std::string stem = (p.parent_path() / p.stem()).string();
    std::string ext = p.extension().string();
    for (int n = 1; n < 10000; ++n) {
        std::string target = NumberedName(stem, n, ext);
        if (::renameat2(AT_FDCWD, partialPath.c_str(), AT_FDCWD, target.c_str(),
                        RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EEXIST) continue;
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without no-replace renames: a hard link is just as exclusive.
            if (::link(partialPath.c_str(), target.c_str()) == 0) {
                ::unlink(partialPath.c_str());
                return target;
            }
            if (errno == EEXIST) continue;
        }
        error = "Cannot name the file " + target + ": " + std::strerror(errno) + ".";
        return {};
    }
    error = "Cannot find a free name for " + finalPath + ".";
    return {};
}

void RemoveFile(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace tunara
