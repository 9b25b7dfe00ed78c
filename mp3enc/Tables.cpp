#include "mp3enc/Tables.h"

#include <cmath>
#include <mutex>

#include "mpeg/HuffmanCodes.h"

namespace mp3enc {
namespace {

EncTables g_tables;

void Build() {
    EncTables& t = g_tables;
    for (int n = 0; n < 32; ++n) {
        PairCode& p = t.pair[n];
        const mpeg::HuffmanCodeTable& h = mpeg::kHuffmanCodeTables[n];
        p.xlen = h.xlen;
        p.linbits = h.linbits;
        p.linmax = h.linmax;
        for (int i = 0; i < 256; ++i) {
            p.code[i] = 0;
            p.len[i] = 0;
        }
        if (!h.codes) continue;
        for (int x = 0; x < h.xlen; ++x)
            for (int y = 0; y < h.ylen; ++y) {
                p.code[x * 16 + y] = h.codes[x * h.ylen + y];
                p.len[x * 16 + y] = h.lengths[x * h.ylen + y];
            }
    }
    static const int kGroups[7][3] = {{1, 0, 0},    {2, 3, 0},   {5, 6, 0},  {7, 8, 9},
                                      {10, 11, 12}, {13, 15, 0}, {16, 24, 0}};
    for (int g = 0; g < 7; ++g) {
        TableGroup& grp = t.group[g];
        grp.count = 0;
        for (int k = 0; k < 3 && kGroups[g][k]; ++k) grp.tables[grp.count++] = kGroups[g][k];
        for (int i = 0; i < 256; ++i) {
            uint64_t v = 0;
            for (int k = 0; k < grp.count; ++k)
                v |= uint64_t(t.pair[grp.tables[k]].len[i]) << (21 * k);
            grp.packed[i] = v;
        }
    }
    for (int q = 0; q < 2; ++q) {
        const mpeg::HuffmanCodeTable& h = mpeg::kHuffmanCodeTables[32 + q];
        for (int i = 0; i < 16; ++i) {
            t.quad[q].code[i] = h.codes[i];
            t.quad[q].len[i] = h.lengths[i];
        }
    }
    for (int i = 0; i < kMaxQuant + 2; ++i) t.pow43[i] = float(std::pow(double(i), 4.0 / 3.0));
    for (int s = kMinStep; s <= kMaxStep; ++s) {
        t.quantFactor[StepIndex(s)] = float(std::pow(2.0, -3.0 * s / 16.0));
        t.stepGain[StepIndex(s)] = float(std::pow(2.0, s / 4.0));
    }
    for (int scale = 0; scale < 2; ++scale)
        for (int sf = 0; sf < 64; ++sf) {
            const double e = (1 + scale) * 0.5 * sf;
            t.sfGain34[scale][sf] = float(std::pow(2.0, 0.75 * e));
            t.sfGain[scale][sf] = float(std::pow(2.0, -e));
        }
}

}  // namespace

const EncTables& GetEncTables() {
    static std::once_flag once;
    std::call_once(once, Build);
    return g_tables;
}

}  // namespace mp3enc
