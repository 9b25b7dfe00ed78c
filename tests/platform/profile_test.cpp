// Private-profile files with the semantics other programs expect of them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "platform/profile/Profile.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"

using namespace tunara::profile;

namespace {
std::string Get(const ProfileFile& p, const char* s, const char* k, const char* def = "",
                size_t room = 256) {
    std::string out;
    p.GetString(s, k, def, out, room);
    return out;
}
}  // namespace

// Names ignore case and blanks; values lose blanks and one pair of quotes;
// the first duplicate wins; comments and lines before any section are not
// entries.
TEST(Profile, Lookup_Semantics) {
    const auto p = ProfileFile::Parse(
        "stray=1\n; comment=2\n[ Disc ]\n  Artist  =  Some One  \nq=\"  quoted \"\nq2='x'\n"
        "odd=\"half\nartist=second\nnovalue\n[disc]\nlater=3\n");
    EXPECT_EQ(Get(p, "DISC", "ARTIST"), "Some One");
    EXPECT_EQ(Get(p, "disc", "q"), "  quoted ");
    EXPECT_EQ(Get(p, "disc", "q2"), "x");
    EXPECT_EQ(Get(p, "disc", "odd"), "\"half");
    EXPECT_EQ(Get(p, "disc", "novalue", "def"), "");
    EXPECT_EQ(Get(p, "disc", "later", "def"), "def");  // in the second [disc]: first wins
    EXPECT_EQ(Get(p, "", "stray", "def"), "def");
    EXPECT_EQ(Get(p, "disc", "; comment", "def"), "def");
    EXPECT_EQ(Get(p, "disc", "missing", "dflt   "), "dflt");
    EXPECT_EQ(p.KeyNames("disc"),
              (std::vector<std::string>{"Artist", "q", "q2", "odd", "artist", "novalue"}));
}

// The room counts characters with the terminating zero: room 4 gives 3
// characters, a UTF-8 sequence is never cut, room 0 gives nothing.
TEST(Profile, GetString_Room) {
    const auto p = ProfileFile::Parse(
        "[s]\nk=ab\xC3\xA9\xE2\x99\xAB"
        "cd\n");
    std::string out;
    EXPECT_EQ(p.GetString("s", "k", "", out, 4), 3u);
    EXPECT_EQ(out, "ab\xC3\xA9");
    EXPECT_EQ(p.GetString("s", "k", "", out, 0), 0u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(p.GetString("s", "k", "", out, 100), 6u);
}

// Integers: leading decimal digits with a sign; none gives 0; a missing or
// empty value gives the default; huge values saturate.
TEST(Profile, GetInt_Semantics) {
    const auto p = ProfileFile::Parse(
        "[s]\na=42\nb=-7x\nc=abc\nd=\ne=+3\nf=99999999999999\ng=-99999999999999\n");
    EXPECT_EQ(p.GetInt("s", "a", -1), 42);
    EXPECT_EQ(p.GetInt("s", "b", -1), -7);
    EXPECT_EQ(p.GetInt("s", "c", -1), 0);
    EXPECT_EQ(p.GetInt("s", "d", -1), -1);
    EXPECT_EQ(p.GetInt("s", "e", -1), 3);
    EXPECT_EQ(p.GetInt("s", "f", -1), INT32_MAX);
    EXPECT_EQ(p.GetInt("s", "g", -1), INT32_MIN);
    EXPECT_EQ(p.GetInt("s", "zz", -1), -1);
}

// Writes replace in place, add keys at the end of their section (before the
// blank line that separates sections) and sections at the end; everything
// else, line ends and byte order mark included, survives.
TEST(Profile, Write_KeepsTheRest) {
    auto p = ProfileFile::Parse("\xEF\xBB\xBF; head\r\n[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
    EXPECT_FALSE(p.Modified());
    EXPECT_TRUE(p.WriteString("A", "X", "one"));
    EXPECT_TRUE(p.WriteString("a", "z", "3"));
    EXPECT_TRUE(p.WriteInt("c", "n", -5));
    EXPECT_TRUE(p.WriteString("b", "y", std::nullopt));
    EXPECT_TRUE(p.Modified());
    EXPECT_EQ(p.Serialize(),
              "\xEF\xBB\xBF; head\r\n[a]\r\nX=one\r\nz=3\r\n\r\n[b]\r\n[c]\r\nn=-5\r\n");
    EXPECT_TRUE(p.DeleteSection("B"));
    EXPECT_FALSE(p.HasSection("b"));
    EXPECT_EQ(p.SectionNames(), (std::vector<std::string>{"a", "c"}));
}

// A value cannot add lines; names a file cannot hold are refused.
TEST(Profile, Write_RefusesInjection) {
    auto p = ProfileFile::Parse("");
    EXPECT_TRUE(p.WriteString("s", "k", "evil\n[other]\r\nk=v"));
    EXPECT_EQ(p.SectionNames(), std::vector<std::string>{"s"});
    EXPECT_EQ(Get(p, "s", "k"), "evil [other]  k=v");
    EXPECT_FALSE(p.WriteString("s]x", "k", "v"));
    EXPECT_FALSE(p.WriteString("s", "a=b", "v"));
    EXPECT_FALSE(p.WriteString("s", ";k", "v"));
    EXPECT_FALSE(p.WriteString("", "k", "v"));
    EXPECT_FALSE(p.WriteString("s", "  ", "v"));
    EXPECT_FALSE(p.WriteString("s\n", "k", "v"));
    EXPECT_EQ(Get(p, "s", "k"), "evil [other]  k=v");
}

// File calls: a missing file reads as empty; writes make the folder and
// replace the file whole; edits from several threads all arrive.
TEST(Profile, FileCalls) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("profile-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    const auto file = folder / "sub" / "cdplayer.ini";
    std::string out;
    EXPECT_EQ(GetString(file, "s", "k", "d", out, 10), 1u);
    EXPECT_EQ(GetInt(file, "s", "k", 7), 7);
    EXPECT_TRUE(WriteString(file, "s", "k", "v"));
    EXPECT_TRUE(WriteInt(file, "s", "n", 12));
    EXPECT_EQ(GetInt(file, "s", "n", 0), 12);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i)
                WriteInt(file, "t" + std::to_string(t), std::to_string(i), i);
        });
    for (auto& th : threads) th.join();
    ProfileFile p;
    ASSERT_TRUE(Load(file, p));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(p.KeyNames("t" + std::to_string(t)).size(), 10u);
    std::filesystem::remove_all(folder);
}

