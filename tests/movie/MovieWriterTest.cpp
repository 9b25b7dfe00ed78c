#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kvmc/kvmc.h"
#include "platform/movie/MovieWriter.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace tunara::movie;

namespace {

using tunara::testing::TempDir;

// key=value lines of ffprobe's stream and format sections (stream keys win).
std::map<std::string, std::string> Probe(const fs::path& file) {
    std::map<std::string, std::string> out;
    const std::string cmd =
        "ffprobe -v error -count_packets -show_streams -show_format '" + file.string() + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char line[512];
    std::string section;
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (s == "[STREAM]" || s == "[FORMAT]") section = s;
        const auto eq = s.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = (section == "[FORMAT]" ? "format." : "") + s.substr(0, eq);
        out.emplace(key, s.substr(eq + 1));
    }
    ::pclose(p);
    return out;
}

// Writes `packets` packets of a KVMC stream the way the recording job does.
MovieStatus WriteKvmcMovie(MovieWriter& movie, const fs::path& path, int channels, int rate,
                           int bitRate, int packets) {
    KvmcStreamInfo info{1, channels, rate, bitRate, 0, 0, 0};
    EXPECT_EQ(kvmcStreamValues(&info), 0);
    const KvmcParams params = kvmcRecordParams(bitRate);
    SoundDescription d;
    d.dataFormat = FourCc("KVM2");
    d.channels = uint16_t(channels);
    d.sampleRateFixed = uint32_t(rate) << 16;
    d.samplesPerPacket = uint32_t(info.samplesPerPacket);
    d.bytesPerPacket = uint32_t(info.bytesPerPacket / 2);
    d.bytesPerFrame = uint32_t(info.bytesPerPacket);
    d.bytesPerSample = 2;
    d.waveExtension.resize(kKvmcExtensionBytes);
    kvmcWriteExtension(&info, &params, d.waveExtension.data());

    KvmcHandle enc = nullptr;
    EXPECT_EQ(kvmcOpen(&enc), 0);
    EXPECT_EQ(kvmcConfigure(enc, &info, &params), 0);
    const int H = info.samplesPerPacket;
    std::vector<int16_t> window(size_t(5 * H * channels));
    std::vector<uint8_t> packet(size_t(info.bytesPerPacket));
    for (size_t i = 0; i < window.size(); ++i)
        window[i] = int16_t(8000 * std::sin(0.05 * double(i)));

    MovieStatus s = movie.Create(path.string());
    if (s == MovieStatus::kOk) s = movie.AddTrack(0, 0, 256);
    if (s == MovieStatus::kOk) s = movie.AddMedia(FourCc("soun"), rate);
    if (s == MovieStatus::kOk) s = movie.SetSoundDescription(d);
    if (s == MovieStatus::kOk) s = movie.BeginMediaEdits();
    for (int i = 0; i < packets && s == MovieStatus::kOk; ++i) {
        EXPECT_EQ(kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(),
                                   int32_t(packet.size()), packet.data()),
                  0);
        s = movie.AddMediaSample(packet.data(), uint32_t(packet.size()), 1, H, 0);
    }
    kvmcClose(&enc);
    if (s == MovieStatus::kOk) s = movie.EndMediaEdits();
    if (s == MovieStatus::kOk) s = movie.InsertMediaIntoTrack(0, 0, movie.MediaDuration(), 0x10000);
    if (s == MovieStatus::kOk) s = movie.AddMovieResource();
    return s;
}

struct StreamCase {
    int channels, rate, bitRate, packets;
};

class MovieProbe : public ::testing::TestWithParam<StreamCase> {};

