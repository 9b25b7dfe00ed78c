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
    // The object that holds the device; HandOver also moves it mid-run,
    // under the chain lock, and the feeder reads it under that lock.
    WaveOutEngine* owner = nullptr;
    audio::PcmFormat format;
    std::array<audio::BufferHeader*, WaveOutEngine::kBufferCount> headers{};

    int ringIndex = 0;  // the header the feeder fills next; only the feeder moves it
    SlotSemaphore freeSlots;
    std::mutex engineLock;  // held by a feeder for its whole run
    // Guards the followers and leaders of the chain and the owner's change at
    // a hand-over. The feeder holds it while it reads a buffer, so a follower
    // that leaves the chain is never being read.
    std::mutex chainLock;

    // Signals the end-of-run wait that another header came back.
    std::mutex doneMutex;
    std::condition_variable doneCv;

    int failAllocationAt = 0;
};

Output& Out() {
    static Output output;
    return output;
}

void DoneCallback(audio::Message message, audio::BufferHeader*, void*) {
    if (message != audio::Message::Done) return;
    Output& out = Out();
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
    LeaveChain();
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
    if (out.owner) {
        out.owner->Halt();
        out.owner->LeaveChain();
    }
    ReleaseOutput(out);
    LeaveChain();

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
    LeaveChain();
    CloseStream();
}

bool WaveOutEngine::SetFollower(WaveOutEngine* next) {
    Output& out = Out();
    WaveOutEngine* dropped = nullptr;
    {
        std::lock_guard chain(out.chainLock);
        if (next == follower_ || endSample_.load() >= 0) return next && next == follower_;
        if (follower_) {
            dropped = follower_;
            follower_->leader_ = nullptr;
            follower_ = nullptr;
        }
    }
    if (dropped) dropped->CloseStream();
    if (!next || next == this || out.owner != this || !out.device || next == out.owner ||
        next->leader_)
        return false;
    if (!next->OpenStream()) return false;
    if (next->channels_ != out.format.channels ||
        next->sampleRate_ != static_cast<int32_t>(out.format.sampleRate) ||
        next->bitsPerSample_ != out.format.bitsPerSample) {
        next->CloseStream();
        return false;
    }
    next->state_ = Stopped;
    next->endSample_ = -1;
    std::lock_guard chain(out.chainLock);
    follower_ = next;
    next->leader_ = this;
    return true;
}

bool WaveOutEngine::HandOver(WaveOutEngine& next) {
    Output& out = Out();
    if (out.owner != this || follower_ != &next || endSample_.load() < 0 || IsPlaying())
        return false;
    next.JoinFeeder();  // a run of its own ended long ago; the thread object must be free
    {
        std::lock_guard chain(out.chainLock);
        out.owner = &next;
        state_ = Stopped;
        follower_ = nullptr;
        next.leader_ = nullptr;
    }
    next.feeder_ = std::move(feeder_);
    endSample_ = -1;
    CloseStream();
    return true;
}

void WaveOutEngine::LeaveChain() {
    WaveOutEngine* dropped = nullptr;
    {
        std::lock_guard chain(Out().chainLock);
        if (leader_) {
            leader_->follower_ = nullptr;
            leader_ = nullptr;
        }
        if (follower_) {
            dropped = follower_;
            follower_->leader_ = nullptr;
            follower_ = nullptr;
        }
    }
    if (dropped) {
        dropped->CloseStream();
        dropped->state_ = Stopped;
    }
}

void WaveOutEngine::RewindFollower() {
    // The feeder has ended: nothing else reads the follower now.
    if (endSample_.exchange(-1) < 0 || !follower_) return;
    follower_->SeekFrame(0);
    follower_->state_ = Stopped;
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
    // Past this item's end the device plays its follower.
    const int64_t end = endSample_.load();
    if (end >= 0 && samples > end) samples = static_cast<uint32_t>(end);
    PlayState was = state_.load();
    basePosition_ = static_cast<int32_t>(
        SourceFrames(countedAs_.load(), static_cast<uint32_t>(basePosition_.load()), samples));
    state_ = Stopped;
    if (device->Reset() != audio::Status::Ok) return;
    {
        std::lock_guard wait(Out().engineLock);  // a running feeder holds it to its end
    }
    JoinFeeder();
    RewindFollower();
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
    RewindFollower();
}

void WaveOutEngine::JoinFeeder() {
    if (feeder_.joinable() && feeder_.get_id() != std::this_thread::get_id()) feeder_.join();
}

int32_t WaveOutEngine::GetPosition() {
    audio::AudioDevice* device = DeviceOf(this);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok || sampleRate_ <= 0) return 0;
    const int64_t end = endSample_.load();
    if (end >= 0 && samples > end) samples = static_cast<uint32_t>(end);
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
    if (state_.load() == Stopped) return 0;
    const int64_t end = endSample_.load();
    if (end < 0) return 1;
    // The run has gone on into the follower: this item has ended once the
    // device has played up to the join.
    audio::AudioDevice* device = DeviceOf(this);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok) return 1;
    return samples < end ? 1 : 0;
}

