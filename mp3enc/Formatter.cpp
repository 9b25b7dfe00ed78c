// Frame formatter: header and side information at each frame's own position, main data in
// the earliest free bytes after the previous frame's main data (the bit reservoir).
#include <algorithm>
#include <cstring>

#include "mp3enc/Context.h"
#include "mp3enc/Tables.h"
#include "mpeg/Tables.h"

namespace mp3enc {
namespace {

struct BitWriter {
    uint8_t* dst;
    int32_t bits;
    void Put(uint32_t value, int n) {
        for (int k = n - 1; k >= 0; --k) {
            const int byte = bits >> 3;
            const int shift = 7 - (bits & 7);
            if (shift == 7) dst[byte] = 0;
            dst[byte] |= uint8_t(((value >> k) & 1u) << shift);
            ++bits;
        }
    }
};

// n is at most 56: fewer than 8 bits are ever pending.
void MainPut(Mp3EncContext& c, uint64_t value, int n) {
    if (n == 0) return;
    c.mainAcc = (c.mainAcc << n) | (value & ((1ull << n) - 1));
    c.mainAccBits += n;
    while (c.mainAccBits >= 8) {
        c.mainAccBits -= 8;
        c.mainRing[c.mainWritten % Mp3EncContext::kMainRing] = uint8_t(c.mainAcc >> c.mainAccBits);
        ++c.mainWritten;
    }
}

int32_t Output(Mp3EncContext& c, const uint8_t* bytes, int32_t n) {
    while (n > 0) {
        const int32_t room = int32_t(sizeof c.out) - c.outFill;
        const int32_t k = std::min(room, n);
        std::memcpy(c.out + c.outFill, bytes, size_t(k));
        c.outFill += k;
        bytes += k;
        n -= k;
        if (c.outFill == int32_t(sizeof c.out)) {
            int32_t count = c.outFill;
            c.write(c.out, &count, c.user);
            if (count != c.outFill) c.writeFailed = 1;
            c.outFill = 0;
        }
    }
    return c.writeFailed ? kMp3EncWriteFailed : kMp3EncOk;
}

// Writes every queued frame whose main-data slots are all produced.
int32_t EmitReady(Mp3EncContext& c) {
    while (c.queueCount > 0) {
        QueuedFrame& f = c.queue[c.queueHead];
        const int32_t slots = f.frameBytes - f.headerBytes;
        if (c.mainWritten < f.mainStart + slots) break;
        Output(c, f.header, f.headerBytes);
        // The ring wraps at most once within a frame's slots.
        const int32_t at = int32_t(f.mainStart % Mp3EncContext::kMainRing);
        const int32_t first = std::min(slots, Mp3EncContext::kMainRing - at);
        Output(c, c.mainRing + at, first);
        Output(c, c.mainRing, slots - first);
        c.bitsWritten += 8 * f.frameBytes;
        c.queueHead = (c.queueHead + 1) % Mp3EncContext::kQueue;
        --c.queueCount;
    }
    return c.writeFailed ? kMp3EncWriteFailed : kMp3EncOk;
}

void WriteSideInfo(const Mp3EncContext& c, BitWriter& w, int32_t mainDataBegin) {
    // Header
    w.Put(0xFFF, 12);
    w.Put(uint32_t(c.id), 1);
    w.Put(1, 2);  // Layer III
    w.Put(1, 1);  // no CRC
    w.Put(uint32_t(c.bitrateIndex), 4);
    w.Put(uint32_t(c.rateIndex), 2);
    w.Put(uint32_t(c.padding), 1);
    w.Put(uint32_t((c.header >> 12) & 1u), 1);
    w.Put(uint32_t(c.mode), 2);
    w.Put(uint32_t(c.modeExt), 2);
    w.Put((c.header >> 23) & 1u, 1);
    w.Put((c.header >> 22) & 1u, 1);
    w.Put((c.header >> 20) & 3u, 2);
    // Side information
    const int nch = c.channels;
    if (c.id == 1) {
        w.Put(uint32_t(mainDataBegin), 9);
        w.Put(0, nch == 1 ? 5 : 3);
        for (int ch = 0; ch < nch; ++ch)
            for (int g = 0; g < 4; ++g) w.Put(uint32_t(c.scfsi[ch][g]), 1);
    } else {
        w.Put(uint32_t(mainDataBegin), 8);
        w.Put(0, nch == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < c.granules; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            const GranuleInfo& g = c.gi[gr][ch];
            w.Put(uint32_t(g.part2_3_length), 12);
            w.Put(uint32_t(g.big_values), 9);
            w.Put(uint32_t(g.global_gain), 8);
            w.Put(uint32_t(g.scalefac_compress), c.id == 1 ? 4 : 9);
            w.Put(uint32_t(g.window_switching_flag), 1);
            if (g.window_switching_flag) {
                w.Put(uint32_t(g.block_type), 2);
                w.Put(uint32_t(g.mixed_block_flag), 1);
                for (int r = 0; r < 2; ++r) w.Put(uint32_t(g.table_select[r]), 5);
                for (int k = 0; k < 3; ++k) w.Put(uint32_t(g.subblock_gain[k]), 3);
            } else {
                for (int r = 0; r < 3; ++r) w.Put(uint32_t(g.table_select[r]), 5);
                w.Put(uint32_t(g.region0_count), 4);
                w.Put(uint32_t(g.region1_count), 3);
            }
            if (c.id == 1) w.Put(uint32_t(g.preflag), 1);
            w.Put(uint32_t(g.scalefac_scale), 1);
            w.Put(uint32_t(g.count1table_select), 1);
        }
}

void WriteScalefactors(Mp3EncContext& c, int gr, int ch) {
    const GranuleInfo& g = c.gi[gr][ch];
    const ScaleFactors& sf = c.sf[gr][ch];
    if (g.part2_length == 0) return;
    if (c.id == 1) {
        const int s1 = mpeg::kSlen[0][g.scalefac_compress],
                  s2 = mpeg::kSlen[1][g.scalefac_compress];
        if (g.block_type == 2) {
            for (int b = 0; b < 12; ++b)
                for (int w = 0; w < 3; ++w) MainPut(c, uint32_t(sf.s[b][w]), b < 6 ? s1 : s2);
            return;
        }
        static const int kGroupStart[5] = {0, 6, 11, 16, 21};
        for (int grp = 0; grp < 4; ++grp) {
            if (gr == 1 && c.scfsi[ch][grp]) continue;
            for (int b = kGroupStart[grp]; b < kGroupStart[grp + 1]; ++b)
                MainPut(c, uint32_t(sf.l[b]), b < 11 ? s1 : s2);
        }
        return;
    }
    const int kind = g.block_type == 2 ? 1 : 0;
    const uint8_t* nr = mpeg::kSfbPartitions[g.lsfRow][kind];
    int at = 0;
    for (int p = 0; p < 4; ++p)
        for (int k = 0; k < nr[p]; ++k, ++at) {
            const int v = kind == 1 ? sf.s[at / 3][at % 3] : sf.l[at];
            MainPut(c, uint32_t(v), g.slen[p]);
        }
}

void WriteHuffman(Mp3EncContext& c, int gr, int ch) {
    const EncTables& t = GetEncTables();
    const GranuleInfo& g = c.gi[gr][ch];
    const int32_t* ix = c.ix[gr][ch];
    const float* xr = c.xr[gr][ch];
    const mpeg::BandTable& bt = mpeg::kBands[c.id][c.rateIndex];
    const int bigEnd = 2 * g.big_values;
    int a1, a2;
    if (g.window_switching_flag) {
        a1 = g.block_type == 2 ? 36 : bt.l[8];
        a2 = kLines;
    } else {
        a1 = bt.l[g.region0_count + 1];
        a2 = bt.l[g.region0_count + g.region1_count + 2];
    }
    // Each pair (or quadruple) goes out as one value: code, escapes and signs together come
    // to at most 47 bits, within what the accumulator takes at once.
    for (int i = 0; i < bigEnd; i += 2) {
        const int region = i < a1 ? 0 : i < a2 ? 1 : 2;
        const PairCode& p = t.pair[g.table_select[region]];
        if (g.table_select[region] == 0) continue;
        int x = ix[i], y = ix[i + 1];
        const int cx = std::min(x, 15), cy = std::min(y, 15);
        uint64_t v = p.code[cx * 16 + cy];
        int n = p.len[cx * 16 + cy];
        if (p.linbits && x >= 15) {
            v = (v << p.linbits) | uint32_t(x - 15);
            n += p.linbits;
        }
        if (x) {
            v = (v << 1) | (xr[i] < 0 ? 1u : 0u);
            ++n;
        }
        if (p.linbits && y >= 15) {
            v = (v << p.linbits) | uint32_t(y - 15);
            n += p.linbits;
        }
        if (y) {
            v = (v << 1) | (xr[i + 1] < 0 ? 1u : 0u);
            ++n;
        }
        MainPut(c, v, n);
    }
    const QuadCode& q = t.quad[g.count1table_select];
    for (int i = bigEnd; i < g.count1End; i += 4) {
        const int idx = ix[i] * 8 + ix[i + 1] * 4 + ix[i + 2] * 2 + ix[i + 3];
        uint64_t v = q.code[idx];
        int n = q.len[idx];
        for (int k = 0; k < 4; ++k)
            if (ix[i + k]) {
                v = (v << 1) | (xr[i + k] < 0 ? 1u : 0u);
                ++n;
            }
        MainPut(c, v, n);
    }
}

}  // namespace

int32_t FormatFrame(Mp3EncContext& c, const uint8_t* ancillary, int32_t ancillaryBytes,
                    int32_t stuffingBits, int32_t mainDataBegin) {
    if (c.queueCount == Mp3EncContext::kQueue) return kMp3EncQueueFull;
    QueuedFrame& f = c.queue[(c.queueHead + c.queueCount) % Mp3EncContext::kQueue];
    f.frameBytes = c.wholeSlots + c.padding;
    f.headerBytes = c.sideInfoBits / 8;
    f.mainStart = c.slotsTotal;
    // The main data starts where the previous frame's ended; the reservoir accounting says
    // how far back that is.
    const int64_t begin = c.slotsTotal - c.mainWritten;
    if (begin != mainDataBegin) c.formatErrors++;  // the reservoir and the stream disagree
    BitWriter w{f.header, 0};
    WriteSideInfo(c, w, int32_t(begin));
    ++c.queueCount;
    c.slotsTotal += f.frameBytes - f.headerBytes;
    c.lastMainDataBegin = int32_t(begin);

    for (int gr = 0; gr < c.granules; ++gr)
        for (int ch = 0; ch < c.channels; ++ch) {
            const int64_t start = c.mainWritten * 8 + c.mainAccBits;
            WriteScalefactors(c, gr, ch);
            WriteHuffman(c, gr, ch);
            const int64_t used = c.mainWritten * 8 + c.mainAccBits - start;
            // Count and writer agree by construction; a difference would corrupt the stream.
            if (used != c.gi[gr][ch].part2_3_length) c.formatErrors++;
        }
    for (int32_t s = stuffingBits; s > 0; s -= 32) MainPut(c, 0, std::min(s, 32));
    for (int32_t i = 0; i < ancillaryBytes; ++i) MainPut(c, ancillary[i], 8);
    return EmitReady(c);
}

int32_t FlushAll(Mp3EncContext& c) {
    if (c.mainAccBits) MainPut(c, 0, 8 - c.mainAccBits);
    while (c.queueCount > 0) {
        const QueuedFrame& last = c.queue[(c.queueHead + c.queueCount - 1) % Mp3EncContext::kQueue];
        const int64_t need = last.mainStart + last.frameBytes - last.headerBytes;
        while (c.mainWritten < need) MainPut(c, 0, 8);
        EmitReady(c);
        if (c.writeFailed) break;
    }
    if (c.outFill > 0 && !c.writeFailed) {
        int32_t count = c.outFill;
        c.write(c.out, &count, c.user);
        if (count != c.outFill) c.writeFailed = 1;
        c.outFill = 0;
    }
    return c.writeFailed ? kMp3EncWriteFailed : kMp3EncOk;
}

}  // namespace mp3enc
