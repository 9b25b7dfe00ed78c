#include "ui/core/OptionsModel.h"
#include "ui/core/RecordName.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "support/TempDir.h"
#include "ui/core/Associations.h"
#include "ui/core/SettingsStore.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;
using namespace settings;

class OptionsModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_.path;
        store_ = std::make_unique<SettingsStore>(dir_ / "store", std::vector<std::string>{});
    }
    void TearDown() override { store_.reset(); }
    // The store as a fresh start reads it.
    SettingsStore Reloaded() { return SettingsStore(dir_ / "store", {}); }

    testing::TempDir tmp_;
    fs::path dir_;
    std::unique_ptr<SettingsStore> store_;
    ScopedRecordingInteraction ui_;
};

// The sample is BuildRecordName over fixed values: the part choices and the
// chosen bit rate reach it, and the encoder switch lands on 128 kbit/s.
TEST_F(OptionsModelTest, Sample_FollowsPartsAndBitRate) {
    OptionsModel m(*store_, {}, ui_.get());
    EXPECT_EQ(m.Sample(), "Album - Artist - TrackTitle");
    m.SetEncoder(1);
    EXPECT_EQ(m.BitRateLabels()[size_t(m.BitRateIndex())], "128 kbits/s");
    m.SetBitRateIndex(3);
    m.SetNamePart(0, kNameTrack);
    m.SetNamePart(1, kNameBitRate);
    m.SetNamePart(2, kNameNone);
    m.SetNamePart(3, kNameNone);
    EXPECT_EQ(m.Sample(), "01 - 192");
    m.SetEncoder(0);  // Fast MP3 -> Korvan: 128 kbits/s of the other list
    EXPECT_EQ(m.BitRateIndex(), 3);
    EXPECT_EQ(m.BitRateLabels()[3], "128 kbits/s");
    m.SetBitRateIndex(0);
    EXPECT_EQ(m.Sample(), "01 - 24");
    // "None" is not offered for the first two parts.
    m.SetNamePart(0, kNameNone);
    EXPECT_EQ(m.NamePart(0), kNameTrack);
}

TEST_F(OptionsModelTest, EnablingRules) {
    store_->SetNumber(kUseProxy, 0);
    store_->SetNumber(kAskFilePath, 1);
    OptionsModel none(*store_, {}, ui_.get());
    EXPECT_FALSE(none.ProxyEditsEnabled());
    EXPECT_FALSE(none.FolderControlsEnabled());
    EXPECT_FALSE(none.DriveControlsEnabled());
    EXPECT_EQ(none.SelectedDrive(), -1);

    store_->SetText(kPreferredCDdrive, "/dev/SR1");
    OptionsModel m(*store_, {"/dev/sr1", "/dev/sr0"}, ui_.get());
    EXPECT_EQ(m.DriveList(), (std::vector<std::string>{"/dev/sr0", "/dev/sr1"}));
    EXPECT_EQ(m.SelectedDrive(), 1);
    m.SetFlag(kUseProxy, true);
    m.SetFlag(kAskFilePath, false);
    EXPECT_TRUE(m.ProxyEditsEnabled());
    EXPECT_TRUE(m.FolderControlsEnabled());
    m.SetAllFileTypes(false);
    for (const FileType& t : FileTypes()) EXPECT_EQ(m.Number(t.settingKey), 0u);
}

// Cancel drops everything the sheet changed; nothing reaches the store.
TEST_F(OptionsModelTest, Cancel_RestoresTheCopies) {
    OptionsModel m(*store_, {}, ui_.get());
    m.SetEncoder(2);
    m.SetNamePart(3, kNameTrack);
    m.SetText(kRecordFilePath, "/elsewhere");
    m.SetFlag(kAskFilePath, false);
    m.Cancel();
    EXPECT_EQ(m.Encoder(), 0);
    EXPECT_EQ(m.BitRateIndex(), 3);
    EXPECT_EQ(m.NamePart(3), kNameNone);
    EXPECT_EQ(m.Text(kRecordFilePath), store_->Text(kRecordFilePath));
    EXPECT_TRUE(m.Flag(kAskFilePath));
    EXPECT_EQ(store_->Number(kEncoder), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "store") && Reloaded().Number(kEncoder) != 0);
}

