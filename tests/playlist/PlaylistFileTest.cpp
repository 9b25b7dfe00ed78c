#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "playlist/FakeMediaSource.h"
#include "playlist/Playlist.h"
#include "playlist/PlaylistPaths.h"
#include "support/TempDir.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

class PlaylistFile : public ::testing::Test {
protected:
    void SetUp() override { dir_ = tmp_.path.string() + "/"; }
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

    testing::FakeSources sources_;
    tunara::testing::TempDir tmp_;
    std::string dir_;
};

TEST_F(PlaylistFile, EmptyOrMissingFile) {
    Write("empty.pls", "");
    Playlist list{sources_};
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
    Playlist list{sources_};
    ASSERT_TRUE(list.Load(dir_ + "lists/l.m3u"));
    EXPECT_EQ(Locations(list),
              (std::vector<std::string>{
                  dir_ + "lists/../sub/a b.wav", other, dir_ + "lists/../sub/a b.wav", a, other,
                  dir_ + "lists/x.wav", "C:\\Music\\x.wav", "\\\\server\\share\\x.wav",
                  "http://example.invalid/x.mp3"}));
    EXPECT_FALSE(list.IsUnavailable(5));
    EXPECT_TRUE(list.IsUnavailable(6));
}

// Lists as people and other programs write them. Each row: the bytes, whether
// they are read as UTF-8 whatever they hold (.m3u8), the layout found and the
// entries with their titles and lengths.
TEST(PlaylistText, Spellings) {
    struct Want {
        Want(std::string v, std::string t = {}, int32_t l = -1)
            : value(std::move(v)), title(std::move(t)), lengthSec(l) {}
        std::string value, title;
        int32_t lengthSec;
    };
    struct Row {
        const char* what;
        std::string bytes;
        bool utf8;
        bool m3u;
        std::vector<Want> entries;
    };
    const std::vector<Row> rows = {
        {"BOM, CR LF",
         "\xEF\xBB\xBF"
         "a.mp3\r\nb.mp3",
         false,
         true,
         {{"a.mp3"}, {"b.mp3"}}},
        {"blanks around entries",
         " \t a.mp3 \t\r\n \r\n\tb.mp3\n",
         false,
         true,
         {{"a.mp3"}, {"b.mp3"}}},
        {"comments only at the line start",
         "#EXTM3U\r\n#\r\n  #not a comment.mp3\r\n",
         false,
         true,
         {{"#not a comment.mp3"}}},
        {"extended m3u",
         "#EXTM3U\n#EXTINF:123,Artist - Title, Pt. 2\na.mp3\n#extinf:-1\nb.mp3\nc.mp3",
         false,
         true,
         {{"a.mp3", "Artist - Title, Pt. 2", 123}, {"b.mp3"}, {"c.mp3"}}},
        {"latin-1 m3u",
         "caf\xE9.mp3\n#EXTINF:5,Gr\xFC\xDF"
         "e\nb.mp3",
         false,
         true,
         {{"caf\xC3\xA9.mp3"},
          {"b.mp3",
           "Gr\xC3\xBC\xC3\x9F"
           "e",
           5}}},
        {"utf-8 m3u", "caf\xC3\xA9.mp3", false, true, {{"caf\xC3\xA9.mp3"}}},
        {"m3u8 is UTF-8 whatever it holds", "caf\xE9.mp3", true, true, {{"caf\xE9.mp3"}}},
        {"pls: case, blanks, BOM",
         "\xEF\xBB\xBF [Playlist] \r\nFILE1 = a.mp3 \r\nfile2=b.mp3",
         false,
         false,
         {{"a.mp3"}, {"b.mp3"}}},
        {"pls: number order, titles, lengths",
         "[playlist]\nFile10=c.mp3\nTitle2=Bee\nFile2=b.mp3\nfile01=a.mp3\nLength2=61\n"
         "Filex=x.mp3\nTitle7=no file\nNumberOfEntries=3\nVersion=2\n",
         false,
         false,
         {{"a.mp3"}, {"b.mp3", "Bee", 61}, {"c.mp3"}}},
    };
    for (const Row& row : rows) {
        bool m3u = !row.m3u;
        auto entries = ParsePlaylistEntries(row.bytes, m3u, row.utf8);
        EXPECT_EQ(m3u, row.m3u) << row.what;
        ASSERT_EQ(entries.size(), row.entries.size()) << row.what;
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].value, row.entries[i].value) << row.what;
            EXPECT_EQ(entries[i].title, row.entries[i].title) << row.what;
            EXPECT_EQ(entries[i].lengthSec, row.entries[i].lengthSec) << row.what;
        }
    }
    for (const char* name : {"a.pls", "/x/A.M3U", "b.m3u8", "c.Pls"})
        EXPECT_TRUE(IsPlaylistName(name)) << name;
    for (const char* name : {"m3u", "/x.m3u/a", "a.mp3", "a.m3u8.wav"})
        EXPECT_FALSE(IsPlaylistName(name)) << name;
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
    Playlist list{sources_};
    list.AddFile(a);
    list.AddFile(sub);
    list.AddFile(far);
    ASSERT_TRUE(list.SaveTo(dir_ + "mix.pls"));
    EXPECT_FALSE(list.IsModified());
    EXPECT_EQ(Read("mix.pls"),
              "[playlist]\r\nFile1=a.wav\r\nTitle1=a.wav\r\nLength1=60\r\n"
              "File2=s/b.wav\r\nTitle2=b.wav\r\nLength2=60\r\nFile3=" +
                  far + "\r\nTitle3=" + fs::path(far).filename().string() +
                  "\r\nLength3=60\r\nNumberOfEntries=3\r\nVersion=2\r\n");
    fs::remove(far);
}

