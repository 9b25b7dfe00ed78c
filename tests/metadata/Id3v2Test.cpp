#include <gtest/gtest.h>

#include "metadata/Id3Fixtures.h"
#include "metadata/Id3Tag.h"

using namespace tunara;
using namespace tunara::testing;

namespace {

struct Read {
    Id3Result status;
    int64_t audioStart;
};

Read ReadV2(Id3Tag& tag, const TempDir& dir, const Bytes& file, int64_t start = 0) {
    const std::string path = dir.Write("t.mp3", file);
    int64_t audioStart = -1;
    const Id3Result status = tag.readV2(path, start, audioStart);
    return {status, audioStart};
}

Bytes Utf16(const std::u16string& s, bool bigEndian, bool bom = true) {
    Bytes out;
    if (bom) out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (char16_t c : s) {
        const uint8_t hi = uint8_t(c >> 8), lo = uint8_t(c);
        if (bigEndian)
            out.insert(out.end(), {hi, lo});
        else
            out.insert(out.end(), {lo, hi});
    }
    return out;
}

}  // namespace

// v2.2: three-character identifiers and six-byte frame headers.
TEST(Id3v2, V22_ThreeCharacterFrames) {
    TempDir dir;
    const Bytes body = Cat({Frame22("TT2", Latin1("Title")), Frame22("TP1", Latin1("Artist")),
                            Frame22("TAL", Latin1("Album")), Frame22("TYE", Latin1("1987")),
                            Frame22("TRK", Latin1("3/9")), Frame22("TEN", Latin1("Enc")),
                            Frame22("TCO", Latin1("(17)Rock")), Bytes(20, 0)});
    const Bytes tag = Tag(2, 0, body);
    Id3Tag t;
    const Read r = ReadV2(t, dir, Cat({tag, Mp3Header()}));
    ASSERT_EQ(r.status, kId3Ok);
    EXPECT_EQ(r.audioStart, int64_t(tag.size()));
    EXPECT_EQ(t.version(), "2.2.0");
    EXPECT_EQ(t.title(), "Title");
    EXPECT_EQ(t.artist(), "Artist");
    EXPECT_EQ(t.album(), "Album");
    EXPECT_EQ(t.year(), "1987");
    EXPECT_EQ(t.track(), "3/9");
    EXPECT_EQ(t.encodedBy(), "Enc");
    EXPECT_EQ(t.genreIndex(), 17);
    EXPECT_EQ(t.genreName(), "Rock");
}

// v2.3 with an extended header carrying a CRC: frames start after it.
TEST(Id3v2, V23_ExtendedHeaderWithCrc) {
    TempDir dir;
    const Bytes ext = Cat({SevenBit(10), Bytes{0x80, 0x00}, SevenBit(0), Be32(0xDEADBEEF)});
    const Bytes body =
        Cat({ext, Frame23("TIT2", Latin1("Song")), Frame23("TYER", Latin1("c1999x"))});
    Id3Tag t;
    const Read r = ReadV2(t, dir, Cat({Tag(3, 0x40, body), Mp3Header()}));
    ASSERT_EQ(r.status, kId3Ok);
    EXPECT_EQ(t.version(), "2.3.0");
    EXPECT_EQ(t.v2Flags(), 0x40);
    EXPECT_TRUE(t.v2CrcPresent());
    EXPECT_EQ(t.v2Crc(), 0xDEADBEEFu);
    EXPECT_EQ(t.title(), "Song");
    EXPECT_EQ(t.year(), "199");
}

// v2.4 frame sizes are synchsafe: a 200-byte frame (0x00 0x00 0x01 0x48) must
// not hide the frames after it.
TEST(Id3v2, V24_SynchsafeFrameSizes) {
    TempDir dir;
    const Bytes body =
        Cat({Frame24("TXXX", Bytes(200, 'x')), Frame24("TIT2", Cat({Bytes{3}, B("Ünïcødé ♫")})),
             Frame24("TPE1", Cat({Bytes{2}, Utf16(u"Be \u00e9", true, false)})), Bytes(10, 0)});
    Id3Tag t;
    ASSERT_EQ(ReadV2(t, dir, Cat({Tag(4, 0, body), Mp3Header()})).status, kId3Ok);
    EXPECT_EQ(t.version(), "2.4.0");
    EXPECT_EQ(t.title(), "Ünïcødé ♫");  // encoding 3, UTF-8
    EXPECT_EQ(t.artist(), "Be é");      // encoding 2, UTF-16BE
}

