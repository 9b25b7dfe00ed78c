#pragma once
// The program's one volume: the speakers volume of the mixer that belongs to
// the output device, as a fraction 0.0 (minimum) to 1.0 (maximum). Without a
// mixer of a card the software volume of the output stands in.
//
// The main window owns the single instance. Notices of volume changes (ours
// or another program's) reach the handler given to Open on the user-interface
// thread, through UiQueue().
#include <cstdint>
#include <memory>

#include "engine/GainStage.h"
#include "platform/mixer/Mixer.h"

namespace tunara {

class VolumeControl {
public:
    VolumeControl();
    ~VolumeControl();
    VolumeControl(const VolumeControl&) = delete;
    VolumeControl& operator=(const VolumeControl&) = delete;

    // Opens the mixer and finds the speakers, wave output and compact-disc
    // volume controls. 1 on success, 0 when no mixer at all can be opened.
    // `onChange` may be empty; a software mixer's volume goes to `stage`.
    int Open(GainStage& stage, mixer::NoticeHandler onChange = {});
    // Sets both channels of the speakers control to min + (max - min) * x,
    // truncated. Does nothing without a speakers control.
    void SetVolume(float x);
    // (first channel - min) / (max - min); 0.0 without a speakers control.
    float GetVolume();
    void Close();

    // What Open found (a control id of 0 with min = max = 0 when missing).
    struct Control {
        bool found = false;
        uint32_t id = 0;
        long minimum = 0;
        long maximum = 0;
    };
    const Control& SpeakerControl() const { return speaker_; }
    const Control& WaveOutControl() const { return waveOut_; }
    const Control& CdControl() const { return cd_; }
    bool IsSoftware() const { return mixer_ && mixer_->IsSoftware(); }

private:
    std::unique_ptr<mixer::Mixer> mixer_;
    uint32_t lineId_ = 0;  // the last line found
    Control speaker_;
    Control waveOut_;
    Control cd_;
};

}  // namespace tunara
