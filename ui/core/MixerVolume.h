#pragma once
// The controller's volume on the output's mixer (or the software volume that
// stands in for it).
#include <functional>

#include "engine/VolumeControl.h"
#include "ui/core/PlayerController.h"

namespace tunara {

class MixerVolume : public VolumeOutput {
public:
    // `onChange` runs on the user-interface thread whenever the mixer reports
    // a change (ours or another program's); the controller's OnMixerChange.
    // Without a card's mixer the volume is `stage`'s software volume.
    explicit MixerVolume(GainStage& stage, std::function<void()> onChange = {});
    ~MixerVolume() override;

    bool IsOpen() const { return open_; }
    float GetVolume() override;
    void SetVolume(float volume) override;
    void Close() override;

private:
    VolumeControl control_;
    bool open_ = false;
};

}  // namespace tunara
