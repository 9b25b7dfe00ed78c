#pragma once
// Private: the decoder context and the pieces the stages share.
#include <cstdint>
#include <cstring>

#include "mpegdec/mpegdec.h"

namespace mpegdec {

constexpr int32_t kContextMarker = 41093;
constexpr int32_t kSynthMarker = 39302;
constexpr int32_t kInputBytes = 8192;    // one read from the callback
constexpr int32_t kInputHistory = 4096;  // bytes kept above the top for moving back
constexpr int32_t kReservoirSlots = 4096;
constexpr int32_t kLines = 576;

// Stream bytes, stored from the top index downward and read downward: index 8191 is the first
// byte of a read, lower indices come later. Bytes above 8191 are the tail of the previous read
// (or its unread rest), so the reader can move back across a refill.
struct InputReader {
    uint8_t buf[kInputBytes + kInputHistory];
    int32_t byteIndex;  // current byte
    int32_t bitIndex;   // unread bits in the current byte, 8..0
    uint64_t bitsRead;  // bits read since the input was last reset (moving back lowers it)
    bool hasEnd;        // a read came back short
    int32_t endMarker;  // index of the first byte that was not delivered
    bool endReached;    // a read ran into the end marker
    bool readFailed;    // the callback reported a failure: the end is not the stream's end
    int32_t validTop;   // highest index holding stream bytes
};

// Main data, a ring of byte slots. `ring` mirrors its first 8 bytes past the end so a 64-bit
// load never wraps. The read position is always bitCount modulo the ring.
struct Reservoir {
    uint8_t ring[kReservoirSlots + 8];
    int32_t writePos;  // next slot to write, 0..4095
    int32_t bitCount;  // bits read so far (rewinds lower it)
};

struct FrameHeader {
    int32_t id, mpeg25, layer, errorProtection, bitrateIndex, samplingFrequency, padding, extension,
        mode, modeExt, copyright, original, emphasis;
};

struct FrameParams {
    int32_t actualMode, channels, subbandLimit, jsBound;
};

struct GranuleInfo {
    int32_t part2_3_length, big_values, global_gain, scalefac_compress, window_switching_flag,
        block_type, mixed_block_flag, table_select[3], subblock_gain[3], region0_count,
        region1_count, preflag, scalefac_scale, count1table_select;
};

struct SideInfo {
    int32_t main_data_begin, private_bits;
    int32_t scfsi[2][4];
    GranuleInfo gr[2][2];  // [granule][channel]
};

struct ScaleFactors {
    int32_t l[23];     // long bands; 21 and 22 stay 0
    int32_t s[3][13];  // [window][short band]; band 12 stays 0
};

// The last 16 blocks of 32 transform outputs per channel. A block in slot k (0..15) lives in
// ring[ch][k & 1][m][k / 2], repeated 8 entries on, so that the windowing reads the blocks of
// one parity as 8 consecutive values without wrapping.
struct SynthesisState {
    int32_t marker;
    int32_t offset[2];  // 32 * the newest block's slot: 0..480, stepping down by 32
    // Per channel 16 blocks; a block holds the slot's transform outputs in the orders
    // outputs 0..31 read them as an even block (first 32) and as an odd block (last 32).
    alignas(32) float ring[2][16][64];
};

}  // namespace mpegdec

struct MpegDecContext {
    uint8_t open;
    uint8_t options[4];
    uint8_t flags[2];
    MpegReadCallback read;
    void* user;
    int32_t state;  // 0 = no frame located yet, 1 = decoding
    mpegdec::FrameHeader header;
    mpegdec::FrameParams params;
    mpegdec::InputReader in;
    mpegdec::Reservoir res;
    mpegdec::SideInfo si;
    mpegdec::ScaleFactors sf[2];
    int32_t frameStart;  // reservoir byte where the next frame's main data begins
    float overlap[2][32][18];
    mpegdec::SynthesisState* synth;
    int32_t marker;
    uint8_t diagnosed;   // the first diagnostic of this stream was reported
    uint8_t syncLowBit;  // the last sync word's 12th bit (clear for MPEG-2.5)
    int32_t freeBytes;   // free format: frame length without padding, 0 while unknown
    uint64_t frameBit;   // input bit position of the last decoded frame's header

    // Per-frame scratch, here so that decoding never allocates.
    int32_t nonzeroLines[2];           // lines past this are zero
    float xr[2][mpegdec::kLines + 4];  // room for a quadruple starting at line 574
    float factor[mpegdec::kLines];     // requantisation gain per line of one granule
    float lines[mpegdec::kLines];
    float pcmFloat[2 * mpegdec::kLines];
    int16_t pcm16[2 * mpegdec::kLines];
};

namespace mpegdec {

// Reports a diagnostic through the hook, the first of each stream only.
void Diagnose(MpegDecContext& c, const char* message);

// Reservoir access used by the spectral stage.
inline uint32_t ResPeek32(const Reservoir& r) {
    const uint32_t pos = uint32_t(r.bitCount) & (kReservoirSlots * 8 - 1);
    const uint8_t* p = r.ring + (pos >> 3);
    const uint64_t v = uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 |
                       uint64_t(p[3]) << 32 | uint64_t(p[4]) << 24;
    return uint32_t((v << (pos & 7)) >> 32);
}

inline uint32_t ResGetBits(Reservoir& r, int32_t n) {
    if (n <= 0) return 0;
    const uint32_t v = ResPeek32(r) >> (32 - n);
    r.bitCount += n;
    return v;
}

inline void ResRewindBits(Reservoir& r, int32_t n) {
    r.bitCount -= n;
}

inline void ResPutByte(Reservoir& r, uint8_t b) {
    r.ring[r.writePos] = b;
    if (r.writePos < 8) r.ring[kReservoirSlots + r.writePos] = b;
    r.writePos = (r.writePos + 1) & (kReservoirSlots - 1);
}

// Spectral stage (Layer3.cpp), per granule.
void ReadScaleFactors(MpegDecContext& c, int gr, int ch);
void DecodeHuffman(MpegDecContext& c, int gr, int ch, int32_t part2Start);
// The requantisation gain of every line from global gain, subblock gains and scale factors;
// DecodeHuffman applies it with the 4/3 power as it decodes.
void LineFactors(MpegDecContext& c, int gr, int ch);
void StereoProcess(MpegDecContext& c, int gr);
// Reorders and alias-reduces channel ch's lines into c.lines.
void ReorderAntialias(MpegDecContext& c, int gr, int ch);

// Synthesis stage (Synthesis.cpp): c.lines -> 576 floats at out.
void HybridSynthesis(MpegDecContext& c, int gr, int ch, float* out);
void ClearSynthesis(MpegDecContext& c);
// Windowed inverse MDCTs of one subband with overlap-add: 18 lines in, 18 time samples out,
// the second half of the 36 values kept in `overlap` for the next granule.
struct Tables;
void ImdctLong(const float* X, const float* window, float* overlap, float* out, const Tables& t);
void ImdctShort(const float* X, float* overlap, float* out, const Tables& t);
// One polyphase step: 32 subband samples in, 32 output samples out.
void PolyphaseSlot(SynthesisState& s, int ch, const float* in, float* out);
// The windowing half of it, given the slot's 32 transform outputs.
void PolyphaseWindow(SynthesisState& s, int ch, const float* c, float* out);
// Whether the windowing runs eight lanes wide (chosen once from the processor; tests
// switch it to compare with the four-lane path).
extern bool g_synthWide;
// The 32-point transform c[m] = sum in[k] cos(m (2k + 1) pi / 64).
void Dct32(const float* in, float* out);

}  // namespace mpegdec
