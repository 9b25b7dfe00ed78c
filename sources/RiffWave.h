#pragma once
// The "fmt " chunk of a RIFF/WAVE file and what the player can make of it.
#include <cstddef>
#include <cstdint>

#include "sources/RiffFile.h"

namespace tunara {

inline constexpr FourCC kWaveForm = MakeFourCC("WAVE");
inline constexpr FourCC kFmtId = MakeFourCC("fmt ");
inline constexpr FourCC kDataId = MakeFourCC("data");

inline constexpr FourCC kRf64Id = MakeFourCC("RF64");
inline constexpr FourCC kDs64Id = MakeFourCC("ds64");

inline constexpr uint16_t kWaveFormatPcm = 0x0001;
inline constexpr uint16_t kWaveFormatFloat = 0x0003;
inline constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// The 18-byte base record of a "fmt " chunk, little-endian on disk.
struct WaveFormatRecord {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;  // Hz
    uint32_t averageBytesPerSecond = 0;
    uint16_t blockAlign = 0;  // bytes per frame
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;  // bytes of extension after the record
};
inline constexpr size_t kWaveFormatRecordBytes = 18;
inline constexpr size_t kWaveFormatMinimumChunk = 16;

// Decodes the base record from chunk bytes; fields beyond `size` read as 0.
WaveFormatRecord DecodeWaveFormat(const uint8_t* bytes, size_t size);

// The coding of the samples: the format tag, or for the extensible tag the tag
// its sub-format GUID names (0 when the extension is missing or names none).
uint16_t WaveSubFormat(const uint8_t* bytes, size_t size);

// True for integer PCM: tag 1, or the extensible tag with the PCM sub-format.
bool IsIntegerPcm(const uint8_t* bytes, size_t size);
// True for IEEE float samples: tag 3, or the extensible tag with that sub-format.
bool IsFloatPcm(const uint8_t* bytes, size_t size);

// The speaker mask of an extensible record; 0 when it has none.
uint32_t WaveChannelMask(const uint8_t* bytes, size_t size);

// Bits per sample as the output device must take them: the container size
// (block align / channels) of a playable integer PCM record, else 0. A record
// is playable with at least one channel, a sample rate, a block align that is
// a whole number of 1 to 4 bytes per channel, and a sample size that fits it.
int PlayableBitsPerSample(const WaveFormatRecord& format);
// The same for float samples: 32 or 64 (4 or 8 bytes per channel), else 0.
int PlayableFloatBits(const WaveFormatRecord& format);

// Whether the first bytes of a file start a RIFF or RF64 form of type WAVE.
bool LooksLikeWave(const uint8_t* bytes, size_t size);

}  // namespace tunara
