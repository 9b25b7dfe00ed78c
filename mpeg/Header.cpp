// Header word helpers and the frame-size tables shared by the decoder and its callers.
#include "mpeg/Header.h"

namespace {

const int32_t kRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
const int32_t kRates25[3] = {11025, 12000, 8000};
const int32_t kBitrates[2][15] = {{0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000,
                                   96000, 112000, 128000, 144000, 160000},
                                  {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000,
                                   128000, 160000, 192000, 224000, 256000, 320000}};

}  // namespace

namespace mpeg {

int32_t SampleRate(int32_t id, int32_t rateIndex, bool mpeg25) {
    if (id < 0 || id > 1 || rateIndex < 0 || rateIndex > 2) return 0;
    if (mpeg25) return id == 0 ? kRates25[rateIndex] : 0;
    return kRates[id][rateIndex];
}

int32_t Bitrate(int32_t id, int32_t bitrateIndex) {
    if (id < 0 || id > 1 || bitrateIndex < 0 || bitrateIndex > 14) return 0;
    return kBitrates[id][bitrateIndex];
}

int32_t FrameLengthNoPadding(int32_t id, int32_t rateIndex, int32_t bitrateIndex, bool mpeg25) {
    const int32_t rate = SampleRate(id, rateIndex, mpeg25);
    const int32_t bitrate = Bitrate(id, bitrateIndex);
    if (rate == 0 || bitrate == 0) return 0;
    return int32_t((id == 1 ? 144LL : 72LL) * bitrate / rate);
}

}  // namespace mpeg

int32_t mpegHeaderSampleRate(MpegHeaderWord w) {
    return mpeg::SampleRate(mpegHeaderId(w), mpegHeaderRateIndex(w), mpegHeaderIsMpeg25(w) != 0);
}

int32_t mpegHeaderBitrate(MpegHeaderWord w) {
    return mpeg::Bitrate(mpegHeaderId(w), mpegHeaderBitrateIndex(w));
}

int32_t mpegHeaderFrameBytes(MpegHeaderWord w) {
    const int32_t n = mpeg::FrameLengthNoPadding(mpegHeaderId(w), mpegHeaderRateIndex(w),
                                                 mpegHeaderBitrateIndex(w), mpegHeaderIsMpeg25(w));
    return n == 0 ? 0 : n + mpegHeaderPadding(w);
}

int32_t mpegHeaderSamplesPerFrame(MpegHeaderWord w) {
    return mpegHeaderId(w) ? 1152 : 576;
}

MpegHeaderWord mpegHeaderFromStream(uint32_t s, MpegHeaderWord previous) {
    // Stream order after the 11-bit sync: the MPEG-2.5 bit (clear for 2.5), ID, layer 2,
    // protection, bitrate 4, rate 2, padding, private, mode 2, mode ext 2, copyright, original,
    // emphasis 2.
    const uint32_t id = (s >> 19) & 1, layer = (s >> 17) & 3, prot = (s >> 16) & 1;
    const uint32_t br = (s >> 12) & 15, sr = (s >> 10) & 3, pad = (s >> 9) & 1;
    const uint32_t priv = (s >> 8) & 1, mode = (s >> 6) & 3, ext = (s >> 4) & 3;
    const uint32_t copy = (s >> 3) & 1, orig = (s >> 2) & 1, emph = s & 3;
    const uint32_t mpeg25 = ((s >> 20) & 1) == 0 ? 1 : 0;
    return mpeg::PackHeaderWord(previous, id, layer, prot, br, sr, pad, priv, mode, ext, copy, orig,
                                emph, mpeg25);
}
