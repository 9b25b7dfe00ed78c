#pragma once
// Private: the encoder context and the stages that work on it.
#include <cstdint>

#include "mp3enc/mp3enc.h"

namespace mp3enc {

constexpr int32_t kLines = 576;  // lines (or samples) per granule and channel
constexpr int32_t kMaxChannels = 2;
constexpr int32_t kModelChannels = 4;  // left, right, mid, side
constexpr int32_t kLongBands = 21;     // scale-factor bands with a scale factor
constexpr int32_t kShortBands = 12;
constexpr uint32_t kContextMarker = 41094;   // 0xA086
constexpr uint32_t kAnalysisMarker = 39303;  // 0x9987

// Analysis filterbank state: a separate block, as its marker says.
struct AnalysisState {
    uint32_t marker;
    int32_t offset[kMaxChannels];    // ring offset, a multiple of 32
    float ring[kMaxChannels][1024];  // 512 values stored twice
};

struct ScaleFactors {
    int32_t l[22];
    int32_t s[13][3];
};

// The side information of one granule and channel, with the encoder's own bookkeeping.
struct GranuleInfo {
    int32_t part2_3_length, big_values, global_gain, scalefac_compress;
    int32_t window_switching_flag, block_type, mixed_block_flag;
    int32_t table_select[3], subblock_gain[3], region0_count, region1_count;
    int32_t preflag, scalefac_scale, count1table_select;
    // encoder only
    int32_t part2_length;  // scale-factor bits
    int32_t count1End;     // lines [2 * big_values, count1End) are the count1 quadruples
    int32_t slen[4];       // LSF: scale-factor lengths per partition
    int32_t lsfRow;        // LSF: partition row used
    double quantizerStep;
};

// What the psychoacoustic model (or the fast defaults) hands to the loops.
struct ModelResult {
    int32_t blockType;
    double pe;
    double ratioL[kLongBands];
    double ratioS[kShortBands][3];
};

struct ModelChannel {
    int32_t oldBlockType;
    float mag[2][513];             // magnitudes of the two previous long spectra
    float re[2][207], im[2][207];  // their unit phasors on the predicted lines
    double nb1[72], nb2[72];       // thresholds of the two previous granules per partition
    double lastHi;                 // upper-band energy of the previous granule's last short window
    ModelResult pending;           // results for the granule that is coded next
};

struct QueuedFrame {
    int32_t frameBytes;   // header + side information + main data slots
    int32_t headerBytes;  // header + side information
    int64_t mainStart;    // main-data stream position of the frame's first slot
    uint8_t header[40];
};

}  // namespace mp3enc

struct Mp3EncContext {
    uint32_t openMarker;  // 1 while open
    int32_t fast;
    uint8_t options[kMp3EncOptionBytes];
    int32_t inputChannels;  // 1 or 2 from option byte 4
    int32_t decimate;
    int32_t paddingPolicy;
    int32_t ancillaryEnabled;
    Mp3WriteCallback write;
    void* user;
    int32_t writeFailed;

    // stream parameters
    MpegHeaderWord header;
    int32_t id, rateIndex, bitrateIndex, mode, modeExt;
    int32_t channels, granules, sampleRate, bitrate, rateRow;
    int32_t samplesPerFrame;         // per channel, after decimation
    int32_t lowpassSubband;          // first attenuated subband
    float lineGain[mp3enc::kLines];  // the low-pass over the long-block lines (1 below it)
    int32_t wholeSlots;
    double fracSlots, slotLag;
    int32_t padding;
    int32_t bitsPerFrame, sideInfoBits, meanBits;
    int32_t resvSize, resvMax;
    // Variable bit rate: each frame takes the smallest rate whose quantisation meets the mask.
    int32_t vbr;
    int32_t vbrQuality;
    double vbrMaskScale;  // allowed noise against the model's, for the chosen quality
    int32_t vbrMinIndex;  // smallest bit-rate index a frame may take

    mp3enc::AnalysisState* analysis;

    // Input history per channel, newest last: left and right in high quality, where mid and
    // side are chosen per frame from the MDCT lines; the coded channels in fast mode.
    static constexpr int32_t kHistory = 1024;
    float input[mp3enc::kMaxChannels][kHistory + 1152];
    float decimHistory[mp3enc::kMaxChannels][64];

