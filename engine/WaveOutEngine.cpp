#include "engine/WaveOutEngine.h"

#include "engine/EngineHooks.h"

#include <array>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "engine/SpectrumAnalyser.h"
#include "platform/audio/AudioDevice.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"

namespace tunara {

namespace {

// Counts the ring slots not queued at the device. The feeder takes a unit per
// buffer it queues; the done callback gives one back per finished buffer.
class SlotSemaphore {
public:
    void Acquire() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return count_ > 0; });
        --count_;
    }
    void Release() {
        {
            std::lock_guard lock(mutex_);
            if (count_ < WaveOutEngine::kBufferCount) ++count_;
        }
        cv_.notify_one();
    }
    int Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = WaveOutEngine::kBufferCount;
};

// The process-wide output: one device, one ring, one lock.
struct Output {
    // Written only by the UI thread in Open/Close, while no run is going.
    std::unique_ptr<audio::AudioDevice> device;
    WaveOutEngine* owner = nullptr;  // the object that opened the device
    audio::PcmFormat format;
    std::array<audio::BufferHeader*, WaveOutEngine::kBufferCount> headers{};

    int ringIndex = 0;  // the header the feeder fills next; only the feeder moves it
    SlotSemaphore freeSlots;
    std::mutex engineLock;  // held by a feeder for its whole run

    // Signals the end-of-run wait that another header came back.
    std::mutex doneMutex;
    std::condition_variable doneCv;

    int failAllocationAt = 0;
};

Output& Out() {
    static Output output;
    return output;
}

void DoneCallback(audio::Message message, audio::BufferHeader* header, void*) {
    if (message != audio::Message::Done) return;
    Output& out = Out();
    // Analyse before giving the slot back: the feeder refills this very
    // buffer as soon as it gets the unit.
    EngineAnalyser().Analyse(header->data);
    out.freeSlots.Release();
    { std::lock_guard lock(out.doneMutex); }
    out.doneCv.notify_all();
}

bool AllHeadersDone(const Output& out) {
    for (auto* h : out.headers)
        if (h && !(h->flags.load() & audio::kHeaderDone)) return false;
    return true;
}

void FreeHeaders(Output& out) {
    for (auto*& h : out.headers) {
        if (!h) continue;
        delete[] h->data;
        delete h;
        h = nullptr;
    }
}

// Closes the device (its last notices are delivered first) and frees the ring.
void ReleaseOutput(Output& out) {
    if (out.device) {
        out.device->Close();
        out.device.reset();
    }
    out.owner = nullptr;
    FreeHeaders(out);
}

audio::AudioDevice* DeviceOf(const WaveOutEngine* engine) {
    Output& out = Out();
    return out.owner == engine ? out.device.get() : nullptr;
}

// Frames of source that the device's samples stand for in `state`.
uint32_t SourceFrames(PlayState state, uint32_t base, uint32_t samples) {
    switch (state) {
        case PlayState::FastForward:
            return base + 2u * samples;
        case PlayState::Rewind:
            return base - 2u * samples;
        default:
            return base + samples;
    }
}

}  // namespace

WaveOutEngine::WaveOutEngine() = default;

WaveOutEngine::~WaveOutEngine() {
    Halt();
    Output& out = Out();
    if (out.owner == this) ReleaseOutput(out);
}

namespace engine_hooks {

int FreeSlotCount() {
    return Out().freeSlots.Count();
}

void FailAllocationAt(int nth) {
    Out().failAllocationAt = nth;
}

}  // namespace engine_hooks

