// The record-name rule and the record options behind it.
#include <gtest/gtest.h>

#include "ui/core/RecordName.h"
#include "ui/core/RecordOptions.h"

namespace tunara {
namespace {

// Parts are joined by " - " in the chosen order, track numbers with two
// digits; "None" adds nothing and an empty first part leaves no leading
// separator.
TEST(BuildRecordName, PartsAndSeparators) {
    EXPECT_EQ(BuildRecordName("Album", "Artist", "TrackTitle", 1, 128, {0, 1, 2, 5}),
              "Album - Artist - TrackTitle");
    EXPECT_EQ(BuildRecordName("A", "B", "C", 7, 192, {3, 4, 5, 5}), "07 - 192");
    EXPECT_EQ(BuildRecordName("A", "B", "C", 12, 64, {2, 3, 1, 0}), "C - 12 - B - A");
    EXPECT_EQ(BuildRecordName("", "Artist", "T", 1, 64, {0, 1, 5, 5}), "Artist");
    EXPECT_EQ(BuildRecordName("A", "B", "C", 1, 64, {5, 5, 5, 5}), "");
}

// \ / : | become '-', control characters blanks; * ? " < > go; no name is
// hidden, a way out of the folder, or ends in a dot or blank.
TEST(BuildRecordName, UnsafeCharacters) {
    EXPECT_EQ(BuildRecordName("", "", "AC/DC: Live?", 1, 64, {2, 5, 5, 5}), "AC-DC- Live");
    EXPECT_EQ(BuildRecordName("", "", "a\\b|c*d\"e<f>g", 1, 64, {2, 5, 5, 5}), "a-b-cdefg");
    EXPECT_EQ(BuildRecordName("", "", std::string("a\tb\x1b[0m\0c\x7f", 10), 1, 64, {2, 5, 5, 5}),
              "a b [0m c");
    EXPECT_EQ(BuildRecordName("", "", "..", 1, 64, {2, 5, 5, 5}), "");
    EXPECT_EQ(BuildRecordName("", "", "../../etc/passwd", 1, 64, {2, 5, 5, 5}), "-..-etc-passwd");
    EXPECT_EQ(BuildRecordName("", "", " .hidden. ", 1, 64, {2, 5, 5, 5}), "hidden");
    EXPECT_EQ(BuildRecordName("..", "", "", 1, 64, {0, 3, 5, 5}), "- 01");
}

// A long name fits a file name's 255 bytes with room for " (n)", the
// extension and the partial file's marks; it ends after a whole character,
// at a blank when one is near.
TEST(BuildRecordName, LongNames_CutWithinTheByteLimit) {
    std::string longTitle(300, 'x');
    EXPECT_EQ(BuildRecordName("", "", longTitle, 1, 64, {2, 5, 5, 5}),
              std::string(kRecordNameMaxBytes, 'x'));

    std::string accented;
    for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";  // é
    std::string name = BuildRecordName("", "", "x" + accented, 1, 64, {2, 5, 5, 5});
    EXPECT_EQ(name, "x" + accented.substr(0, (kRecordNameMaxBytes - 1) / 2 * 2));

    std::string words;
    while (words.size() < 400) words += "Grüße aus der Ferne ";
    name = BuildRecordName("Album", "", words, 1, 64, {0, 2, 5, 5});
    ASSERT_LE(name.size(), kRecordNameMaxBytes);
    EXPECT_GT(name.size(), kRecordNameMaxBytes - 24);
    EXPECT_EQ(("Album - " + words).rfind(name, 0), 0u);
    EXPECT_EQ(("Album - " + words)[name.size()], ' ');
}

// Bit-rate lists by encoder; an index past the list takes its last entry.
TEST(RecordOptions, BitRates) {
    EXPECT_EQ(RecordBitRateKbps(0, 0), 24);
    EXPECT_EQ(RecordBitRateKbps(0, 3), 128);
    EXPECT_EQ(RecordBitRateKbps(1, 2), 128);
    EXPECT_EQ(RecordBitRateKbps(2, 3), 192);
    EXPECT_EQ(RecordBitRateKbps(2, 9), 192);
}

// A fresh user's settings: KVMC at 128 kbit/s, asked folder, names
// "Album - Artist - Title".
TEST(RecordOptions, FromDefaultSettings) {
    char templ[] = "/tmp/tunara-recopt-XXXXXX";
    std::filesystem::path dir = ::mkdtemp(templ);
    SettingsStore store(dir / "store", {});
    RecordJobConfig c = RecordConfigFromSettings(store);
    EXPECT_EQ(c.encoder, RecordEncoder::Kvmc);
    EXPECT_EQ(c.bitRateKbps, 128);
    EXPECT_TRUE(c.askFolder);
    EXPECT_EQ(c.folder, settings::DefaultRecordFilePath());
    RecordTrack t{3, "Title", "Artist", "Album", "Rock", 1000, 0, {}, {}};
    EXPECT_EQ(c.recordName(t), "Album - Artist - Title");

    store.SetNumber(settings::kEncoder, 1);
    store.SetNumber(settings::kBitRate, 0);
    store.SetNumber(settings::kRecordName3, 4);
    store.SetNumber(settings::kAskFilePath, 0);
    c = RecordConfigFromSettings(store);
    EXPECT_EQ(c.encoder, RecordEncoder::FastMp3);
    EXPECT_EQ(c.bitRateKbps, 64);
    EXPECT_FALSE(c.askFolder);
    EXPECT_EQ(c.recordName(t), "Album - Artist - 64");
    EXPECT_EQ(c.vbrQuality, -1);
    // The VBR quality reaches the job only with the high-quality MP3 encoder.
    store.SetNumber(settings::kVbrQuality, 3);
    EXPECT_EQ(RecordConfigFromSettings(store).vbrQuality, -1);
    store.SetNumber(settings::kEncoder, 2);
    EXPECT_EQ(RecordConfigFromSettings(store).vbrQuality, 2);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tunara
