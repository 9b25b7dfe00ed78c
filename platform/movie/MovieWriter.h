#pragma once
// Writer of QuickTime movies with one sound track, behind the calls the recording job makes:
//
//   MovieWriter movie;
//   movie.Create(path);                                  // create the movie file
//   movie.AddTrack(0, 0, 256);                           // width, height, volume
//   movie.AddMedia(FourCc("soun"), sampleRate);          // time scale = the sample rate
//   movie.SetSoundDescription(description);              // 52 bytes + "wave" extension
//   movie.BeginMediaEdits();
//   movie.AddMediaSample(packet, P, 1, H, 0);            // once per packet
//   movie.EndMediaEdits();
//   movie.InsertMediaIntoTrack(0, 0, movie.MediaDuration(), 0x10000);
//   movie.AddMovieResource();
//   movie.Close();                                       // renamed into place here
//
// Layout: ftyp, wide, mdat (the samples), moov (mvhd, trak: tkhd, mdia: mdhd, hdlr "soun",
// minf: smhd, dinf/dref, stbl: stsd, stts, stsc, stsz, stco or co64). The file grows under a
// temporary name in the destination folder and is renamed to `path` by Close() after the movie
// resource was written; Discard(), a failure or destruction without Close() removes it, so the
// final name never holds a partial movie. Beyond 4 GiB the mdat header takes 64 bits (over
// the "wide" atom) and the chunk offsets become co64.
//
// Each AddMediaSample call is one sample of the file (one codec packet): its duration in the
// media's time scale is durationPerSample x numberOfSamples, so a KVMC packet of H frames
// added with duration 1 and H samples lasts H / rate seconds.
//
// Every call returns a MovieStatus; after the first failure every later call returns the same
// failure and Close() discards the file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/movie/MovieTexts.h"

namespace tunara::movie {

enum class MovieStatus {
    kOk = 0,
    kCannotCreate,  // the temporary file could not be created in the destination folder
    kWriteFailed,   // a write, sync or rename failed (disk full, removed folder...)
    kBadCall,       // a call out of order or with bad values (no track, no description...)
};
const char* MovieStatusText(MovieStatus status);

constexpr uint32_t FourCc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
           uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

// Sound description version 1 (52 bytes in the file) and its "wave" extension, which is
// stored as given (for KVMC: kvmcWriteExtension's 84 bytes).
struct SoundDescription {
    uint32_t dataFormat = 0;  // e.g. FourCc("KVM2")
    uint16_t dataReferenceIndex = 1;
    uint16_t channels = 0;
    uint16_t sampleSize = 16;      // bits
    uint32_t sampleRateFixed = 0;  // 16.16 fixed point (rate << 16)
    uint32_t samplesPerPacket = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t bytesPerSample = 0;
    std::vector<uint8_t> waveExtension;  // contents of the "wave" atom; empty: no atom
};

// The 52 bytes of a version-1 sound description followed by its "wave" atom, as stored in
// "stsd" (size field included).
std::vector<uint8_t> SoundDescriptionBytes(const SoundDescription& description);

class MovieWriter {
public:
    MovieWriter();
    ~MovieWriter();  // without Close(): the temporary file is removed
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    MovieStatus Create(const std::string& path);
    MovieStatus AddTrack(int32_t width, int32_t height, int32_t volume);
    MovieStatus AddMedia(uint32_t mediaType, int32_t timeScale);
    MovieStatus SetSoundDescription(const SoundDescription& description);
    MovieStatus BeginMediaEdits();
    // `flags` 0: every sample is a sync sample.
    MovieStatus AddMediaSample(const uint8_t* data, uint32_t byteCount, int32_t durationPerSample,
                               int32_t numberOfSamples, int32_t flags);
    MovieStatus EndMediaEdits();
    int64_t MediaDuration() const;  // in the media's time scale
    int64_t SampleCount() const;    // samples (packets) added so far
    // Places the media from `mediaTime` for `duration` (media time scale) at `trackStart`;
    // `rate` is 16.16 fixed point (0x10000 = normal speed).
    MovieStatus InsertMediaIntoTrack(int64_t trackStart, int64_t mediaTime, int64_t duration,
                                     int32_t rate);
    // Texts kept as the movie's user data (udta); call before AddMovieResource.
    MovieStatus SetTexts(const MovieTexts& texts);
    MovieStatus AddMovieResource();  // writes moov after the samples
    MovieStatus Close();             // syncs and renames into place
    void Discard();                  // removes the temporary file; nothing stays

    const std::string& TemporaryPath() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tunara::movie
