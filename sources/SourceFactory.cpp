#include "sources/SourceFactory.h"

#include <unistd.h>

#include <cctype>
#include <cstring>

#include "platform/io/OpenRegular.h"
#include "sources/KvmcMovieSource.h"
#include "sources/Mp3Source.h"
#include "sources/QuickTimeSource.h"
#include "sources/RiffWave.h"
#include "sources/WavSource.h"

namespace tunara {

namespace {
SourceFactory& Override() {
    static SourceFactory factory;
    return factory;
}
}  // namespace

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
    if (ExtensionIs(fileName, "mp3"))
        return IsMpegLayer12File(fileName) ? Kind::Media : Kind::Mp3;
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

bool NeedsMediaToolbox(const std::string& fileName) {
    return ChooseKind(fileName) == Kind::Media;
}

std::unique_ptr<MediaSource> CreateSourceFor(const std::string& fileName) {
    if (Override()) return Override()(fileName);
    switch (ChooseKind(fileName)) {
        case Kind::Wav:
            return std::make_unique<WavSource>();
        case Kind::Mp3:
            return std::make_unique<Mp3Source>();
        case Kind::Kvmc:
            // Our own recordings play through our own decoder.
            return std::make_unique<KvmcMovieSource>();
        case Kind::Media:
            break;
    }
    return std::make_unique<QuickTimeSource>();
}

void SetSourceFactory(SourceFactory factory) {
    Override() = std::move(factory);
}

}  // namespace tunara
