#pragma once
// Checking ripped tracks against the AccurateRip database: each track's v1 and v2 checksums,
// the disc's ids and record address, the binary record (one or more responses, each with a
// confidence and checksum per track) and the verdict per track.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/Http.h"

namespace tunara::accuraterip {

inline constexpr char kDefaultHost[] = "www.accuraterip.com";

struct Checksums {
    uint32_t v1 = 0, v2 = 0;
};

// Sums a track's stereo frames as they arrive. The disc's first track leaves out its first five
// sectors, the last track its last five (drives cannot all reach them); `totalFrames` tells
// where the last five begin.
class ChecksumAccumulator {
public:
    ChecksumAccumulator(int64_t totalFrames, bool firstTrack, bool lastTrack);
    // `frames` interleaved left/right 16-bit frames.
    void Add(const int16_t* samples, size_t frames);
    Checksums Result() const { return {v1_, v2_}; }

private:
    uint64_t position_ = 0;  // 1-based multiplier of the next frame, minus one
    uint64_t first_, last_;  // multipliers counted, inclusive
    uint32_t v1_ = 0, v2_ = 0;
};

// The checksums of a 16-bit stereo WAV file; false when it cannot be read or is of another kind.
bool FileChecksums(const std::string& wavPath, bool firstTrack, bool lastTrack, Checksums& out);

struct DiscIds {
    uint32_t id1 = 0, id2 = 0, cddb = 0;
    int tracks = 0;
};

// From the audio tracks' start frames and the lead-out, all counted with the 150-frame lead-in.
DiscIds ComputeDiscIds(const std::vector<uint32_t>& trackOffsets, uint32_t leadout);
// "/accuraterip/a/b/c/dBAR-NNN-id1-id2-cddb.bin"
std::string RecordObject(const DiscIds& ids);
// "8-digit-hex" style text of an id.
std::string Hex(uint32_t id);

struct TrackEntry {
    int confidence = 0;
    uint32_t crc = 0;
    uint32_t frame450 = 0;
};
struct Response {
    DiscIds ids;
    std::vector<TrackEntry> tracks;
};
// The responses of a record; false when the bytes are not a whole number of well-formed ones.
bool ParseRecord(std::string_view bytes, std::vector<Response>& out);

enum class Verdict { Accurate, NotInDatabase, Mismatch };
struct TrackVerdict {
    Verdict verdict = Verdict::NotInDatabase;
    int confidence = 0;   // Accurate: of the matching entry (the highest if several)
    int submissions = 0;  // Mismatch: all entries' confidences for the track
};
// `track` is 1-based; responses for other ids are ignored.
TrackVerdict Verify(const std::vector<Response>& responses, const DiscIds& ids, int track,
                    const Checksums& sums);
// "accurate (confidence 5)", "not in the database", "does not match (3 submissions)".
std::string VerdictText(const TrackVerdict& v);

// Fetches and parses the disc's record. A missing record (HTTP 404) is Ok with no responses.
http::Status Fetch(http::Session& session, const std::string& host, int port, const DiscIds& ids,
                   std::vector<Response>& out);

}  // namespace tunara::accuraterip