// Encoding 1 is UTF-16 with a byte-order mark, either order, to the first zero unit.
TEST(Id3v2, Utf16Titles_Decoded) {
    TempDir dir;
    for (bool bigEndian : {false, true}) {
        const Bytes title = Cat({Bytes{1}, Utf16(u"Caf\u00e9 \u266b \U0001F3B5", bigEndian),
                                 Bytes{0, 0}, Utf16(u"second", bigEndian, false)});
        Id3Tag t;
        ASSERT_EQ(ReadV2(t, dir, Cat({Tag(3, 0, Frame23("TIT2", title)), Mp3Header()})).status,
                  kId3Ok);
        EXPECT_EQ(t.title(), "Café ♫ 🎵") << bigEndian;
    }
}

// Encoding 0 is ISO-8859-1; the text runs to the first zero byte.
TEST(Id3v2, Latin1Title_ConvertedAndCutAtZero) {
    TempDir dir;
    Id3Tag t;
    const Bytes title = Cat({Bytes{0}, B("Caf\xE9"), Bytes{0}, B("rest")});
    ASSERT_EQ(ReadV2(t, dir, Cat({Tag(3, 0, Frame23("TIT2", title)), Mp3Header()})).status, kId3Ok);
    EXPECT_EQ(t.title(), "Café");
}

// TOAL matches TOA, which is looked up before TPE1; TCOM after TCON replaces
// the TCO value, which is looked up before TCON.
TEST(Id3v2, PrefixMatches_DecideLookupOrder) {
    TempDir dir;
    const Bytes body = Cat({Frame23("TPE1", Latin1("Performer")), Frame23("TOAL", Latin1("Orig")),
                            Frame23("TCON", Latin1("Rock")), Frame23("TCOM", Latin1("Composer"))});
    Id3Tag t;
    ASSERT_EQ(ReadV2(t, dir, Cat({Tag(3, 0, body), Mp3Header()})).status, kId3Ok);
    EXPECT_EQ(t.artist(), "Orig");
    EXPECT_EQ(t.genreName(), "Composer");
    EXPECT_EQ(t.genreIndex(), 255);
    ASSERT_NE(t.frameValue("TCON"), nullptr);
    EXPECT_EQ(t.frameValue("TCON")->text, "Rock");
    EXPECT_EQ(t.frameValue("TAL"), nullptr);  // a prefix match, not a substring one
}

// Genre text: "(n)" gives index n, a name gives its index, other text stays as it is.
TEST(Id3v2, GenreValues) {
    struct Case {
        const char* value;
        int index;
        const char* name;
    } cases[] = {{"(17)Rock", 17, "Rock"},
                 {"Trip-Hop", 27, "Trip-Hop"},
                 {"Nowhere Jazz", 255, "Nowhere Jazz"},
                 {"(273)", 17, "Rock"},
                 {"(1x2)", 12, "Other"},
                 {"13", 13, "Pop"},
                 {"(RX)", 255, "Remix"},
                 {"130", 255, "130"}};
    TempDir dir;
    for (const Case& c : cases) {
        Id3Tag t;
        ASSERT_EQ(
            ReadV2(t, dir, Cat({Tag(3, 0, Frame23("TCON", Latin1(c.value))), Mp3Header()})).status,
            kId3Ok);
        EXPECT_EQ(t.genreIndex(), c.index) << c.value;
        EXPECT_EQ(t.genreName(), c.name) << c.value;
    }
    // ID3v2.4 writes the bare number, or several values of which the first counts.
    for (const std::string& value :
         {std::string("13"), std::string("(13)"), std::string("13\0Rock", 7)}) {
        Id3Tag t;
        ASSERT_EQ(
            ReadV2(t, dir, Cat({Tag(4, 0, Frame24("TCON", Latin1(value))), Mp3Header()})).status,
            kId3Ok);
        EXPECT_EQ(t.genreName(), "Pop") << value;
    }
}

