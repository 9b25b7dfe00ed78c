// Encoder context, open and close, and the per-frame pipeline.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dsp/dsp.h"
#include "mp3enc/Context.h"
#include "mp3enc/Tables.h"
#include "mpeg/Tables.h"

using namespace mp3enc;  // NOLINT: the pipeline stages

namespace {

constexpr int kDecimTaps = 63;  // odd, symmetric low-pass for decimation by 2
// Allowed noise against the model's threshold (dB) per VBR quality, set so that file sizes on
// music follow the familiar 0-9 scale (2 about 190 kbit/s).
constexpr double kVbrMaskDb[10] = {-12.5, -7.5, -5, -2.5, 0, 2.5, 5.5, 7, 8.5, 10};

struct DecimFilter {
    float h[kDecimTaps];
    DecimFilter() {
        // Windowed sinc, cut-off at 0.45 of the output rate (0.225 of the input rate),
        // Blackman window: about 75 dB of stop-band attenuation above the output Nyquist.
        const double pi = 3.14159265358979323846;
        const double fc = 0.225;
        const int m = kDecimTaps - 1;
        double sum = 0;
        for (int i = 0; i < kDecimTaps; ++i) {
            const double n = i - m / 2.0;
            const double sinc = n == 0 ? 2 * fc : std::sin(2 * pi * fc * n) / (pi * n);
            const double w =
                0.42 - 0.5 * std::cos(2 * pi * i / m) + 0.08 * std::cos(4 * pi * i / m);
            h[i] = float(sinc * w);
            sum += sinc * w;
        }
        for (float& v : h) v = float(v / sum);
    }
};

const DecimFilter& Decim() {
    static const DecimFilter f;
    return f;
}

int32_t RateRow(int32_t rate) {
    switch (rate) {
        case 32000:
            return 0;
        case 44100:
            return 1;
        case 48000:
            return 2;
        case 16000:
            return 3;
        case 22050:
            return 4;
        case 24000:
            return 5;
        default:
            return -1;
    }
}

bool Valid(const Mp3EncContext* c) {
    return c && c->marker == kContextMarker;
}

// Moves the input history left by n samples per channel.
void ShiftInput(Mp3EncContext& c, int n, int buffers) {
    const int total = Mp3EncContext::kHistory + 1152;
    for (int b = 0; b < buffers; ++b)
        std::memmove(c.input[b], c.input[b] + n, sizeof(float) * size_t(total - n));
}

// Reads one channel of the interleaved block (decimated when asked) into dst[0..n).
void ReadChannel(Mp3EncContext& c, const Mp3PcmBlock& pcm, int ch, int n, float* dst) {
    const int stride = pcm.channels;
    const int src = ch < pcm.channels ? ch : 0;
    if (!c.decimate) {
        for (int i = 0; i < n; ++i) dst[i] = pcm.samples[i * stride + src];
        return;
    }
    const float* h = Decim().h;
    float* hist = c.decimHistory[ch];
    // hist holds the last kDecimTaps - 1 input samples before this block.
    for (int i = 0; i < n; ++i) {
        float acc = 0;
        const int end = 2 * i;  // newest input sample index used
        for (int k = 0; k < kDecimTaps; ++k) {
            const int idx = end - k;
            const float x =
                idx >= 0 ? float(pcm.samples[idx * stride + src]) : hist[kDecimTaps - 1 + idx];
            acc += h[k] * x;
        }
        dst[i] = acc;
    }
    const int inCount = 2 * n;
    for (int k = 0; k < kDecimTaps - 1; ++k) {
        const int idx = inCount - (kDecimTaps - 1) + k;
        hist[k] = idx >= 0 ? float(pcm.samples[idx * stride + src]) : hist[k + inCount];
    }
}

// Short-block lines from the MDCT's subband layout (sb * 18 + 3k + window) into the order of
// the bitstream: band by band, window by window, frequency within the window.
void ReorderShort(const Mp3EncContext& c, float* xr) {
    float tmp[kLines];
    std::memcpy(tmp, xr, sizeof tmp);
    const mpeg::BandTable& t = mpeg::kBands[c.id][c.rateIndex];
    for (int b = 0; b < 13; ++b) {
        const int s = t.s[b], n = t.s[b + 1] - t.s[b];
        for (int w = 0; w < 3; ++w)
            for (int f = 0; f < n; ++f) xr[3 * s + w * n + f] = tmp[3 * (s + f) + w];
    }
}

// Content near the top of the band costs bits that the lines listeners hear miss; the cut-off
// rises with the bits per sample of each channel (joint stereo's side channel takes few, so a
// stereo stream counts as one and a half channels).
double LowpassHz(double bits) {
    static const double kPoints[][2] = {
        {1.0, 13000}, {1.9, 17000}, {2.9, 18700}, {3.9, 19700}, {4.8, 20500}};
    double hz = kPoints[0][1] * std::max(bits, 0.5) / kPoints[0][0];
    for (int k = 0; k < 5; ++k) {
        if (bits < kPoints[k][0]) break;
        hz = kPoints[k][1];
        if (k < 4 && bits < kPoints[k + 1][0])
            hz += (kPoints[k + 1][1] - hz) * (bits - kPoints[k][0]) /
                  (kPoints[k + 1][0] - kPoints[k][0]);
    }
    return hz;
}

// A raised-cosine roll-off over the last kilohertz below `hz`.
void SetLowpass(Mp3EncContext& c, double hz) {
    const double lineHz = c.sampleRate / 2.0 / kLines;
    const double top = hz / lineHz, width = 1000.0 / lineHz, pi = 3.14159265358979323846;
    for (int i = 0; i < kLines; ++i) {
        const double f = i + 0.5;
        double g = 1;
        if (f >= top)
            g = 0;
        else if (f > top - width)
            g = 0.5 + 0.5 * std::cos(pi * (f - (top - width)) / width);
        c.lineGain[i] = float(g);
    }
}

// Applies the low-pass to a granule's lines, in the MDCT's layout (short blocks: subband,
// frequency within it, window).
void Lowpass(const Mp3EncContext& c, int blockType, float* xr) {
    if (c.lineGain[kLines - 1] == 1) return;
    if (blockType != 2) {
        for (int i = 0; i < kLines; ++i) xr[i] *= c.lineGain[i];
        return;
    }
    for (int i = 0; i < kLines; ++i) xr[i] *= c.lineGain[3 * ((i / 18) * 6 + (i % 18) / 3) + 1];
}

}  // namespace

