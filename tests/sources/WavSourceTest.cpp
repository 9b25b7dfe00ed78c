#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "TestTools.h"
#include "WavFixtures.h"
#include "engine/testing/EngineTesting.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/SourceSettings.h"
#include "sources/WavSource.h"
#include "support/Eventually.h"

namespace tunara {
namespace {

using test::Bytes;
using test::Chunk;
using test::Fmt;
using test::Riff;

// Lets a test put the source in a play state without running the engine.
class TestWav : public WavSource {
public:
    explicit TestWav(const std::string& path) : WavSource(tunara::testing::TestEngine()) {
        SetLocation(path);
    }
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

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct BadCase {
    const char* name;
    Bytes bytes;
};

// Whatever is wrong with a file, the source says so and the item stays out of
// the list.
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
        {"float-in-16-bits", fmtWith(Fmt().Tag(3).Bits(16))},
        {"adpcm", fmtWith(Fmt().Tag(2).Bits(4).BlockAlign(2048))},
        {"mu-law", fmtWith(Fmt().Tag(7).Bits(8))},
        {"extensible-no-extension", fmtWith(Fmt().Tag(0xFFFE).Extra(Bytes{0, 0}))},
        {"nine-channels-no-mask", fmtWith(Fmt().Channels(9))},
        {"riff-not-first", Bytes(12, 0) + good},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir_.Write(std::string(c.name) + ".wav", c.bytes);
        TestWav wav(path);
        EXPECT_EQ(wav.LoadInfo(), 0);
        const std::optional<UserMessage> error = wav.TakeError();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->stringId, strings::kWavNotValid);
        EXPECT_EQ(error->argument, path);
        EXPECT_EQ(wav.ReadFrames(nullptr, 1024), 0);  // nothing open, nothing read
    }
}

TEST_F(WavSourceTest, LoadInfo_MissingFileReportsFailedToOpen) {
    const std::string path = (dir_.Path() / "gone.wav").string();
    TestWav wav(path);
    EXPECT_EQ(wav.LoadInfo(), 0);
    const std::optional<UserMessage> error = wav.TakeError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->stringId, strings::kWavFailedToOpen);
    EXPECT_EQ(error->errorNumber, ENOENT);
    EXPECT_EQ(error->Formatted(), "Failed to open the file " + path + ".");
    EXPECT_FALSE(wav.TakeError());     // taken once
    EXPECT_TRUE(ui_->errors.empty());  // the source never tells the user itself
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
    EXPECT_EQ(test::ReadBytes(path), Riff("WAVE", {test::FmtChunk({}), Chunk("data", expect)}));
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
    const Bytes now = test::ReadBytes(path);
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
    const auto path = dir.Write("play.wav", test::SimpleWav(11025));
    ::chmod(path.c_str(), 0444);
    WavSource wav(tunara::testing::TestEngine());
    wav.SetLocation(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    ASSERT_EQ(wav.Open(), 1);
    wav.Play();
    EXPECT_TRUE(testing::Eventually([&] { return wav.IsPlaying() == 0; }, std::chrono::seconds(10),
                                    std::chrono::milliseconds(10)));
    EXPECT_EQ(wav.GetPosition(), 250);
    wav.Close();
    EXPECT_FALSE(wav.TakeError());
}

}  // namespace
}  // namespace tunara

