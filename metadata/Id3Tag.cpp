#include "metadata/Id3Tag.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "metadata/TextCodec.h"
#include "platform/io/ReadAt.h"
#include "platform/io/WriteAll.h"

namespace tunara {
namespace {

const char* const kGenres[kGenreCount] = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychedelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "Acapella",
    "Euro-House",
    "Dance Hall",
    "Undefined (126)",
    "Undefined (127)",
};

constexpr int64_t kWholeTagBytes = 64 * 1024;

enum class Handler { Text, Url, Comment, Binary, FirstByte, Counter, Buffer, None };

struct TableEntry {
    const char* id;
    Handler handler;
};

// Three-character identifiers are those of ID3v2.2. A frame identifier
// matches every entry that is a prefix of it, so TALB also feeds TAL.
const TableEntry kFrameTable[] = {
    {"CRA", Handler::Text},       {"IPL", Handler::Text},    {"TAL", Handler::Text},
    {"TBP", Handler::Text},       {"TCM", Handler::Text},    {"TCO", Handler::Text},
    {"TCR", Handler::Text},       {"TDA", Handler::Text},    {"TDY", Handler::Text},
    {"TEN", Handler::Text},       {"TFT", Handler::Text},    {"TIM", Handler::Text},
    {"TKE", Handler::Text},       {"TLA", Handler::Text},    {"TLE", Handler::Text},
    {"TMT", Handler::Text},       {"TOA", Handler::Text},    {"TOF", Handler::Text},
    {"TOL", Handler::Text},       {"TOR", Handler::Text},    {"TOT", Handler::Text},
    {"TP1", Handler::Text},       {"TP2", Handler::Text},    {"TP3", Handler::Text},
    {"TP4", Handler::Text},       {"TPA", Handler::Text},    {"TPB", Handler::Text},
    {"TRC", Handler::Text},       {"TRD", Handler::Text},    {"TRK", Handler::Text},
    {"TSI", Handler::Text},       {"TSS", Handler::Text},    {"TT1", Handler::Text},
    {"TT2", Handler::Text},       {"TT3", Handler::Text},    {"TXT", Handler::Text},
    {"TYE", Handler::Text},       {"LINK", Handler::Text},   {"TALB", Handler::Text},
    {"TBPM", Handler::Text},      {"TCOM", Handler::Text},   {"TCON", Handler::Text},
    {"TCOP", Handler::Text},      {"TDAT", Handler::Text},   {"TDLY", Handler::Text},
    {"TENC", Handler::Text},      {"TEXT", Handler::Text},   {"TFLT", Handler::Text},
    {"TIME", Handler::Text},      {"TIT1", Handler::Text},   {"TIT2", Handler::Text},
    {"TIT3", Handler::Text},      {"TKEY", Handler::Text},   {"TLAN", Handler::Text},
    {"TLEN", Handler::Text},      {"TMED", Handler::Text},   {"TOAL", Handler::Text},
    {"TOFN", Handler::Text},      {"TOLY", Handler::Text},   {"TOPE", Handler::Text},
    {"TORY", Handler::Text},      {"TOWN", Handler::Text},   {"TPE1", Handler::Text},
    {"TPE2", Handler::Text},      {"TPE3", Handler::Text},   {"TPE4", Handler::Text},
    {"TPOS", Handler::Text},      {"TPUB", Handler::Text},   {"TRCK", Handler::Text},
    {"TRDA", Handler::Text},      {"TRSN", Handler::Text},   {"TRSO", Handler::Text},
    {"TSIZ", Handler::Text},      {"TSRC", Handler::Text},   {"TSSE", Handler::Text},
    {"TYER", Handler::Text},      {"WAF", Handler::Url},     {"WAR", Handler::Url},
    {"WAS", Handler::Url},        {"WCM", Handler::Url},     {"WCP", Handler::Url},
    {"WPB", Handler::Url},        {"WCOM", Handler::Url},    {"WCOP", Handler::Url},
    {"WOAF", Handler::Url},       {"WOAR", Handler::Url},    {"WOAS", Handler::Url},
    {"WORS", Handler::Url},       {"WPAY", Handler::Url},    {"WPUB", Handler::Url},
    {"COM", Handler::Comment},    {"MCI", Handler::Binary},  {"MLL", Handler::Binary},
    {"STC", Handler::Binary},     {"MCDI", Handler::Binary}, {"ETC", Handler::FirstByte},
    {"ETCO", Handler::FirstByte}, {"CNT", Handler::Counter}, {"PCNT", Handler::Counter},
    {"BUF", Handler::Buffer},     {"RBUF", Handler::Buffer}, {"CRM", Handler::None},
    {"EQU", Handler::None},       {"GEO", Handler::None},    {"LNK", Handler::None},
    {"PIC", Handler::None},       {"POP", Handler::None},    {"REV", Handler::None},
    {"RVA", Handler::None},       {"SLT", Handler::None},    {"TXX", Handler::None},
    {"UFI", Handler::None},       {"ULT", Handler::None},    {"WXX", Handler::None},
    {"AENC", Handler::None},      {"APIC", Handler::None},   {"COMM", Handler::None},
    {"COMR", Handler::None},      {"ENCR", Handler::None},   {"EQUA", Handler::None},
    {"GEOB", Handler::None},      {"GRID", Handler::None},   {"IPLS", Handler::None},
    {"MLLT", Handler::None},      {"OWNE", Handler::None},   {"PRIV", Handler::None},
    {"POPM", Handler::None},      {"POSS", Handler::None},   {"RVAD", Handler::None},
    {"RVRB", Handler::None},      {"SYLT", Handler::None},   {"TXXX", Handler::None},
    {"USER", Handler::None},      {"WXXX", Handler::None},   {"TDRC", Handler::Text},
};

class File {
public:
    explicit File(int fd) : fd_(fd) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // Closes now so that a failing close can be reported.
    Id3Result Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? Id3Result() : Id3Result::FileFailed(errno);
    }

private:
    int fd_;
};

