// Spectral decoding of one granule: scale factors, Huffman data, requantisation, stereo
// processing, reordering and alias reduction.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mpegdec/Context.h"
#include "mpegdec/HuffmanTables.h"
#include "mpegdec/Tables.h"

namespace mpegdec {
namespace {

bool IsShort(const GranuleInfo& g) {
    return g.window_switching_flag && g.block_type == 2;
}

const BandTable& Bands(const MpegDecContext& c) {
    return mpeg::Bands(c.header.id, c.header.samplingFrequency, c.header.mpeg25 != 0);
}

// Long bands covered by the long part of a mixed block (it ends at line 36 at every rate).
int MixedLongBands(const MpegDecContext& c) {
    return c.header.id == 1 ? 8 : 6;
}

void ReadMpeg1(MpegDecContext& c, int gr, int ch) {
    const GranuleInfo& g = c.si.gr[gr][ch];
    ScaleFactors& sf = c.sf[ch];
    Reservoir& r = c.res;
    const int slen1 = kSlen[0][g.scalefac_compress], slen2 = kSlen[1][g.scalefac_compress];
    if (IsShort(g)) {
        int band = 0;
        if (g.mixed_block_flag) {
            for (; band < 8; ++band) sf.l[band] = int32_t(ResGetBits(r, slen1));
            band = 3;
        }
        for (; band < 12; ++band) {
            const int len = band < 6 ? slen1 : slen2;
            for (int w = 0; w < 3; ++w) sf.s[w][band] = int32_t(ResGetBits(r, len));
        }
        for (int w = 0; w < 3; ++w) sf.s[w][12] = 0;
        return;
    }
    static const int kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int group = 0; group < 4; ++group) {
        if (c.si.scfsi[ch][group] && gr != 0) continue;
        const int len = group < 2 ? slen1 : slen2;
        for (int band = kGroupStart[group]; band < kGroupStart[group + 1]; ++band)
            sf.l[band] = int32_t(ResGetBits(r, len));
    }
    sf.l[21] = 0;
    sf.l[22] = 0;
}

void ReadLsf(MpegDecContext& c, int gr, int ch) {
    GranuleInfo& g = c.si.gr[gr][ch];
    ScaleFactors& sf = c.sf[ch];
    const int kind = IsShort(g) ? (g.mixed_block_flag ? 2 : 1) : 0;
    const int32_t comp = g.scalefac_compress;
    int slen[4] = {0, 0, 0, 0};
    int row;
    g.preflag = 0;
    if (ch == 1 && (c.header.modeExt & 1)) {
        const int32_t i = comp / 2;
        if (i < 180) {
            slen[0] = i / 36;
            slen[1] = (i % 36) / 6;
            slen[2] = (i % 36) % 6;
            row = 3;
        } else if (i < 244) {
            const int32_t d = i - 180;
            slen[0] = (d % 64) / 16;
            slen[1] = (d % 16) / 4;
            slen[2] = d % 4;
            row = 4;
        } else if (i < 255) {
            slen[0] = (i - 244) / 3;
            slen[1] = (i - 244) % 3;
            row = 5;
        } else {
            row = 5;  // 510 and 511 name no row: no scale factors are sent
        }
    } else if (comp < 400) {
        slen[0] = comp / 80;
        slen[1] = (comp / 16) % 5;
        slen[2] = (comp / 4) % 4;
        slen[3] = comp % 4;
        row = 0;
    } else if (comp < 500) {
        const int32_t d = (comp - 400) / 4;
        slen[0] = d / 5;
        slen[1] = d % 5;
        slen[2] = comp % 4;
        row = 1;
    } else {
        slen[0] = (comp - 500) / 3;
        slen[1] = (comp - 500) % 3;
        row = 2;
        g.preflag = 1;
    }
    int32_t run[45] = {};
    int n = 0;
    for (int part = 0; part < 4; ++part)
        for (int k = 0; k < kSfbPartitions[row][kind][part]; ++k)
            run[n++] = int32_t(ResGetBits(c.res, slen[part]));
    n = 0;
    if (kind == 0) {
        for (int band = 0; band < 21; ++band) sf.l[band] = run[n++];
        sf.l[21] = sf.l[22] = 0;
        return;
    }
    int band = 0;
    if (kind == 2) {
        const int longBands = MixedLongBands(c);
        for (; band < longBands; ++band) sf.l[band] = run[n++];
        band = 3;
    }
    for (; band < 12; ++band)
        for (int w = 0; w < 3; ++w) sf.s[w][band] = run[n++];
    for (int w = 0; w < 3; ++w) sf.s[w][12] = 0;
}

// The next 57 or more bits of the reservoir at bit position pos, left-aligned.
inline uint64_t Peek64(const Reservoir& r, uint32_t pos) {
    uint64_t v;
    std::memcpy(&v, r.ring + ((pos >> 3) & (kReservoirSlots - 1)), 8);
    return __builtin_bswap64(v) << (pos & 7);
}

}  // namespace

