// tunara-cli as scripts use it: standard input not a terminal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/io/WavHeader.h"
#include "support/CdImage.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

using tunara::testing::CliPath;
using tunara::testing::RunCommand;
using Result = tunara::testing::CommandResult;
const std::string& kCli = CliPath();

// Standard error joins the output unless `errorsTo` names where it goes instead.
Result RunCli(const std::string& args, const std::string& errorsTo = "&1") {
    return tunara::testing::RunCli(args, {}, errorsTo);
}

void Put(std::ofstream& f, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.put(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A half-second 16-bit stereo tone.
void WriteWav(const std::string& path) {
    const uint32_t rate = 22050, frames = rate / 2, bytes = frames * 4;
    std::ofstream f(path, std::ios::binary);
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({2, rate, 16}, bytes, header);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    for (uint32_t i = 0; i < frames; ++i) {
        uint32_t s = static_cast<uint16_t>((i % 50 < 25) ? 3000 : -3000);
        Put(f, s, 2);
        Put(f, s, 2);
    }
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kCli)) << "tunara-cli not built";
        dir_ = tmp_.path.string() + "/";
        WriteWav(dir_ + "tone.wav");
        // The player reads and may create its settings store.
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old) oldConfig_ = old;
        ::setenv("XDG_CONFIG_HOME", (dir_ + "config").c_str(), 1);
    }
    void TearDown() override {
        if (dir_.empty()) return;
        if (oldConfig_.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    }
    tunara::testing::TempDir tmp_;
    std::string dir_;
    std::string oldConfig_;
};

TEST_F(Cli, Play_NotATerminal_PlaysToTheEndAndExitsZero) {
    Result r = RunCli("play " + dir_ + "tone.wav");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Track 01 of 01"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\x1b["), std::string::npos) << "no screen control expected";
}

// A list is played through; an entry that does not open stays in the list,
// is passed over, and is told of once, when the list loads.
TEST_F(Cli, Play_ListSkipsBadEntries) {
    std::ofstream(dir_ + "l.m3u") << "tone.wav\r\nmissing.wav\r\n" << dir_ << "tone.wav\r\n";
    Result r = RunCli("play " + dir_ + "l.m3u");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Track 03 of 03"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Some entries of the playlist " + dir_ + "l.m3u cannot be opened"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Failed to open"), std::string::npos) << r.out;
}

TEST_F(Cli, Play_NothingPlayableFails) {
    Result r = RunCli("play " + dir_ + "missing.wav");
    EXPECT_EQ(r.exitCode, 1) << r.out;
}

TEST_F(Cli, Info_PrintsFieldsOrFails) {
    Result r = RunCli("info " + dir_ + "tone.wav");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("title: tone"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("format: 16 Bit PCM"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sample rate: 22050 Hz"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("duration: 500 ms"), std::string::npos) << r.out;

    std::ofstream(dir_ + "bad.wav") << "RIFF....WAVEjunk";
    r = RunCli("info " + dir_ + "bad.wav");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("bad.wav"), std::string::npos) << r.out;
}

// Help asked for is output with success; a mistake is an error on standard error.
TEST_F(Cli, HelpAndVersion_GoToStandardOutput) {
    for (const char* args : {"--help", "-h", "decode --help", "play --help", "info -h",
                             "encode --help", "rip --help", "cd --help", "cd lookup --help",
                             "cd play --help", "cd play disc.cue -h", "rip 1 --help"}) {
        Result r = RunCli(args, "/dev/null");
        EXPECT_EQ(r.exitCode, 0) << args;
        EXPECT_EQ(r.out.rfind("usage: tunara-cli", 0), 0u) << args << ": " << r.out;
        // Each command says more than its usage line.
        EXPECT_LT(r.out.find('\n') + 1, r.out.size()) << args << ": " << r.out;
    }
    Result r = RunCli("--version", "/dev/null");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("tunara-cli ", 0), 0u) << r.out;
    for (const char* args : {"", "nosuchcommand", "decode onlyone"}) {
        r = RunCli(args, "/dev/null");
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_EQ(r.out, "") << args;
    }
}

// "-" is standard output: exactly the source's samples (the encoder's delay and padding
// trimmed), nothing else mixed in.
TEST_F(Cli, Decode_DashWritesSamplesToStandardOutput) {
    if (std::system("command -v lame >/dev/null 2>&1") != 0) GTEST_SKIP() << "lame missing";
    ASSERT_EQ(
        std::system(("lame --quiet -b 128 " + dir_ + "tone.wav " + dir_ + "tone.mp3").c_str()), 0);
    Result r = RunCli("decode " + dir_ + "tone.mp3 -", "/dev/null");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.size(), size_t(22050 / 2 * 4));
    EXPECT_FALSE(fs::exists("-"));
}

// decode reads every format the player decodes itself, and says why it cannot
// decode the rest; it never overwrites its input nor waits on a FIFO.
TEST_F(Cli, Decode_InputsAndRefusals) {
    const std::string tone = dir_ + "tone.wav";
    Result r = RunCli("decode " + tone + " " + dir_ + "copy.wav");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    std::ifstream a(tone, std::ios::binary), b(dir_ + "copy.wav", std::ios::binary);
    EXPECT_TRUE(
        std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));

    std::ofstream(dir_ + "text.ogg") << "not a sound at all\n";
    r = RunCli("decode " + dir_ + "text.ogg " + dir_ + "o.wav");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("is in a format the player cannot decode"), std::string::npos) << r.out;

    const auto before = fs::file_size(tone);
    fs::create_hard_link(tone, dir_ + "link.wav");
    for (const std::string& out : {tone, dir_ + "./tone.wav", dir_ + "link.wav"}) {
        r = RunCli("decode " + tone + " " + out);
        EXPECT_NE(r.exitCode, 0) << out;
        EXPECT_NE(r.out.find("the output is the input file"), std::string::npos) << r.out;
    }
    EXPECT_EQ(fs::file_size(tone), before);

    ASSERT_EQ(::mkfifo((dir_ + "fifo.wav").c_str(), 0600), 0);
    r = RunCommand("timeout 10 " + kCli + " decode " + dir_ + "fifo.wav " + dir_ +
                   "f.wav </dev/null 2>&1");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
}

