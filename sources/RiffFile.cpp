#include "sources/RiffFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/io/OpenRegular.h"

namespace tunara {
namespace {

uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

class FileIo : public RiffIo {
public:
    explicit FileIo(int fd) : fd_(fd) {}
    ~FileIo() override { Close(); }

    int64_t Read(void* buffer, int64_t bytes) override {
        if (fd_ < 0 || bytes < 0) return -1;
        auto* out = static_cast<uint8_t*>(buffer);
        int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(bytes - done),
                                      static_cast<off_t>(pos_ + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return done > 0 ? done : -1;
            if (n == 0) break;
            done += n;
        }
        pos_ += done;
        return done;
    }

    int64_t Write(const void* buffer, int64_t bytes) override {
        if (fd_ < 0 || bytes < 0) return -1;
        const auto* in = static_cast<const uint8_t*>(buffer);
        int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(bytes - done),
                                       static_cast<off_t>(pos_ + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return done > 0 ? done : -1;
            done += n;
        }
        pos_ += done;
        return done;
    }

    int64_t Seek(int64_t offset, int whence) override {
        if (fd_ < 0) return -1;
        int64_t base = 0;
        if (whence == SEEK_CUR) base = pos_;
        if (whence == SEEK_END) {
            base = Size();
            if (base < 0) return -1;
        }
        if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) ||
            base + offset < 0) {
            return -1;
        }
        pos_ = base + offset;
        return pos_;
    }

    int64_t Size() override {
        if (fd_ < 0) return -1;
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        return end < 0 ? -1 : static_cast<int64_t>(end);
    }

    bool Close() override {
        if (fd_ < 0) return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
    int64_t pos_ = 0;  // our own position: pread/pwrite leave the descriptor's alone
};

class MemoryIo : public RiffIo {
public:
    MemoryIo(const uint8_t* data, size_t size) : data_(data), size_(static_cast<int64_t>(size)) {}

    int64_t Read(void* buffer, int64_t bytes) override {
        if (bytes < 0) return -1;
        const int64_t n = std::clamp<int64_t>(size_ - pos_, 0, bytes);
        if (n > 0) std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return -1; }
    int64_t Seek(int64_t offset, int whence) override {
        const int64_t base = whence == SEEK_CUR ? pos_ : whence == SEEK_END ? size_ : 0;
        if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) ||
            base + offset < 0) {
            return -1;
        }
        pos_ = base + offset;
        return pos_;
    }
    int64_t Size() override { return size_; }
    bool Close() override { return true; }

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

}  // namespace

std::unique_ptr<RiffIo> OpenRiffFileIo(const std::filesystem::path& path, RiffOpenMode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case RiffOpenMode::Read:
            flags |= O_RDONLY;
            break;
        case RiffOpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case RiffOpenMode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
    }
    // Reading refuses FIFOs and devices instead of blocking on them.
    const int fd = mode == RiffOpenMode::Create ? ::open(path.c_str(), flags, 0666)
                                                : io::OpenRegularFile(path, flags);
    if (fd < 0) return nullptr;
    return std::make_unique<FileIo>(fd);
}

std::unique_ptr<RiffIo> MakeRiffMemoryIo(const uint8_t* data, size_t size) {
    return std::make_unique<MemoryIo>(data, size);
}

const char* RiffStatusText(RiffStatus status) {
    switch (status) {
        case RiffStatus::Ok:
            return "ok";
        case RiffStatus::ChunkNotFound:
            return "chunk not found";
        case RiffStatus::CannotRead:
            return "cannot read";
        case RiffStatus::CannotWrite:
            return "cannot write";
        case RiffStatus::CannotSeek:
            return "cannot seek";
    }
    return "unknown status";
}

RiffFile::RiffFile(std::unique_ptr<RiffIo> io) : io_(std::move(io)) {}

RiffFile::~RiffFile() {
    Close();
}

bool RiffFile::ReadHeader(RiffChunk& chunk, int64_t limit, bool withForm) {
    const int64_t start = io_->Seek(0, SEEK_CUR);
    if (start < 0 || start + 8 > limit) return false;
    uint8_t head[12];
    if (io_->Read(head, 8) != 8) return false;
    chunk.id = LoadLe32(head);
    chunk.size = LoadLe32(head + 4);
    chunk.dataOffset = start + 8;
    chunk.formType = 0;
    chunk.created = false;
    if (withForm && (chunk.id == kRiffId || chunk.id == kListId)) {
        if (start + 12 > limit || io_->Read(head + 8, 4) != 4) return false;
        chunk.formType = LoadLe32(head + 8);
    }
    return true;
}

