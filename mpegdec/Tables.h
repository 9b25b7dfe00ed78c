#pragma once
// Private: constant and computed tables of the Layer III decoder, built once per process.
#include <cstdint>

#include "mpeg/Tables.h"
#include "mpeg/Window.h"

namespace mpegdec {

using mpeg::BandTable;
using mpeg::kBands;
using mpeg::kPretab;
using mpeg::kSfbPartitions;
using mpeg::kSlen;

// Largest quantised magnitude: 15 plus a 13-bit escape.
constexpr int32_t kPow43Size = 15 + 8191 + 1;

struct Tables {
    float gain[256];           // 2^((g - 210) / 4)
    float pow43[kPow43Size];   // q^(4/3) for every magnitude a stream can code
    float pow2Half[64];        // 2^(-m / 2)
    float isLeft[16];          // MPEG-1 intensity: r / (1 + r)
    float isRight[16];         // 1 / (1 + r)
    float lsfIs[2][32];        // LSF intensity: io^k, io = 2^-1/4 (even compress) or 2^-1/2 (odd)
    float cs[8], ca[8];        // alias-reduction butterflies
    float window[4][36];       // inverse-MDCT windows per block type, scaled by 32768
    float shortMatrix[12][6];  // cos((2n + 7)(2k + 1) pi / 24) * short window[n]
    alignas(32) float longCos[18][24];  // DCT-IV kernel [k][n], rows padded with 0
    float dct32[31];                    // butterfly constants of the 32-point transform
    // Synthesis window with signs: [i][j] weighs output j's share of the even block 2i
    // and of the odd block 2i + 1 (0 = newest).
    alignas(32) float synthEven[8][32];
    alignas(32) float synthOdd[8][32];
};

// Thread-safe; computed on first use.
const Tables& GetTables();

using mpeg::SynthesisWindow;

}  // namespace mpegdec
