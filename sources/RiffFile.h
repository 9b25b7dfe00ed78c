#pragma once
// A RIFF chunk reader and writer over a file or a memory block.
//
// A chunk is an 8-byte header (four-character id, 32-bit little-endian size)
// followed by `size` data bytes and one pad byte when the size is odd. "RIFF"
// and "LIST" chunks begin their data with a four-character form type and hold
// further chunks after it.
//
// Offsets are 64-bit so that sizes near 4 GiB never wrap; nothing here trusts
// a size field: searches stop at the end of the parent and of the file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace tunara {

using FourCC = uint32_t;

// "fmt " -> the id as it reads little-endian from a file.
constexpr FourCC MakeFourCC(std::string_view text) {
    FourCC id = 0;
    for (size_t i = 0; i < 4; ++i) {
        const auto c = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
        id |= static_cast<FourCC>(c) << (8 * i);
    }
    return id;
}

inline constexpr FourCC kRiffId = MakeFourCC("RIFF");
inline constexpr FourCC kListId = MakeFourCC("LIST");

// Byte I/O under a RIFF file. Read and Write return the bytes moved, -1 on an
// error; Seek returns the new position, -1 on an error.
class RiffIo {
public:
    virtual ~RiffIo() = default;
    virtual int64_t Read(void* buffer, int64_t bytes) = 0;
    virtual int64_t Write(const void* buffer, int64_t bytes) = 0;
    virtual int64_t Seek(int64_t offset, int whence) = 0;  // SEEK_SET, SEEK_CUR, SEEK_END
    virtual int64_t Size() = 0;                            // -1 when unknown
    // Flushes and releases the file; false when that failed.
    virtual bool Close() = 0;
};

enum class RiffOpenMode {
    Read,       // existing file, read only
    ReadWrite,  // existing file, read and write
    Create,     // new or truncated file, read and write
};

// Opens a file; nullptr when it cannot be opened (errno tells why).
std::unique_ptr<RiffIo> OpenRiffFileIo(const std::filesystem::path& path, RiffOpenMode mode);
// Reads from a memory block the caller keeps alive; writes are refused.
std::unique_ptr<RiffIo> MakeRiffMemoryIo(const uint8_t* data, size_t size);

struct RiffChunk {
    FourCC id = 0;
    uint32_t size = 0;       // data bytes, form type included for RIFF and LIST
    FourCC formType = 0;     // RIFF and LIST only
    int64_t dataOffset = 0;  // file offset of the first data byte (the form type for RIFF/LIST)
    bool created = false;    // made by CreateChunk: Ascend writes its size back

    int64_t EndOffset() const { return dataOffset + size; }  // without the pad byte
};

enum class RiffStatus {
    Ok = 0,
    ChunkNotFound,  // no such chunk before the end of the parent or the file
    CannotRead,
    CannotWrite,
    CannotSeek,
};
const char* RiffStatusText(RiffStatus status);

// How Descend finds its chunk.
enum class RiffFind {
    Here,   // the chunk that starts at the current position
    Chunk,  // the first chunk with id `chunk.id`
    Riff,   // the first "RIFF" chunk with form type `chunk.formType`
    List,   // the first "LIST" chunk with form type `chunk.formType`
};

class RiffFile {
public:
    explicit RiffFile(std::unique_ptr<RiffIo> io);
    ~RiffFile();

    // Searches from the current position, within `parent` when given, and on
    // success leaves the position at the chunk's data (after the form type for
    // RIFF and LIST). On failure the position is where the search started.
    // Returns Ok, ChunkNotFound, CannotRead or CannotSeek.
    RiffStatus Descend(RiffChunk& chunk, const RiffChunk* parent, RiffFind find);
    // Moves past the end of `chunk` and its pad byte. A created chunk first
    // gets its size from the current position and its pad byte written.
    // Returns Ok, CannotSeek or CannotWrite.
    RiffStatus Ascend(RiffChunk& chunk);
    // Writes a header for chunk.id (and chunk.formType when `kind` is Riff or
    // List) at the current position; the size is settled by Ascend.
    // Returns Ok or CannotWrite.
    RiffStatus CreateChunk(RiffChunk& chunk, RiffFind kind);
    // Rewrites the size field of `chunk` in place from chunk.size; the
    // position is kept. Returns Ok, CannotSeek or CannotWrite.
    RiffStatus WriteChunkSize(const RiffChunk& chunk);

    int64_t Read(void* buffer, int64_t bytes);
    int64_t Write(const void* buffer, int64_t bytes);
    int64_t Seek(int64_t offset, int whence);
    int64_t Tell();
    int64_t FileSize();
    bool Close();

private:
    // Reads a chunk header at the current position; false at the end.
    bool ReadHeader(RiffChunk& chunk, int64_t limit, bool withForm);

    std::unique_ptr<RiffIo> io_;
};

}  // namespace tunara
