#include "platform/shell/XdgShell.h"

#include <gtest/gtest.h>

namespace tunara::shell {
namespace {

// A user's file with comments, other groups, CRLF endings and odd spacing.
constexpr std::string_view kUserFile =
    "# my associations\r\n"
    "[Added Associations]\r\n"
    "audio/mpeg=vlc.desktop;\r\n"
    "\r\n"
    "[Default Applications]\r\n"
    "text/plain=gedit.desktop\r\n"
    "Audio/MPEG = vlc.desktop;rhythmbox.desktop;\r\n"
    "image/png=eog.desktop\r\n"
    "\r\n"
    "# trailing comment\r\n";

TEST(XdgShellText, DefaultEntry_OnlyFromTheDefaultGroup_TypeIgnoresCase) {
    EXPECT_EQ(DefaultEntry(kUserFile, "audio/mpeg"), "vlc.desktop;rhythmbox.desktop;");
    EXPECT_EQ(DefaultEntry(kUserFile, "image/png"), "eog.desktop");
    EXPECT_EQ(DefaultEntry(kUserFile, "audio/x-wav"), std::nullopt);
    EXPECT_EQ(DefaultEntry("[Added Associations]\naudio/x-wav=a.desktop\n", "audio/x-wav"),
              std::nullopt);
    EXPECT_EQ(FirstDesktopId(" vlc.desktop ;rhythmbox.desktop;"), "vlc.desktop");
}

// Our change touches our line only; the rest stays byte for byte, and the
// value round-trips back to the user's own file.
TEST(XdgShellText, SetAndRemove_KeepEveryOtherByte) {
    const std::string replaced =
        WithDefaultEntry(kUserFile, "audio/mpeg", std::string("tunara.desktop"));
    std::string expected(kUserFile);
    expected.replace(expected.find("Audio/MPEG"),
                     std::string("Audio/MPEG = vlc.desktop;rhythmbox.desktop;").size(),
                     "audio/mpeg=tunara.desktop");
    EXPECT_EQ(replaced, expected);

    const std::string restored =
        WithDefaultEntry(replaced, "audio/mpeg", std::string("vlc.desktop;rhythmbox.desktop;"));
    const std::string added = WithDefaultEntry(kUserFile, "audio/x-wav", std::string("t.desktop"));
    EXPECT_EQ(added.find("image/png=eog.desktop\r\naudio/x-wav=t.desktop\r\n\r\n# trailing"),
              added.find("image/png=eog.desktop"));
    EXPECT_EQ(WithDefaultEntry(added, "audio/x-wav", std::nullopt), std::string(kUserFile));
    EXPECT_EQ(DefaultEntry(restored, "audio/mpeg"), "vlc.desktop;rhythmbox.desktop;");
}

TEST(XdgShellText, MissingGroupOrFile_GroupAppended) {
    EXPECT_EQ(WithDefaultEntry("", "audio/mpeg", std::string("tunara.desktop")),
              "[Default Applications]\naudio/mpeg=tunara.desktop\n");
    EXPECT_EQ(WithDefaultEntry("[Added Associations]\na/b=c.desktop", "audio/mpeg",
                               std::string("tunara.desktop")),
              "[Added Associations]\na/b=c.desktop\n\n[Default Applications]\n"
              "audio/mpeg=tunara.desktop\n");
    // A duplicate line, which readers ignore, goes with ours.
    EXPECT_EQ(WithDefaultEntry("[Default Applications]\na/b=x\na/b=y\n", "a/b", std::string("z")),
              "[Default Applications]\na/b=z\n");
    EXPECT_EQ(WithDefaultEntry("[Default Applications]\na/b=x\n", "c/d", std::nullopt),
              "[Default Applications]\na/b=x\n");
}

// Exec keeps a path with spaces and shell characters as one argument.
TEST(XdgShellText, DesktopEntry_ExecQuotesThePath) {
    const std::string text =
        DesktopEntryText("/opt/my $apps/tunara", {"audio/mpeg", "x-content/audio-cdda"});
    EXPECT_NE(text.find("Exec=\"/opt/my \\\\$apps/tunara\" %f\n"), std::string::npos) << text;
    EXPECT_NE(text.find("MimeType=audio/mpeg;x-content/audio-cdda;\n"), std::string::npos);
    EXPECT_NE(text.find("Icon=tunara\n"), std::string::npos);
}

}  // namespace
}  // namespace tunara::shell
