#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "TestTools.h"
#include "WavFixtures.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/WavSource.h"

namespace tunara {
namespace {

using test::Bytes;
using test::Chunk;
using test::Fmt;
using test::Riff;

// Lets a test put the source in a play state without running the engine.
class TestWav : public WavSource {
public:
    explicit TestWav(const std::string& path) { SetLocation(path); }
    void SetState(PlayState s) { state_ = s; }
    int Bits() const { return GetBitsPerSample(); }
};

// Left sample of each frame of 16-bit stereo counting data.
std::vector<int> LeftSamples(const std::vector<int16_t>& pcm, int frames) {
    std::vector<int> out;
    for (int i = 0; i < frames; ++i) out.push_back(static_cast<uint16_t>(pcm[2 * i]));
    return out;
}

std::vector<int> Range(int from, int count) {
    std::vector<int> out;
    for (int i = 0; i < count; ++i) out.push_back(from + i);
    return out;
}

// Whether this process holds `path` open for reading only.
bool OpenedReadOnly(const std::string& path) {
    const auto real = std::filesystem::canonical(path);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) != real) continue;
        std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
        std::string key;
        while (info >> key) {
            if (key == "flags:") {
                std::string octal;
                info >> octal;
                return (std::stoi(octal, nullptr, 8) & O_ACCMODE) == O_RDONLY;
            }
        }
    }
    return false;
}

class WavSourceTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    ScopedRecordingInteraction ui_;
};

// A 16-byte "fmt " still gives the full 18-byte record, extra size 0.
TEST_F(WavSourceTest, LoadInfo_PlainPcmFillsDescription) {
    const auto path = dir_.Write("Song Title.wav", test::SimpleWav(44100 * 2 + 4410));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    EXPECT_EQ(wav.GetTitle(), "Song Title");
    EXPECT_EQ(wav.GetSampleRate(), 44100);
    EXPECT_EQ(wav.GetChannels(), 2);
    EXPECT_EQ(wav.GetFormatName(), "16 Bit PCM");
    EXPECT_EQ(wav.GetBitRate(), 1411200);
    EXPECT_EQ(wav.GetDuration(), 2100);
    EXPECT_TRUE(ui_->errors.empty());

    ASSERT_EQ(wav.OpenStream(), 1);
    ASSERT_EQ(wav.FormatRecord().size(), 18u);
    EXPECT_EQ(wav.FormatRecord()[16], 0);
    EXPECT_EQ(wav.FormatRecord()[17], 0);
    EXPECT_EQ(wav.CloseStream(), 1);
}

// Files nobody may write to still play: the source only reads.
TEST_F(WavSourceTest, OpenStream_ReadOnlyFileOpensForReading) {
    const auto path = dir_.Write("ro.wav", test::SimpleWav(100));
    ::chmod(path.c_str(), 0444);
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.OpenStream(), 1);
    EXPECT_TRUE(OpenedReadOnly(path));
    EXPECT_EQ(wav.CloseStream(), 1);
    EXPECT_TRUE(ui_->errors.empty());
}

struct BadCase {
    const char* name;
    Bytes bytes;
};