    // subband samples: [channel][granule parity][time slot][subband]; the MDCT of a granule
    // overlaps the previous one
    float subband[mp3enc::kMaxChannels][2][18][32];
    int32_t subbandParity;
    float xr[2][mp3enc::kMaxChannels][mp3enc::kLines];  // MDCT lines per granule and channel
    int32_t ix[2][mp3enc::kMaxChannels]
              [mp3enc::kLines];  // quantised magnitudes (signs are those of xr)
    mp3enc::GranuleInfo gi[2][mp3enc::kMaxChannels];
    // The step each channel was last coded at (0x7FFF none yet): where the next search starts.
    int32_t lastStep[mp3enc::kMaxChannels];
    mp3enc::ScaleFactors sf[2][mp3enc::kMaxChannels];
    int32_t scfsi[mp3enc::kMaxChannels][4];
    // Model results per granule: the coded channels first; in joint stereo (high quality) the
    // model's left, right, mid and side, until ChooseStereo leaves the coded pair in 0 and 1.
    mp3enc::ModelResult result[2][mp3enc::kModelChannels];
    mp3enc::ModelChannel model[mp3enc::kModelChannels];

    // frame formatter
    static constexpr int32_t kQueue = 64;
    mp3enc::QueuedFrame queue[kQueue];
    int32_t queueHead, queueCount;
    int64_t slotsTotal;   // main-data slots of every frame formatted so far
    int64_t mainWritten;  // main-data bytes produced so far
    static constexpr int32_t kMainRing = 8192;
    uint8_t mainRing[kMainRing];
    uint64_t mainAcc;  // bit accumulator of the main data
    int32_t mainAccBits;
    uint8_t out[4096];
    int32_t outFill;
    int64_t bitsWritten;
    int32_t lastMainDataBegin;  // of the frame formatted last (bytes)
    int32_t formatErrors;       // granules or frames whose bits disagree with the accounts (never)

    uint32_t marker;
};

namespace mp3enc {

// Psy.cpp: codes the frame as mid/side (mode extension 2) or left/right (0), whichever the
// model expects to be cheaper at the noise left and right allow; converts the lines and the
// masking ratios of the coded pair accordingly. High-quality joint stereo only.
void ChooseStereo(Mp3EncContext& c);

// Filterbank.cpp
void AnalyseGranule(Mp3EncContext& c, int32_t ch, const float* pcm, float (*out)[32]);
void Mdct(const float (*prev)[32], const float (*cur)[32], int32_t blockType, float* xr);

// Psy.cpp: hands the results computed one granule ago to c.result[gr] (with the block type
// decided now) and analyses the next granule, whose filterbank input starts one granule
// after input position `at`.
void RunModel(Mp3EncContext& c, int32_t gr, int32_t at);
void ResetModel(Mp3EncContext& c);
// Builds the rate's model tables and the FFT tables; false when they cannot be allocated.
bool PrepareModel(int32_t rateRow);

// Loops.cpp: codes every granule and channel of the frame; returns the stuffing bits and the
// frame's main_data_begin (bytes).
void IterateFrame(Mp3EncContext& c, int32_t ancillaryBits, int32_t* stuffingBits,
                  int32_t* mainDataBegin);
// The variable-rate counterpart: also picks the frame's bit-rate index (c.bitrateIndex,
// c.wholeSlots, c.bitsPerFrame); the frame is never padded.
void IterateFrameVbr(Mp3EncContext& c, int32_t* stuffingBits, int32_t* mainDataBegin);

// Formatter.cpp: queues the frame's header and side information, appends its main data and
// writes every frame whose slots are complete. Returns 0, -22 or -23.
int32_t FormatFrame(Mp3EncContext& c, const uint8_t* ancillary, int32_t ancillaryBytes,
                    int32_t stuffingBits, int32_t mainDataBegin);
// Completes the queued frames with zero bytes and writes everything out. Returns 0 or -22.
int32_t FlushAll(Mp3EncContext& c);

}  // namespace mp3enc