RiffStatus RiffFile::Descend(RiffChunk& chunk, const RiffChunk* parent, RiffFind find) {
    if (!io_) return RiffStatus::CannotSeek;
    const int64_t start = io_->Seek(0, SEEK_CUR);
    if (start < 0) return RiffStatus::CannotSeek;
    int64_t limit = std::numeric_limits<int64_t>::max();
    if (parent) limit = parent->EndOffset();
    const int64_t fileSize = io_->Size();
    if (fileSize >= 0) limit = std::min(limit, fileSize);

    const FourCC wantId = find == RiffFind::Riff   ? kRiffId
                          : find == RiffFind::List ? kListId
                                                   : chunk.id;
    RiffChunk found;
    for (int64_t at = start;;) {
        if (io_->Seek(at, SEEK_SET) != at) break;
        if (!ReadHeader(found, limit, true)) break;
        bool match = find == RiffFind::Here || found.id == wantId;
        if (match && (find == RiffFind::Riff || find == RiffFind::List)) {
            match = found.formType == chunk.formType;
        }
        if (match) {
            const int64_t dataAt = found.dataOffset + (found.formType != 0 ? 4 : 0);
            if (io_->Seek(dataAt, SEEK_SET) != dataAt) return RiffStatus::CannotSeek;
            chunk = found;
            return RiffStatus::Ok;
        }
        if (find == RiffFind::Here) break;
        // Every step moves at least 8 bytes, so a search always ends.
        at = found.EndOffset() + (found.size & 1);
    }
    io_->Seek(start, SEEK_SET);
    return RiffStatus::ChunkNotFound;
}

RiffStatus RiffFile::Ascend(RiffChunk& chunk) {
    if (!io_) return RiffStatus::CannotSeek;
    if (chunk.created) {
        const int64_t end = io_->Seek(0, SEEK_CUR);
        if (end < chunk.dataOffset) return RiffStatus::CannotSeek;
        const int64_t size = end - chunk.dataOffset;
        if (size > std::numeric_limits<uint32_t>::max()) return RiffStatus::CannotWrite;
        chunk.size = static_cast<uint32_t>(size);
        if (chunk.size & 1) {
            const uint8_t pad = 0;
            if (io_->Write(&pad, 1) != 1) return RiffStatus::CannotWrite;
        }
        const RiffStatus status = WriteChunkSize(chunk);
        if (status != RiffStatus::Ok) return status;
        chunk.created = false;
    }
    const int64_t after = chunk.EndOffset() + (chunk.size & 1);
    if (io_->Seek(after, SEEK_SET) != after) return RiffStatus::CannotSeek;
    return RiffStatus::Ok;
}

RiffStatus RiffFile::CreateChunk(RiffChunk& chunk, RiffFind kind) {
    if (!io_) return RiffStatus::CannotWrite;
    const int64_t start = io_->Seek(0, SEEK_CUR);
    if (start < 0) return RiffStatus::CannotSeek;
    uint8_t head[12];
    const bool withForm = kind == RiffFind::Riff || kind == RiffFind::List;
    if (kind == RiffFind::Riff) chunk.id = kRiffId;
    if (kind == RiffFind::List) chunk.id = kListId;
    StoreLe32(head, chunk.id);
    StoreLe32(head + 4, withForm ? 4 : 0);
    StoreLe32(head + 8, chunk.formType);
    const int64_t headBytes = withForm ? 12 : 8;
    if (io_->Write(head, headBytes) != headBytes) return RiffStatus::CannotWrite;
    chunk.size = withForm ? 4 : 0;
    chunk.dataOffset = start + 8;
    chunk.created = true;
    return RiffStatus::Ok;
}

RiffStatus RiffFile::WriteChunkSize(const RiffChunk& chunk) {
    if (!io_) return RiffStatus::CannotWrite;
    const int64_t keep = io_->Seek(0, SEEK_CUR);
    if (keep < 0 || io_->Seek(chunk.dataOffset - 4, SEEK_SET) != chunk.dataOffset - 4) {
        return RiffStatus::CannotSeek;
    }
    uint8_t field[4];
    StoreLe32(field, chunk.size);
    const bool ok = io_->Write(field, 4) == 4;
    if (io_->Seek(keep, SEEK_SET) != keep) return RiffStatus::CannotSeek;
    return ok ? RiffStatus::Ok : RiffStatus::CannotWrite;
}

int64_t RiffFile::Read(void* buffer, int64_t bytes) {
    return io_ ? io_->Read(buffer, bytes) : -1;
}
int64_t RiffFile::Write(const void* buffer, int64_t bytes) {
    return io_ ? io_->Write(buffer, bytes) : -1;
}
int64_t RiffFile::Seek(int64_t offset, int whence) {
    return io_ ? io_->Seek(offset, whence) : -1;
}
int64_t RiffFile::Tell() {
    return io_ ? io_->Seek(0, SEEK_CUR) : -1;
}
int64_t RiffFile::FileSize() {
    return io_ ? io_->Size() : -1;
}

bool RiffFile::Close() {
    if (!io_) return true;
    const bool ok = io_->Close();
    io_.reset();
    return ok;
}

}  // namespace tunara
