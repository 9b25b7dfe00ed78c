#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "FakeSource.h"
#include "engine/VolumeControl.h"
#include "platform/audio/FileDevice.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::test {
namespace {

using namespace std::chrono_literals;

// Without a card's mixer (the null device) the software volume stands in.
class VolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TUNARA_AUDIO", "null:fast", 1);
        UiQueue().Deliver();
        ASSERT_EQ(volume.Open(tunara::testing::TestEngine().Gain(),
                              [this](const mixer::Notice& n) { notices.push_back(n); }),
                  1);
    }
    void TearDown() override {
        volume.Close();
        tunara::testing::TestEngine().Gain().SetSoftwareVolume(1.0f);
    }
    VolumeControl volume;
    std::vector<mixer::Notice> notices;
};

TEST_F(VolumeTest, SetVolume_ReachesTheEnds) {
    ASSERT_TRUE(volume.IsSoftware());
    const auto& c = volume.SpeakerControl();
    ASSERT_TRUE(c.found);
    EXPECT_FALSE(volume.WaveOutControl().found);
    EXPECT_FALSE(volume.CdControl().found);
    volume.SetVolume(1.0f);
    EXPECT_EQ(volume.GetVolume(), 1.0f);
    EXPECT_EQ(tunara::testing::TestEngine().Gain().SoftwareVolume(), 1.0f);
    volume.SetVolume(0.0f);
    EXPECT_EQ(volume.GetVolume(), 0.0f);
    EXPECT_EQ(tunara::testing::TestEngine().Gain().SoftwareVolume(), 0.0f);
    const float step = 1.0f / static_cast<float>(c.maximum - c.minimum);
    volume.SetVolume(0.5f);
    EXPECT_NEAR(volume.GetVolume(), 0.5f, step);
    volume.SetVolume(7.0f);  // held to full
    EXPECT_EQ(volume.GetVolume(), 1.0f);
}

// Changes come back as control notices on the UI thread, and not after Close.
TEST_F(VolumeTest, SetVolume_PostsControlNotice) {
    volume.SetVolume(0.25f);
    EXPECT_TRUE(notices.empty());  // posted, not called
    UiQueue().Deliver();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, mixer::NoticeKind::ControlChange);
    EXPECT_EQ(notices[0].id, volume.SpeakerControl().id);
    volume.SetVolume(0.75f);
    volume.Close();
    UiQueue().Deliver();
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_EQ(volume.GetVolume(), 0.0f);  // closed: no control
}

// The software volume scales what the engine plays, here into a WAV file.
TEST_F(VolumeTest, SoftwareVolume_ScalesPlayedSamples) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "tunara-volume.wav").string();
    audio::SetDeviceFactory([&] { return std::make_unique<audio::FileDevice>(path); });
    volume.SetVolume(0.5f);
    {
        FakeSource s(3000, 44100);
        ASSERT_EQ(s.Open(), 1);
        s.Play();
        ASSERT_TRUE(Eventually([&] { return !s.IsPlaying(); }));
        s.Close();
    }
    audio::SetDeviceFactory({});
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), {});
    ASSERT_EQ(b.size(), 44u + 3000u * 4);
    const float gain = tunara::testing::TestEngine().Gain().SoftwareVolume();
    for (uint32_t i = 0; i < 3000; i += 97) {
        int16_t left;
        std::memcpy(&left, &b[44 + i * 4], 2);
        // The engine's gain stage rounds to the nearest step.
        EXPECT_NEAR(left, static_cast<float>(i) * gain, 0.5f) << i;
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace tunara::test
