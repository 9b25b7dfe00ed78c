// Quantisation and coding loops with the bit reservoir.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "mp3enc/Context.h"
#include "mp3enc/Tables.h"
#include "mpeg/Tables.h"

namespace mp3enc {
namespace {

// Line ranges of the bands a granule codes: long bands 0..21 (21 has no scale factor) or
// short bands 0..12 per window, in the order of the bitstream.
struct BandLayout {
    int count;  // bands with a scale factor
    int start[40], end[40];
    int sfIndex[40];  // long: band; short: band * 3 + window
};

void Layout(const Mp3EncContext& c, int blockType, BandLayout& b) {
    const mpeg::BandTable& t = mpeg::kBands[c.id][c.rateIndex];
    b.count = 0;
    if (blockType != 2) {
        for (int sfb = 0; sfb < 22; ++sfb) {
            b.start[b.count] = t.l[sfb];
            b.end[b.count] = t.l[sfb + 1];
            b.sfIndex[b.count] = sfb;
            ++b.count;
        }
    } else {
        for (int sfb = 0; sfb < 13; ++sfb) {
            const int w = t.s[sfb + 1] - t.s[sfb];
            for (int win = 0; win < 3; ++win) {
                b.start[b.count] = 3 * t.s[sfb] + win * w;
                b.end[b.count] = b.start[b.count] + w;
                b.sfIndex[b.count] = sfb * 3 + win;
                ++b.count;
            }
        }
    }
}

inline int32_t SfOf(const ScaleFactors& sf, const GranuleInfo& gi, int index) {
    if (gi.block_type == 2) {
        const int sfb = index / 3;
        return sfb < 12 ? sf.s[sfb][index % 3] : 0;
    }
    return index < 21 ? sf.l[index] + (gi.preflag ? mpeg::kPretab[index] : 0) : 0;
}

// Quantises every line; returns false when a value exceeds the largest codable one.
bool Quantise(const float* xr34, const float* bandMax34, const GranuleInfo& gi,
              const ScaleFactors& sf, const BandLayout& bands, int step, int32_t* ix) {
    const EncTables& t = GetEncTables();
    const float base = t.quantFactor[StepIndex(step)];
    float gain[40];
    // Every band's largest value first: a step that cannot fit costs no quantisation.
    for (int b = 0; b < bands.count; ++b) {
        gain[b] = base * t.sfGain34[gi.scalefac_scale][SfOf(sf, gi, bands.sfIndex[b])];
        if (bandMax34[b] * gain[b] + 0.4054f >= float(kMaxQuant + 1)) return false;
    }
    for (int b = 0; b < bands.count; ++b) {
        const float g = gain[b];
        for (int i = bands.start[b]; i < bands.end[b]; ++i) ix[i] = int32_t(xr34[i] * g + 0.4054f);
    }
    return true;
}

// Picks the cheapest table for the pairs in [a, b); returns its bits (signs excluded).
int ChooseTable(const int32_t* ix, int a, int b, int32_t* table) {
    *table = 0;
    if (a >= b) return 0;
    int32_t mx = 0;
    for (int i = a; i < b; ++i) mx = std::max(mx, ix[i]);
    if (mx == 0) return 0;
    const EncTables& t = GetEncTables();
    auto sum = [&](const TableGroup& g, int* escapes) {
        uint64_t acc = 0;
        int esc = 0;
        for (int i = a; i < b; i += 2) {
            int x = ix[i], y = ix[i + 1];
            if (x >= 15) {
                x = 15;
                ++esc;
            }
            if (y >= 15) {
                y = 15;
                ++esc;
            }
            acc += g.packed[x * 16 + y];
        }
        if (escapes) *escapes = esc;
        return acc;
    };
    int best = 1 << 30;
    auto pick = [&](const TableGroup& g, uint64_t acc, int extra0, int extra1) {
        for (int k = 0; k < g.count; ++k) {
            const int bits = int((acc >> (21 * k)) & 0x1FFFFF) + (k == 0 ? extra0 : extra1);
            if (bits < best) {
                best = bits;
                *table = g.tables[k];
            }
        }
    };
    if (mx <= 15) {
        const int g = mx == 1 ? 0 : mx == 2 ? 1 : mx == 3 ? 2 : mx <= 5 ? 3 : mx <= 7 ? 4 : 5;
        pick(t.group[g], sum(t.group[g], nullptr), 0, 0);
        if (mx < 15) return best;
    }
    // Escape tables: the smallest linbits that holds the largest value in each family.
    const int need = mx - 15;
    int t16 = 16, t24 = 24;
    while (t16 < 23 && t.pair[t16].linmax < need) ++t16;
    while (t24 < 31 && t.pair[t24].linmax < need) ++t24;
    int esc = 0;
    const TableGroup& g = t.group[kGroupEscape];
    const uint64_t acc = sum(g, &esc);
    const int before = best;
    const int32_t keep = *table;
    pick(g, acc, esc * t.pair[t16].linbits, esc * t.pair[t24].linbits);
    if (best < before)
        *table = (*table == 16) ? t16 : t24;
    else
        *table = keep;
    return best;
}

// Counts the Huffman bits of a quantised granule and fills the coding fields of gi.
int CountBits(const Mp3EncContext& c, const int32_t* ix, GranuleInfo& gi) {
    const EncTables& t = GetEncTables();
    int i = kLines;
    while (i > 1 && ix[i - 1] == 0 && ix[i - 2] == 0) i -= 2;
    gi.count1End = i;
    int bits = 0;
    int countA = 0, countB = 0;
    while (i > 3 && ix[i - 1] <= 1 && ix[i - 2] <= 1 && ix[i - 3] <= 1 && ix[i - 4] <= 1) {
        const int idx = ix[i - 4] * 8 + ix[i - 3] * 4 + ix[i - 2] * 2 + ix[i - 1];
        countA += t.quad[0].len[idx];
        countB += 4;
        bits += ix[i - 4] + ix[i - 3] + ix[i - 2] + ix[i - 1];
        i -= 4;
    }
    gi.count1table_select = countB < countA ? 1 : 0;
    bits += std::min(countA, countB);
    const int bigEnd = i;
    gi.big_values = bigEnd / 2;
    for (int k = 0; k < bigEnd; ++k) bits += ix[k] != 0;

    const mpeg::BandTable& bt = mpeg::kBands[c.id][c.rateIndex];
    int a1, a2;
    if (gi.window_switching_flag) {
        a1 = gi.block_type == 2 ? 36 : bt.l[8];
        a2 = kLines;
        gi.region0_count = gi.block_type == 2 ? 8 : 7;
        gi.region1_count = 20 - gi.region0_count;
    } else {
        int index = 0;
        while (index < 21 && bt.l[index + 1] < bigEnd) ++index;
        // Our split: about a third of the big-value bands in region 0, a third in region 1.
        int r0 = std::min(15, (index + 1) / 3);
        int r1 = std::min(7, std::max(0, (index + 1) / 3));
        if (r0 + r1 + 2 > 22) r1 = 22 - 2 - r0;
        gi.region0_count = r0;
        gi.region1_count = r1;
        a1 = bt.l[r0 + 1];
        a2 = bt.l[r0 + r1 + 2];
    }
    a1 = std::min(a1, bigEnd);
    a2 = std::min(a2, bigEnd);
    gi.table_select[2] = 0;
    bits += ChooseTable(ix, 0, a1, &gi.table_select[0]);
    bits += ChooseTable(ix, a1, a2, &gi.table_select[1]);
    if (!gi.window_switching_flag) bits += ChooseTable(ix, a2, bigEnd, &gi.table_select[2]);
    return bits;
}

int BitsFor(int v) {
    int n = 0;
    while ((1 << n) <= v) ++n;
    return n;
}

// Scale-factor bits for the granule; picks scalefac_compress. Returns -1 when the scale
// factors do not fit their lengths.
int ScalefactorBits(const Mp3EncContext& c, GranuleInfo& gi, const ScaleFactors& sf,
                    const int32_t* scfsi) {
    if (c.id == 1) {
        int max1 = 0, max2 = 0;
        if (gi.block_type == 2) {
            for (int b = 0; b < 12; ++b)
                for (int w = 0; w < 3; ++w)
                    (b < 6 ? max1 : max2) = std::max(b < 6 ? max1 : max2, sf.s[b][w]);
        } else {
            static const int kGroupStart[5] = {0, 6, 11, 16, 21};
            for (int g = 0; g < 4; ++g) {
                if (scfsi && scfsi[g]) continue;
                for (int b = kGroupStart[g]; b < kGroupStart[g + 1]; ++b)
                    (b < 11 ? max1 : max2) = std::max(b < 11 ? max1 : max2, sf.l[b]);
            }
        }
        int best = -1;
        for (int k = 0; k < 16; ++k) {
            const int s1 = mpeg::kSlen[0][k], s2 = mpeg::kSlen[1][k];
            if (max1 >= (1 << s1) || max2 >= (1 << s2)) continue;
            int bits;
            if (gi.block_type == 2) {
                bits = 18 * s1 + 18 * s2;
            } else {
                static const int kGroupBands[4] = {6, 5, 5, 5};
                bits = 0;
                for (int g = 0; g < 4; ++g)
                    if (!(scfsi && scfsi[g])) bits += kGroupBands[g] * (g < 2 ? s1 : s2);
            }
            if (best < 0 || bits < best) {
                best = bits;
                gi.scalefac_compress = k;
            }
        }
        return best;
    }
    // LSF without intensity stereo and without preflag: partition row 0.
    const int kind = gi.block_type == 2 ? 1 : 0;
    const uint8_t* nr = mpeg::kSfbPartitions[0][kind];
    static const int kLimitBits[4] = {4, 4, 3, 3};
    int slen[4];
    int at = 0;
    for (int p = 0; p < 4; ++p) {
        int mx = 0;
        for (int k = 0; k < nr[p]; ++k, ++at) {
            const int v = kind == 1 ? sf.s[at / 3][at % 3] : sf.l[at];
            mx = std::max(mx, v);
        }
        slen[p] = BitsFor(mx);
        if (slen[p] > kLimitBits[p]) return -1;
    }
    gi.scalefac_compress = ((slen[0] * 5 + slen[1]) << 4) + (slen[2] << 2) + slen[3];
    gi.lsfRow = 0;
    int bits = 0;
    for (int p = 0; p < 4; ++p) {
        gi.slen[p] = slen[p];
        bits += slen[p] * nr[p];
    }
    return bits;
}

// Largest value each scale factor may take.
int SfLimit(const Mp3EncContext& c, const GranuleInfo& gi, int sfIndex) {
    if (c.id == 1) {
        if (gi.block_type == 2) return sfIndex / 3 < 6 ? 15 : 7;
        return sfIndex < 11 ? 15 : 7;
    }
    const int kind = gi.block_type == 2 ? 1 : 0;
    const uint8_t* nr = mpeg::kSfbPartitions[0][kind];
    int at = 0;
    for (int p = 0; p < 4; ++p) {
        at += nr[p];
        if (sfIndex < at) return p < 2 ? 15 : 7;
    }
    return 0;
}

struct LoopWork {
    alignas(32) float xr34[kLines];
    float bandMax34[40];
    float absXr[kLines];
    double xmin[40];
    BandLayout bands;
};

// The smallest step whose quantisation fits `bits` Huffman bits, searched from `step` (an
// estimate) and left there. Returns the bits; ix and gi hold that quantisation.
int InnerLoop(const Mp3EncContext& c, const LoopWork& w, GranuleInfo& gi, const ScaleFactors& sf,
              int& step, int bits, int32_t* ix) {
    auto fits = [&](int s, int* used) {
        if (!Quantise(w.xr34, w.bandMax34, gi, sf, w.bands, s, ix)) return false;
        *used = CountBits(c, ix, gi);
        return *used <= bits;
    };
    step = std::clamp(step, kMinStep, kMaxStep);
    // The estimate is usually within a few steps: bracket it by widening strides, then bisect.
    int lo = kMinStep - 1, hi = kMaxStep;  // lo never fits, hi always does
    int used = 0;
    const bool first = fits(step, &used);
    int last = step, lastUsed = used;
    (first ? hi : lo) = step;
    for (int stride = 2; hi - lo > stride; stride *= 2) {
        const int probe = first ? std::max(hi - stride, lo + 1) : std::min(lo + stride, hi - 1);
        last = probe;
        const bool ok = fits(probe, &lastUsed);
        (ok ? hi : lo) = probe;
        if (ok != first) break;
    }
    while (hi - lo > 1) {
        const int probe = (lo + hi) / 2;
        last = probe;
        (fits(probe, &lastUsed) ? hi : lo) = probe;
    }
    step = hi;
    if (last == hi) return lastUsed;
    fits(step, &used);
    return used;
}

// Natural logarithm from the float's exponent and a linear mantissa: close enough for an
// estimate, and far cheaper than a library call per line.
inline float RoughLog(float x) {
    int32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return float(bits - 0x3F800000) * (0.69314718f / 8388608.0f);
}

int StartStep(const float* xr) {
    double m1 = 0;
    float m2 = 0;
    for (int i = 0; i < kLines; ++i) {
        const float e = xr[i] * xr[i];
        m1 += e;
        m2 += e > 0 ? RoughLog(e) : 0.0f;
    }
    m1 /= kLines;
    m2 /= kLines;
    if (m1 <= 0) return -70;
    const double r = std::round(8 * (m2 - std::log(m1)));
    return r < -100 ? -170 : int(r) - 70;
}

// Clears the granule's fields and scale factors before it is coded.
void ResetGranule(GranuleInfo& gi, ScaleFactors& sf, int32_t* ix) {
    std::memset(&sf, 0, sizeof sf);
    gi.part2_3_length = 0;
    gi.big_values = 0;
    gi.scalefac_compress = 0;
    gi.table_select[0] = gi.table_select[1] = gi.table_select[2] = 0;
    gi.subblock_gain[0] = gi.subblock_gain[1] = gi.subblock_gain[2] = 0;
    gi.region0_count = gi.region1_count = 0;
    gi.preflag = gi.scalefac_scale = gi.count1table_select = 0;
    gi.part2_length = 0;
    gi.count1End = 0;
    gi.quantizerStep = 0;
    gi.slen[0] = gi.slen[1] = gi.slen[2] = gi.slen[3] = 0;
    std::memset(ix, 0, sizeof(int32_t) * kLines);
}

// Fills the loops' working values of a granule; false when the granule is silent.
bool PrepareWork(const Mp3EncContext& c, int gr, int ch, LoopWork& w) {
    const ModelResult& res = c.result[gr][ch];
    const float* xr = c.xr[gr][ch];
    const int blockType = c.gi[gr][ch].block_type;
    bool any = false;
    for (int i = 0; i < kLines; ++i)
        if (xr[i] != 0) {
            any = true;
            break;
        }
    if (!any) return false;
    Layout(c, blockType, w.bands);
    for (int i = 0; i < kLines; ++i) {
        const float a = std::fabs(xr[i]);
        w.absXr[i] = a;
        w.xr34[i] = std::sqrt(a * std::sqrt(a));
    }
    // Allowed distortion per band: the model's masking ratio times the band's energy. Bands
    // run in the layout's order (short: band by band, window by window). The ratios are
    // gathered apart from the band loop: computed inside it, GCC 12 at -O3 lost them.
    double ratio[40] = {};
    if (!c.fast) {
        if (blockType == 2) {
            for (int sfb = 0; sfb < kShortBands; ++sfb)
                for (int win = 0; win < 3; ++win) ratio[sfb * 3 + win] = res.ratioS[sfb][win];
        } else {
            for (int sfb = 0; sfb < kLongBands; ++sfb) ratio[sfb] = res.ratioL[sfb];
        }
    }
    for (int b = 0; b < w.bands.count; ++b) {
        float m = 0;
        for (int i = w.bands.start[b]; i < w.bands.end[b]; ++i) m = std::max(m, w.xr34[i]);
        w.bandMax34[b] = m;
        double en = 0;
        for (int i = w.bands.start[b]; i < w.bands.end[b]; ++i) en += double(xr[i]) * xr[i];
        w.xmin[b] = ratio[b] * en;
    }
    return true;
}

// Codes one granule and channel into c.ix-like storage; returns part2_3_length. The noise is
// left flat across the bands, at the finest step the bits allow: shaping it towards the model's
// thresholds with scale factors measured worse on music at every rate (more frames with
// audible noise, the bits the scale factors take lost to the step).
int CodeGranule(Mp3EncContext& c, int gr, int ch, int available, int32_t* ix) {
    GranuleInfo& gi = c.gi[gr][ch];
    ScaleFactors& sf = c.sf[gr][ch];
    const float* xr = c.xr[gr][ch];
    ResetGranule(gi, sf, ix);
    LoopWork w{};  // (the compiler cannot see PrepareWork fill it)
    if (!PrepareWork(c, gr, ch, w)) return 0;

    // Neighbouring granules of a channel take similar steps.
    int step = c.lastStep[ch] != kNoStep ? c.lastStep[ch] : StartStep(xr);
    const int part2 = ScalefactorBits(c, gi, sf, nullptr);
    if (part2 < 0 || part2 > available) return 0;
    const int huff = InnerLoop(c, w, gi, sf, step, available - part2, ix);
    if (huff > available - part2) {  // cannot happen: the top step codes nothing
        ResetGranule(gi, sf, ix);
        return 0;
    }
    c.lastStep[ch] = step;
    gi.quantizerStep = step;
    gi.part2_length = part2;
    gi.part2_3_length = part2 + huff;
    return gi.part2_3_length;
}

// Mid/side: both channels at one step, the finest whose two quantisations fit `budget`
// together. The noise of each reaches left and right alike, so the side channel's noise may not
// stand far above the mid's, as a split of the bits by expected demand left it. Returns false
// (nothing coded) when a channel is silent.
bool CodePair(Mp3EncContext& c, int gr, int budget) {
    LoopWork w[2]{};  // (the compiler cannot see PrepareWork fill it)
    int part2[2];
    for (int ch = 0; ch < 2; ++ch) {
        ResetGranule(c.gi[gr][ch], c.sf[gr][ch], c.ix[gr][ch]);
        if (!PrepareWork(c, gr, ch, w[ch])) return false;
        part2[ch] = ScalefactorBits(c, c.gi[gr][ch], c.sf[gr][ch], nullptr);
    }
    int used[2] = {0, 0};
    auto fits = [&](int s) {
        for (int ch = 0; ch < 2; ++ch) {
            GranuleInfo& gi = c.gi[gr][ch];
            if (!Quantise(w[ch].xr34, w[ch].bandMax34, gi, c.sf[gr][ch], w[ch].bands, s,
                          c.ix[gr][ch]))
                return false;
            used[ch] = part2[ch] + CountBits(c, c.ix[gr][ch], gi);
            if (used[ch] > 4095) return false;
        }
        return used[0] + used[1] <= budget;
    };
    int step = c.lastStep[0] != kNoStep ? c.lastStep[0] : StartStep(c.xr[gr][0]);
    step = std::clamp(step, kMinStep, kMaxStep);
    int lo = kMinStep - 1, hi = kMaxStep;  // lo never fits, hi always does
    const bool first = fits(step);
    int last = step;
    (first ? hi : lo) = step;
    for (int stride = 2; hi - lo > stride; stride *= 2) {
        const int probe = first ? std::max(hi - stride, lo + 1) : std::min(lo + stride, hi - 1);
        last = probe;
        const bool ok = fits(probe);
        (ok ? hi : lo) = probe;
        if (ok != first) break;
    }
    while (hi - lo > 1) {
        const int probe = (lo + hi) / 2;
        last = probe;
        (fits(probe) ? hi : lo) = probe;
    }
    if (last != hi) fits(hi);
    c.lastStep[0] = c.lastStep[1] = hi;
    for (int ch = 0; ch < 2; ++ch) {
        GranuleInfo& gi = c.gi[gr][ch];
        gi.quantizerStep = hi;
        gi.part2_length = part2[ch];
        gi.part2_3_length = used[ch];
    }
    return true;
}

// Coarsest effective step (the global step less the band's amplification) at which band b's
// noise stays within its allowance.
int BandStep(const LoopWork& w, int b) {
    const EncTables& t = GetEncTables();
    const int a = w.bands.start[b], z = w.bands.end[b];
    const double allowed = w.xmin[b];
    auto fits = [&](int e) {
        const float qf = t.quantFactor[StepIndex(e)], g = t.stepGain[StepIndex(e)];
        float noise = 0;
        for (int i = a; i < z; ++i) {
            const float d = w.absXr[i] - t.pow43[int32_t(w.xr34[i] * qf + 0.4054f)] * g;
            noise += d * d;
        }
        return noise <= allowed;
    };
    if (fits(kMaxStep)) return kMaxStep;
    int lo = kMinStep;  // the finest step whose values are codable
    while (lo < kMaxStep &&
           w.bandMax34[b] * t.quantFactor[StepIndex(lo)] + 0.4054f >= float(kMaxQuant + 1))
        ++lo;
    if (!fits(lo)) return lo;
    int hi = kMaxStep;  // lo fits, hi does not
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        (fits(mid) ? lo : hi) = mid;
    }
    return lo;
}

// Variable rate: the cheapest quantisation that keeps every band's noise within the mask
// (scaled by the quality), however many bits that takes. Returns part2_3_length; above 4095
// bits the granule is coded by the constant-rate loop within 4095.
int CodeGranuleVbr(Mp3EncContext& c, int gr, int ch, int32_t* ix) {
    GranuleInfo& gi = c.gi[gr][ch];
    ScaleFactors& sf = c.sf[gr][ch];
    ResetGranule(gi, sf, ix);
    LoopWork w{};  // (the compiler cannot see PrepareWork fill it)
    if (!PrepareWork(c, gr, ch, w)) return 0;
    const int scored = gi.block_type == 2 ? 36 : 21;
    int need[40];
    int coarsest = kMinStep;
    for (int b = 0; b < scored; ++b) {
        w.xmin[b] *= c.vbrMaskScale;
        need[b] = BandStep(w, b);
        coarsest = std::max(coarsest, need[b]);
    }
    int32_t bestIx[kLines];
    ScaleFactors bestSf{};
    GranuleInfo bestGi = gi;
    int bestBits = -1, bestPart2 = 0, bestStep = 0;
    for (int scale = 0; scale < 2; ++scale) {
        // One scale-factor step amplifies by two quantiser steps, or four with the larger scale.
        const int m = scale ? 4 : 2;
        GranuleInfo g = gi;
        g.scalefac_scale = scale;
        int cap = kMaxStep;
        for (int b = 0; b < scored; ++b)
            cap = std::min(cap, need[b] + m * SfLimit(c, g, w.bands.sfIndex[b]));
        int step = std::min(coarsest, cap);
        ScaleFactors s{};
        for (int b = 0; b < scored; ++b) {
            const int k = w.bands.sfIndex[b];
            const int v =
                std::min(step > need[b] ? (step - need[b] + m - 1) / m : 0, SfLimit(c, g, k));
            (g.block_type == 2 ? s.s[k / 3][k % 3] : s.l[k]) = v;
        }
        while (!Quantise(w.xr34, w.bandMax34, g, s, w.bands, step, ix) && step < kMaxStep) ++step;
        const int part2 = ScalefactorBits(c, g, s, nullptr);
        if (part2 >= 0) {
            const int bits = part2 + CountBits(c, ix, g);
            if (bestBits < 0 || bits < bestBits) {
                std::memcpy(bestIx, ix, sizeof bestIx);
                bestSf = s;
                bestGi = g;
                bestBits = bits;
                bestPart2 = part2;
                bestStep = step;
            }
        }
        if (coarsest <= cap) break;  // every band met at the finer scale: nothing to gain
    }
    if (bestBits < 0 || bestBits > 4095) return CodeGranule(c, gr, ch, 4095, ix);
    std::memcpy(ix, bestIx, sizeof bestIx);
    sf = bestSf;
    gi = bestGi;
    gi.quantizerStep = bestStep;
    gi.part2_length = bestPart2;
    gi.part2_3_length = bestBits;
    return bestBits;
}

// The reservoir's limit for the frame now being coded.
int32_t ReservoirMax(const Mp3EncContext& c) {
    int32_t mx = std::max(0, 7680 - c.bitsPerFrame);
    return std::min(mx, c.id == 1 ? 4088 : 2040);
}

// Global gains, then what is left of the frame's bits: the reservoir up to its limit, the rest
// stuffing.
void FinishFrame(Mp3EncContext& c, int32_t startSize, int32_t ancillaryBits,
                 int32_t* stuffingBits) {
    int32_t used = 0;
    for (int gr = 0; gr < c.granules; ++gr)
        for (int ch = 0; ch < c.channels; ++ch) {
            GranuleInfo& gi = c.gi[gr][ch];
            gi.global_gain = gi.part2_3_length == 0 && gi.big_values == 0 && gi.count1End == 0
                                 ? 210
                                 : int32_t(std::lround(gi.quantizerStep + 210));
            used += gi.part2_3_length;
        }
    const int32_t frameMain = c.bitsPerFrame - c.sideInfoBits;
    int32_t end = startSize + frameMain - ancillaryBits - used;
    int32_t stuff = 0;
    if (end > c.resvMax) {
        stuff = end - c.resvMax;
        end = c.resvMax;
    }
    stuff += end % 8;
    end -= end % 8;
    c.resvSize = end;
    *stuffingBits = stuff;
}

}  // namespace

