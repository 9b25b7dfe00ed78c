// tunara-cli rip over a generated disc image, as a script runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "platform/CdImageFixture.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

const std::string kCli = std::string(TUNARA_BINARY_DIR) + "/app/tunara-cli";

class RipCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = test::MakeCdImage(dir.path / "img", {90, 75, 100});
        fs::create_directories(temp);
        env = "XDG_CONFIG_HOME='" + (dir.path / "config").string() + "' TMPDIR='" + temp.string() +
              "' TUNARA_CD_IMAGES='" + image.cue + "' ";
    }

    // Exit code and everything printed.
    std::pair<int, std::string> Run(const std::string& args) {
        std::string command = env + kCli + " rip " + args + " </dev/null 2>&1";
        std::string out;
        FILE* p = ::popen(command.c_str(), "r");
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        int status = ::pclose(p);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }

    test::TempDir dir;
    test::CdImage image;
    fs::path temp = dir.path / "tmp";
    fs::path out = dir.path / "Music";
    std::string env;
};

// The listed tracks are ripped with the texts of the recording window; the
// settings supply what the command line leaves out.
TEST_F(RipCliTest, ListedTracks_RecordedWithProgressTexts) {
    auto [code, text] = Run("1,3 --encoder fast --bitrate 64 --to '" + out.string() + "'");
    ASSERT_EQ(code, 0) << text;
    EXPECT_NE(text.find("Reading \"Track 3\""), std::string::npos) << text;
    EXPECT_NE(text.find("Recording Track 2 of 2"), std::string::npos);
    EXPECT_NE(text.find("Writing \"Unknown - Unknown - Track 1.mp3\""), std::string::npos);
    EXPECT_NE(text.find("overall 100%"), std::string::npos);
    EXPECT_TRUE(fs::exists(out / "Unknown - Unknown - Track 1.mp3"));
    EXPECT_TRUE(fs::exists(out / "Unknown - Unknown - Track 3.mp3"));
    EXPECT_FALSE(fs::exists(out / "Unknown - Unknown - Track 2.mp3"));
    EXPECT_TRUE(fs::is_empty(temp));

    // Again: the earlier files stay, the new ones are numbered.
    std::tie(code, text) = Run(image.cue + " 2-3 --encoder kvmc --to '" + out.string() + "'");
    ASSERT_EQ(code, 0) << text;
    EXPECT_TRUE(fs::exists(out / "Unknown - Unknown - Track 2.mov"));
    EXPECT_TRUE(fs::exists(out / "Unknown - Unknown - Track 3.mov"));
}

// Bad command lines are refused before anything is read.
TEST_F(RipCliTest, BadArguments_Refused) {
    EXPECT_EQ(Run("3-1 --to '" + out.string() + "'").first, 2);
    EXPECT_EQ(Run("1,,2").first, 2);
    EXPECT_EQ(Run("--encoder lame").first, 2);
    EXPECT_EQ(Run("--encoder fast --bitrate 100").first, 2);
    EXPECT_EQ(Run("--bitrate ''").first, 2);  // used to end in an uncaught exception
    EXPECT_EQ(Run("/dev/no-such-drive 1").first, 1);
    auto [code, text] = Run("7 --to '" + out.string() + "'");
    EXPECT_EQ(code, 1);
    EXPECT_NE(text.find("no audio track 7"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(out));
}

// A track whose last sectors cannot be read is named with their number, its
// file is kept, it is never reported as written, the other tracks go on, and
// the exit status tells so. "~" in --to (quoted past the shell) is the home
// folder.
TEST_F(RipCliTest, DamagedTrack_ReportedWithItsOwnExitStatus) {
    image = test::MakeCdImage(dir.path / "damaged", {60, 90, 75}, {}, 40);
    env += "TUNARA_CD_IMAGES='" + image.cue + "' HOME='" + dir.path.string() + "' ";
    auto [code, text] = Run("--encoder fast --bitrate 64 --to '~/Music'");
    EXPECT_EQ(code, 3) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("Track 3 is damaged: [1-4][0-9] sectors could "
                                                   "not be read.")))
        << text;
    EXPECT_EQ(text.find("Wrote " + (out / "Unknown - Unknown - Track 3.mp3").string()),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Wrote " + (out / "Unknown - Unknown - Track 2.mp3").string()),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("2 tracks written, 1 failed"), std::string::npos) << text;
    EXPECT_TRUE(fs::exists(out / "Unknown - Unknown - Track 3.mp3"));
    EXPECT_TRUE(fs::is_empty(temp));
}

// A full disk is told in plain words, the job fails, and no half file stays.
TEST_F(RipCliTest, FullDisk_ToldInPlainWords) {
    fs::create_directories(out);
    const std::string mount = "mount -t tmpfs -o size=8k tunara-test '" + out.string() + "'";
    if (::geteuid() != 0 || std::system((mount + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs";
    for (const char* encoder : {"fast", "kvmc"}) {
        auto [code, text] =
            Run(std::string("1 --encoder ") + encoder + " --to '" + out.string() + "'");
        EXPECT_EQ(code, 1) << text;
        EXPECT_EQ(text.rfind("The disk is full: "), text.find("The disk is full: ")) << text;
        EXPECT_NE(text.find("The disk is full: " + out.string() + "/Unknown - Unknown - Track 1."),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("RecError"), std::string::npos) << text;
        EXPECT_EQ(text.find("callback"), std::string::npos) << text;
        EXPECT_TRUE(fs::is_empty(out)) << text;
    }
    std::system(("umount '" + out.string() + "'").c_str());
}

// Ctrl+C, SIGTERM and SIGHUP cancel like the Cancel button: no partial file, no WAV left.
TEST_F(RipCliTest, Interrupt_CancelsAndLeavesNothing) {
    image = test::MakeCdImage(dir.path / "long", {75 * 120});
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        int pipeFd[2];
        ASSERT_EQ(::pipe(pipeFd), 0);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(pipeFd[1], 1);
            ::dup2(pipeFd[1], 2);
            ::close(pipeFd[0]);
            ::setenv("XDG_CONFIG_HOME", (dir.path / "config").c_str(), 1);
            ::setenv("TMPDIR", temp.c_str(), 1);
            ::setenv("TUNARA_CD_IMAGES", image.cue.c_str(), 1);
            ::execl(kCli.c_str(), kCli.c_str(), "rip", "--encoder", "hq", "--to", out.c_str(),
                    nullptr);
            ::_exit(127);
        }
        ::close(pipeFd[1]);
        std::string text;
        char buffer[256];
        bool signalled = false;
        ssize_t n;
        while ((n = ::read(pipeFd[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, size_t(n));
            // Signal once the track is being encoded, half-way through the job.
            if (!signalled && text.find("Writing") != std::string::npos) {
                ::kill(pid, signal);
                signalled = true;
            }
        }
        ::close(pipeFd[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(signalled) << text;
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 130) << text;
        EXPECT_NE(text.find("Cancelled."), std::string::npos);
        EXPECT_TRUE(fs::is_empty(out)) << text;
        EXPECT_TRUE(fs::is_empty(temp));
    }
}

}  // namespace
}  // namespace tunara
