#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/io/testing/SaveFaults.h"
#include "platform/registry/Registry.h"
#include "support/TempDir.h"

namespace tunara::registry {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_.path;
        file_ = dir_ / "Korvan" / "Tunara" / "settings";
    }
    // Files in the store's folder other than the store and its lock.
    std::vector<std::string> Strays() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(file_.parent_path())) {
            const auto name = e.path().filename().string();
            if (name != "settings" && name != ".settings.lock") out.push_back(name);
        }
        return out;
    }

    testing::TempDir tmp_;
    fs::path dir_;
    fs::path file_;
};

// Both types survive a reopen; names compare without case; types are kept apart.
TEST_F(RegistryTest, Values_SurviveReopenByNameIgnoringCase) {
    {
        Key key;
        ASSERT_EQ(Key::Open(file_, "CDOptions", true, key), Status::Ok);
        EXPECT_EQ(key.SetDword("AutoPlayCD", 0xFFFFFFFFu), Status::Ok);
        EXPECT_EQ(key.SetString("CDDBAddr", "host.example"), Status::Ok);
        EXPECT_EQ(key.Close(), Status::Ok);
    }
    Key key;
    ASSERT_EQ(Key::Open(file_, "cdoptions", false, key), Status::Ok);
    uint32_t number = 0;
    std::string text;
    EXPECT_EQ(key.QueryDword("autoplaycd", number), Status::Ok);
    EXPECT_EQ(number, 0xFFFFFFFFu);
    EXPECT_EQ(key.QueryString("CDDBADDR", text), Status::Ok);
    EXPECT_EQ(text, "host.example");
    EXPECT_EQ(key.QueryDword("CDDBAddr", number), Status::WrongType);
    EXPECT_EQ(key.QueryString("Missing", text), Status::NotFound);
    // The buffer holds the terminating zero too: 12 characters need 13 bytes.
    EXPECT_EQ(key.QueryString("CDDBAddr", text, 12), Status::MoreData);
    EXPECT_EQ(key.QueryString("CDDBAddr", text, 13), Status::Ok);
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"AutoPlayCD", "CDDBAddr"}));

    Key none;
    EXPECT_EQ(Key::Open(file_, "NoSuchKey", false, none), Status::NotFound);
    EXPECT_EQ(none.SetDword("x", 1), Status::NotOpen);
}

// Whatever bytes a text or name holds, it reads back the same.
TEST_F(RegistryTest, Values_AwkwardTextRoundTrips) {
    const std::string text = "a\"b\\c[d]e=f\nline\r\ttab \x01\x7f Grüße";
    const std::string name = "we\"ird]=[name";
    {
        Key key;
        ASSERT_EQ(Key::Open(file_, "A\\B/C", true, key), Status::Ok);
        key.SetString(name, text);
        key.SetString("empty", "");
    }
    Key key;
    ASSERT_EQ(Key::Open(file_, "a/b/c", false, key), Status::Ok);
    std::string got;
    EXPECT_EQ(key.QueryString(name, got), Status::Ok);
    EXPECT_EQ(got, text);
    EXPECT_EQ(key.QueryString("empty", got), Status::Ok);
    EXPECT_EQ(got, "");

    Key parent;
    ASSERT_EQ(Key::Open(file_, "A", false, parent), Status::Ok);
    EXPECT_EQ(parent.SubkeyNames(), std::vector<std::string>{"B"});
}

// Two handles writing different values of one key both keep their values.
TEST_F(RegistryTest, Flush_MergesWithWhatOthersSaved) {
    Key first, second;
    ASSERT_EQ(Key::Open(file_, "S", true, first), Status::Ok);
    ASSERT_EQ(Key::Open(file_, "S", true, second), Status::Ok);
    first.SetDword("One", 1);
    second.SetDword("Two", 2);
    EXPECT_EQ(first.Close(), Status::Ok);
    EXPECT_EQ(second.Close(), Status::Ok);

    Key key;
    ASSERT_EQ(Key::Open(file_, "S", false, key), Status::Ok);
    uint32_t v = 0;
    EXPECT_EQ(key.QueryDword("One", v), Status::Ok);
    EXPECT_EQ(key.QueryDword("Two", v), Status::Ok);
    EXPECT_EQ(key.DeleteValue("one"), Status::Ok);
    EXPECT_EQ(key.DeleteValue("one"), Status::NotFound);
    key.Close();
    ASSERT_EQ(Key::Open(file_, "S", false, key), Status::Ok);
    EXPECT_EQ(key.QueryDword("One", v), Status::NotFound);
}

