// Context lifecycle, frame search, header and side information, and the per-frame driver.
#include <algorithm>
#include <cstdio>
#include <new>

#include "dsp/dsp.h"
#include "mpegdec/BitReader.h"
#include "mpegdec/Context.h"
#include "mpegdec/FrameHeader.h"
#include "mpegdec/HuffmanTables.h"
#include "mpegdec/Tables.h"

using namespace mpegdec;

namespace {

constexpr int32_t kSearchLimitBits = 13824;

// ---- frame search and header ---------------------------------------------------------------

// Looks for the next byte-aligned 11-bit sync word, reading at most about maxBits bits.
bool SyncSearch(MpegDecContext& c, int64_t maxBits = INT64_MAX) {
    InputReader& in = c.in;
    const uint64_t start = in.bitsRead;
    if (in.bitIndex != 8 && in.bitIndex != 0) GetBits(c, in.bitIndex);
    uint32_t v = GetBits(c, 12);
    while ((v & 0xFFE) != 0xFFE && !in.endReached) {
        if (int64_t(in.bitsRead - start) >= maxBits) return false;
        v = (v << 8) | GetBits(c, 8);
    }
    c.syncLowBit = uint8_t(v & 1);
    return !in.endReached;
}

int32_t ParseHeader(MpegDecContext& c, MpegHeaderWord* word, uint32_t* raw = nullptr) {
    FrameHeader& h = c.header;
    const uint32_t bits = GetBits(c, 20);
    if (raw) *raw = bits;
    h.id = int32_t(bits >> 19) & 1;
    h.mpeg25 = c.syncLowBit ? 0 : 1;
    const int32_t layerCode = int32_t(bits >> 17) & 3;
    h.layer = 4 - layerCode;
    h.errorProtection = ((bits >> 16) & 1) == 0 ? 1 : 0;
    h.bitrateIndex = int32_t(bits >> 12) & 15;
    h.samplingFrequency = int32_t(bits >> 10) & 3;
    h.padding = int32_t(bits >> 9) & 1;
    h.extension = int32_t(bits >> 8) & 1;
    h.mode = int32_t(bits >> 6) & 3;
    h.modeExt = int32_t(bits >> 4) & 3;
    h.copyright = int32_t(bits >> 3) & 1;
    h.original = int32_t(bits >> 2) & 1;
    h.emphasis = int32_t(bits) & 3;
    if (word)
        *word = mpegHeaderFromStream(0xFFE00000u | uint32_t(c.syncLowBit) << 20 | bits, *word);
    if (layerCode != 1) return kMpegDecLayerRefused;
    // The version code between MPEG-2.5 and MPEG-2 is reserved.
    if (h.mpeg25 && h.id == 1) return kMpegDecBadSampleRate;
    if (h.samplingFrequency == 3) return kMpegDecBadSampleRate;
    // Index 15 is forbidden; treat it like a lost sync rather than reading a bogus length.
    if (h.bitrateIndex == 15) return kMpegDecFreeFormatRefused;
    // Free format decodes once its frame length is known (measured at the first frame).
    if (h.bitrateIndex == 0 && c.freeBytes == 0) return kMpegDecFreeFormatRefused;
    return kMpegDecOk;
}

int32_t FrameLength(const MpegDecContext& c) {
    const FrameHeader& h = c.header;
    if (h.bitrateIndex == 0) return c.freeBytes + h.padding;
    return FrameLengthNoPadding(h.id, h.samplingFrequency, h.bitrateIndex, h.mpeg25 != 0) +
           h.padding;
}

// Free format: the frame length is the distance to the next header of the same stream.
// `raw` holds the 20 header bits just read; the reader is left where it was.
constexpr int32_t kMaxFreeBytes = 3600;
bool MeasureFreeFormat(MpegDecContext& c, uint32_t raw) {
    // Everything but padding, private, mode extension, copyright and original must match, which
    // a stray sync word in junk practically never does.
    constexpr uint32_t kSame = 0xFFFFFu & ~(0x200u | 0x100u | 0x30u | 0xCu);
    const int32_t side = mpeg::SideInfoBytes(c.header.id, c.header.mode == 3 ? 1 : 2);
    uint8_t ahead[kMaxFreeBytes + 4];
    EnsureBytes(c, kMaxFreeBytes + 8);
    int32_t n = 0;
    for (; n < kMaxFreeBytes + 3; ++n) {
        const uint8_t b = uint8_t(GetBits(c, 8));
        if (c.in.endReached) break;
        ahead[n] = b;
    }
    MoveBack(c.in, 8 * n);
    for (int32_t i = side; i + 3 < n; ++i) {
        if (ahead[i] != 0xFF || (ahead[i + 1] & 0xE0) != 0xE0) continue;
        if (((ahead[i + 1] >> 4) & 1) != c.syncLowBit) continue;
        const uint32_t next =
            uint32_t(ahead[i + 1] & 15) << 16 | uint32_t(ahead[i + 2]) << 8 | ahead[i + 3];
        if ((next & kSame) != (raw & kSame)) continue;
        c.freeBytes = 4 + i - c.header.padding;
        return true;
    }
    return false;
}

// Whether the bytes after a candidate frame confirm it: another usable header, the end of the
// data right there, or a tag. A lone frame (a very short file) is confirmed only by the end or a
// tag, so a stray sync word in junk still needs the exact length to land on one.
bool FrameFollows(MpegDecContext& c) {
    const uint64_t start = c.in.bitsRead;
    const uint32_t sync = GetBits(c, 12);
    if (c.in.endReached) return c.in.bitsRead == start && !c.in.readFailed;
    if ((sync & 0xFFE) == 0xFFE) {
        c.syncLowBit = uint8_t(sync & 1);
        return ParseHeader(c, nullptr) == kMpegDecOk;
    }
    MoveBack(c.in, int32_t(c.in.bitsRead - start));
    const uint32_t head = GetBits(c, 24);
    if (!c.in.endReached && (head == 0x544147 || head == 0x494433)) return true;  // "TAG", "ID3"
    const uint32_t tail = GetBits(c, 32);
    return !c.in.endReached && head == 0x415045 && tail == 0x54414745 &&  // "APETAGE"
           GetBits(c, 8) == 'X' && !c.in.endReached;
}

// Whether the frame whose sync word ended at `syncEnd` is confirmed by what follows it. The
// reader is left after its header (20 bits past `syncEnd`), the header as parsed.
bool ConfirmFrame(MpegDecContext& c, uint64_t syncEnd) {
    const FrameHeader header = c.header;
    const uint8_t lowBit = c.syncLowBit;
    const int32_t length = FrameLength(c);
    MoveBack(c.in, int32_t(c.in.bitsRead - syncEnd) + 12);
    EnsureBytes(c, length + 4);
    for (int32_t i = 0; i < length; ++i) GetBits(c, 8);
    const bool confirmed = !c.in.endReached && FrameFollows(c);
    c.header = header;
    c.syncLowBit = lowBit;
    MoveBack(c.in, int32_t(c.in.bitsRead - syncEnd) - 20);
    return confirmed;
}

// Finds a sync word whose frame is confirmed by what follows it (FrameFollows) and leaves the
// reader just after that sync word. When none is found but the same refused
// header (Layer I/II, free format, reserved rate) came up twice, the stream is of that kind
// and its refusal is returned instead of "no frame found".
int32_t FirstFrameSearch(MpegDecContext& c, MpegHeaderWord* word) {
    int64_t count = 0;
    MpegHeaderWord scratch = word ? *word : 0;
    // Refused headers by their version, layer, protection, bitrate and rate bits: the order of
    // the first sighting (0 = never) and the refusal. The earliest one seen twice wins.
    uint16_t firstSeen[2048] = {};
    int8_t refusalOf[2048] = {};
    uint16_t sightings = 0;
    int32_t repeatedRefusal = kMpegDecNoFrameFound;
    uint16_t repeatedOrder = UINT16_MAX;
    const int32_t knownFreeBytes = c.freeBytes;
    while (count < kSearchLimitBits) {
        const uint64_t before = c.in.bitsRead;
        const bool found = SyncSearch(c, kSearchLimitBits - count);
        count += int64_t(c.in.bitsRead - before);
        if (!found) break;  // the data or the search budget ended
        const uint64_t syncEnd = c.in.bitsRead;
        uint32_t raw = 0;
        int32_t refusal = ParseHeader(c, &scratch, &raw);
        if (refusal == kMpegDecFreeFormatRefused && c.header.bitrateIndex == 0 &&
            MeasureFreeFormat(c, raw))
            refusal = kMpegDecOk;
        if (refusal != kMpegDecOk) {
            const uint32_t key = ((raw >> 10) & 1023) | uint32_t(c.syncLowBit) << 10;
            if (firstSeen[key] == 0) {
                if (sightings < UINT16_MAX - 1) firstSeen[key] = ++sightings;
                refusalOf[key] = int8_t(refusal);
            } else if (firstSeen[key] < repeatedOrder) {
                repeatedOrder = firstSeen[key];
                repeatedRefusal = refusalOf[key];
            }
            MoveBack(c.in, int32_t(c.in.bitsRead - syncEnd) + 11);
            count += 1;
            continue;
        }
        const bool confirmed = ConfirmFrame(c, syncEnd);
        // Back to just after the first sync word.
        MoveBack(c.in, int32_t(c.in.bitsRead - syncEnd));
        if (confirmed) return kMpegDecOk;
        c.freeBytes = knownFreeBytes;
        MoveBack(c.in, 11);
        count += 1;
    }
    if (word) *word = scratch;
    return repeatedRefusal;
}

// Whether two headers belong to one stream: a frame of another kind found mid-stream must be
// confirmed before it is believed.
bool SameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.id == b.id && a.mpeg25 == b.mpeg25 && a.layer == b.layer &&
           a.samplingFrequency == b.samplingFrequency &&
           (a.bitrateIndex == 0) == (b.bitrateIndex == 0);
}