int WaveOutEngine::Open() {
    Output& out = Out();
    // One device for the process: end whatever run uses it (another
    // object's, or this one opened twice) before it is closed.
    if (out.owner) out.owner->Halt();
    ReleaseOutput(out);

    if (!OpenStream()) return 0;

    out.format = audio::PcmFormat::Make(channels_, sampleRate_, bitsPerSample_);
    const uint32_t bytes = static_cast<uint32_t>(out.format.blockAlign) * kFramesPerBuffer;
    int allocation = 0;
    auto failing = [&] { return out.failAllocationAt > 0 && ++allocation == out.failAllocationAt; };
    for (int i = 0; i < kBufferCount; ++i) {
        auto* h = failing() ? nullptr : new (std::nothrow) audio::BufferHeader;
        uint8_t* data =
            (h && !failing()) ? new (std::nothrow) uint8_t[bytes ? bytes : 1]() : nullptr;
        if (!h || !data) {
            delete h;
            FreeHeaders(out);
            out.failAllocationAt = 0;
            ReportError(strings::kFailedToAllocateMemory);
            return 0;
        }
        h->data = data;
        h->bufferLength = bytes;
        h->bytesRecorded = 0;
        h->flags.store(audio::kHeaderDone);
        h->loops = 0;
        h->user = static_cast<uintptr_t>(i);
        out.headers[i] = h;
    }
    out.failAllocationAt = 0;

    // The ring is ours from here on, so Close frees it even when the device
    // does not open.
    out.owner = this;
    EngineAnalyser().SetFormat(channels_, bitsPerSample_);
    auto device = audio::CreateDevice();
    if (device->Open(out.format, &DoneCallback, nullptr) != audio::Status::Ok) return 0;
    out.device = std::move(device);

    state_ = Stopped;
    basePosition_ = 0;
    countedAs_ = Playing;
    EngineAnalyser().ClearPeaks();
    return 1;
}

void WaveOutEngine::Close() {
    Output& out = Out();
    // A run still going would use the buffers freed below.
    Halt();
    if (out.owner == this) ReleaseOutput(out);
    CloseStream();
}

void WaveOutEngine::Play() {
    Start(Playing);
}
void WaveOutEngine::FastForward() {
    Start(PlayState::FastForward);
}
void WaveOutEngine::Rewind() {
    Start(PlayState::Rewind);
}

void WaveOutEngine::Start(PlayState state) {
    Stop();
    JoinFeeder();
    countedAs_ = state;
    state_ = state;
    try {
        feeder_ = std::thread([this] { RunFeeder(); });
    } catch (const std::system_error&) {
        state_ = Stopped;
    }
}

void WaveOutEngine::Stop() {
    StopRun(true);
}

void WaveOutEngine::StopRun(bool realign) {
    audio::AudioDevice* device = DeviceOf(this);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok) return;
    PlayState was = state_.load();
    basePosition_ = static_cast<int32_t>(
        SourceFrames(countedAs_.load(), static_cast<uint32_t>(basePosition_.load()), samples));
    state_ = Stopped;
    if (device->Reset() != audio::Status::Ok) return;
    {
        std::lock_guard wait(Out().engineLock);  // a running feeder holds it to its end
    }
    JoinFeeder();
    // The stream has read ahead of what was heard by up to the whole ring;
    // move it back so that the next run starts where this one was stopped.
    if (realign && was != Stopped)
        basePosition_ =
            static_cast<int32_t>(SeekFrame(static_cast<uint32_t>(basePosition_.load())));
}

void WaveOutEngine::Halt() {
    if (audio::AudioDevice* device = DeviceOf(this)) {
        state_ = Stopped;
        device->Reset();
    }
    JoinFeeder();
}

void WaveOutEngine::JoinFeeder() {
    if (feeder_.joinable() && feeder_.get_id() != std::this_thread::get_id()) feeder_.join();
}

int32_t WaveOutEngine::GetPosition() {
    audio::AudioDevice* device = DeviceOf(this);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok || sampleRate_ <= 0) return 0;
    uint32_t frames =
        SourceFrames(countedAs_.load(), static_cast<uint32_t>(basePosition_.load()), samples);
    double ms = static_cast<double>(frames) * 1000.0 / sampleRate_;
    return ms >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ms);
}