// Every handler kind produces its value; "none" frames produce nothing.
TEST(Id3v2, HandlerKinds) {
    TempDir dir;
    const Bytes body = Cat(
        {Frame23("PCNT", Be32(123456)), Frame23("RBUF", Bytes{0, 1, 0, 1, 0, 0, 2, 0}),
         Frame23("ETCO", Bytes{2, 9, 9}), Frame23("MCDI", Bytes{1, 2, 3}),
         Frame23("WOAF", B("http://x")), Frame23("COMM", Cat({Bytes{0}, B("engdesc")})),
         Frame23("APIC", Bytes(40, 7)), Frame23("ZZZZ", Latin1("unknown")), Frame23("TALB", {})});
    Id3Tag t;
    ASSERT_EQ(ReadV2(t, dir, Cat({Tag(3, 0, body), Mp3Header()})).status, kId3Ok);
    ASSERT_NE(t.frameValue("PCNT"), nullptr);
    EXPECT_EQ(t.frameValue("PCNT")->number, 123456u);
    ASSERT_NE(t.frameValue("RBUF"), nullptr);
    EXPECT_EQ(t.frameValue("RBUF")->number, 256u);
    EXPECT_TRUE(t.frameValue("RBUF")->embeddedInfo);
    EXPECT_EQ(t.frameValue("RBUF")->offsetBytes, 512u);
    ASSERT_NE(t.frameValue("ETCO"), nullptr);
    EXPECT_EQ(t.frameValue("ETCO")->number, 2u);
    ASSERT_NE(t.frameValue("MCDI"), nullptr);
    EXPECT_EQ(t.frameValue("MCDI")->bytes, (Bytes{1, 2, 3}));
    ASSERT_NE(t.frameValue("WOAF"), nullptr);
    EXPECT_EQ(t.frameValue("WOAF")->text, "http://x");
    ASSERT_NE(t.frameValue("COM"), nullptr);  // COMM feeds COM: text after the language
    EXPECT_EQ(t.frameValue("COM")->text, "desc");
    EXPECT_EQ(t.frameValue("COMM"), nullptr);
    EXPECT_EQ(t.frameValue("APIC"), nullptr);
    EXPECT_EQ(t.frameValue("ZZZZ"), nullptr);
    EXPECT_EQ(t.frameValue("TALB"), nullptr);  // empty: not even an encoding byte
}

// A frame whose size runs past the tag ends the parse; what came before stays.
TEST(Id3v2, FrameRunningPastTag_StopsParse) {
    TempDir dir;
    Bytes bad = Frame23("TPE1", Latin1("Artist"));
    bad[7] = 200;  // claims 200 bytes; only 7 follow
    const Bytes body = Cat({Frame23("TIT2", Latin1("Title")), bad, Frame23("TALB", Latin1("A"))});
    Id3Tag t;
    ASSERT_EQ(ReadV2(t, dir, Cat({Tag(3, 0, body), Mp3Header()})).status, kId3Ok);
    EXPECT_EQ(t.title(), "Title");
    EXPECT_EQ(t.artist(), "");
    EXPECT_EQ(t.album(), "");
}

// Fields that the tag does not carry keep their earlier values.
TEST(Id3v2, MissingFrames_KeepEarlierFields) {
    TempDir dir;
    Id3Tag t;
    t.setGenreName("Jazz");
    ASSERT_EQ(ReadV2(t, dir, Cat({Tag(3, 0, Frame23("TALB", Latin1("Only"))), Mp3Header()})).status,
              kId3Ok);
    EXPECT_EQ(t.album(), "Only");
    EXPECT_EQ(t.genreName(), "Jazz");
}

// The audio start is the first 0xFF followed by a byte of 16 or more after the
// tag, also when the pair is split across the reads; 0xFF 0x0F is passed over.
TEST(Id3v2, AudioStart_FoundAcrossReadBoundaries) {
    TempDir dir;
    const Bytes tag = Tag(3, 0, Frame23("TIT2", Latin1("x")));
    for (size_t gap : {0, 1, 126, 127, 128, 4095, 4096, 4097, 8191}) {
        Bytes junk(gap, 0);
        if (gap >= 3) junk[1] = 0xFF, junk[2] = 0x0F;
        Id3Tag t;
        const Read r = ReadV2(t, dir, Cat({tag, junk, Mp3Header(), Bytes(10, 0)}));
        ASSERT_EQ(r.status, kId3Ok) << gap;
        EXPECT_EQ(r.audioStart, int64_t(tag.size() + gap)) << gap;
    }
}

// A tag at a later offset; a tag with nothing like audio after it is 38.
TEST(Id3v2, OffsetTagAndNoAudio) {
    TempDir dir;
    const Bytes tag = Tag(3, 0, Frame23("TIT2", Latin1("x")));
    Id3Tag t;
    const Read r = ReadV2(t, dir, Cat({Bytes(50, 1), tag, Mp3Header()}), 50);
    ASSERT_EQ(r.status, kId3Ok);
    EXPECT_EQ(r.audioStart, int64_t(50 + tag.size()));
    EXPECT_EQ(ReadV2(t, dir, Cat({tag, Bytes(300, 0), Bytes{0xFF}})).status, kId3NoAudio);
    EXPECT_EQ(ReadV2(t, dir, tag).status, kId3NoAudio);
}

