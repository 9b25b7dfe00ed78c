#include "platform/io/OwnFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

#include "platform/io/OpenRegular.h"

namespace tunara::io {

namespace {

OwnFileStatus Fail(OwnFileStatus status, std::string& bytes) {
    bytes.clear();
    return status;
}

}  // namespace

std::optional<UserMessage> OwnFileNotice(const std::string& path, OwnFileStatus status) {
    if (status == OwnFileStatus::kOk || status == OwnFileStatus::kMissing) return std::nullopt;
    static std::mutex mutex;
    static std::set<std::pair<std::string, OwnFileStatus>> told;
    {
        std::lock_guard lock(mutex);
        if (!told.emplace(path, status).second) return std::nullopt;
    }
    const char* text =
        status == OwnFileStatus::kNotRegular ? "%1 is not a regular file; it is not read."
        : status == OwnFileStatus::kTooLarge ? "%1 is larger than 16 MB; it is not read."
                                             : "The file %1 could not be read.";
    return UserMessage{0, text, path};
}

OwnFileStatus ReadOwnFile(const std::string& path, std::string& bytes) {
    constexpr uint64_t maxBytes = kOwnFileMaxBytes;
    bytes.clear();
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return Fail(OwnFileStatus::kMissing, bytes);
        return Fail(errno == EINVAL || errno == ENXIO ? OwnFileStatus::kNotRegular
                                                      : OwnFileStatus::kReadError,
                    bytes);
    }
    struct stat st {};
    OwnFileStatus status = OwnFileStatus::kOk;
    if (::fstat(fd, &st) != 0) {
        status = OwnFileStatus::kReadError;
    } else if (uint64_t(st.st_size) > maxBytes) {
        status = OwnFileStatus::kTooLarge;
    } else {
        bytes.resize(size_t(st.st_size));
        size_t done = 0;
        // The file may grow while it is read: one byte past the cap tells.
        for (;;) {
            if (done == bytes.size()) {
                if (bytes.size() > maxBytes) break;
                bytes.resize(std::min<uint64_t>(maxBytes + 1, bytes.size() + 65536));
            }
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                status = OwnFileStatus::kReadError;
                break;
            }
            if (n == 0) break;
            done += size_t(n);
        }
        bytes.resize(done);
        if (status == OwnFileStatus::kOk && done > maxBytes) status = OwnFileStatus::kTooLarge;
    }
    ::close(fd);
    if (status != OwnFileStatus::kOk) return Fail(status, bytes);
    return status;
}

}  // namespace tunara::io
