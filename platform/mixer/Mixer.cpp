#include "platform/mixer/Mixer.h"

#include "platform/audio/AlsaDevice.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/AudioDevice.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::mixer {

namespace {

// Notices go through the UI queue; a handler closed before delivery is
// simply not called.
using SharedHandler = std::shared_ptr<NoticeHandler>;

void PostNotice(const SharedHandler& handler, Notice notice) {
    if (!handler || !*handler) return;
    std::weak_ptr<NoticeHandler> weak = handler;
    UiQueue().Post([weak, notice] {
        if (auto h = weak.lock()) (*h)(notice);
    });
}

struct LineSpec {
    ComponentType type;
    const char* element;
};
constexpr LineSpec kLines[] = {
    {ComponentType::Speakers, "Master"},
    {ComponentType::WaveOut, "PCM"},
    {ComponentType::CompactDisc, "CD"},
};
constexpr uint32_t kLineIdBase = 1;         // line id = base + index in kLines
constexpr uint32_t kControlIdBase = 0x101;  // control id = base + index in kLines

int IndexOf(ComponentType type) {
    for (int i = 0; i < 3; ++i)
        if (kLines[i].type == type) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// Software mixer: a speakers line whose volume is the output's software gain.

constexpr long kSoftwareMax = 65535;
std::atomic<long> g_softwareValue{kSoftwareMax};
std::mutex g_softwareMutex;
std::vector<SharedHandler> g_softwareHandlers;               // of every open software mixer
std::vector<std::shared_ptr<SoftwareGain>> g_softwareGains;  // the same

class SoftwareMixer : public Mixer {
public:
    SoftwareMixer(NoticeHandler handler, SoftwareGain gain)
        : handler_(std::make_shared<NoticeHandler>(std::move(handler))),
          gain_(std::make_shared<SoftwareGain>(std::move(gain))) {
        std::lock_guard lock(g_softwareMutex);
        g_softwareHandlers.push_back(handler_);
        g_softwareGains.push_back(gain_);
        if (*gain_) (*gain_)(static_cast<float>(g_softwareValue.load()) / kSoftwareMax);
    }
    ~SoftwareMixer() override {
        std::lock_guard lock(g_softwareMutex);
        std::erase(g_softwareHandlers, handler_);
        std::erase(g_softwareGains, gain_);
        *handler_ = nullptr;
    }
    bool GetLineByComponentType(ComponentType type, LineInfo& line) override {
        if (type != ComponentType::Speakers) return false;
        line = {kLineIdBase, 1};
        return true;
    }
    bool GetVolumeControl(uint32_t lineId, ControlInfo& control) override {
        if (lineId != kLineIdBase) return false;
        control = {kControlIdBase, 0, kSoftwareMax};
        return true;
    }
    bool SetControlValues(uint32_t controlId, const long* values, int channels) override {
        if (controlId != kControlIdBase || !values || channels < 1) return false;
        long v = std::clamp(values[0], 0L, kSoftwareMax);
        g_softwareValue.store(v);
        std::lock_guard lock(g_softwareMutex);
        for (auto& g : g_softwareGains)
            if (*g) (*g)(static_cast<float>(v) / kSoftwareMax);
        for (auto& h : g_softwareHandlers)
            PostNotice(h, {NoticeKind::ControlChange, kControlIdBase});
        return true;
    }
    bool GetControlValues(uint32_t controlId, long* values, int channels) override {
        if (controlId != kControlIdBase || !values || channels < 1) return false;
        for (int c = 0; c < channels; ++c) values[c] = g_softwareValue.load();
        return true;
    }
    std::string Name() const override { return "software"; }
    bool IsSoftware() const override { return true; }

private:
    SharedHandler handler_;
    std::shared_ptr<SoftwareGain> gain_;
};

// ---------------------------------------------------------------------------
// ALSA simple mixer. Every call on the handle holds mutex_; a thread of its
// own waits for the card's events and turns them into notices.

class AlsaMixer : public Mixer {
public:
    static std::unique_ptr<AlsaMixer> Open(const std::string& card, NoticeHandler handler) {
        std::unique_ptr<AlsaMixer> m(new AlsaMixer(card, std::move(handler)));
        if (!m->Load()) return nullptr;
        return m;
    }
    ~AlsaMixer() override {
        if (thread_.joinable()) {
            quit_ = true;
            char b = 1;
            (void)!write(wakePipe_[1], &b, 1);
            thread_.join();
        }
        if (wakePipe_[0] >= 0) close(wakePipe_[0]);
        if (wakePipe_[1] >= 0) close(wakePipe_[1]);
        *handler_ = nullptr;
        if (handle_) snd_mixer_close(handle_);
    }
    bool GetLineByComponentType(ComponentType type, LineInfo& line) override {
        int i = IndexOf(type);
        std::lock_guard lock(mutex_);
        if (i < 0 || !elems_[i]) return false;
        line = {kLineIdBase + i, snd_mixer_selem_has_playback_volume(elems_[i]) ? 1u : 0u};
        return true;
    }
    bool GetVolumeControl(uint32_t lineId, ControlInfo& control) override {
        uint32_t i = lineId - kLineIdBase;
        std::lock_guard lock(mutex_);
        if (i >= 3 || !elems_[i] || !snd_mixer_selem_has_playback_volume(elems_[i])) return false;
        long mn = 0, mx = 0;
        if (snd_mixer_selem_get_playback_volume_range(elems_[i], &mn, &mx) < 0) return false;
        control = {kControlIdBase + i, mn, mx};
        return true;
    }
    bool SetControlValues(uint32_t controlId, const long* values, int channels) override {
        snd_mixer_elem_t* e = Control(controlId);
        if (!e || !values || channels < 1) return false;
        std::lock_guard lock(mutex_);
        if (snd_mixer_selem_is_playback_mono(e) || channels == 1)
            return snd_mixer_selem_set_playback_volume_all(e, values[0]) == 0;
        return snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, values[0]) == 0 &&
               snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, values[1]) == 0;
    }
    bool GetControlValues(uint32_t controlId, long* values, int channels) override {
        snd_mixer_elem_t* e = Control(controlId);
        if (!e || !values || channels < 1) return false;
        std::lock_guard lock(mutex_);
        bool mono = snd_mixer_selem_is_playback_mono(e);
        for (int c = 0; c < channels; ++c) {
            auto ch = (mono || c == 0) ? SND_MIXER_SCHN_FRONT_LEFT : SND_MIXER_SCHN_FRONT_RIGHT;
            if (snd_mixer_selem_get_playback_volume(e, ch, &values[c]) < 0) return false;
        }
        return true;
    }
    std::string Name() const override { return "alsa:" + card_; }

private:
    AlsaMixer(std::string card, NoticeHandler handler)
        : card_(std::move(card)), handler_(std::make_shared<NoticeHandler>(std::move(handler))) {}

