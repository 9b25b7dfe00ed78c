// tunara-cli rip over a generated disc image, as a script runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "metadata/AccurateRip.h"
#include "metadata/TextCodec.h"
#include "support/CdImage.h"
#include "support/FakeAccurateRip.h"
#include "support/FakeCddbServer.h"
#include "support/RunCli.h"
#include "ui/core/RecordName.h"
#include "ui/core/SettingsStore.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

const std::string& kCli = testing::CliPath();

class RipCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = testing::MakeCdImage(dir.path / "img", {90, 75, 100});
        fs::create_directories(temp);
        env = "XDG_CONFIG_HOME='" + (dir.path / "config").string() + "' TMPDIR='" + temp.string() +
              "' TUNARA_CD_IMAGES='" + image.cue + "' ";
    }

    // Exit code and everything printed.
    std::pair<int, std::string> Run(const std::string& args) { return Cli("rip " + args); }
    std::pair<int, std::string> Cli(const std::string& args) {
        const testing::CommandResult r = testing::RunCli(args, env);
        return {r.exitCode, r.out};
    }

    testing::TempDir dir;
    testing::CdImage image;
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

// --verify looks the tracks up in AccurateRip (here a record served on the loopback address),
// prints each verdict, writes the log beside the files and says in its exit status whether every
// track was confirmed.
TEST_F(RipCliTest, Verify_ReportsEachTrackAndWritesTheLog) {
    namespace ar = accuraterip;
    const ar::DiscIds ids = tunara::testing::AccurateRipIds(image);
    testing::TempDir serverDir;
    // Track 3 was ripped wrong.
    tunara::testing::FakeCddbServer server(serverDir.path,
                                           tunara::testing::AccurateRipScript(image, 3));
    auto [code, text] =
        Run("--encoder flac --to '" + out.string() + "' --verify-server " + server.Address());
    EXPECT_EQ(code, 4) << text;
    EXPECT_NE(text.find("Track 1: AccurateRip accurate (confidence 5)"), std::string::npos) << text;
    EXPECT_NE(text.find("Track 2: AccurateRip accurate (confidence 5)"), std::string::npos) << text;
    EXPECT_NE(text.find("Track 3: AccurateRip does not match (2 submissions)"), std::string::npos)
        << text;
    const size_t logAt = text.find("Log: ");
    ASSERT_NE(logAt, std::string::npos) << text;
    std::ifstream logFile(text.substr(logAt + 5, text.find('\n', logAt) - logAt - 5));
    const std::string logText((std::istreambuf_iterator<char>(logFile)), {});
    EXPECT_NE(logText.find("Read offset: 0 samples"), std::string::npos) << logText;
    EXPECT_NE(logText.find("Unknown - Unknown - Track 3.flac"), std::string::npos) << logText;
    EXPECT_NE(logText.find("does not match"), std::string::npos) << logText;
    // The FLAC files carry both disc ids.
    FILE* probe = ::popen(("ffprobe -v error -show_entries format_tags '" +
                           (out / "Unknown - Unknown - Track 1.flac").string() + "' 2>&1")
                              .c_str(),
                          "r");
    std::string tags;
    char line[512];
    while (probe && std::fgets(line, sizeof line, probe)) tags += line;
    if (probe) ::pclose(probe);
    EXPECT_TRUE(std::regex_search(tags, std::regex("MUSICBRAINZ_DISCID=[A-Za-z0-9._]{27}-")))
        << tags;
    EXPECT_NE(tags.find("DISCID=" + ar::Hex(ids.cddb)), std::string::npos) << tags;
}

// JSON string of a CDDB reply body: controls escaped, UTF-8 as it stands.
std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The rest of the line that starts with `head` ("TAG:title=", "title: ").
std::string Field(const std::string& text, const std::string& head) {
    size_t at = text.find(head);
    if (at == std::string::npos) return {};
    at += head.size();
    return text.substr(at, text.find('\n', at) - at);
}