const char* mp3EncStatusText(int32_t status) {
    switch (status) {
        case kMp3EncOk:
            return "success";
        case kMp3EncBadLayer:
            return "not Layer III";
        case kMp3EncBadBitrate:
            return "bitrate index not usable";
        case kMp3EncBadSampleRate:
            return "sampling rate not supported";
        case kMp3EncBadEmphasis:
            return "reserved emphasis";
        case kMp3EncBadDecimation:
            return "decimation not possible for this stream";
        case kMp3EncBadLayout:
            return "input channel layout not valid";
        case kMp3EncNoContextMemory:
            return "encoder context not allocated";
        case kMp3EncBadHandle:
            return "bad handle";
        case kMp3EncBadAnalysisState:
            return "analysis state not allocated or damaged";
        case kMp3EncNotOpen:
            return "encoder not open";
        case kMp3EncBadPcmBlock:
            return "PCM block does not hold one frame";
        case kMp3EncWriteFailed:
            return "output not accepted by the write callback";
        case kMp3EncQueueFull:
            return "frame queue full";
        case kMp3EncBadFastFlag:
            return "fast flag not 0 or 1";
        default:
            return "unknown status";
    }
}

int32_t mp3EncOpen(Mp3WriteCallback write, void* user, MpegHeaderWord header,
                   const uint8_t options[kMp3EncOptionBytes], int32_t* samplesPerFrame,
                   int32_t fast, Mp3EncHandle* handle) {
    if (handle) *handle = nullptr;
    const int32_t id = mpegHeaderId(header);
    if (mpegHeaderRateIndex(header) == 3) return kMp3EncBadSampleRate;
    if (mpegHeaderLayerCode(header) != 1) return kMp3EncBadLayer;
    const int32_t bi = mpegHeaderBitrateIndex(header);
    if (bi == 15 || bi == 0) return kMp3EncBadBitrate;
    if (fast != 0 && fast != 1) return kMp3EncBadFastFlag;
    if (mpegHeaderEmphasis(header) == 2) return kMp3EncBadEmphasis;
    if (!write || !options || !samplesPerFrame || !handle) return kMp3EncBadHandle;
    if (options[5] > 1 || (options[5] == 1 && id == 1)) return kMp3EncBadDecimation;
    const int32_t rate = mpeg::SampleRate(id, mpegHeaderRateIndex(header));
    const int32_t row = RateRow(rate);
    if (row < 0) return kMp3EncBadSampleRate;

    auto* analysis = static_cast<AnalysisState*>(std::calloc(1, sizeof(AnalysisState)));
    if (!analysis) return kMp3EncBadAnalysisState;
    const bool one = options[4] & 0x40, two = options[4] & 0x80;
    if (one == two) {
        std::free(analysis);
        return kMp3EncBadLayout;
    }
    auto* c = static_cast<Mp3EncContext*>(std::calloc(1, sizeof(Mp3EncContext)));
    if (!c || (!fast && !PrepareModel(row))) {
        std::free(c);
        std::free(analysis);
        return kMp3EncNoContextMemory;
    }
    analysis->marker = kAnalysisMarker;
    analysis->offset[0] = analysis->offset[1] = 32;
    c->analysis = analysis;
    c->openMarker = 1;
    c->fast = fast;
    std::memcpy(c->options, options, kMp3EncOptionBytes);
    c->inputChannels = one ? 1 : 2;
    c->decimate = options[5];
    c->paddingPolicy = options[6];
    c->ancillaryEnabled = options[2] == 5;
    c->write = write;
    c->user = user;

    c->header = header;
    c->id = id;
    c->rateIndex = mpegHeaderRateIndex(header);
    c->bitrateIndex = bi;
    c->mode = mpegHeaderMode(header);
    c->modeExt = c->mode == 1 ? 2 : 0;  // joint stereo is coded as mid/side only
    c->channels = c->mode == 3 ? 1 : 2;
    c->granules = id == 1 ? 2 : 1;
    c->sampleRate = rate;
    c->bitrate = mpeg::Bitrate(id, bi);
    c->rateRow = row;
    c->samplesPerFrame = 576 * c->granules;
    // Exact in integers: samples x bytes per second / rate.
    const int64_t slotsTimesRate = int64_t(c->samplesPerFrame) * (c->bitrate / 8);
    c->wholeSlots = int32_t(slotsTimesRate / rate);
    c->fracSlots = double(slotsTimesRate % rate) / rate;
    c->slotLag = -c->fracSlots;
    const double bitsPerSample = double(c->bitrate) / (c->channels * rate);
    c->lowpassSubband = std::min(32, int32_t(22 * bitsPerSample + 0.5));
    const double stereoShare = c->channels == 2 ? 1.5 : 1.0;
    SetLowpass(*c, LowpassHz(c->bitrate / (rate * stereoShare)));
    const int32_t side = id == 1 ? (c->channels == 1 ? 136 : 256) : (c->channels == 1 ? 72 : 136);
    c->sideInfoBits = 32 + side;
    c->lastStep[0] = c->lastStep[1] = kNoStep;
    if (!fast) ResetModel(*c);
    c->marker = kContextMarker;
    *samplesPerFrame = c->samplesPerFrame * (c->decimate ? 2 : 1);
    *handle = c;
    return kMp3EncOk;
}

