// The decoder's input bit reader on its own: reads across the edge of the 8192-byte block,
// moving back across a refill, the end of data and a failed read.
#include "mpegdec/BitReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace mpegdec;

namespace {

// A stream whose byte i is (i * 7 + i / 256) & 0xFF, so every position is recognisable.
uint8_t ByteAt(size_t i) {
    return uint8_t((i * 7 + i / 256) & 0xFF);
}

struct Source {
    size_t size = 0;
    size_t pos = 0;
    int32_t failAfterReads = -1;  // fail the read with this index (-1: never)
    int32_t reads = 0;
};

int32_t Read(uint8_t* dst, int32_t* count, void* user) {
    auto* s = static_cast<Source*>(user);
    size_t n = std::min(s->size - s->pos, size_t(*count));
    for (size_t i = 0; i < n; ++i) dst[i] = ByteAt(s->pos + i);
    s->pos += n;
    *count = int32_t(n);
    return s->reads++ == s->failAfterReads ? -1 : 0;
}

struct Reader {
    explicit Reader(Source& source) : c(new MpegDecContext) {
        std::memset(static_cast<void*>(c.get()), 0, sizeof *c);
        c->read = Read;
        c->user = &source;
        ResetInput(*c);
    }
    std::unique_ptr<MpegDecContext> c;
};

TEST(BitReader, ReadsAcrossTheBlockEdgeInAnyWidth) {
    Source src{3 * 8192 + 100};
    Reader r(src);
    // 5 bytes of 8 bits, then 3-, 13- and 32-bit reads that straddle byte and block edges.
    size_t bit = 0;
    auto expect = [&](int32_t n) {
        uint32_t want = 0;
        for (int32_t k = 0; k < n; ++k, ++bit)
            want = want << 1 | ((ByteAt(bit / 8) >> (7 - bit % 8)) & 1u);
        return want;
    };
    const int32_t widths[] = {8, 3, 13, 32, 1, 7, 11, 32, 5};
    for (int round = 0; bit < 8 * size_t(3 * 8192); ++round) {
        const int32_t n = widths[round % 9];
        const uint32_t want = expect(n);
        ASSERT_EQ(GetBits(*r.c, n), want) << "at bit " << bit - size_t(n);
    }
    EXPECT_FALSE(r.c->in.endReached);
}

TEST(BitReader, MovesBackAcrossARefill) {
    Source src{2 * 8192};
    Reader r(src);
    for (int i = 0; i < 8190; ++i) GetBits(*r.c, 8);
    const uint32_t before = r.c->in.bitsRead;
    // 4 bytes: two from the first block, two from the second (read by a refill).
    EXPECT_EQ(GetBits(*r.c, 32), uint32_t(ByteAt(8190)) << 24 | uint32_t(ByteAt(8191)) << 16 |
                                     uint32_t(ByteAt(8192)) << 8 | ByteAt(8193));
    EXPECT_EQ(src.reads, 2);
    MoveBack(r.c->in, 32 + 16);
    EXPECT_EQ(r.c->in.bitsRead, before - 16);
    EXPECT_EQ(GetBits(*r.c, 12), uint32_t(ByteAt(8188)) << 4 | ByteAt(8189) >> 4);
    EXPECT_EQ(GetBits(*r.c, 4), ByteAt(8189) & 15u);
    EXPECT_EQ(GetBits(*r.c, 8), ByteAt(8190));
    EXPECT_EQ(src.reads, 2) << "moving back needs no new read";
}

TEST(BitReader, EndOfDataAndEnsureBytes) {
    Source src{10};
    Reader r(src);
    EXPECT_TRUE(r.c->in.hasEnd);
    EXPECT_EQ(BitsLeft(r.c->in), 80);
    EnsureBytes(*r.c, 100);  // nothing more to read
    EXPECT_EQ(src.reads, 1);
    GetBits(*r.c, 32);
    EXPECT_EQ(BitsLeft(r.c->in), 48);
    GetBits(*r.c, 32);
    EXPECT_FALSE(r.c->in.endReached);
    GetBits(*r.c, 32);  // only 16 bits are left
    EXPECT_TRUE(r.c->in.endReached);
    EXPECT_FALSE(r.c->in.readFailed);
}

TEST(BitReader, FailedReadIsNoted) {
    Source src{3 * 8192};
    src.failAfterReads = 1;
    Reader r(src);
    EXPECT_FALSE(r.c->in.readFailed);
    for (int i = 0; i < 8193; ++i) GetBits(*r.c, 8);
    EXPECT_TRUE(r.c->in.readFailed);
    ResetInput(*r.c);
    EXPECT_FALSE(r.c->in.readFailed) << "a reset starts over";
}

TEST(BitReader, CopyToReservoirAlignedAndNot) {
    Source src{2 * 8192};
    Reader r(src);
    // Aligned: a run of whole bytes, crossing the block edge.
    for (int i = 0; i < 8000; ++i) GetBits(*r.c, 8);
    CopyToReservoir(*r.c, 400);
    for (int k = 0; k < 400; ++k) ASSERT_EQ(r.c->res.ring[k], ByteAt(8000 + size_t(k))) << k;
    // Unaligned: four bits in, bytes are assembled across byte boundaries.
    GetBits(*r.c, 4);
    CopyToReservoir(*r.c, 2);
    EXPECT_EQ(r.c->res.ring[400], uint8_t((ByteAt(8400) & 15) << 4 | ByteAt(8401) >> 4));
    EXPECT_EQ(r.c->res.ring[401], uint8_t((ByteAt(8401) & 15) << 4 | ByteAt(8402) >> 4));
}

}  // namespace
