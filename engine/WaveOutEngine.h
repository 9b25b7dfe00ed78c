#pragma once
// The shared PCM output engine: base of the file sources (MP3, WAV).
//
// The output device, its format, the ring of 32 buffers, the free-slot
// semaphore and the engine lock are process-wide: one WaveOutEngine object is
// open at a time (the controller closes the old source before opening a new).
//
// Threads: the user-interface thread calls the operations; one feeder thread
// per run reads PCM from the source and queues it; the device's own thread
// reports finished buffers (it frees slots and feeds the analyser).
#include <atomic>
#include <cstdint>
#include <thread>

#include "engine/MediaSource.h"

namespace tunara {

class WaveOutEngine : public MediaSource {
public:
    static constexpr int kBufferCount = 32;
    static constexpr int kFramesPerBuffer = 1024;
    static constexpr int kPrimingBuffers = 8;

    WaveOutEngine();
    ~WaveOutEngine() override;

    int32_t GetPosition() override;
    void Seek(int32_t positionMs) override;
    void GetLevels(float& left, float& right) override;
    void GetSpectrum(float* bands) override;
    int Open() override;
    void Close() override;
    void Play() override;
    // Also moves the stream back to the frame last heard: the ring has read
    // up to 32 buffers ahead of it.
    void Stop() override;
    void FastForward() override;
    void Rewind() override;
    void Tick() override {}
    int IsPlaying() override;
    int LoadInfo() override { return 1; }
    void EnableMetering(int) override {}
    void SetBandCount(int count) override;

    // The PCM stream a concrete source provides.
    //
    // Opens the item for reading; 0 on failure (after telling the user). On
    // success sample rate, channels and bits per sample are set.
    virtual int OpenStream() = 0;
    // Releases what OpenStream took; nonzero on success.
    virtual int CloseStream() = 0;
    // Writes up to `frames` whole frames into `buffer` and returns how many;
    // 0 at the end of the data or on an error. In the Rewind state delivers
    // the block before the read position, in forward order, and leaves the
    // read position at the start of that block.
    virtual int ReadFrames(void* buffer, int frames) = 0;
    // Appends frames; returns how many were written.
    virtual int WriteFrames(const void* buffer, int frames) = 0;
    // Moves the read position to `frame` (or the nearest reachable point);
    // returns the frame reached.
    virtual uint32_t SeekFrame(uint32_t frame) = 0;

    PlayState GetState() const { return state_.load(); }

protected:
    int32_t GetBitsPerSample() const { return bitsPerSample_; }

    // Written by the UI thread and the feeder thread; each is one 32-bit value.
    std::atomic<PlayState> state_{Stopped};
    std::atomic<int32_t> basePosition_{0};  // frames: source frame at device sample 0
    int32_t bitsPerSample_ = 0;             // 8, 16, 24 or 32; set by LoadInfo/OpenStream

private:
    void Start(PlayState state);
    // Stops the run; `realign` moves the stream back to the position heard.
    void StopRun(bool realign);
    // Ends a run without calling the stream operations (safe in ~WaveOutEngine).
    void Halt();
    void RunFeeder();
    void JoinFeeder();

    std::thread feeder_;  // this object's latest run; only the UI thread touches it
    // The speed at which the device's current sample count was played. It
    // outlives the run, so a run that ends by itself keeps its position.
    std::atomic<PlayState> countedAs_{Playing};
};

}  // namespace tunara