void DeriveParams(MpegDecContext& c) {
    static const int32_t kJsBound[4] = {4, 8, 12, 16};  // Layer III by mode extension
    FrameParams& p = c.params;
    p.actualMode = c.header.mode;
    p.channels = c.header.mode == 3 ? 1 : 2;
    p.subbandLimit = 32;
    p.jsBound = c.header.mode == 1 ? kJsBound[c.header.modeExt] : 32;
}

int32_t MainDataSlots(const MpegDecContext& c, int32_t channels) {
    const FrameHeader& h = c.header;
    int32_t slots = FrameLength(c) - 4 - mpeg::SideInfoBytes(h.id, channels);
    if (h.errorProtection) slots -= 2;
    return std::max(slots, 0);
}

// Returns false when a granule is unusable (window switching with block type 0).
bool ParseSideInfo(MpegDecContext& c) {
    SideInfo& si = c.si;
    const int32_t nch = c.params.channels;
    const bool mpeg1 = c.header.id == 1;
    bool ok = true;
    si.main_data_begin = int32_t(GetBits(c, mpeg1 ? 9 : 8));
    si.private_bits = int32_t(GetBits(c, mpeg1 ? (nch == 1 ? 5 : 3) : (nch == 1 ? 1 : 2)));
    if (mpeg1)
        for (int ch = 0; ch < nch; ++ch)
            for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = int32_t(GetBits(c, 1));
    const int granules = mpeg1 ? 2 : 1;
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = si.gr[gr][ch];
            g.part2_3_length = int32_t(GetBits(c, 12));
            g.big_values = int32_t(GetBits(c, 9));
            g.global_gain = int32_t(GetBits(c, 8));
            g.scalefac_compress = int32_t(GetBits(c, mpeg1 ? 4 : 9));
            g.window_switching_flag = int32_t(GetBits(c, 1));
            if (g.window_switching_flag) {
                g.block_type = int32_t(GetBits(c, 2));
                g.mixed_block_flag = int32_t(GetBits(c, 1));
                g.table_select[0] = int32_t(GetBits(c, 5));
                g.table_select[1] = int32_t(GetBits(c, 5));
                g.table_select[2] = 0;
                for (int w = 0; w < 3; ++w) g.subblock_gain[w] = int32_t(GetBits(c, 3));
                if (g.block_type == 0) {
                    Diagnose(c, "Side info bad: block_type == 0 in split block.");
                    ok = false;
                }
                g.region0_count = (g.block_type == 2 && g.mixed_block_flag == 0) ? 8 : 7;
                g.region1_count = 20 - g.region0_count;
            } else {
                for (int r = 0; r < 3; ++r) g.table_select[r] = int32_t(GetBits(c, 5));
                g.region0_count = int32_t(GetBits(c, 4));
                g.region1_count = int32_t(GetBits(c, 3));
                g.block_type = 0;
                g.mixed_block_flag = 0;
                g.subblock_gain[0] = g.subblock_gain[1] = g.subblock_gain[2] = 0;
            }
            g.preflag = mpeg1 ? int32_t(GetBits(c, 1)) : 0;
            g.scalefac_scale = int32_t(GetBits(c, 1));
            g.count1table_select = int32_t(GetBits(c, 1));
        }
    return ok;
}