void ReadScaleFactors(MpegDecContext& c, int gr, int ch) {
    if (c.header.id == 1)
        ReadMpeg1(c, gr, ch);
    else
        ReadLsf(c, gr, ch);
}

void DecodeHuffman(MpegDecContext& c, int gr, int ch, int32_t part2Start) {
    const GranuleInfo& g = c.si.gr[gr][ch];
    const BandTable& bt = Bands(c);
    const HuffmanDecodeTable* tables = HuffmanTables();
    Reservoir& r = c.res;
    float* xr = c.xr[ch];
    const float* fac = c.factor;
    // Magnitudes cannot exceed 15 plus a 13-bit escape, the size of the power table.
    const float* pow43 = GetTables().pow43;
    bool illegal = false;
    // Sign bits are coin flips to the branch predictor: apply them with bit operations.
    auto withSign = [](float v, uint32_t negative) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        u ^= negative << 31;
        std::memcpy(&v, &u, 4);
        return v;
    };
    const int32_t end = part2Start + g.part2_3_length;

    int32_t region1, region2;
    if (IsShort(g)) {
        // Three short bands: line 36 at every rate but 8 kHz, whose short bands are wider.
        region1 = g.mixed_block_flag ? 36 : 3 * bt.s[3];
        region2 = kLines;
    } else {
        region1 = bt.l[std::min(g.region0_count + 1, 22)];
        region2 = bt.l[std::min(g.region0_count + g.region1_count + 2, 22)];
    }
    const int32_t bigEnd = std::min(2 * g.big_values, kLines);
    // Positions are tracked locally; one 64-bit look-ahead covers a whole pair (code, two
    // escapes and two signs: at most 47 bits) or a quadruple.
    uint32_t pos = uint32_t(r.bitCount);
    int32_t i = 0;
    for (int region = 0; region < 3 && i < bigEnd; ++region) {
        const int32_t regionEnd = std::min(region == 0   ? region1
                                           : region == 1 ? region2
                                                         : kLines,
                                           bigEnd);
        const HuffmanDecodeTable& t = tables[g.table_select[region]];
        if (t.tree.nodeCount == 0) {
            for (; i < regionEnd; ++i) xr[i] = 0.0f;
            continue;
        }
        const int32_t linbits = t.linbits;
        // `cache` holds the next `avail` bits left-aligned; a pair needs at most 47.
        uint64_t cache = 0;
        int32_t avail = 0;
        for (; i < regionEnd; i += 2) {
            if (avail < 47) {
                cache = Peek64(r, pos);
                avail = 64 - int32_t(pos & 7);
            }
            const uint64_t bits = cache;
            int32_t n;
            const int32_t v = DecodeHuffmanCode(bits, t, &n, &illegal);
            int32_t x = v >> 4, y = v & 15;
            if (linbits > 0 && x == 15) {
                x += int32_t((bits << n) >> (64 - linbits));
                n += linbits;
            }
            const uint32_t xNonzero = x != 0;
            const uint32_t xNegative = uint32_t((bits << n) >> 63) & xNonzero;
            n += int32_t(xNonzero);
            if (linbits > 0 && y == 15) {
                y += int32_t((bits << n) >> (64 - linbits));
                n += linbits;
            }
            const uint32_t yNonzero = y != 0;
            const uint32_t yNegative = uint32_t((bits << n) >> 63) & yNonzero;
            n += int32_t(yNonzero);
            // x and y are at most 15 plus a 13-bit escape: inside the power table.
            xr[i] = withSign(pow43[x] * fac[i], xNegative);
            xr[i + 1] = withSign(pow43[y] * fac[i + 1], yNegative);
            pos += uint32_t(n);
            cache <<= n;
            avail -= n;
        }
    }
    i = bigEnd;  // an odd region boundary cannot push i past it

    const HuffmanDecodeTable& quad = tables[32 + g.count1table_select];
    bool readQuad = false;
    while (int32_t(pos) < end && i < kLines) {
        const uint64_t bits = Peek64(r, pos);
        int32_t n;
        const int32_t v = DecodeHuffmanCode(bits, quad, &n, &illegal);
        for (int k = 0; k < 4; ++k) {
            const uint32_t nonzero = (v >> (3 - k)) & 1;
            const uint32_t negative = uint32_t((bits << n) >> 63) & nonzero;
            n += int32_t(nonzero);
            xr[i + k] = withSign(nonzero ? fac[i + k] : 0.0f, negative);
        }
        pos += uint32_t(n);
        i += 4;
        readQuad = true;
    }
    r.bitCount = int32_t(pos);
    if (r.bitCount > end) {
        if (readQuad) i -= 4;
        ResRewindBits(r, r.bitCount - end);
    } else {
        int32_t rest = end - r.bitCount;
        while (rest > 0) {
            const int32_t n = std::min(rest, 32);
            ResGetBits(r, n);
            rest -= n;
        }
    }
    i = std::min(i, kLines);
    for (int32_t k = i; k < kLines; ++k) xr[k] = 0.0f;
    c.nonzeroLines[ch] = i;
    if (illegal) Diagnose(c, "Illegal Huffman code in data.");
}