using io::ReadAt;

using io::WriteAll;

// Finds the first 0xFF followed by a byte of 16 or more at or after `from`;
// a pair may be split across two reads.
Id3Result FindAudioStart(int fd, int64_t from, int64_t& audioStart) {
    uint8_t block[4096 + 1];  // block[0] carries the last byte of the previous read
    bool havePrevious = false;
    for (int64_t blockStart = from;;) {
        const ssize_t n = ReadAt(fd, block + 1, sizeof block - 1, blockStart);
        if (n < 0) return Id3Result::FileFailed(errno);
        if (n == 0) return kId3NoAudio;
        const uint8_t* end = block + 1 + n;
        for (const uint8_t* q = havePrevious ? block : block + 1; q + 1 < end; ++q) {
            if (q[0] == 0xFF && q[1] >= 16) {
                audioStart = blockStart + (q - (block + 1));
                return kId3Ok;
            }
        }
        block[0] = block[n];
        havePrevious = true;
        blockStart += n;
    }
}

// An ID3v1 text slot: cut at the first zero byte, ISO-8859-1.
std::string V1Text(const uint8_t* p, size_t size) {
    if (size == 0) return {};  // an empty frame body may come with no buffer at all
    const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, size));
    const size_t length = end != nullptr ? size_t(end - p) : size;
    return text::Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(p), length));
}

// The decimal digits among the first four characters.
std::string YearDigits(std::string_view textIn) {
    std::string digits;
    for (char c : text::Utf8Prefix(textIn, 4))
        if (c >= '0' && c <= '9') digits.push_back(c);
    return digits;
}

