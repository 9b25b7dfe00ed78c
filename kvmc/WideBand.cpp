// The 32-band analysis filter bank over the residual and the wide-band lists (sub-packets 10,
// 11 and 12).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

namespace kvmc {
namespace {

struct FilterTables {
    float C[512];
    float M[32][64];  // cos((2k + 1)(i - 16) pi / 64)
    FilterTables() {
        const float* D = dspPolyphaseWindow();
        for (int i = 0; i < 512; ++i) C[i] = D[i] / 32.0f;
        for (int k = 0; k < 32; ++k)
            for (int i = 0; i < 64; ++i)
                M[k][i] = float(std::cos((2 * k + 1) * (i - 16) * M_PI / 64.0));
    }
};

const FilterTables& Tables() {
    static const FilterTables tables;
    return tables;
}

}  // namespace

// Coefficient classes of groups 0..29 by quality level.
int32_t GroupClass(int quality, int g) {
    switch (quality) {
        case 0:
        case 1: {
            static const int32_t c[8] = {34, 30, 24, 24, 16, 16, 16, 16};
            return g < 8 ? c[g] : 10;
        }
        case 2: {
            static const int32_t c[6] = {34, 30, 30, 30, 24, 24};
            return g < 6 ? c[g] : g < 12 ? 16 : 10;
        }
        case 3: {
            static const int32_t c[8] = {34, 34, 30, 30, 24, 24, 24, 24};
            return g < 8 ? c[g] : g < 22 ? 16 : 10;
        }
        default:
            return g < 2 ? 34 : g < 8 ? 30 : g < 20 ? 24 : 16;
    }
}

void InitFilterBank() {
    (void)Tables();
}

void FilterBank(KvmcEncoder& e) {
    const FilterTables& T = Tables();
    const int32_t H = e.H, up = 1 << (2 - e.n), quarter = H / 4;
    const int32_t start = (120 << e.n) + 1;
    for (int c = 0; c < e.channels; ++c) {
        float* X = e.fbHistory[c];
        const float* src = e.history[c] + start;
        for (int blk = 0; blk < 4; ++blk) {
            for (int step = 0; step < 32; ++step) {
                std::memmove(X + 32, X, sizeof(float) * 480);
                // 32 new samples, the newest at X[0]; below 32 kHz the hop is spread with zeros.
                for (int i = 0; i < 32; ++i) {
                    const int32_t t = step * 32 + i;  // index in the 1024-sample block
                    float v = 0.0f;
                    if (t % up == 0) v = src[blk * quarter + t / up] * float(up);
                    X[31 - i] = v;
                }
                float Y[64];
                for (int i = 0; i < 64; ++i) {
                    float s = 0;
                    for (int j = 0; j < 8; ++j) s += T.C[i + 64 * j] * X[i + 64 * j];
                    Y[i] = s;
                }
                float* out = e.subband[c] + blk * 32 + step;
                for (int k = 0; k < 32; ++k) {
                    float s = 0;
                    for (int i = 0; i < 64; ++i) s += T.M[k][i] * Y[i];
                    out[k * 128] = s;
                }
            }
        }
    }
}

namespace {

// Level data of one channel: level groups 0..n, eight columns each. Level group i covers the
// coefficient groups 8i..8i+7 (the last one 16..29, its columns two groups wide).
struct LevelData {
    int32_t level[3][8];    // amplitude code of the column's peak
    int32_t drop[3][8][8];  // [block][column]: how far the block's peak lies below the level
    bool present[3][8];     // a block with its own values
    bool presentWritten[3][8];
    bool valueWritten[3][8][8];
    int32_t base[3];
    bool baseWritten[3];
    bool levelWritten[3][8];
};

void GroupSpan(int32_t i, int32_t groups, int32_t& g0, int32_t& g1) {
    g0 = 8 * i;
    g1 = i == 2 ? groups : std::min(groups, g0 + 8);
}

int32_t ColumnOf(int32_t i, int32_t groups, int32_t g) {
    int32_t g0, g1;
    GroupSpan(i, groups, g0, g1);
    return (g - g0) * 8 / std::max(1, g1 - g0);
}

void MeasureLevels(const KvmcEncoder& e, int c, int32_t groups, LevelData& d) {
    std::memset(&d, 0, sizeof d);
    for (int i = 0; i <= e.n; ++i) {
        int32_t g0, g1;
        GroupSpan(i, groups, g0, g1);
        float peak[8] = {}, blockPeak[8][8] = {};
        for (int32_t g = g0; g < g1; ++g) {
            const int32_t j = ColumnOf(i, groups, g);
            for (int t = 0; t < 128; ++t) {
                const float v = std::fabs(e.subband[c][g * 128 + t]);
                peak[j] = std::max(peak[j], v);
                blockPeak[t / 16][j] = std::max(blockPeak[t / 16][j], v);
            }
        }
        for (int j = 0; j < 8; ++j) d.level[i][j] = std::min(AmpCode(peak[j]), 63);
        for (int k = 0; k < 8; ++k) {
            for (int j = 0; j < 8; ++j) {
                d.drop[i][k][j] = std::clamp(d.level[i][j] - AmpCode(blockPeak[k][j]), 0, 18);
                if (d.drop[i][k][j] > 1) d.present[i][k] = true;
            }
        }
        d.base[i] = *std::min_element(d.level[i], d.level[i] + 8);
    }
}

// Unit of a coefficient's quantiser: the amplitude of its column's level, lowered by its block's
// drop when that was written. 0 when the level did not fit in the list.
float UnitOf(const LevelData& d, int32_t i, int32_t j, int32_t block) {
    if (!d.levelWritten[i][j] || !d.baseWritten[i]) return 0.0f;
    int32_t code = d.level[i][j];
    if (d.present[i][block] && d.valueWritten[i][block][j]) code -= d.drop[i][block][j];
    return AmpValue(code);
}

// Coded value of a coefficient by class (all non-negative):
//   34: first coefficient round(15 y) + 16 in 0..31; later ones round(4 y) + 4 in 0..8;
//   30: round(3 y) + 3 in 0..6;  24: round(2 y) + 2 in 0..4;
//   16: 1 for |y| < 0.333, else 2 (positive) or 0 (negative);  10: 1 positive, 0 negative,
//   where below 0.138 of the unit the sign is taken from the noise value `noise` instead;
// with y the sample over its unit (0 when the unit is unknown).
int32_t Quantise(int32_t cls, bool first, float y, float noise) {
    auto q = [](float v, int lo, int hi) { return std::clamp(int32_t(std::lround(v)), lo, hi); };
    switch (cls) {
        case 34:
            return first ? q(15 * y, -16, 15) + 16 : q(4 * y, -4, 4) + 4;
        case 30:
            return q(3 * y, -3, 3) + 3;
        case 24:
            return q(2 * y, -2, 2) + 2;
        case 16:
            return std::fabs(y) < 0.333f ? 1 : (y > 0 ? 2 : 0);
        case 10:
            return (std::fabs(y) < 0.138f ? noise : y) >= 0 ? 1 : 0;
        default:
            return 0;
    }
}

struct GroupWriter {
    KvmcEncoder& e;
    SymbolList& list;
    int32_t budget;
    bool stopped = false;
    // A step that passes the budget, or the list's room (two entries at most per step), ends
    // the list.
    bool Fits(int32_t bits) {
        if (stopped || list.bits + bits > budget || list.count + 2 > kListCapacity) {
            stopped = true;
            return false;
        }
        return true;
    }
    void Raw(int32_t value, int width) {
        if (Fits(width)) ListAddRaw(list, value, width);
    }
    void Code(int32_t value, int code) {
        if (Fits(CostOf(e.codes, value, code, false))) ListAdd(list, e.codes, value, code, false);
    }
};

// One group of one channel: the mode flag, then the coefficients by class.
void WriteGroup(GroupWriter& w, int32_t cls, int c, const int16_t* v) {
    bool fine = false;
    if (cls == 16) {
        int32_t zeros = 0;
        for (int t = 0; t < 128; ++t) zeros += v[t] == 1;
        fine = zeros + 2 * (128 - zeros) < 26 * 8;
    }
    w.Raw(fine ? 1 : 0, 1);
    auto at = [&](int t) { return t < 128 ? v[t] : 0; };
    int t = 0;
    while (t < 128 && !w.stopped) {
        switch (cls) {
            case 34:
                if (t == 0) {
                    if (w.Fits(7)) {
                        ListAddRaw(w.list, c, 2);  // the channel the group belongs to
                        ListAddRaw(w.list, v[0], 5);
                    }
                } else {
                    w.Code(v[t], 15);
                }
                t += 1;
                break;
            case 30:
                w.Code(v[t], 14);
                t += 1;
                break;
            case 24:
                w.Raw(at(t) * 25 + at(t + 1) * 5 + at(t + 2), 7);
                t += 3;
                break;
            case 16:
                if (fine) {
                    if (v[t] == 1)
                        w.Raw(0, 1);
                    else
                        w.Raw(v[t] == 2 ? 3 : 1, 2);  // bit 1 first, then 1 for 2, 0 for 0
                    t += 1;
                } else {
                    w.Raw(at(t) * 81 + at(t + 1) * 27 + at(t + 2) * 9 + at(t + 3) * 3 + at(t + 4),
                          8);
                    t += 5;
                }
                break;
            case 10:
                w.Raw(v[t], 1);
                t += 1;
                break;
            default:
                t += 1;
                break;
        }
    }
}

// Groups [g0, g1) by the group rule. The two channels are never merged: the joint flag is
// written 0 for groups 12..23, and groups from 24 on keep that flag.
void WriteGroups(KvmcEncoder& e, GroupWriter& w, int32_t g0, int32_t g1) {
    for (int32_t g = g0; g < g1 && !w.stopped; ++g) {
        const int32_t cls = GroupClass(e.quality, g);
        if (e.channels == 2 && g >= 12 && g < 24) w.Raw(0, 1);
        for (int c = 0; c < e.channels && !w.stopped; ++c)
            WriteGroup(w, cls, c, e.coef[c] + g * 128);
    }
}

}  // namespace

void CodeWideBand(KvmcEncoder& e, int32_t a) {
    SymbolList& l10 = e.lists[3];
    SymbolList& l11 = e.lists[4];
    SymbolList& l12 = e.lists[5];
    const int32_t groups = std::min(8 << e.n, 30);
    if (a < 64) return;

    // 1. The wide-band envelope per channel: RMS over the coded subbands per eighth of the hop.
    for (int c = 0; c < e.channels; ++c) {
        int32_t lv[8];
        for (int s = 0; s < 8; ++s) {
            double sq = 0;
            for (int32_t g = 0; g < groups; ++g)
                for (int t = 0; t < 16; ++t) {
                    const float x = e.subband[c][g * 128 + s * 16 + t];
                    sq += double(x) * x;
                }
            lv[s] = std::min(AmpCode(float(std::sqrt(sq / (16.0 * groups)))), 127);
        }
        const int32_t mark = l10.count, markBits = l10.bits;
        AddEnvelope(e, l10, lv);
        if (l10.bits > a) {  // no room: the list stays empty
            l10.count = mark;
            l10.bits = markBits;
            return;
        }
    }

    // 2-4. Level data.
    LevelData levels[2];
    for (int c = 0; c < 2 && c < e.channels; ++c) MeasureLevels(e, c, groups, levels[c]);
    auto left = [&] { return a - l10.bits; };
    for (int i = 0; i <= e.n; ++i)
        for (int c = 0; c < e.channels; ++c) {
            LevelData& d = levels[c];
            for (int k = 0; k < 8; ++k) {
                if (left() < 1) break;
                ListAddRaw(l10, d.present[i][k] ? 1 : 0, 1);
                d.presentWritten[i][k] = true;
                if (!d.present[i][k]) continue;
                for (int j = 0; j < 8; ++j) {
                    if (left() < 16) break;
                    ListAdd(l10, e.codes, d.drop[i][k][j], 11, false);
                    d.valueWritten[i][k][j] = true;
                }
            }
        }
    for (int i = 0; i <= e.n; ++i)
        for (int c = 0; c < e.channels; ++c) {
            if (left() < 16) break;
            ListAdd(l10, e.codes, levels[c].base[i], 13, false);
            levels[c].baseWritten[i] = true;
        }
    for (int i = 0; i <= e.n; ++i)
        for (int c = 0; c < e.channels; ++c)
            for (int j = 0; j < 8; ++j) {
                if (left() < 16) break;
                const int32_t diff = levels[c].level[i][j] - levels[c].base[i];
                ListAdd(l10, e.codes, diff < -16 ? 0 : diff + 16, 12, false);
                levels[c].levelWritten[i][j] = true;
            }

    // Sub-packet 11: the byte count for 11 and 12, then groups 0..7.
    const int32_t B = std::min((a - ((l10.bits + 7) & ~7)) / 8, 8191);
    if (B < 4) return;
    ListAddRaw(l11, B, 13);
    const float* noise = NoiseTable();
    for (int c = 0; c < e.channels; ++c) {
        const LevelData& d = levels[c];
        for (int32_t g = 0; g < 30; ++g) {
            int16_t* v = e.coef[c] + g * 128;
            const int32_t cls = GroupClass(e.quality, g);
            if (g >= groups) {
                for (int t = 0; t < 128; ++t) v[t] = 0;
                continue;
            }
            const int32_t i = std::min(g / 8, 2), j = ColumnOf(i, groups, g);
            for (int t = 0; t < 128; ++t) {
                const float unit = UnitOf(d, i, j, t / 16);
                const float y = unit > 0 ? e.subband[c][g * 128 + t] / unit : 0.0f;
                v[t] =
                    int16_t(Quantise(cls, t == 0, y, noise[(g * 128 + t + e.parity * 61) & 127]));
            }
        }
    }
    GroupWriter w11{e, l11, B * 8};
    WriteGroups(e, w11, 0, std::min(8, groups));
    GroupWriter w12{e, l12, B * 8 - ((l11.bits + 7) & ~7)};
    if (!w11.stopped) WriteGroups(e, w12, 8, groups);
}

}  // namespace kvmc