// The cache lives in the user's configuration folder.
TEST(Profile, CdPlayerIniPath_FollowsXdg) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(CdPlayerIniPath(), std::filesystem::path("/tmp/xdg-test/Korvan/cdplayer.ini"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_NE(CdPlayerIniPath().string().find("/.config/Korvan/cdplayer.ini"), std::string::npos);
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

// A FIFO or an oversized file under the cache's name: read at once as
// unreadable and told once (not a start-up that waits for a writer forever,
// nor the whole file in memory); an edit keeps it aside and starts afresh.
TEST(Profile, NotRegularOrTooLarge_UnreadableToldOnceAndKeptAside) {
    tunara::ScopedRecordingInteraction ui;
    const auto folder =
        std::filesystem::temp_directory_path() / ("profile-odd-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto fifo = folder / "fifo.ini", big = folder / "big.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(big) << "[s]\nk=1\n";
    std::filesystem::resize_file(big, 17u << 20);

    auto loaded = std::make_shared<std::promise<bool>>();
    std::thread([loaded, fifo, big] {
        ProfileFile p;
        const bool any = Load(fifo, p) || Load(big, p) || Load(big, p);
        loaded->set_value(any);
    }).detach();
    auto done = loaded->get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "reading a FIFO blocked";
    EXPECT_FALSE(done.get());
    tunara::UiQueue().Deliver();
    ASSERT_EQ(ui->errors.size(), 2u);
    EXPECT_EQ(ui->errors[0].Formatted(), fifo.string() + " is not a regular file; it is not read.");
    EXPECT_EQ(ui->errors[1].Formatted(), big.string() + " is larger than 16 MB; it is not read.");

    EXPECT_TRUE(WriteInt(big, "s", "k", 2));
    EXPECT_EQ(GetInt(big, "s", "k", 0), 2);
    EXPECT_EQ(std::filesystem::file_size(folder / "big.ini.unreadable"), 17u << 20);
    std::filesystem::remove_all(folder);
}
