#pragma once
// The 44-byte header of a canonical PCM WAV file, for every writer of WAV files
// (the file device, the media module, the default item, the decode command,
// tests and benchmarks). Header-only: the media module links none of our
// libraries.
#include <cstdint>
#include <cstring>

namespace tunara::io {

inline constexpr int kWavHeaderBytes = 44;

struct WavFormat {
    uint16_t channels = 2;
    uint32_t sampleRate = 44100;
    uint16_t bitsPerSample = 16;
    uint16_t BlockAlign() const { return uint16_t(channels * ((bitsPerSample + 7) / 8)); }
};

// A RIFF size field cannot describe more than 4 GiB: the largest data size in
// whole frames that still leaves room for the header and the pad byte.
inline uint32_t WavDataLimit(uint16_t blockAlign) {
    constexpr uint32_t kLimit = 0xFFFFFFFFu - 36u - 1u;
    return blockAlign == 0 ? kLimit : kLimit - kLimit % blockAlign;
}

// Fills `out` with the header for `dataBytes` bytes of samples; more than the
// limit above is recorded as the limit (the caller stops writing there).
inline void MakeWavHeader(const WavFormat& f, uint64_t dataBytes, uint8_t out[kWavHeaderBytes]) {
    const uint16_t align = f.BlockAlign();
    const uint32_t limit = WavDataLimit(align);
    const uint32_t data = dataBytes > limit ? limit : uint32_t(dataBytes);
    auto put = [out](int at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out[at + i] = uint8_t(v >> (8 * i));
    };
    std::memcpy(out, "RIFF", 4);
    put(4, 36 + data + (data & 1), 4);  // chunks are padded to even sizes
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);  // integer PCM
    put(22, f.channels, 2);
    put(24, f.sampleRate, 4);
    put(28, f.sampleRate * align, 4);
    put(32, align, 2);
    put(34, f.bitsPerSample, 2);
    std::memcpy(out + 36, "data", 4);
    put(40, data, 4);
}

}  // namespace tunara::io