// Titles come from the cache, else CDDB (when the settings ask), else the
// disc's CD-Text: a rip names and tags its files with them, whole where the
// file system allows, clean of a server's control characters, never cut
// inside a character, with two-digit track numbers.
TEST_F(RipCliTest, DiscTitles_NameAndTagTheFiles) {
    std::string longTitle;  // 300 characters
    for (int i = 0; i < 15; ++i) longTitle += "Grüße aus der Ferne ";
    longTitle.back() = '!';
    image = testing::MakeCdImage(dir.path / "text", {75, 75, 75},
                                 {"Text Album", "Text Band", {"Première", "", "Third"}, {}});
    env = "XDG_CONFIG_HOME='" + (dir.path / "config").string() + "' TMPDIR='" + temp.string() +
          "' TUNARA_CD_IMAGES='" + image.cue + "' ";
    const fs::path store = dir.path / "config" / "Korvan" / "Tunara" / "settings";
    auto configure = [&](const std::string& server) {
        SettingsStore settings(store, {});
        settings.SetNumber(settings::kRecordName1, kNameTrack);
        settings.SetNumber(settings::kRecordName2, kNameArtist);
        settings.SetNumber(settings::kRecordName3, kNameAlbum);
        settings.SetNumber(settings::kRecordName4, kNameTitle);
        settings.SetNumber(settings::kAutoCDInfo, server.empty() ? 0 : 1);
        settings.SetText(settings::kCDDBAddr, server);
        ASSERT_TRUE(settings.SaveAll());
    };

    // CD-Text only.
    configure("");
    auto [code, text] = Run("1,2 --encoder fast --bitrate 64 --to '" + (out / "a").string() + "'");
    ASSERT_EQ(code, 0) << text;
    EXPECT_TRUE(fs::exists(out / "a" / "01 - Text Band - Text Album - Première.mp3")) << text;
    EXPECT_TRUE(fs::exists(out / "a" / "02 - Text Band - Text Album - Track 2.mp3")) << text;

    // CDDB over CD-Text; its titles reach names and tags.
    const std::string kanji = "\xE6\x9D\xB1\xE4\xBA\xAC \xCE\xA9mega";  // 東京 Ωmega
    const std::string entry =
        "210 rock 1e0b0403 CD database entry follows\r\n"
        "DTITLE=AC/DC / Back in\x1b[31m Black\r\n"
        "DYEAR=1980\r\nDGENRE=Hard Rock\r\n"
        "TTITLE0=Hells\x07 Bells\x1b[0m\r\n"
        "TTITLE1=" +
        longTitle +
        "\r\n"
        "TTITLE2=" +
        kanji + "\r\n.\r\n";
    const std::string script =
        "{\"query\": {\"body\": \"200 rock 1e0b0403 AC/DC / Back in Black\\r\\n\"},"
        " \"read\": {\"body\": " +
        JsonText(entry) + "}}";
    {
        testing::TempDir serverDir;
        tunara::testing::FakeCddbServer server(serverDir.path, script);
        configure(server.Address());
        std::tie(code, text) =
            Run("--encoder fast --bitrate 64 --to '" + (out / "b").string() + "'");
        ASSERT_EQ(code, 0) << text;
        ASSERT_FALSE(server.Requests().empty());
        // The query's last field is the disc's whole length, lead-in included: 5 s.
        EXPECT_NE(server.Requests()[0].find("+150+225+300+5&"), std::string::npos)
            << server.Requests()[0];
    }
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out / "b")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 3u) << text;
    EXPECT_EQ(names[0], "01 - AC-DC - Back in[31m Black - Hells Bells[0m.mp3");
    const std::string longStart = "02 - AC-DC - Back in[31m Black - ";
    EXPECT_EQ(names[1].rfind(longStart, 0), 0u) << names[1];
    EXPECT_LE(names[1].size(), 255u);
    EXPECT_GT(names[1].size(), 200u);
    EXPECT_TRUE(text::IsValidUtf8(names[1]));
    // Cut where a word ends.
    const std::string kept =
        names[1].substr(longStart.size(), names[1].size() - 4 - longStart.size());
    EXPECT_EQ(longTitle.rfind(kept, 0), 0u);
    EXPECT_EQ(longTitle[kept.size()], ' ');
    EXPECT_EQ(names[2], "03 - AC-DC - Back in[31m Black - " + kanji + ".mp3");

    const std::string first = (out / "b" / names[0]).string();
    std::tie(code, text) = Cli("info '" + first + "'");
    ASSERT_EQ(code, 0) << text;
    EXPECT_NE(text.find("artist: AC/DC\n"), std::string::npos) << text;
    EXPECT_NE(text.find("album: Back in[31m Black\n"), std::string::npos) << text;
    EXPECT_NE(text.find("title: Hells Bells[0m\n"), std::string::npos) << text;
    FILE* p = ::popen(("ffprobe -v error -show_entries format_tags -of default=nw=1 '" +
                       (out / "b" / names[1]).string() + "' 2>&1")
                          .c_str(),
                      "r");
    ASSERT_NE(p, nullptr);
    std::string probe;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) probe.append(buffer, n);
    ::pclose(p);
    EXPECT_EQ(Field(probe, "TAG:artist="), "AC/DC") << probe;
    EXPECT_EQ(Field(probe, "TAG:track=").rfind("2", 0), 0u) << probe;
    EXPECT_EQ(Field(probe, "TAG:album="), "Back in[31m Black") << probe;
    EXPECT_EQ(Field(probe, "TAG:genre="), "Hard Rock") << probe;
    EXPECT_EQ(Field(probe, "TAG:date="), "1980") << probe;
    // An ID3v1 tag holds 30 characters of the title; a fuller tag all of it.
    std::tie(code, text) = Cli("info '" + (out / "b" / names[1]).string() + "'");
    const std::string title = Field(text, "title: ");
    EXPECT_GE(title.size(), 28u) << text;
    EXPECT_EQ(longTitle.rfind(title, 0), 0u) << text;
}

