// Gapless MP3s: what `encode` writes, and what other encoders write, decodes to exactly the
// source's samples at offset 0; tags reach our readers and ffprobe; a signal leaves no file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestTools.h"
#include "platform/io/WavHeader.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = std::string(TUNARA_BINARY_DIR) + "/app/tunara-cli";

using tunara::testing::TempDir;

std::string Output(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    ::pclose(p);
    return out;
}

int Shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool Have(const char* tool) {
    return Shell(std::string("command -v ") + tool + " >/dev/null 2>&1") == 0;
}

// A rising chirp: its correlation peaks sharply, so a shift of a few samples shows. `level`
// shapes it over time (and may add to it), for material whose bit-rate demand varies.
std::vector<int16_t> WriteChirp(const std::string& path, int rate, int channels, int frames,
                                double (*level)(double t, int i) = nullptr) {
    std::vector<int16_t> s(size_t(frames) * size_t(channels));
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate, f = 200 + 3000 * t;
        for (int c = 0; c < channels; ++c) {
            const double v = 9000 * std::sin(2 * M_PI * f * t + c);
            s[size_t(i * channels + c)] =
                int16_t(level ? std::clamp(v * level(t, i * channels + c), -32768.0, 32767.0) : v);
        }
    }
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({uint16_t(channels), uint32_t(rate), 16}, s.size() * 2, header);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size() * 2));
    return s;
}

std::vector<int16_t> Samples(const std::string& raw) {
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// The shift (in frames, within +-64) at which the decoded first channel best matches the
// source's, and the normalised correlation there.
std::pair<int, double> BestShift(const std::vector<int16_t>& source,
                                 const std::vector<int16_t>& decoded, int channels) {
    const long frames = long(std::min(source.size(), decoded.size())) / channels;
    std::pair<int, double> best{0, -2};
    for (int shift = -64; shift <= 64; ++shift) {
        double dot = 0, a = 0, b = 0;
        for (long i = 100; i + 100 < frames; ++i) {
            const long j = i + shift;
            if (j < 0 || j >= frames) continue;
            const double x = source[size_t(i * channels)], y = decoded[size_t(j * channels)];
            dot += x * y;
            a += x * x;
            b += y * y;
        }
        const double r = a > 0 && b > 0 ? dot / std::sqrt(a * b) : 0;
        if (r > best.second) best = {shift, r};
    }
    return best;
}

void ExpectSourceAtOffsetZero(const std::vector<int16_t>& source, const std::string& raw,
                              int channels, const std::string& decoder, double minR = 0.9) {
    const auto decoded = Samples(raw);
    EXPECT_EQ(decoded.size(), source.size()) << decoder;
    const auto [shift, r] = BestShift(source, decoded, channels);
    EXPECT_EQ(shift, 0) << decoder;
    EXPECT_GT(r, minR) << decoder;
}

// Ours, mpg123 and ffmpeg give back exactly the source, in both qualities, mono and stereo, at
// rates of both MPEG versions and a length that is no multiple of a frame.
TEST(EncodeGapless, EncodedMp3DecodesToTheSourceAtOffsetZero) {
    TUNARA_SKIP_IF_MISSING(!Have("mpg123") || !Have("ffmpeg"), "mpg123, ffmpeg");
    TempDir dir;
    const std::string wav = dir / "in.wav", mp3 = dir / "out.mp3";
    for (int rate : {16000, 22050, 44100, 48000})
        for (int channels : {1, 2})
            for (const char* quality : {"", " --fast"}) {
                SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) +
                             " channels" + quality);
                const auto source = WriteChirp(wav, rate, channels, rate * 6 / 10 + 37);
                ASSERT_EQ(Shell(kCli + " encode " + wav + " " + mp3 + quality + " 2>/dev/null"), 0);
                ExpectSourceAtOffsetZero(source, Output(kCli + " decode " + mp3 + " - 2>/dev/null"),
                                         channels, "ours");
                ExpectSourceAtOffsetZero(source, Output("mpg123 -q -s " + mp3 + " 2>/dev/null"),
                                         channels, "mpg123");
                ExpectSourceAtOffsetZero(
                    source, Output("ffmpeg -v error -i " + mp3 + " -f s16le - 2>/dev/null"),
                    channels, "ffmpeg");
            }
    // Frames of 8 kbit/s at 16 kHz are too small for the Info frame, which takes a higher rate;
    // the file still reads as 8 kbit/s.
    const auto source = WriteChirp(wav, 16000, 1, 16000);
    ASSERT_EQ(Shell(kCli + " encode " + wav + " " + mp3 + " --bitrate 8 2>/dev/null"), 0);
    // (8 kbit/s keeps little of the chirp's top: a weaker match at the same place.)
    ExpectSourceAtOffsetZero(source, Output("mpg123 -q -s " + mp3 + " 2>/dev/null"), 1, "mpg123",
                             0.5);
    EXPECT_NE(Output(kCli + " info " + mp3).find("bit rate: 8000 bits/s"), std::string::npos);
}