void WaveOutEngine::GetLevels(float& left, float& right) {
    ReachHeard();
    EngineAnalyser().GetLevels(left, right, state_.load() == Stopped);
}

void WaveOutEngine::GetSpectrum(float* bands) {
    ReachHeard();
    EngineAnalyser().GetSpectrum(bands, state_.load() == Stopped);
}

void WaveOutEngine::ReachHeard() {
    // The meters follow the device's position, not its returned buffers,
    // which come back several at a time.
    uint32_t samples = 0;
    audio::AudioDevice* device = DeviceOf(this);
    if (device && device->GetPosition(samples) == audio::Status::Ok)
        EngineAnalyser().Reach(samples);
}

void WaveOutEngine::SetBandCount(int count) {
    EngineAnalyser().SetBandCount(count);
}

void WaveOutEngine::RunFeeder() {
    Output& out = Out();
    std::unique_lock run(out.engineLock);
    EngineAnalyser().ClearAhead();  // the device counts from 0 again
    int priming = kPrimingBuffers;
    audio::AudioDevice* device = DeviceOf(this);
    if (!device || device->Pause() != audio::Status::Ok) {
        state_ = Stopped;
        return;
    }
    const int blockAlign = out.format.blockAlign;
    // The item being read, and the one it follows until the hand-over. Past
    // its start the run must not touch `this`: it may have been handed over.
    WaveOutEngine* src = this;
    WaveOutEngine* lead = nullptr;
    uint32_t written = 0;  // frames queued by this run: the device's count at their end
    // A follower that left the chain (its item closed or destroyed) is not
    // read or touched again. Chain lock held.
    auto reachable = [&] { return src == out.owner || (lead && lead->follower_ == src); };
    // The device's holder decides the speed and the stop. Chain lock held.
    auto ownerState = [&] { return out.owner ? out.owner->state_.load() : PlayState::Stopped; };
    for (;;) {
        out.freeSlots.Acquire();
        audio::BufferHeader* h = out.headers[out.ringIndex];
        if ((h->flags.load() & audio::kHeaderPrepared) &&
            device->Unprepare(h) != audio::Status::Ok) {
            out.freeSlots.Release();
            break;
        }
        // One reading of the state per buffer, so decimation matches the read.
        PlayState state;
        int n = 0;
        float gain = 1.0f;
        {
            std::lock_guard chain(out.chainLock);
            state = ownerState();
            while (state != Stopped && reachable()) {
                n = src->ReadFrames(h->data, kFramesPerBuffer);
                gain = src->itemGain_.load();
                WaveOutEngine* next = src->follower_;
                if (n > 0 || state != Playing || !next || src->ContinuesInNewFormat()) break;
                // The end of this item's data: its follower goes on in the same
                // buffer ring, counted from its own start.
                src->endSample_ = written;
                next->basePosition_ = static_cast<int32_t>(0u - written);
                next->countedAs_ = Playing;
                next->state_ = Playing;
                lead = src;
                src = next;
            }
        }
        if (n <= 0) {
            out.freeSlots.Release();
            break;
        }
        if (n > kFramesPerBuffer) n = kFramesPerBuffer;
        h->bufferLength = static_cast<uint32_t>(n * blockAlign);
        h->gain = gain;
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
        EngineAnalyser().AnalyseAhead(h->data, written);
        if (device->Prepare(h) != audio::Status::Ok || device->Write(h) != audio::Status::Ok) {
            out.freeSlots.Release();
            break;
        }
        written += h->bufferLength / static_cast<uint32_t>(blockAlign);
        if (priming != 0 && --priming == 0 && device->Restart() != audio::Status::Ok) {
            break;
        }
        out.ringIndex = (out.ringIndex + 1) % kBufferCount;
        // A Stop that came between the state check and the write has already
        // reset the device; hand this buffer back too rather than play it.
        std::unique_lock chain(out.chainLock);
        if (ownerState() == Stopped) {
            chain.unlock();
            device->Reset();
        }
    }
    {
        // Fewer than the priming count were queued: let them play (after a
        // device error too, or the wait below would last until a Stop).
        std::unique_lock chain(out.chainLock);
        if (priming != 0 && ownerState() != Stopped) {
            chain.unlock();
            device->Restart();
        }
    }
    {
        std::unique_lock wait(out.doneMutex);
        out.doneCv.wait(wait, [&] { return AllHeadersDone(out); });
    }
    std::lock_guard chain(out.chainLock);
    if (out.owner) out.owner->state_ = Stopped;
    if (reachable()) src->state_ = Stopped;
}

}  // namespace tunara
