#include "metadata/ContainerTags.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "metadata/TextCodec.h"
#include "platform/io/OpenRegular.h"

namespace tunara {
namespace {

// More than any title needs; the walk stops after this many chunks or objects.
constexpr uint32_t kMaxText = 4096;
constexpr int kMaxItems = 512;

class Reader {
public:
    explicit Reader(const std::string& path) : fd_(io::OpenRegularFile(path, O_RDONLY)) {
        struct stat st;
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0) size_ = st.st_size;
    }
    ~Reader() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Read(int64_t at, void* out, size_t n) const {
        return fd_ >= 0 && at >= 0 && at + int64_t(n) <= size_ &&
               ::pread(fd_, out, n, off_t(at)) == ssize_t(n);
    }
    std::string Text(int64_t at, uint64_t n) const {
        std::string s(size_t(std::min<uint64_t>(n, kMaxText)), '\0');
        if (!Read(at, s.data(), s.size())) return {};
        return s;
    }
    int64_t Size() const { return size_; }

private:
    int fd_;
    int64_t size_ = 0;
};

std::string Clean(std::string text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    text = text::Utf8OrLatin1(text);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

bool ReadAiff(const Reader& r, ContainerTags& tags) {
    for (int64_t at = 12, items = 0; at + 8 <= r.Size() && items < kMaxItems; ++items) {
        uint8_t head[8];
        if (!r.Read(at, head, 8)) break;
        const uint32_t size = Be32(head + 4);
        std::string* field = std::memcmp(head, "NAME", 4) == 0   ? &tags.title
                             : std::memcmp(head, "AUTH", 4) == 0 ? &tags.artist
                                                                 : nullptr;
        if (field && field->empty()) *field = Clean(r.Text(at + 8, size));
        at += 8 + int64_t(size) + (size & 1);
    }
    return true;
}

// The GUIDs of ASF objects, as stored.
constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfContent[16] = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfExtendedContent[16] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                             0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

std::string Utf16(const Reader& r, int64_t at, uint64_t bytes) {
    const std::string raw = r.Text(at, bytes);
    return Clean(text::Utf16ToUtf8(reinterpret_cast<const uint8_t*>(raw.data()),
                                   raw.size() & ~size_t{1}, false));
}

void ReadExtendedContent(const Reader& r, int64_t at, int64_t end, ContainerTags& tags) {
    uint8_t count[2];
    if (!r.Read(at, count, 2)) return;
    at += 2;
    for (int i = 0; i < Le16(count) && i < kMaxItems && at < end; ++i) {
        uint8_t len[2], type[4];
        if (!r.Read(at, len, 2)) return;
        const std::string name = Utf16(r, at + 2, Le16(len));
        at += 2 + Le16(len);
        if (!r.Read(at, type, 4)) return;
        const uint16_t valueType = Le16(type), valueBytes = Le16(type + 2);
        at += 4;
        if (valueType == 0) {  // a UTF-16 string
            std::string* field = name == "WM/AlbumTitle" ? &tags.album
                                 : name == "WM/Genre"    ? &tags.genre
                                                         : nullptr;
            if (field && field->empty()) *field = Utf16(r, at, valueBytes);
        }
        at += valueBytes;
    }
}

bool ReadAsf(const Reader& r, ContainerTags& tags) {
    uint8_t head[30];
    if (!r.Read(0, head, 30)) return false;
    const int64_t headerEnd = int64_t(std::min<uint64_t>(Le64(head + 16), uint64_t(r.Size())));
    int64_t at = 30;
    for (int items = 0; at + 24 <= headerEnd && items < kMaxItems; ++items) {
        uint8_t object[24];
        if (!r.Read(at, object, 24)) break;
        const uint64_t size = Le64(object + 16);
        if (size < 24 || size > uint64_t(headerEnd - at)) break;
        if (std::memcmp(object, kAsfContent, 16) == 0) {
            uint8_t lengths[10];
            if (r.Read(at + 24, lengths, 10)) {
                const uint16_t title = Le16(lengths), author = Le16(lengths + 2);
                if (tags.title.empty()) tags.title = Utf16(r, at + 34, title);
                if (tags.artist.empty()) tags.artist = Utf16(r, at + 34 + title, author);
            }
        } else if (std::memcmp(object, kAsfExtendedContent, 16) == 0) {
            ReadExtendedContent(r, at + 24, at + int64_t(size), tags);
        }
        at += int64_t(size);
    }
    return true;
}

}  // namespace

bool ReadContainerTags(const std::string& path, ContainerTags& tags) {
    tags = {};
    const Reader r(path);
    uint8_t head[16];
    if (!r.Read(0, head, sizeof head)) return false;
    if (std::memcmp(head, "FORM", 4) == 0 &&
        (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0))
        return ReadAiff(r, tags);
    if (std::memcmp(head, kAsfHeader, 16) == 0) return ReadAsf(r, tags);
    return false;
}

}  // namespace tunara