// A variable-rate file: ours, mpg123 and ffmpeg give back exactly the source; the rates vary with
// the material and the Xing block's counts and seek table match the frames.
TEST(EncodeGapless, VbrFileIsGaplessAndSeekable) {
    TUNARA_SKIP_IF_MISSING(!Have("mpg123") || !Have("ffmpeg"), "mpg123, ffmpeg");
    TempDir dir;
    const std::string wav = dir / "in.wav", mp3 = dir / "v.mp3";
    // Quiet, then plain, then buried under loud noise.
    const auto source = WriteChirp(wav, 44100, 2, 44100 * 3 + 101, [](double t, int i) {
        const uint32_t r = uint32_t(i) * 2654435761u;
        return t < 1 ? 0.05 : t < 2 ? 1.0 : 1.0 + double(r >> 16) / 65536.0 * 2 - 1;
    });
    ASSERT_EQ(Shell(kCli + " encode " + wav + " " + mp3 + " --vbr 2 2>/dev/null"), 0);
    ExpectSourceAtOffsetZero(source, Output(kCli + " decode " + mp3 + " - 2>/dev/null"), 2, "ours");
    ExpectSourceAtOffsetZero(source, Output("mpg123 -q -s " + mp3 + " 2>/dev/null"), 2, "mpg123");
    ExpectSourceAtOffsetZero(source, Output("ffmpeg -v error -i " + mp3 + " -f s16le -"), 2,
                             "ffmpeg");

    std::ifstream in(mp3, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto u8 = [&](size_t at) { return uint32_t(uint8_t(file[at])); };
    const auto be32 = [&](size_t at) {
        return u8(at) << 24 | u8(at + 1) << 16 | u8(at + 2) << 8 | u8(at + 3);
    };
    const size_t first = 10 + (u8(6) << 21 | u8(7) << 14 | u8(8) << 7 | u8(9));  // after ID3v2
    const size_t xing = file.find("Xing", first);
    ASSERT_EQ(xing, first + 4 + 32);
    const uint32_t frames = be32(xing + 8), bytes = be32(xing + 12);

    // Walk the frames (MPEG-1 Layer III at 44.1 kHz: 144 x kbit/s / 44.1 bytes, plus padding).
    static const int kKbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    std::vector<size_t> starts;
    std::set<int> rates;
    size_t at = first + 144000 * kKbps[u8(first + 2) >> 4] / 44100 + (u8(first + 2) >> 1 & 1);
    while (at + 4 <= file.size() && u8(at) == 0xFF && (u8(at + 1) & 0xFE) == 0xFA) {
        starts.push_back(at);
        rates.insert(kKbps[u8(at + 2) >> 4]);
        at += 144000 * kKbps[u8(at + 2) >> 4] / 44100 + (u8(at + 2) >> 1 & 1);
    }
    ASSERT_EQ(starts.size(), frames);
    EXPECT_EQ(at - first, bytes);
    EXPECT_GE(rates.size(), 3u);
    const double middle = double(first) + u8(xing + 16 + 50) / 256.0 * bytes;
    const size_t k =
        size_t(std::lower_bound(starts.begin(), starts.end(), size_t(middle)) - starts.begin());
    EXPECT_LE(std::abs(long(k) - long(frames / 2)), 1) << middle;
}

// Files of other encoders, whatever name their Info frame carries: exact length at offset 0,
// and `info` shows that length.
TEST(EncodeGapless, OtherEncodersFilesDecodeToTheirSourceLength) {
    TUNARA_SKIP_IF_MISSING(!Have("lame") || !Have("ffmpeg"), "lame, ffmpeg");
    TempDir dir;
    const std::string wav = dir / "in.wav", mp3 = dir / "x.mp3";
    const auto source = WriteChirp(wav, 44100, 2, 44100 + 1234);
    const std::string ffmpeg = "ffmpeg -v error -y -i " + wav + " -c:a libmp3lame ";
    for (const std::string& make :
         {ffmpeg + "-b:a 192k " + mp3, ffmpeg + "-q:a 4 " + mp3,
          "lame --quiet -b 128 " + wav + " " + mp3, "lame --quiet -V 2 " + wav + " " + mp3}) {
        SCOPED_TRACE(make);
        ASSERT_EQ(Shell(make), 0);
        ExpectSourceAtOffsetZero(source, Output(kCli + " decode " + mp3 + " - 2>/dev/null"), 2,
                                 "ours");
        EXPECT_NE(Output(kCli + " info " + mp3).find("duration: 1027 ms"), std::string::npos);
    }
}

// Tags given to `encode` reach our readers and ffprobe, for MP3 files and movies alike.
TEST(EncodeGapless, TagsReachOurReaderAndFfprobe) {
    TUNARA_SKIP_IF_MISSING(!Have("ffprobe"), "ffprobe");
    TempDir dir;
    const std::string wav = dir / "in.wav";
    WriteChirp(wav, 44100, 2, 44100 / 2);
    const std::string tags =
        " --title 'Ωmega ♪' --artist 'Björk & 東京' --album 'First Light' --track 7";
    for (const std::string& out : {dir / "t.mp3", dir / "t.mov"}) {
        SCOPED_TRACE(out);
        ASSERT_EQ(Shell(kCli + " encode " + wav + " " + out + tags + " 2>/dev/null"), 0);
        const std::string info = Output(kCli + " info " + out);
        EXPECT_NE(info.find("title: Ωmega ♪\n"), std::string::npos) << info;
        EXPECT_NE(info.find("artist: Björk & 東京\n"), std::string::npos) << info;
        EXPECT_NE(info.find("album: First Light\n"), std::string::npos) << info;
        const std::string probe = Output(
            "ffprobe -v error -show_entries format_tags=title,artist,album,track -of "
            "default=nw=1 " +
            out);
        EXPECT_NE(probe.find("TAG:title=Ωmega ♪"), std::string::npos) << probe;
        EXPECT_NE(probe.find("TAG:artist=Björk & 東京"), std::string::npos) << probe;
        EXPECT_NE(probe.find("TAG:track=7"), std::string::npos) << probe;
    }
}

// SIGTERM and SIGHUP end `encode` as Ctrl+C does: nothing stays, neither the output nor a
// hidden partial file.
TEST(EncodeGapless, SignalsLeaveNoFile) {
    TUNARA_SKIP_IF_MISSING(!Have("sox"), "sox");
    TempDir dir;
    const std::string wav = dir / "in.wav";
    ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 120 whitenoise"), 0);
    const struct {
        int signal;
        const char* name;
    } cases[] = {{SIGTERM, "out.mp3"}, {SIGHUP, "out.mp3"}, {SIGTERM, "out.mov"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.signal));
        const std::string out = dir / c.name;
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::freopen("/dev/null", "w", stderr);
            ::execl(kCli.c_str(), "tunara-cli", "encode", wav.c_str(), out.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        bool started = false;
        for (int i = 0; i < 3000 && !started; ++i) {
            for (const auto& e : fs::directory_iterator(dir.path))
                if (e.path().filename().string()[0] == '.' && fs::file_size(e.path()) > 100000)
                    started = true;
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(started);
        ::kill(pid, c.signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 130);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1) << "only the input";
    }
}

}  // namespace
