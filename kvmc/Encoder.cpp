// Open, configure, the packet driver, close; the stream values and the packet assembly.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

using namespace kvmc;

const char* kvmcStatusText(int32_t status) {
    switch (status) {
        case kKvmcOk:
            return "success";
        case kKvmcNoMemory:
            return "out of memory";
        case kKvmcBadArgument:
            return "bad argument or encoder not configured";
        case kKvmcRateTooLow:
            return "bit rate too low for the stream";
        default:
            return "unknown status";
    }
}

namespace {

int32_t SizeIndex(int32_t rate) {
    return rate <= 15999 ? 0 : rate < 32000 ? 1 : 2;
}

int32_t PacketBytes(int32_t H, int32_t bitRate, int32_t rate) {
    const int64_t p = (int64_t(H) * bitRate / rate) >> 3;
    return int32_t(p & ~int64_t(1));
}

bool StreamUsable(const KvmcStreamInfo& info) {
    if (info.channels != 1 && info.channels != 2) return false;
    if (info.sampleRate < 4000 || info.sampleRate > 96000) return false;
    if (info.bitRate < 0) return false;
    // The 16-bit length field of the packet header bounds the packet size.
    const int32_t H = 1 << (SizeIndex(info.sampleRate) + 10);
    return int64_t(H) * info.bitRate / info.sampleRate / 8 <= 65534;
}

template <typename T>
T* Obtain(size_t count) {
    void* p = std::calloc(count, sizeof(T));
    return static_cast<T*>(p);
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t FloatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

bool Valid(const KvmcEncoder* e) {
    return e && e->marker == kContextMarker;
}

float Usable(float v, float fallback) {
    return (v >= 0.0f && v <= 1.0f) ? v : fallback;
}

}  // namespace

int32_t kvmcStreamValues(KvmcStreamInfo* info) {
    if (!info || !StreamUsable(*info)) return kKvmcBadArgument;
    const int32_t H = 1 << (SizeIndex(info->sampleRate) + 10);
    info->samplesPerPacket = H;
    info->subBlock = H / 16;
    info->bytesPerPacket = PacketBytes(H, info->bitRate, info->sampleRate);
    return kKvmcOk;
}

KvmcParams kvmcRecordParams(int32_t bitRate) {
    return KvmcParams{1.0f, 0.0f, 0.5f, 0.5f, bitRate >= 24000 ? 0x53 : 0x43};
}

void kvmcWriteExtension(const KvmcStreamInfo* info, const KvmcParams* params,
                        uint8_t out[kKvmcExtensionBytes]) {
    std::memset(out, 0, kKvmcExtensionBytes);
    uint8_t* p = out;
    PutBe32(p, 12);
    std::memcpy(p + 4, "frma", 4);
    std::memcpy(p + 8, "KVM2", 4);
    p += 12;
    PutBe32(p, 36);
    std::memcpy(p + 4, "KVCA", 4);
    const int32_t values[7] = {info->version,       info->channels,         info->sampleRate,
                               info->bitRate,       info->samplesPerPacket, info->subBlock,
                               info->bytesPerPacket};
    for (int i = 0; i < 7; ++i) PutBe32(p + 8 + 4 * i, uint32_t(values[i]));
    p += 36;
    PutBe32(p, 28);
    std::memcpy(p + 4, "KVCP", 4);
    PutBe32(p + 8, FloatBits(params->bandTop));
    PutBe32(p + 12, FloatBits(params->bandBottom));
    PutBe32(p + 16, FloatBits(params->gainA));
    PutBe32(p + 20, FloatBits(params->gainB));
    PutBe32(p + 24, uint32_t(params->flags));
    p += 28;
    PutBe32(p, 8);  // end atom, type 0
}

int32_t kvmcOpen(KvmcHandle* handle) {
    if (!handle) return kKvmcBadArgument;
    *handle = nullptr;
    auto* e = new (std::nothrow) KvmcEncoder;
    if (!e) return kKvmcNoMemory;
    *handle = e;
    e->marker = kContextMarker;

    // Prime the FFT tables of every order the encoder uses, so no packet allocates.
    float* work = Obtain<float>(8194);
    if (!work) return kKvmcNoMemory;
    int32_t status = kKvmcOk;
    dspSetStatus(0);  // a status left by an earlier, unrelated report must not fail the open
    for (int order = 7; order <= 13 && status == kKvmcOk; ++order) {
        dspsWinHamming(work, 512);
        dspsRealFft(work, order, dspFftForward);
        if (dspGetStatus() != 0) status = kKvmcNoMemory;
        dspsbZero(work, 8194);
    }
    dspsRealFft(work, 9, dspFftMakeTables);
    std::free(work);
    if (status != kKvmcOk) return status;

    bool ok = true;
    auto get = [&ok](auto*& p, size_t count) {
        using T = std::remove_reference_t<decltype(*p)>;
        p = Obtain<T>(count);
        ok = ok && p != nullptr;
    };
    get(e->sine, 16384);
    if (e->sine)
        for (int i = 0; i < 16384; ++i) e->sine[i] = float(std::sin(2.0 * M_PI * i / 16384.0));
    get(e->cosTable, 16384);
    get(e->auxTrig, 12 * 256 * 2);
    for (int c = 0; c < 2; ++c) {
        get(e->history[c], kPlane);
        get(e->fftOut[c], 8194);
        get(e->mag[c], 4096);
        get(e->prefix[c], 4097);
        get(e->marks[c], 4096);
        get(e->subband[c], 32 * 128);
        get(e->fbHistory[c], 1024);
        get(e->coef[c], 30 * 128);
    }
    get(e->grid, KvmcEncoder::kGridRows * 256);
    get(e->subWindow, 512);
    get(e->fftIn, 8192);
    get(e->candKeys, kSelectionCapacity);
    get(e->candBins, 4096 * 2);
    get(e->candTmp, 2 * kSelectionCapacity);
    get(e->sel, kSelectionCapacity);
    get(e->selTmp, kSelectionCapacity);
    get(e->auxBlock, 512);
    get(e->auxSpec, 514);
    get(e->levels, 4096);
    for (int q = 0; q < 5; ++q) {
        get(e->current[q].items, kComponentsPerRow);
        get(e->next[q].items, kComponentsPerRow);
        get(e->threshA[q], 4096);
        get(e->threshB[q], 4096);
    }
    get(e->codes, kCodeCount);
    for (auto& list : e->lists) get(list.entries, kListCapacity);
    get(e->guard, 2051);
    if (!ok) return kKvmcNoMemory;
    e->guard[2048] = 32;
    e->guard[2049] = 32;
    e->guard[2050] = 39303;
    BuildAllCodes(e->codes);
    InitFilterBank();
    return kKvmcOk;
}

void kvmcClose(KvmcHandle* handle) {
    if (!handle || !*handle) return;
    KvmcEncoder* e = *handle;
    auto drop = [](auto*& p) {
        std::free(p);
        p = nullptr;
    };
    drop(e->sine);
    drop(e->cosTable);
    drop(e->auxTrig);
    for (int c = 0; c < 2; ++c) {
        drop(e->history[c]);
        drop(e->fftOut[c]);
        drop(e->mag[c]);
        drop(e->prefix[c]);
        drop(e->marks[c]);
        drop(e->subband[c]);
        drop(e->fbHistory[c]);
        drop(e->coef[c]);
    }
    drop(e->grid);
    drop(e->subWindow);
    drop(e->fftIn);
    drop(e->candKeys);
    drop(e->candBins);
    drop(e->candTmp);
    drop(e->sel);
    drop(e->selTmp);
    drop(e->auxBlock);
    drop(e->auxSpec);
    drop(e->levels);
    for (int q = 0; q < 5; ++q) {
        drop(e->current[q].items);
        drop(e->next[q].items);
        drop(e->threshA[q]);
        drop(e->threshB[q]);
    }
    drop(e->codes);
    for (auto& list : e->lists) drop(list.entries);
    drop(e->guard);
    // The FFT table cache is shared with the level meter; dspFreeFftTables waits for
    // transforms in progress, and the tables are made again on their next use.
    dspsRealFft(nullptr, 0, dspFftFreeTables);
    dspFreeFftTables();
    e->marker = 0;
    delete e;
    *handle = nullptr;
}

int32_t kvmcConfigure(KvmcHandle e, KvmcStreamInfo* info, const KvmcParams* params) {
    if (!Valid(e) || !info || !StreamUsable(*info)) return kKvmcBadArgument;
    const int32_t rate = info->sampleRate, ch = info->channels, br = info->bitRate;
    const KvmcParams defaults{1.0f, 0.0f, 0.5f, 0.5f, 2};
    const KvmcParams& p = params ? *params : defaults;
    e->configured = false;
    e->channels = ch;
    e->rate = rate;
    e->bitRate = br;
    e->flags = p.flags;
    e->n = SizeIndex(rate);
    e->H = 1 << (e->n + 10);
    e->N = 1 << (e->n + 11);
    const int32_t n = e->n;

    static const int32_t kQualityConstant[7] = {0, 40, 48, 56, 72, 80, 100};
    const int32_t d = kQualityConstant[ch + 2 * n];
    e->quality = br >= 2240 * d   ? 4
                 : br >= 1760 * d ? 3
                 : br >= 1440 * d ? 2
                 : br >= 1000 * d ? 1
                                  : 0;

    struct ModeRow {
        int32_t T, B0, S, D;
    };
    static const ModeRow kModes[7] = {{0, 0, 0, 1},
                                      {40000, 20000, 10000, 24000},
                                      {64000, 20000, 10000, 32000},
                                      {44000, 22000, 8000, 52000},
                                      {80000, 22000, 8000, 48000},
                                      {48000, 24000, 6000, 80000},
                                      {96000, 24000, 6000, 32000}};
    const ModeRow& m = kModes[ch + 2 * n];
    e->wideBand = br >= m.T;
    if (!e->wideBand) {
        e->bandLimit = 8920;
    } else {
        const int64_t limit = m.B0 + int64_t(br - m.T) * m.S / m.D;
        e->bandLimit = int32_t(limit / (rate / e->H)) / 8 * 8;
    }
    if (br < 8000) return kKvmcRateTooLow;

    e->floorFactor = br <= 36000  ? 0.2f
                     : br < 96000 ? 0.2f + float(br - 36000) * 0.000013333333f
                                  : 1.0f;
    if (p.flags & kKvmcFlagNormalMode) {
        e->wideBand = false;
        e->bandLimit = 625;
        e->quality = 0;
        e->floorFactor = 0.2f;
    }
    e->F1 = br <= 23999 ? 0.0f : br < 72000 ? float(br - 24000) * 0.000020833333f : 1.0f;
    e->F2 = br <= 11999 ? 0.7f : br <= 28000 ? 0.7f + float(br - 12000) * 0.000018750117f : 1.0f;
    e->above12000 = br > 12000;
    e->above7999 = br > 7999;
    e->auxM = br <= 7999 ? 9 : br <= 10000 ? 11 : 14;
    e->auxScale = float(1 << (e->auxM - 8));
    for (int k = 0; k < 12; ++k)
        for (int j = 0; j < 256; ++j) {
            const double a = double(k + 1) * j * 2.0 * M_PI / 256.0;
            e->auxTrig[(k * 256 + j) * 2] = float(std::sin(a));
            e->auxTrig[(k * 256 + j) * 2 + 1] = float(std::cos(a));
        }
    for (int i = 0; i < 16384; ++i) e->cosTable[i] = float(std::cos(2.0 * M_PI * i / 16384.0));

    e->bandTop = Usable(p.bandTop, 1.0f);
    e->bandBottom = Usable(p.bandBottom, 0.0f);
    const float gainA = Usable(p.gainA, 0.5f), gainB = Usable(p.gainB, 0.5f);
    e->GA = gainA * gainA * gainA * gainA * 3.2f;
    const float gb2 = 2.0f * gainB;
    e->GB = gb2 * gb2 * gb2 * gb2;
    e->LB = int32_t(float(1 << (n + 6)) * e->bandBottom);
    e->LA = int32_t(float(1 << (n + 6)) * e->bandTop);

    e->referenceCode = AmpCode(1.0f);
    e->rateClass = br <= 8000 ? 0 : br < 16000 ? 1 : 2;

    e->P = PacketBytes(e->H, br, rate);
    info->bytesPerPacket = e->P;
    info->samplesPerPacket = e->H;
    info->subBlock = 1 << (n + 6);
    e->packetType = (p.flags & kKvmcFlagChecksum) ? 2 : 3;

    e->firstCall = true;
    e->parity = 0;
    (void)NoiseTable();
    for (int q = 0; q < 5; ++q) e->current[q].count = e->next[q].count = 0;
    // The envelope bands of the rate class: the bands up to the one holding the last used
    // subband (7, 15 or 29).
    static const int32_t kStarts[3][10] = {
        {0, 1, 5, 14}, {0, 1, 2, 4, 6, 12, 20}, {0, 1, 2, 3, 4, 6, 8, 12, 16, 22}};
    static const int32_t kBandCount[3] = {4, 7, 10};
    static const int32_t kCoded[3][3] = {{3, 4, 4}, {5, 6, 7}, {6, 8, 10}};
    const int K = kBandCount[e->rateClass];
    for (int b = 0; b < K; ++b) e->bandStart[b] = kStarts[e->rateClass][b];
    e->bandStart[K] = 30;
    e->envelopeBands = kCoded[e->rateClass][n];
    e->bandCount = K;

    if (e->P * 8 < MinimumBits(*e)) return kKvmcRateTooLow;

    // Sub-block window: zero, rise, one, fall, zero over 1/8, 1/4, 1/4, 1/4, 1/8.
    const int32_t W = 1 << (n + 7), R = 1 << (n + 5);
    for (int i = 0; i < W; ++i) e->subWindow[i] = 0.0f;
    for (int i = 0; i < R; ++i) {
        const float rise = float((1.0 - std::cos(M_PI * i / R)) / 2.0);
        e->subWindow[W / 8 + i] = rise;
        e->subWindow[W / 8 + R + i] = 1.0f;
        e->subWindow[W / 8 + 2 * R + (R - 1 - i)] = rise;
    }
    int32_t D = 1 << (n + 10);
    for (int i = 0; i < 10; ++i) {
        e->schedule[i].position = (i % 2 == 0) ? 2 * D : D;
        e->schedule[i].step = 2 * D;
        e->schedule[i].order = n + 11 - i / 2;
        if (i % 2 == 1) D /= 2;
    }
    e->subBlockPos = 0;
    std::memset(e->grid, 0, sizeof(float) * KvmcEncoder::kGridRows * 256);
    for (int c = 0; c < 2; ++c) {
        std::memset(e->history[c], 0, sizeof(float) * kPlane);
        std::memset(e->fbHistory[c], 0, sizeof(float) * 1024);
    }
    e->fbPos = 0;
    e->refinedGain = 0.0f;
    if (p.flags & kKvmcFlagRefinedTables) {
        e->refinedGain = 1.1f;
        for (int q = 0; q < 5; ++q) BuildThresholds(*e, q, 1.1f);
    }
    e->configured = true;
    return kKvmcOk;
}

namespace kvmc {

const float* NoiseTable() {
    struct Table {
        float v[128];
        Table() {
            uint32_t state = 0;
            for (float& x : v) {
                state = state * 214013u + 2531011u;
                x = float((state >> 16) & 0x7FFF) / 16384.0f - 1.0f;
            }
        }
    };
    static const Table table;
    return table.v;
}

int32_t SubPacketCount(const KvmcEncoder& e) {
    int32_t g = (e.flags & kKvmcFlagRowSubPackets) ? ((e.flags & kKvmcFlagAltTonal) ? 7 : 6) : 2;
    if (e.wideBand) g += 3;
    if (!e.wideBand && (e.flags & kKvmcFlagAuxPacket)) g += 1;
    return g;
}

// The side information that every packet carries whatever the signal: the packet header and
// checksum, one header per sub-packet, flat band envelopes (about 32 bits per band and
// channel at worst) and the advance symbols of five empty rows.
int32_t MinimumBits(const KvmcEncoder& e) {
    const int32_t bits = 8 * e.P;
    int32_t need = (bits >= 2056 ? 24 : 16) + (e.packetType == 2 ? 16 : 0);
    need += 16 * SubPacketCount(e);
    need += 32 * e.envelopeBands * e.channels;
    need += 128 + ((e.flags & kKvmcFlagAltTonal) ? 40 : 0);
    return need;
}

}  // namespace kvmc

namespace {

void InputStage(KvmcEncoder& e, const int16_t* in) {
    const int32_t H = e.H, ch = e.channels;
    if (e.firstCall) {
        for (int c = 0; c < ch; ++c)
            for (int32_t i = 0; i < 5 * H; ++i) e.history[c][i] = float(in[i * ch + c]);
        return;
    }
    for (int c = 0; c < ch; ++c) {
        float* h = e.history[c];
        std::memmove(h, h + H, sizeof(float) * 4 * H);
        const int16_t* hop = in + 4 * H * ch;
        for (int32_t i = 0; i < H; ++i) h[4 * H + i] = float(hop[i * ch + c]);
    }
}

void RotateLists(KvmcEncoder& e) {
    // What the last packet found beyond its hop is this packet's coded hop.
    for (int q = 0; q < 5; ++q) {
        std::swap(e.current[q].items, e.next[q].items);
        e.current[q].count = e.next[q].count;
        e.next[q].count = 0;
    }
    if (!e.firstCall) {
        // The sub-block grid moves with the window: the first hop's 16 rows leave.
        std::memmove(e.grid, e.grid + 16 * 256,
                     sizeof(float) * (KvmcEncoder::kGridRows - 16) * 256);
    }
}

int32_t RoundUp8(int32_t bits) {
    return (bits + 7) & ~7;
}

void Assemble(KvmcEncoder& e, uint8_t* out) {
    const int32_t P = e.P;
    std::memset(out, 0, size_t(P));
    int32_t pos = 0;
    const bool longForm = P >= 258;
    out[pos++] = uint8_t(e.packetType | (longForm ? 0x80 : 0));
    if (longForm) {
        out[pos++] = uint8_t((P - 3) >> 8);
        out[pos++] = uint8_t((P - 3) & 0xFF);
    } else {
        out[pos++] = uint8_t(P - 2);
    }
    const int32_t checksumAt = pos;
    if (e.packetType == 2) pos += 2;

    auto emit = [&](int type, const SymbolList& list, int32_t first, int32_t last, int32_t bits) {
        const int32_t w =
            WriteSubPacket(type, list, first, last, bits, e.codes, out + pos, P - pos);
        if (w < 0) {
            ++e.assemblyOverflows;
            return;
        }
        pos += w;
    };
    const SymbolList& tonal = e.lists[2];
    if (!e.wideBand && (e.flags & kKvmcFlagAuxPacket))
        emit(15, e.lists[0], 0, e.lists[0].count, e.lists[0].bits);
    emit(9, e.lists[1], 0, e.lists[1].count, e.lists[1].bits);
    if (e.flags & kKvmcFlagRowSubPackets) {
        if (e.flags & kKvmcFlagAltTonal)
            emit(13, tonal, e.rangeFirst[0], e.rangeLast[0], e.rangeBits[0]);
        const int T = ((e.flags & kKvmcFlagAltTonal) ? 37 : 21) + e.n;
        for (int r = 1; r <= 5; ++r)
            emit(T - (r - 1), tonal, e.rangeFirst[r], e.rangeLast[r], e.rangeBits[r]);
    } else {
        emit((e.flags & kKvmcFlagAltTonal) ? 46 : 31, tonal, 0, tonal.count, tonal.bits);
    }
    if (e.wideBand) {
        for (int i = 3; i <= 5; ++i) emit(7 + i, e.lists[i], 0, e.lists[i].count, e.lists[i].bits);
    }
    if (e.packetType == 2) {
        uint32_t sum = 0;
        for (int32_t i = 0; i < P; ++i) sum += out[i];
        out[checksumAt] = uint8_t(sum >> 8);
        out[checksumAt + 1] = uint8_t(sum);
    }
}

}  // namespace

int32_t kvmcEncodePacket(KvmcHandle e, int32_t inBytes, const int16_t* in, int32_t outBytes,
                         uint8_t* out) {
    if (!Valid(e) || !e->configured || !in || !out) return kKvmcBadArgument;
    if (inBytes != 10 * e->H * e->channels || outBytes != e->P) return kKvmcBadArgument;
    const int32_t H = e->H;
    e->parity ^= 1;
    for (auto& list : e->lists) list.Clear();

    InputStage(*e, in);
    RotateLists(*e);

    // Sub-block levels up to 4H into the window.
    const int32_t subStep = H / 16;
    while (e->subBlockPos <= 4 * H) {
        SubBlockAnalysis(*e);
        e->subBlockPos += subStep;
    }
    e->subBlockPos -= H;

    const int32_t bits0 = 8 * e->P;
    int32_t budget = bits0 - (bits0 >= 2056 ? 24 : 16) - (e->packetType == 2 ? 16 : 0);
    const int32_t g = SubPacketCount(*e);
    budget -= 16 * g;
    budget -= 8 * std::min(budget / 2048, g);

    if (!e->wideBand) {
        if (e->flags & kKvmcFlagAuxPacket) {
            AuxAnalysis(*e, true, budget / 4);
        } else if ((e->flags & kKvmcFlagAuxOnly) && !(e->flags & kKvmcFlagRefinedTables)) {
            AuxAnalysis(*e, false, 0);
        }
    }
    budget -= RoundUp8(e->lists[0].bits);

    for (int i = 0; i < 10; ++i) {
        ScheduleEntry& s = e->schedule[i];
        while (s.position <= H) {
            RowAnalysis(*e, s.order - e->n - 7, s.position);
            s.position += s.step;
        }
        s.position -= H;
    }

    CodeTonal(*e, budget);
    if (e->wideBand) {
        int32_t used = RoundUp8(e->lists[1].bits);
        if (e->flags & kKvmcFlagRowSubPackets) {
            for (int r = 0; r <= 5; ++r) used += RoundUp8(e->rangeBits[r]);
        } else {
            used += RoundUp8(e->lists[2].bits);
        }
        CodeWideBand(*e, budget - used);
    }
    Assemble(*e, out);
    e->firstCall = false;
    return kKvmcOk;
}
