#include "sources/SourceFactory.h"

#include <unistd.h>

#include <cctype>
#include <cstring>

#include "engine/OutputEngine.h"
#include "platform/io/OpenRegular.h"
#include "sources/KvmcMovieSource.h"
#include "sources/MediaPcmSource.h"
#include "sources/Mp3Source.h"
#include "sources/QuickTimeSource.h"
#include "sources/RiffWave.h"
#include "sources/WavSource.h"

namespace tunara {

std::string FileExtension(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

bool ExtensionIs(const std::string& name, const char* lowerCaseExtension) {
    std::string ext = FileExtension(name);
    std::string want = lowerCaseExtension;
    if (ext.size() != want.size()) return false;
    for (size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(ext[i])) != want[i]) return false;
    return true;
}

namespace {

bool StartsWith(const uint8_t* bytes, size_t size, size_t at, const char* text) {
    const size_t n = std::strlen(text);
    return size >= at + n && std::memcmp(bytes + at, text, n) == 0;
}

// The coding of a WAVE file from its "fmt " chunk, if that lies in `bytes`.
FileContent SniffWave(const uint8_t* bytes, size_t size) {
    size_t at = 12;
    while (at + 8 <= size) {
        const uint32_t chunkSize =
            static_cast<uint32_t>(bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16) |
            static_cast<uint32_t>(bytes[at + 7]) << 24;
        if (std::memcmp(bytes + at, "fmt ", 4) == 0) {
            const size_t have = std::min<size_t>(chunkSize, size - at - 8);
            const uint8_t* record = bytes + at + 8;
            // Our MP3 reader finds the frames in the data chunk as it would
            // behind junk.
            if (WaveSubFormat(record, have) == kWaveFormatMpegLayer3)
                return FileContent::MpegLayer3;
            return IsIntegerPcm(record, have) || IsFloatPcm(record, have) ? FileContent::Wave
                                                                          : FileContent::OtherWave;
        }
        if (chunkSize > size) break;
        at += 8 + size_t{chunkSize} + (chunkSize & 1);
    }
    // Let the WAVE reader say what is wrong with it.
    return FileContent::Wave;
}

enum class Kind { Wav, Mp3, Kvmc, Media };

bool HasBytes(const uint8_t* bytes, size_t size, const uint8_t* what, size_t n) {
    if (size < n) return false;
    for (size_t at = 0; at + n <= size; ++at)
        if (std::memcmp(bytes + at, what, n) == 0) return true;
    return false;
}

// Whether an Ogg file's first pages start sound streams only: each stream
// begins with a page of its own, before any data page.
bool OggIsSoundOnly(const uint8_t* bytes, size_t size) {
    size_t at = 0;
    bool sound = false;
    while (at + 27 <= size && std::memcmp(bytes + at, "OggS", 4) == 0 && (bytes[at + 5] & 2)) {
        const size_t segments = bytes[at + 26];
        if (at + 27 + segments > size) break;
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i) body += bytes[at + 27 + i];
        const uint8_t* packet = bytes + at + 27 + segments;
        const size_t have = std::min(body, size - (at + 27 + segments));
        if (!(StartsWith(packet, have, 1, "vorbis") || StartsWith(packet, have, 0, "OpusHead") ||
              StartsWith(packet, have, 1, "FLAC") || StartsWith(packet, have, 0, "Speex   ")))
            return false;
        sound = true;
        at += 27 + segments + body;
    }
    return sound;
}

Kind ChooseKind(const std::string& fileName) {
    switch (SniffFile(fileName)) {
        case FileContent::Wave:
            return Kind::Wav;
        case FileContent::MpegLayer3:
            return Kind::Mp3;
        case FileContent::Movie:
            return IsKvmcMovie(fileName) ? Kind::Kvmc : Kind::Media;
        case FileContent::OtherWave:
        case FileContent::OtherMpeg:
        case FileContent::OtherMedia:
            return Kind::Media;
        case FileContent::Unknown:
            break;
    }
    if (ExtensionIs(fileName, "wav")) return Kind::Wav;
    // Layer I/II audio named ".mp3" is not for our Layer III decoder.
    if (ExtensionIs(fileName, "mp3")) return IsMpegLayer12File(fileName) ? Kind::Media : Kind::Mp3;
    return Kind::Media;
}

}  // namespace

FileContent SniffContent(const uint8_t* bytes, size_t size) {
    if (LooksLikeWave(bytes, size)) return SniffWave(bytes, size);
    if (size >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0) {
        switch ((bytes[1] >> 1) & 3) {
            case 1:
                return FileContent::MpegLayer3;
            case 0:  // ADTS AAC
            case 2:
            case 3:
                return FileContent::OtherMpeg;
        }
    }
    for (const char* box : {"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot"})
        if (StartsWith(bytes, size, 4, box)) return FileContent::Movie;
    static const uint8_t kAsf[4] = {0x30, 0x26, 0xB2, 0x75};
    static const uint8_t kMatroska[4] = {0x1A, 0x45, 0xDF, 0xA3};
    if (size >= 4 && (std::memcmp(bytes, kAsf, 4) == 0 || std::memcmp(bytes, kMatroska, 4) == 0))
        return FileContent::OtherMedia;
    for (const char* magic :
         {"OggS", "fLaC", "FORM", "MThd", ".snd", "#!AMR", "MAC ", "wvpk", "RIFF"})
        if (StartsWith(bytes, size, 0, magic)) return FileContent::OtherMedia;
    return FileContent::Unknown;
}

