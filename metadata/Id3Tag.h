#pragma once
// The descriptive fields of an MP3 file: read from an ID3v1 record (the last
// 128 bytes) or an ID3v2 tag, and written as an ID3v1 record. One object is
// the program's model of one file's tag; it is used by one thread at a time.
//
// All text is UTF-8. ID3v1 records and ID3v2 text of encoding 0 are
// ISO-8859-1 in the file; writeV1 stores ISO-8859-1 ('?' for characters
// outside it).
//
// The readers and the writer return an Id3Result: the tag's own status, and
// with kId3FileError the errno of the file operation that failed.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tunara {

enum class Id3Status {
    Ok,         // fields filled
    NoTag,      // no tag, or a malformed one
    NoMemory,   // out of memory
    NoAudio,    // ID3v2 only: no MPEG frame candidate after the tag
    FileError,  // a file operation failed; the result carries its errno
};
inline constexpr Id3Status kId3Ok = Id3Status::Ok;
inline constexpr Id3Status kId3NoTag = Id3Status::NoTag;
inline constexpr Id3Status kId3NoMemory = Id3Status::NoMemory;
inline constexpr Id3Status kId3NoAudio = Id3Status::NoAudio;
inline constexpr Id3Status kId3FileError = Id3Status::FileError;

struct Id3Result {
    Id3Status status = Id3Status::Ok;
    int error = 0;  // errno with FileError, else 0

    constexpr Id3Result() = default;
    constexpr Id3Result(Id3Status s) : status(s) {}  // NOLINT: a plain status reads as a result
    static constexpr Id3Result FileFailed(int errorNumber) {
        Id3Result r(Id3Status::FileError);
        r.error = errorNumber;
        return r;
    }
    constexpr bool operator==(const Id3Result&) const = default;
};

// Text for a result of Id3Tag's readers and writer.
std::string Id3StatusText(Id3Result result);

// Genre names by index: 128 names, string ids 601 + index. Null past 127.
inline constexpr int kGenreStringBase = 601;
inline constexpr int kGenreCount = 128;
inline constexpr int kNoGenre = 255;
const char* GenreName(int index);

// The value one ID3v2 frame handler produced.
struct Id3FrameValue {
    enum class Kind { Text, Binary, Byte, Counter, Buffer };
    Kind kind = Kind::Text;
    std::string text;            // Text: UTF-8
    std::vector<uint8_t> bytes;  // Binary: the frame data
    uint32_t number = 0;         // Byte, Counter; Buffer: buffer size (24 bits)
    bool embeddedInfo = false;   // Buffer
    uint32_t offsetBytes = 0;    // Buffer: offset to the next tag
};

class Id3Tag {
public:
    // Reads the ID3v1 record at the end of the file: Ok, NoTag or FileError.
    Id3Result readV1(const std::string& path);

    // Appends one ID3v1 record to an existing file. `version` is kept when it
    // is "1.1" or "1.0", otherwise "1.0" is written. Text is cut at 30
    // characters (comment: 28 for v1.1), the year to the digits of its first
    // four characters. Ok, NoMemory or FileError.
    Id3Result writeV1(const std::string& path, const std::string& version, const std::string& title,
                      const std::string& artist, const std::string& album, const std::string& year,
                      const std::string& comment, int track, int genreIndex);

    // Reads the ID3v2 tag at `startOffset` and reports in `audioStart` the
    // file offset of the first MPEG frame candidate (0xFF then a byte of 16 or
    // more) after it. Any status.
    Id3Result readV2(const std::string& path, int64_t startOffset, int64_t& audioStart);

    // Index 0..255; the name becomes that genre's name, or empty.
    void setGenreIndex(int index);
    // Any text; the index becomes the genre matching it (case-insensitive) or 255.
    void setGenreName(const std::string& name);

    const std::string& version() const { return version_; }
    const std::string& title() const { return title_; }
    const std::string& artist() const { return artist_; }
    const std::string& album() const { return album_; }
    const std::string& year() const { return year_; }
    const std::string& comment() const { return comment_; }
    const std::string& track() const { return track_; }
    const std::string& genreName() const { return genreName_; }
    int genreIndex() const { return genreIndex_; }
    const std::string& encodedBy() const { return encodedBy_; }
    // The text of a comment described "iTunSMPB" (an encoder's delay and padding), or empty.
    const std::string& smpb() const { return smpb_; }
    // User texts (TXXX), by description in upper case ("REPLAYGAIN_TRACK_GAIN").
    const std::map<std::string, std::string, std::less<>>& userTexts() const { return userTexts_; }
    // Relative volume adjustments (RVA2) of the master channel, by identification in lower
    // case ("track", "album"): the adjustment in dB and the peak (linear, NaN when absent).
    struct Adjustment {
        float gainDb = 0.0f;
        float peak = 0.0f / 0.0f;
    };
    const std::map<std::string, Adjustment, std::less<>>& volumeAdjustments() const {
        return adjustments_;
    }

    // ID3v2 state of the last readV2.
    uint32_t v2TagSizeBytes() const { return tagSizeBytes_; }  // body size from the header
    uint8_t v2Flags() const { return flags_; }  // 0x80 unsync, 0x40 ext. header, 0x20 experimental
    uint32_t v2ExtendedHeaderBytes() const { return extHeaderBytes_; }
    bool v2CrcPresent() const { return crcPresent_; }
    uint32_t v2Crc() const { return crc_; }
    uint32_t v2PaddingBytes() const { return paddingBytes_; }
    // The decoded value stored under a frame-table identifier, or null.
    const Id3FrameValue* frameValue(std::string_view tableId) const;

private:
    struct RawFrame {
        std::string id;
        std::vector<uint8_t> data;
    };
    void DecodeFrames(const std::vector<RawFrame>& frames, int majorVersion);
    void FillFromFrames();
    void DecodeAdjustment(const std::vector<uint8_t>& data);

    std::string version_;
    std::string title_;
    std::string artist_;
    std::string album_;
    std::string year_;
    std::string comment_;
    std::string track_;
    std::string genreName_;
    int genreIndex_ = kNoGenre;
    std::string encodedBy_;
    std::string smpb_;
    std::map<std::string, std::string, std::less<>> userTexts_;
    std::map<std::string, Adjustment, std::less<>> adjustments_;

    uint32_t tagSizeBytes_ = 0;
    uint8_t flags_ = 0;
    uint32_t extHeaderBytes_ = 0;
    bool crcPresent_ = false;
    uint32_t crc_ = 0;
    uint32_t paddingBytes_ = 0;
    std::map<std::string, Id3FrameValue, std::less<>> values_;
};

}  // namespace tunara

namespace tunara {

// What a written file's ID3v2.4 tag holds; empty texts and zero numbers are left out.
struct Id3v2Fields {
    std::string title, artist, album, year, genre, encoder;
    int track = 0, trackTotal = 0;
};

// A whole ID3v2.4 tag (header, UTF-8 text frames, no unsynchronisation) ready to be placed at the
// front of a file. Bytes that are not UTF-8 are taken as ISO-8859-1. Empty when nothing is set.
std::vector<uint8_t> BuildId3v24Tag(const Id3v2Fields& fields);

}  // namespace tunara
