#pragma once
// The MusicBrainz side of a disc: its disc id from the table of contents.
#include <cstdint>
#include <string>
#include <vector>

namespace tunara::musicbrainz {

// From the tracks' start frames and the lead-out, counted with the 150-frame lead-in, the first
// track being number `firstTrack`; empty for a table that cannot be a CD's.
std::string DiscId(const std::vector<uint32_t>& trackOffsets, uint32_t leadout, int firstTrack = 1);

}  // namespace tunara::musicbrainz
