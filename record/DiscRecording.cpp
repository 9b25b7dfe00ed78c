#include "record/DiscRecording.h"

#include <cstdio>
#include <mutex>

#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "sources/CdTrackSource.h"

namespace tunara {

RecordTrack RecordTrackOf(const CdTrackSource& track, int trackTotal) {
    RecordTrack r;
    r.number = track.TrackNumber();
    r.title = track.GetTitle();
    r.artist = track.GetArtist();
    r.album = track.GetAlbum();
    r.category = track.GetCategory();
    r.lengthMs = track.GetDuration();
    r.trackTotal = trackTotal;
    r.year = track.GetYear();
    r.genre = track.GetGenre();
    return r;
}

RecordJobConfig DiscRecordConfig(RecordJobConfig config, CdDisc& disc,
                                 const std::vector<int>& items) {
    config.drive = disc.Drive();
    char cddbId[9];
    std::snprintf(cddbId, sizeof cddbId, "%08x", disc.DiscId());
    const std::string mbId = disc.Info().MusicBrainzDiscId();
    std::lock_guard lock(disc.ItemLock());
    for (int item : items) {
        if (auto* track = dynamic_cast<const CdTrackSource*>(disc.ItemAt(item))) {
            config.tracks.push_back(RecordTrackOf(*track, disc.TrackCount()));
            config.tracks.back().cddbDiscId = cddbId;
            config.tracks.back().musicBrainzDiscId = mbId;
        }
    }
    return config;
}

DiscRecording PrepareDiscRecording(RecordJobConfig config, CdDisc& disc,
                                   const std::vector<int>& items) {
    DiscRecording r;
    r.config = DiscRecordConfig(std::move(config), disc, items);
    r.reader = std::make_unique<CdReader>();
    r.ids = accuraterip::ComputeDiscIds(disc.TrackOffsets(), disc.LeadoutFrames());
    r.facts.drive = disc.Drive();
    r.facts.readOffset = r.config.readOffset;
    std::lock_guard lock(disc.ItemLock());
    for (int i = 0; i < disc.Count(); ++i) {
        if (auto* track = dynamic_cast<const CdTrackSource*>(disc.ItemAt(i))) {
            r.facts.album = track->GetAlbum();
            r.facts.artist = track->GetArtist();
            break;
        }
    }
    return r;
}

}  // namespace tunara
