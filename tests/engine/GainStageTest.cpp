// The gain stage as heard through the file output: item gains switch at the
// exact frame where two items meet, balance and the equaliser act on what is
// written, and ReplayGain values become the gain the modes call for.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>

#include "FakeSource.h"
#include "engine/GainStage.h"
#include "engine/testing/EngineTesting.h"

namespace tunara::test {
namespace {

// The 16-bit samples of a WAV file's data chunk.
std::vector<int16_t> Samples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> out;
    for (size_t i = 12; i + 8 <= bytes.size();) {
        uint32_t size;
        std::memcpy(&size, &bytes[i + 4], 4);
        if (std::memcmp(&bytes[i], "data", 4) == 0) {
            size = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size() - i - 8));
            out.resize(size / 2);
            std::memcpy(out.data(), &bytes[i + 8], out.size() * 2);
            break;
        }
        i += 8 + size + (size & 1);
    }
    return out;
}

class GainStageTest : public ::testing::Test {
protected:
    void SetUp() override {
        audio::SetDeviceFactory([this] { return audio::CreateDevice("file:" + path_); });
    }
    void TearDown() override {
        tunara::testing::TestEngine().Gain().SetSettings({});
        audio::SetDeviceFactory({});
        if (!path_.empty()) std::filesystem::remove(path_);
    }
    // Plays `first`, joined by `second` when given, to the end; the capture.
    std::vector<int16_t> Play(PcmSource& first, PcmSource* second = nullptr) {
        // A new file each time: the file output goes on where it left off.
        if (!path_.empty()) std::filesystem::remove(path_);
        path_ =
            (std::filesystem::temp_directory_path() /
             ("gainstage-" + std::to_string(::getpid()) + "-" + std::to_string(++plays_) + ".wav"))
                .string();
        EXPECT_EQ(first.Open(), 1);
        if (second) {
            EXPECT_TRUE(tunara::testing::TestEngine().Enqueue(*second));
        }
        first.Play();
        PcmSource& last = second ? *second : first;
        EXPECT_TRUE(Eventually([&] { return first.IsPlaying() == 0; }));
        if (second) {
            EXPECT_TRUE(tunara::testing::TestEngine().HandOver(*second));
            EXPECT_TRUE(Eventually([&] { return second->IsPlaying() == 0; }));
        }
        last.Close();
        return Samples(path_);
    }
    std::string path_;
    static inline int plays_ = 0;  // never reused: the file output remembers its files
};

// FakeSource's left channel counts frames: frame k of an item is k itself.
TEST_F(GainStageTest, ItemGainChangesExactlyAtTheJoin) {
    tunara::testing::TestEngine().Gain().SetSettings({});
    FakeSource a(2500), b(1800);
    const float ga = ItemGain({-6.0f, 0.3f, NAN, NAN}, {.mode = ReplayGainMode::Track}, false);
    const float gb = ItemGain({+2.5f, 0.3f, NAN, NAN}, {.mode = ReplayGainMode::Track}, false);
    a.SetGain(ga);
    b.SetGain(gb);
    auto s = Play(a, &b);
    ASSERT_EQ(s.size(), 2u * (2500 + 1800));
    for (int k = 0; k < 2500 + 1800; ++k) {
        const int item = k < 2500 ? k : k - 2500;
        const float g = k < 2500 ? ga : gb;
        ASSERT_EQ(s[2 * k], std::lrint(item * g)) << "frame " << k;
    }
    // Within 0.01 dB over the whole item.
    double in = 0, out = 0;
    for (int k = 100; k < 2500; ++k) in += k, out += s[2 * k];
    EXPECT_NEAR(20 * std::log10(out / in), -6.0, 0.01);
}

TEST_F(GainStageTest, BalanceAndEqualiserShapeWhatIsWritten) {
    SoundSettings settings;
    settings.balance = -50;  // towards the left: the left side stays whole
    tunara::testing::TestEngine().Gain().SetSettings(settings);
    FakeSource a(3000);
    auto s = Play(a);
    ASSERT_EQ(s.size(), 6000u);
    EXPECT_EQ(s[2 * 2000], 2000);
    settings.balance = 60;  // towards the right: the left side at 40%
    tunara::testing::TestEngine().Gain().SetSettings(settings);
    FakeSource b(3000);
    s = Play(b);
    ASSERT_EQ(s.size(), 6000u);
    EXPECT_EQ(s[2 * 2000], 800);

    // A slow ramp is a low tone: the 31 Hz band at +12 dB raises it, the
    // same band at -12 dB lowers it, against the plain run.
    auto level = [&](float db) {
        SoundSettings eq;
        eq.eqOn = true;
        eq.eqDb[0] = db;
        tunara::testing::TestEngine().Gain().SetSettings(eq);
        FakeSource c(20000, 44100);
        auto v = Play(c);
        double sum = 0;
        for (size_t k = 2 * 10000; k < v.size(); k += 2) sum += std::abs(v[k]);
        return sum;
    };
    const double up = level(12), down = level(-12), flat = level(0);
    EXPECT_GT(up, flat * 1.01);
    EXPECT_LT(down, flat * 0.99);
}

TEST(ItemGain, ModesPreampClippingAndDefault) {
    const ReplayGainValues v{-4.0f, 0.5f, -7.0f, 0.6f};
    auto db = [](float linear) { return 20 * std::log10(linear); };
    SoundSettings s;
    EXPECT_EQ(ItemGain(v, s, true), 1.0f);  // off
    s.mode = ReplayGainMode::Track;
    EXPECT_NEAR(db(ItemGain(v, s, true)), -4.0, 1e-4);
    s.mode = ReplayGainMode::Album;
    EXPECT_NEAR(db(ItemGain(v, s, false)), -7.0, 1e-4);
    s.mode = ReplayGainMode::Auto;
    EXPECT_NEAR(db(ItemGain(v, s, true)), -7.0, 1e-4);
    EXPECT_NEAR(db(ItemGain(v, s, false)), -4.0, 1e-4);
    s.preampDb = 20;  // held at +15
    EXPECT_NEAR(db(ItemGain(v, s, false)),
                11.0 + 20 * std::log10(1 / (0.5 * std::pow(10, 11 / 20.0))), 1e-3);
    s.preampDb = 3;
    s.mode = ReplayGainMode::Track;
    // A peak above full scale: the gain keeps it at full scale.
    EXPECT_NEAR(ItemGain({2.0f, 1.4f, NAN, NAN}, s, false), 1 / 1.4f, 1e-6);
    s.preventClipping = false;
    EXPECT_NEAR(db(ItemGain({2.0f, 1.4f, NAN, NAN}, s, false)), 5.0, 1e-4);
    // Album mode falls back on the track gain, and untagged items get the default.
    s.mode = ReplayGainMode::Album;
    EXPECT_NEAR(db(ItemGain({-1.0f, NAN, NAN, NAN}, s, false)), 2.0, 1e-4);
    s.defaultGainDb = -6;
    EXPECT_NEAR(db(ItemGain({}, s, false)), -6.0, 1e-4);
}

}  // namespace
}  // namespace tunara::test
