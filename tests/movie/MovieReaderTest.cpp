// The reader against the writer, and against damaged sample tables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "kvmc/kvmc.h"
#include "platform/movie/MovieReader.h"
#include "platform/movie/MovieWriter.h"

using namespace tunara::movie;

namespace {

std::vector<uint8_t> WriteMovie(int packets, std::vector<std::vector<uint8_t>>& written,
                                const MovieTexts& texts = {}) {
    char tmpl[] = "/tmp/tunara-reader-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string path = dir + "/m.mov";
    KvmcStreamInfo info{1, 2, 44100, 128000, 0, 0, 0};
    EXPECT_EQ(kvmcStreamValues(&info), 0);
    const KvmcParams params = kvmcRecordParams(128000);
    SoundDescription d;
    d.dataFormat = FourCc("KVM2");
    d.channels = 2;
    d.sampleRateFixed = 44100u << 16;
    d.samplesPerPacket = uint32_t(info.samplesPerPacket);
    d.bytesPerPacket = uint32_t(info.bytesPerPacket / 2);
    d.bytesPerFrame = uint32_t(info.bytesPerPacket);
    d.bytesPerSample = 2;
    d.waveExtension.resize(kKvmcExtensionBytes);
    kvmcWriteExtension(&info, &params, d.waveExtension.data());
    MovieWriter movie;
    EXPECT_EQ(movie.Create(path), MovieStatus::kOk);
    EXPECT_EQ(movie.AddTrack(0, 0, 256), MovieStatus::kOk);
    EXPECT_EQ(movie.AddMedia(FourCc("soun"), 44100), MovieStatus::kOk);
    EXPECT_EQ(movie.SetSoundDescription(d), MovieStatus::kOk);
    EXPECT_EQ(movie.SetTexts(texts), MovieStatus::kOk);
    EXPECT_EQ(movie.BeginMediaEdits(), MovieStatus::kOk);
    for (int i = 0; i < packets; ++i) {
        std::vector<uint8_t> p(size_t(info.bytesPerPacket), uint8_t(i * 7 + 1));
        EXPECT_EQ(movie.AddMediaSample(p.data(), uint32_t(p.size()), 1, 4096, 0), MovieStatus::kOk);
        written.push_back(p);
    }
    EXPECT_EQ(movie.EndMediaEdits(), MovieStatus::kOk);
    EXPECT_EQ(movie.InsertMediaIntoTrack(0, 0, 4096 * packets - 1000, 0x10000), MovieStatus::kOk);
    EXPECT_EQ(movie.AddMovieResource(), MovieStatus::kOk);
    EXPECT_EQ(movie.Close(), MovieStatus::kOk);
    FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<uint8_t> bytes;
    uint8_t block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
    std::filesystem::remove_all(dir);
    return bytes;
}

TEST(MovieReader, ReadsBackWhatTheWriterStored) {
    std::vector<std::vector<uint8_t>> written;
    const auto bytes = WriteMovie(9, written);
    MovieReader r;
    ASSERT_EQ(r.OpenMemory(bytes), MovieReadStatus::kOk);
    const SoundTrackInfo& s = r.Sound();
    EXPECT_EQ(s.dataFormat, FourCc("KVM2"));
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.sampleRate, 44100u);
    EXPECT_EQ(s.mediaTimeScale, 44100);
    EXPECT_EQ(s.mediaDuration, 9 * 4096);
    // The edit list keeps the length to the sample.
    EXPECT_EQ(s.playDuration, 9 * 4096 - 1000);
    KvmcStreamInfo info{};
    KvmcParams params{};
    EXPECT_EQ(
        kvmcReadExtension(s.waveExtension.data(), int32_t(s.waveExtension.size()), &info, &params),
        0);
    EXPECT_EQ(info.bytesPerPacket, 1486);
    ASSERT_EQ(r.SampleCount(), 9u);
    std::vector<uint8_t> sample;
    for (size_t i = 0; i < 9; ++i) {
        ASSERT_TRUE(r.ReadSample(i, sample));
        EXPECT_EQ(sample, written[i]) << i;
        EXPECT_EQ(r.SampleTime(i), int64_t(i) * 4096);
    }
}

// The user data's texts come back as written, in UTF-8.
TEST(MovieReader, ReadsTheUserDataTexts) {
    std::vector<std::vector<uint8_t>> written;
    const MovieTexts texts{"Ode to Joy \xE2\x99\xAA",
                           "Bj\xC3\xB6rk & \xE6\x9D\xB1\xE4\xBA\xAC",
                           "Album",
                           "2001",
                           "Rock",
                           "Tunara",
                           3,
                           12};
    MovieReader r;
    ASSERT_EQ(r.OpenMemory(WriteMovie(2, written, texts)), MovieReadStatus::kOk);
    const MovieTexts& t = r.Texts();
    EXPECT_EQ(t.title, texts.title);
    EXPECT_EQ(t.artist, texts.artist);
    EXPECT_EQ(t.album, texts.album);
    EXPECT_EQ(t.year, texts.year);
    EXPECT_EQ(t.genre, texts.genre);
    EXPECT_EQ(t.track, 3);
    EXPECT_EQ(t.trackTotal, 12);
    // Without texts the movie has no user data at all.
    ASSERT_EQ(r.OpenMemory(WriteMovie(2, written)), MovieReadStatus::kOk);
    EXPECT_TRUE(r.Texts().title.empty());
    EXPECT_EQ(r.Texts().track, 0);
}

TEST(MovieReader, DamagedMoviesGiveAStatus) {
    std::vector<std::vector<uint8_t>> written;
    const auto bytes = WriteMovie(3, written);
    MovieReader r;
    EXPECT_EQ(r.OpenMemory({}), MovieReadStatus::kNotAMovie);
    // Cut inside the movie resource.
    EXPECT_NE(r.OpenMemory(std::vector<uint8_t>(bytes.begin(), bytes.end() - 40)),
              MovieReadStatus::kOk);
    // A chunk offset past the end of the file.
    auto bad = bytes;
    const uint8_t stco[] = {'s', 't', 'c', 'o'};
    auto at = std::search(bad.begin(), bad.end(), stco, stco + 4) - bad.begin();
    ASSERT_LT(size_t(at), bad.size());
    bad[size_t(at) + 12] = 0x7F;
    EXPECT_EQ(r.OpenMemory(bad), MovieReadStatus::kBadTable);
    // A sample count far beyond the file.
    bad = bytes;
    const uint8_t stsz[] = {'s', 't', 's', 'z'};
    at = std::search(bad.begin(), bad.end(), stsz, stsz + 4) - bad.begin();
    bad[size_t(at) + 12] = 0x7F;
    EXPECT_EQ(r.OpenMemory(bad), MovieReadStatus::kBadTable);
    EXPECT_EQ(r.Open("/nonexistent/movie.mov"), MovieReadStatus::kCannotOpen);
}

}  // namespace
