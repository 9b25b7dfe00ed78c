#include "platform/io/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace tunara::io {

namespace {

template <typename Write>
int Loop(const void* data, size_t count, Write write) {
    auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(p + done, count - done, done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;  // no progress: never spin
        done += size_t(n);
    }
    return 0;
}

}  // namespace

int WriteAll(int fd, const void* data, size_t count) {
    return Loop(data, count,
                [fd](const uint8_t* p, size_t n, size_t) { return ::write(fd, p, n); });
}

int WriteAllAt(int fd, const void* data, size_t count, int64_t offset) {
    return Loop(data, count, [fd, offset](const uint8_t* p, size_t n, size_t done) {
        return ::pwrite(fd, p, n, off_t(offset + int64_t(done)));
    });
}

}  // namespace tunara::io