uint32_t SevenBitValue(const uint8_t* p) {
    return uint32_t(p[0] & 0x7F) << 21 | uint32_t(p[1] & 0x7F) << 14 | uint32_t(p[2] & 0x7F) << 7 |
           uint32_t(p[3] & 0x7F);
}

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool IsAlnum(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IdPrefixMatches(const char* tableId, const std::string& frameId) {
    const size_t n = std::strlen(tableId);
    if (frameId.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (Upper(frameId[i]) != tableId[i]) return false;
    return true;
}

// Whether any table entry that the identifier matches has a value handler.
bool GivesValue(const std::string& frameId) {
    if (frameId == "TXXX" || frameId == "TXX" || frameId == "RVA2") return true;
    for (const TableEntry& entry : kFrameTable)
        if (entry.handler != Handler::None && IdPrefixMatches(entry.id, frameId)) return true;
    return false;
}

// Undoes unsynchronisation: every 0xFF 0x00 pair back to 0xFF.
void Resynchronise(std::vector<uint8_t>& b) {
    size_t out = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        b[out++] = b[i];
        if (b[i] == 0xFF && i + 1 < b.size() && b[i + 1] == 0x00) ++i;
    }
    b.resize(out);
}

std::string Latin1UpToZero(const uint8_t* p, size_t size) {
    return V1Text(p, size);
}

// UTF-16 text up to an aligned zero unit. With a byte-order mark it decides
// the order; without one `bigEndian` does.
std::string Utf16UpToZero(const uint8_t* p, size_t size, bool bigEndian) {
    if (size >= 2) {
        if (p[0] == 0xFF && p[1] == 0xFE) {
            bigEndian = false;
            p += 2, size -= 2;
        } else if (p[0] == 0xFE && p[1] == 0xFF) {
            bigEndian = true;
            p += 2, size -= 2;
        }
    }
    size_t length = 0;
    while (length + 1 < size && !(p[length] == 0 && p[length + 1] == 0)) length += 2;
    return text::Utf16ToUtf8(p, length, bigEndian);
}

// Text of a given ID3v2 encoding byte; false when the encoding is not one we
// decode for this major version (the caller then falls back).
bool DecodeEncodedText(uint8_t encoding, const uint8_t* p, size_t size, int majorVersion,
                       std::string& out) {
    switch (encoding) {
        case 0:
            out = Latin1UpToZero(p, size);
            return true;
        case 1:
            out = Utf16UpToZero(p, size, false);
            return true;
        case 2:
            if (majorVersion < 4) return false;
            out = Utf16UpToZero(p, size, true);
            return true;
        case 3: {
            if (majorVersion < 4) return false;
            const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, size));
            const size_t length = end != nullptr ? size_t(end - p) : size;
            out = text::SanitizeUtf8(std::string_view(reinterpret_cast<const char*>(p), length));
            return true;
        }
        default:
            return false;
    }
}

bool RunHandler(Handler handler, const std::vector<uint8_t>& data, int majorVersion,
                Id3FrameValue& value) {
    const uint8_t* p = data.data();
    const size_t size = data.size();
    switch (handler) {
        case Handler::Text:
            if (size == 0) return false;
            value.kind = Id3FrameValue::Kind::Text;
            if (!DecodeEncodedText(p[0], p + 1, size - 1, majorVersion, value.text))
                value.text = Latin1UpToZero(p, size);  // no encoding byte: all of it is text
            return true;
        case Handler::Url:
            value.kind = Id3FrameValue::Kind::Text;
            value.text = Latin1UpToZero(p, size);
            return true;
        case Handler::Comment: {
            if (size == 0) return false;
            value.kind = Id3FrameValue::Kind::Text;
            if (size >= 4 && DecodeEncodedText(p[0], p + 4, size - 4, majorVersion, value.text))
                return true;
            if (p[0] <= 1 || size < 3) return false;
            value.text = Latin1UpToZero(p + 3, size - 3);
            return true;
        }
        case Handler::Binary:
            value.kind = Id3FrameValue::Kind::Binary;
            value.bytes = data;
            return true;
        case Handler::FirstByte:
            if (size < 1) return false;
            value.kind = Id3FrameValue::Kind::Byte;
            value.number = p[0];
            return true;
        case Handler::Counter:
            if (size < 4) return false;
            value.kind = Id3FrameValue::Kind::Counter;
            value.number = BigEndian32(p);
            return true;
        case Handler::Buffer:
            if (size < 8) return false;
            value.kind = Id3FrameValue::Kind::Buffer;
            value.number = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            value.embeddedInfo = (p[3] & 1) != 0;
            value.offsetBytes = BigEndian32(p + 4);
            return true;
        case Handler::None:
            return false;
    }
    return false;
}

// Where the text after an encoded description begins: past the description's terminator, two
// bytes in UTF-16.
size_t PastTerminator(uint8_t encoding, const uint8_t* p, size_t size) {
    const size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
    size_t at = 0;
    while (at + unit <= size && !(p[at] == 0 && (unit == 1 || p[at + 1] == 0))) at += unit;
    return at + unit;
}

}  // namespace

