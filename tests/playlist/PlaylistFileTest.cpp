#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "playlist/FakeMediaSource.h"
#include "playlist/Playlist.h"
#include "playlist/PlaylistPaths.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

class PlaylistFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tunara-pl-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        dir_ += "/";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Touch(const std::string& rel) {
        std::string path = dir_ + rel;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "x";
        return path;
    }
    void Write(const std::string& rel, const std::string& bytes) {
        std::ofstream(dir_ + rel, std::ios::binary) << bytes;
    }
    std::string Read(const std::string& rel) {
        std::ifstream in(dir_ + rel, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> Locations(const Playlist& list) {
        std::vector<std::string> out;
        for (int i = 0; i < list.Count(); ++i) out.push_back(list.ItemAt(i)->GetLocation());
        return out;
    }

    testing::ScopedFakeFactory factory_;
    std::string dir_;
};

// Files that do not open are skipped; the number after "File" does not order
// the entries, the file does; other keys are ignored.
TEST_F(PlaylistFile, LoadPls_FileOrderAndSkippedEntries) {
    Touch("a.wav");
    Touch("b.mp3");
    Write("l.pls",
          "[playlist]\r\nFile10=b.mp3\r\nTitle10=B\nFile2=a.wav\rFile3=missing.wav\r\n\r\n"
          "Length2=12\r\nFilex=a.wav\r\nfile4=a.wav\r\nNumberOfEntries=3\r\nVersion=2\r\n");
    Playlist list;
    ASSERT_TRUE(list.Load(dir_ + "l.pls"));
    EXPECT_FALSE(list.IsM3u());
    EXPECT_FALSE(list.IsModified());
    EXPECT_EQ(Locations(list),
              (std::vector<std::string>{dir_ + "b.mp3", dir_ + "a.wav", dir_ + "a.wav"}));
    EXPECT_EQ(list.Current(), 0);
    EXPECT_EQ(list.Path(), dir_ + "l.pls");
}

// The first line must be exactly "[playlist]": any other case or trailing
// blanks make an m3u list in which every line, the first included, is a file.
TEST_F(PlaylistFile, FirstLine_ExactOrM3u) {
    Touch("a.wav");
    for (const char* first : {"[Playlist]", "[playlist] ", "[PLAYLIST]"}) {
        Touch(first);
        Write("l.pls", std::string(first) + "\nFile1=a.wav\na.wav\n");
        Playlist list;
        ASSERT_TRUE(list.Load(dir_ + "l.pls"));
        EXPECT_TRUE(list.IsM3u()) << first;
        EXPECT_EQ(Locations(list), (std::vector<std::string>{dir_ + first, dir_ + "a.wav"}));
        fs::remove(dir_ + first);
    }
}

TEST_F(PlaylistFile, EmptyOrMissingFile) {
    Write("empty.pls", "");
    Playlist list;
    EXPECT_TRUE(list.Load(dir_ + "empty.pls"));
    EXPECT_TRUE(list.IsM3u());
    EXPECT_EQ(list.Count(), 0);

    Touch("a.wav");
    list.AddFile(dir_ + "a.wav");
    EXPECT_FALSE(list.Load(dir_ + "nothing.m3u"));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Path(), dir_ + "nothing.m3u");
}

// Absolute names stay; relative ones (with "/" or, from Windows, "\") are put
// below the list's folder; file:// URIs are decoded; comments do not open.
TEST_F(PlaylistFile, LoadM3u_RelativeAbsoluteAndUris) {
    std::string a = Touch("sub/a b.wav");
    std::string other = Touch("elsewhere/c.mp3");
    Touch("lists/x.wav");
    Write("lists/l.m3u",
          "#EXTM3U\n#EXTINF:12,Title\n../sub/a b.wav\r\n" + other + "\n..\\sub\\a b.wav\n" +
              "file://" + dir_ + "sub/a%20b.wav\nfile://localhost" + other + "\nx.wav\n" +
              "C:\\Music\\x.wav\n\\\\server\\share\\x.wav\nhttp://example.invalid/x.mp3\n");
    Playlist list;
    ASSERT_TRUE(list.Load(dir_ + "lists/l.m3u"));
    EXPECT_EQ(Locations(list), (std::vector<std::string>{dir_ + "lists/../sub/a b.wav", other,
                                                         dir_ + "lists/../sub/a b.wav", a, other,
                                                         dir_ + "lists/x.wav"}));
}

