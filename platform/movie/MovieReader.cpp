#include "platform/movie/MovieReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/io/OpenRegular.h"
#include "platform/io/ReadAt.h"

namespace tunara::movie {

namespace {

constexpr uint64_t kMaxMovieResource = 64u << 20;

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint16_t Be16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint64_t Be64(const uint8_t* p) {
    return uint64_t(Be32(p)) << 32 | Be32(p + 4);
}
constexpr uint32_t Type(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

struct Span {
    const uint8_t* p = nullptr;
    size_t n = 0;
};

// The first child atom of `type` inside `parent` (its payload), or an empty span.
bool Child(Span parent, uint32_t type, Span& out, size_t skip = 0) {
    size_t at = skip;
    while (at + 8 <= parent.n) {
        uint64_t size = Be32(parent.p + at);
        size_t header = 8;
        if (size == 1) {
            if (at + 16 > parent.n) return false;
            size = Be64(parent.p + at + 8);
            header = 16;
        } else if (size == 0) {
            size = parent.n - at;
        }
        if (size < header || size > parent.n - at) return false;
        if (Be32(parent.p + at + 4) == type) {
            out = {parent.p + at + header, size_t(size) - header};
            return true;
        }
        at += size_t(size);
    }
    return false;
}

}  // namespace

const char* MovieReadStatusText(MovieReadStatus status) {
    switch (status) {
        case MovieReadStatus::kOk:
            return "success";
        case MovieReadStatus::kCannotOpen:
            return "cannot open or read the file";
        case MovieReadStatus::kNotAMovie:
            return "not a movie";
        case MovieReadStatus::kNoSound:
            return "the movie has no sound track";
        case MovieReadStatus::kBadTable:
            return "the sound track's sample table is damaged";
    }
    return "unknown status";
}

MovieReader::~MovieReader() {
    Close();
}

void MovieReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    memory_.clear();
    inMemory_ = false;
    fileSize_ = 0;
    sound_ = SoundTrackInfo{};
    offsets_.clear();
    sizes_.clear();
    times_.clear();
}

bool MovieReader::ReadAt(uint64_t offset, void* data, size_t bytes) {
    if (offset > fileSize_ || bytes > fileSize_ - offset) return false;
    if (bytes == 0) return true;
    if (inMemory_) {
        std::memcpy(data, memory_.data() + offset, bytes);
        return true;
    }
    // Short means the file was cut after it was opened: an error, not silence.
    return fd_ >= 0 && io::ReadAt(fd_, data, bytes, int64_t(offset)) == ssize_t(bytes);
}

MovieReadStatus MovieReader::Open(const std::string& path) {
    Close();
    // A FIFO or device named like a movie would block the open or never end.
    fd_ = io::OpenRegularFile(path, O_RDONLY);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        Close();
        return MovieReadStatus::kCannotOpen;
    }
    fileSize_ = uint64_t(st.st_size);
    return Parse();
}

MovieReadStatus MovieReader::OpenMemory(std::vector<uint8_t> bytes) {
    Close();
    memory_ = std::move(bytes);
    inMemory_ = true;
    fileSize_ = memory_.size();
    return Parse();
}

bool MovieReader::ReadSample(size_t i, std::vector<uint8_t>& out) {
    if (i >= offsets_.size()) return false;
    out.resize(sizes_[i]);
    return ReadAt(offsets_[i], out.data(), out.size());
}

