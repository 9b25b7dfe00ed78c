#pragma once
// Private tier of the KVMC codec: the encoder context, the symbol lists and the code tables that
// the decoder parses with too. Tests include it to check the tables and the bit layout.
#include <cstdint>

#include "kvmc/kvmc.h"

namespace kvmc {

inline constexpr int32_t kContextMarker = 41094;
inline constexpr int kCodeCount = 24;
inline constexpr int kLeafCount = 49;  // leaf 0: escape; leaves 1..48: symbols 0..47
inline constexpr int kListCapacity = 16384;
inline constexpr int kMaxHop = 4096;
inline constexpr int kPlane = 5 * kMaxHop;  // five hops of history per channel

// ---------------------------------------------------------------------------
// Symbol lists and codes
// ---------------------------------------------------------------------------

struct Entry {
    int32_t value;
    int8_t code;     // 0..23, or -1 for a raw entry
    uint8_t width;   // raw: the width; symbol: offset bits that follow (bucketed mode)
    uint8_t symbol;  // symbol entries only
    uint8_t bucketed;
};

struct SymbolList {
    Entry* entries = nullptr;  // kListCapacity entries, obtained at open
    int32_t count = 0;
    int32_t bits = 0;
    bool full = false;  // an add was refused for lack of room
    void Clear() {
        count = 0;
        bits = 0;
        full = false;
    }
};

struct HuffCode {
    uint8_t length[kLeafCount];  // 0: leaf absent (or the single leaf of a one-leaf code)
    uint32_t bits[kLeafCount];   // code word, the bit to write first in bit 0
    bool present[kLeafCount];
};

// The weight rows of the 24 codes (48 symbols each).
extern const uint16_t kCodeWeights[kCodeCount][48];
// Base value of bucket symbol s (0..63): 0, 1, 2, 3, 4, 6, 8, 10, 12, 16, ... 229372.
int32_t BucketBase(int32_t s);

// Builds one code from its weight row; false when a tree would be deeper than the builder's
// fixed stack (never for the built-in rows).
bool BuildCode(const uint16_t weights[48], HuffCode* code);
// All 24 codes; ends the process with exit code 4 ("HufDeep too small") on a corrupt row.
void BuildAllCodes(HuffCode codes[kCodeCount]);

// Bits that coding `symbol` with `code` takes (without bucket offset bits).
int32_t SymbolBits(const HuffCode& code, int32_t symbol);
// Bucket symbol of a value: the largest s with kBucketBase[s] <= value.
int32_t BucketSymbol(int32_t value);

// Adds an entry and its bits. Direct mode: the symbol is the value (0..255 here; larger values
// are clamped to 255 by the caller's quantisers). Returns false (and adds nothing) when the
// list is full.
bool ListAdd(SymbolList& list, const HuffCode codes[], int32_t value, int code, bool bucketed);
bool ListAddRaw(SymbolList& list, int32_t value, int width);
// Bits an entry would take, without adding it.
int32_t CostOf(const HuffCode codes[], int32_t value, int code, bool bucketed);

// Writes whole bytes; a partial byte is completed with zero bits by Flush().
struct BitWriter {
    uint8_t* out;
    int32_t capacity;
    int32_t pos = 0;
    uint64_t acc = 0;
    int count = 0;
    void Put(uint32_t value, int width);
    void Flush();
};

// One sub-packet over entries [first, last) of `list` with `bits` bits of payload; returns
// the bytes written (header included), or -1 when it would pass `capacity`.
int32_t WriteSubPacket(int type, const SymbolList& list, int32_t first, int32_t last, int32_t bits,
                       const HuffCode codes[], uint8_t* out, int32_t capacity);

// ---------------------------------------------------------------------------
// Component records
// ---------------------------------------------------------------------------

struct Component {
    int16_t bin;
    int16_t position;  // samples into the hop
    uint8_t amp[2];
    uint8_t state[2];  // high nibble: 0 absent, 1 present, 2 weaker peak, 3 dropped; low: phase
};
inline int StateOf(uint8_t s) {
    return s >> 4;
}
inline int PhaseOf(uint8_t s) {
    return s & 7;
}
inline bool Present(uint8_t s) {
    return StateOf(s) == 1 || StateOf(s) == 2;
}

inline constexpr int kComponentsPerRow = 2048;  // per list; the analysis stops adding beyond
inline constexpr int kSelectionCapacity = 2 * 5 * kComponentsPerRow;

struct ComponentList {
    Component* items = nullptr;
    int32_t count = 0;
};

// ---------------------------------------------------------------------------
// The encoder context
// ---------------------------------------------------------------------------

struct ScheduleEntry {
    int32_t position;
    int32_t step;
    int32_t order;
};

struct SelectionEntry {
    uint32_t key;
    int16_t row;
    int16_t channel;
    int32_t index;  // into the row's coded list
};

}  // namespace kvmc

