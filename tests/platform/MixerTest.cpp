#include <gtest/gtest.h>

#include "platform/audio/AudioDevice.h"
#include "platform/mixer/Mixer.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::mixer {
namespace {

// The software mixer offers a speakers line only; its control is the output's gain.
TEST(SoftwareMixer, SpeakersLineDrivesSoftwareVolume) {
    float gain = -1.0f;
    auto m = OpenSoftwareMixer({}, [&gain](float g) { gain = g; });
    ASSERT_TRUE(m->IsSoftware());
    LineInfo line;
    EXPECT_FALSE(m->GetLineByComponentType(ComponentType::WaveOut, line));
    EXPECT_FALSE(m->GetLineByComponentType(ComponentType::CompactDisc, line));
    ASSERT_TRUE(m->GetLineByComponentType(ComponentType::Speakers, line));
    EXPECT_EQ(line.controlCount, 1u);
    ControlInfo c;
    ASSERT_TRUE(m->GetVolumeControl(line.lineId, c));
    EXPECT_LT(c.minimum, c.maximum);
    EXPECT_FALSE(m->GetVolumeControl(line.lineId + 77, c));

    long values[2] = {c.maximum / 4, c.maximum};
    ASSERT_TRUE(m->SetControlValues(c.controlId, values, 2));
    long back[2] = {};
    ASSERT_TRUE(m->GetControlValues(c.controlId, back, 2));
    EXPECT_EQ(back[0], c.maximum / 4);
    EXPECT_NEAR(gain, 0.25f, 1e-4f);
    values[0] = c.maximum * 3;  // held to the range
    ASSERT_TRUE(m->SetControlValues(c.controlId, values, 1));
    EXPECT_EQ(gain, 1.0f);
    EXPECT_FALSE(m->SetControlValues(c.controlId + 1, values, 1));
    UiQueue().Deliver();
}

// A change reaches every open mixer's handler, on the thread that delivers the queue.
TEST(SoftwareMixer, ChangeNotifiesEveryMixer) {
    UiQueue().Deliver();
    int a = 0, b = 0;
    auto ma = OpenSoftwareMixer([&](const Notice& n) { a += n.kind == NoticeKind::ControlChange; });
    auto mb = OpenSoftwareMixer([&](const Notice&) { ++b; });
    LineInfo line;
    ControlInfo c;
    ASSERT_TRUE(ma->GetLineByComponentType(ComponentType::Speakers, line));
    ASSERT_TRUE(ma->GetVolumeControl(line.lineId, c));
    long v[2] = {c.maximum, c.maximum};
    ma->SetControlValues(c.controlId, v, 2);
    EXPECT_EQ(UiQueue().Deliver(), 2);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    mb.reset();
    ma->SetControlValues(c.controlId, v, 2);
    UiQueue().Deliver();
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
}

TEST(AlsaMixer, MissingCard_IsNotOpened) {
    EXPECT_EQ(OpenAlsaMixer("", {}), nullptr);
    EXPECT_EQ(OpenAlsaMixer("hw:97", {}), nullptr);
    // The output mixer always opens: the card's, or the software one.
    EXPECT_NE(OpenOutputMixer({}), nullptr);
}

}  // namespace
}  // namespace tunara::mixer
