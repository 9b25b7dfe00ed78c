#pragma once
// A PlayerDisplay that keeps what it was told and notes whether anything
// visible changed: the model behind text front ends and test harnesses.
#include <array>
#include <string>

#include "ui/core/PlayerDisplay.h"

namespace tunara {

class DisplayState : public PlayerDisplay {
public:
    void ShowTitle(const std::string& title) override { Set(title_, title); }
    void ShowFormatName(const std::string& name) override { Set(formatName_, name); }
    void ShowBitRate(int v) override { Set(bitRate_, v); }
    void ShowSampleRate(int v) override { Set(sampleRate_, v); }
    void ShowChannels(int v) override { Set(channels_, v); }
    void ShowDuration(int v) override { Set(durationSeconds_, v); }
    void ShowPosition(int v) override { Set(positionSeconds_, v); }
    void ShowTrackNumber(int v) override { Set(trackNumber_, v); }
    void ShowTrackCount(int v) override { Set(trackCount_, v); }
    void ShowMessage(const std::string& text, int ms) override;
    void SetLevels(float left, float right) override;
    void SetBands(const float* bands) override;
    void Hold(int ms) override;
    void SetPositionRange(int max) override { Set(positionMax_, max); }
    void SetPositionSlider(int v) override { Set(positionSlider_, v); }
    void SetVolumeSlider(int v) override { Set(volumeSlider_, v); }
    void SetWindowTitle(const std::string& title) override { Set(windowTitle_, title); }
    void SetTransportLit(bool play, bool fwd, bool back) override;
    void SetModeLit(bool intro, bool shuffle, bool repeat) override;
    void EnableCdButton(bool enabled) override { Set(cdEnabled_, enabled); }
    void RefreshListViews() override { ++listViewRefreshes_; }

    // Runs the message and hold timers forward.
    void Advance(int ms);
    // True when something visible changed since the last call.
    bool TakeChanged();

    // The display texts.
    std::string TimeText() const;
    std::string TrackText() const;
    std::string BitRateText() const;
    std::string SampleRateText() const;
    std::string ChannelsText() const;

    const std::string& Title() const { return title_; }
    const std::string& FormatName() const { return formatName_; }
    const std::string& WindowTitle() const { return windowTitle_; }
    int BitRate() const { return bitRate_; }
    int SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }
    int DurationSeconds() const { return durationSeconds_; }
    int PositionSeconds() const { return positionSeconds_; }
    int TrackNumber() const { return trackNumber_; }
    int TrackCount() const { return trackCount_; }
    int PositionMax() const { return positionMax_; }
    int PositionSlider() const { return positionSlider_; }
    int VolumeSlider() const { return volumeSlider_; }
    bool PlayLit() const { return playLit_; }
    bool FwdLit() const { return fwdLit_; }
    bool BackLit() const { return backLit_; }
    bool IntroLit() const { return introLit_; }
    bool ShuffleLit() const { return shuffleLit_; }
    bool RepeatLit() const { return repeatLit_; }
    bool CdEnabled() const { return cdEnabled_; }
    bool MessageMode() const { return messageLeftMs_ > 0; }
    const std::string& Message() const { return message_; }
    bool Held() const { return holdLeftMs_ > 0; }
    float LeftLevel() const { return left_; }
    float RightLevel() const { return right_; }
    const std::array<float, 16>& Bands() const { return bands_; }
    int ListViewRefreshes() const { return listViewRefreshes_; }

private:
    template <typename T>
    void Set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        changed_ = true;
    }

    std::string title_, formatName_, windowTitle_, message_;
    int bitRate_ = 0, sampleRate_ = 0, channels_ = 0;
    int durationSeconds_ = 0, positionSeconds_ = 0;
    int trackNumber_ = 0, trackCount_ = 0;
    int positionMax_ = 0, positionSlider_ = 0, volumeSlider_ = 0;
    bool playLit_ = false, fwdLit_ = false, backLit_ = false;
    bool introLit_ = false, shuffleLit_ = false, repeatLit_ = false;
    bool cdEnabled_ = true;
    int messageLeftMs_ = 0, holdLeftMs_ = 0;
    float left_ = 0.0f, right_ = 0.0f;
    std::array<float, 16> bands_{};
    int listViewRefreshes_ = 0;
    bool changed_ = true;
};

}  // namespace tunara
