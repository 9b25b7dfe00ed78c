#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "Mp3Fixtures.h"
#include "TestTools.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "sources/SourceSettings.h"
#include "support/Eventually.h"

using namespace tunara;
using namespace tunara::testing;

namespace {

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out;
}

// The best alignment of `part` inside `whole` (left channel of stereo) near
// `expected`, in frames; the mean absolute difference there in `error`.
long BestLag(const std::vector<int16_t>& whole, const std::vector<int16_t>& part, long expected,
             long range, double& error) {
    const long frames = std::min<long>(long(part.size()) / 2, 2048);
    long best = 0;
    double bestCost = 1e300;
    for (long lag = -range; lag <= range; ++lag) {
        const long at = expected + lag;
        if (at < 0 || (at + frames) * 2 > long(whole.size())) continue;
        double cost = 0;
        for (long i = 0; i < frames; ++i) cost += std::abs(whole[2 * (at + i)] - part[2 * i]);
        if (cost < bestCost) bestCost = cost, best = lag;
    }
    error = bestCost / double(frames);
    return best;
}

}  // namespace

// CBR: "MP3" and the stream's bit rate; the quick estimate agrees with the
// full scan within 1%.
TEST(Mp3Source, Cbr_QuickScanAgreesWithFullScan) {
    REQUIRE_MP3_FILES();
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["cbr"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_EQ(s.GetFormatName(), "MP3");
    EXPECT_EQ(s.GetBitRate(), 128000);
    EXPECT_EQ(s.GetSampleRate(), 44100);
    EXPECT_EQ(s.GetChannels(), 2);
    EXPECT_EQ(s.GetTitle(), "cbr");  // no tag: the file name
    const int quickMs = s.GetDuration();
    EXPECT_NEAR(quickMs, 40000, 200);

    s.OpenStream();  // the index is built before the decoder is opened
    ASSERT_FALSE(tunara::testing::Mp3SourceProbe::FrameIndex(s).empty());
    EXPECT_EQ(s.GetFormatName(), "MP3");
    EXPECT_EQ(s.GetBitRate(), 128000);
    EXPECT_NEAR(quickMs, s.GetDuration(), s.GetDuration() * 0.01);
    s.CloseStream();
}

// A file cut short keeps its encoder's summary of the whole stream: the list's
// duration must still be the one the player shows once the file is open.
TEST(Mp3Source, CutShort_ListDurationAgreesWithPlaying) {
    REQUIRE_MP3_FILES();
    ScopedRecordingInteraction rec;
    for (const char* name : {"cbr", "vbr"}) {
        const std::string whole = Mp3Files::Get()[name];
        const std::string cut = ::testing::TempDir() + "cut-" + name + ".mp3";
        std::filesystem::copy_file(whole, cut, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 3);
        TestMp3Source s(cut);
        ASSERT_EQ(s.LoadInfo(), 1) << name;
        const int listed = s.GetDuration(), listedRate = s.GetBitRate();
        s.OpenStream();
        EXPECT_NEAR(listed, s.GetDuration(), s.GetDuration() * 0.05) << name;
        EXPECT_NEAR(listedRate, s.GetBitRate(), s.GetBitRate() * 0.05) << name;
        EXPECT_LT(s.GetDuration(), 20000) << name;
        s.CloseStream();
        std::filesystem::remove(cut);
    }
}

// VBR: "MP3 VBR" and an average bit rate within 2% of ffprobe's. The list
// already shows a duration within 1% from the encoder's summary frame.
TEST(Mp3Source, Vbr_AverageBitRateMatchesFfprobe) {
    REQUIRE_MP3_FILES();
    TUNARA_SKIP_IF_MISSING(!HaveTool("ffprobe"), "ffprobe");
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["vbr"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_EQ(s.GetFormatName(), "MP3 VBR");
    const int quickMs = s.GetDuration();
    const int quickBitRate = s.GetBitRate();
    s.OpenStream();
    EXPECT_NEAR(quickMs, s.GetDuration(), s.GetDuration() * 0.01);
    EXPECT_NEAR(quickBitRate, s.GetBitRate(), s.GetBitRate() * 0.02);
    ASSERT_FALSE(tunara::testing::Mp3SourceProbe::FrameIndex(s).empty());
    EXPECT_EQ(s.GetFormatName(), "MP3 VBR");
    const double probed = std::atof(
        Capture("ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 '" +
                Mp3Files::Get()["vbr"] + "'")
            .c_str());
    ASSERT_GT(probed, 0);
    EXPECT_NEAR(s.GetBitRate(), probed, probed * 0.02);
    s.CloseStream();
}

// MPEG-2 at 22.05 kHz: 576-sample frames, sizes from the 72000 factor.
TEST(Mp3Source, Mpeg2Lsf_FrameLengthAndSizeFactor) {
    REQUIRE_MP3_FILES();
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["lsf"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_EQ(s.GetSampleRate(), 22050);
    EXPECT_EQ(tunara::testing::Mp3SourceProbe::FrameSamples(s), 576);
    s.OpenStream();
    const auto& index = tunara::testing::Mp3SourceProbe::FrameIndex(s);
    ASSERT_GT(index.size(), 100u);
    const Bytes file = ReadAll(Mp3Files::Get()["lsf"]);
    for (size_t i = 0; i + 1 < index.size(); ++i) {
        const uint8_t* h = file.data() + index[i];
        ASSERT_EQ(h[0], 0xFF);
        ASSERT_EQ(h[1] & 0x08, 0) << "MPEG-2";
        static const int kKbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
        const int64_t bytes = kKbps[h[2] >> 4] * 72000 / 22050 + ((h[2] >> 1) & 1);
        ASSERT_EQ(index[i + 1] - index[i], bytes) << i;
    }
    // The encoder's delay and padding trimmed: the 6 s of the source.
    EXPECT_EQ(s.GetDuration(), 6000);
    EXPECT_EQ(s.GetBitRate(), 64000);
    s.CloseStream();
}

// An ID3v1 record: the audio ends before it and the decoder never receives it.
TEST(Mp3Source, Id3v1_DecoderNeverSeesTheRecord) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    ScopedRecordingInteraction rec;
    const std::string path = Mp3Files::Get()["v1"];
    const auto size = int64_t(std::filesystem::file_size(path));
    TestMp3Source s(path);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_EQ(tunara::testing::Mp3SourceProbe::AudioEndBytes(s), size - 128);
    EXPECT_EQ(s.GetArtist(), "V1 Artist");
    EXPECT_EQ(s.GetAlbum(), "V1 Album");
    EXPECT_EQ(s.GetCategory(), "Rock");
    ASSERT_EQ(s.OpenStream(), 1);
    const auto pcm = ReadToEnd(s);
    EXPECT_NEAR(double(pcm.size()) / 2 / 44100, 5.0, 0.1);
    EXPECT_EQ(tunara::testing::Mp3SourceProbe::DecoderReadEndBytes(s),
              size - 128);  // reached the end, not a byte further
    EXPECT_FALSE(s.TakeError());
    s.CloseStream();
}

// The tag's title follows "UseID3Title" at every call; a UTF-16 title arrives as UTF-8.
TEST(Mp3Source, Title_FollowsSettingLive) {
    REQUIRE_MP3_FILES();
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["v2"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_GT(tunara::testing::Mp3SourceProbe::AudioBeginBytes(s), 10);
    EXPECT_EQ(s.GetTitle(), "Ünïcødé ♫");
    EXPECT_EQ(s.GetArtist(), "V2 Artist");
    EXPECT_EQ(s.GetCategory(), "Trip-Hop");
    bool use = false;
    SetUseId3TitleQuery([&] { return use; });
    EXPECT_EQ(s.GetTitle(), "v2");
    use = true;
    EXPECT_EQ(s.GetTitle(), "Ünïcødé ♫");
    SetUseId3TitleQuery(nullptr);
    EXPECT_TRUE(UseId3Title());
}

// Seeking lands on the target, and what follows is the decoded stream from there.
TEST(Mp3Source, Seek_LandsWithinOneFrame) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["cbr"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    ASSERT_EQ(s.OpenStream(), 1);
    const std::vector<int16_t> all = ReadToEnd(s);
    const long total = long(all.size() / 2);
    ASSERT_GT(total, 39 * 44100);
    // Reopened: the index is kept, and the first call may be a seek.
    const auto index = tunara::testing::Mp3SourceProbe::FrameIndex(s);
    s.CloseStream();
    ASSERT_EQ(s.OpenStream(), 1);
    EXPECT_EQ(tunara::testing::Mp3SourceProbe::FrameIndex(s), index);
    for (const long target : {30 * 44100L, 1000L, 44100L, total - 44100}) {
        const long reached = long(s.SeekFrame(uint32_t(target)));
        // Seeks are sample-exact now that the encoder's delay is trimmed.
        EXPECT_EQ(reached, target);
        std::vector<int16_t> part(4096 * 2);
        ASSERT_EQ(s.ReadFrames(part.data(), 4096), 4096) << target;
        double error = 0;
        EXPECT_EQ(BestLag(all, part, reached, 1152, error), 0) << target;
        EXPECT_LT(error, 1.0) << target;
    }
    EXPECT_FALSE(s.TakeError());
    s.CloseStream();
}

// Rewind delivers the blocks before the position, each in forward order; at
// the start the last block holds its frames at the front and the next read is 0.
TEST(Mp3Source, Rewind_ReachesStartAndEnds) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["cbr"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    ASSERT_EQ(s.OpenStream(), 1);
    const std::vector<int16_t> all = ReadToEnd(s, 20);
    const long start = long(s.SeekFrame(10 * 1152));
    s.SetStateForTest(PlayState::Rewind);
    std::vector<std::vector<int16_t>> blocks;
    std::vector<int16_t> buffer(1024 * 2);
    int n;
    while ((n = s.ReadFrames(buffer.data(), 1024)) > 0 && blocks.size() < 100)
        blocks.emplace_back(buffer.begin(), buffer.begin() + 2 * n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(s.ReadFrames(buffer.data(), 1024), 0);
    std::vector<int16_t> forward;
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        forward.insert(forward.end(), it->begin(), it->end());
    const long delivered = long(forward.size() / 2);
    EXPECT_EQ(delivered, start);  // every frame before the position, none skipped
    ASSERT_LE(forward.size(), all.size());
    long mismatches = 0;
    for (size_t i = 0; i < forward.size(); ++i) mismatches += std::abs(forward[i] - all[i]) > 1;
    EXPECT_EQ(mismatches, 0);
    s.SetStateForTest(PlayState::Stopped);
    s.CloseStream();
}

// A mono file is delivered as mono frames.
TEST(Mp3Source, Mono_DeliversOneChannel) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    ScopedRecordingInteraction rec;
    TestMp3Source s(Mp3Files::Get()["mono"]);
    ASSERT_EQ(s.LoadInfo(), 1);
    EXPECT_EQ(s.GetChannels(), 1);
    ASSERT_EQ(s.OpenStream(), 1);
    std::vector<int16_t> pcm;
    std::vector<int16_t> buffer(1024);
    int n;
    while ((n = s.ReadFrames(buffer.data(), 1024)) > 0)
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + n);
    EXPECT_NEAR(double(pcm.size()) / 44100, 3.0, 0.1);
    s.CloseStream();
}

// Files that are not MP3 (or not there) give "Failed to open the file %1." and 0.
TEST(Mp3Source, NotMp3_FailsToOpenWithMessage) {
    TempDir dir;
    const std::string text = dir.Write("notes.mp3", B("just some text, no frames at all\n"));
    const std::string wav = dir.Write("sound.mp3", Cat({B("RIFF"), Bytes(40, 0)}));
    for (const std::string& path : {text, wav, dir.File("missing.mp3")}) {
        ScopedRecordingInteraction rec;
        TestMp3Source s(path);
        EXPECT_EQ(s.LoadInfo(), 0) << path;
        const std::optional<UserMessage> error = s.TakeError();
        ASSERT_TRUE(error) << path;
        EXPECT_EQ(error->stringId, strings::kMp3FailedToOpen);
        EXPECT_EQ(error->Formatted(), "Failed to open the file " + path + ".");
        EXPECT_EQ(s.OpenStream(), 0);
        EXPECT_TRUE(s.TakeError());
        EXPECT_TRUE(rec->errors.empty());  // the source never tells the user itself
    }
}

// A long stretch of frames the decoder refuses is searched past: what follows plays, and at
// most one "MP3 decode error." is reported.
TEST(Mp3Source, RefusedStretch_PlaysOnReportedAtMostOnce) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    std::vector<int64_t> index;
    {
        TestMp3Source clean(Mp3Files::Get()["cbr"]);
        ASSERT_EQ(clean.LoadInfo(), 1);
        clean.OpenStream();
        index = tunara::testing::Mp3SourceProbe::FrameIndex(clean);
        clean.CloseStream();
    }
    ASSERT_GT(index.size(), 400u);
    // Frames 150 to 299 get Layer II headers, each refused by the decoder.
    Bytes file = ReadAll(Mp3Files::Get()["cbr"]);
    for (size_t i = 150; i < 300; ++i) file[size_t(index[i]) + 1] = 0xFD;
    TempDir dir;
    TestMp3Source s(dir.Write("damaged.mp3", file));
    ASSERT_EQ(s.LoadInfo(), 1);
    ASSERT_EQ(s.OpenStream(), 1);
    std::vector<UserMessage> errors;
    std::vector<int16_t> buffer(2048);
    size_t played = 0;
    while (int n = s.ReadFrames(buffer.data(), 1024)) {
        played += size_t(n);
        if (auto e = s.TakeError()) errors.push_back(*e);
    }
    EXPECT_GT(played, (index.size() - 150 - 2) * 1152);
    ASSERT_LE(errors.size(), 1u);
    for (const auto& e : errors) EXPECT_EQ(e.stringId, strings::kMp3DecodeError);
    s.CloseStream();
}

// A file that loses its data while it plays (a vanished disk or share) is a
// decode error, not a quiet early end.
TEST(Mp3Source, ReadFailureWhilePlaying_Reported) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    TempDir dir;
    const std::string path = dir.Write("going.mp3", ReadAll(Mp3Files::Get()["cbr"]));
    TestMp3Source s(path);
    ASSERT_EQ(s.LoadInfo(), 1);
    ASSERT_EQ(s.OpenStream(), 1);
    std::vector<int16_t> buffer(2048);
    ASSERT_GT(s.ReadFrames(buffer.data(), 1024), 0);
    ASSERT_EQ(::truncate(path.c_str(), tunara::testing::Mp3SourceProbe::AudioBeginBytes(s) + 20000),
              0);
    for (int reads = 0; reads < 5000 && s.ReadFrames(buffer.data(), 1024) > 0; ++reads) {
    }
    const std::optional<UserMessage> error = s.TakeError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->stringId, strings::kMp3DecodeError);
    s.CloseStream();
}