void LineFactors(MpegDecContext& c, int gr, int ch) {
    const GranuleInfo& g = c.si.gr[gr][ch];
    const Tables& t = GetTables();
    const BandTable& bt = Bands(c);
    const ScaleFactors& sf = c.sf[ch];
    float* fac = c.factor;
    const float a = t.gain[g.global_gain];
    const int scaleShift = 1 + g.scalefac_scale;

    auto longBands = [&](int32_t to) {
        int band = 0;
        for (int32_t i = 0; i < to; ++band) {
            const int32_t bandEnd = std::min<int32_t>(bt.l[band + 1], to);
            const int32_t m =
                (sf.l[band] + g.preflag * (band < 22 ? kPretab[band] : 0)) * scaleShift;
            const float f = (m >= 0 && m <= 63) ? a * t.pow2Half[m] : 0.0f;
            for (; i < bandEnd; ++i) fac[i] = f;
        }
    };

    if (!IsShort(g)) {
        longBands(kLines);
        return;
    }
    int32_t i = 0;
    int band = 0;
    if (g.mixed_block_flag) {
        longBands(36);
        i = 36;
        band = 3;
    }
    for (; band < 13; ++band) {
        const int32_t width = bt.s[band + 1] - bt.s[band];
        for (int w = 0; w < 3; ++w) {
            float f = a;
            if (g.subblock_gain[w]) f *= float(std::pow(2.0, -2.0 * g.subblock_gain[w]));
            const int32_t s = sf.s[w][band];
            if (s) f *= float(std::pow(2.0, -0.5 * scaleShift * s));
            const int32_t stop = std::min(i + width, kLines);
            for (; i < stop; ++i) fac[i] = f;
        }
    }
    for (; i < kLines; ++i) fac[i] = 0.0f;
}