struct KvmcEncoder {
    int32_t marker = 0;
    bool configured = false;

    // Stream and settings (configuration).
    int32_t channels = 0, rate = 0, bitRate = 0, flags = 0;
    int32_t n = 0, H = 0, N = 0;
    int32_t quality = 0;
    bool wideBand = false;
    int32_t bandLimit = 0;
    float floorFactor = 0.2f;
    float F1 = 0, F2 = 0;
    bool above12000 = false, above7999 = false;
    int32_t auxM = 14;
    float auxScale = 0;
    float bandTop = 1.0f, bandBottom = 0.0f, GA = 0, GB = 0;
    int32_t LA = 0, LB = 0;
    int32_t referenceCode = 4;
    int32_t rateClass = 0;
    int32_t P = 0;
    float refinedGain = 0;  // 1.1 with flag 0x40
    bool firstCall = true;
    int32_t parity = 0;
    int32_t packetType = 3;

    // History: per channel five hops of the residual.
    float* history[2] = {nullptr, nullptr};

    // Sub-block level grid: one row of 2^(n+6) levels per sub-block of H/16 samples, indexed by
    // the sub-block's start in the window / (H/16); 65 sub-blocks cover 0..4H.
    static constexpr int kGridRows = 96;
    float* grid = nullptr;  // kGridRows x 256
    int32_t subBlockPos = 0;
    float* subWindow = nullptr;  // 2^(n+7) points

    kvmc::ScheduleEntry schedule[10];

    // Per row: the list coded in this packet and the list of the next hop.
    kvmc::ComponentList current[5], next[5];

    // Threshold tables per row (flag 0x40: built at configuration).
    float* threshA[5] = {};
    float* threshB[5] = {};

    // Work buffers.
    float* fftIn = nullptr;               // 8192
    float* fftOut[2] = {};                // 8194 each
    float* mag[2] = {};                   // 4096 each
    float* prefix[2] = {};                // 4097 each: running sums of mag
    uint8_t* marks[2] = {};               // 4096 each
    uint32_t* candKeys = nullptr;         // kSelectionCapacity
    int32_t* candBins = nullptr;          // 4096
    int32_t* candTmp = nullptr;           // 2 x kSelectionCapacity
    kvmc::SelectionEntry* sel = nullptr;  // 2 x 5 x kComponentsPerRow
    kvmc::SelectionEntry* selTmp = nullptr;
    float* subband[2] = {};    // 32 bands x 128 samples per channel
    float* fbHistory[2] = {};  // 1024 each: the filter bank's 512 samples, kept twice
    int32_t fbPos = 0;
    float* auxBlock = nullptr;  // 512
    float* auxSpec = nullptr;   // 514
    int16_t* coef[2] = {};      // 30 x 128 per channel
    uint8_t* levels = nullptr;  // scratch for level data

    float* sine = nullptr;      // 16384: sin(2 pi i / 16384)
    float* cosTable = nullptr;  // 16384, auxiliary analyser
    float* auxTrig = nullptr;   // 12 x 256 x 2
    int32_t* guard = nullptr;   // 8204 bytes: 2051 words, [2048] = [2049] = 32, [2050] = 39303

