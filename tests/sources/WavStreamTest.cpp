#include <gtest/gtest.h>

#include "WavFixtures.h"
#include "sources/OutputFileStream.h"
#include "sources/PcmWaveStream.h"

namespace tunara {
namespace {

using test::Bytes;
using test::Chunk;
using test::Fmt;
using test::Riff;

class PcmWaveStreamTest : public ::testing::Test {
protected:
    // Opens `bytes` written to a file; the status of pcmWaveOpen.
    int Open(const Bytes& bytes) {
        path_ = dir_.Write("in.wav", bytes);
        return pcmWaveOpen(&stream_, path_.c_str(), &format_, &bext_, &bextLength_);
    }
    void TearDown() override {
        if (stream_) {
            EXPECT_EQ(pcmWaveClose(stream_), kPcmWaveOk);
        }
    }

    test::TempDir dir_;
    std::string path_;
    PcmWaveStream* stream_ = nullptr;
    PcmWaveFormat format_;
    const uint8_t* bext_ = reinterpret_cast<const uint8_t*>(1);
    int32_t bextLength_ = -1;
};

// The end of the data gives 3, the length of what was data, and silence after it.
TEST_F(PcmWaveStreamTest, Read_PadsTheLastBlockWithSilence) {
    const Bytes wav = test::SimpleWav(10);
    ASSERT_EQ(Open(wav), kPcmWaveOk);
    EXPECT_EQ(format_.channels, 2);
    EXPECT_EQ(format_.sampleRate, 44100);
    EXPECT_EQ(format_.bitsPerSample, 16);
    EXPECT_EQ(bext_, nullptr);
    EXPECT_EQ(bextLength_, 0);
    EXPECT_EQ(stream_->dataBytes, 40u);
    EXPECT_EQ(stream_->fileLength, wav.size());

    Bytes buf(32, 0xEE);
    uint32_t length = 32;
    EXPECT_EQ(pcmWaveRead(buf.data(), &length, stream_), kPcmWaveOk);
    EXPECT_EQ(length, 32u);
    length = 32;
    EXPECT_EQ(pcmWaveRead(buf.data(), &length, stream_), kPcmWaveEnd);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 8), Bytes(wav.end() - 8, wav.end()));
    EXPECT_EQ(Bytes(buf.begin() + 8, buf.end()), Bytes(24, 0));
    EXPECT_EQ(stream_->bytesRead, 40u);
}

// 8-bit silence is 0x80, also when the data size promises more than the file has.
TEST_F(PcmWaveStreamTest, Read_EightBitPadsWith0x80) {
    const Fmt mono8 = Fmt().Channels(1).Rate(22050).Bits(8);
    ASSERT_EQ(Open(Riff("WAVE", {test::FmtChunk(mono8), Chunk("data", Bytes(6, 0x10), 1000)})),
              kPcmWaveOk);
    Bytes buf(16, 0);
    uint32_t length = 16;
    EXPECT_EQ(pcmWaveRead(buf.data(), &length, stream_), kPcmWaveEnd);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(Bytes(buf.begin() + 6, buf.end()), Bytes(10, 0x80));
}

// Only the upper-case "BEXT" is found; its length is its size less 604.
TEST_F(PcmWaveStreamTest, Open_FindsUpperCaseBextOnly) {
    Bytes big(700, 0);
    big[0] = 'Q';
    ASSERT_EQ(Open(Riff("WAVE", {test::FmtChunk({}), Chunk("BEXT", big), Chunk("data", {})})),
              kPcmWaveOk);
    ASSERT_NE(bext_, nullptr);
    EXPECT_EQ(bext_[0], 'Q');
    EXPECT_EQ(bextLength_, 96);
    ASSERT_EQ(pcmWaveClose(stream_), kPcmWaveOk);
    stream_ = nullptr;

    ASSERT_EQ(Open(Riff("WAVE", {test::FmtChunk({}), Chunk("bext", big), Chunk("data", {})})),
              kPcmWaveOk);
    EXPECT_EQ(bext_, nullptr);
    EXPECT_EQ(bextLength_, 0);
    ASSERT_EQ(pcmWaveClose(stream_), kPcmWaveOk);
    stream_ = nullptr;

    // Shorter than its fixed part: a length of 0, never negative.
    ASSERT_EQ(
        Open(Riff("WAVE", {test::FmtChunk({}), Chunk("BEXT", Bytes(10, 1)), Chunk("data", {})})),
        kPcmWaveOk);
    EXPECT_EQ(bextLength_, 0);
}

