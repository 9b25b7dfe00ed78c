#include <gtest/gtest.h>

#include "WavFixtures.h"
#include "sources/RiffFile.h"

namespace tunara {
namespace {

using test::Bytes;
using test::Chunk;
using test::Riff;

// The same reader checks run over a file and over a memory block.
class RiffReadTest : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<RiffFile> Open(const Bytes& bytes) {
        bytes_ = bytes;
        if (!GetParam()) {
            return std::make_unique<RiffFile>(MakeRiffMemoryIo(bytes_.data(), bytes_.size()));
        }
        const std::string path = dir_.Write("in.riff", bytes_);
        return std::make_unique<RiffFile>(OpenRiffFileIo(path, RiffOpenMode::Read));
    }

    Bytes bytes_;
    test::TempDir dir_;
};

// Nested search: the form, then a chunk inside it past others of odd size.
TEST_P(RiffReadTest, Descend_FindsChunkPastOddSizedSiblings) {
    auto file = Open(Riff("WAVE", {Chunk("junk", Bytes(5, 7)), Chunk("fmt ", Bytes(16, 1)),
                                   Chunk("data", Bytes{1, 2, 3, 4})}));
    RiffChunk riff;
    riff.formType = MakeFourCC("WAVE");
    ASSERT_EQ(file->Descend(riff, nullptr, RiffFind::Riff), RiffStatus::Ok);
    EXPECT_EQ(riff.dataOffset, 8);
    EXPECT_EQ(file->Tell(), 12);

    RiffChunk data;
    data.id = MakeFourCC("data");
    ASSERT_EQ(file->Descend(data, &riff, RiffFind::Chunk), RiffStatus::Ok);
    EXPECT_EQ(data.size, 4u);
    uint8_t got[4] = {};
    EXPECT_EQ(file->Read(got, 4), 4);
    EXPECT_EQ(got[3], 4);

    // Ascend, then a chunk that is not there leaves the position alone.
    ASSERT_EQ(file->Ascend(data), RiffStatus::Ok);
    const int64_t at = file->Tell();
    RiffChunk missing;
    missing.id = MakeFourCC("LIST");
    EXPECT_EQ(file->Descend(missing, &riff, RiffFind::Chunk), RiffStatus::ChunkNotFound);
    EXPECT_EQ(file->Tell(), at);
}

// A search is bounded by its parent, not only by the file.
TEST_P(RiffReadTest, Descend_StopsAtParentEnd) {
    Bytes bytes = Riff("WAVE", {Chunk("fmt ", Bytes(16, 1))});
    const Bytes after = Chunk("data", Bytes(8, 0));
    bytes.insert(bytes.end(), after.begin(), after.end());
    auto file = Open(bytes);
    RiffChunk riff;
    riff.formType = MakeFourCC("WAVE");
    ASSERT_EQ(file->Descend(riff, nullptr, RiffFind::Riff), RiffStatus::Ok);
    RiffChunk data;
    data.id = MakeFourCC("data");
    EXPECT_EQ(file->Descend(data, &riff, RiffFind::Chunk), RiffStatus::ChunkNotFound);
}

// Lying sizes: huge, truncated headers, a form of another kind.
TEST_P(RiffReadTest, Descend_MalformedInputEndsCleanly) {
    const std::vector<Bytes> inputs = {
        {},
        {'R', 'I', 'F'},
        {'R', 'I', 'F', 'F', 0xff, 0xff, 0xff, 0xff},
        Riff("AVI ", {Chunk("fmt ", Bytes(16, 0))}),
        Riff("WAVE", {Chunk("junk", Bytes(4, 0), 0xfffffff0u), Chunk("data", Bytes(4, 0))}),
    };
    for (const Bytes& input : inputs) {
        auto file = Open(input);
        RiffChunk riff;
        riff.formType = MakeFourCC("WAVE");
        if (file->Descend(riff, nullptr, RiffFind::Riff) != RiffStatus::Ok) continue;
        RiffChunk data;
        data.id = MakeFourCC("data");
        EXPECT_EQ(file->Descend(data, &riff, RiffFind::Chunk), RiffStatus::ChunkNotFound);
    }
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, RiffReadTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "File" : "Memory"; });

// Created chunks get their sizes and pad bytes on Ascend, and read back.
TEST(RiffWriteTest, CreateChunk_AscendSettlesSizesAndPad) {
    test::TempDir dir;
    const auto path = dir.Path() / "out.wav";
    {
        RiffFile file(OpenRiffFileIo(path, RiffOpenMode::Create));
        RiffChunk riff;
        riff.formType = MakeFourCC("WAVE");
        ASSERT_EQ(file.CreateChunk(riff, RiffFind::Riff), RiffStatus::Ok);
        RiffChunk odd;
        odd.id = MakeFourCC("abcd");
        ASSERT_EQ(file.CreateChunk(odd, RiffFind::Chunk), RiffStatus::Ok);
        ASSERT_EQ(file.Write("xyz", 3), 3);
        ASSERT_EQ(file.Ascend(odd), RiffStatus::Ok);
        EXPECT_EQ(odd.size, 3u);
        ASSERT_EQ(file.Ascend(riff), RiffStatus::Ok);
        EXPECT_EQ(riff.size, 4u + 8u + 4u);
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(test::ReadBytes(path), Riff("WAVE", {Chunk("abcd", Bytes{'x', 'y', 'z'})}));
}

TEST(RiffWriteTest, MemoryIo_RefusesWrites) {
    const uint8_t data[4] = {};
    RiffFile file(MakeRiffMemoryIo(data, sizeof data));
    RiffChunk chunk;
    chunk.id = MakeFourCC("data");
    EXPECT_EQ(file.CreateChunk(chunk, RiffFind::Chunk), RiffStatus::CannotWrite);
    EXPECT_FALSE(OpenRiffFileIo("/nonexistent/folder/x.wav", RiffOpenMode::Read));
}

}  // namespace
}  // namespace tunara
