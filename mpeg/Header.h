#pragma once
// The MPEG audio frame header, its rate tables and frame sizes: what the decoder, the stream
// scanners and the encoder share.
#include <cstdint>

// The frame header packed into one word. Filled by every successful header parse; bits not
// listed keep whatever the caller left in them.
//   bits 0-3   bitrate index (1..14)
//   bit  4     protection bit as in the stream (0 = a 16-bit CRC follows the header)
//   bits 5-6   layer code as in the stream (1 = Layer III, 2 = Layer II, 3 = Layer I)
//   bit  7     ID (1 = MPEG-1, 0 = MPEG-2 LSF)
//   bits 8-9   mode extension
//   bits 10-11 mode (0 stereo, 1 joint stereo, 2 dual channel, 3 single channel)
//   bit  12    private bit
//   bit  13    padding bit
//   bits 14-15 sampling-rate index (0..2)
//   bit  16    MPEG-2.5 (the sync word's last bit clear; ID is then 0)
//   bits 20-21 emphasis
//   bit  22    original bit
//   bit  23    copyright bit
typedef uint32_t MpegHeaderWord;

// Field helpers for a header word filled by the decoder (or packed the same way by a caller).
inline int32_t mpegHeaderBitrateIndex(MpegHeaderWord w) {
    return int32_t(w & 15u);
}
inline int32_t mpegHeaderId(MpegHeaderWord w) {
    return int32_t((w >> 7) & 1u);
}
inline int32_t mpegHeaderLayerCode(MpegHeaderWord w) {
    return int32_t((w >> 5) & 3u);
}
inline int32_t mpegHeaderHasCrc(MpegHeaderWord w) {
    return ((w >> 4) & 1u) == 0 ? 1 : 0;
}
inline int32_t mpegHeaderModeExt(MpegHeaderWord w) {
    return int32_t((w >> 8) & 3u);
}
inline int32_t mpegHeaderMode(MpegHeaderWord w) {
    return int32_t((w >> 10) & 3u);
}
inline int32_t mpegHeaderPadding(MpegHeaderWord w) {
    return int32_t((w >> 13) & 1u);
}
inline int32_t mpegHeaderRateIndex(MpegHeaderWord w) {
    return int32_t((w >> 14) & 3u);
}
inline int32_t mpegHeaderEmphasis(MpegHeaderWord w) {
    return int32_t((w >> 20) & 3u);
}
inline int32_t mpegHeaderIsMpeg25(MpegHeaderWord w) {
    return int32_t((w >> 16) & 1u);
}
inline int32_t mpegHeaderChannels(MpegHeaderWord w) {
    return mpegHeaderMode(w) == 3 ? 1 : 2;
}

// Sampling rate in Hz, 0 for a reserved index.
int32_t mpegHeaderSampleRate(MpegHeaderWord w);
// Layer III bitrate in bit/s, 0 for index 0 or 15.
int32_t mpegHeaderBitrate(MpegHeaderWord w);
// Layer III frame length in bytes including the padding byte; 0 when not computable (free
// format included: its length is only known from where the next header lies).
int32_t mpegHeaderFrameBytes(MpegHeaderWord w);
// 1152 (MPEG-1) or 576 (LSF).
int32_t mpegHeaderSamplesPerFrame(MpegHeaderWord w);
// Packs the 32 stream bits of a frame header (sync word in the top 12 bits) into a header word
// the way the decoder fills it; `previous` supplies the bits that are not header fields.
MpegHeaderWord mpegHeaderFromStream(uint32_t streamBits, MpegHeaderWord previous);

namespace mpeg {

// id 1 = MPEG-1, 0 = LSF (MPEG-2, or MPEG-2.5 when `mpeg25`). 0 for out-of-range indices.
int32_t SampleRate(int32_t id, int32_t rateIndex, bool mpeg25 = false);
int32_t Bitrate(int32_t id, int32_t bitrateIndex);
// Bytes per frame without the padding byte; 0 for refused indices.
int32_t FrameLengthNoPadding(int32_t id, int32_t rateIndex, int32_t bitrateIndex,
                             bool mpeg25 = false);
// Bytes of Layer III side information after the header (and its CRC).
inline int32_t SideInfoBytes(int32_t id, int32_t channels) {
    return id == 1 ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
}
// The first bytes hold an 11-bit frame sync and a version that is not reserved (MPEG-1, -2 or
// -2.5); nothing else is judged.
inline bool IsMpegAudioSync(const uint8_t b[2]) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && (b[1] & 0x18) != 0x08;
}
// The same, and Layer III.
inline bool IsLayer3Sync(const uint8_t b[4]) {
    return IsMpegAudioSync(b) && (b[1] & 0x06) == 0x02;
}
inline uint32_t StreamBits(const uint8_t b[4]) {
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

inline MpegHeaderWord PackHeaderWord(MpegHeaderWord previous, uint32_t id, uint32_t layerCode,
                                     uint32_t protection, uint32_t bitrateIndex, uint32_t rateIndex,
                                     uint32_t padding, uint32_t privateBit, uint32_t mode,
                                     uint32_t modeExt, uint32_t copyright, uint32_t original,
                                     uint32_t emphasis, uint32_t mpeg25 = 0) {
    constexpr uint32_t kFieldMask = 0x00F3FFFFu | 1u << 16;  // bits 0-16 and 20-23
    uint32_t w = (mpeg25 & 1u) << 16 | bitrateIndex | protection << 4 | layerCode << 5 | id << 7 |
                 modeExt << 8 | mode << 10 | privateBit << 12 | padding << 13 | rateIndex << 14 |
                 emphasis << 20 | original << 22 | copyright << 23;
    return (previous & ~kFieldMask) | (w & kFieldMask);
}

}  // namespace mpeg
