#include "record/DiscRecording.h"

#include <mutex>

#include "sources/CdDisc.h"
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
    std::lock_guard lock(disc.ItemLock());
    for (int item : items) {
        if (auto* track = dynamic_cast<const CdTrackSource*>(disc.ItemAt(item)))
            config.tracks.push_back(RecordTrackOf(*track, disc.TrackCount()));
    }
    return config;
}

}  // namespace tunara