// Malformed headers are "no tag".
TEST(Id3v2, MalformedHeaders_NoTag) {
    TempDir dir;
    Id3Tag t;
    Bytes tag = Tag(3, 0, Frame23("TIT2", Latin1("x")));
    Bytes topBit = tag;
    topBit[8] |= 0x80;
    Bytes major255 = tag;
    major255[3] = 255;
    Bytes badExt = Tag(3, 0x40, Cat({SevenBit(90), Bytes(6, 0)}));
    for (const Bytes& b : {topBit, major255, badExt, B("ID"), B("TAG......."), Bytes{}})
        EXPECT_EQ(ReadV2(t, dir, Cat({b, Mp3Header()})).status, kId3NoTag);
    EXPECT_EQ(ReadV2(t, dir, Cat({tag, Mp3Header()}), 10000).status, kId3NoTag);
}

// A size claim far beyond the file is read as far as the file goes, at once.
TEST(Id3v2, HugeClaimedSize_CappedAtFile) {
    TempDir dir;
    Bytes file = Cat({Tag(3, 0, Frame23("TIT2", Latin1("Big"))), Mp3Header()});
    file[6] = file[7] = file[8] = file[9] = 0x7F;  // 256 MiB
    Id3Tag t;
    EXPECT_EQ(ReadV2(t, dir, file).status, kId3NoAudio);  // the "audio" lies inside the claim
    EXPECT_EQ(t.v2TagSizeBytes(), 0x0FFFFFFFu);
}

// Tags with cover art are not read whole; frames on either side of the art,
// and one that straddles the first read, still give their values.
TEST(Id3v2, LargeTag_FramesAroundArtRead) {
    TempDir dir;
    const Bytes body =
        Cat({Frame23("APIC", Bytes(65536 - 10 - 10 - 3, 0xAB)),
             Frame23("TIT2", Latin1("Straddling title")), Frame23("APIC", Bytes(100000, 0xFF)),
             Frame23("TPE1", Latin1("After")), Bytes(3000, 0)});
    const Bytes tag = Tag(3, 0, body);
    Id3Tag t;
    const Read r = ReadV2(t, dir, Cat({tag, Mp3Header()}));
    ASSERT_EQ(r.status, kId3Ok);
    EXPECT_EQ(r.audioStart, int64_t(tag.size()));
    EXPECT_EQ(t.title(), "Straddling title");
    EXPECT_EQ(t.artist(), "After");

    // Cut inside the second picture: what follows lies inside the claimed tag.
    const Bytes cut(tag.begin(), tag.begin() + 120000);
    Id3Tag u;
    EXPECT_EQ(ReadV2(u, dir, Cat({cut, Mp3Header()})).status, kId3NoAudio);
}

// v2.4 keeps the year in TDRC (a full timestamp); the four digits of the year are shown.
TEST(Id3v2, V24_YearFromRecordingTime) {
    TempDir dir;
    Id3Tag tag;
    const Bytes body = Frame24("TDRC", Latin1("2003-07-14T10:00"));
    ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(4, 0, body), Mp3Header()})).status, kId3Ok);
    EXPECT_EQ(tag.year(), "2003");
}

// Unsynchronisation: a 0x00 after every 0xFF (and before false syncs) is taken out again, over
// the whole tag in v2.3 and per frame in v2.4; the tag's size counts the stuffed bytes.
TEST(Id3v2, Unsynchronisation_Undone) {
    TempDir dir;
    // "\xFF" in Latin-1 is "ÿ": the stuffed zero must not reach the title.
    const Bytes stuffed = {0, 'a', 0xFF, 0x00, 'b'};
    {
        Id3Tag tag;
        // v2.3 whole tag: the frame size is that of the data after resynchronisation.
        const Bytes frame = Cat({B("TIT2"), Be32(4), Bytes{0, 0}, stuffed});
        ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(3, 0x80, frame), Mp3Header()})).status, kId3Ok);
        EXPECT_EQ(tag.title(),
                  "a\xC3\xBF"
                  "b");
    }
    {
        Id3Tag tag;
        // v2.4 per frame (format flag 0x02), with a data length indicator (0x01) in front,
        // followed by a plain frame that must still be found.
        const Bytes frame = Cat({B("TIT2"), SevenBit(9), Bytes{0, 0x03}, SevenBit(4), stuffed,
                                 Frame24("TPE1", Latin1("Artist"))});
        ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(4, 0, frame), Mp3Header()})).status, kId3Ok);
        EXPECT_EQ(tag.title(),
                  "a\xC3\xBF"
                  "b");
        EXPECT_EQ(tag.artist(), "Artist");
    }
}

