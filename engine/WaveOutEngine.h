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
//
// No gap between items: the open item may be given a follower, a closed item
// of the same PCM format. When the open item's data ends while it plays, the
// same run goes on reading the follower into the same device, so nothing is
// closed, drained or primed at the join. The open item reports its end
// (IsPlaying 0) once the device has played its last frame; HandOver then
// makes the follower the open item with the run and the device as they are.
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
    // Bits of one sample as ReadFrames delivers it: 8 (unsigned), 16, 24 or 32.
    int32_t GetBitsPerSample() const { return bitsPerSample_; }

    // Makes `next` this open item's follower, opening its stream; null drops
    // the follower (closing its stream). Refused (false) when `next` is this
    // item, is open or follows another, fails to open, differs in channels,
    // rate or bits, or when the run has already gone on into the follower,
    // which then stays. True when `next` is the follower.
    bool SetFollower(WaveOutEngine* next);
    WaveOutEngine* Follower() const { return follower_; }
    // The item's own linear gain (ReplayGain): the feeder stamps it on every
    // buffer it reads from this item, so it takes effect exactly at a join.
    void SetItemGain(float gain) { itemGain_.store(gain); }
    float ItemGain() const { return itemGain_.load(); }
    // Once this item's end has been heard and the run has gone on into its
    // follower `next`: makes `next` the open item (device, ring, run as they
    // are, positions counted from its own start) and closes this item's
    // stream. Otherwise false, and nothing changes.
    bool HandOver(WaveOutEngine& next);

protected:
    // Whether the data that just ended goes on in another PCM format after the
    // device is reopened: the run must then not go on into a follower.
    virtual bool ContinuesInNewFormat() const { return false; }
    // Takes this item out of any chain, closing a follower's stream. Derived
    // destructors call it before their stream goes: the feeder may be reading
    // this item as a follower.
    void LeaveChain();

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
    // Brings the meters up to what the device has played.
    void ReachHeard();
    // After a run: a follower the run had begun reading goes back to its start.
    void RewindFollower();

    std::thread feeder_;  // this object's latest run; only the UI thread touches it
    // The speed at which the device's current sample count was played. It
    // outlives the run, so a run that ends by itself keeps its position.
    std::atomic<PlayState> countedAs_{Playing};

    // The chain, under the output's chain lock; only the UI thread writes it.
    WaveOutEngine* follower_ = nullptr;
    WaveOutEngine* leader_ = nullptr;  // the item this one follows
    // Device samples at the end of this item's frames, once the run has gone
    // on into the follower; -1 before. Written by the feeder.
    std::atomic<int64_t> endSample_{-1};
    std::atomic<float> itemGain_{1.0f};
};

}  // namespace tunara
