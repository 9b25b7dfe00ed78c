#pragma once
// What an item hands the output engine: a stream of PCM frames it can open,
// read, seek and describe. The engine reads it on its feeder thread; the
// other operations come from the user-interface thread while no run reads it.
#include <atomic>
#include <cstdint>

#include "engine/MediaSource.h"

namespace tunara {

class OutputEngine;

struct PcmStreamFormat {
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bitsPerSample = 0;  // 8 (unsigned), 16, 24 or 32
    bool operator==(const PcmStreamFormat&) const = default;
};

class PcmStream {
public:
    virtual ~PcmStream() = default;

    // Opens the stream for reading; 0 on failure (its item keeps why).
    // On success StreamFormat describes it.
    virtual int OpenStream() = 0;
    // Releases what OpenStream took; nonzero on success.
    virtual int CloseStream() = 0;
    // Writes up to `frames` whole frames into `buffer` and returns how many;
    // 0 at the end of the data or on an error. While the engine reads it
    // backwards (GetState() is Rewind) delivers the block before the read
    // position, in forward order, and leaves the read position at its start.
    virtual int ReadFrames(void* buffer, int frames) = 0;
    // Moves the read position to `frame` (or the nearest reachable point);
    // returns the frame reached.
    virtual uint32_t SeekFrame(uint32_t frame) = 0;
    virtual PcmStreamFormat StreamFormat() const = 0;
    // Whether the data that just ended goes on in another PCM format after
    // the device is reopened: the engine must then not go on into a queued
    // stream.
    virtual bool ContinuesInNewFormat() const { return false; }

    // How the engine plays (or last played) this stream.
    PlayState GetState() const { return state_.load(); }
    // The stream's own linear gain (ReplayGain): stamped on every buffer read
    // from it, so it takes effect exactly at a join.
    void SetGain(float gain) { gain_.store(gain); }
    float Gain() const { return gain_.load(); }

protected:
    // Written by the engine; a stream read by hand (a test) may set it.
    std::atomic<PlayState> state_{Stopped};

private:
    friend class OutputEngine;
    std::atomic<float> gain_{1.0f};
};

}  // namespace tunara
