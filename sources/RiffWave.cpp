#include "sources/RiffWave.h"

#include <cstring>

namespace tunara {
namespace {

uint16_t Field16(const uint8_t* bytes, size_t size, size_t at) {
    if (at + 2 > size) return 0;
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Field32(const uint8_t* bytes, size_t size, size_t at) {
    if (at + 4 > size) return 0;
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The sub-format GUID of extensible PCM: the tag in the first two bytes, then
// the fixed tail shared by every format-tag GUID.
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr size_t kSubFormatOffset = 24;  // 18-byte record, valid bits, channel mask

}  // namespace

WaveFormatRecord DecodeWaveFormat(const uint8_t* bytes, size_t size) {
    WaveFormatRecord f;
    f.formatTag = Field16(bytes, size, 0);
    f.channels = Field16(bytes, size, 2);
    f.sampleRate = Field32(bytes, size, 4);
    f.averageBytesPerSecond = Field32(bytes, size, 8);
    f.blockAlign = Field16(bytes, size, 12);
    f.bitsPerSample = Field16(bytes, size, 14);
    f.extraSize = Field16(bytes, size, 16);
    return f;
}

uint16_t WaveSubFormat(const uint8_t* bytes, size_t size) {
    const uint16_t tag = Field16(bytes, size, 0);
    if (tag != kWaveFormatExtensible) return tag;
    // Without its 22-byte extension an extensible record names no sub-format.
    if (size < kSubFormatOffset + 16 || Field16(bytes, size, 16) < 22) return 0;
    if (std::memcmp(bytes + kSubFormatOffset + 2, kGuidTail, sizeof kGuidTail) != 0) return 0;
    return Field16(bytes, size, kSubFormatOffset);
}

bool IsIntegerPcm(const uint8_t* bytes, size_t size) {
    return WaveSubFormat(bytes, size) == kWaveFormatPcm;
}

bool IsFloatPcm(const uint8_t* bytes, size_t size) {
    return WaveSubFormat(bytes, size) == kWaveFormatFloat;
}

uint32_t WaveChannelMask(const uint8_t* bytes, size_t size) {
    if (Field16(bytes, size, 0) != kWaveFormatExtensible || Field16(bytes, size, 16) < 22) return 0;
    return Field32(bytes, size, 20);
}

int PlayableFloatBits(const WaveFormatRecord& format) {
    if (format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) return 0;
    if (format.blockAlign % format.channels != 0) return 0;
    const int containerBytes = format.blockAlign / format.channels;
    if (containerBytes != 4 && containerBytes != 8) return 0;
    if (format.bitsPerSample != 0 && format.bitsPerSample != containerBytes * 8) return 0;
    return containerBytes * 8;
}

bool LooksLikeWave(const uint8_t* bytes, size_t size) {
    if (size < 12) return false;
    const uint32_t id = Field32(bytes, size, 0);
    return (id == kRiffId || id == kRf64Id) && Field32(bytes, size, 8) == kWaveForm;
}

int PlayableBitsPerSample(const WaveFormatRecord& format) {
    if (format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) return 0;
    if (format.blockAlign % format.channels != 0) return 0;
    const int containerBytes = format.blockAlign / format.channels;
    if (containerBytes < 1 || containerBytes > 4) return 0;
    if (format.bitsPerSample == 0 || format.bitsPerSample > containerBytes * 8) return 0;
    return containerBytes * 8;
}

}  // namespace tunara
