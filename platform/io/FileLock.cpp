#include "platform/io/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace tunara::io {

namespace {

std::mutex& ProcessMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

FileLock::FileLock(const std::filesystem::path& file) : guard_(ProcessMutex()) {
    const auto lockPath = file.parent_path() / ("." + file.filename().string() + ".lock");
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tunara::io