// Whatever is wrong with a file, the user hears of it once and the item stays
// out of the list.
TEST_F(WavSourceTest, LoadInfo_InvalidFilesReportNotValid) {
    const Bytes pcm = test::CountingFrames16(64);
    auto fmtWith = [&](Fmt f) { return Riff("WAVE", {test::FmtChunk(f), Chunk("data", pcm)}); };
    const Bytes good = test::SimpleWav(64);
    const std::vector<BadCase> cases = {
        {"empty", {}},
        {"truncated-header", Bytes(good.begin(), good.begin() + 20)},
        {"truncated-fmt", Bytes(good.begin(), good.begin() + 30)},
        {"not-riff", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"avi-form", Riff("AVI ", {test::FmtChunk({}), Chunk("data", pcm)})},
        {"no-fmt", Riff("WAVE", {Chunk("data", pcm)})},
        {"no-data", Riff("WAVE", {test::FmtChunk({})})},
        {"data-before-fmt-only", Riff("WAVE", {Chunk("data", pcm), Chunk("LIST", Bytes(4, 0))})},
        {"short-fmt", Riff("WAVE", {Chunk("fmt ", Bytes(14, 1)), Chunk("data", pcm)})},
        {"fmt-beyond-file", Riff("WAVE", {Chunk("fmt ", Bytes(16, 1), 0x7fffffffu)})},
        {"zero-channels", fmtWith(Fmt().Channels(0).BlockAlign(4))},
        {"zero-block-align", fmtWith(Fmt().BlockAlign(0))},
        {"zero-rate", fmtWith(Fmt().Rate(0))},
        {"odd-block-align", fmtWith(Fmt().BlockAlign(3))},
        {"bits-beyond-container", fmtWith(Fmt().Bits(24).BlockAlign(4))},
        {"ieee-float", fmtWith(Fmt().Tag(3).Bits(32))},
        {"adpcm", fmtWith(Fmt().Tag(2).Bits(4).BlockAlign(2048))},
        {"mu-law", fmtWith(Fmt().Tag(7).Bits(8))},
        {"extensible-float",
         fmtWith(Fmt().Tag(0xFFFE).Bits(32).Extra(test::ExtensibleExtra(32, 3)))},
        {"extensible-no-extension", fmtWith(Fmt().Tag(0xFFFE).Extra(Bytes{0, 0}))},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ui_->errors.clear();
        const auto path = dir_.Write(std::string(c.name) + ".wav", c.bytes);
        TestWav wav(path);
        EXPECT_EQ(wav.LoadInfo(), 0);
        ASSERT_EQ(ui_->errors.size(), 1u);
        EXPECT_EQ(ui_->errors[0].stringId, strings::kWavNotValid);
        EXPECT_EQ(ui_->errors[0].argument, path);
        EXPECT_EQ(wav.ReadFrames(nullptr, 1024), 0);  // nothing open, nothing read
    }
}

TEST_F(WavSourceTest, LoadInfo_MissingFileReportsFailedToOpen) {
    const std::string path = (dir_.path() / "gone.wav").string();
    TestWav wav(path);
    EXPECT_EQ(wav.LoadInfo(), 0);
    ASSERT_EQ(ui_->errors.size(), 1u);
    EXPECT_EQ(ui_->errors[0].stringId, strings::kWavFailedToOpen);
    EXPECT_EQ(ui_->errors[0].Formatted(), "Failed to open the file " + path + ".");
}

// Wider integer PCM, in either format tag, and 8-bit mono load.
TEST_F(WavSourceTest, LoadInfo_OtherIntegerPcmLayouts) {
    struct Case {
        Fmt fmt;
        int bits;
        const char* name;
    };
    const std::vector<Case> cases = {
        {Fmt().Channels(1).Rate(8000).Bits(8), 8, "8 Bit PCM"},
        {Fmt().Rate(48000).Bits(24), 24, "24 Bit PCM"},
        {Fmt().Bits(32), 32, "32 Bit PCM"},
        {Fmt().Tag(0xFFFE).Bits(24).Extra(test::ExtensibleExtra(24, 1)), 24, "24 Bit PCM"},
        // 20 valid bits in 24-bit containers play as 24-bit.
        {Fmt().Bits(20).BlockAlign(6), 24, "20 Bit PCM"},
    };
    for (const Case& c : cases) {
        const auto path = dir_.Write(
            "w.wav", Riff("WAVE", {test::FmtChunk(c.fmt), Chunk("data", Bytes(600, 0x11))}));
        TestWav wav(path);
        ASSERT_EQ(wav.LoadInfo(), 1) << c.name;
        EXPECT_EQ(wav.GetFormatName(), c.name);
        ASSERT_EQ(wav.OpenStream(), 1);
        const int blockAlign = c.fmt.channels * c.bits / 8;
        std::vector<uint8_t> buf(600);
        EXPECT_EQ(wav.ReadFrames(buf.data(), 1024), 600 / blockAlign) << c.name;
        EXPECT_EQ(wav.CloseStream(), 1);
    }
    EXPECT_TRUE(ui_->errors.empty());
}

// Only the data chunk plays: chunks around it are skipped, including an odd one.
TEST_F(WavSourceTest, ReadFrames_PlaysOnlyTheDataChunk) {
    const auto path =
        dir_.Write("around.wav", Riff("WAVE", {Chunk("LIST", Bytes(7, 0x55)), test::FmtChunk({}),
                                               Chunk("data", test::CountingFrames16(1500)),
                                               Chunk("LIST", Bytes(400, 0x77))}));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.OpenStream(), 1);
    std::vector<int16_t> pcm(2 * 1024, -1);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 1024);
    EXPECT_EQ(LeftSamples(pcm, 1024), Range(0, 1024));
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 476);
    EXPECT_EQ(LeftSamples(pcm, 476), Range(1024, 476));
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 0);
    EXPECT_EQ(wav.CloseStream(), 1);
}