// Tags the media framework does not pass on: an AIFF's NAME, a WMA's genre.
TEST_F(Cli, Info_ContainerTags) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
    const std::string make = "ffmpeg -v error -y -i " + dir_ + "tone.wav ";
    ASSERT_EQ(std::system((make + "-metadata title=Named " + dir_ + "t.aiff").c_str()), 0);
    ASSERT_EQ(std::system((make + "-c:a wmav2 -metadata genre=Ska " + dir_ + "t.wma").c_str()), 0);
    Result r = RunCli("info " + dir_ + "t.aiff");
    EXPECT_NE(r.out.find("title: Named\n"), std::string::npos) << r.out;
    r = RunCli("info " + dir_ + "t.wma");
    EXPECT_NE(r.out.find("genre: Ska\n"), std::string::npos) << r.out;
}

// The media framework's own complaints stay off the terminal.
TEST_F(Cli, Play_FrameworkWarningsStayQuiet) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox missing";
    ASSERT_EQ(std::system(("sox " + dir_ + "tone.wav " + dir_ + "tone.aiff").c_str()), 0);
    Result r = RunCommand("TUNARA_AUDIO=null:fast " + kCli + " play " + dir_ +
                          "tone.aiff </dev/null 2>&1 >/dev/null");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

// "--" ends the options: what follows is a name, even one that starts with "-".
TEST_F(Cli, DoubleDashEndsOptions) {
    fs::copy_file(dir_ + "tone.wav", dir_ + "-x.wav");
    const std::string cd = "cd " + dir_ + " && ";
    Result r = RunCommand(cd + kCli + " info -- -x.wav 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("title: -x"), std::string::npos) << r.out;
    r = RunCommand(cd + kCli + " decode -- -x.wav -- 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir_ + "--"));
}

// The encoder's delay does not swallow the end: decoded by us and by mpg123, the whole
// half-second tone is there, 10 ms piece by 10 ms piece, in both qualities.
TEST_F(Cli, Encode_WholeInputIsDecoded) {
    const bool haveMpg123 = std::system("command -v mpg123 >/dev/null 2>&1") == 0;
    const size_t piece = 22050 / 100, pieces = 22050 / 2 / piece;
    for (const char* quality : {"", " --fast"}) {
        SCOPED_TRACE(*quality ? "fast" : "high quality");
        const std::string mp3 = dir_ + "tone.mp3";
        Result r = RunCli("encode " + dir_ + "tone.wav " + mp3 + quality);
        ASSERT_EQ(r.exitCode, 0) << r.out;
        std::vector<std::pair<std::string, std::string>> decoded = {
            {"ours", RunCli("decode " + mp3 + " -", "/dev/null").out}};
        if (haveMpg123)
            decoded.emplace_back("mpg123", RunCommand("mpg123 -q -s " + mp3 + " 2>/dev/null").out);
        for (const auto& [decoder, raw] : decoded) {
            std::vector<int16_t> pcm(raw.size() / 2);
            std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
            size_t atLevel = 0;  // pieces of the left channel at the square wave's level
            for (size_t from = 0; (from + piece) * 2 <= pcm.size(); from += piece) {
                double sum = 0;
                for (size_t i = from; i < from + piece; ++i) sum += double(pcm[2 * i]) * pcm[2 * i];
                atLevel += std::abs(std::sqrt(sum / double(piece)) - 3000) < 600;
            }
            EXPECT_GE(atLevel, pieces - 1) << decoder;
        }
    }
}

}  // namespace

// The drive listing shows every track with its start and length, the data
// track too, and the disc id.
TEST_F(Cli, Cd_ListsImageTracks) {
    std::string cue =
        tunara::testing::WriteCdImage(dir_, "disc", tunara::testing::StandardTracks());
    Result r = RunCli("cd " + cue);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("disc id 15000a04"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("MusicBrainz disc id [A-Za-z0-9._]{27}-")))
        << r.out;
    EXPECT_NE(r.out.find("2  00:04.00  00:03.00  audio"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4  00:08.38  00:04.00  data"), std::string::npos) << r.out;
    r = RunCli("cd " + cue + " " + dir_ + "none.cue");
    EXPECT_NE(r.out.find("no disc"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 1) << r.out;
}

// cd play plays the chosen track through the controller to the end of the
// disc's audio tracks; a data track or an empty drive is refused. (Paced in
// real time: status lines come at ticks, and the fast device would play a
// whole track between two of them.)
TEST_F(Cli, CdPlay_PlaysTrackToTheEnd) {
    std::string cue =
        tunara::testing::WriteCdImage(dir_, "disc", tunara::testing::StandardTracks());
    Result r = tunara::testing::RunCli("cd play " + cue + " 2", "TUNARA_AUDIO=null");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Track 02 of 03"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Track 03 of 03"), std::string::npos) << r.out;
    r = RunCli("cd play " + cue + " 4");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("not an audio track"), std::string::npos) << r.out;
    r = RunCli("cd play " + dir_ + "none.cue");
    EXPECT_EQ(r.exitCode, 1) << r.out;
}