MovieReadStatus MovieReader::Parse() {
    sound_ = SoundTrackInfo{};
    offsets_.clear();
    sizes_.clear();
    times_.clear();
    // Top level: find moov.
    std::vector<uint8_t> moov;
    uint64_t at = 0;
    while (at + 8 <= fileSize_) {
        uint8_t h[16];
        if (!ReadAt(at, h, 8)) return MovieReadStatus::kCannotOpen;
        uint64_t size = Be32(h);
        uint64_t header = 8;
        if (size == 1) {
            if (!ReadAt(at, h, 16)) return MovieReadStatus::kNotAMovie;
            size = Be64(h + 8);
            header = 16;
        } else if (size == 0) {
            size = fileSize_ - at;
        }
        if (size < header || size > fileSize_ - at) return MovieReadStatus::kNotAMovie;
        if (Be32(h + 4) == Type("moov")) {
            if (size - header > kMaxMovieResource) return MovieReadStatus::kNotAMovie;
            moov.resize(size_t(size - header));
            if (!ReadAt(at + header, moov.data(), moov.size())) return MovieReadStatus::kCannotOpen;
            break;
        }
        at += size;
    }
    if (moov.empty()) return MovieReadStatus::kNotAMovie;
    const Span root{moov.data(), moov.size()};
    uint32_t movieScale = 0;
    Span mvhd;
    if (Child(root, Type("mvhd"), mvhd) && mvhd.n >= 20) movieScale = Be32(mvhd.p + 12);

    // The first track whose media handler is "soun".
    size_t skip = 0;
    Span trak, stbl, mdhd;
    bool found = false;
    while (!found) {
        size_t at2 = skip;
        bool any = false;
        while (at2 + 8 <= root.n) {
            const uint64_t size = Be32(root.p + at2);
            if (size < 8 || size > root.n - at2) return MovieReadStatus::kNotAMovie;
            if (Be32(root.p + at2 + 4) == Type("trak")) {
                trak = {root.p + at2 + 8, size_t(size) - 8};
                skip = at2 + size_t(size);
                any = true;
                break;
            }
            at2 += size_t(size);
        }
        if (!any) return MovieReadStatus::kNoSound;
        Span mdia, hdlr, minf;
        if (!Child(trak, Type("mdia"), mdia) || !Child(mdia, Type("hdlr"), hdlr) || hdlr.n < 12 ||
            Be32(hdlr.p + 8) != Type("soun"))
            continue;
        if (!Child(mdia, Type("mdhd"), mdhd) || mdhd.n < 20 || !Child(mdia, Type("minf"), minf) ||
            !Child(minf, Type("stbl"), stbl))
            return MovieReadStatus::kNoSound;
        found = true;
    }
    sound_.mediaTimeScale = int32_t(Be32(mdhd.p + 12));
    sound_.mediaDuration = Be32(mdhd.p + 16);
    Span edts, elst;
    if (Child(trak, Type("edts"), edts) && Child(edts, Type("elst"), elst) && elst.n >= 8) {
        const uint32_t entries = Be32(elst.p + 4);
        int64_t total = 0;
        for (uint32_t i = 0; i < entries && 8 + 12 * (i + 1) <= elst.n; ++i) {
            const uint8_t* e = elst.p + 8 + 12 * i;
            if (int32_t(Be32(e + 4)) == -1) continue;  // empty edit
            total += Be32(e);
        }
        if (movieScale > 0 && sound_.mediaTimeScale > 0)
            sound_.playDuration = total * sound_.mediaTimeScale / movieScale;
    }

    Span stsd;
    if (!Child(stbl, Type("stsd"), stsd) || stsd.n < 8 || Be32(stsd.p + 4) < 1)
        return MovieReadStatus::kNoSound;
    const uint8_t* d = stsd.p + 8;
    const size_t avail = stsd.n - 8;
    if (avail < 36) return MovieReadStatus::kNoSound;
    const uint32_t entrySize = Be32(d);
    if (entrySize < 36 || entrySize > avail) return MovieReadStatus::kNoSound;
    sound_.dataFormat = Be32(d + 4);
    sound_.version = Be16(d + 16);
    sound_.channels = Be16(d + 24);
    sound_.sampleSize = Be16(d + 26);
    sound_.sampleRate = Be32(d + 32) >> 16;
    size_t ext = 36;
    if (sound_.version == 1) {
        if (entrySize < 52) return MovieReadStatus::kNoSound;
        sound_.samplesPerPacket = Be32(d + 36);
        sound_.bytesPerPacket = Be32(d + 40);
        sound_.bytesPerFrame = Be32(d + 44);
        sound_.bytesPerSample = Be32(d + 48);
        ext = 52;
    }
    Span wave;
    if (Child({d + ext, entrySize - ext}, Type("wave"), wave))
        sound_.waveExtension.assign(wave.p, wave.p + wave.n);

    // Sample sizes.
    Span stsz, stsc, stts, stco;
    if (!Child(stbl, Type("stsz"), stsz) || stsz.n < 12 || !Child(stbl, Type("stsc"), stsc) ||
        stsc.n < 8 || !Child(stbl, Type("stts"), stts) || stts.n < 8)
        return MovieReadStatus::kBadTable;
    const bool wide = !Child(stbl, Type("stco"), stco);
    if (wide && !Child(stbl, Type("co64"), stco)) return MovieReadStatus::kBadTable;
    if (stco.n < 8) return MovieReadStatus::kBadTable;
    const uint32_t uniform = Be32(stsz.p + 4), count = Be32(stsz.p + 8);
    if (uniform == 0 && uint64_t(count) * 4 > stsz.n - 12) return MovieReadStatus::kBadTable;
    if (uniform != 0 && uint64_t(uniform) * count > fileSize_) return MovieReadStatus::kBadTable;
    if (uniform == 0 && count > fileSize_) return MovieReadStatus::kBadTable;
    sizes_.resize(count);
    for (uint32_t i = 0; i < count; ++i) sizes_[i] = uniform ? uniform : Be32(stsz.p + 12 + 4 * i);

    // Chunks and their offsets; samples placed chunk by chunk by the stsc runs.
    const uint32_t chunks = Be32(stco.p + 4);
    if (uint64_t(chunks) * (wide ? 8 : 4) > stco.n - 8) return MovieReadStatus::kBadTable;
    const uint32_t runs = Be32(stsc.p + 4);
    if (uint64_t(runs) * 12 > stsc.n - 8 || runs == 0) return MovieReadStatus::kBadTable;
    offsets_.reserve(count);
    uint32_t sample = 0;
    for (uint32_t r = 0; r < runs && sample < count; ++r) {
        const uint8_t* e = stsc.p + 8 + 12 * r;
        const uint32_t first = Be32(e), per = Be32(e + 4);
        const uint32_t last = r + 1 < runs ? Be32(e + 12) : chunks + 1;
        if (first < 1 || last < first || last > chunks + 1) return MovieReadStatus::kBadTable;
        for (uint32_t c = first; c < last && sample < count; ++c) {
            uint64_t off = wide ? Be64(stco.p + 8 + 8 * (c - 1)) : Be32(stco.p + 8 + 4 * (c - 1));
            for (uint32_t k = 0; k < per && sample < count; ++k, ++sample) {
                if (off > fileSize_ || sizes_[sample] > fileSize_ - off)
                    return MovieReadStatus::kBadTable;
                offsets_.push_back(off);
                off += sizes_[sample];
            }
        }
    }
    if (sample != count) return MovieReadStatus::kBadTable;

    // Times.
    times_.reserve(count);
    const uint32_t timeRuns = Be32(stts.p + 4);
    if (uint64_t(timeRuns) * 8 > stts.n - 8) return MovieReadStatus::kBadTable;
    int64_t t = 0;
    for (uint32_t r = 0; r < timeRuns && times_.size() < count; ++r) {
        const uint32_t n = Be32(stts.p + 8 + 8 * r), dur = Be32(stts.p + 12 + 8 * r);
        for (uint32_t k = 0; k < n && times_.size() < count; ++k, t += dur) times_.push_back(t);
    }
    if (times_.size() != count) return MovieReadStatus::kBadTable;
    return MovieReadStatus::kOk;
}

}  // namespace tunara::movie
