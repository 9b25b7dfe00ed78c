#include "ui/core/DisplayText.h"

#include <cmath>
#include <cstdio>

namespace tunara::display {

namespace {
template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buffer[96];
    int n = std::snprintf(buffer, sizeof(buffer), format, args...);
    return n < 0 ? std::string() : std::string(buffer);
}

// Counts j = 0, 1, ... below limit, up to max, without trusting float-to-int
// conversion of huge or not-a-number values.
int CountBelow(float limit, int max) {
    int n = 0;
    while (n < max && static_cast<float>(n) < limit) ++n;
    return n;
}
}  // namespace

std::string TrackText(int number, int count) {
    if (count == 0) return {};
    return Format("Track %.2d of %.2d", number, count);
}

std::string BitRateText(int bitsPerSecond) {
    if (bitsPerSecond == 0) return {};
    return Format(" %d kbits/s", static_cast<int>(bitsPerSecond * 0.001 + 0.5));
}

std::string SampleRateText(int hz) {
    if (hz == 0) return {};
    if (hz % 1000 == 0) return Format(" %d kHz", hz / 1000);
    if (hz % 100 == 0) return Format(" %.1f kHz", hz * 0.001);
    return Format(" %.2f kHz", hz * 0.001);
}

std::string ChannelsText(int channels) {
    if (channels == 1) return "Mono";
    if (channels == 2) return "Stereo";
    return {};
}

std::string TimeText(int positionSeconds, int durationSeconds) {
    auto hms = [](int s) { return Format("%.2d:%.2d:%.2d", s / 3600, s / 60 % 60, s % 60); };
    if (durationSeconds != 0) return hms(positionSeconds) + " / " + hms(durationSeconds);
    if (positionSeconds != 0) return hms(positionSeconds);
    return {};
}

float ClampBand(float value) {
    if (std::isnan(value) || value < 0.0f) return 0.0f;
    return value > 1.0f ? 1.0f : value;
}

int BandSegmentsLit(float value) {
    return CountBelow(kBandSegments * ClampBand(value), kBandSegments);
}

int LevelSegmentsLit(float level) {
    if (std::isnan(level)) return 0;
    return CountBelow(kLevelSegments * level, kLevelSegments);
}

int LevelSegmentZone(int segment) {
    return segment < 24 ? 0 : segment < 36 ? 1 : 2;
}
int BandSegmentZone(int segment) {
    return segment < 3 ? 0 : segment < 5 ? 1 : 2;
}

}  // namespace tunara::display