// Recounts the scale-factor bits of granule 1 after its scfsi was decided.
static void ApplyScfsi(Mp3EncContext& c, int ch) {
    GranuleInfo& g0 = c.gi[0][ch];
    GranuleInfo& g1 = c.gi[1][ch];
    int32_t* scfsi = c.scfsi[ch];
    for (int g = 0; g < 4; ++g) scfsi[g] = 0;
    if (c.fast || c.id != 1 || g0.block_type == 2 || g1.block_type == 2) return;
    if (g1.part2_3_length == 0 && g1.big_values == 0 && g1.count1End == 0) return;
    static const int kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int g = 0; g < 4; ++g) {
        bool same = true;
        for (int b = kGroupStart[g]; b < kGroupStart[g + 1]; ++b)
            same = same && c.sf[0][ch].l[b] == c.sf[1][ch].l[b];
        scfsi[g] = same ? 1 : 0;
    }
    const int huff = g1.part2_3_length - g1.part2_length;
    const int part2 = ScalefactorBits(c, g1, c.sf[1][ch], scfsi);
    g1.part2_length = part2;
    g1.part2_3_length = part2 + huff;
}

void IterateFrame(Mp3EncContext& c, int32_t ancillaryBits, int32_t* stuffingBits,
                  int32_t* mainDataBegin) {
    const int32_t mx = ReservoirMax(c);
    c.resvMax = mx;
    const int32_t startSize = c.resvSize;
    *mainDataBegin = startSize / 8;
    int32_t size = startSize;
    for (int gr = 0; gr < c.granules; ++gr) {
        // The granule's bits: its share of the frame, more from the reservoir when the model
        // expects it, and whatever would overflow the reservoir.
        double pe[kMaxChannels], peSum = 0;
        for (int ch = 0; ch < c.channels; ++ch) {
            pe[ch] = std::max(c.result[gr][ch].pe, 50.0);
            peSum += pe[ch];
        }
        int32_t budget = c.meanBits;
        if (mx != 0) {
            const int32_t more = int32_t(peSum * 3.1) - c.meanBits;
            if (more > 100 * c.channels) budget += std::min(more, size * 6 / 10);
        }
        budget = std::max(budget, c.meanBits + size - mx * 8 / 10);
        budget = std::min(budget, c.meanBits + size);
        int32_t left = budget;
        if (c.modeExt == 2 && CodePair(c, gr, std::min(budget, 2 * 4095))) {
            for (int ch = 0; ch < 2; ++ch) {
                if (gr == 1) ApplyScfsi(c, ch);
                left -= c.gi[gr][ch].part2_3_length;
            }
            size += c.meanBits - (budget - left);
            continue;
        }
        for (int ch = 0; ch < c.channels; ++ch) {
            // Channels share the granule by their expected demand (mid usually needs far more
            // than side); the last one takes what the others left.
            int32_t avail = left;
            if (ch + 1 < c.channels) avail = int32_t(budget * pe[ch] / peSum);
            avail = std::clamp(avail, 0, 4095);
            CodeGranule(c, gr, ch, avail, c.ix[gr][ch]);
            if (gr == 1) ApplyScfsi(c, ch);
            left -= c.gi[gr][ch].part2_3_length;
        }
        size += c.meanBits - (budget - left);
    }
    FinishFrame(c, startSize, ancillaryBits, stuffingBits);
}

