#include "ui/core/MixerVolume.h"

namespace tunara {

MixerVolume::MixerVolume(GainStage& stage, std::function<void()> onChange) {
    mixer::NoticeHandler handler;
    if (onChange) handler = [onChange](const mixer::Notice&) { onChange(); };
    open_ = control_.Open(stage, std::move(handler)) != 0;
}

MixerVolume::~MixerVolume() {
    Close();
}

float MixerVolume::GetVolume() {
    return open_ ? control_.GetVolume() : 0.0f;
}

void MixerVolume::SetVolume(float volume) {
    if (open_) control_.SetVolume(volume);
}

void MixerVolume::Close() {
    if (!open_) return;
    control_.Close();
    open_ = false;
}

}  // namespace tunara
