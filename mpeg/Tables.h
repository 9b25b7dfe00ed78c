#pragma once
// Layer III scale-factor bands and scale-factor coding tables.
#include <cstdint>

namespace mpeg {

struct BandTable {
    int16_t l[23];  // long band boundaries in lines, 0..576
    int16_t s[14];  // short band boundaries in lines of one window, 0..192
};
// Indexed [id][sampling-rate index]: id 1 = MPEG-1, 0 = LSF.
extern const BandTable kBands[2][3];
// MPEG-2.5: 11.025 and 12 kHz share the 16 kHz bands; 8 kHz has its own.
const BandTable& Bands(int32_t id, int32_t rateIndex, bool mpeg25);

extern const uint8_t kSlen[2][16];  // MPEG-1 scale-factor lengths by scalefac_compress
extern const uint8_t kPretab[22];
extern const uint8_t kSfbPartitions[6][3][4];  // LSF: row, block kind, partition

}  // namespace mpeg