// A data size beyond the file (a cut-off copy) counts what is there; a
// trailing half frame is never delivered.
TEST_F(WavSourceTest, DataSizeBeyondFile_PlaysThePresentFrames) {
    Bytes data = test::CountingFrames16(1000);
    data.push_back(0x42);
    const auto path =
        dir_.Write("cut.wav", Riff("WAVE", {test::FmtChunk({}), Chunk("data", data, 0x7ffffff0u)}));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    EXPECT_EQ(wav.GetDuration(), 1000 * 1000 / 44100);
    ASSERT_EQ(wav.OpenStream(), 1);
    std::vector<int16_t> pcm(2 * 1024);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 1000);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 0);
    EXPECT_EQ(wav.SeekFrame(5000), 1000u);
    EXPECT_EQ(wav.CloseStream(), 1);
}

TEST_F(WavSourceTest, SeekFrame_NextReadStartsThere) {
    const auto path = dir_.Write("seek.wav", test::SimpleWav(3000));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.OpenStream(), 1);
    std::vector<int16_t> pcm(2 * 1024);
    EXPECT_EQ(wav.SeekFrame(2500), 2500u);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 500);
    EXPECT_EQ(LeftSamples(pcm, 500), Range(2500, 500));
    EXPECT_EQ(wav.SeekFrame(7), 7u);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 3), 3);
    EXPECT_EQ(LeftSamples(pcm, 3), Range(7, 3));
    EXPECT_EQ(wav.CloseStream(), 1);
}

// Rewind hands out the blocks before the position, each in forward order,
// ending with a short block and then 0 at the start.
TEST_F(WavSourceTest, Rewind_ReadsEarlierBlocksThenEnds) {
    const auto path = dir_.Write("rew.wav", test::SimpleWav(3000));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.OpenStream(), 1);
    std::vector<int16_t> pcm(2 * 1024);
    wav.SeekFrame(2500);
    wav.SetState(Rewind);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 1024);
    EXPECT_EQ(LeftSamples(pcm, 1024), Range(1476, 1024));
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 1024);
    EXPECT_EQ(LeftSamples(pcm, 1024), Range(452, 1024));
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 452);
    EXPECT_EQ(LeftSamples(pcm, 452), Range(0, 452));
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 1024), 0);

    // Playing forward again starts where rewinding stopped.
    wav.SetState(Playing);
    EXPECT_EQ(wav.ReadFrames(pcm.data(), 2), 2);
    EXPECT_EQ(LeftSamples(pcm, 2), Range(0, 2));
    EXPECT_EQ(wav.CloseStream(), 1);
}

// Writing reopens the file for writing, overwrites in place and, when the
// data chunk ends the file, grows it with its sizes put right.
TEST_F(WavSourceTest, WriteFrames_GrowsTrailingDataChunk) {
    const auto path = dir_.Write("w.wav", test::SimpleWav(100));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.OpenStream(), 1);
    const Bytes more = test::CountingFrames16(150);
    wav.SeekFrame(50);
    EXPECT_EQ(wav.WriteFrames(more.data(), 150), 150);
    EXPECT_EQ(wav.BytesWritten(), 600u);
    EXPECT_EQ(wav.CloseStream(), 1);

    Bytes expect = test::CountingFrames16(50);
    expect.insert(expect.end(), more.begin(), more.end());
    EXPECT_EQ(test::TempDir::Read(path), Riff("WAVE", {test::FmtChunk({}), Chunk("data", expect)}));
    EXPECT_TRUE(ui_->errors.empty());
}

