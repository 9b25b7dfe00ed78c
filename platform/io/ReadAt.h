#pragma once
// Positioned reads that do not move the descriptor's own offset.
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace tunara::io {

// Reads up to `count` bytes at `offset`, retrying short and interrupted reads;
// the byte count read (short only at the end of the file), or -1 with errno set.
inline ssize_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, static_cast<uint8_t*>(buffer) + done, count - done,
                                  static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace tunara::io