FileContent SniffFile(const std::string& fileName) {
    if (fileName.find("://") != std::string::npos) return FileContent::Unknown;
    const int fd = io::OpenRegularFile(fileName, O_RDONLY);
    if (fd < 0) return FileContent::Unknown;
    uint8_t head[4096];
    int64_t offset = 0;
    bool tagged = false;
    FileContent content = FileContent::Unknown;
    for (int tags = 0; tags < 8; ++tags) {
        const ssize_t got = ::pread(fd, head, sizeof head, static_cast<off_t>(offset));
        if (got <= 0) break;
        const size_t n = static_cast<size_t>(got);
        if (n >= 10 && StartsWith(head, n, 0, "ID3") && head[3] < 0xFF && head[4] < 0xFF &&
            ((head[6] | head[7] | head[8] | head[9]) & 0x80) == 0) {
            const int64_t body = int64_t{head[6]} << 21 | head[7] << 14 | head[8] << 7 | head[9];
            offset += 10 + body + ((head[5] & 0x10) ? 10 : 0);
            tagged = true;
            continue;
        }
        content = SniffContent(head, n);
        break;
    }
    ::close(fd);
    // Behind a tag, whatever is not known otherwise is taken for MP3 (whose
    // reader looks past junk for the first frame).
    if (tagged && content == FileContent::Unknown) return FileContent::MpegLayer3;
    return content;
}

bool IsSoundOnlyMedium(const std::string& fileName) {
    if (fileName.find("://") != std::string::npos) return false;
    const int fd = io::OpenRegularFile(fileName, O_RDONLY);
    if (fd < 0) return false;
    static thread_local uint8_t head[64 * 1024];
    ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got <= 0) return false;
    size_t n = static_cast<size_t>(got);
    const uint8_t* b = head;
    // A FLAC or AAC file may begin with an ID3v2 tag.
    if (n >= 10 && StartsWith(b, n, 0, "ID3") && ((b[6] | b[7] | b[8] | b[9]) & 0x80) == 0) {
        const size_t skip = 10 + (size_t{b[6]} << 21 | size_t{b[7]} << 14 | b[8] << 7 | b[9]);
        if (skip >= n) return false;
        b += skip;
        n -= skip;
    }
    switch (SniffContent(b, n)) {
        case FileContent::OtherWave:
        case FileContent::OtherMpeg:
            return true;
        case FileContent::Movie:
            // An MP4 file branded as sound only.
            return StartsWith(b, n, 4, "ftyp") &&
                   (StartsWith(b, n, 8, "M4A ") || StartsWith(b, n, 8, "M4B "));
        case FileContent::OtherMedia:
            break;
        default:
            return false;
    }
    if (StartsWith(b, n, 0, "OggS")) return OggIsSoundOnly(b, n);
    if (StartsWith(b, n, 0, "FORM"))
        return StartsWith(b, n, 8, "AIFF") || StartsWith(b, n, 8, "AIFC");
    static const uint8_t kAsf[4] = {0x30, 0x26, 0xB2, 0x75};
    if (n >= 4 && std::memcmp(b, kAsf, 4) == 0) {
        // The stream types of the header: sound, and no video.
        static const uint8_t kAudio[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                           0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
        static const uint8_t kVideo[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                           0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
        return HasBytes(b, n, kAudio, 16) && !HasBytes(b, n, kVideo, 16);
    }
    for (const char* magic : {"fLaC", "MThd", ".snd", "#!AMR", "MAC ", "wvpk"})
        if (StartsWith(b, n, 0, magic)) return true;
    return false;
}

bool NeedsMediaToolbox(const std::string& fileName) {
    return ChooseKind(fileName) == Kind::Media;
}

std::unique_ptr<MediaSource> CreateSourceFor(OutputEngine& engine, const std::string& fileName) {
    switch (ChooseKind(fileName)) {
        case Kind::Wav:
            return std::make_unique<WavSource>(engine);
        case Kind::Mp3:
            return std::make_unique<Mp3Source>(engine);
        case Kind::Kvmc:
            // Our own recordings play through our own decoder.
            return std::make_unique<KvmcMovieSource>(engine);
        case Kind::Media:
            break;
    }
    if (IsSoundOnlyMedium(fileName)) return std::make_unique<MediaPcmSource>(engine);
    return std::make_unique<QuickTimeSource>(&engine.Gain());
}

}  // namespace tunara