void EndOfData(InputReader& in) {
    in.endReached = true;
    in.byteIndex = in.endMarker + 1;
    in.bitIndex = 0;
}

void ReportFrame(MpegPcmBlock* pcm, int32_t channels, int32_t samples) {
    if (!pcm) return;
    pcm->channels = channels;
    pcm->samplesPerChannel = samples;
}

bool ValidHandle(MpegDecHandle h) {
    return h && h->marker == kContextMarker && h->open == 1 && h->synth &&
           h->synth->marker == kSynthMarker;
}

}  // namespace

const char* mpegDecStatusText(int32_t status) {
    switch (status) {
        case kMpegDecOk:
            return "ok";
        case kMpegDecEndOfData:
            return "end of data";
        case kMpegDecLayerRefused:
            return "Layer I or Layer II stream (only Layer III is decoded)";
        case kMpegDecFreeFormatRefused:
            return "free-format stream (bitrate index 0) refused";
        case kMpegDecBadSampleRate:
            return "reserved sampling-rate index";
        case kMpegDecBadSideInfo:
            return "damaged side information; frame abandoned";
        case kMpegDecReadError:
            return "the stream could not be read";
        case kMpegDecBadFlags:
            return "flags high byte above 1";
        case kMpegDecNoContextMemory:
            return "decoder context cannot be allocated";
        case kMpegDecBadHandle:
            return "null or invalid decoder handle";
        case kMpegDecBadSynthState:
            return "synthesis state missing or damaged";
        case kMpegDecNotOpen:
            return "decoder context not open";
        case kMpegDecBadOptions:
            return "option byte out of range";
        case kMpegDecNoFrameFound:
            return "no MPEG audio frame found";
        default:
            return "unknown status";
    }
}

