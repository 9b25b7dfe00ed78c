#pragma once
// Reader of the movies MovieWriter makes (and QuickTime movies like them): the first sound
// track's sample description and its sample table (stts, stsc, stsz, stco / co64), so that a
// caller can fetch each sample (codec packet) by number.
//
//   MovieReader movie;
//   if (movie.Open(path) == MovieReadStatus::kOk) { ... movie.ReadSample(i, buffer) ... }
//
// Every size and offset is checked against the file: a damaged movie gives a status, never a
// read outside the file or an unbounded allocation.
#include <cstdint>
#include <string>
#include <vector>

namespace tunara::movie {

enum class MovieReadStatus {
    kOk = 0,
    kCannotOpen,  // the file cannot be opened or read
    kNotAMovie,   // no movie resource, or atoms that run past their parent
    kNoSound,     // no sound track with a sample description
    kBadTable,    // the sample table is inconsistent or points outside the file
};
const char* MovieReadStatusText(MovieReadStatus status);

struct SoundTrackInfo {
    uint32_t dataFormat = 0;  // e.g. "KVM2"
    int32_t channels = 0;
    int32_t sampleSize = 0;
    uint32_t sampleRate = 0;  // integer part of the 16.16 rate
    int32_t version = 0;      // sound description version
    uint32_t samplesPerPacket = 0, bytesPerPacket = 0, bytesPerFrame = 0, bytesPerSample = 0;
    std::vector<uint8_t> waveExtension;  // contents of the "wave" atom, empty without one
    int32_t mediaTimeScale = 0;
    int64_t mediaDuration = 0;  // media time units
    int64_t playDuration = -1;  // media units the track plays by its edit list; -1: all media
};

class MovieReader {
public:
    MovieReader() = default;
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // Keeps the file open until the reader goes or opens another: a movie renamed or
    // deleted while it plays reads on from what was opened.
    MovieReadStatus Open(const std::string& path);
    // Parses a whole movie held in memory (tests, fuzzing); ReadSample then reads from it.
    MovieReadStatus OpenMemory(std::vector<uint8_t> bytes);

    const SoundTrackInfo& Sound() const { return sound_; }
    size_t SampleCount() const { return offsets_.size(); }
    uint32_t SampleSize(size_t i) const { return sizes_[i]; }
    uint64_t SampleOffset(size_t i) const { return offsets_[i]; }
    int64_t SampleTime(size_t i) const { return times_[i]; }  // media time units
    // Reads sample i into `out` (resized); false on a read error or a file cut short.
    bool ReadSample(size_t i, std::vector<uint8_t>& out);
    // Lets the file go; the reader is empty until the next Open.
    void Close();

private:
    MovieReadStatus Parse();
    bool ReadAt(uint64_t offset, void* data, size_t bytes);

    int fd_ = -1;
    std::vector<uint8_t> memory_;
    bool inMemory_ = false;
    uint64_t fileSize_ = 0;
    SoundTrackInfo sound_;
    std::vector<uint64_t> offsets_;
    std::vector<uint32_t> sizes_;
    std::vector<int64_t> times_;
};

}  // namespace tunara::movie