// Extended M3U: "#" lines are comments and never reach the file opener (each
// would otherwise be reported as a file that failed to open).
TEST(PlaylistText, M3uCommentLinesAreSkipped) {
    bool isM3u = false;
    auto values = ParsePlaylistText(
        "#EXTM3U\r\n#EXTINF:123,Artist - Title\r\na.mp3\r\n#\r\n  #not a comment.mp3\r\nb.wav\n",
        isM3u);
    EXPECT_TRUE(isM3u);
    EXPECT_EQ(values, (std::vector<std::string>{"a.mp3", "  #not a comment.mp3", "b.wav"}));
}

TEST(PlaylistPaths, EntryKinds) {
    EXPECT_TRUE(IsAbsoluteEntry("/a.mp3"));
    EXPECT_TRUE(IsAbsoluteEntry("C:\\a.mp3"));
    EXPECT_TRUE(IsAbsoluteEntry("\\\\server\\a.mp3"));
    EXPECT_TRUE(IsAbsoluteEntry("http://h/a.mp3"));
    EXPECT_FALSE(IsAbsoluteEntry("a.mp3"));
    EXPECT_FALSE(IsAbsoluteEntry("sub\\a:b.mp3"));
    EXPECT_EQ(ResolveEntry("file:///x/%41%zz%2", "/l/"), "/x/A%zz%2");
    EXPECT_EQ(ResolveEntry("sub\\a.mp3", "/l/"), "/l/sub/a.mp3");
    EXPECT_EQ(FolderOf("/a/b.pls"), "/a/");
    EXPECT_EQ(FolderOf("b.pls"), "");
}

// The example layout: files below the list's folder are written relative,
// others in full; CR LF line ends; NumberOfEntries last.
TEST_F(PlaylistFile, SavePls_LayoutAndRelativeRule) {
    std::string a = Touch("a.wav");
    std::string sub = Touch("s/b.wav");
    // Beside the list's folder, not below it.
    std::string far = dir_.substr(0, dir_.size() - 1) + "-far.wav";
    std::ofstream(far) << "x";
    Playlist list;
    list.AddFile(a);
    list.AddFile(sub);
    list.AddFile(far);
    ASSERT_TRUE(list.SaveTo(dir_ + "mix.pls"));
    EXPECT_FALSE(list.IsModified());
    EXPECT_EQ(Read("mix.pls"), "[playlist]\r\nFile1=a.wav\r\nFile2=s/b.wav\r\nFile3=" + far +
                                   "\r\nNumberOfEntries=3\r\n");
    fs::remove(far);
}

// Names that would read back as something else are stored in full.
TEST_F(PlaylistFile, Save_AmbiguousRelativeNamesStayFull) {
    std::string odd = Touch("a\\b.wav");
    std::string scheme = Touch("http:x.wav");
    std::string hash = Touch("#1 hit.wav");  // relative, it would read back as a comment
    Playlist list;
    list.SetM3u(true);
    list.AddFile(odd);
    list.AddFile(scheme);
    list.AddFile(hash);
    ASSERT_TRUE(list.SaveTo(dir_ + "l.m3u"));
    EXPECT_EQ(Read("l.m3u"), odd + "\r\n" + scheme + "\r\n" + hash + "\r\n");
    Playlist back;
    ASSERT_TRUE(back.Load(dir_ + "l.m3u"));
    EXPECT_EQ(Locations(back), (std::vector<std::string>{odd, scheme, hash}));
}

// A name that differs from the list's folder only by letter case is not
// below it.
TEST_F(PlaylistFile, Save_FolderPrefixIsCaseSensitive) {
    Playlist list;
    auto s = testing::MakeFake("x", 1000);
    std::string upper = dir_;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    s->SetLocation(upper + "x.mp3");
    list.Append(std::move(s));
    list.SetM3u(true);
    ASSERT_TRUE(list.SaveTo(dir_ + "l.m3u"));
    EXPECT_EQ(Read("l.m3u"), upper + "x.mp3\r\n");
}

