#include "engine/VolumeControl.h"

namespace tunara {

VolumeControl::VolumeControl() = default;
VolumeControl::~VolumeControl() {
    Close();
}

int VolumeControl::Open(GainStage& stage, mixer::NoticeHandler onChange) {
    Close();
    mixer_ = mixer::OpenOutputMixer(std::move(onChange),
                                    [&stage](float gain) { stage.SetSoftwareVolume(gain); });
    if (!mixer_) return 0;
    const std::pair<mixer::ComponentType, Control*> wanted[] = {
        {mixer::ComponentType::Speakers, &speaker_},
        {mixer::ComponentType::WaveOut, &waveOut_},
        {mixer::ComponentType::CompactDisc, &cd_},
    };
    for (auto [type, control] : wanted) {
        mixer::LineInfo line;
        if (!mixer_->GetLineByComponentType(type, line)) continue;
        lineId_ = line.lineId;
        mixer::ControlInfo info;
        if (line.controlCount == 0 || !mixer_->GetVolumeControl(line.lineId, info)) continue;
        *control = {true, info.controlId, info.minimum, info.maximum};
    }
    return 1;
}

void VolumeControl::SetVolume(float x) {
    if (!mixer_ || !speaker_.found) return;
    if (!(x >= 0.0f)) x = 0.0f;  // NaN too
    if (x > 1.0f) x = 1.0f;
    long value = static_cast<long>(static_cast<double>(speaker_.maximum - speaker_.minimum) * x) +
                 speaker_.minimum;
    const long values[2] = {value, value};
    mixer_->SetControlValues(speaker_.id, values, 2);
}

float VolumeControl::GetVolume() {
    if (!mixer_ || !speaker_.found || speaker_.maximum == speaker_.minimum) return 0.0f;
    long values[2] = {0, 0};
    if (!mixer_->GetControlValues(speaker_.id, values, 2)) return 0.0f;
    return static_cast<float>(values[0] - speaker_.minimum) /
           static_cast<float>(speaker_.maximum - speaker_.minimum);
}

void VolumeControl::Close() {
    mixer_.reset();
    speaker_ = waveOut_ = cd_ = Control{};
    lineId_ = 0;
}

}  // namespace tunara
