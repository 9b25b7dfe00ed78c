#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;
using namespace settings;

// Every test has a fresh user: XDG_CONFIG_HOME and HOME in a temp folder.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tunara-settings-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        Keep("XDG_CONFIG_HOME", (dir_ / "config").string());
        Keep("HOME", (dir_ / "home").string());
    }
    void TearDown() override {
        registry::testing::SetSaveHook({});
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        fs::remove_all(dir_);
    }
    void Keep(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    // Writes one value straight into the store, as another program might.
    void Store(std::string_view section, std::string_view key, std::string_view text) {
        registry::Key k;
        ASSERT_EQ(registry::Key::OpenUser(section, true, k), registry::Status::Ok);
        k.SetString(key, text);
    }
    void Store(std::string_view section, std::string_view key, uint32_t number) {
        registry::Key k;
        ASSERT_EQ(registry::Key::OpenUser(section, true, k), registry::Status::Ok);
        k.SetDword(key, number);
    }

    fs::path dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(SettingsStoreTest, FreshUser_HasEveryDefault) {
    SettingsStore store;
    EXPECT_EQ(store.StoreFile(), dir_ / "config" / "Korvan" / "Tunara" / "settings");
    EXPECT_EQ(Table().size(), 43u);
    const std::vector<std::pair<std::string_view, uint32_t>> numbers = {
        {kAutoPlayCD, 1},  {kAutoSampleCD, 0}, {kAutoCDInfo, 1},  {kUseProxy, 0},
        {kBitRate, 3},     {kEncoder, 0},      {kRecordName1, 0}, {kRecordName2, 1},
        {kRecordName3, 2}, {kRecordName4, 5},  {kAssocAIF, 1},    {kAssocAU, 1},
        {kAssocAVI, 1},    {kAssocMID, 1},     {kAssocMOV, 1},    {kAssocMP3, 1},
        {kAssocSND, 1},    {kAssocWAV, 1},     {kAssocPLS, 1},    {kAssocM3U, 1},
        {kUseID3Title, 1}, {kAskFilePath, 1},  {kFlacLevel, 5},   {kReadOffset, 0},
        {kVbrQuality, 0},  {kTitleSource, 0},  {kVerifyAccurateRip, 0},
    };
    for (const auto& [key, value] : numbers) EXPECT_EQ(store.Number(key), value) << key;
    EXPECT_EQ(store.Text(kCDDBAddr), "gnudb.gnudb.org");
    EXPECT_EQ(store.Text(kMusicBrainzAddr), "https://musicbrainz.org");
    EXPECT_EQ(store.Text(kProxyAddr), "");
    EXPECT_EQ(store.Text(kProxyPort), "");
    EXPECT_EQ(store.Text(kPreferredCDdrive), "");
    EXPECT_EQ(store.Text(kRecordFilePath), (dir_ / "home" / "Music").string());
    EXPECT_EQ(store.CurrentCdDrive(), -1);
    // The sections exist from the first start on.
    registry::Key k;
    EXPECT_EQ(registry::Key::OpenUser(kRecordOptions, false, k), registry::Status::Ok);
}

// Every value, changed, survives SaveAll and a new start.
TEST_F(SettingsStoreTest, SaveAll_ValuesSurviveARestart) {
    {
        SettingsStore store;
        for (const Entry& e : Table()) {
            if (e.type == Type::Number) {
                ASSERT_TRUE(store.SetNumber(e.key, e.defaultNumber + 7));
            } else {
                ASSERT_TRUE(store.SetText(e.key, std::string(e.key) + " value"));
            }
        }
        EXPECT_TRUE(store.SaveAll());
    }
    SettingsStore store;
    for (const Entry& e : Table()) {
        if (e.type == Type::Number) {
            EXPECT_EQ(store.Number(e.key), e.defaultNumber + 7) << e.key;
        } else {
            EXPECT_EQ(store.Text(e.key), std::string(e.key) + " value") << e.key;
        }
    }
    EXPECT_EQ(store.StoredNumber(kEncoder), 7u);
    EXPECT_EQ(store.StoredText(kProxyPort), "ProxyPort value");
}

// Texts that do not fit 200 bytes with their zero are ignored; folders may be longer.
TEST_F(SettingsStoreTest, LoadAll_OverlongTextsKeepTheDefault) {
    Store(kCdOptions, kCDDBAddr, std::string(200, 'h'));
    Store(kCdOptions, kProxyAddr, std::string(199, 'p'));
    const std::string longFolder = "/" + std::string(300, 'f');
    Store(kFileOptions, kRecordFilePath, longFolder);
    SettingsStore store;
    EXPECT_EQ(store.Text(kCDDBAddr), "gnudb.gnudb.org");
    EXPECT_EQ(store.Text(kProxyAddr), std::string(199, 'p'));
    EXPECT_EQ(store.Text(kRecordFilePath), longFolder);
}

// A value of the wrong type is as good as missing; any non-zero flag is set.
TEST_F(SettingsStoreTest, LoadAll_WrongTypesKeepDefaultsAndFlagsAreNonZero) {
    Store(kCdOptions, kAutoPlayCD, "1");
    Store(kCdOptions, kCDDBAddr, 5u);
    Store(kFileOptions, kUseID3Title, 7u);
    Store(kCdOptions, kAutoCDInfo, 0u);
    SettingsStore store;
    EXPECT_EQ(store.Number(kAutoPlayCD), 1u);
    EXPECT_EQ(store.Text(kCDDBAddr), "gnudb.gnudb.org");
    EXPECT_TRUE(store.Flag(kUseID3Title));
    EXPECT_FALSE(store.Flag(kAutoCDInfo));

    EXPECT_FALSE(store.SetNumber("NoSuchKey", 1));
    EXPECT_FALSE(store.SetNumber(kCDDBAddr, 1));
    EXPECT_FALSE(store.SetText(kEncoder, "x"));
    EXPECT_EQ(store.Number("NoSuchKey"), 0u);
}

TEST_F(SettingsStoreTest, GarbageStore_ReadsAsDefaults) {
    const fs::path file = registry::UserStoreFile();
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << "TunaraSettings 1\n[CDOptions]\n\"AutoPlayCD\"=dwor";
    SettingsStore store;
    EXPECT_EQ(store.Number(kAutoPlayCD), 1u);
    EXPECT_EQ(store.Number(kBitRate), 3u);
}

// A save that dies before the rename leaves the last good settings.
TEST_F(SettingsStoreTest, SaveAll_InterruptedKeepsPreviousSettings) {
    {
        SettingsStore store;
        store.SetNumber(kBitRate, 1);
        ASSERT_TRUE(store.SaveAll());
        store.SetNumber(kBitRate, 2);
        registry::testing::SetSaveHook([](std::string_view stage) { return stage != "rename"; });
        EXPECT_FALSE(store.SaveAll());
        registry::testing::SetSaveHook({});
    }
    SettingsStore store;
    EXPECT_EQ(store.Number(kBitRate), 1u);
}

// The drive named by the preference becomes current, whatever its case.
TEST_F(SettingsStoreTest, ChooseCdDrive_FollowsThePreference) {
    Store(kCdOptions, kPreferredCDdrive, "d:");
    SettingsStore store({"C:", "D:"});
    EXPECT_EQ(store.CurrentCdDrive(), 1);
    EXPECT_EQ(store.Text(kPreferredCDdrive), "D:");

    // A drive that is not there stays preferred; the first drive plays.
    store.SetText(kPreferredCDdrive, "/dev/sr9");
    EXPECT_EQ(store.ChooseCdDrive({"/dev/sr0", "/dev/sr1"}), 0);
    EXPECT_EQ(store.Text(kPreferredCDdrive), "/dev/sr9");

    // No preference: the first drive, and it is named.
    store.SetText(kPreferredCDdrive, "");
    EXPECT_EQ(store.ChooseCdDrive({"/dev/sr0", "/dev/sr1"}), 0);
    EXPECT_EQ(store.Text(kPreferredCDdrive), "/dev/sr0");

    EXPECT_EQ(store.ChooseCdDrive({}), -1);
}

}  // namespace
}  // namespace tunara

