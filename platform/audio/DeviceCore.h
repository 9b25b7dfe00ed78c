#pragma once
// The queue, the sample clock and the notice thread that every backend
// shares. A backend says how frames leave (HandOut) and how many of those
// handed out have been heard (Played).
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/AudioDevice.h"

namespace tunara::audio {

class DeviceCore : public AudioDevice {
public:
    DeviceCore();
    ~DeviceCore() override;

    Status Open(const PcmFormat& format, Callback callback, void* instance) override;
    Status Close() override;
    Status Write(BufferHeader* header) override;
    Status Pause() override;
    Status Restart() override;
    Status Reset() override;
    Status GetPosition(uint32_t& frames) override;

    // Blocks until every buffer handed back so far has had its notice
    // delivered and returned, or `timeout` passes; true when idle.
    bool WaitNoticesDelivered(std::chrono::milliseconds timeout);
    // Blocks until `pred` holds or `timeout` passes; `pred` is checked, without
    // the device lock, whenever the queue, the pause or the notices change.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
    // Frames queued and not yet played; buffers queued; paused.
    uint64_t QueuedFrames();
    int QueuedBuffers();
    bool IsPaused();

protected:
    using Clock = std::chrono::steady_clock;

    // Backend hooks, all called with the device lock held.
    virtual Status BackendOpen(const PcmFormat& format) = 0;
    virtual void BackendClose() = 0;
    // True when frames must be passed to HandOut; false when they only
    // count (the null device).
    virtual bool TakesData() const { return false; }
    // Passes up to `frames` frames on; returns how many it took (0 when the
    // output is full for now), negative on an error.
    virtual long HandOut(const uint8_t* data, uint32_t frames) {
        (void)data;
        return frames;
    }
    // Sends on what HandOut took in one look, for a backend that gathers
    // (one message to a sound server instead of one per buffer); false on
    // an error.
    virtual bool FlushHandOut() { return true; }
    // Of `handed` frames handed out since the last reset, how many have been
    // heard by `now`.
    virtual uint64_t Played(uint64_t handed, Clock::time_point now) = 0;
    // When the device thread should look again while frames are still
    // unheard; time_point::max() to wait for the next call.
    virtual Clock::time_point NextLook(uint64_t handed, uint64_t nextEnd,
                                       Clock::time_point now) = 0;
    virtual void BackendPause(bool paused, Clock::time_point now) {
        (void)paused;
        (void)now;
    }
    virtual void BackendReset() {}

    // Hands out what it can, updates played_, moves heard buffers to the
    // done list. Lock held.
    void Progress(Clock::time_point now);
    // Call with the lock held after changing what Played() would say.
    void Wake() { cv_.notify_all(); }

    std::mutex mutex_;
    PcmFormat format_;
    bool paused_ = false;
    uint64_t handed_ = 0;  // frames handed out since the last reset
    uint64_t played_ = 0;  // frames heard since the last reset

private:
    void Run();
    void MoveAllToDone();
    void Deliver(std::unique_lock<std::mutex>& lock);

    std::condition_variable cv_;       // wakes the device thread
    std::condition_variable stateCv_;  // wakes waiters in WaitUntil
    uint64_t changes_ = 0;
    void Changed() {
        ++changes_;
        stateCv_.notify_all();
    }
    std::thread thread_;
    bool open_ = false;
    bool quit_ = false;
    Callback callback_ = nullptr;
    void* instance_ = nullptr;

    // Queue of written buffers, oldest first; handCursor_ is the first one
    // not yet fully handed out, handOffset_ the bytes of it already handed.
    BufferHeader* queueHead_ = nullptr;
    BufferHeader* queueTail_ = nullptr;
    BufferHeader* handCursor_ = nullptr;
    uint32_t handOffset_ = 0;
    uint64_t queuedEnd_ = 0;  // frames written since the last reset
    int queuedCount_ = 0;
    // Buffers handed back whose notice is not yet delivered.
    BufferHeader* doneHead_ = nullptr;
    BufferHeader* doneTail_ = nullptr;
    int delivering_ = 0;
    bool error_ = false;
    // Processed frames not yet taken by HandOut: scratch_[pendingOffset_,
    // pendingBytes_) is the processed form of the hand cursor's data at
    // handOffset_, so that no frame is processed twice.
    std::vector<uint8_t> scratch_;
    uint32_t pendingOffset_ = 0;
    uint32_t pendingBytes_ = 0;
    bool pendingProcessed_ = false;
};

// Runs `processor`; false (frames as they are) without one.
bool ProcessOutput(OutputProcessor processor, void* context, const PcmFormat& format,
                   float itemGain, const uint8_t* in, uint8_t* out, uint32_t frames);

// Scales `bytes` of PCM of `format` by `gain` from `in` into `out`.
void ApplyGain(const PcmFormat& format, float gain, const uint8_t* in, uint8_t* out, size_t bytes);

}  // namespace tunara::audio