TEST_F(PcmWaveStreamTest, Open_RefusesWhatTheEncodersCannotTake) {
    const Bytes pcm(64, 0);
    const std::vector<Bytes> bad = {
        {},
        Riff("WAVE", {test::FmtChunk(Fmt().Tag(3).Bits(32)), Chunk("data", pcm)}),
        Riff("WAVE", {test::FmtChunk(Fmt().Bits(24)), Chunk("data", pcm)}),
        Riff("WAVE", {test::FmtChunk(Fmt().Channels(0).BlockAlign(4)), Chunk("data", pcm)}),
        Riff("WAVE", {Chunk("fmt ", Bytes(12, 1)), Chunk("data", pcm)}),
        Riff("WAVE", {test::FmtChunk({})}),
        Riff("WAVE", {test::FmtChunk({}), Chunk("BEXT", Bytes(8, 0), 0x7fffff00u)}),
        Riff("AVI ", {test::FmtChunk({}), Chunk("data", pcm)}),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Open(bad[i]), kPcmWaveFileError);
        EXPECT_EQ(stream_, nullptr);
    }
    EXPECT_EQ(pcmWaveOpen(&stream_, nullptr, &format_, nullptr, nullptr), kPcmWaveFileError);
    EXPECT_EQ(pcmWaveOpen(&stream_, "/no/such/file.wav", &format_, nullptr, nullptr),
              kPcmWaveFileError);

    uint32_t length = 4;
    uint8_t buf[4];
    EXPECT_EQ(pcmWaveRead(buf, &length, nullptr), kPcmWaveBadHandle);
    EXPECT_EQ(pcmWaveClose(nullptr), kPcmWaveBadHandle);
}

TEST(OutputFileStreamTest, Write_CountsAndStoresBytes) {
    test::TempDir dir;
    const auto path = (dir.Path() / "out.mp3").string();
    OutputFileStream* out = nullptr;
    ASSERT_EQ(outStreamOpen(&out, path.c_str()), kOutStreamOk);
    const Bytes a{1, 2, 3}, b{4, 5};
    uint32_t length = 3;
    EXPECT_EQ(outStreamWrite(a.data(), &length, out), kOutStreamOk);
    length = 2;
    EXPECT_EQ(outStreamWrite(b.data(), &length, out), kOutStreamOk);
    EXPECT_EQ(out->byteCounts[0], 5u);
    EXPECT_EQ(out->byteCounts[2], 5u);
    EXPECT_EQ(outStreamClose(out), kOutStreamOk);
    EXPECT_EQ(test::ReadBytes(path), (Bytes{1, 2, 3, 4, 5}));
}

// A full disk must not pass for a finished file.
TEST(OutputFileStreamTest, Close_FullDiskIsAnError) {
    OutputFileStream* out = nullptr;
    ASSERT_EQ(outStreamOpen(&out, "/dev/full"), kOutStreamOk);
    const Bytes data(100, 7);
    uint32_t length = 100;
    outStreamWrite(data.data(), &length, out);  // buffered: may still succeed here
    EXPECT_EQ(outStreamClose(out), kOutStreamFileError);

    EXPECT_EQ(outStreamOpen(&out, ""), kOutStreamFileError);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(outStreamOpen(&out, "/no/such/folder/x.mp3"), kOutStreamFileError);
    length = 1;
    EXPECT_EQ(outStreamWrite(data.data(), &length, nullptr), kOutStreamBadHandle);
    EXPECT_EQ(outStreamClose(nullptr), kOutStreamBadHandle);
}

}  // namespace
}  // namespace tunara
