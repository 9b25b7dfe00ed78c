#pragma once
// A recording job's CD side, shared by the CD window and tunara-cli: the
// tracks and the drive of a disc turned into the job's configuration, the
// reader of the drive and what an AccurateRip check of the rip is asked.
#include <memory>
#include <vector>

#include "metadata/AccurateRip.h"
#include "platform/cdreader/CdReader.h"
#include "record/RecordJob.h"
#include "record/RipCheck.h"

namespace tunara {

class CdDisc;
class CdTrackSource;

// A CD track as the recording job takes it: its texts as they stand now
// (the caller holds the disc's item lock) and the disc's track count.
RecordTrack RecordTrackOf(const CdTrackSource& track, int trackTotal);

// `config` (the settings' part) with the disc's drive and the audio tracks at
// the given items of its list, in that order, each with the disc's CDDB and
// MusicBrainz ids; other items are left out. Takes the disc's item lock.
RecordJobConfig DiscRecordConfig(RecordJobConfig config, CdDisc& disc,
                                 const std::vector<int>& items);

// A recording of some of a disc's tracks, ready to start. The job takes
// `config`; `reader` stays here and outlives the job.
struct DiscRecording {
    RecordJobConfig config;
    std::unique_ptr<CdReader> reader;
    // For the AccurateRip check once the job has finished.
    accuraterip::DiscIds ids;
    RipFacts facts;
};
// As DiscRecordConfig, with the reader and the check's ids and facts (the
// album and artist of the disc's first audio track).
DiscRecording PrepareDiscRecording(RecordJobConfig config, CdDisc& disc,
                                   const std::vector<int>& items);

}  // namespace tunara