std::string Id3StatusText(Id3Result result) {
    switch (result.status) {
        case kId3Ok:
            return "success";
        case kId3NoTag:
            return "no tag";
        case kId3NoMemory:
            return "out of memory";
        case kId3NoAudio:
            return "no audio after the tag";
        case kId3FileError:
            break;
    }
    return std::strerror(result.error);
}

const char* GenreName(int index) {
    return (index >= 0 && index < kGenreCount) ? kGenres[index] : nullptr;
}

void Id3Tag::setGenreIndex(int index) {
    genreIndex_ = index & 0xFF;
    const char* name = GenreName(genreIndex_);
    genreName_ = name != nullptr ? name : "";
}

void Id3Tag::setGenreName(const std::string& name) {
    genreName_ = name;
    genreIndex_ = kNoGenre;
    for (int i = 0; i < kGenreCount; ++i) {
        if (::strcasecmp(kGenres[i], name.c_str()) == 0) {
            genreIndex_ = i;
            break;
        }
    }
}

const Id3FrameValue* Id3Tag::frameValue(std::string_view tableId) const {
    const auto it = values_.find(tableId);
    return it != values_.end() ? &it->second : nullptr;
}

Id3Result Id3Tag::readV1(const std::string& path) try {
    File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.ok()) return Id3Result::FileFailed(errno);
    struct stat st;
    if (::fstat(file.fd(), &st) != 0) return Id3Result::FileFailed(errno);
    if (st.st_size < 128) return kId3NoTag;
    uint8_t rec[128];
    const ssize_t n = ReadAt(file.fd(), rec, sizeof rec, st.st_size - 128);
    if (n < 0) return Id3Result::FileFailed(errno);
    if (n != 128 || std::memcmp(rec, "TAG", 3) != 0) return kId3NoTag;

    title_ = V1Text(rec + 3, 30);
    artist_ = V1Text(rec + 33, 30);
    album_ = V1Text(rec + 63, 30);
    year_.clear();
    for (int i = 93; i < 97; ++i)
        if (rec[i] >= '0' && rec[i] <= '9') year_.push_back(char(rec[i]));
    if (rec[125] == 0 && rec[126] != 0) {
        version_ = "1.1";
        track_ = std::to_string(rec[126]);
        comment_ = V1Text(rec + 97, 28);
    } else {
        version_ = "1.0";
        track_ = "0";
        comment_ = V1Text(rec + 97, 30);
    }
    setGenreIndex(rec[127]);
    return kId3Ok;
} catch (const std::bad_alloc&) {
    return kId3NoMemory;
}

Id3Result Id3Tag::writeV1(const std::string& path, const std::string& version,
                          const std::string& title, const std::string& artist,
                          const std::string& album, const std::string& year,
                          const std::string& comment, int track, int genreIndex) try {
    uint8_t rec[128] = {};
    std::memcpy(rec, "TAG", 3);
    const bool v11 = version == "1.1";
    auto put = [&](std::string& field, const std::string& value, size_t chars, int offset) {
        field = text::Utf8Prefix(value, chars);
        const std::string latin1 = text::Utf8ToLatin1(field);
        std::memcpy(rec + offset, latin1.data(), std::min(latin1.size(), chars));
    };
    put(title_, title, 30, 3);
    put(artist_, artist, 30, 33);
    put(album_, album, 30, 63);
    year_ = YearDigits(year);
    std::memcpy(rec + 93, year_.data(), year_.size());
    if (v11) {
        version_ = "1.1";
        rec[126] = uint8_t(track);
        track_ = std::to_string(rec[126]);
        put(comment_, comment, 28, 97);
    } else {
        version_ = "1.0";
        track_ = "0";
        put(comment_, comment, 30, 97);
    }
    setGenreIndex(genreIndex);
    rec[127] = uint8_t(genreIndex_);

    // O_APPEND without O_CREAT: the record goes at the end of an existing file.
    File file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!file.ok()) return Id3Result::FileFailed(errno);
    if (const int err = WriteAll(file.fd(), rec, sizeof rec); err != 0)
        return Id3Result::FileFailed(err);
    return file.Close();
} catch (const std::bad_alloc&) {
    return kId3NoMemory;
}

