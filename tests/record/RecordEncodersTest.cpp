// Recording through the real encoders: MP3 files that decode to the disc's
// audio, tagged as the job promises, and KVMC movies that ffprobe reads.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>

#include "metadata/Id3Tag.h"
#include "mp3enc/mp3enctail.h"
#include "mpegdec/DecodeHelpers.h"
#include "mpegdec/mpegstream.h"
#include "record/RecordTestSupport.h"
#include "ui/core/RecordName.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;
using test::FilesIn;
using testing::PumpUntil;

std::string RunTool(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    ::pclose(p);
    return out;
}

// Signal-to-noise ratio (dB) of `decoded` against `original` (both
// interleaved stereo) at the codec delay that fits best, edges left out.
double AlignedSnrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
    const size_t frames = original.size() / 2, edge = 1500;
    double best = -1e9;
    size_t bestLag = 0;
    for (size_t lag = 0; lag < 3000; ++lag) {
        double dot = 0;
        for (size_t i = edge; i + edge < frames && 2 * (i + lag) < decoded.size(); i += 7)
            dot += double(original[2 * i]) * decoded[2 * (i + lag)];
        if (dot > best) best = dot, bestLag = lag;
    }
    double signal = 0, noise = 0;
    for (size_t i = edge; i + edge < frames && 2 * (i + bestLag) + 1 < decoded.size(); ++i)
        for (size_t c = 0; c < 2; ++c) {
            double s = original[2 * i + c], d = decoded[2 * (i + bestLag) + c];
            signal += s * s;
            noise += (s - d) * (s - d);
        }
    return noise > 0 ? 10 * std::log10(signal / noise) : 200;
}

// SNR (dB) of the original's last 100 ms (interleaved stereo) against the decoded stream at
// offset 0; -100 when the decoded stream ends before them.
double EndSnrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
    const size_t frames = original.size() / 2, span = 4410;
    if (frames < span || 2 * frames > decoded.size()) return -100;
    double signal = 0, noise = 0;
    for (size_t i = frames - span; i < frames; ++i)
        for (size_t c = 0; c < 2; ++c) {
            const double s = original[2 * i + c], d = decoded[2 * i + c];
            signal += s * s;
            noise += (s - d) * (s - d);
        }
    return noise > 0 ? 10 * std::log10(signal / noise) : 200;
}

// Our decoder through the stream tier, as a player plays the file: the Info frame's delay and
// padding trimmed.
std::vector<int16_t> DecodeTrimmed(const std::vector<char>& file) {
    std::vector<uint8_t> bytes(file.begin(), file.end());
    MpegStreamLayout layout;
    if (!mpegStreamLayout(bytes.data(), bytes.size(), &layout)) return {};
    std::vector<uint8_t> audio(bytes.begin() + layout.audioFrame, bytes.end());
    const auto pcm = mpegtest::DecodeAll(audio).pcm;
    const MpegStreamTrim trim =
        mpegStreamTrim(layout.frames, mpegHeaderSamplesPerFrame(layout.first),
                       layout.summary.encoderDelay, layout.summary.encoderPadding);
    const size_t channels = size_t(mpegHeaderChannels(layout.first));
    if (pcm.size() < size_t(trim.skip + trim.keep) * channels) return {};
    return std::vector<int16_t>(pcm.begin() + trim.skip * int64_t(channels),
                                pcm.begin() + (trim.skip + trim.keep) * int64_t(channels));
}

class RecordEncodersTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = testing::MakeCdImage(dir.path / "img", {113, 150, 76, 120, 131});
        ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
        fs::create_directories(temp);
    }
    void TearDown() override { ::unsetenv("TUNARA_CD_IMAGES"); }

    RecordJobConfig Config(std::vector<int> numbers, RecordEncoder encoder, int kbps) {
        RecordJobConfig c;
        for (int n : numbers) {
            RecordTrack t;
            t.number = n;
            t.title = "Song " + std::to_string(n);
            t.artist = "The Band";
            t.album = "First Light";
            t.category = n == 2 ? "Rock" : "Sea Shanties";
            t.lengthMs = image.LengthMs(n - 1);
            c.tracks.push_back(t);
        }
        c.drive = image.cue;
        c.encoder = encoder;
        c.bitRateKbps = kbps;
        c.folder = out.string();
        c.tempFolder = temp.string();
        c.recordName = [kbps](const RecordTrack& t) {
            return BuildRecordName(t.album, t.artist, t.title, t.number, kbps, {0, 1, 2, 5});
        };
        c.addToPlaylist = [](const std::string&) {};
        return c;
    }

    void Run(RecordJob& job) {
        job.Start();
        ASSERT_TRUE(PumpUntil(queue, [&] {
            return job.State() == RecordState::Finished || job.State() == RecordState::Closed;
        }));
        ASSERT_EQ(job.State(), RecordState::Finished)
            << (view.messages.empty() ? "" : view.messages[0].second);
    }

    testing::TempDir dir;
    testing::CdImage image;
    fs::path temp = dir.path / "tmp";
    fs::path out = dir.path / "Music";
    PostedQueue queue;
    test::FakeView view;
};

// Two tracks at 64 kbit/s with the fast encoder: files named by the rule,
// each ending in an ID3v1.1 tag with the track number and the genre, and
// audio that our decoder and mpg123 both turn back into the disc's tones.
TEST_F(RecordEncodersTest, FastMp3_TwoTracks_TaggedAndDecodable) {
    CdReader reader(queue);
    RecordJob job(Config({2, 4}, RecordEncoder::FastMp3, 64), reader, view, queue);
    view.job = &job;
    Run(job);
    EXPECT_EQ(view.overall.back(), 100);
    EXPECT_TRUE(std::is_sorted(view.overall.begin(), view.overall.end()));
    EXPECT_TRUE(FilesIn(temp).empty());

    const int numbers[2] = {2, 4};
    const int genres[2] = {17, 255};
    ASSERT_EQ(job.Written().size(), 2u);
    for (int k = 0; k < 2; ++k) {
        const int n = numbers[k];
        std::string path = job.Written()[size_t(k)];
        EXPECT_EQ(path,
                  (out / ("First Light - The Band - Song " + std::to_string(n) + ".mp3")).string());
        auto bytes = test::FileBytes(path);
        ASSERT_GT(bytes.size(), 1000u);
        const char* tag = bytes.data() + bytes.size() - 128;
        EXPECT_EQ(std::string(tag, 3), "TAG");
        EXPECT_EQ(uint8_t(tag[126]), n);
        EXPECT_EQ(uint8_t(tag[127]), genres[k]);
        Id3Tag v2;
        int64_t audioStart = 0;
        ASSERT_EQ(v2.readV2(path, 0, audioStart), kId3Ok);
        EXPECT_EQ(v2.title(), "Song " + std::to_string(n));
        EXPECT_EQ(v2.artist(), "The Band");
        EXPECT_EQ(v2.track(), std::to_string(n));

        const auto ours = DecodeTrimmed(bytes);
        auto original = image.Track(n - 1);
        // Gapless: exactly the track's samples, lined up at offset 0.
        EXPECT_EQ(ours.size(), original.size());
        double snrOurs = AlignedSnrDb(original, ours);
        EXPECT_GT(snrOurs, 30.0);

        std::string raw = RunTool("mpg123 -q -s '" + path + "' 2>/dev/null");
        std::vector<int16_t> theirs(raw.size() / 2);
        std::memcpy(theirs.data(), raw.data(), theirs.size() * 2);
        double snrMpg123 = AlignedSnrDb(original, theirs);
        EXPECT_GT(snrMpg123, 30.0);
        EXPECT_EQ(theirs.size(), original.size());
        // The track's last moments are in the file, not lost in the encoder's delay.
        EXPECT_GT(EndSnrDb(original, ours), 20.0);
        EXPECT_GT(EndSnrDb(original, theirs), 20.0);
        RecordProperty("snr_ours_db_track" + std::to_string(n), std::to_string(snrOurs));
        RecordProperty("snr_mpg123_db_track" + std::to_string(n), std::to_string(snrMpg123));
    }
}

