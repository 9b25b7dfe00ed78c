#pragma once
// After a rip: each track's checksums looked up in the AccurateRip database, the verdicts, and
// the rip's log file beside the tracks.
#include <atomic>
#include <memory>
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

// The log's file name without extension: the album, or "CD rip" without
// one; a slash in the album would name a folder.
std::string RipLogName(const RipFacts& facts);

// Looks the tracks up at `host`:`port` and writes `logPath`. `cancel`, when
// given, ends the lookup from another thread (the verdicts say "not checked").
RipCheck CheckRip(const std::vector<RecordJob::TrackSums>& sums, const accuraterip::DiscIds& ids,
                  const std::string& host, int port, const std::string& logPath,
                  const RipFacts& facts, std::shared_ptr<std::atomic<bool>> cancel = nullptr);

}  // namespace tunara