Id3Result Id3Tag::readV2(const std::string& path, int64_t startOffset, int64_t& audioStart) try {
    File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.ok()) return Id3Result::FileFailed(errno);
    struct stat st;
    if (::fstat(file.fd(), &st) != 0) return Id3Result::FileFailed(errno);
    const int64_t fileBytes = st.st_size;
    if (startOffset < 0) return kId3NoTag;

    uint8_t h[10];
    ssize_t n = ReadAt(file.fd(), h, sizeof h, startOffset);
    if (n < 0) return Id3Result::FileFailed(errno);
    if (n != 10 || std::memcmp(h, "ID3", 3) != 0) return kId3NoTag;
    const int major = h[3], revision = h[4];
    if (major == 0xFF || revision == 0xFF) return kId3NoTag;
    version_ = "2." + std::to_string(major) + "." + std::to_string(revision);
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return kId3NoTag;
    tagSizeBytes_ = SevenBitValue(h + 6);
    flags_ = h[5];
    extHeaderBytes_ = 0;
    crcPresent_ = false;
    crc_ = 0;
    paddingBytes_ = 0;

    int64_t pos = startOffset + 10;
    int64_t left = tagSizeBytes_;
    if (flags_ & 0x40) {
        uint8_t e[10];
        if (major >= 4) {
            // Here the size is synchsafe and counts the whole extended header.
            n = ReadAt(file.fd(), e, 6, pos);
            if (n < 0) return Id3Result::FileFailed(errno);
            if (n != 6) return kId3NoTag;
            const uint32_t size = SevenBitValue(e);
            // Checked against the file too: sizes are claims, not allocations.
            if (size < 6 || size > left || size > fileBytes - pos) return kId3NoTag;
            std::vector<uint8_t> ext(size);
            if (ReadAt(file.fd(), ext.data(), size, pos) != ssize_t(size)) return kId3NoTag;
            // Flag data follows the flag byte in flag order, each with its length byte.
            size_t at = 4 + 1 + ext[4];
            const uint8_t flags = ext[5];
            if ((flags & 0x40) && at < size) at += 1 + ext[at];
            if ((flags & 0x20) && at + 6 <= size && ext[at] == 5) {
                crcPresent_ = true;
                crc_ = uint32_t(ext[at + 1] & 0x7F) << 28 | SevenBitValue(ext.data() + at + 2);
            }
            extHeaderBytes_ = size;
            pos += size;
            left -= size;
        } else {
            n = ReadAt(file.fd(), e, sizeof e, pos);
            if (n < 0) return Id3Result::FileFailed(errno);
            if (n != 10 || left < 10) return kId3NoTag;
            extHeaderBytes_ = SevenBitValue(e);
            paddingBytes_ = SevenBitValue(e + 6);
            int64_t consumed = 10;
            if (extHeaderBytes_ > 6) {
                const int64_t rest = int64_t(extHeaderBytes_) - 6;
                if (rest > left - consumed || rest > fileBytes - pos - consumed) return kId3NoTag;
                std::vector<uint8_t> tail(static_cast<size_t>(rest));
                if (ReadAt(file.fd(), tail.data(), tail.size(), pos + consumed) != rest)
                    return kId3NoTag;
                if ((e[4] & 0x80) && rest >= 4) {
                    crcPresent_ = true;
                    crc_ = BigEndian32(tail.data() + rest - 4);
                }
                consumed += rest;
            }
            pos += consumed;
            left -= consumed;
        }
    }

    // The header's size is only a claim: never read (or allocate) past the file.
    left = std::clamp<int64_t>(fileBytes - pos, 0, left);
    // Most tags are read whole at once; beyond that (cover art) only the
    // frames that give a value are read.
    const int64_t bodyStart = pos;
    // Before 2.4 unsynchronisation covers the whole tag: it is read whole and undone first.
    const bool wholeTagUnsync = major < 4 && (flags_ & 0x80) != 0;
    std::vector<uint8_t> head(
        static_cast<size_t>(wholeTagUnsync ? left : std::min<int64_t>(left, kWholeTagBytes)));
    n = ReadAt(file.fd(), head.data(), head.size(), bodyStart);
    if (n < 0) return Id3Result::FileFailed(errno);
    if (size_t(n) < head.size()) left = n;  // the file is shorter than it said
    head.resize(size_t(n));
    const int64_t tagEnd = pos + left;
    if (wholeTagUnsync) {
        Resynchronise(head);
        left = int64_t(head.size());
    }
    auto readBody = [&](int64_t at, uint8_t* dst, size_t count) {
        if (count == 0) return true;
        if (at + int64_t(count) <= int64_t(head.size())) {
            std::memcpy(dst, head.data() + at, count);
            return true;
        }
        return ReadAt(file.fd(), dst, count, bodyStart + at) == ssize_t(count);
    };
    pos = tagEnd;

    if (const Id3Result status = FindAudioStart(file.fd(), pos, audioStart); status != kId3Ok)
        return status;

    std::vector<RawFrame> frames;
    const size_t idBytes = major < 3 ? 3 : 4;
    const size_t headerBytes = major < 3 ? 6 : 10;
    for (int64_t at = 0; at + int64_t(headerBytes) <= left;) {
        uint8_t f[10];
        if (!readBody(at, f, headerBytes)) break;
        if (!std::all_of(f, f + idBytes, IsAlnum)) break;  // padding reached
        uint32_t size;
        if (major < 3) {
            size = uint32_t(f[3]) << 16 | uint32_t(f[4]) << 8 | f[5];
        } else if (major >= 4 && ((f[4] | f[5] | f[6] | f[7]) & 0x80) == 0) {
            size = SevenBitValue(f + 4);
        } else {
            // Some writers put plain sizes into 2.4 tags; a set top bit betrays them.
            size = BigEndian32(f + 4);
        }
        if (size > left - at - int64_t(headerBytes)) break;  // runs past the tag
        std::string id(reinterpret_cast<const char*>(f), idBytes);
        // Format flags: compressed or encrypted data is not text we can read, so such frames
        // are skipped rather than read raw; a group byte and a length prefix are stepped over.
        const uint8_t format = major >= 3 ? f[9] : 0;
        const bool unreadable = major == 3 ? (format & 0xC0) != 0 : (format & 0x0C) != 0;
        const size_t prefix = major == 3   ? ((format & 0x20) ? 1 : 0)
                              : major >= 4 ? ((format & 0x40) ? 1 : 0) + ((format & 0x01) ? 4 : 0)
                                           : 0;
        const bool frameUnsync = major >= 4 && ((format & 0x02) || (flags_ & 0x80));
        if (GivesValue(id) && !unreadable && prefix <= size) {
            std::vector<uint8_t> data(size);
            if (!readBody(at + int64_t(headerBytes), data.data(), size)) break;
            data.erase(data.begin(), data.begin() + ptrdiff_t(prefix));
            if (frameUnsync) Resynchronise(data);
            frames.push_back({std::move(id), std::move(data)});
        }
        at += int64_t(headerBytes) + size;
    }
    DecodeFrames(frames, major);
    FillFromFrames();
    return kId3Ok;
} catch (const std::bad_alloc&) {
    return kId3NoMemory;
}

