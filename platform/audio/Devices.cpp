#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/audio/AlsaDevice.h"
#include "platform/audio/AudioDevice.h"
#include "platform/audio/DeviceCore.h"
#include "platform/audio/FileDevice.h"
#include "platform/audio/NullDevice.h"
#include "platform/audio/OutputChoice.h"
#include "platform/audio/PulseDevice.h"

namespace tunara::audio {

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok:
            return "ok";
        case Status::Error:
            return "the device refused";
        case Status::NoDevice:
            return "no device open";
        case Status::BadFormat:
            return "format not supported";
        case Status::Unprepared:
            return "header not prepared";
        case Status::StillPlaying:
            return "header still queued";
        case Status::Unsupported:
            return "not supported by this device";
        case Status::InvalidParam:
            return "invalid parameter";
    }
    return "unknown status";
}

PcmFormat PcmFormat::Make(int channels, int sampleRate, int bitsPerSample) {
    PcmFormat f;
    f.channels = static_cast<uint16_t>(channels);
    f.sampleRate = static_cast<uint32_t>(sampleRate);
    f.bitsPerSample = static_cast<uint16_t>(bitsPerSample);
    f.blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    f.avgBytesPerSec = f.blockAlign * f.sampleRate;
    return f;
}

bool PcmFormat::Valid() const {
    bool bitsOk =
        bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32;
    return formatTag == 1 && (channels == 1 || channels == 2) && bitsOk && sampleRate >= 1 &&
           sampleRate <= 768000 && blockAlign == channels * bitsPerSample / 8 &&
           avgBytesPerSec == blockAlign * sampleRate;
}

namespace {

// The sound server when one answers (its own client costs less than ALSA's
// plugin in front of it), else ALSA "default", otherwise the real-time null
// device, said once per process.
class AutoDevice : public AudioDevice {
public:
    Status Open(const PcmFormat& format, Callback callback, void* instance) override {
        if (PulseDevice::ServerAnswers()) {
            auto pulse = std::make_unique<PulseDevice>("");
            if (pulse->Open(format, callback, instance) == Status::Ok) {
                inner_ = std::move(pulse);
                return Status::Ok;
            }
        }
        auto alsa = std::make_unique<AlsaDevice>("default");
        Status st = alsa->Open(format, callback, instance);
        if (st == Status::Ok) {
            inner_ = std::move(alsa);
            return st;
        }
        static std::once_flag said;
        std::call_once(said, [] {
            std::fprintf(stderr,
                         "tunara: no ALSA output could be opened; playing to the null device\n");
        });
        inner_ = std::make_unique<NullDevice>(NullDevice::Pace::RealTime);
        return inner_->Open(format, callback, instance);
    }
    Status Close() override { return inner_ ? inner_->Close() : Status::NoDevice; }
    Status Write(BufferHeader* h) override { return inner_ ? inner_->Write(h) : Status::NoDevice; }
    Status Pause() override { return inner_ ? inner_->Pause() : Status::NoDevice; }
    Status Restart() override { return inner_ ? inner_->Restart() : Status::NoDevice; }
    Status Reset() override { return inner_ ? inner_->Reset() : Status::NoDevice; }
    Status GetPosition(uint32_t& f) override {
        return inner_ ? inner_->GetPosition(f) : Status::NoDevice;
    }
    Status Prepare(BufferHeader* h) override {
        return inner_ ? inner_->Prepare(h) : AudioDevice::Prepare(h);
    }
    Status Unprepare(BufferHeader* h) override {
        return inner_ ? inner_->Unprepare(h) : AudioDevice::Unprepare(h);
    }
    std::string MixerCard() const override { return inner_ ? inner_->MixerCard() : "default"; }
    std::string Name() const override { return inner_ ? inner_->Name() : "alsa:default"; }

private:
    std::unique_ptr<AudioDevice> inner_;
};

std::mutex g_factoryMutex;
std::function<std::unique_ptr<AudioDevice>()> g_factory;

}  // namespace

std::unique_ptr<AudioDevice> CreateDevice(std::string_view text) {
    const OutputChoice choice = ParseOutputChoice(text);
    switch (choice.kind) {
        case OutputKind::Default:
            return std::make_unique<AutoDevice>();
        case OutputKind::Alsa:
            return std::make_unique<AlsaDevice>(choice.name);
        case OutputKind::Pulse:
            return std::make_unique<PulseDevice>(choice.name);
        case OutputKind::NullRealTime:
            return std::make_unique<NullDevice>(NullDevice::Pace::RealTime);
        case OutputKind::NullFast:
            return std::make_unique<NullDevice>(NullDevice::Pace::Fast);
        case OutputKind::NullStep:
            return std::make_unique<NullDevice>(NullDevice::Pace::Step);
        case OutputKind::File:
            return std::make_unique<FileDevice>(choice.name, FileDevice::Mode::Continue);
        case OutputKind::Unknown:
            break;
    }
    return nullptr;
}

std::unique_ptr<AudioDevice> CreateDevice() {
    {
        std::lock_guard lock(g_factoryMutex);
        if (g_factory) return g_factory();
    }
    const OutputChoice choice = OutputChoiceFromEnvironment();
    auto device = CreateDevice(choice.text);
    if (!device) {
        static std::once_flag said;
        std::call_once(said,
                       [&] { std::fprintf(stderr, kUnknownOutputFormat, choice.text.c_str()); });
        device = std::make_unique<AutoDevice>();
    }
    return device;
}

void SetDeviceFactory(std::function<std::unique_ptr<AudioDevice>()> factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::string OutputMixerCard() {
    const OutputChoice choice = OutputChoiceFromEnvironment();
    switch (choice.kind) {
        case OutputKind::Alsa:
            return choice.text == "alsa" ? "default" : MixerCardOfPcm(choice.name);
        case OutputKind::NullRealTime:
        case OutputKind::NullFast:
        case OutputKind::NullStep:
        case OutputKind::File:
            return {};
        case OutputKind::Pulse:
        case OutputKind::Default:
        case OutputKind::Unknown:
            break;
    }
    return "default";
}

bool ProcessOutput(OutputProcessor processor, void* context, const PcmFormat& format,
                   float itemGain, const uint8_t* in, uint8_t* out, uint32_t frames) {
    return processor && processor(context, format, itemGain, in, out, frames);
}

}  // namespace tunara::audio