namespace tunara {
namespace {

// The sound settings go through the store and come back; presets by name
// (a saved one too) or as ten gains; damaged values fall back to neutral.
TEST_F(SettingsStoreTest, SoundSettingsAndPresetsPersist) {
    {
        SettingsStore store;
        SoundSettings s;
        s.mode = ReplayGainMode::Auto;
        s.preampDb = -4.5f;
        s.eqOn = true;
        s.eqDb = *EqualiserPreset("Rock", &store);
        s.eqPreampDb = -2;
        s.balance = -30;
        StoreSoundSettings(store, s);
        ASSERT_TRUE(SaveEqualiserPreset(store, "mine", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        ASSERT_TRUE(SaveEqualiserPreset(store, "Mine", {0, 0, 0, 0, 0, 0, 0, 0, 0, -1}));
        EXPECT_FALSE(SaveEqualiserPreset(store, "a;b", {}));
        ASSERT_TRUE(store.SaveAll());
    }
    SettingsStore store;
    const SoundSettings s = LoadSoundSettings(store);
    EXPECT_EQ(s.mode, ReplayGainMode::Auto);
    EXPECT_FLOAT_EQ(s.preampDb, -4.5f);
    EXPECT_TRUE(s.eqOn);
    EXPECT_EQ(s.eqDb, *EqualiserPreset("rock", nullptr));
    EXPECT_FLOAT_EQ(s.eqPreampDb, -2);
    EXPECT_EQ(s.balance, -30);
    EXPECT_EQ(EqualiserPreset("MINE", &store)->back(), -1);  // replaced, not doubled
    EXPECT_EQ(EqualiserPresets(&store).size(), 9u);
    EXPECT_EQ(EqualiserPreset("1,2,3,4,5,6,7,8,9,-12", nullptr)->back(), -12);
    EXPECT_FALSE(EqualiserPreset("1,2,3", nullptr));
    EXPECT_FALSE(EqualiserPreset("0,0,0,0,0,0,0,0,0,13", nullptr));

    store.SetText(kEqualiser, "junk");
    store.SetText(kBalance, "left");
    const SoundSettings damaged = LoadSoundSettings(store);
    EXPECT_EQ(damaged.eqDb, (std::array<float, 10>{}));
    EXPECT_EQ(damaged.balance, 0);
}

}  // namespace
}  // namespace tunara