// A save stopped before the rename (a crash) or while writing (a full disk)
// leaves the previous store whole and readable.
TEST_F(RegistryTest, Save_InterruptedKeepsPreviousStore) {
    {
        Key key;
        ASSERT_EQ(Key::Open(file_, "S", true, key), Status::Ok);
        key.SetDword("Value", 1);
    }
    const std::string before = ReadFile(file_);

    for (const char* stage : {"rename", "write"}) {
        SCOPED_TRACE(stage);
        Key key;
        {
            tunara::testing::ScopedSaveFailure failure(stage);
            ASSERT_EQ(Key::Open(file_, "S", true, key), Status::Ok);
            key.SetDword("Value", 2);
            EXPECT_EQ(key.Close(), Status::IoError);
        }

        EXPECT_EQ(ReadFile(file_), before);
        ASSERT_EQ(Key::Open(file_, "S", false, key), Status::Ok);
        uint32_t v = 0;
        EXPECT_EQ(key.QueryDword("Value", v), Status::Ok);
        EXPECT_EQ(v, 1u);
        // The crash left its temporary file, which the next save clears; the
        // full disk left nothing.
        EXPECT_EQ(Strays().size(), std::string_view(stage) == "rename" ? 1u : 0u);
    }
    Key key;
    ASSERT_EQ(Key::Open(file_, "S", true, key), Status::Ok);
    key.SetDword("Value", 3);
    EXPECT_EQ(key.Close(), Status::Ok);
    EXPECT_EQ(Strays().size(), 0u);
    ASSERT_EQ(Key::Open(file_, "S", false, key), Status::Ok);
    uint32_t v = 0;
    key.QueryDword("Value", v);
    EXPECT_EQ(v, 3u);
}

// A hand edit may leave CR LF line ends, no final line end or a damaged line:
// every value that reads is used. A file that is not a store reads as empty.
// Whatever did not read whole is kept aside at the next save, each time
// under a new name.
TEST_F(RegistryTest, Load_KeepsWhatReadsAndKeepsTheRestAside) {
    struct Row {
        std::string text;
        bool found;  // key S and its value V
    };
    const std::vector<Row> rows = {
        {"TunaraSettings 1\r\n[S]\r\n\"V\"=dword:00000007\r\n", true},
        {"TunaraSettings 1\n[S]\n\"V\"=dword:00000007", true},
        {"TunaraSettings 1\n[S]\n\"Bad\"=dword:0000001\n\"V\"=dword:00000007\n\"X\"=\"open\n",
         true},
        {"TunaraSettings 1\n\"Lost\"=\"no "
         "key\"\n[S\n\"Y\"=dword:00000001\n[S]\n\"V\"=dword:00000007\n",
         true},
        {"", false},
        {"\x89PNG\r\n", false},
    };
    fs::create_directories(file_.parent_path());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::ofstream(file_, std::ios::binary) << row.text;
        Key key;
        if (!row.found) {
            EXPECT_EQ(Key::Open(file_, "S", false, key), Status::NotFound);
            continue;
        }
        ASSERT_EQ(Key::Open(file_, "S", false, key), Status::Ok);
        uint32_t v = 0;
        EXPECT_EQ(key.QueryDword("V", v), Status::Ok);
        EXPECT_EQ(v, 7u);
        EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"V"});
    }

    const std::vector<std::string> bad = {"not a store\n", "TunaraSettings 1\n[S]\n\"V\"=junk\n"};
    for (const std::string& text : bad) {
        std::ofstream(file_, std::ios::binary) << text;
        Key key;
        ASSERT_EQ(Key::Open(file_, "S", true, key), Status::Ok);
        key.SetDword("W", 5);
        EXPECT_EQ(key.Close(), Status::Ok);
    }
    EXPECT_EQ(ReadFile(file_.string() + ".unreadable"), bad[0]);
    EXPECT_EQ(ReadFile(file_.string() + ".unreadable.1"), bad[1]);
    // The store saved over a readable one sets nothing aside.
    Key key;
    ASSERT_EQ(Key::Open(file_, "S", true, key), Status::Ok);
    key.SetDword("W", 6);
    EXPECT_EQ(key.Close(), Status::Ok);
    EXPECT_FALSE(fs::exists(file_.string() + ".unreadable.2"));
}

// The first open of a store removes the temporary files killed saves left,
// but not one a save may still be writing, nor files that are not ours.
TEST_F(RegistryTest, Open_RemovesStaleTemporaries) {
    fs::create_directories(file_.parent_path());
    const auto folder = file_.parent_path();
    auto make = [&](const std::string& name, bool old) {
        std::ofstream(folder / name) << "partial";
        if (old)
            fs::last_write_time(folder / name,
                                fs::file_time_type::clock::now() - std::chrono::minutes(5));
    };
    make(".settings.AbC123", true);
    make(".settings.Xy9876", false);  // under way elsewhere
    make(".settings.lock", true);
    make(".settings.AbC1234", true);
    make(".other.AbC123", true);
    make("settings.unreadable", true);
    Key key;
    Key::Open(file_, "S", false, key);
    std::vector<std::string> left = Strays();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".other.AbC123", ".settings.AbC1234",
                                              ".settings.Xy9876", "settings.unreadable"}));
}

// A folder that cannot be made loses the write and says so.
TEST_F(RegistryTest, Flush_UnwritableFolderIsAnError) {
    std::ofstream(dir_ / "plainfile") << "x";
    Key key;
    ASSERT_EQ(Key::Open(dir_ / "plainfile" / "sub" / "settings", "S", true, key), Status::Ok);
    key.SetDword("Value", 1);
    EXPECT_EQ(key.Close(), Status::IoError);
}

TEST_F(RegistryTest, UserStoreFolder_FollowsXdgConfigHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    EXPECT_EQ(UserStoreFolder(), dir_ / "Korvan" / "Tunara");
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
    EXPECT_EQ(UserStoreFolder().parent_path().parent_path().filename(), ".config");
    if (oldXdg) {
        ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace tunara::registry
