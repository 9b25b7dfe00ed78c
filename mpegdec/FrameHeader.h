#pragma once
// Private: header tables and packing, shared by the decoder and the public helpers.
#include <cstdint>

#include "mpegdec/mpegdec.h"

namespace mpegdec {

int32_t SampleRate(int32_t id, int32_t rateIndex);
int32_t Bitrate(int32_t id, int32_t bitrateIndex);
// Bytes per frame without the padding byte; 0 for refused indices.
int32_t FrameLengthNoPadding(int32_t id, int32_t rateIndex, int32_t bitrateIndex);

inline MpegHeaderWord PackHeaderWord(MpegHeaderWord previous, uint32_t id, uint32_t layerCode,
                                     uint32_t protection, uint32_t bitrateIndex, uint32_t rateIndex,
                                     uint32_t padding, uint32_t privateBit, uint32_t mode,
                                     uint32_t modeExt, uint32_t copyright, uint32_t original,
                                     uint32_t emphasis) {
    constexpr uint32_t kFieldMask = 0x00F3FFFFu;  // bits 0-15 and 20-23
    uint32_t w = bitrateIndex | protection << 4 | layerCode << 5 | id << 7 | modeExt << 8 |
                 mode << 10 | privateBit << 12 | padding << 13 | rateIndex << 14 | emphasis << 20 |
                 original << 22 | copyright << 23;
    return (previous & ~kFieldMask) | (w & kFieldMask);
}

}  // namespace mpegdec
