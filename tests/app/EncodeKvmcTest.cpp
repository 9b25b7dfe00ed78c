#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = std::string(TUNARA_BINARY_DIR) + "/app/tunara-cli";

using tunara::testing::TempDir;

int Shell(const std::string& cmd) {
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string ProbeValue(const fs::path& file, const std::string& entry) {
    const std::string cmd = "ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                            " -of default=nw=1:nk=1 '" + file.string() + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[256] = {};
    if (p && std::fgets(buf, sizeof buf, p)) {
    }
    if (p) ::pclose(p);
    std::string s(buf);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// The encode command writes a movie ffprobe reads, at the asked bit rate's packet size.
TEST(EncodeCli, WritesAKvmcMovie) {
    TempDir dir;
    const fs::path wav = dir.path / "in.wav", mov = dir.path / "out.mov";
    ASSERT_EQ(Shell("sox -n -r 22050 -c 1 -b 16 '" + wav.string() + "' synth 3 sine 660"), 0);
    ASSERT_EQ(Shell(kCli + " encode '" + wav.string() + "' '" + mov.string() +
                    "' --kvmc --bitrate 32 2>/dev/null"),
              0);
    EXPECT_EQ(ProbeValue(mov, "codec_tag_string"), "KVM2");
    EXPECT_EQ(ProbeValue(mov, "channels"), "1");
    EXPECT_NEAR(std::stod(ProbeValue(mov, "duration")), 3.0, 2048.0 / 22050);
}

// Decoding a movie follows OUT's rules: a header only for .wav, raw samples otherwise,
// and "-" is standard output rather than a file of that name.
TEST(EncodeCli, DecodedMovieGoesWhereOutSays) {
    TempDir dir;
    const fs::path wav = dir.path / "in.wav", mov = dir.path / "out.mov";
    ASSERT_EQ(Shell("sox -n -r 22050 -c 1 -b 16 '" + wav.string() + "' synth 1 sine 660"), 0);
    ASSERT_EQ(
        Shell(kCli + " encode '" + wav.string() + "' '" + mov.string() + "' --kvmc 2>/dev/null"),
        0);
    const std::string in = " decode '" + mov.string() + "' ";
    ASSERT_EQ(Shell(kCli + in + "'" + (dir.path / "back.wav").string() + "' 2>/dev/null"), 0);
    ASSERT_EQ(Shell(kCli + in + "'" + (dir.path / "back.pcm").string() + "' 2>/dev/null"), 0);
    ASSERT_EQ(Shell("cd '" + dir.path.string() + "' && " + kCli + in + "- 2>/dev/null > piped"), 0);
    const uintmax_t raw = 22050 * 2;
    EXPECT_EQ(fs::file_size(dir.path / "back.wav"), 44 + raw);
    EXPECT_EQ(fs::file_size(dir.path / "back.pcm"), raw);
    EXPECT_EQ(fs::file_size(dir.path / "piped"), raw);
    EXPECT_FALSE(fs::exists(dir.path / "-"));
}

// Bad input or a bit rate too low for the stream fails without leaving a file.
TEST(EncodeCli, FailuresLeaveNoFile) {
    TempDir dir;
    const fs::path wav = dir.path / "in.wav", mov = dir.path / "out.mov";
    {
        FILE* f = std::fopen(wav.c_str(), "wb");
        std::fputs("not a wave file", f);
        std::fclose(f);
    }
    EXPECT_EQ(
        Shell(kCli + " encode '" + wav.string() + "' '" + mov.string() + "' --kvmc 2>/dev/null"),
        1);
    EXPECT_EQ(Shell(kCli + " encode '" + wav.string() + "' '" + mov.string() +
                    "' --kvmc --bitrate 7 2>/dev/null"),
              2);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1);
}

// Interrupted while encoding: the temporary movie goes away and no output file appears.
TEST(EncodeCli, InterruptLeavesNoFile) {
    TempDir dir;
    const fs::path wav = dir.path / "in.wav", mov = dir.path / "out.mov";
    ASSERT_EQ(Shell("sox -n -r 44100 -c 2 -b 16 '" + wav.string() + "' synth 120 whitenoise"), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        ::execl(kCli.c_str(), "tunara-cli", "encode", wav.c_str(), mov.c_str(), "--kvmc",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the temporary movie exists, then interrupt.
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
        for (const auto& e : fs::directory_iterator(dir.path))
            if (e.path().filename().string().rfind(".out.mov.", 0) == 0 &&
                fs::file_size(e.path()) > 100000)
                started = true;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(started);
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1) << "only the input remains";
}

}  // namespace