void WaveOutEngine::Seek(int32_t positionMs) {
    PlayState was = state_.load();
    StopRun(false);
    double frame = sampleRate_ * static_cast<double>(positionMs) * 0.001;
    if (!(frame > 0.0)) frame = 0.0;
    if (frame > static_cast<double>(UINT32_MAX)) frame = static_cast<double>(UINT32_MAX);
    basePosition_ = static_cast<int32_t>(SeekFrame(static_cast<uint32_t>(frame)));
    switch (was) {
        case Playing:
            Play();
            break;
        case PlayState::FastForward:
            FastForward();
            break;
        case PlayState::Rewind:
            Rewind();
            break;
        case Stopped:
            break;
    }
}

int WaveOutEngine::IsPlaying() {
    return state_.load() != Stopped;
}

void WaveOutEngine::GetLevels(float& left, float& right) {
    EngineAnalyser().GetLevels(left, right, state_.load() == Stopped);
}

void WaveOutEngine::GetSpectrum(float* bands) {
    EngineAnalyser().GetSpectrum(bands, state_.load() == Stopped);
}

void WaveOutEngine::SetBandCount(int count) {
    EngineAnalyser().SetBandCount(count);
}

void WaveOutEngine::RunFeeder() {
    Output& out = Out();
    std::unique_lock run(out.engineLock);
    int priming = kPrimingBuffers;
    audio::AudioDevice* device = DeviceOf(this);
    if (!device || device->Pause() != audio::Status::Ok) {
        state_ = Stopped;
        return;
    }
    const int blockAlign = out.format.blockAlign;
    for (;;) {
        out.freeSlots.Acquire();
        audio::BufferHeader* h = out.headers[out.ringIndex];
        if ((h->flags.load() & audio::kHeaderPrepared) &&
            device->Unprepare(h) != audio::Status::Ok) {
            out.freeSlots.Release();
            break;
        }
        // One reading of the state per buffer, so decimation matches the read.
        PlayState state = state_.load();
        if (state == Stopped) {
            out.freeSlots.Release();
            break;
        }
        int n = ReadFrames(h->data, kFramesPerBuffer);
        if (n <= 0) {
            out.freeSlots.Release();
            break;
        }
        if (n > kFramesPerBuffer) n = kFramesPerBuffer;
        h->bufferLength = static_cast<uint32_t>(n * blockAlign);
        if (state == PlayState::FastForward || state == PlayState::Rewind) {
            // Every other frame: double speed.
            uint8_t* d = h->data;
            for (int j = 0; j < n / 2; ++j)
                std::memmove(d + j * blockAlign, d + 2 * j * blockAlign, blockAlign);
            h->bufferLength /= 2;
            h->bufferLength -= h->bufferLength % blockAlign;
            if (state == PlayState::Rewind) {
                uint8_t tmp[8];
                const int half = n / 2;
                for (int j = 0; j < n / 4; ++j) {
                    uint8_t* a = d + j * blockAlign;
                    uint8_t* b = d + (half - 1 - j) * blockAlign;
                    std::memcpy(tmp, a, blockAlign);
                    std::memcpy(a, b, blockAlign);
                    std::memcpy(b, tmp, blockAlign);
                }
            }
        }
        if (device->Prepare(h) != audio::Status::Ok || device->Write(h) != audio::Status::Ok) {
            out.freeSlots.Release();
            break;
        }
        if (priming != 0 && --priming == 0 && device->Restart() != audio::Status::Ok) {
            break;
        }
        out.ringIndex = (out.ringIndex + 1) % kBufferCount;
        // A Stop that came between the state check and the write has already
        // reset the device; hand this buffer back too rather than play it.
        if (state_.load() == Stopped) device->Reset();
    }
    // Fewer than the priming count were queued: let them play (after a
    // device error too, or the wait below would last until a Stop).
    if (priming != 0 && state_.load() != Stopped) device->Restart();

    {
        std::unique_lock wait(out.doneMutex);
        out.doneCv.wait(wait, [&] { return AllHeadersDone(out); });
    }
    state_ = Stopped;
}

}  // namespace tunara