int32_t mp3EncEncodeFrame(Mp3EncConfig* config, const Mp3PcmBlock* pcm,
                          const Mp3AncillaryBlock* ancillary, Mp3EncHandle handle) {
    if (!Valid(handle)) return kMp3EncBadHandle;
    Mp3EncContext& c = *handle;
    if (c.openMarker != 1) return kMp3EncNotOpen;
    if (!c.analysis || c.analysis->marker != kAnalysisMarker) return kMp3EncBadAnalysisState;
    if (c.writeFailed) return kMp3EncWriteFailed;
    const int32_t inputSamples = c.samplesPerFrame * (c.decimate ? 2 : 1);
    if (!pcm || !pcm->samples || pcm->channels != c.inputChannels ||
        pcm->samplesPerChannel != inputSamples)
        return kMp3EncBadPcmBlock;

    // 1. Input into the channel buffers.
    const int n = c.samplesPerFrame;
    const bool joint = c.mode == 1;
    ShiftInput(c, n, c.channels);
    const int at0 = Mp3EncContext::kHistory + 1152 - n;
    float* l = c.input[0] + at0;
    float* r = c.input[1] + at0;
    ReadChannel(c, *pcm, 0, n, l);
    if (c.channels == 2) ReadChannel(c, *pcm, 1, n, r);
    if (joint && c.fast) {
        for (int i = 0; i < n; ++i) {
            const int32_t a = int32_t(std::lrint(l[i])), b = int32_t(std::lrint(r[i]));
            l[i] = float((a + b) >> 1);
            r[i] = float((a - b) >> 1);
        }
    }

    // 2. Padding (a variable-rate frame is never padded).
    if (c.vbr) {
        c.padding = 0;
    } else if (c.paddingPolicy == 1) {
        c.padding = 0;
    } else if (c.paddingPolicy == 2) {
        c.padding = 1;
    } else if (c.fracSlots != 0) {
        if (c.fracSlots - 1 >= c.slotLag) {
            c.padding = 1;
            c.slotLag += 1 - c.fracSlots;
        } else {
            c.padding = 0;
            c.slotLag -= c.fracSlots;
        }
    } else {
        c.padding = 0;
    }

    // 3. Bit budget.
    c.bitsPerFrame = 8 * (c.wholeSlots + c.padding);
    int32_t ancBytes = 0;
    if (!c.vbr && c.ancillaryEnabled && ancillary && ancillary->bytes && ancillary->byteCount > 0)
        ancBytes = std::min(ancillary->byteCount, (c.bitsPerFrame - c.sideInfoBits) / 16);
    c.meanBits = (c.bitsPerFrame - c.sideInfoBits - 8 * ancBytes) / c.granules;

    // 4-7. Model, filterbank, low-pass and MDCT per granule.
    const int total = Mp3EncContext::kHistory + 1152;
    for (int gr = 0; gr < c.granules; ++gr) {
        const int at = total - n - 576 + 576 * gr;
        if (!c.fast) {
            RunModel(c, gr, at);
        } else {
            for (int ch = 0; ch < c.channels; ++ch) {
                ModelResult& res = c.result[gr][ch];
                res.blockType = 0;
                res.pe = 700;
                std::memset(res.ratioL, 0, sizeof res.ratioL);
                std::memset(res.ratioS, 0, sizeof res.ratioS);
            }
        }
        const int cur = c.subbandParity ^ 1;
        for (int ch = 0; ch < c.channels; ++ch) {
            AnalyseGranule(c, ch, c.input[ch] + at, c.subband[ch][cur]);
            if (c.lowpassSubband < 32)
                for (int t = 0; t < 18; ++t)
                    for (int sb = c.lowpassSubband; sb < 32; ++sb)
                        c.subband[ch][cur][t][sb] *= 0.001f;
            GranuleInfo& gi = c.gi[gr][ch];
            gi.block_type = c.result[gr][ch].blockType;
            gi.window_switching_flag = gi.block_type != 0;
            gi.mixed_block_flag = 0;
            Mdct(c.subband[ch][cur ^ 1], c.subband[ch][cur], gi.block_type, c.xr[gr][ch]);
            Lowpass(c, gi.block_type, c.xr[gr][ch]);
            if (gi.block_type == 2) ReorderShort(c, c.xr[gr][ch]);
        }
        c.subbandParity = cur;
    }

    // 8. Mid/side: (left +- right) / sqrt 2 from the halved sums (fast) or chosen per frame.
    // The lines are not limited to -1..1 afterwards: loud correlated channels reach about 1.8
    // here, and clipping them there would wreck the signal.
    if (joint && c.fast)
        for (int gr = 0; gr < c.granules; ++gr)
            for (int ch = 0; ch < 2; ++ch) dspsbMpy1(1.4142137f, c.xr[gr][ch], kLines);
    else if (joint)
        ChooseStereo(c);

    // 9-10. Loops, formatting.
    int32_t stuffing = 0, mainDataBegin = 0;
    if (c.vbr)
        IterateFrameVbr(c, &stuffing, &mainDataBegin);
    else
        IterateFrame(c, 8 * ancBytes, &stuffing, &mainDataBegin);
    const int32_t status =
        FormatFrame(c, ancBytes ? ancillary->bytes : nullptr, ancBytes, stuffing, mainDataBegin);
    if (config) {
        config->header = mpeg::PackHeaderWord(
            c.header, uint32_t(c.id), 1, 1, uint32_t(c.bitrateIndex), uint32_t(c.rateIndex),
            uint32_t(c.padding), (c.header >> 12) & 1u, uint32_t(c.mode), uint32_t(c.modeExt),
            (c.header >> 23) & 1u, (c.header >> 22) & 1u, (c.header >> 20) & 3u);
    }
    return status;
}

