#include "ui/core/DisplayText.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ui/core/DisplayState.h"

namespace tunara::display {
namespace {

TEST(DisplayText, SampleRate) {
    EXPECT_EQ(SampleRateText(44100), " 44.1 kHz");
    EXPECT_EQ(SampleRateText(22050), " 22.05 kHz");
    EXPECT_EQ(SampleRateText(48000), " 48 kHz");
    EXPECT_EQ(SampleRateText(11025), " 11.03 kHz");
    EXPECT_EQ(SampleRateText(0), "");
}

// Rounded to whole kbit/s; only exactly 0 is empty.
TEST(DisplayText, BitRate) {
    EXPECT_EQ(BitRateText(127600), " 128 kbits/s");
    EXPECT_EQ(BitRateText(999), " 1 kbits/s");
    EXPECT_EQ(BitRateText(400), " 0 kbits/s");
    EXPECT_EQ(BitRateText(1411200), " 1411 kbits/s");
    EXPECT_EQ(BitRateText(0), "");
}

TEST(DisplayText, TimeTrackChannels) {
    EXPECT_EQ(TimeText(3725, 0), "01:02:05");
    EXPECT_EQ(TimeText(3725, 7322), "01:02:05 / 02:02:02");
    EXPECT_EQ(TimeText(0, 61), "00:00:00 / 00:01:01");
    EXPECT_EQ(TimeText(0, 0), "");
    EXPECT_EQ(TrackText(3, 12), "Track 03 of 12");
    EXPECT_EQ(TrackText(0, 0), "");
    EXPECT_EQ(TrackText(0, 5), "Track 00 of 05");
    EXPECT_EQ(ChannelsText(1), "Mono");
    EXPECT_EQ(ChannelsText(2), "Stereo");
    EXPECT_EQ(ChannelsText(6), "");
}

// A band value of 1 lights all 7 segments, 0.01 one, 0 none; values past 1
// or not a number are clamped.
TEST(DisplayText, Segments) {
    EXPECT_EQ(BandSegmentsLit(1.0f), 7);
    EXPECT_EQ(BandSegmentsLit(0.01f), 1);
    EXPECT_EQ(BandSegmentsLit(0.0f), 0);
    EXPECT_EQ(BandSegmentsLit(1.5f), 7);
    EXPECT_EQ(BandSegmentsLit(-0.5f), 0);
    EXPECT_EQ(BandSegmentsLit(std::nanf("")), 0);
    EXPECT_EQ(BandSegmentsLit(3.0f / 7.0f), 3);
    EXPECT_EQ(LevelSegmentsLit(1.0f), 48);
    EXPECT_EQ(LevelSegmentsLit(0.5f), 24);
    EXPECT_EQ(LevelSegmentsLit(0.001f), 1);
    EXPECT_EQ(LevelSegmentsLit(0.0f), 0);
    EXPECT_EQ(LevelSegmentsLit(1e30f), 48);
    EXPECT_EQ(LevelSegmentZone(23), 0);
    EXPECT_EQ(LevelSegmentZone(24), 1);
    EXPECT_EQ(LevelSegmentZone(36), 2);
    EXPECT_EQ(BandSegmentZone(2), 0);
    EXPECT_EQ(BandSegmentZone(3), 1);
    EXPECT_EQ(BandSegmentZone(5), 2);
}

// Setters note a change only when the value differs; timed texts expire.
TEST(DisplayState, ChangesAndTimers) {
    DisplayState d;
    d.TakeChanged();
    d.ShowTitle("");
    d.ShowPosition(0);
    EXPECT_FALSE(d.TakeChanged());
    d.ShowPosition(1);
    EXPECT_TRUE(d.TakeChanged());
    float bands[16] = {};
    bands[3] = 2.0f;
    d.SetBands(bands);
    EXPECT_EQ(d.Bands()[3], 1.0f);
    EXPECT_TRUE(d.TakeChanged());
    d.SetBands(bands);
    EXPECT_FALSE(d.TakeChanged());

    d.ShowMessage("looking up", 3000);
    d.Hold(3000);
    EXPECT_TRUE(d.MessageMode());
    EXPECT_TRUE(d.Held());
    d.TakeChanged();
    d.Advance(2975);
    EXPECT_TRUE(d.MessageMode());
    EXPECT_FALSE(d.TakeChanged());
    d.Advance(25);
    EXPECT_FALSE(d.MessageMode());
    EXPECT_FALSE(d.Held());
    EXPECT_TRUE(d.TakeChanged());
}

}  // namespace
}  // namespace tunara::display
