// Auxiliary analysis (flags 0x04 and 0x08, normal mode): log spectra of 512-sample blocks of
// the coded hop. Its list (sub-packet 15) holds, for each block in time order, the mean log
// power of `bands` equal bands of the 256 bins as raw 6-bit values, round(1.5 ln(1 + power))
// clamped to 0..63, with bands = 2^(m-8) / 2 (1, 4 or 32 for m = 9, 11, 14), and ends where
// the budget ends.
#include <algorithm>
#include <cmath>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

namespace kvmc {

void AuxAnalysis(KvmcEncoder& e, bool buildList, int32_t budget) {
    SymbolList& list = e.lists[0];
    const int32_t bands = std::clamp(int32_t(e.auxScale) / 2, 1, 32);
    const int32_t width = 256 / bands;
    const int32_t start = 128 << e.n;
    float power[257];
    for (int32_t block = 0; block + 512 <= e.H; block += 512) {
        for (int i = 0; i < 512; ++i) {
            float v = 0;
            for (int c = 0; c < e.channels; ++c) v += e.history[c][start + block + i];
            e.auxBlock[i] = v / float(e.channels);
        }
        dspsWinHamming(e.auxBlock, 512);
        dspsRealFftNip(e.auxBlock, e.auxSpec, 9, dspFftForward);
        dspcbPowerSpectr(e.auxSpec, power, 256);
        for (int k = 0; k < 256; ++k) power[k] += 1.0f;
        dspsbLn1(power, 256);
        if (!buildList) continue;
        for (int32_t b = 0; b < bands; ++b) {
            if (list.bits + 6 > budget) return;
            float sum = 0;
            for (int32_t k = b * width; k < (b + 1) * width; ++k) sum += power[k];
            const int32_t v = std::clamp(int32_t(std::lround(1.5f * sum / float(width))), 0, 63);
            ListAddRaw(list, v, 6);
        }
    }
}

}  // namespace kvmc