// Names that would read back as something else are stored in full.
TEST_F(PlaylistFile, Save_AmbiguousRelativeNamesStayFull) {
    std::string odd = Touch("a\\b.wav");
    std::string scheme = Touch("http:x.wav");
    std::string hash = Touch("#1 hit.wav");  // relative, it would read back as a comment
    Playlist list{sources_};
    list.SetM3u(true);
    list.AddFile(odd);
    list.AddFile(scheme);
    list.AddFile(hash);
    ASSERT_TRUE(list.SaveTo(dir_ + "l.m3u"));
    EXPECT_EQ(Read("l.m3u"), "#EXTM3U\r\n#EXTINF:60,a\\b.wav\r\n" + odd +
                                 "\r\n#EXTINF:60,http:x.wav\r\n" + scheme +
                                 "\r\n#EXTINF:60,#1 hit.wav\r\n" + hash + "\r\n");
    Playlist back{sources_};
    ASSERT_TRUE(back.Load(dir_ + "l.m3u"));
    EXPECT_EQ(Locations(back), (std::vector<std::string>{odd, scheme, hash}));
}

// A name that differs from the list's folder only by letter case is not
// below it.
TEST_F(PlaylistFile, Save_FolderPrefixIsCaseSensitive) {
    Playlist list{sources_};
    auto s = testing::MakeFake("x", 1000);
    std::string upper = dir_;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    s->SetLocation(upper + "x.mp3");
    list.Append(std::move(s));
    list.SetM3u(true);
    ASSERT_TRUE(list.SaveTo(dir_ + "l.m3u"));
    EXPECT_EQ(Read("l.m3u"), "#EXTM3U\r\n#EXTINF:1,x\r\n" + upper + "x.mp3\r\n");
}

TEST_F(PlaylistFile, RoundTrip_BothLayouts) {
    std::vector<std::string> files = {Touch("1.wav"), Touch("d/2.mp3"), Touch("3 three.mov")};
    for (bool m3u : {false, true}) {
        Playlist list{sources_};
        for (auto& f : files) list.AddFile(f);
        list.SetM3u(m3u);
        std::string name = m3u ? "rt.m3u" : "rt.pls";
        ASSERT_TRUE(list.SaveTo(dir_ + name));
        Playlist back{sources_};
        ASSERT_TRUE(back.Load(dir_ + name));
        EXPECT_EQ(back.IsM3u(), m3u);
        EXPECT_EQ(Locations(back), files);
        EXPECT_FALSE(back.IsModified());
    }
}

