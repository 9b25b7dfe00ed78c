#pragma once
// Byte-by-byte builders for tag fixtures.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tunara::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes SevenBit(uint32_t v) {
    return {uint8_t(v >> 21 & 0x7F), uint8_t(v >> 14 & 0x7F), uint8_t(v >> 7 & 0x7F),
            uint8_t(v & 0x7F)};
}

inline Bytes Be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// Frames: 2.2 has 3-character ids and 3-byte sizes; 2.3 plain 4-byte sizes;
// 2.4 synchsafe sizes.
inline Bytes Frame22(const std::string& id, const Bytes& data) {
    const auto n = uint32_t(data.size());
    return Cat({B(id), Bytes{uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, data});
}
inline Bytes Frame23(const std::string& id, const Bytes& data) {
    return Cat({B(id), Be32(uint32_t(data.size())), Bytes{0, 0}, data});
}
inline Bytes Frame24(const std::string& id, const Bytes& data) {
    return Cat({B(id), SevenBit(uint32_t(data.size())), Bytes{0, 0}, data});
}
// A text frame body with encoding byte 0 (ISO-8859-1 bytes as given).
inline Bytes Latin1(const std::string& s) {
    return Cat({Bytes{0}, B(s)});
}

// A tag header for `body` (which includes any extended header and padding).
inline Bytes Tag(int major, uint8_t flags, const Bytes& body) {
    return Cat({B("ID3"), Bytes{uint8_t(major), 0, flags}, SevenBit(uint32_t(body.size())), body});
}

// An MPEG-1 Layer III 128 kbit/s 44.1 kHz stereo header.
inline Bytes Mp3Header() {
    return {0xFF, 0xFB, 0x90, 0x00};
}

inline Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tunara::testing