// The high-quality encoder goes the same way.
TEST_F(RecordEncodersTest, HqMp3_OneTrack_Decodable) {
    CdReader reader(queue);
    RecordJob job(Config({1}, RecordEncoder::HqMp3, 128), reader, view, queue);
    view.job = &job;
    Run(job);
    const auto ours = DecodeTrimmed(test::FileBytes(job.Written().at(0)));
    EXPECT_EQ(ours.size(), image.Track(0).size());
    EXPECT_GT(AlignedSnrDb(image.Track(0), ours), 30.0);
    EXPECT_GT(EndSnrDb(image.Track(0), ours), 20.0);
}

// KVMC: ".mov" files that ffprobe reads as a KVM2 sound track of the disc's
// rate, channels and length; no ID3 tag.
TEST_F(RecordEncodersTest, Kvmc_TwoTracks_MoviesFfprobeReads) {
    CdReader reader(queue);
    RecordJob job(Config({1, 3}, RecordEncoder::Kvmc, 128), reader, view, queue);
    view.job = &job;
    Run(job);
    ASSERT_EQ(job.Written().size(), 2u);
    const int numbers[2] = {1, 3};
    for (int k = 0; k < 2; ++k) {
        std::string path = job.Written()[size_t(k)];
        EXPECT_EQ(fs::path(path).extension(), ".mov");
        std::string probe = RunTool(
            "ffprobe -v error -show_entries stream=codec_tag_string,sample_rate,channels,duration "
            "-of default=noprint_wrappers=1 '" +
            path + "' 2>&1");
        EXPECT_NE(probe.find("codec_tag_string=KVM2"), std::string::npos) << probe;
        EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << probe;
        EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
        auto at = probe.find("duration=");
        ASSERT_NE(at, std::string::npos) << probe;
        double seconds = std::atof(probe.c_str() + at + 9);
        double expected = image.LengthMs(numbers[k] - 1) / 1000.0;
        // The track plays the disc's samples, not the packets' padding and the codec's tail.
        EXPECT_NEAR(seconds, expected, 0.001);
        const std::string tags = RunTool(
            "ffprobe -v error -show_entries format_tags=title,artist,album,track -of "
            "default=noprint_wrappers=1 '" +
            path + "' 2>&1");
        EXPECT_NE(tags.find("title=Song " + std::to_string(numbers[k])), std::string::npos) << tags;
        EXPECT_NE(tags.find("album=First Light"), std::string::npos) << tags;
        EXPECT_NE(tags.find("track=" + std::to_string(numbers[k])), std::string::npos) << tags;
        auto bytes = test::FileBytes(path);
        EXPECT_NE(std::string(bytes.end() - 128, bytes.end()).substr(0, 3), "TAG");
    }
    EXPECT_TRUE(FilesIn(temp).empty());
}

// FLAC: lossless files whose samples are the disc's, bit for bit, tagged with Vorbis comments
// that ffprobe reads; nothing is left in the temporary folder.
TEST_F(RecordEncodersTest, Flac_TwoTracks_BitExactAndTagged) {
    CdReader reader(queue);
    RecordJobConfig c = Config({2, 5}, RecordEncoder::Flac, 1411);
    for (auto& t : c.tracks) t.trackTotal = 5, t.year = "1999", t.cddbDiscId = "3c012605";
    RecordJob job(std::move(c), reader, view, queue);
    view.job = &job;
    Run(job);
    ASSERT_EQ(job.Written().size(), 2u);
    const int numbers[2] = {2, 5};
    for (int k = 0; k < 2; ++k) {
        const std::string path = job.Written()[size_t(k)];
        EXPECT_EQ(fs::path(path).extension(), ".flac");
        const std::string raw = RunTool("ffmpeg -v error -i '" + path + "' -f s16le - 2>/dev/null");
        const auto original = image.Track(numbers[k] - 1);
        ASSERT_EQ(raw.size(), original.size() * 2) << path;
        EXPECT_EQ(std::memcmp(raw.data(), original.data(), raw.size()), 0) << path;
        const std::string tags =
            RunTool("ffprobe -v error -show_entries format_tags -of default=noprint_wrappers=1 '" +
                    path + "' 2>&1");
        for (const std::string& want :
             {"TITLE=Song " + std::to_string(numbers[k]), std::string("ARTIST=The Band"),
              std::string("ALBUM=First Light"), "track=" + std::to_string(numbers[k]),
              std::string("TRACKTOTAL=5"), std::string("DATE=1999"), std::string("GENRE=Rock"),
              std::string("DISCID=3c012605")})
            if (want != "GENRE=Rock" || numbers[k] == 2) {
                EXPECT_NE(tags.find(want), std::string::npos) << want << "\n" << tags;
            }
    }
    EXPECT_TRUE(FilesIn(temp).empty());
}

