#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "metadata/Id3Fixtures.h"
#include "metadata/Id3Tag.h"

using namespace tunara;
using namespace tunara::testing;

namespace {

// A 128-byte record with the given slots (ISO-8859-1 bytes, zero-padded).
Bytes V1Record(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, uint8_t genre) {
    Bytes r(128, 0);
    std::memcpy(r.data(), "TAG", 3);
    std::memcpy(r.data() + 3, title.data(), std::min<size_t>(title.size(), 30));
    std::memcpy(r.data() + 33, artist.data(), std::min<size_t>(artist.size(), 30));
    std::memcpy(r.data() + 63, album.data(), std::min<size_t>(album.size(), 30));
    std::memcpy(r.data() + 93, year.data(), std::min<size_t>(year.size(), 4));
    std::copy(comment30.begin(), comment30.begin() + std::min<size_t>(comment30.size(), 30),
              r.begin() + 97);
    r[127] = genre;
    return r;
}

}  // namespace

// A file shorter than a record, a missing file and a record without "TAG" are not tags.
TEST(Id3v1, ShortMissingOrUnmarkedFile_NoTag) {
    TempDir dir;
    Id3Tag tag;
    EXPECT_EQ(tag.readV1(dir.Write("short.mp3", Bytes(127, 'T'))), kId3NoTag);
    EXPECT_EQ(tag.readV1(dir.File("missing.mp3")), Id3Result::FileFailed(ENOENT));
    // errno values that once shared numbers with the tag's own statuses stay file errors.
    for (int err : {EAGAIN, EFAULT, ENOSYS})
        EXPECT_EQ(Id3StatusText(Id3Result::FileFailed(err)), std::strerror(err));
    Bytes noMarker(300, 0);
    EXPECT_EQ(tag.readV1(dir.Write("plain.mp3", noMarker)), kId3NoTag);
    // Exactly 128 bytes: the whole file is the record.
    EXPECT_EQ(tag.readV1(dir.Write("only.mp3", V1Record("T", "", "", "", {}, 0))), kId3Ok);
    EXPECT_EQ(tag.title(), "T");
}

// v1.0: byte 125 non-zero, so the comment has all 30 bytes and the track is "0".
TEST(Id3v1, ByteNonZeroAt125_IsV10WithThirtyByteComment) {
    TempDir dir;
    const std::string comment30 = "abcdefghijklmnopqrstuvwxyz0123";
    const Bytes file = Cat({Bytes(1000, 0x55), V1Record(std::string("Title\0junk", 10), "Artist",
                                                        "Album", "19a9", B(comment30), 17)});
    Id3Tag tag;
    ASSERT_EQ(tag.readV1(dir.Write("a.mp3", file)), kId3Ok);
    EXPECT_EQ(tag.version(), "1.0");
    EXPECT_EQ(tag.title(), "Title");  // cut at the first zero byte
    EXPECT_EQ(tag.artist(), "Artist");
    EXPECT_EQ(tag.album(), "Album");
    EXPECT_EQ(tag.year(), "199");  // digits only
    EXPECT_EQ(tag.comment(), comment30);
    EXPECT_EQ(tag.track(), "0");
    EXPECT_EQ(tag.genreIndex(), 17);
    EXPECT_EQ(tag.genreName(), "Rock");
}

// v1.1: byte 125 zero and byte 126 non-zero; with 126 zero as well it is v1.0.
TEST(Id3v1, ZeroAt125_TrackAt126DecidesVersion) {
    TempDir dir;
    Bytes comment(30, 'c');
    comment[28] = 0;
    comment[29] = 5;
    Id3Tag tag;
    ASSERT_EQ(tag.readV1(dir.Write("v11.mp3", V1Record("", "", "", "", comment, 255))), kId3Ok);
    EXPECT_EQ(tag.version(), "1.1");
    EXPECT_EQ(tag.track(), "5");
    EXPECT_EQ(tag.comment(), std::string(28, 'c'));
    EXPECT_EQ(tag.genreIndex(), 255);
    EXPECT_EQ(tag.genreName(), "");

    comment[29] = 0;
    ASSERT_EQ(tag.readV1(dir.Write("v10.mp3", V1Record("", "", "", "", comment, 200))), kId3Ok);
    EXPECT_EQ(tag.version(), "1.0");
    EXPECT_EQ(tag.track(), "0");
    EXPECT_EQ(tag.genreIndex(), 200);  // no name past the table
    EXPECT_EQ(tag.genreName(), "");
}

