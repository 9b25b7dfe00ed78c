#pragma once
// Private: the encoder's process-wide tables, computed once on first use (thread-safe).
#include <cstdint>

namespace mp3enc {

// Largest quantised magnitude the Huffman codes can carry (15 plus a 13-bit escape) that the
// loops allow.
constexpr int32_t kMaxQuant = 8205;
constexpr int32_t kMinStep = -210;  // global_gain 0
constexpr int32_t kMaxStep = 45;    // global_gain 255
constexpr int32_t kNoStep = 0x7FFF;

// A pair table for the encoder: code and length by x * 16 + y (x, y clipped to 15).
struct PairCode {
    int32_t xlen, linbits, linmax;
    uint16_t code[256];
    uint8_t len[256];
};
struct QuadCode {
    uint16_t code[16];  // by v * 8 + w * 4 + x * 2 + y
    uint8_t len[16];
};

// Tables whose code lengths are summed in one pass: three 21-bit fields per packed entry.
struct TableGroup {
    int32_t count;
    int32_t tables[3];
    uint64_t packed[256];  // by x * 16 + y (clipped to 15)
};
enum : int32_t { kGroupEscape = 6 };  // tables 16 and 24 (escape lengths counted apart)

struct EncTables {
    PairCode pair[32];
    TableGroup group[7];  // {1}, {2,3}, {5,6}, {7,8,9}, {10,11,12}, {13,15}, {16,24}
    QuadCode quad[2];
    float pow43[kMaxQuant + 2];                  // q^(4/3) for the noise calculation
    float quantFactor[kMaxStep - kMinStep + 1];  // 2^(-3 step / 16): scales |x|^(3/4)
    float stepGain[kMaxStep - kMinStep + 1];     // 2^(step / 4): back to the line's scale
    float sfGain34[2][64];  // 2^(3/4 * (1 + scalefac_scale) / 2 * sf): amplification
    float sfGain[2][64];    // 2^(-(1 + scalefac_scale) / 2 * sf)
};

const EncTables& GetEncTables();

inline int32_t StepIndex(int32_t step) {
    return step - kMinStep;
}

}  // namespace mp3enc
