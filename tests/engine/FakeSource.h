#pragma once
// A PCM source for engine tests: 16-bit stereo whose frame i carries i itself
// (left = low 16 bits, right = high 16 bits), and a null device that keeps
// what it was given.
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/PcmSource.h"
#include "engine/testing/EngineTesting.h"
#include "platform/audio/NullDevice.h"
#include "support/Eventually.h"

namespace tunara::test {

inline uint32_t FrameIndexAt(const uint8_t* frame) {
    uint16_t lo, hi;
    std::memcpy(&lo, frame, 2);
    std::memcpy(&hi, frame + 2, 2);
    return static_cast<uint32_t>(hi) << 16 | lo;
}

class FakeSource : public PcmSource {
public:
    explicit FakeSource(uint32_t lengthFrames, int sampleRate = 1000)
        : PcmSource(tunara::testing::TestEngine()), length_(lengthFrames) {
        sampleRate_ = sampleRate;
        channels_ = 2;
        bitsPerSample_ = 16;
    }
    ~FakeSource() override { Close(); }

    int OpenStream() override { return openResult; }
    int CloseStream() override { return 1; }
    int ReadFrames(void* buffer, int frames) override {
        std::lock_guard lock(mutex_);
        uint32_t first, n;
        if (GetState() == PlayState::Rewind) {
            n = std::min<uint32_t>(static_cast<uint32_t>(frames), pos_);
            first = pos_ - n;
            pos_ = first;
        } else {
            n = std::min<uint32_t>(static_cast<uint32_t>(frames),
                                   length_ - std::min(pos_, length_));
            first = pos_;
            pos_ += n;
        }
        auto* out = static_cast<uint8_t*>(buffer);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t v = first + i;
            uint16_t lo = static_cast<uint16_t>(v), hi = static_cast<uint16_t>(v >> 16);
            std::memcpy(out + 4 * i, &lo, 2);
            std::memcpy(out + 4 * i + 2, &hi, 2);
        }
        return static_cast<int>(n);
    }
    int WriteFrames(const void*, int) override { return 0; }
    uint32_t SeekFrame(uint32_t frame) override {
        std::lock_guard lock(mutex_);
        pos_ = std::min(frame, length_);
        return pos_;
    }
    uint32_t ReadPosition() {
        std::lock_guard lock(mutex_);
        return pos_;
    }
    int32_t MsOf(uint32_t frames) const {
        return static_cast<int32_t>(frames * 1000.0 / sampleRate_);
    }

    int openResult = 1;

private:
    std::mutex mutex_;
    uint32_t length_;
    uint32_t pos_ = 0;
};

// What one Write carried: the frame indices, and whether the device was paused.
struct Written {
    std::vector<uint32_t> frames;
    bool paused = false;
};

class TapDevice : public audio::NullDevice {
public:
    using NullDevice::NullDevice;
    audio::Status Write(audio::BufferHeader* h) override {
        Written w;
        w.paused = IsPaused();
        for (uint32_t b = 0; b + 4 <= h->bufferLength; b += 4)
            w.frames.push_back(FrameIndexAt(h->data + b));
        {
            std::lock_guard lock(tapMutex_);
            writes_.push_back(std::move(w));
        }
        return NullDevice::Write(h);
    }
    std::vector<Written> Writes() {
        std::lock_guard lock(tapMutex_);
        return writes_;
    }
    void ClearWrites() {
        std::lock_guard lock(tapMutex_);
        writes_.clear();
    }
    // Plays everything queued so far and waits for the notices.
    void PlayQueued() {
        Consume(QueuedFrames());
        WaitNoticesDelivered(std::chrono::seconds(5));
    }

private:
    std::mutex tapMutex_;
    std::vector<Written> writes_;
};

using tunara::testing::Eventually;

}  // namespace tunara::test
