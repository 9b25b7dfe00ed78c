#pragma once
// Opening media files without blocking on things that only look like files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tunara::io {

// Opens `path` with `flags` (O_RDONLY, O_RDWR, ...) only when it names a
// regular file. A FIFO or device would block a plain open() until a peer
// appears, and a read from it never ends, so the open is made non-blocking,
// checked, and only then switched back. Returns the descriptor, or -1 with
// errno set (EINVAL for anything that is not a regular file).
inline int OpenRegularFile(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

// True when a local path names something other than a regular file (FIFO,
// socket, device, folder). Missing files answer false: their own open reports them.
inline bool IsLocalNonRegularFile(const std::string& path) {
    struct stat st;
    if (path.find("://") != std::string::npos) return false;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace tunara::io
