#include "platform/audio/AlsaDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace tunara::audio {

namespace {

snd_pcm_format_t AlsaFormat(int bits) {
    switch (bits) {
        case 8:
            return SND_PCM_FORMAT_U8;
        case 16:
            return SND_PCM_FORMAT_S16_LE;
        case 24:
            return SND_PCM_FORMAT_S24_3LE;
        case 32:
            return SND_PCM_FORMAT_S32_LE;
        default:
            return SND_PCM_FORMAT_UNKNOWN;
    }
}

// What ALSA holds beyond our own queue: room for the device thread's looks,
// 100 ms apart, with a margin. Stop and seek drop it at once; only volume
// and equaliser changes (applied on the way out) wait for it.
constexpr unsigned kLatencyUs = 400000;

void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void QuietAlsaLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("TUNARA_ALSA_DEBUG")) snd_lib_error_set_handler(&SilentAlsaError);
    });
}

std::string MixerCardOfPcm(const std::string& name) {
    if (name == "null" || name.empty()) return {};
    for (const char* prefix : {"hw:", "plughw:", "sysdefault:", "front:", "dmix:"}) {
        std::string p = prefix;
        if (name.compare(0, p.size(), p) == 0) {
            std::string card = name.substr(p.size());
            card = card.substr(0, card.find(','));
            if (card.compare(0, 5, "CARD=") == 0) card = card.substr(5);
            return "hw:" + card;
        }
    }
    return "default";
}

std::string AlsaDevice::MixerCard() const {
    return MixerCardOfPcm(pcmName_);
}

Status AlsaDevice::BackendOpen(const PcmFormat& format) {
    snd_pcm_format_t fmt = AlsaFormat(format.bitsPerSample);
    if (fmt == SND_PCM_FORMAT_UNKNOWN) return Status::BadFormat;
    QuietAlsaLibrary();
    if (snd_pcm_open(&pcm_, pcmName_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        pcm_ = nullptr;
        return Status::NoDevice;
    }
    if (snd_pcm_set_params(pcm_, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels,
                           format.sampleRate, 1, kLatencyUs) < 0) {
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
        return Status::BadFormat;
    }
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    canPause_ = snd_pcm_hw_params_current(pcm_, hw) == 0 && snd_pcm_hw_params_can_pause(hw);
    return Status::Ok;
}

void AlsaDevice::BackendClose() {
    if (!pcm_) return;
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
}

long AlsaDevice::HandOut(const uint8_t* data, uint32_t frames) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, frames);
        if (n >= 0) return static_cast<long>(n);
        if (n == -EAGAIN) return 0;
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return -1;
    }
    return 0;
}

uint64_t AlsaDevice::Played(uint64_t handed, Clock::time_point) {
    snd_pcm_state_t st = snd_pcm_state(pcm_);
    // A tail shorter than the start threshold would otherwise never start.
    if (st == SND_PCM_STATE_PREPARED && handed > 0) {
        snd_pcm_start(pcm_);
        st = snd_pcm_state(pcm_);
    }
    snd_pcm_sframes_t delay = 0;
    if (st == SND_PCM_STATE_XRUN || snd_pcm_delay(pcm_, &delay) < 0) {
        // Underrun: everything handed out has been heard.
        snd_pcm_recover(pcm_, -EPIPE, 1);
        return handed;
    }
    delay = std::max<snd_pcm_sframes_t>(delay, 0);
    return handed > static_cast<uint64_t>(delay) ? handed - static_cast<uint64_t>(delay) : 0;
}

DeviceCore::Clock::time_point AlsaDevice::NextLook(uint64_t, uint64_t nextEnd,
                                                   Clock::time_point now) {
    // Look when the next buffer should be heard, but often enough to keep
    // ALSA's own buffer filled.
    uint64_t frames = nextEnd > played_ ? nextEnd - played_ : 0;
    auto wait = std::chrono::microseconds(frames * 1000000ull / format_.sampleRate);
    wait = std::clamp(wait, std::chrono::microseconds(2000),
                      std::chrono::microseconds(kLatencyUs / 4));
    return now + wait;
}

void AlsaDevice::BackendPause(bool paused, Clock::time_point) {
    // Without hardware pause what ALSA already holds plays out; nothing more
    // is handed to it until the restart.
    if (canPause_) {
        snd_pcm_state_t st = snd_pcm_state(pcm_);
        if ((paused && st == SND_PCM_STATE_RUNNING) || (!paused && st == SND_PCM_STATE_PAUSED))
            snd_pcm_pause(pcm_, paused ? 1 : 0);
    }
}

void AlsaDevice::BackendReset() {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
}

}  // namespace tunara::audio
