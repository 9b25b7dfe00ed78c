#pragma once
// The readers under test take paths: each input is written to one scratch
// file per process, which is removed at exit.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace tunara::fuzz {

class ScratchFile {
public:
    ScratchFile() {
        char name[] = "/tmp/tunara-fuzz-XXXXXX";
        fd_ = ::mkstemp(name);
        path_ = name;
    }
    ~ScratchFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    // Replaces the content; the path stays.
    const std::string& Hold(const uint8_t* data, size_t size) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, off_t(done));
            if (n <= 0) std::abort();
            done += size_t(n);
        }
        return path_;
    }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

inline ScratchFile& Scratch() {
    static ScratchFile file;
    return file;
}

}  // namespace tunara::fuzz
