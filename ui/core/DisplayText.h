#pragma once
// The texts and segment counts of the information and level displays, shared
// by every front end.
#include <string>

namespace tunara::display {

inline constexpr int kLevelSegments = 48;  // per channel bar
inline constexpr int kBandSegments = 7;    // per spectrum band
inline constexpr int kBandCount = 16;

// "Track 03 of 12"; empty when the count is 0.
std::string TrackText(int number, int count);
// " 128 kbits/s" (rounded to whole kbit/s); empty for exactly 0.
std::string BitRateText(int bitsPerSecond);
// " 44.1 kHz", " 22.05 kHz", " 48 kHz"; empty for 0.
std::string SampleRateText(int hz);
// "Mono", "Stereo", else empty.
std::string ChannelsText(int channels);
// "01:02:05 / 02:02:02" with a duration, "01:02:05" without; empty when both
// are 0. Arguments in whole seconds.
std::string TimeText(int positionSeconds, int durationSeconds);

// A band value as stored: clamped to 0..1, not-a-number counts as 0.
float ClampBand(float value);
// Lit segments of a band: the count of j >= 0 with j < 7 * value.
int BandSegmentsLit(float value);
// Lit segments of a level bar: the count of j in 0..47 with j < 48 * level.
int LevelSegmentsLit(float level);
// Colour zone of a segment: 0 low, 1 middle, 2 high.
int LevelSegmentZone(int segment);  // 0-23, 24-35, 36-47
int BandSegmentZone(int segment);   // 0-2, 3-4, 5-6

}  // namespace tunara::display
