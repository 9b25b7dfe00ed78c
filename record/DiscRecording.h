#pragma once
// A recording job's CD side, shared by the CD window and tunara-cli: the
// tracks and the drive of a disc turned into the job's configuration.
#include <vector>

#include "record/RecordJob.h"

namespace tunara {

class CdDisc;
class CdTrackSource;

// A CD track as the recording job takes it: its texts as they stand now
// (the caller holds the disc's item lock) and the disc's track count.
RecordTrack RecordTrackOf(const CdTrackSource& track, int trackTotal);

// `config` (the settings' part) with the disc's drive and the audio tracks at
// the given items of its list, in that order; other items are left out. Takes
// the disc's item lock.
RecordJobConfig DiscRecordConfig(RecordJobConfig config, CdDisc& disc,
                                 const std::vector<int>& items);

}  // namespace tunara