// OK with "Always use this folder" and a missing folder: No keeps the sheet
// open, Yes creates it, with every missing level, and OK goes through.
TEST_F(OptionsModelTest, Ok_MissingFolder_AsksToCreate) {
    const fs::path folder = dir_ / "rips" / "2026" / "cd";
    OptionsModel m(*store_, {}, ui_.get());
    m.SetFlag(kAskFilePath, false);
    m.SetText(kRecordFilePath, folder.string());
    ui_->answers = {Answer::No, Answer::Yes};
    EXPECT_FALSE(m.Ok());
    ASSERT_EQ(ui_->questions.size(), 1u);
    EXPECT_EQ(ui_->questions[0],
              "File path " + folder.string() + " does not exist, would you like to create it?");
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(Reloaded().Number(kAskFilePath), 1u);  // nothing saved

    EXPECT_TRUE(m.Ok());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(Reloaded().Text(kRecordFilePath), folder.string());
    EXPECT_EQ(Reloaded().Number(kAskFilePath), 0u);
}

// A folder that cannot be made shows the error and keeps the sheet open; a
// path naming a file is unusable with its error number.
TEST_F(OptionsModelTest, Ok_UnusableFolder_StaysOpen) {
    OptionsModel m(*store_, {}, ui_.get());
    m.SetFlag(kAskFilePath, false);
    m.SetText(kRecordFilePath, "/proc/no/such");  // not even root may make it
    ui_->answers = {Answer::Yes};
    EXPECT_FALSE(m.Ok());
    ASSERT_EQ(ui_->errors.size(), 1u);
    EXPECT_EQ(ui_->errors[0].Formatted(), "Error: Unable to create directory");

    std::ofstream(dir_ / "file") << "x";
    m.SetText(kRecordFilePath, (dir_ / "file").string());
    EXPECT_FALSE(m.Ok());
    ASSERT_EQ(ui_->errors.size(), 2u);
    EXPECT_EQ(
        ui_->errors[1].Formatted(),
        "File error - directory path " + (dir_ / "file").string() + " is unusable (Error = 20)");
    // Asking each time: the folder is not checked at all.
    m.SetFlag(kAskFilePath, true);
    EXPECT_TRUE(m.Ok());
}

// A port outside 1..65535 keeps the sheet open with an error naming the port,
// not the server.
TEST_F(OptionsModelTest, Ok_BadProxyPort_StaysOpenAndNamesThePort) {
    OptionsModel m(*store_, {}, ui_.get());
    for (const char* bad : {"abc", "0", "65536", "80x", "123456"}) {
        m.SetText(kProxyPort, bad);
        EXPECT_FALSE(m.Ok()) << bad;
        EXPECT_EQ(ui_->errors.back().Formatted(),
                  std::string("The proxy port \"") + bad + "\" is not a number from 1 to 65535.");
    }
    EXPECT_EQ(Reloaded().Text(kProxyPort), "");
    for (const char* good : {"", "1", "8080", "65535"}) {
        m.SetText(kProxyPort, good);
        EXPECT_TRUE(m.Ok()) << good;
    }
}

TEST_F(OptionsModelTest, Ok_Steps) {
    int associations = 0, drive = 0, id3 = 0;
    std::string heldAtAssociations;
    OptionsModel::Effects effects;
    effects.applyAssociations = [&] {
        ++associations;
        heldAtAssociations = std::to_string(store_->Number(kAssocMP3));
    };
    effects.preferredDriveChanged = [&] { ++drive; };
    effects.useId3TitleChanged = [&] { ++id3; };
    OptionsModel m(*store_, {"/dev/sr0", "/dev/sr1"}, ui_.get(), effects);
    m.SetText(kCDDBAddr, "");
    m.SetFlag(kAssocMP3, false);
    ASSERT_TRUE(m.Ok());
    EXPECT_EQ(associations, 1);
    EXPECT_EQ(heldAtAssociations, "0");  // the associations see the new values
    EXPECT_EQ(drive, 0);
    EXPECT_EQ(id3, 0);
    EXPECT_EQ(Reloaded().Text(kCDDBAddr), kDefaultCddbHost);
    EXPECT_EQ(Reloaded().Number(kAssocMP3), 0u);

    m.SelectDrive(1);
    m.SetFlag(kUseID3Title, false);
    ASSERT_TRUE(m.Ok());
    EXPECT_EQ(drive, 1);
    EXPECT_EQ(id3, 1);
    EXPECT_EQ(Reloaded().Text(kPreferredCDdrive), "/dev/sr1");
}

}  // namespace
}  // namespace tunara