void Id3Tag::DecodeFrames(const std::vector<RawFrame>& frames, int majorVersion) {
    values_.clear();
    smpb_.clear();
    userTexts_.clear();
    adjustments_.clear();
    for (const RawFrame& frame : frames) {
        if ((frame.id == "TXXX" || frame.id == "TXX") && frame.data.size() > 1) {
            const uint8_t* p = frame.data.data() + 1;
            const size_t size = frame.data.size() - 1;
            std::string description, value;
            if (DecodeEncodedText(frame.data[0], p, size, majorVersion, description)) {
                const size_t at = PastTerminator(frame.data[0], p, size);
                if (at < size)
                    DecodeEncodedText(frame.data[0], p + at, size - at, majorVersion, value);
                for (char& c : description) c = Upper(c);
                userTexts_.insert_or_assign(std::move(description), std::move(value));
            }
        }
        if (frame.id == "RVA2") DecodeAdjustment(frame.data);
        // An encoder's delay and padding, noted as a comment described "iTunSMPB".
        if (frame.id == "COMM" && frame.data.size() > 4) {
            const uint8_t* p = frame.data.data() + 4;
            const size_t size = frame.data.size() - 4;
            std::string description;
            if (DecodeEncodedText(frame.data[0], p, size, majorVersion, description) &&
                description == "iTunSMPB") {
                const size_t at = PastTerminator(frame.data[0], p, size);
                if (at < size)
                    DecodeEncodedText(frame.data[0], p + at, size - at, majorVersion, smpb_);
            }
        }
        for (const TableEntry& entry : kFrameTable) {
            if (!IdPrefixMatches(entry.id, frame.id)) continue;
            Id3FrameValue value;
            if (RunHandler(entry.handler, frame.data, majorVersion, value))
                values_.insert_or_assign(entry.id, std::move(value));
        }
    }
}

