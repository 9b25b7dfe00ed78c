#pragma once
// Digital playback of a range of CD frames: a thread reads the sectors ahead
// into a small ring of buffers and queues them at an audio device of its own.
// Internal to platform/cdaudio.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/AudioDevice.h"
#include "platform/mixer/Mixer.h"

namespace tunara::cdaudio {

// Scales 16-bit stereo little-endian PCM in place by a gain per channel
// (0.0 .. 1.0).
void ScaleStereo16(uint8_t* pcm, size_t bytes, float left, float right);

class Player {
public:
    // Reads `count` sectors from `lsn` into `out` (count * 2352 bytes);
    // false on a read error. Called on the player thread.
    using ReadFn = std::function<bool(int32_t lsn, int count, uint8_t* out)>;
    // True when the disc is gone; called on the player thread between reads.
    using GoneFn = std::function<bool()>;

    static constexpr int kBuffers = 8;
    static constexpr int kSectorsPerBuffer = 10;  // 133 ms per buffer

    Player(ReadFn read, GoneFn gone);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Plays absolute frames [from, to). False when the audio output cannot
    // be opened.
    bool Play(uint32_t fromFrame, uint32_t toFrame);
    // Stops and keeps the position where playing stopped.
    void Stop();
    // Stops and moves.
    void SetPosition(uint32_t frame);
    // Absolute frame now heard (or where playing stopped).
    uint32_t Position();
    bool Playing();
    // True once after playing stopped because the disc disappeared.
    bool TakeDiscGone();
    // Stops and closes the audio device.
    void Shutdown();

private:
    struct Slot {
        audio::BufferHeader header;
        std::vector<uint8_t> data;
    };
    static void OnDone(audio::Message message, audio::BufferHeader* header, void* self);
    void Run(uint32_t fromFrame, uint32_t toFrame);
    bool OpenOutput();
    // The output card's "CD" volume, when it has one, applies to what is
    // played (player thread).
    void ApplyCdVolume(uint8_t* pcm, size_t bytes);
    void Join();
    uint32_t PlayedFrames();  // CD frames the device has played since the start

    ReadFn read_;
    GoneFn gone_;
    std::unique_ptr<audio::AudioDevice> output_;  // opened on the first Play
    std::unique_ptr<mixer::Mixer> cdLine_;        // the card's CD element, if any
    uint32_t cdControl_ = 0;
    long cdMin_ = 0, cdMax_ = 0;
    Slot slots_[kBuffers];

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::thread thread_;
    bool stopAsked_ = false;
    bool running_ = false;  // the thread is playing (not finished)
    bool discGone_ = false;
    uint32_t startFrame_ = 0;   // where the current run started
    uint32_t endFrame_ = 0;     // where the current run stops
    uint32_t stoppedAt_ = 0;    // the position while not playing
    int freeSlots_ = kBuffers;  // slots not queued at the device
};

}  // namespace tunara::cdaudio
