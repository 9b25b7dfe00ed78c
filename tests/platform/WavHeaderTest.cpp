#include "platform/io/WavHeader.h"

#include <gtest/gtest.h>

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST(WavHeader, CanonicalFieldsAndPadByte) {
    uint8_t h[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({1, 8000, 8}, 7, h);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 4), "RIFF");
    EXPECT_EQ(Le32(h + 4), 36u + 7 + 1);  // odd data gets its pad byte counted
    EXPECT_EQ(std::string(reinterpret_cast<char*>(h + 8), 8), "WAVEfmt ");
    EXPECT_EQ(Le32(h + 24), 8000u);
    EXPECT_EQ(Le32(h + 28), 8000u);
    EXPECT_EQ(h[32], 1);
    EXPECT_EQ(h[34], 8);
    EXPECT_EQ(Le32(h + 40), 7u);
}

TEST(WavHeader, PastFourGiBKeepsWholeFramesAndNeverWraps) {
    uint8_t h[tunara::io::kWavHeaderBytes];
    for (uint64_t bytes : {0xFFFFFFFFull, 0x100000000ull, 0x1FFFFFFFFull}) {
        tunara::io::MakeWavHeader({2, 44100, 16}, bytes, h);
        const uint32_t data = Le32(h + 40);
        EXPECT_EQ(data % 4, 0u);
        EXPECT_GT(data, 0xFFFFFF00u);
        EXPECT_EQ(Le32(h + 4), 36u + data);
    }
    // Three-byte frames: the limit is still a whole number of them.
    EXPECT_EQ(tunara::io::WavDataLimit(6) % 6, 0u);
}

}  // namespace