// Save writes only when something changed.
TEST_F(PlaylistFile, Save_UnmodifiedWritesNothing) {
    Write("l.m3u", "keep\n");
    Playlist list{sources_};
    ASSERT_TRUE(list.Load(dir_ + "l.m3u"));
    Write("l.m3u", "changed on disk\n");
    EXPECT_TRUE(list.Save());
    EXPECT_EQ(Read("l.m3u"), "changed on disk\n");
}

// A write that fails half-way (the file-size limit stands in for a full
// disk) keeps the old list on disk and the modified flag.
TEST_F(PlaylistFile, Save_FailedWriteKeepsOldFile) {
    Write("l.pls", "[playlist]\r\nNumberOfEntries=0\r\n");
    Playlist list{sources_};
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
    Playlist list{sources_};
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
    Playlist list{sources_};
    list.Append(testing::MakeFake("x", 1000));
    ASSERT_TRUE(list.SaveTo(dir_ + "l.m3u"));
    EXPECT_EQ(fs::status(dir_ + "l.m3u").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Saving through a symbolic link rewrites the file it names and keeps the link.
TEST_F(PlaylistFile, Save_ThroughSymlinkKeepsLink) {
    Write("real.m3u", "old\n");
    fs::create_symlink(dir_ + "real.m3u", dir_ + "link.m3u");
    Playlist list{sources_};
    list.SetM3u(true);
    list.Append(testing::MakeFake("x", 1000));
    ASSERT_TRUE(list.SaveTo(dir_ + "link.m3u"));
    EXPECT_TRUE(fs::is_symlink(dir_ + "link.m3u"));
    EXPECT_EQ(Read("real.m3u"), "#EXTM3U\r\n#EXTINF:1,x\r\n/fake/x\r\n");
}

// AddFile keeps files whose source cannot read them out of the list.
TEST_F(PlaylistFile, AddFile_FailedLoadIsSkipped) {
    Playlist list{sources_};
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

namespace tunara {
namespace {

// Sources as the real ones behave: titled by the file's name without its
// extension, and failing to load a missing file or one that is "damaged".
class ListRoundTrip : public PlaylistFile {
protected:
    // Hides the fixture's fakes from the tests below.
    SourceFactory sources_{testing::TestEngine(),
                           [](const std::string& name) -> std::unique_ptr<MediaSource> {
                               auto s = std::make_unique<testing::FakeMediaSource>();
                               std::ifstream in(name);
                               std::string content((std::istreambuf_iterator<char>(in)), {});
                               auto base = fs::path(name).stem().string();
                               s->Describe(base, 90000);
                               s->loadSucceeds = in.is_open() && content != "damaged" ? 1 : 0;
                               return s;
                           }};

    struct Seen {
        std::vector<std::string> locations, titles;
        std::vector<int> durations;
        std::vector<bool> unavailable;
        bool operator==(const Seen&) const = default;
    };
    static Seen Look(const Playlist& list) {
        Seen seen;
        for (int i = 0; i < list.Count(); ++i) {
            seen.locations.push_back(list.ItemAt(i)->GetLocation());
            seen.titles.push_back(list.TitleAt(i));
            seen.durations.push_back(list.DurationAt(i));
            seen.unavailable.push_back(list.IsUnavailable(i));
        }
        return seen;
    }
};

// Entries that do not open (missing, damaged) stay, in order, with the titles
// and lengths the list gave; one message tells of them; saving in any layout
// and loading again gives the same list, and a second save the same bytes.
TEST_F(ListRoundTrip, EveryEntryAndTitleSurvives) {
    const std::string unicode =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x98\x83";
    Touch("a.wav");
    Write("bad.mp3", "damaged");
    Touch(unicode + ".wav");
    Write("in.m3u",
          "#EXTM3U\n#EXTINF:61,Artist - Song\na.wav\n#EXTINF:200,Lost Song\n"
          "gone/missing.mp3\n#EXTINF:-1,Broken\nbad.mp3\n" +
              unicode +
              ".wav\n"
              "/elsewhere/plain.mp3\n");
    const Seen want{{dir_ + "a.wav", dir_ + "gone/missing.mp3", dir_ + "bad.mp3",
                     dir_ + unicode + ".wav", "/elsewhere/plain.mp3"},
                    {"Artist - Song", "Lost Song", "Broken", unicode, "plain"},
                    {90000, 200000, 0, 90000, 0},
                    {false, true, true, false, true}};
    ScopedRecordingInteraction ui;
    Playlist list{sources_};
    ASSERT_TRUE(list.Load(dir_ + "in.m3u"));
    EXPECT_EQ(Look(list), want);
    ASSERT_EQ(ui->errors.size(), 1u);
    EXPECT_EQ(ui->errors[0].stringId, strings::kPlaylistEntriesUnavailable);

    for (const char* name : {"out.pls", "out.m3u", "out.m3u8"}) {
        SCOPED_TRACE(name);
        list.SetM3u(std::string(name) != "out.pls");
        ASSERT_TRUE(list.SaveTo(dir_ + name));
        const std::string first = Read(name);
        Playlist back{sources_};
        ASSERT_TRUE(back.Load(dir_ + name));
        EXPECT_EQ(Look(back), want);
        ASSERT_TRUE(back.SaveTo(dir_ + name));
        EXPECT_EQ(Read(name), first);
    }
    EXPECT_EQ(Read("out.m3u").substr(0, 9), "#EXTM3U\r\n");
    EXPECT_NE(Read("out.m3u").find("#EXTINF:200,Lost Song\r\ngone/missing.mp3\r\n"),
              std::string::npos);
    const std::string pls = Read("out.pls");
    for (const char* line :
         {"File2=gone/missing.mp3\r\n", "Title2=Lost Song\r\n", "Length2=200\r\n", "Length3=-1\r\n",
          "NumberOfEntries=5\r\n", "Version=2\r\n"})
        EXPECT_NE(pls.find(line), std::string::npos) << line;
}

// An entry plays once its file is back; its place and title stay.
TEST_F(ListRoundTrip, MissingEntryComesBack) {
    Write("l.pls", "[playlist]\nFile1=late.wav\nTitle1=Late\nFile2=a.wav\n");
    Touch("a.wav");
    Playlist list{sources_};
    {
        ScopedRecordingInteraction ui;
        ASSERT_TRUE(list.Load(dir_ + "l.pls"));
    }
    MediaSource* before = list.ItemAt(0);
    EXPECT_FALSE(list.TryRestore(0));
    EXPECT_EQ(list.ItemAt(0), before);
    Touch("late.wav");
    EXPECT_TRUE(list.TryRestore(0));
    EXPECT_FALSE(list.IsUnavailable(0));
    EXPECT_EQ(list.ItemAt(0)->GetLocation(), dir_ + "late.wav");
    EXPECT_EQ(list.TitleAt(0), "Late");
    EXPECT_EQ(list.DurationAt(0), 90000);
    EXPECT_FALSE(list.IsModified());
}

// Names the reader would not give back as they are travel as file:// URIs.
TEST_F(ListRoundTrip, AwkwardNamesReadBack) {
    std::vector<std::string> names = {Touch(" lead.wav"), Touch("trail.wav "), Touch("lat\xE9.wav"),
                                      Touch("#hash.wav")};
    Playlist list{sources_};
    for (const auto& n : names) list.AddFile(n);
    for (bool m3u : {true, false}) {
        list.SetM3u(m3u);
        ASSERT_TRUE(list.SaveTo(dir_ + (m3u ? "l.m3u" : "l.pls")));
        Playlist back{sources_};
        ASSERT_TRUE(back.Load(dir_ + (m3u ? "l.m3u" : "l.pls")));
        EXPECT_EQ(Locations(back), names);
    }
}

}  // namespace
}  // namespace tunara