namespace {

void DiagnoseToStandardError(const char* message, void*) {
    std::fprintf(stderr, "%s\n", message);
}

MpegDiagnosticHook g_diagnosticHook = DiagnoseToStandardError;
void* g_diagnosticUser = nullptr;

}  // namespace

void mpegDecSetDiagnosticHook(MpegDiagnosticHook hook, void* user) {
    g_diagnosticHook = hook ? hook : DiagnoseToStandardError;
    g_diagnosticUser = hook ? user : nullptr;
}

namespace mpegdec {

void Diagnose(MpegDecContext& c, const char* message) {
    if (c.diagnosed) return;
    c.diagnosed = 1;
    g_diagnosticHook(message, g_diagnosticUser);
}

}  // namespace mpegdec

int32_t mpegDecOpen(const uint8_t options[4], uint16_t flags, MpegReadCallback read, void* user,
                    MpegDecHandle* handle) {
    if (handle) *handle = nullptr;
    if (!options || options[0] >= 5 || options[1] >= 4 || options[2] >= 6 || options[3] > 3)
        return kMpegDecBadOptions;
    if ((flags >> 8) > 1) return kMpegDecBadFlags;
    if (!read || !handle) return kMpegDecBadHandle;
    GetTables();
    HuffmanTables();
    auto* synth = new (std::nothrow) SynthesisState;
    if (!synth) return kMpegDecBadSynthState;
    auto* c = new (std::nothrow) MpegDecContext;
    if (!c) {
        delete synth;
        return kMpegDecNoContextMemory;
    }
    std::memset(static_cast<void*>(c), 0, sizeof *c);
    std::memset(static_cast<void*>(synth), 0, sizeof *synth);
    synth->marker = kSynthMarker;
    c->synth = synth;
    std::memcpy(c->options, options, 4);
    c->flags[0] = uint8_t(flags & 0xFF);
    c->flags[1] = uint8_t(flags >> 8);
    c->read = read;
    c->user = user;
    c->state = 0;
    c->open = 1;
    c->marker = kContextMarker;
    ResetInput(*c);
    *handle = c;
    return kMpegDecOk;
}

