#include <gtest/gtest.h>

#include "metadata/TextCodec.h"

using namespace tunara::text;

// Surrogate pairs join; lone surrogates and invalid UTF-8 become U+FFFD.
TEST(TextCodec, BrokenInput_BecomesReplacementCharacter) {
    const uint8_t lone[] = {0x00, 0xD8, 0x41, 0x00};  // LE: lone high surrogate, 'A'
    EXPECT_EQ(Utf16ToUtf8(lone, sizeof lone, false), "\uFFFDA");
    const uint8_t pair[] = {0xD8, 0x3C, 0xDF, 0xB5, 0x00};  // BE, odd byte dropped
    EXPECT_EQ(Utf16ToUtf8(pair, sizeof pair, true), "🎵");
    EXPECT_EQ(SanitizeUtf8("a\xC3(b\xE2\x82"), "a\uFFFD(b\uFFFD\uFFFD");
    EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\uFFFD\uFFFD");  // overlong
    EXPECT_EQ(SanitizeUtf8("ok é ♫"), "ok é ♫");
}

// Latin-1 round trip; characters outside it become '?', prefixes count characters.
TEST(TextCodec, Latin1AndPrefix) {
    EXPECT_EQ(Latin1ToUtf8("\xE9\xFF"), "éÿ");
    EXPECT_EQ(Utf8ToLatin1("éÿ€"), "\xE9\xFF?");
    EXPECT_EQ(Utf8Prefix("éé♫ab", 3), "éé♫");
    EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
}
