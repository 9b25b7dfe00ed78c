#include "metadata/MusicBrainz.h"

#include <discid/discid.h>

namespace tunara::musicbrainz {

std::string DiscId(const std::vector<uint32_t>& trackOffsets, uint32_t leadout, int firstTrack) {
    const int last = firstTrack + int(trackOffsets.size()) - 1;
    if (trackOffsets.empty() || firstTrack < 1 || last > 99) return {};
    // libdiscid's layout: the lead-out first, then each track's start by its number.
    int offsets[100] = {};
    offsets[0] = int(leadout);
    for (size_t i = 0; i < trackOffsets.size(); ++i)
        offsets[size_t(firstTrack) + i] = int(trackOffsets[i]);
    ::DiscId* disc = discid_new();
    if (!disc) return {};
    std::string id;
    if (discid_put(disc, firstTrack, last, offsets)) id = discid_get_id(disc);
    discid_free(disc);
    return id;
}

}  // namespace tunara::musicbrainz