namespace {

// Data that ends because a read failed is not the end of the stream.
int32_t ReadOutcome(const MpegDecContext& c, int32_t rc) {
    const bool ended = rc == kMpegDecEndOfData || rc == kMpegDecNoFrameFound;
    return ended && c.in.readFailed ? kMpegDecReadError : rc;
}

int32_t DecodeFrame(MpegDecContext& c, MpegHeaderWord* headerWord, MpegPcmBlock* pcm,
                    MpegAncillaryBlock* ancillary) {
    InputReader& in = c.in;
    ReportFrame(pcm, c.params.channels ? c.params.channels : 2, 0);
    if (ancillary) ancillary->byteCount = 0;

    if (c.state == 0) {
        const int32_t rc = FirstFrameSearch(c, headerWord);
        if (rc != kMpegDecOk) return rc;
        ParseHeader(c, headerWord);
        MoveBack(in, 32);
        c.frameBit = in.bitsRead;
        DeriveParams(c);
        c.state = 1;
        ReportFrame(pcm, c.params.channels, 0);
        return kMpegDecOk;
    }

    // The last 768 bits of a stream are a tail: a complete small frame there still decodes,
    // anything else (a cut frame, tag bytes, junk) just ends the stream.
    EnsureBytes(c, 96);
    const bool tail = in.hasEnd && BitsLeft(in) < 768;
    if (in.hasEnd && BitsLeft(in) < 32) {
        EndOfData(in);
        return kMpegDecEndOfData;
    }
    // A header right where the last frame ended and like it is believed; one found by searching
    // past damage, or of another kind (a second stream joined on), must be confirmed by the
    // header after it. Anything else is a false sync word: search on, as in the first search.
    const FrameHeader previous = c.header;
    bool searched = false;
    for (;;) {
        const uint64_t before = in.bitsRead;
        if (!SyncSearch(c)) return kMpegDecEndOfData;
        const uint64_t syncEnd = in.bitsRead;
        searched = searched || syncEnd - before > 12;
        bool accepted = ParseHeader(c, headerWord) == kMpegDecOk;
        if (accepted && (searched || !SameStream(c.header, previous)))
            accepted = ConfirmFrame(c, syncEnd);
        if (accepted) {
            c.frameBit = syncEnd - 12;
            break;
        }
        if (tail) {
            EndOfData(in);
            return kMpegDecEndOfData;
        }
        MoveBack(in, int32_t(in.bitsRead - syncEnd) + 11);
        searched = true;
    }
    const FrameHeader& h = c.header;
    const int32_t length = FrameLength(c);
    EnsureBytes(c, length);
    if (in.hasEnd && BitsLeft(in) < 8 * (length - 4)) {
        EndOfData(in);
        return kMpegDecEndOfData;
    }
    DeriveParams(c);
    const int32_t nch = c.params.channels;
    ReportFrame(pcm, nch, 0);
    if (h.errorProtection) GetBits(c, 16);
    const bool sideInfoOk = ParseSideInfo(c);

    const int32_t slots = MainDataSlots(c, nch);
    CopyToReservoir(c, slots);

    Reservoir& res = c.res;
    int32_t mainDataEnd = res.bitCount / 8;
    if (res.bitCount % 8 != 0) {
        ResGetBits(res, 8 - res.bitCount % 8);
        ++mainDataEnd;
    }
    while (mainDataEnd > kReservoirSlots) {  // a loop keeps damaged streams bounded too
        c.frameStart -= kReservoirSlots;
        res.bitCount -= kReservoirSlots * 8;
        mainDataEnd -= kReservoirSlots;
    }
    const int32_t discard = c.frameStart - mainDataEnd - c.si.main_data_begin;
    c.frameStart += slots;
    if (!sideInfoOk) return kMpegDecBadSideInfo;
    if (discard < 0) return kMpegDecOk;  // main data lies before what we hold

    const bool keepAncillary = c.options[2] != 0 && ancillary;
    int32_t stored = 0;
    if (keepAncillary) {
        const int32_t room = ancillary->bytes ? std::max(ancillary->capacity, 0) : 0;
        stored = std::min(discard, room);
        // Reverse order: the first byte read goes to the highest position.
        for (int32_t i = 0; i < discard; ++i) {
            const uint8_t b = uint8_t(ResGetBits(res, 8));
            const int32_t at = stored - 1 - i;
            if (at >= 0) ancillary->bytes[at] = b;
        }
        ancillary->byteCount = stored;
    } else {
        res.bitCount += 8 * discard;
    }

    const int granules = h.id == 1 ? 2 : 1;
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            const int32_t part2Start = res.bitCount;
            ReadScaleFactors(c, gr, ch);
            LineFactors(c, gr, ch);
            DecodeHuffman(c, gr, ch, part2Start);
        }
        StereoProcess(c, gr);
        for (int ch = 0; ch < nch; ++ch) {
            ReorderAntialias(c, gr, ch);
            HybridSynthesis(c, gr, ch, c.pcmFloat + ch * kLines);
        }
        dspsbFloatToInt(c.pcmFloat, c.pcm16, nch * kLines, 16, 0x1080);
        if (pcm && pcm->samples) {
            int16_t* out = pcm->samples + gr * kLines * nch;
            if (nch == 1) {
                std::memcpy(out, c.pcm16, kLines * sizeof(int16_t));
            } else {
                for (int i = 0; i < kLines; ++i) {
                    out[2 * i] = c.pcm16[i];
                    out[2 * i + 1] = c.pcm16[kLines + i];
                }
            }
        }
    }
    ReportFrame(pcm, nch, granules * kLines);
    return kMpegDecOk;
}

}  // namespace

