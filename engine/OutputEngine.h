#pragma once
// The output engine: the one path by which every item's sound reaches the
// device. It owns the device, its ring of 32 buffers, the feeder thread, the
// level and spectrum analyser, the gain stage its device runs, and a queue
// of streams that follow the open one. Items hand it PcmStreams; nothing derives from it. The
// composition root owns the process's engine and hands it to whatever makes items.
//
// Threads: the user-interface thread calls the operations; the feeder thread
// reads the streams and queues buffers; the device's own thread reports
// finished buffers (freeing slots and feeding the analyser).
//
// No gap between items: streams queued behind the open one, of its PCM
// format, are read by the same run into the same device when the open
// stream's data ends, so nothing is closed, drained or primed at a join. The
// open stream reports its end (IsPlaying 0) once the device has played its
// last frame; HandOver then makes the first queued stream the open one.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/GainStage.h"
#include "engine/PcmStream.h"
#include "engine/SpectrumAnalyser.h"
#include "platform/audio/AudioDevice.h"
#include "platform/ui/UserInteraction.h"

namespace tunara {

namespace testing {
class EngineProbe;
}

class OutputEngine {
public:
    static constexpr int kBufferCount = 32;
    static constexpr int kFramesPerBuffer = 1024;
    static constexpr int kPrimingBuffers = 8;

    OutputEngine();
    // Ends the run and closes the device; streams still queued stay open
    // (their items close them).
    ~OutputEngine();
    OutputEngine(const OutputEngine&) = delete;
    OutputEngine& operator=(const OutputEngine&) = delete;

    // Makes `stream` the open one: ends whatever the engine played (that
    // stream stays open for its item to close), opens the stream, the ring
    // and the device. Nonzero on success.
    int Open(PcmStream& stream);
    // Lets go of `stream` (ending the run and closing the device when it is
    // the open one, dropping the queue with it) and closes it.
    void Close(PcmStream& stream);
    // As Close, without closing the stream: for items about to be destroyed,
    // which must leave before the feeder could read them again.
    void Detach(PcmStream& stream);

    // The transport of the open stream; for any other stream they do nothing
    // (Seek only moves a stream the engine does not hold).
    void Play(PcmStream& stream) { Start(stream, Playing); }
    void FastForward(PcmStream& stream) { Start(stream, PlayState::FastForward); }
    void Rewind(PcmStream& stream) { Start(stream, PlayState::Rewind); }
    // Also moves the stream back to the frame last heard: the ring has read
    // up to 32 buffers ahead of it.
    void Stop(PcmStream& stream);
    void Seek(PcmStream& stream, int32_t positionMs);
    // Milliseconds from the stream's start; 0 unless it is the open one.
    int32_t GetPosition(PcmStream& stream);
    // Nonzero while the stream plays and its last frame is still to be heard.
    int IsPlaying(PcmStream& stream);

    // Meters of what the device has played; zeros while `stream` is stopped.
    void GetLevels(const PcmStream& stream, float& left, float& right);
    void GetSpectrum(const PcmStream& stream, float* bands);
    void SetBandCount(int count) { analyser_.SetBandCount(count); }

    // Balance, equaliser and ReplayGain settings of what the device plays.
    GainStage& Gain() { return gain_; }

    // Appends `next` to the queue behind the open stream, opening it.
    // Refused (false) without an open stream and device, when `next` is
    // already held, fails to open or differs from the device's format.
    bool Enqueue(PcmStream& next);
    // Drops (and closes) the queued streams the run has not gone on into;
    // true when the queue is then empty.
    bool DropQueue();
    // The first queued stream, or null.
    PcmStream* Following() const;
    PcmStream* Current() const;
    // Once the open stream's end has been heard and the run has gone on into
    // `next`, the first queued stream: makes `next` the open stream (device,
    // ring and run as they are, its position counted from its own start) and
    // closes the old one. Otherwise false, and nothing changes.
    bool HandOver(PcmStream& next);
    // Why the last Open failed where the stream itself did not; taking it
    // clears it.
    std::optional<UserMessage> TakeError() { return error_.Take(); }

private:
    friend class testing::EngineProbe;  // engine/testing: the free slots, failing allocations

    // One held stream: the open one first, then the queue in order.
    struct Slot {
        Slot(PcmStream* s, uint64_t i) : stream(s), id(i) {}
        PcmStream* stream;
        uint64_t id;  // never reused: the feeder knows a slot by it
        // Source frame at the device's sample 0 (wraps for followers: the
        // device had counted past their start).
        std::atomic<int32_t> base{0};
        // Device samples at the end of this stream's frames, once the run has
        // gone on into the next one; -1 before. Written by the feeder.
        std::atomic<int64_t> end{-1};
    };
    class SlotCounter {
    public:
        void Acquire();
        void Release();
        int Count();

    private:
        std::mutex mutex_;
        std::condition_variable cv_;
        int count_ = kBufferCount;
    };

    static void DoneCallback(audio::Message message, audio::BufferHeader* header, void* instance);
    void OnDone(audio::BufferHeader* header);
    bool AllHeadersDone() const;
    void FreeHeaders();
    // Ends the run and closes the device; the chain is left as it is.
    void ReleaseOutput();
    // Takes `stream` out of the chain; when it is the open one the run ends,
    // the device closes and the queue goes (closing its streams).
    void Leave(PcmStream& stream);
    Slot* Front();
    Slot* Find(const PcmStream& stream);  // chain lock held, or the UI thread
    bool IsFront(const PcmStream& stream) { return Front() && Front()->stream == &stream; }
    audio::AudioDevice* DeviceFor(const PcmStream& stream);
    // Brings the meters up to what the device has played.
    void ReachHeard(const PcmStream& stream);

    void Start(PcmStream& stream, PlayState state);
    // Stops the run; `realign` moves the stream back to the position heard.
    void StopRun(PcmStream& stream, bool realign);
    // Ends a run without calling the stream operations.
    void Halt();
    void RunFeeder();
    void JoinFeeder();
    // After a run: queued streams the run had begun reading go back to their start.
    void RewindQueue();

    GainStage gain_;                              // before device_, whose thread runs it
    std::unique_ptr<audio::AudioDevice> device_;  // written by the UI thread while no run goes
    audio::PcmFormat format_;
    std::array<audio::BufferHeader*, kBufferCount> headers_{};
    int ringIndex_ = 0;  // the header the feeder fills next; only the feeder moves it
    SlotCounter freeSlots_;
    std::mutex runLock_;  // held by the feeder for its whole run
    // Guards the chain. The feeder holds it while it reads a buffer, so a
    // stream that leaves the chain is never being read.
    mutable std::mutex chainLock_;
    std::list<Slot> chain_;
    uint64_t nextSlotId_ = 0;
    // Signals the end-of-run wait that another header came back.
    std::mutex doneMutex_;
    std::condition_variable doneCv_;
    std::thread feeder_;  // only the UI thread touches it
    // The speed at which the device's current sample count was played. It
    // outlives the run, so a run that ends by itself keeps its position.
    std::atomic<PlayState> countedAs_{Playing};
    SpectrumAnalyser analyser_;
    int failAllocationAt_ = 0;
    ErrorSlot error_;
};

}  // namespace tunara
