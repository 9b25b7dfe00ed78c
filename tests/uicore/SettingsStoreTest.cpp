#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/io/testing/SaveFaults.h"
#include "platform/registry/Registry.h"
#include "support/TempDir.h"
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
        dir_ = tmp_.path;
        Keep("XDG_CONFIG_HOME", (dir_ / "config").string());
        Keep("HOME", (dir_ / "home").string());
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
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

    testing::TempDir tmp_;
    fs::path dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A first start, with no store yet, reads every setting as its default.
TEST_F(SettingsStoreTest, FreshUser_HasEveryDefault) {
    SettingsStore store;
    EXPECT_EQ(store.StoreFile(), dir_ / "config" / "Korvan" / "Tunara" / "settings");
    for (const Entry& e : Table()) {
        if (e.type == Type::Number) {
            EXPECT_EQ(store.Number(e.key), e.defaultNumber) << e.key;
        } else if (e.key != kRecordFilePath) {
            EXPECT_EQ(store.Text(e.key), e.defaultText) << e.key;
        }
    }
    // The recording folder's default follows the user's home.
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
        tunara::testing::ScopedSaveFailure failure("rename");
        EXPECT_FALSE(store.SaveAll());
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
