#pragma once
// After a rip: each track's checksums looked up in the AccurateRip database, the verdicts, and
// the rip's log file beside the tracks.
#include <string>
#include <vector>

#include "metadata/AccurateRip.h"
#include "record/RecordJob.h"

namespace tunara {

struct RipFacts {
    std::string drive;
    int readOffset = 0;  // samples
    std::string paranoia = "full (verify, overlap, repair)";
    std::string album, artist;
};

struct RipCheck {
    std::vector<std::pair<int, std::string>> verdicts;  // track number, verdict text
    bool allAccurate = false;
    std::string failure;  // the lookup failed: why; verdicts then say "not checked"
    std::string logPath;  // empty when the log could not be written
};

// Looks the tracks up at `host`:`port` and writes `logPath`.
RipCheck CheckRip(const std::vector<RecordJob::TrackSums>& sums, const accuraterip::DiscIds& ids,
                  const std::string& host, int port, const std::string& logPath,
                  const RipFacts& facts);

}  // namespace tunara