int32_t mpegDecDecodeFrame(MpegHeaderWord* headerWord, MpegPcmBlock* pcm,
                           MpegAncillaryBlock* ancillary, MpegDecHandle handle) {
    if (!ValidHandle(handle)) return kMpegDecBadHandle;
    return ReadOutcome(*handle, DecodeFrame(*handle, headerWord, pcm, ancillary));
}

int32_t mpegDecReset(MpegDecHandle handle) {
    if (!ValidHandle(handle)) return kMpegDecBadHandle;
    MpegDecContext& c = *handle;
    ResetInput(c);
    const int32_t rc = FirstFrameSearch(c, nullptr);
    ClearSynthesis(c);
    // What the reservoir holds belongs to the old position: mark it read, so frames whose main
    // data reaches back before the new position are skipped instead of decoding stale bytes.
    if (c.frameStart > 0) c.res.bitCount = std::max(c.res.bitCount, c.frameStart * 8);
    if (rc != kMpegDecOk) return ReadOutcome(c, rc);
    MoveBack(c.in, 12);
    c.frameBit = c.in.bitsRead;
    return kMpegDecOk;
}

int64_t mpegDecFrameOffset(MpegDecHandle handle) {
    if (!ValidHandle(handle) || handle->state == 0) return -1;
    return int64_t(handle->frameBit / 8);
}

int32_t mpegDecClose(MpegDecHandle* handle) {
    if (!handle || !*handle || (*handle)->marker != kContextMarker) return kMpegDecBadHandle;
    MpegDecContext* c = *handle;
    if (c->open != 1) return kMpegDecNotOpen;
    if (!c->synth || c->synth->marker != kSynthMarker) return kMpegDecBadSynthState;
    c->synth->marker = 0;
    c->marker = 0;
    c->open = 0;
    delete c->synth;
    delete c;
    *handle = nullptr;
    return kMpegDecOk;
}
