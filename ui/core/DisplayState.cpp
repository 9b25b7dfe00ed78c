#include "ui/core/DisplayState.h"

#include <limits>

#include "ui/core/DisplayText.h"

namespace tunara {

namespace {
// A timed text with time 0 stays until the next one.
constexpr int kUntilReplaced = std::numeric_limits<int>::max();
}  // namespace

void DisplayState::ShowMessage(const std::string& text, int ms) {
    Set(message_, text);
    int left = ms > 0 ? ms : kUntilReplaced;
    if (messageLeftMs_ <= 0) changed_ = true;
    messageLeftMs_ = left;
}

void DisplayState::SetLevels(float left, float right) {
    Set(left_, left);
    Set(right_, right);
}

void DisplayState::SetBands(const float* bands) {
    for (size_t i = 0; i < bands_.size(); ++i) Set(bands_[i], display::ClampBand(bands[i]));
}

void DisplayState::Hold(int ms) {
    if (holdLeftMs_ <= 0) changed_ = true;
    holdLeftMs_ = ms > 0 ? ms : kUntilReplaced;
}

void DisplayState::SetTransportLit(bool play, bool fwd, bool back) {
    Set(playLit_, play);
    Set(fwdLit_, fwd);
    Set(backLit_, back);
}

void DisplayState::SetModeLit(bool intro, bool shuffle, bool repeat) {
    Set(introLit_, intro);
    Set(shuffleLit_, shuffle);
    Set(repeatLit_, repeat);
}

void DisplayState::Advance(int ms) {
    auto run = [&](int& left) {
        if (left <= 0 || left == kUntilReplaced) return;
        left -= ms;
        if (left <= 0) {
            left = 0;
            changed_ = true;
        }
    };
    run(messageLeftMs_);
    run(holdLeftMs_);
}

bool DisplayState::TakeChanged() {
    bool was = changed_;
    changed_ = false;
    return was;
}

std::string DisplayState::TimeText() const {
    return display::TimeText(positionSeconds_, durationSeconds_);
}
std::string DisplayState::TrackText() const {
    return display::TrackText(trackNumber_, trackCount_);
}
std::string DisplayState::BitRateText() const {
    return display::BitRateText(bitRate_);
}
std::string DisplayState::SampleRateText() const {
    return display::SampleRateText(sampleRate_);
}
std::string DisplayState::ChannelsText() const {
    return display::ChannelsText(channels_);
}

}  // namespace tunara