// Record text is ISO-8859-1 and comes out as UTF-8.
TEST(Id3v1, Latin1Text_ConvertedToUtf8) {
    TempDir dir;
    Id3Tag tag;
    ASSERT_EQ(tag.readV1(dir.Write(
                  "l.mp3", V1Record("Caf\xE9 \xC0 la cr\xE8me", "Bj\xF6rk", "", "", {}, 0))),
              kId3Ok);
    EXPECT_EQ(tag.title(), "Café À la crème");
    EXPECT_EQ(tag.artist(), "Björk");
}

// writeV1 appends one record: text cut at 30 characters, the track in byte 126
// for "1.1", the year reduced to the digits of its first four characters.
TEST(Id3v1, WriteV11_TruncatesAndStoresTrack) {
    TempDir dir;
    const std::string path = dir.Write("w.mp3", Bytes(500, 0xAA));
    const std::string title40 = "0123456789ABCDEFGHIJ0123456789abcdefghij";
    Id3Tag tag;
    ASSERT_EQ(tag.writeV1(path, "1.1", title40, "Artist", "Album", "c1999x",
                          "a comment that is far too long for the slot", 12, 17),
              kId3Ok);
    const Bytes file = ReadAll(path);
    ASSERT_EQ(file.size(), 628u);
    const uint8_t* r = file.data() + 500;
    EXPECT_EQ(std::memcmp(r, "TAG", 3), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 3), 30), title40.substr(0, 30));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 93), 4), std::string("199\0", 4));
    EXPECT_EQ(r[125], 0);
    EXPECT_EQ(r[126], 12);
    EXPECT_EQ(r[127], 17);
    EXPECT_EQ(tag.version(), "1.1");
    EXPECT_EQ(tag.title(), title40.substr(0, 30));
    EXPECT_EQ(tag.year(), "199");
    EXPECT_EQ(tag.track(), "12");

    Id3Tag back;
    ASSERT_EQ(back.readV1(path), kId3Ok);
    EXPECT_EQ(back.version(), "1.1");
    EXPECT_EQ(back.title(), title40.substr(0, 30));
    EXPECT_EQ(back.comment(), std::string("a comment that is far too long for the slot", 28));
    EXPECT_EQ(back.track(), "12");
    EXPECT_EQ(back.genreName(), "Rock");
}

// Any version but "1.1" writes v1.0: no track byte, a 30-byte comment.
TEST(Id3v1, WriteOtherVersions_AreV10) {
    for (const char* version : {"1.0", "2.0", ""}) {
        TempDir dir;
        const std::string path = dir.Write("w.mp3", Bytes(10, 0));
        Id3Tag tag;
        ASSERT_EQ(tag.writeV1(path, version, "t", "a", "b", "2001", std::string(35, 'x'), 7, 1),
                  kId3Ok);
        const Bytes file = ReadAll(path);
        ASSERT_EQ(file.size(), 138u);
        EXPECT_EQ(file[10 + 125], 'x') << version;
        EXPECT_EQ(file[10 + 126], 'x') << version;
        EXPECT_EQ(tag.version(), "1.0");
        EXPECT_EQ(tag.track(), "0");
    }
}

// Text is stored as ISO-8859-1; characters outside it become '?'.
TEST(Id3v1, WriteNonLatin1_BecomesQuestionMark) {
    TempDir dir;
    const std::string path = dir.Write("w.mp3", {});
    Id3Tag tag;
    ASSERT_EQ(tag.writeV1(path, "1.0", "Ωmega café ♫", "", "", "", "", 0, 0), kId3Ok);
    const Bytes file = ReadAll(path);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 3)), "?mega caf\xE9 ?");
    Id3Tag back;
    ASSERT_EQ(back.readV1(path), kId3Ok);
    EXPECT_EQ(back.title(), "?mega café ?");
}

// The writer never creates a file, and reports the system's error.
TEST(Id3v1, WriteToMissingFile_ReturnsErrnoAndCreatesNothing) {
    TempDir dir;
    Id3Tag tag;
    EXPECT_EQ(tag.writeV1(dir.File("none.mp3"), "1.1", "", "", "", "", "", 1, 1),
              Id3Result::FileFailed(ENOENT));
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.mp3")));
}

// Genre names match without regard to case; unknown names keep their text.
TEST(Id3Genre, NameAndIndex) {
    Id3Tag tag;
    tag.setGenreName("trip-hop");
    EXPECT_EQ(tag.genreIndex(), 27);
    tag.setGenreName("Polka Fusion");
    EXPECT_EQ(tag.genreIndex(), 255);
    EXPECT_EQ(tag.genreName(), "Polka Fusion");
    tag.setGenreIndex(126);
    EXPECT_EQ(tag.genreName(), "Undefined (126)");
    tag.setGenreIndex(0);
    EXPECT_EQ(tag.genreName(), "Blues");
    EXPECT_STREQ(GenreName(125), "Dance Hall");
    EXPECT_EQ(GenreName(128), nullptr);
}