void IterateFrameVbr(Mp3EncContext& c, int32_t* stuffingBits, int32_t* mainDataBegin) {
    const int32_t startSize = c.resvSize;
    *mainDataBegin = startSize / 8;
    int32_t demand[2][kMaxChannels] = {};
    int32_t total = 0;
    for (int gr = 0; gr < c.granules; ++gr)
        for (int ch = 0; ch < c.channels; ++ch) {
            CodeGranuleVbr(c, gr, ch, c.ix[gr][ch]);
            if (gr == 1) ApplyScfsi(c, ch);
        }
    for (int gr = 0; gr < c.granules; ++gr)
        for (int ch = 0; ch < c.channels; ++ch) {
            demand[gr][ch] = c.gi[gr][ch].part2_3_length;
            total += demand[gr][ch];
        }
    const int64_t scale = int64_t(c.samplesPerFrame) * 1000 / 8;  // slots per kbit/s, times rate
    auto slots = [&](int index) {
        return int32_t(scale * (mpeg::Bitrate(c.id, index) / 1000) / c.sampleRate);
    };
    int index = c.vbrMinIndex;
    while (index < 14 && total > startSize + 8 * slots(index) - c.sideInfoBits) ++index;
    c.bitrateIndex = index;
    c.padding = 0;
    c.wholeSlots = slots(index);
    c.bitsPerFrame = 8 * c.wholeSlots;
    c.resvMax = ReservoirMax(c);
    const int32_t available = startSize + c.bitsPerFrame - c.sideInfoBits;
    // The frame is coded again by the constant-rate loop within the bits the demand came to:
    // it spreads the noise over the bands better than meeting each band's mask on its own.
    const int32_t spend = std::min(total, available);
    for (int gr = 0; gr < c.granules; ++gr) {
        int32_t share[kMaxChannels];
        for (int ch = 0; ch < c.channels; ++ch)
            share[ch] = int32_t(int64_t(demand[gr][ch]) * spend / std::max(total, 1));
        const bool pair =
            c.modeExt == 2 && CodePair(c, gr, std::min(share[0] + share[1], 2 * 4095));
        for (int ch = 0; ch < c.channels; ++ch) {
            if (!pair) CodeGranule(c, gr, ch, std::min(share[ch], 4095), c.ix[gr][ch]);
            if (gr == 1) ApplyScfsi(c, ch);
        }
    }
    FinishFrame(c, startSize, 0, stuffingBits);
}

}  // namespace mp3enc
