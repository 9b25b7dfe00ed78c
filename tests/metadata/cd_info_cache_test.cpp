// The CD information cache: one section per disc in a private-profile file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FakeCdDisc.h"
#include "metadata/CddbLookup.h"
#include "platform/profile/Profile.h"

using namespace tunara;
using namespace tunara::cddb;
using tunara::testing::FakeCdDisc;

namespace {

class CdInfoCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = std::filesystem::temp_directory_path() /
                ("cdinfo-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini");
        std::filesystem::remove(file_);
    }
    void TearDown() override { std::filesystem::remove(file_); }
    void WriteRaw(const std::string& bytes) { std::ofstream(file_, std::ios::binary) << bytes; }
    std::filesystem::path file_;
};

}  // namespace

// The section is the media identity in upper-case hexadecimal.
TEST(CdInfoCache, SectionName_IsHex) {
    EXPECT_EQ(CacheSection(0x2A4B5C), "2A4B5C");
    EXPECT_EQ(CacheSection(0), "0");
    EXPECT_EQ(CacheSection(0xFFFFFFFF), "FFFFFFFF");
    EXPECT_EQ(CacheSection(0x123456789ABULL), "123456789AB");
}

// What is written reads back into a fresh disc with the same identity.
TEST_F(CdInfoCacheTest, WriteThenRead_RoundTrip) {
    FakeCdDisc written;
    written.EditTracks([](std::vector<CdTrackText>& tracks) {
        for (auto& t : tracks) {
            t.artist = "Björk";
            t.album = "Début";
            t.category = "misc";
            t.title = "Song " + std::to_string(t.number) + " ♫";
        }
    });
    ASSERT_TRUE(WriteCdInfoCache(file_, written));
    FakeCdDisc read;
    ASSERT_TRUE(ReadCdInfoCache(file_, read));
    const auto tracks = read.Tracks();
    EXPECT_EQ(tracks[2].title, "Song 3 ♫");
    EXPECT_EQ(tracks[0].artist, "Björk");
    EXPECT_EQ(tracks[1].album, "Début");
    EXPECT_EQ(tracks[1].category, "misc");

    FakeCdDisc other({150, 9000, 20000}, 300, 0x1234);  // another disc: not found
    EXPECT_FALSE(ReadCdInfoCache(file_, other));
}

// A section whose "numtracks" differs from the disc's track count is not
// this disc: nothing is read.
TEST_F(CdInfoCacheTest, TrackCountMismatch_Ignored) {
    WriteRaw("[2A4B5C]\nartist=Someone\ntitle=Else\nnumtracks=4\n0=Wrong\n");
    FakeCdDisc disc;
    EXPECT_FALSE(ReadCdInfoCache(file_, disc));
    EXPECT_EQ(disc.Tracks()[0].title, "Track 1");
    WriteRaw("[2A4B5C]\nartist=Someone\n0=Wrong\n");  // no count at all
    EXPECT_FALSE(ReadCdInfoCache(file_, disc));
    EXPECT_FALSE(ReadCdInfoCache(file_ / "missing", disc));
}

// A file written elsewhere: CR LF lines, other sections, Latin-1 text, keys
// in another case, missing keys (the track keeps what it had) and a title
// longer than the cache keeps.
TEST_F(CdInfoCacheTest, ForeignFile_Reads) {
    const std::string longTitle(300, 'x');
    WriteRaw(
        "[CDROM]\r\nWhatever=1\r\n\r\n[2a4b5c]\r\nARTIST=Mot\xF6rhead\r\n"
        "Title = Ace of Spades \r\nnumtracks=3\r\n0=\xC9l\xE9gie\r\n2=" +
        longTitle + "\r\n");
    FakeCdDisc disc;
    ASSERT_TRUE(ReadCdInfoCache(file_, disc));
    const auto tracks = disc.Tracks();
    EXPECT_EQ(tracks[0].artist, "Motörhead");
    EXPECT_EQ(tracks[0].album, "Ace of Spades");
    EXPECT_EQ(tracks[0].category, "Unknown");
    EXPECT_EQ(tracks[0].title, "Élégie");
    EXPECT_EQ(tracks[1].title, "Track 2");
    EXPECT_EQ(tracks[2].title, std::string(256, 'x'));

    // Writing keeps the other section and the file's CR LF line ends.
    disc.EditTracks([](std::vector<CdTrackText>& t) { t[1].title = "Middle"; });
    ASSERT_TRUE(WriteCdInfoCache(file_, disc));
    std::ifstream in(file_, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("[CDROM]\r\nWhatever=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("1=Middle\r\n"), std::string::npos);
}

// A list without tracks writes nothing.
TEST_F(CdInfoCacheTest, EmptyList_WritesNothing) {
    FakeCdDisc disc;
    for (int n = 1; n <= 3; ++n) disc.DropFromList(n);
    EXPECT_FALSE(WriteCdInfoCache(file_, disc));
    EXPECT_FALSE(std::filesystem::exists(file_));
}
