#pragma once
// Builders for RIFF/WAVE bytes, shared by the WAV and
// RIFF tests.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

namespace tunara::test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutId(Bytes& b, std::string_view id) {
    for (size_t i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(i < id.size() ? id[i] : ' '));
}

// One chunk: header, data, pad byte when odd. `sizeField` replaces the size
// written in the header (to lie about it).
inline Bytes Chunk(std::string_view id, const Bytes& data,
                   std::optional<uint32_t> sizeField = std::nullopt) {
    Bytes b;
    PutId(b, id);
    Put32(b, sizeField.value_or(static_cast<uint32_t>(data.size())));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}

inline Bytes Riff(std::string_view form, const std::vector<Bytes>& chunks,
                  std::optional<uint32_t> sizeField = std::nullopt) {
    Bytes body;
    PutId(body, form);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    PutId(b, "RIFF");
    Put32(b, sizeField.value_or(static_cast<uint32_t>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// A "fmt " record, 16-bit stereo 44100 Hz PCM unless changed:
// Fmt().Tag(3).Bits(32).
struct Fmt {
    uint16_t tag = 1;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    int blockAlign = -1;  // -1: channels * bits / 8
    Bytes extra;          // after the 16 bytes (an extra-size field and more)

    Fmt& Tag(uint16_t v) { return tag = v, *this; }
    Fmt& Channels(uint16_t v) { return channels = v, *this; }
    Fmt& Rate(uint32_t v) { return rate = v, *this; }
    Fmt& Bits(uint16_t v) { return bits = v, *this; }
    Fmt& BlockAlign(int v) { return blockAlign = v, *this; }
    Fmt& Extra(Bytes v) { return extra = std::move(v), *this; }
};

inline Bytes FmtChunk(const Fmt& f) {
    Bytes b;
    const uint16_t align =
        f.blockAlign >= 0 ? static_cast<uint16_t>(f.blockAlign) : f.channels * f.bits / 8;
    Put16(b, f.tag);
    Put16(b, f.channels);
    Put32(b, f.rate);
    Put32(b, f.rate * align);
    Put16(b, align);
    Put16(b, f.bits);
    b.insert(b.end(), f.extra.begin(), f.extra.end());
    return Chunk("fmt ", b);
}

// WAVE_FORMAT_EXTENSIBLE extension naming sub-format `subTag`.
inline Bytes ExtensibleExtra(uint16_t validBits, uint16_t subTag) {
    Bytes b;
    Put16(b, 22);
    Put16(b, validBits);
    Put32(b, 3);  // front left and right
    Put16(b, subTag);
    const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), tail, tail + 14);
    return b;
}

// 16-bit stereo frames whose left sample is the frame index and right its negation.
inline Bytes CountingFrames16(uint32_t frames) {
    Bytes b;
    for (uint32_t i = 0; i < frames; ++i) {
        Put16(b, i & 0xFFFF);
        Put16(b, (0x10000 - (i & 0xFFFF)) & 0xFFFF);
    }
    return b;
}

inline Bytes SimpleWav(uint32_t frames, const Fmt& f = {}) {
    return Riff("WAVE", {FmtChunk(f), Chunk("data", CountingFrames16(frames))});
}

using tunara::testing::TempDir;

inline Bytes ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tunara::test