// The MP3 and FLAC workers on their own: the stop flag ends them after the block in hand,
// they delete their output and still report finished.
TEST(Mp3WorkerTest, Stop_DeletesOutputAndFinishes) {
    testing::TempDir dir;
    // 20 s of a tone.
    std::string wav = (dir.path / "in.wav").string();
    {
        std::vector<int16_t> s(44100 * 20 * 2);
        for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(8000 * std::sin(double(i / 2) * 0.05));
        uint8_t header[io::kWavHeaderBytes];
        io::MakeWavHeader(io::WavFormat{2, 44100, 16}, s.size() * 2, header);
        std::ofstream f(wav, std::ios::binary);
        f.write(reinterpret_cast<char*>(header), sizeof header);
        f.write(reinterpret_cast<char*>(s.data()), std::streamsize(s.size() * 2));
    }
    for (const bool flac : {false, true}) {
        std::string output = (dir.path / (flac ? "out.flac" : "out.mp3")).string();
        std::mutex m;
        std::condition_variable cv;
        std::vector<int> messages;
        auto post = [&](int message) {
            std::lock_guard lock(m);
            messages.push_back(message);
            cv.notify_all();
        };
        auto worker =
            flac ? MakeFlacWorker(output, 8, post) : MakeMp3Worker(output, 128000, true, post);
        worker->Start(wav);
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return !messages.empty(); });
        }
        worker->RequestStop();
        worker->Join();
        EXPECT_EQ(messages.back(), kRecordFinishedMessage) << output;
        EXPECT_LT(worker->EncodedMs(), 20000) << output;
        EXPECT_FALSE(fs::exists(output));
    }
}

// Input the MP3 worker cannot take fails with a reason: a bit rate MPEG
// lacks, and a rate MPEG lacks.
TEST(Mp3WorkerTest, UnusableInput_Fails) {
    testing::TempDir dir;
    auto makeWav = [&](uint32_t rate) {
        std::string wav = (dir.path / ("in" + std::to_string(rate) + ".wav")).string();
        std::vector<int16_t> s(rate / 10 * 2, 0);
        uint8_t header[io::kWavHeaderBytes];
        io::MakeWavHeader(io::WavFormat{2, rate, 16}, s.size() * 2, header);
        std::ofstream f(wav, std::ios::binary);
        f.write(reinterpret_cast<char*>(header), sizeof header);
        f.write(reinterpret_cast<char*>(s.data()), std::streamsize(s.size() * 2));
        return wav;
    };
    struct Case {
        uint32_t rate;
        int bitRate;
    } cases[] = {{44100, 100000}, {11025, 64000}};
    for (auto c : cases) {
        std::string output = (dir.path / "out.mp3").string();
        int last = 0;
        auto worker = MakeMp3Worker(output, c.bitRate, true, [&](int message) { last = message; });
        worker->Start(makeWav(c.rate));
        worker->Join();
        EXPECT_EQ(last, kRecordFailedMessage);
        EXPECT_FALSE(worker->FailureText().empty());
        EXPECT_FALSE(fs::exists(output));
    }
}

}  // namespace
}  // namespace tunara
