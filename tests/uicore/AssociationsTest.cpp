#include "ui/core/Associations.h"

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "TestTools.h"
#include "platform/shell/XdgShell.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "support/TempDir.h"
#include "ui/core/SettingsStore.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUserLines =
    "[Added Associations]\n"
    "audio/mpeg=vlc.desktop;\n"
    "\n"
    "[Default Applications]\n"
    "text/plain=gedit.desktop\n"
    "audio/mpeg=vlc.desktop\n";

// A fresh desktop per test: XDG_CONFIG_HOME, XDG_DATA_HOME and HOME in a
// temporary folder, with one other player installed.
class AssociationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_.path;
        Keep("XDG_CONFIG_HOME", (dir_ / "config").string());
        Keep("XDG_DATA_HOME", (dir_ / "data").string());
        Keep("XDG_CONFIG_DIRS", (dir_ / "sysconfig").string());
        Keep("XDG_DATA_DIRS", (dir_ / "sysdata").string());
        Keep("HOME", (dir_ / "home").string());
        Keep("XDG_CURRENT_DESKTOP", std::nullopt);
        Keep("DESKTOP_SESSION", std::nullopt);
        Keep("KDE_FULL_SESSION", std::nullopt);
        fs::create_directories(dir_ / "config");
        fs::create_directories(dir_ / "data" / "applications");
        std::ofstream(dir_ / "data" / "applications" / "vlc.desktop")
            << "[Desktop Entry]\nType=Application\nName=V\nExec=/bin/true %f\n"
               "MimeType=audio/mpeg;\n";
        std::ofstream(dir_ / "config" / "mimeapps.list") << kUserLines;
        store_ = std::make_unique<SettingsStore>(dir_ / "store", std::vector<std::string>{});
    }
    void TearDown() override {
        store_.reset();
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    void Keep(const std::string& name, std::optional<std::string> value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    std::string MimeApps() const {
        std::ifstream in(dir_ / "config" / "mimeapps.list", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Every type off but the ones named.
    void OnlyWanted(std::initializer_list<std::string_view> keys, bool cd) {
        for (const FileType& t : FileTypes()) store_->SetNumber(t.settingKey, 0);
        for (auto k : keys) store_->SetNumber(k, 1);
        store_->SetNumber(settings::kAutoPlayCD, cd ? 1 : 0);
    }
    Associations Make() { return Associations(*store_, "/usr/bin/tunara", "PNG", 48); }

    testing::TempDir tmp_;
    fs::path dir_;
    std::unique_ptr<SettingsStore> store_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string XdgMimeDefault(const std::string& type) {
    FILE* p = ::popen(("xdg-mime query default " + type + " 2>/dev/null").c_str(), "r");
    if (!p) return "?";
    std::string out;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

TEST_F(AssociationsTest, TakeOverAndGiveBack_EachType_KeepsUserLines) {
    for (size_t i = 0; i < kFileTypeCount; ++i) {
        const FileType& type = FileTypes()[i];
        SCOPED_TRACE(type.extension);
        OnlyWanted({type.settingKey}, false);
        Associations a = Make();
        ASSERT_TRUE(a.Apply());
        EXPECT_TRUE(a.IsOurs(i));
        for (size_t j = 0; j < kFileTypeCount; ++j) {
            if (FileTypes()[j].mimeType != type.mimeType) {
                EXPECT_FALSE(a.IsOurs(j)) << j;
            }
        }
        EXPECT_FALSE(a.IsCdPlayer());
        EXPECT_NE(MimeApps().find("text/plain=gedit.desktop\n"), std::string::npos);

        store_->SetNumber(type.settingKey, 0);
        ASSERT_TRUE(a.Apply());
        EXPECT_FALSE(a.IsOurs(i));
        EXPECT_EQ(MimeApps(), kUserLines);
    }
    EXPECT_TRUE(fs::exists(shell::DesktopEntryFile()));
    EXPECT_TRUE(fs::exists(shell::IconFile(48)));
}

TEST_F(AssociationsTest, AudioCd_TakenAndGivenBack) {
    OnlyWanted({}, true);
    Associations a = Make();
    a.Apply();
    EXPECT_TRUE(a.IsCdPlayer());
    EXPECT_EQ(shell::ReadDefault(shell::kAudioCdType), "tunara.desktop");
    store_->SetNumber(settings::kAutoPlayCD, 0);
    a.Apply();
    EXPECT_FALSE(a.IsCdPlayer());
    EXPECT_EQ(MimeApps(), kUserLines);
}

// The desktop's own tool sees what we wrote, and the previous player again
// after giving back.
TEST_F(AssociationsTest, XdgMime_NamesUsThenThePreviousPlayer) {
    TUNARA_SKIP_IF_MISSING(std::system("command -v xdg-mime >/dev/null 2>&1") != 0, "xdg-mime");
    ASSERT_EQ(XdgMimeDefault("audio/mpeg"), "vlc.desktop");
    OnlyWanted({settings::kAssocMP3}, false);
    Associations a = Make();
    a.Apply();
    EXPECT_EQ(XdgMimeDefault("audio/mpeg"), "tunara.desktop");
    store_->SetNumber(settings::kAssocMP3, 0);
    a.Apply();
    EXPECT_EQ(XdgMimeDefault("audio/mpeg"), "vlc.desktop");
}

// The backup is written only when it differs, so taking over twice (after
// another program took the type in between) keeps the most recent other
// player, and a type without a previous default is removed on giving back.
TEST_F(AssociationsTest, Backups_WrittenWhenTheyDiffer) {
    OnlyWanted({settings::kAssocMP3, settings::kAssocWAV}, false);
    Associations a = Make();
    a.Apply();
    EXPECT_EQ(a.Backup("audio/mpeg"), "vlc.desktop");
    EXPECT_EQ(a.Backup("audio/x-wav"), "");

    shell::WriteDefault("audio/mpeg", std::string("other.desktop;"));
    a.Apply();
    EXPECT_EQ(a.Backup("audio/mpeg"), "other.desktop;");

    // Same previous player again: the store is not rewritten for the backup.
    shell::WriteDefault("audio/mpeg", std::string("OTHER.desktop;"));
    const auto before = fs::last_write_time(dir_ / "store");
    a.Apply();
    EXPECT_EQ(fs::last_write_time(dir_ / "store"), before);
    EXPECT_EQ(a.Backup("audio/mpeg"), "other.desktop;");

    OnlyWanted({}, false);
    a.Apply();
    EXPECT_EQ(shell::ReadDefault("audio/mpeg"), "other.desktop;");
    EXPECT_EQ(shell::ReadDefault("audio/x-wav"), std::nullopt);
}

// .au and .snd share audio/basic: one of them on keeps the type ours and is
// no mismatch at start.
TEST_F(AssociationsTest, SharedType_WantedWhenAnyExtensionIs) {
    OnlyWanted({settings::kAssocAU}, false);
    Associations a = Make();
    a.Apply();
    EXPECT_TRUE(a.IsOurs(1));
    EXPECT_TRUE(a.IsOurs(6));
    ScopedRecordingInteraction ui;
    EXPECT_FALSE(a.CheckAtStart(ui.get()));
}

TEST_F(AssociationsTest, CheckAtStart_NoMismatch_AsksNothing) {
    OnlyWanted({settings::kAssocMP3}, true);
    Associations a = Make();
    a.Apply();
    ScopedRecordingInteraction ui;
    EXPECT_FALSE(a.CheckAtStart(ui.get()));
    EXPECT_TRUE(ui->questions.empty());
}

// Both directions count: a wanted type another player took, and a type we
// hold whose setting is off.
TEST_F(AssociationsTest, CheckAtStart_Mismatch_YesApplies) {
    OnlyWanted({settings::kAssocMP3, settings::kAssocMOV}, false);
    Associations a = Make();
    a.Apply();
    shell::WriteDefault("video/quicktime", std::string("vlc.desktop"));       // taken away
    shell::WriteDefault(shell::kAudioCdType, std::string("tunara.desktop"));  // held, not wanted
    ScopedRecordingInteraction ui;
    ui->answers = {Answer::Yes};
    EXPECT_TRUE(a.CheckAtStart(ui.get()));
    ASSERT_EQ(ui->questions.size(), 1u);
    EXPECT_EQ(ui->questions[0], kAssociationQuestion);
    EXPECT_TRUE(a.IsOurs(4));
    EXPECT_FALSE(a.IsCdPlayer());
    EXPECT_EQ(store_->Number(settings::kAssocMOV), 1u);
}

TEST_F(AssociationsTest, CheckAtStart_Mismatch_NoTakesTheDesktopsState) {
    OnlyWanted({settings::kAssocMP3, settings::kAssocMOV}, false);
    Associations a = Make();
    a.Apply();
    shell::WriteDefault("video/quicktime", std::string("vlc.desktop"));
    shell::WriteDefault(shell::kAudioCdType, std::string("tunara.desktop"));
    const std::string before = MimeApps();
    ScopedRecordingInteraction ui;
    ui->answers = {Answer::No};
    EXPECT_TRUE(a.CheckAtStart(ui.get()));
    EXPECT_EQ(MimeApps(), before);
    EXPECT_EQ(store_->Number(settings::kAssocMOV), 0u);
    EXPECT_EQ(store_->Number(settings::kAssocMP3), 1u);
    EXPECT_EQ(store_->Number(settings::kAutoPlayCD), 1u);
    // Saved: a new store reads the same.
    SettingsStore again(dir_ / "store", {});
    EXPECT_EQ(again.Number(settings::kAssocMOV), 0u);
    EXPECT_EQ(again.Number(settings::kAutoPlayCD), 1u);
    EXPECT_FALSE(a.CheckAtStart(ui.get()));
}

// Nothing was ever ours: the question offers the types by name with their
// programs now, and nothing is taken before the answer.
TEST_F(AssociationsTest, CheckAtStart_FirstStart_OffersByNameAndTakesOnlyOnYes) {
    OnlyWanted({settings::kAssocMP3, settings::kAssocWAV}, true);
    Associations a = Make();
    ScopedRecordingInteraction ui;
    ui->answers = {Answer::No, Answer::Yes};
    EXPECT_TRUE(a.CheckAtStart(ui.get()));
    ASSERT_EQ(ui->questions.size(), 1u);
    EXPECT_EQ(ui->questions[0],
              "Make Tunara the default player for MP3, WAV and audio CDs? (Now: V)");
    EXPECT_EQ(MimeApps(), kUserLines);
    EXPECT_EQ(store_->Number(settings::kAssocMP3), 0u);
    EXPECT_FALSE(a.CheckAtStart(ui.get())) << "a No is not asked again";

    OnlyWanted({settings::kAssocMP3}, false);
    EXPECT_TRUE(a.CheckAtStart(ui.get()));
    EXPECT_EQ(ui->questions.back(), "Make Tunara the default player for MP3? (Now: V)");
    EXPECT_TRUE(a.IsOurs(5));
    EXPECT_EQ(a.Backup("audio/mpeg"), "vlc.desktop");
}

// A type that was ours and was taken is asked back apart from one never ours.
TEST_F(AssociationsTest, CheckAtStart_TakenAndNewTypesAreAskedApart) {
    OnlyWanted({settings::kAssocWAV}, false);
    Associations a = Make();
    a.Apply();
    shell::WriteDefault("audio/x-wav", std::string("vlc.desktop"));
    OnlyWanted({settings::kAssocWAV, settings::kAssocMP3}, false);
    ScopedRecordingInteraction ui;
    ui->answers = {Answer::Yes, Answer::No};
    EXPECT_TRUE(a.CheckAtStart(ui.get()));
    ASSERT_EQ(ui->questions.size(), 2u);
    EXPECT_EQ(ui->questions[0], kAssociationQuestion);
    EXPECT_EQ(ui->questions[1], "Make Tunara the default player for MP3? (Now: V)");
    EXPECT_TRUE(a.IsOurs(7));
    EXPECT_FALSE(a.IsOurs(5));
    EXPECT_EQ(store_->Number(settings::kAssocMP3), 0u);
}

TEST_F(AssociationsTest, GiveBackAll_RestoresEveryType) {
    OnlyWanted({settings::kAssocMP3, settings::kAssocWAV}, true);
    Associations a = Make();
    a.Apply();
    a.GiveBackAll();
    EXPECT_EQ(MimeApps(), kUserLines);
}

}  // namespace
}  // namespace tunara