TEST_F(PlaylistFile, RoundTrip_BothLayouts) {
    std::vector<std::string> files = {Touch("1.wav"), Touch("d/2.mp3"), Touch("3 three.mov")};
    for (bool m3u : {false, true}) {
        Playlist list;
        for (auto& f : files) list.AddFile(f);
        list.SetM3u(m3u);
        std::string name = m3u ? "rt.m3u" : "rt.pls";
        ASSERT_TRUE(list.SaveTo(dir_ + name));
        Playlist back;
        ASSERT_TRUE(back.Load(dir_ + name));
        EXPECT_EQ(back.IsM3u(), m3u);
        EXPECT_EQ(Locations(back), files);
        EXPECT_FALSE(back.IsModified());
    }
}

// Save writes only when something changed.
TEST_F(PlaylistFile, Save_UnmodifiedWritesNothing) {
    Write("l.m3u", "keep\n");
    Playlist list;
    ASSERT_TRUE(list.Load(dir_ + "l.m3u"));
    Write("l.m3u", "changed on disk\n");
    EXPECT_TRUE(list.Save());
    EXPECT_EQ(Read("l.m3u"), "changed on disk\n");
}

// A write that fails half-way (the file-size limit stands in for a full
// disk) keeps the old list on disk and the modified flag.
TEST_F(PlaylistFile, Save_FailedWriteKeepsOldFile) {
    Write("l.pls", "[playlist]\r\nNumberOfEntries=0\r\n");
    Playlist list;
    for (int i = 0; i < 50; ++i) {
        auto s = testing::MakeFake("x", 1000);
        s->SetLocation(dir_ + "a-rather-long-file-name-" + std::to_string(i) + ".wav");
        list.Append(std::move(s));
    }
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 100;
    auto previous = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool saved = list.SaveTo(dir_ + "l.pls");
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(list.IsModified());
    EXPECT_EQ(Read("l.pls"), "[playlist]\r\nNumberOfEntries=0\r\n");
    size_t files = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 1u) << "temporary file left behind";
}

TEST_F(PlaylistFile, Save_ReadOnlyFolderKeepsOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    Write("l.m3u", "old\n");
    Playlist list;
    list.Append(testing::MakeFake("x", 1000));
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(list.SaveTo(dir_ + "l.m3u"));
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_TRUE(list.IsModified());
    EXPECT_EQ(Read("l.m3u"), "old\n");
}

TEST_F(PlaylistFile, Save_KeepsModeOfReplacedList) {
    Write("l.m3u", "old\n");
    fs::permissions(dir_ + "l.m3u",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Playlist list;
    list.Append(testing::MakeFake("x", 1000));
    ASSERT_TRUE(list.SaveTo(dir_ + "l.m3u"));
    EXPECT_EQ(fs::status(dir_ + "l.m3u").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Saving through a symbolic link rewrites the file it names and keeps the link.
TEST_F(PlaylistFile, Save_ThroughSymlinkKeepsLink) {
    Write("real.m3u", "old\n");
    fs::create_symlink(dir_ + "real.m3u", dir_ + "link.m3u");
    Playlist list;
    list.SetM3u(true);
    list.Append(testing::MakeFake("x", 1000));
    ASSERT_TRUE(list.SaveTo(dir_ + "link.m3u"));
    EXPECT_TRUE(fs::is_symlink(dir_ + "link.m3u"));
    EXPECT_EQ(Read("real.m3u"), "/fake/x\r\n");
}

// AddFile keeps files whose source cannot read them out of the list.
TEST_F(PlaylistFile, AddFile_FailedLoadIsSkipped) {
    Playlist list;
    EXPECT_EQ(list.AddFile(dir_ + "none.wav"), -1);
    EXPECT_EQ(list.AddFile(Touch("ok.wav")), 0);
    EXPECT_EQ(list.Count(), 1);
    list.Reset();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.IsModified());
    EXPECT_TRUE(list.Path().empty());
}

}  // namespace
}  // namespace tunara