// ffprobe sees one KVM2 audio stream with the stream's channels, rate, packets and duration.
TEST_P(MovieProbe, FfprobeReadsTheMovie) {
    const StreamCase c = GetParam();
    TempDir dir;
    const fs::path file = dir.path / "track.mov";
    MovieWriter movie;
    ASSERT_EQ(WriteKvmcMovie(movie, file, c.channels, c.rate, c.bitRate, c.packets),
              MovieStatus::kOk);
    EXPECT_FALSE(fs::exists(file)) << "the final name appears only at Close";
    ASSERT_EQ(movie.Close(), MovieStatus::kOk);
    EXPECT_EQ(dir.Entries(), 1u);

    auto p = Probe(file);
    ASSERT_EQ(p["format.nb_streams"], "1") << "ffprobe output missing";
    EXPECT_EQ(p["codec_type"], "audio");
    EXPECT_EQ(p["codec_tag_string"], "KVM2");
    EXPECT_EQ(p["channels"], std::to_string(c.channels));
    EXPECT_EQ(p["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(p["nb_read_packets"], std::to_string(c.packets));
    const int H = c.rate < 16000 ? 1024 : c.rate < 32000 ? 2048 : 4096;
    const double expected = double(c.packets) * H / c.rate;
    EXPECT_NEAR(std::atof(p["duration"].c_str()), expected, double(H) / c.rate);
}

INSTANTIATE_TEST_SUITE_P(Streams, MovieProbe,
                         ::testing::Values(StreamCase{2, 44100, 128000, 40},
                                           StreamCase{2, 44100, 48000, 17},
                                           StreamCase{1, 22050, 32000, 33},
                                           StreamCase{1, 11025, 8000, 5},
                                           StreamCase{2, 48000, 320000, 1}));

// A movie that is never closed leaves nothing behind, neither the final name nor the
// temporary file; so does a discarded one.
TEST(MovieWriter, UnclosedOrDiscardedMovieLeavesNoFile) {
    TempDir dir;
    {
        MovieWriter movie;
        ASSERT_EQ(WriteKvmcMovie(movie, dir.path / "a.mov", 2, 44100, 128000, 3), MovieStatus::kOk);
        EXPECT_TRUE(fs::exists(movie.TemporaryPath()));
        EXPECT_EQ(fs::path(movie.TemporaryPath()).parent_path(), dir.path);
    }
    {
        MovieWriter movie;
        ASSERT_EQ(WriteKvmcMovie(movie, dir.path / "b.mov", 2, 44100, 128000, 3), MovieStatus::kOk);
        movie.Discard();
        EXPECT_NE(movie.Close(), MovieStatus::kOk);
    }
    EXPECT_EQ(dir.Entries(), 0u);
}

// Calls out of order fail and keep failing; nothing is renamed into place.
TEST(MovieWriter, CallsOutOfOrderFail) {
    TempDir dir;
    MovieWriter movie;
    ASSERT_EQ(movie.Create((dir.path / "c.mov").string()), MovieStatus::kOk);
    uint8_t byte = 0;
    EXPECT_EQ(movie.AddMediaSample(&byte, 1, 1, 1, 0), MovieStatus::kBadCall);
    EXPECT_EQ(movie.AddTrack(0, 0, 256), MovieStatus::kBadCall);
    EXPECT_EQ(movie.Close(), MovieStatus::kBadCall);
    EXPECT_EQ(dir.Entries(), 0u);

    MovieWriter missing;
    EXPECT_EQ(missing.Create("/nonexistent-folder/x.mov"), MovieStatus::kCannotCreate);
}

// Beyond 4 GiB the chunk offsets take 64 bits and ffprobe still finds every packet.
// Writes 4.1 GiB; runs when TUNARA_LARGE_TESTS=1.
TEST(MovieWriter, LargeMovieUses64BitOffsets) {
    if (!std::getenv("TUNARA_LARGE_TESTS")) GTEST_SKIP() << "set TUNARA_LARGE_TESTS=1";
    TempDir dir;
    const fs::path file = dir.path / "big.mov";
    const uint32_t chunk = 256u << 20;
    void* zeros = ::mmap(nullptr, chunk, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    MovieWriter movie;
    SoundDescription d;
    d.dataFormat = FourCc("KVM2");
    d.channels = 2;
    d.sampleRateFixed = 44100u << 16;
    ASSERT_EQ(movie.Create(file.string()), MovieStatus::kOk);
    ASSERT_EQ(movie.AddTrack(0, 0, 256), MovieStatus::kOk);
    ASSERT_EQ(movie.AddMedia(FourCc("soun"), 44100), MovieStatus::kOk);
    ASSERT_EQ(movie.SetSoundDescription(d), MovieStatus::kOk);
    ASSERT_EQ(movie.BeginMediaEdits(), MovieStatus::kOk);
    const int count = 17;  // 4.25 GiB
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(movie.AddMediaSample(static_cast<uint8_t*>(zeros), chunk, 1, 4096, 0),
                  MovieStatus::kOk);
    ::munmap(zeros, chunk);
    ASSERT_EQ(movie.EndMediaEdits(), MovieStatus::kOk);
    ASSERT_EQ(movie.InsertMediaIntoTrack(0, 0, movie.MediaDuration(), 0x10000), MovieStatus::kOk);
    ASSERT_EQ(movie.AddMovieResource(), MovieStatus::kOk);
    ASSERT_EQ(movie.Close(), MovieStatus::kOk);
    auto p = Probe(file);
    EXPECT_EQ(p["codec_tag_string"], "KVM2");
    EXPECT_EQ(p["nb_read_packets"], std::to_string(count));
}

}  // namespace