void StereoProcess(MpegDecContext& c, int gr) {
    if (c.params.channels != 2) return;
    const FrameHeader& h = c.header;
    const bool ms = h.mode == 1 && (h.modeExt & 2);
    const bool is = h.mode == 1 && (h.modeExt & 1);
    float* l = c.xr[0];
    float* r = c.xr[1];
    const int32_t lines = std::max(c.nonzeroLines[0], c.nonzeroLines[1]);
    if (!is) {
        if (ms) {
            const float k = 0.70710677f;
            for (int32_t i = 0; i < lines; ++i) {
                const float m = l[i], s = r[i];
                l[i] = (m + s) * k;
                r[i] = (m - s) * k;
            }
            c.nonzeroLines[0] = c.nonzeroLines[1] = lines;
        }
        return;
    }

    const GranuleInfo& g = c.si.gr[gr][0];
    const BandTable& bt = Bands(c);
    const ScaleFactors& sf = c.sf[1];
    const Tables& t = GetTables();
    int8_t isPos[kLines];
    std::memset(isPos, 7, sizeof isPos);

    auto longIntensity = [&](int32_t lastNonzero, int lastBand) {
        int band = 0;
        while (band < 22 && bt.l[band] <= lastNonzero) ++band;
        for (; band <= lastBand; ++band)
            for (int32_t i = bt.l[band]; i < bt.l[band + 1]; ++i) isPos[i] = int8_t(sf.l[band]);
    };

    if (IsShort(g)) {
        const bool mixed = g.mixed_block_flag != 0;
        int maxBand = 0;
        for (int w = 0; w < 3; ++w) {
            int top = mixed ? 2 : -1;
            for (int band = 12; band >= (mixed ? 3 : 0) && top < band; --band) {
                const int32_t width = bt.s[band + 1] - bt.s[band];
                const int32_t start = 3 * bt.s[band] + w * width;
                for (int32_t i = start; i < start + width; ++i)
                    if (r[i] != 0.0f) {
                        top = band;
                        break;
                    }
                if (top == band) break;
            }
            for (int band = top + 1; band < 12; ++band) {
                const int32_t width = bt.s[band + 1] - bt.s[band];
                const int32_t start = 3 * bt.s[band] + w * width;
                for (int32_t i = start; i < start + width; ++i) isPos[i] = int8_t(sf.s[w][band]);
            }
            const int32_t width11 = bt.s[12] - bt.s[11];
            const int32_t width12 = bt.s[13] - bt.s[12];
            const int8_t pos = isPos[3 * bt.s[11] + w * width11];
            const int32_t start12 = 3 * bt.s[12] + w * width12;
            for (int32_t i = start12; i < start12 + width12; ++i) isPos[i] = pos;
            maxBand = std::max(maxBand, top + 1);
        }
        if (mixed && maxBand <= 3) {
            int32_t last = -1;
            for (int32_t i = 35; i >= 0; --i)
                if (r[i] != 0.0f) {
                    last = i;
                    break;
                }
            longIntensity(last, MixedLongBands(c) - 1);
        }
    } else {
        int32_t last = 0;
        for (int32_t i = kLines - 1; i > 0; --i)
            if (r[i] != 0.0f) {
                last = i;
                break;
            }
        longIntensity(last, 20);
        const int8_t pos = isPos[bt.l[20]];
        for (int32_t i = bt.l[21]; i < kLines; ++i) isPos[i] = pos;
    }

    const bool lsf = h.id == 0;
    const int odd = c.si.gr[gr][0].scalefac_compress & 1;
    for (int32_t i = 0; i < kLines; ++i) {
        const float m = l[i], s = r[i];
        const int p = isPos[i];
        if (p == 7) {
            if (ms) {
                l[i] = (m + s) * 0.70710677f;
                r[i] = (m - s) * 0.70710677f;
            }
            continue;
        }
        if (lsf) {
            float k0 = 1.0f, k1 = 1.0f;
            if (p & 1)
                k0 = t.lsfIs[odd][(p + 1) / 2];
            else if (p != 0)
                k1 = t.lsfIs[odd][p / 2];
            l[i] = m * k0;
            r[i] = m * k1;
        } else {
            l[i] = m * t.isLeft[p & 15];
            r[i] = m * t.isRight[p & 15];
        }
    }
    c.nonzeroLines[0] = c.nonzeroLines[1] = kLines;
}

void ReorderAntialias(MpegDecContext& c, int gr, int ch) {
    const GranuleInfo& g = c.si.gr[gr][ch];
    const float* xr = c.xr[ch];
    float* out = c.lines;
    const int32_t lines = c.nonzeroLines[ch];
    if (IsShort(g)) {
        const BandTable& bt = Bands(c);
        std::memset(out, 0, sizeof c.lines);
        int band = 0;
        if (g.mixed_block_flag) {
            std::memcpy(out, xr, 36 * sizeof(float));
            band = 3;
        }
        for (; band < 13; ++band) {
            const int32_t s = bt.s[band], n = bt.s[band + 1] - bt.s[band];
            for (int w = 0; w < 3; ++w)
                for (int32_t f = 0; f < n; ++f) out[3 * s + 3 * f + w] = xr[3 * s + w * n + f];
        }
        if (!g.mixed_block_flag) return;
    } else {
        std::memcpy(out, xr, sizeof c.lines);
    }
    const Tables& t = GetTables();
    int bounds = IsShort(g) ? 1 : 31;
    if (!IsShort(g)) bounds = std::min(31, (lines + 17) / 18);  // zero subbands stay zero
    for (int sb = 0; sb < bounds; ++sb) {
        float* a = out + 18 * sb;
        float* b = a + 18;
        for (int k = 0; k < 8; ++k) {
            const float u = a[17 - k], d = b[k];
            a[17 - k] = u * t.cs[k] - d * t.ca[k];
            b[k] = d * t.cs[k] + u * t.ca[k];
        }
    }
}

}  // namespace mpegdec