    kvmc::HuffCode* codes = nullptr;
    kvmc::SymbolList lists[6];  // 0: type 15, 1: envelope 9, 2: tonal, 3..5: wide 10, 11, 12

    // Tonal list ranges recorded by the component coding: [0] header 13, [1..5] rows 4..0.
    int32_t rangeFirst[6] = {}, rangeLast[6] = {}, rangeBits[6] = {};
    int32_t envelopeRef[2][10] = {};  // reference amplitude code per envelope band and channel
    int32_t envelopeBands = 0;        // bands coded in sub-packet 9
    int32_t bandCount = 0;            // K of the rate class
    int32_t bandStart[11] = {};
    int32_t assemblyOverflows = 0;  // sub-packets that did not fit (never expected)
};

namespace kvmc {

// The process-wide noise table: 128 values in -1..1 from a linear congruential generator
// (state x 214013 + 2531011 from 0). Made once; every configuration would write the same values.
const float* NoiseTable();

float AmpValue(int code);
int32_t AmpCode(float x);
int32_t PhaseCode(float y, float x);
void AddEnvelope(KvmcEncoder& e, SymbolList& list, const int32_t lv[8]);

// Stages of one packet (Tonal.cpp, WideBand.cpp, Aux.cpp).
void SubBlockAnalysis(KvmcEncoder& e);
void RowAnalysis(KvmcEncoder& e, int row, int32_t position);
void BuildThresholds(KvmcEncoder& e, int row, float gain);
void FilterBank(KvmcEncoder& e);
void CodeTonal(KvmcEncoder& e, int32_t budget);
void CodeWideBand(KvmcEncoder& e, int32_t budget);
void AuxAnalysis(KvmcEncoder& e, bool buildList, int32_t budget);
void InitFilterBank();
int32_t MinimumBits(const KvmcEncoder& e);
// Configuration steps that touch no buffer: every scalar setting, the envelope bands, P.
// Returns 0, -2 or -3001 as kvmcConfigure does.
int32_t DeriveSettings(KvmcEncoder* e, KvmcStreamInfo* info, const KvmcParams* params);
// Coding class of coefficient group g at a quality level (34, 30, 24, 16, 10).
int32_t GroupClass(int quality, int g);
// Envelope band of bin k at row q.
int32_t EnvelopeBand(const KvmcEncoder& e, int q, int32_t k);
int32_t SubPacketCount(const KvmcEncoder& e);

// ---------------------------------------------------------------------------
// Decoder signal kernels (Synthesis.cpp)
// ---------------------------------------------------------------------------

inline constexpr int32_t kSineSize = 16384;     // points per turn of the sine table
inline constexpr int32_t kSubbandLength = 128;  // samples per subband and packet

// Eight-lane kernels where the processor has AVX (decided at start); they give the same
// results as the four-lane ones. Tests switch it to compare.
extern bool g_kvmcWide;

// Makes the kernels' process-wide tables (once), so that no decode call pays for them.
void MakeSynthesisTables();

// out[t] += amp sin(2 pi (index + indexStep t) / kSineSize) (pi/2) sin^2(pi t / length) for
// t < length, length a power of two from 128 to 8192.
void AddTone(float* out, int32_t length, float amp, uint32_t index, uint32_t indexStep);

// One packet of one channel through the 32-band synthesis filter bank: `bands` subbands of
// kSubbandLength samples (band k at sb + k kSubbandLength; the others are zero) give 32 x
// kSubbandLength samples at `out`. X is scratch of 32 x kSubbandLength; ring (1024) and
// vpos (a multiple of 64) carry the filter bank's state from packet to packet.
void SynthesisFilterBank(const float* sb, int32_t bands, float* X, float* ring, int32_t& vpos,
                         float* out);

}  // namespace kvmc