    snd_mixer_elem_t* Control(uint32_t controlId) {
        uint32_t i = controlId - kControlIdBase;
        std::lock_guard lock(mutex_);
        return i < 3 ? elems_[i] : nullptr;
    }

    bool Load() {
        audio::QuietAlsaLibrary();
        if (snd_mixer_open(&handle_, 0) < 0) {
            handle_ = nullptr;
            return false;
        }
        if (snd_mixer_attach(handle_, card_.c_str()) < 0 ||
            snd_mixer_selem_register(handle_, nullptr, nullptr) < 0 || snd_mixer_load(handle_) < 0)
            return false;
        snd_mixer_selem_id_t* sid;
        snd_mixer_selem_id_alloca(&sid);
        bool any = false;
        for (int i = 0; i < 3; ++i) {
            snd_mixer_selem_id_set_index(sid, 0);
            snd_mixer_selem_id_set_name(sid, kLines[i].element);
            elems_[i] = snd_mixer_find_selem(handle_, sid);
            if (elems_[i]) {
                snd_mixer_elem_set_callback(elems_[i], &AlsaMixer::ElemEvent);
                snd_mixer_elem_set_callback_private(elems_[i], this);
                any = true;
            }
        }
        if (!any || pipe(wakePipe_) < 0) return false;
        thread_ = std::thread([this] { Watch(); });
        return true;
    }

    static int ElemEvent(snd_mixer_elem_t* elem, unsigned int mask) {
        auto* self = static_cast<AlsaMixer*>(snd_mixer_elem_get_callback_private(elem));
        for (uint32_t i = 0; i < 3; ++i) {
            if (self->elems_[i] != elem) continue;
            if (mask == SND_CTL_EVENT_MASK_REMOVE) {
                self->elems_[i] = nullptr;
                PostNotice(self->handler_, {NoticeKind::LineChange, kLineIdBase + i});
            } else if (mask & SND_CTL_EVENT_MASK_VALUE) {
                PostNotice(self->handler_, {NoticeKind::ControlChange, kControlIdBase + i});
            } else {
                PostNotice(self->handler_, {NoticeKind::LineChange, kLineIdBase + i});
            }
        }
        return 0;
    }

    void Watch() {
        std::vector<pollfd> fds;
        while (!quit_) {
            {
                std::lock_guard lock(mutex_);
                int n = snd_mixer_poll_descriptors_count(handle_);
                fds.resize(static_cast<size_t>(std::max(n, 0)) + 1);
                if (n > 0)
                    snd_mixer_poll_descriptors(handle_, fds.data() + 1, static_cast<unsigned>(n));
            }
            fds[0] = {wakePipe_[0], POLLIN, 0};
            if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) break;
            if (quit_) break;
            std::lock_guard lock(mutex_);
            snd_mixer_handle_events(handle_);
        }
    }

    std::string card_;
    SharedHandler handler_;
    snd_mixer_t* handle_ = nullptr;
    snd_mixer_elem_t* elems_[3] = {};
    std::mutex mutex_;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    int wakePipe_[2] = {-1, -1};
};

}  // namespace

std::unique_ptr<Mixer> OpenAlsaMixer(const std::string& card, NoticeHandler handler) {
    if (card.empty()) return nullptr;
    return AlsaMixer::Open(card, std::move(handler));
}

std::unique_ptr<Mixer> OpenSoftwareMixer(NoticeHandler handler, SoftwareGain gain) {
    return std::make_unique<SoftwareMixer>(std::move(handler), std::move(gain));
}

std::unique_ptr<Mixer> OpenOutputMixer(NoticeHandler handler, SoftwareGain gain) {
    if (auto alsa = OpenAlsaMixer(audio::OutputMixerCard(), handler)) {
        LineInfo line;
        ControlInfo control;
        // Without a speakers volume the card's mixer cannot do the one thing
        // asked of it; the software volume can.
        if (alsa->GetLineByComponentType(ComponentType::Speakers, line) && line.controlCount > 0 &&
            alsa->GetVolumeControl(line.lineId, control) && control.maximum > control.minimum)
            return alsa;
    }
    return OpenSoftwareMixer(std::move(handler), std::move(gain));
}

}  // namespace tunara::mixer