int32_t mp3EncSetVbr(Mp3EncHandle handle, int32_t quality) {
    if (!Valid(handle)) return kMp3EncBadHandle;
    Mp3EncContext& c = *handle;
    if (c.openMarker != 1) return kMp3EncNotOpen;
    if (c.fast) return kMp3EncBadFastFlag;
    if (quality < 0 || quality > 9) return kMp3EncBadBitrate;
    c.vbr = 1;
    c.vbrQuality = quality;
    c.vbrMaskScale = std::pow(10.0, kVbrMaskDb[quality] / 10);
    c.vbrMinIndex = 1;
    // The low-pass of the constant rate the quality comes to on stereo music.
    static const int32_t kVbrTypicalKbps[10] = {245, 225, 190, 175, 165, 130, 115, 100, 85, 65};
    SetLowpass(c, LowpassHz(kVbrTypicalKbps[quality] * 1000.0 / (44100 * 1.5)));
    return kMp3EncOk;
}

int32_t mp3EncClose(Mp3EncHandle* handle) {
    if (!handle || !Valid(*handle)) return kMp3EncBadHandle;
    Mp3EncContext* c = *handle;
    if (c->openMarker != 1) return kMp3EncNotOpen;
    if (!c->analysis || c->analysis->marker != kAnalysisMarker) return kMp3EncBadAnalysisState;
    const int32_t status = FlushAll(*c);
    c->analysis->marker = 0;
    std::free(c->analysis);
    c->marker = 0;
    c->openMarker = 0;
    std::free(c);
    *handle = nullptr;
    return status;
}
