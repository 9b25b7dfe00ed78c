#pragma once
// The table of contents as read from libcdio, checked before anyone relies
// on it. Internal to platform/cdaudio; tests and the fuzz target include it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/cdaudio/ImageCheck.h"

namespace tunara::cdaudio {

struct Toc {
    struct Track {
        int32_t startLsn = 0;  // sectors from the first sector (no lead-in)
        bool audio = false;
    };
    std::vector<Track> tracks;  // MCI track t is tracks[t - 1]
    int32_t leadoutLsn = 0;

    int Count() const { return static_cast<int>(tracks.size()); }
    // End (exclusive) of 0-based track i: the next start or the lead-out.
    int32_t EndLsn(int i) const { return i + 1 < Count() ? tracks[i + 1].startLsn : leadoutLsn; }
};

inline constexpr int kMaxTracks = 99;
// 100 minutes: more than any pressed or burnt disc holds.
inline constexpr int32_t kMaxLsn = 100 * 60 * 75;

// Reads the table of contents of an open disc. Returns 0 (kOk), kErrNotReady
// when there is no disc, kErrBadToc when libcdio's answer is absurd: no
// tracks or more than 99, starts that do not ascend, a lead-out not after
// the last start, or anything beyond 100 minutes.
uint32_t ReadToc(CdIo_t* cdio, Toc& toc);
// The same checks on a table already filled in.
uint32_t CheckToc(const Toc& toc);
// Stable 64-bit identity: FNV-1a over the track count, every start and the
// lead-out.
uint64_t MediaIdentityOf(const Toc& toc);

}  // namespace tunara::cdaudio