void Id3Tag::DecodeAdjustment(const std::vector<uint8_t>& data) {
    if (data.empty()) return;  // an empty frame has no identification to look for
    const auto* end = static_cast<const uint8_t*>(std::memchr(data.data(), 0, data.size()));
    if (!end) return;
    std::string id(reinterpret_cast<const char*>(data.data()), size_t(end - data.data()));
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Channel records: type, 16-bit signed adjustment in 1/512 dB, peak bit count, peak.
    for (size_t at = size_t(end - data.data()) + 1; at + 4 <= data.size();) {
        const uint8_t channel = data[at];
        const auto raw = static_cast<int16_t>(data[at + 1] << 8 | data[at + 2]);
        const unsigned bits = data[at + 3];
        const size_t peakBytes = (bits + 7) / 8;
        if (at + 4 + peakBytes > data.size()) break;
        if (channel == 1) {
            Adjustment a;
            a.gainDb = raw / 512.0f;
            if (bits > 0 && peakBytes <= 4) {
                uint32_t v = 0;
                for (size_t i = 0; i < peakBytes; ++i) v = v << 8 | data[at + 4 + i];
                a.peak = static_cast<float>(v / std::ldexp(1.0, int(peakBytes * 8 - 1)));
            }
            adjustments_.insert_or_assign(id, a);
            break;
        }
        at += 4 + peakBytes;
    }
}

void Id3Tag::FillFromFrames() {
    auto first = [this](std::initializer_list<const char*> ids) -> const std::string* {
        for (const char* id : ids)
            if (const Id3FrameValue* v = frameValue(id); v && v->kind == Id3FrameValue::Kind::Text)
                return &v->text;
        return nullptr;
    };
    if (const std::string* v = first({"TT2", "TIT2"})) title_ = *v;
    if (const std::string* v = first({"TP1", "TOA", "TPE1", "TOPE"})) artist_ = *v;
    if (const std::string* v = first({"TYE", "TYER", "TDRC"})) year_ = YearDigits(*v);
    if (const std::string* v = first({"TAL", "TALB"})) album_ = *v;
    if (const std::string* v = first({"TRK", "TRCK"})) track_ = *v;
    if (const std::string* v = first({"TEN", "TENC"})) encodedBy_ = *v;
    if (const std::string* v = first({"TCO", "TCON"})) {
        // ID3v2.4 names a genre by its bare number ("13"), and may list more
        // than one, NUL-separated: the first counts.
        const std::string genre = v->substr(0, v->find('\0'));
        const bool number = !genre.empty() && genre.size() <= 3 &&
                            genre.find_first_not_of("0123456789") == std::string::npos;
        if (number && std::stoi(genre) < kGenreCount) {
            setGenreIndex(std::stoi(genre));
        } else if (genre == "(RX)" || genre == "RX") {
            setGenreName("Remix");
        } else if (genre == "(CR)" || genre == "CR") {
            setGenreName("Cover");
        } else if (!genre.empty() && genre[0] == '(') {
            int index = 0;
            for (size_t i = 1; i < genre.size() && genre[i] != ')'; ++i)
                if (genre[i] >= '0' && genre[i] <= '9')
                    index = (index * 10 + (genre[i] - '0')) % 256;
            setGenreIndex(index);
        } else {
            setGenreName(genre);
        }
    }
}

}  // namespace tunara