// Compressed or encrypted frames hold no readable text: they are skipped, not read raw.
TEST(Id3v2, CompressedAndEncryptedFrames_Skipped) {
    TempDir dir;
    {
        Id3Tag tag;
        const Bytes body =
            Cat({B("TIT2"), Be32(9), Bytes{0, 0x80}, Be32(3), Latin1("xxxx"), B("TPE1"), Be32(6),
                 Bytes{0, 0x40}, Latin1("yyyyy"), Frame23("TALB", Latin1("Album"))});
        ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(3, 0, body), Mp3Header()})).status, kId3Ok);
        EXPECT_EQ(tag.title(), "");
        EXPECT_EQ(tag.artist(), "");
        EXPECT_EQ(tag.album(), "Album");
    }
    {
        Id3Tag tag;
        const Bytes body =
            Cat({B("TIT2"), SevenBit(9), Bytes{0, 0x09}, SevenBit(3), Latin1("xxxx"), B("TPE1"),
                 SevenBit(6), Bytes{0, 0x04}, Latin1("yyyyy"), Frame24("TALB", Latin1("Album"))});
        ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(4, 0, body), Mp3Header()})).status, kId3Ok);
        EXPECT_EQ(tag.title(), "");
        EXPECT_EQ(tag.artist(), "");
        EXPECT_EQ(tag.album(), "Album");
    }
}

// An encoder's delay and padding in a comment described "iTunSMPB", in Latin-1 or UTF-16.
TEST(Id3v2, ItunesGaplessComment) {
    TempDir dir;
    const std::string value = " 00000000 00000210 000003C8 0000000000ABCDEF";
    {
        Id3Tag tag;
        const Bytes comm = Cat({Bytes{0}, B("eng"), B("iTunSMPB"), Bytes{0}, B(value)});
        ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(3, 0, Frame23("COMM", comm)), Mp3Header()})).status,
                  kId3Ok);
        EXPECT_EQ(tag.smpb(), value);
    }
    {
        Id3Tag tag;
        const std::u16string v16(value.begin(), value.end());
        const Bytes comm =
            Cat({Bytes{1}, B("eng"), Utf16(u"iTunSMPB", false), Bytes{0, 0}, Utf16(v16, false)});
        ASSERT_EQ(ReadV2(tag, dir, Cat({Tag(3, 0, Frame23("COMM", comm)), Mp3Header()})).status,
                  kId3Ok);
        EXPECT_EQ(tag.smpb(), value);
    }
}

// The tag we write reads back field for field: text beyond ISO-8859-1, a title longer than any
// ID3v1 field, and stray ISO-8859-1 bytes turned into UTF-8 rather than left invalid.
TEST(Id3v2, WrittenV24TagReadsBack) {
    TempDir dir;
    std::string longTitle;
    while (longTitle.size() < 300) longTitle += "Ωmega ";
    longTitle.resize(300);
    Id3v2Fields fields{longTitle, "Björk & 東京", "Caf\xE9", "2001", "Rock", "Tunara 0.1", 3, 12};
    const Bytes tag = BuildId3v24Tag(fields);
    ASSERT_GT(tag.size(), 10u);
    EXPECT_EQ(tag[3], 4);
    Id3Tag t;
    const Read r = ReadV2(t, dir, Cat({tag, Mp3Header()}));
    ASSERT_EQ(r.status, kId3Ok);
    EXPECT_EQ(r.audioStart, int64_t(tag.size()));
    EXPECT_EQ(t.title(), longTitle);
    EXPECT_EQ(t.artist(), "Björk & 東京");
    EXPECT_EQ(t.album(), "Café");
    EXPECT_EQ(t.year(), "2001");
    EXPECT_EQ(t.track(), "3/12");
    EXPECT_EQ(t.genreIndex(), 17);
    ASSERT_NE(t.frameValue("TSSE"), nullptr);
    EXPECT_EQ(t.frameValue("TSSE")->text, "Tunara 0.1");
    EXPECT_TRUE(BuildId3v24Tag(Id3v2Fields{}).empty());
}
