#pragma once
// Serialises read-modify-write of a file within the process (a mutex) and
// between processes (an advisory lock on ".NAME.lock" beside the file).
#include <filesystem>
#include <mutex>

namespace tunara::io {

class FileLock {
public:
    explicit FileLock(const std::filesystem::path& file);
    ~FileLock();  // closing drops the lock
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    std::lock_guard<std::mutex> guard_;
    int fd_ = -1;
};

}  // namespace tunara::io