namespace tunara {
namespace {

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Little-endian samples of `bytes` bits, as signed values.
std::vector<int64_t> Samples(const Bytes& raw, int bytes) {
    std::vector<int64_t> out;
    for (size_t i = 0; i + bytes <= raw.size(); i += bytes) {
        uint64_t u = 0;
        for (int b = bytes - 1; b >= 0; --b) u = u << 8 | raw[i + b];
        u <<= 64 - 8 * bytes;
        out.push_back(static_cast<int64_t>(u) >> (64 - 8 * bytes));
    }
    return out;
}

void SetLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Files made by independent tools play as the tools decode them: integer PCM
// exactly, float and mixed-down channels within rounding; streaming writers'
// sizes and RF64 play to the end; other codings and non-WAVE files are refused
// here (the factory gives them to a decoder that knows them).
TEST(WavSourceToolTest, ToolMadeFilesMatchTheirDecoding) {
    TUNARA_SKIP_IF_MISSING(!Shell("sox --version") || !Shell("ffmpeg -version"), "sox or ffmpeg");
    test::TempDir dir;
    const std::string tone = "synth 0.3 sine 440 sine 660";
    const std::string lavfi = "ffmpeg -v error -y -f lavfi -i sine=frequency=500:duration=0.3 ";
    const std::string sox = "sox %s -t raw %r";
    // ffmpeg's own decoding, as the samples the source hands the device.
    const std::string ff32 = "ffmpeg -v error -y -i %s -f s32le %r";
    const std::string ff16 = "ffmpeg -v error -y -i %s -f s16le %r";
    struct Case {
        std::string name;
        std::string make;    // writes %s
        std::string decode;  // %s to raw %r, as the source should play it; empty: refused
        int tolerance = 0;   // in output sample units
        int channels = 0;    // output channels, 0: as made
        std::function<void(Bytes&)> patch = nullptr;
    };
    const std::vector<Case> cases = {
        {"s16", "sox -n -r 44100 -c 2 -b 16 %s " + tone, sox},
        {"u8", "sox -n -r 11025 -c 1 -b 8 %s " + tone, sox},
        {"s24-extensible", "sox -n -r 48000 -c 2 -b 24 %s " + tone, sox},
        {"s32", "sox -n -r 8000 -c 2 -b 32 %s " + tone, sox},
        {"ffmpeg-list-info", lavfi + "-metadata title=T %s", sox},
        {"float32", "sox -n -r 8000 -c 2 -e floating-point -b 32 %s " + tone, ff32, 2},
        {"float64", "sox -n -r 8000 -c 1 -e floating-point -b 64 %s " + tone, ff32, 2},
        {"float32-extensible", lavfi + "-ac 2 -c:a pcm_f32le %s", ff32, 2},
        // Every channel carries the same tone, so the mix is that tone again.
        {"six-channels", "sox -n -r 8000 -c 6 -b 16 %s synth 0.3 sine 440",
         "sox %s -t raw %r remix 1 1", 2, 2},
        {"zero-sizes", "sox -n -r 8000 -c 2 -b 16 %s " + tone, sox, 0, 0,
         [](Bytes& b) { SetLe32(b, 4, 0), SetLe32(b, 40, 0); }},
        {"rf64", lavfi + "-rf64 always %s", ff16},
        {"ulaw", "sox -n -r 8000 -c 1 -e u-law %s " + tone, ""},
        {"ima-adpcm", "sox -n -r 8000 -c 1 -e ima-adpcm %s " + tone, ""},
        {"mp3-in-wav", lavfi + "-c:a libmp3lame %s", ""},
        {"zeros", "truncate -s 1G %s", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir.Path() / (c.name + ".wav")).string();
        const std::string raw = (dir.Path() / (c.name + ".raw")).string();
        auto fill = [&](std::string command) {
            command.replace(command.find("%s"), 2, path);
            if (const size_t r = command.find("%r"); r != std::string::npos)
                command.replace(r, 2, raw);
            return command;
        };
        ASSERT_TRUE(Shell(fill(c.make)));
        ASSERT_TRUE(c.decode.empty() || Shell(fill(c.decode)));
        if (c.patch) {
            Bytes bytes = test::ReadBytes(path);
            c.patch(bytes);
            dir.Write(c.name + ".wav", bytes);
        }
        TestWav wav(path);
        const auto started = std::chrono::steady_clock::now();
        if (c.decode.empty()) {
            EXPECT_EQ(wav.LoadInfo(), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
            const std::optional<UserMessage> error = wav.TakeError();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->Formatted(), path + " is not a valid WAVE file.");
            continue;
        }
        ASSERT_EQ(wav.LoadInfo(), 1);
        EXPECT_TRUE(c.channels == 0 || wav.GetChannels() == c.channels);
        ASSERT_EQ(wav.OpenStream(), 1);
        Bytes got;
        std::vector<uint8_t> buf(1024 * 8);
        const int sampleBytes = wav.Bits() / 8;
        const int blockAlign = wav.GetChannels() * sampleBytes;
        for (int n; (n = wav.ReadFrames(buf.data(), 1024)) > 0;) {
            got.insert(got.end(), buf.begin(), buf.begin() + n * blockAlign);
        }
        EXPECT_EQ(wav.CloseStream(), 1);
        const std::vector<int64_t> ours = Samples(got, sampleBytes);
        const std::vector<int64_t> theirs = Samples(test::ReadBytes(raw), sampleBytes);
        ASSERT_EQ(ours.size(), theirs.size());
        // Scaled to the output's width, float rounding may differ by a 16-bit step.
        const int64_t step = c.tolerance * (sampleBytes == 4 ? 65536 : 1);
        int64_t worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            worst = std::max(worst, std::abs(ours[i] - theirs[i]));
        EXPECT_LE(worst, step);
        EXPECT_NEAR(wav.GetDuration(), 300, 1);  // truncated to whole ms
        EXPECT_FALSE(wav.TakeError());
    }
}

// A mix-down keeps each side to its side, spreads the centre over both and
// leaves out the low-frequency channel; full scale everywhere never clips.
TEST_F(WavSourceTest, SixChannels_MixDownToStereo) {
    struct Frame {
        int16_t fl, fr, fc, lfe, bl, br;
    };
    const std::vector<Frame> frames = {
        {16000, 0, 0, 0, 0, 0},
        {0, 0, 16000, 0, 0, 0},
        {0, 0, 0, 32000, 0, 0},
        {0, 0, 0, 0, 0, 16000},
        {32767, 32767, 32767, 32767, 32767, 32767},
    };
    Bytes data;
    for (const Frame& f : frames)
        for (int16_t v : {f.fl, f.fr, f.fc, f.lfe, f.bl, f.br}) test::Put16(data, uint16_t(v));
    const auto path = dir_.Write(
        "six.wav", Riff("WAVE", {test::FmtChunk(Fmt().Channels(6)), Chunk("data", data)}));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    EXPECT_EQ(wav.GetChannels(), 2);
    EXPECT_EQ(wav.GetFormatName(), "16 Bit PCM, 6 channels mixed to stereo");
    ASSERT_EQ(wav.OpenStream(), 1);
    std::vector<int16_t> pcm(2 * 8);
    ASSERT_EQ(wav.ReadFrames(pcm.data(), 8), 5);
    const int front = 16000 * 1000 / 2414, centre = 16000 * 707 / 2414;
    EXPECT_NEAR(pcm[0], front, 10);
    EXPECT_EQ(pcm[1], 0);
    EXPECT_NEAR(pcm[2], centre, 10);
    EXPECT_EQ(pcm[2], pcm[3]);
    EXPECT_EQ(pcm[4], 0);
    EXPECT_EQ(pcm[5], 0);
    EXPECT_EQ(pcm[6], 0);
    EXPECT_NEAR(pcm[7], centre, 10);
    EXPECT_NEAR(pcm[8], 32767, 2);
    EXPECT_NEAR(pcm[9], 32767, 2);
    EXPECT_EQ(wav.CloseStream(), 1);
}

// The INFO list names title, artist, album and genre; the title shows while
// "UseID3Title" is on, like a tag's.
TEST_F(WavSourceTest, InfoListGivesTags) {
    Bytes info;
    test::PutId(info, "INFO");
    for (const auto& [id, text] :
         std::vector<std::pair<const char*, std::string>>{{"INAM", std::string("Caf\xe9\0", 5)},
                                                          {"IART", "Artist"},
                                                          {"IPRD", "Album"},
                                                          {"IGNR", "Pop"}}) {
        const Bytes chunk = Chunk(id, Bytes(text.begin(), text.end()));
        info.insert(info.end(), chunk.begin(), chunk.end());
    }
    const auto path = dir_.Write(
        "tagged.wav", Riff("WAVE", {test::FmtChunk({}), Chunk("data", test::CountingFrames16(10)),
                                    Chunk("LIST", info)}));
    TestWav wav(path);
    ASSERT_EQ(wav.LoadInfo(), 1);
    EXPECT_EQ(wav.GetTitle(), "Caf\xc3\xa9");
    EXPECT_EQ(wav.GetArtist(), "Artist");
    EXPECT_EQ(wav.GetAlbum(), "Album");
    EXPECT_EQ(wav.GetCategory(), "Pop");
    SetUseId3TitleQuery([] { return false; });
    EXPECT_EQ(wav.GetTitle(), "tagged");
    SetUseId3TitleQuery({});
}

}  // namespace
}  // namespace tunara