// Through the engine into a WAV file: what is played is exactly the decoded
// stream, and the run ends by itself at the end of the file.
TEST(Mp3Source, PlayThroughEngine_WritesTheDecodedStream) {
    REQUIRE_MP3_FILES();
    REQUIRE_DECODER();
    ScopedRecordingInteraction rec;
    std::vector<int16_t> decoded;
    {
        TestMp3Source s(Mp3Files::Get()["v1"]);
        ASSERT_EQ(s.LoadInfo(), 1);
        ASSERT_EQ(s.OpenStream(), 1);
        decoded = ReadToEnd(s);
        s.CloseStream();
    }
    TempDir dir;
    const std::string out = dir.File("played.wav");
    const char* previous = std::getenv("TUNARA_AUDIO");
    const std::string saved = previous ? previous : "";
    ::setenv("TUNARA_AUDIO", ("file:" + out).c_str(), 1);
    {
        Mp3Source s(tunara::testing::TestEngine());
        s.SetLocation(Mp3Files::Get()["v1"]);
        ASSERT_EQ(s.LoadInfo(), 1);
        ASSERT_EQ(s.Open(), 1);
        s.Play();
        EXPECT_TRUE(Eventually([&] { return s.IsPlaying() == 0; }, std::chrono::seconds(10),
                               std::chrono::milliseconds(10)));
        s.Stop();
        s.Close();
        EXPECT_FALSE(s.TakeError());
    }
    previous ? ::setenv("TUNARA_AUDIO", saved.c_str(), 1) : ::unsetenv("TUNARA_AUDIO");
    const Bytes wav = ReadAll(out);
    ASSERT_GT(wav.size(), 44u);
    const auto* pcm = reinterpret_cast<const int16_t*>(wav.data() + 44);
    const std::vector<int16_t> played(pcm, pcm + (wav.size() - 44) / 2);
    EXPECT_EQ(played.size(), decoded.size());
    EXPECT_TRUE(std::equal(played.begin(), played.begin() + std::min(played.size(), decoded.size()),
                           decoded.begin()));
}
