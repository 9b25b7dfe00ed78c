// tunara-cli encode: WAV in, MP3 out; refusals and interruptions leave no output behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/RunCli.h"

namespace {

namespace fs = std::filesystem;

const std::string& kCli = tunara::testing::CliPath();
using Result = tunara::testing::CommandResult;
using tunara::testing::RunCli;

// A 16-bit WAV of a tone with a little noise.
void WriteWav(const std::string& path, uint32_t rate, int channels, double seconds) {
    const uint32_t frames = uint32_t(rate * seconds), bytes = frames * 2 * channels;
    std::ofstream f(path, std::ios::binary);
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) f.put(char((v >> (8 * i)) & 0xff));
    };
    f << "RIFF";
    put(36 + bytes, 4);
    f << "WAVEfmt ";
    put(16, 4);
    put(1, 2);
    put(uint32_t(channels), 2);
    put(rate, 4);
    put(rate * 2 * channels, 4);
    put(uint32_t(2 * channels), 2);
    put(16, 2);
    f << "data";
    put(bytes, 4);
    uint32_t seed = 1;
    for (uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const int v = int(8000 * std::sin(2 * M_PI * 440.0 * i / rate)) + int(seed >> 22) - 512;
            put(uint32_t(uint16_t(int16_t(v))), 2);
        }
}

std::string Temp(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("tunara-cli-encode-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return (dir / name).string();
}

}  // namespace

// A WAV becomes an MP3 that our own decoder reads back at the same rate.
TEST(CliEncode, WavBecomesMp3) {
    const std::string wav = Temp("in.wav"), mp3 = Temp("out.mp3"), back = Temp("back.wav");
    WriteWav(wav, 22050, 1, 1.0);
    const Result r = RunCli("encode " + wav + " " + mp3 + " --fast --bitrate 32");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    // The first frame follows the ID3v2 tag.
    std::ifstream f(mp3, std::ios::binary);
    uint8_t tag[10] = {}, head[2] = {};
    f.read(reinterpret_cast<char*>(tag), 10);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(tag), 3), "ID3");
    f.seekg(10 + (tag[6] << 21 | tag[7] << 14 | tag[8] << 7 | tag[9]));
    f.read(reinterpret_cast<char*>(head), 2);
    EXPECT_EQ(head[0], 0xFF);
    EXPECT_EQ(head[1] & 0xF6, 0xF2);  // sync, MPEG-2 LSF, Layer III
    EXPECT_EQ(RunCli("decode " + mp3 + " " + back).exitCode, 0);
    EXPECT_GT(fs::file_size(back), 44u + 22050u * 2 * 9 / 10);
}

// Refusals name the reason and leave no file.
TEST(CliEncode, RefusalsLeaveNoOutput) {
    const std::string wav = Temp("rate.wav"), mp3 = Temp("refused.mp3");
    WriteWav(wav, 8000, 2, 0.2);
    Result r = RunCli("encode " + wav + " " + mp3);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("sampling rate not supported"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(mp3));
    WriteWav(wav, 44100, 2, 0.2);
    r = RunCli("encode " + wav + " " + mp3 + " --bitrate 150");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("bit rate not available"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(mp3));
    r = RunCli("encode " + Temp("missing.wav") + " " + mp3);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(mp3));
}

// A bad --bitrate is a usage error, never 0 kbit/s nor a file named after the option.
TEST(CliEncode, BadBitRateArgumentRefused) {
    const std::string wav = Temp("args.wav"), mp3 = Temp("args.mp3");
    WriteWav(wav, 44100, 2, 0.2);
    const fs::path cwd = fs::current_path();
    fs::current_path(fs::path(wav).parent_path());
    for (const char* tail : {" args.mp3 --bitrate abc", " args.mp3 --bitrate", " --bitrate",
                             " args.mp3 --bitrate 12x", " args.mp3 --loud"}) {
        const Result r = RunCli("encode args.wav" + std::string(tail));
        EXPECT_EQ(r.exitCode, 2) << tail << ": " << r.out;
        EXPECT_EQ(r.out.find("not available"), std::string::npos) << tail << ": " << r.out;
    }
    EXPECT_FALSE(fs::exists(mp3));
    EXPECT_FALSE(fs::exists(fs::path(wav).parent_path() / "--bitrate"));
    fs::current_path(cwd);
}

// Ctrl+C during the encoding removes the partial file, which never had the output's name.
TEST(CliEncode, InterruptRemovesPartialOutput) {
    const std::string wav = Temp("long.wav"), mp3 = Temp("partial.mp3");
    WriteWav(wav, 44100, 2, 600.0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        ::execl(kCli.c_str(), kCli.c_str(), "encode", wav.c_str(), mp3.c_str(), nullptr);
        ::_exit(127);
    }
    // The partial file is hidden beside the output; wait for its first frames.
    const auto partialFiles = [&] {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(fs::path(mp3).parent_path()))
            if (e.path().filename().string().rfind(".partial.", 0) == 0) found.push_back(e.path());
        return found;
    };
    for (;;) {
        const auto found = partialFiles();
        if (!found.empty() && fs::file_size(found[0]) > 10000) break;
        EXPECT_FALSE(fs::exists(mp3)) << "the output's name appears only when it is complete";
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "ended before it could be interrupted";
        std::this_thread::yield();
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(fs::exists(mp3));
    EXPECT_TRUE(partialFiles().empty());
    fs::remove(wav);
}