// The cache answers `cd lookup` without the server; --refresh asks it again.
TEST_F(RipCliTest, CdLookup_AnswersFromCacheUnlessRefreshed) {
    const std::string script =
        "{\"query\": {\"body\": \"200 rock 0e050303 Band / Record\\r\\n\"},"
        " \"read\": {\"body\": \"210 rock 0e050303\\r\\nDTITLE=Band / Record\\r\\n"
        "TTITLE0=One\\r\\nTTITLE1=Two\\r\\nTTITLE2=Three\\r\\n.\\r\\n\"}}";
    testing::TempDir serverDir;
    auto server = std::make_unique<tunara::testing::FakeCddbServer>(serverDir.path, script);
    const std::string at = " --server " + server->Address();
    auto [code, text] = Cli("cd lookup '" + image.cue + "'" + at);
    ASSERT_EQ(code, 0) << text;
    EXPECT_NE(text.find(" 2  Two\n"), std::string::npos) << text;
    const size_t asked = server->Requests().size();
    EXPECT_GT(asked, 0u);

    std::tie(code, text) = Cli("cd lookup '" + image.cue + "' --refresh" + at);
    EXPECT_EQ(code, 0) << text;
    EXPECT_GT(server->Requests().size(), asked);

    server.reset();
    const std::string down =
        " --server 127.0.0.1:" + std::to_string(tunara::testing::RefusingPort());
    std::tie(code, text) = Cli("cd lookup '" + image.cue + "'" + down);
    EXPECT_EQ(code, 0) << text;
    EXPECT_NE(text.find("Artist: Band\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" 3  Three\n"), std::string::npos) << text;
    std::tie(code, text) = Cli("cd lookup '" + image.cue + "' --refresh" + down);
    EXPECT_EQ(code, 1) << text;
}

// `cd lookup --musicbrainz` asks the service for the id `cd` shows, lists
// several releases and takes the one --release names; garbage is an error.
TEST_F(RipCliTest, CdLookup_MusicBrainz) {
    auto [code, text] = Cli("cd '" + image.cue + "'");
    const size_t at = text.find("MusicBrainz disc id ");
    ASSERT_NE(at, std::string::npos) << text;
    const std::string id = text.substr(at + 20, 28);
    testing::TempDir serverDir;
    {
        tunara::testing::FakeCddbServer server(serverDir.path,
                                               tunara::testing::TwoReleasesScript(id));
        const std::string lookup =
            "cd lookup '" + image.cue + "' --musicbrainz --server " + server.Address();
        std::tie(code, text) = Cli(lookup);
        ASSERT_EQ(code, 0) << text;
        EXPECT_NE(text.find("* 1  MB Band \u2013 First Press\n  2  MB Band \u2013 Reissue\n"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("Album: First Press\n"), std::string::npos) << text;
        EXPECT_NE(text.find(" 2  Dos\n"), std::string::npos) << text;
        std::tie(code, text) = Cli(lookup + " --release 2");
        EXPECT_EQ(code, 0) << text;
        EXPECT_NE(text.find("Album: Reissue\n"), std::string::npos) << text;
    }
    tunara::testing::FakeCddbServer garbage(
        serverDir.path, "{\"/ws/2/discid/" + id + "\": {\"body\": \"<html>oops</html>\"}}");
    std::tie(code, text) =
        Cli("cd lookup '" + image.cue + "' --refresh --musicbrainz --server " + garbage.Address());
    EXPECT_EQ(code, 1) << text;
    EXPECT_NE(text.find("The MusicBrainz reply could not be read"), std::string::npos) << text;
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
    image = testing::MakeCdImage(dir.path / "damaged", {60, 90, 75}, {}, 40);
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
    image = testing::MakeCdImage(dir.path / "long", {75 * 120});
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