// A chunk behind the data is never overwritten.
TEST_F(WavSourceTest, WriteFrames_StopsAtDataEndWhenChunksFollow) {
    const Bytes original =
        Riff("WAVE", {test::FmtChunk({}), Chunk("data", Bytes(40, 0)), Chunk("LIST", Bytes(8, 9))});
    const auto path = dir_.Write("w.wav", original);
    TestWav wav(path);
    ASSERT_EQ(wav.OpenStream(), 1);
    wav.SeekFrame(8);
    const Bytes more(40, 0xAB);
    EXPECT_EQ(wav.WriteFrames(more.data(), 10), 2);
    EXPECT_EQ(wav.CloseStream(), 1);
    const Bytes now = test::TempDir::Read(path);
    ASSERT_EQ(now.size(), original.size());
    EXPECT_TRUE(std::equal(now.end() - 16, now.end(), original.end() - 16));
}

}  // namespace
}  // namespace tunara

namespace tunara {
namespace {

// Through the engine on the null device: a write-protected file plays to its end.
TEST(WavSourcePlayTest, ReadOnlyFilePlaysToTheEnd) {
    test::TempDir dir;
    ScopedRecordingInteraction ui;
    const auto path = dir.Write("play.wav", test::SimpleWav(11025));
    ::chmod(path.c_str(), 0444);
    WavSource wav;
    wav.SetLocation(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.Open(), 1);
    wav.Play();
    for (int i = 0; i < 1000 && wav.IsPlaying(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(wav.IsPlaying(), 0);
    EXPECT_EQ(wav.GetPosition(), 250);
    wav.Close();
    EXPECT_TRUE(ui->errors.empty());
}

}  // namespace
}  // namespace tunara

namespace tunara {
namespace {

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Files made by independent tools: integer PCM reads back exactly what the
// tool decodes; other encodings are refused.
TEST(WavSourceToolTest, ToolMadeFilesMatchTheirDecoding) {
    TUNARA_SKIP_IF_MISSING(!Shell("sox --version") || !Shell("ffmpeg -version"), "sox or ffmpeg");
    test::TempDir dir;
    ScopedRecordingInteraction ui;
    const std::string tone = "synth 0.3 sine 440 sine 660";
    struct Case {
        std::string name;
        std::string make;  // writes %s
        bool plays;
    };
    const std::vector<Case> cases = {
        {"s16", "sox -n -r 44100 -c 2 -b 16 %s " + tone, true},
        {"u8", "sox -n -r 11025 -c 1 -b 8 %s " + tone, true},
        {"s24-extensible", "sox -n -r 48000 -c 2 -b 24 %s " + tone, true},
        {"s32", "sox -n -r 8000 -c 2 -b 32 %s " + tone, true},
        {"ffmpeg-list-info",
         "ffmpeg -y -f lavfi -i sine=frequency=500:duration=0.3 -metadata title=T %s", true},
        {"float", "sox -n -r 8000 -c 1 -e floating-point -b 32 %s " + tone, false},
        {"ulaw", "sox -n -r 8000 -c 1 -e u-law %s " + tone, false},
        {"ima-adpcm", "sox -n -r 8000 -c 1 -e ima-adpcm %s " + tone, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui->errors.clear();
        const std::string path = (dir.path() / (c.name + ".wav")).string();
        std::string make = c.make;
        make.replace(make.find("%s"), 2, path);
        ASSERT_TRUE(Shell(make));
        TestWav wav(path);
        if (!c.plays) {
            EXPECT_EQ(wav.LoadInfo(), 0);
            ASSERT_EQ(ui->errors.size(), 1u);
            EXPECT_EQ(ui->errors[0].stringId, strings::kWavNotValid);
            continue;
        }
        ASSERT_EQ(wav.LoadInfo(), 1);
        const std::string raw = (dir.path() / (c.name + ".raw")).string();
        ASSERT_TRUE(Shell("sox " + path + " -t raw " + raw));
        const Bytes expect = test::TempDir::Read(raw);
        ASSERT_EQ(wav.OpenStream(), 1);
        Bytes got;
        std::vector<uint8_t> buf(1024 * 8);
        const int blockAlign = wav.GetChannels() * wav.Bits() / 8;
        for (int n; (n = wav.ReadFrames(buf.data(), 1024)) > 0;) {
            got.insert(got.end(), buf.begin(), buf.begin() + n * blockAlign);
        }
        EXPECT_EQ(wav.CloseStream(), 1);
        EXPECT_EQ(got, expect);
        EXPECT_NEAR(wav.GetDuration(), 300, 1);  // truncated to whole ms
        EXPECT_TRUE(ui->errors.empty());
    }
}

}  // namespace
}  // namespace tunara
