#include "platform/audio/DeviceCore.h"

#include <algorithm>
#include <cstring>

namespace tunara::audio {

namespace {
constexpr size_t kScratchBytes = 8192;
// The device's thread looks at most this often while playing: each look
// hands back every buffer heard since the last, so the feeder wakes once per
// look too, not once per buffer. The backends hold more than this.
constexpr auto kLookGap = std::chrono::milliseconds(100);
}  // namespace

DeviceCore::DeviceCore() = default;

DeviceCore::~DeviceCore() {
    // Backends close in their own destructors (their hooks are gone by now);
    // this only guards against a thread left running.
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            cv_.notify_all();
        }
        thread_.join();
    }
}

Status DeviceCore::Open(const PcmFormat& format, Callback callback, void* instance) {
    if (!format.Valid()) return Status::BadFormat;
    std::unique_lock lock(mutex_);
    if (open_) return Status::Error;
    Status st = BackendOpen(format);
    if (st != Status::Ok) return st;
    format_ = format;
    callback_ = callback;
    instance_ = instance;
    size_t frames = std::max<size_t>(1, kScratchBytes / format.blockAlign);
    scratch_.assign(frames * format.blockAlign, 0);
    pendingOffset_ = pendingBytes_ = 0;
    paused_ = false;
    handed_ = played_ = queuedEnd_ = 0;
    queuedCount_ = 0;
    error_ = false;
    quit_ = false;
    open_ = true;
    thread_ = std::thread([this] { Run(); });
    return Status::Ok;
}

Status DeviceCore::Close() {
    {
        std::lock_guard lock(mutex_);
        if (!open_) return Status::NoDevice;
        MoveAllToDone();
        quit_ = true;
        cv_.notify_all();
    }
    // The thread delivers what is left, then the Close notice, then ends.
    thread_.join();
    std::lock_guard lock(mutex_);
    BackendClose();
    open_ = false;
    callback_ = nullptr;
    Changed();
    return Status::Ok;
}

Status DeviceCore::Write(BufferHeader* header) {
    if (!header) return Status::InvalidParam;
    std::lock_guard lock(mutex_);
    if (!open_) return Status::NoDevice;
    uint32_t flags = header->flags.load();
    if (!(flags & kHeaderPrepared)) return Status::Unprepared;
    if (flags & kHeaderInQueue) return Status::StillPlaying;
    if (header->bufferLength % format_.blockAlign != 0) return Status::InvalidParam;
    if (!header->data && header->bufferLength) return Status::InvalidParam;

    header->flags.store((flags & ~kHeaderDone) | kHeaderInQueue);
    header->next = nullptr;
    queuedEnd_ += header->bufferLength / format_.blockAlign;
    header->endFrame = queuedEnd_;
    if (queueTail_)
        queueTail_->next = header;
    else
        queueHead_ = header;
    queueTail_ = header;
    if (!handCursor_) {
        handCursor_ = header;
        handOffset_ = 0;
    }
    ++queuedCount_;
    // Wake the device thread only when it has something new to do: a new
    // head changes when it must look next, and a backend that takes data
    // must be handed this buffer if everything before it has gone out.
    // Otherwise it finds the buffer at its next look; a clock-paced backend
    // counts it as handed out at once.
    bool wake = queueHead_ == header || error_;
    if (TakesData()) {
        wake = wake || handCursor_ == header;
    } else {
        Progress(Clock::now());
        wake = wake || doneHead_;
    }
    if (wake) cv_.notify_all();
    Changed();
    return Status::Ok;
}

Status DeviceCore::Pause() {
    std::lock_guard lock(mutex_);
    if (!open_) return Status::NoDevice;
    if (!paused_) {
        auto now = Clock::now();
        Progress(now);
        paused_ = true;
        BackendPause(true, now);
    }
    cv_.notify_all();
    Changed();
    return Status::Ok;
}

Status DeviceCore::Restart() {
    std::lock_guard lock(mutex_);
    if (!open_) return Status::NoDevice;
    if (paused_) {
        paused_ = false;
        BackendPause(false, Clock::now());
    }
    cv_.notify_all();
    Changed();
    return Status::Ok;
}

Status DeviceCore::Reset() {
    std::lock_guard lock(mutex_);
    if (!open_) return Status::NoDevice;
    MoveAllToDone();
    BackendReset();
    paused_ = false;
    handed_ = played_ = queuedEnd_ = 0;
    error_ = false;
    cv_.notify_all();
    Changed();
    return Status::Ok;
}

Status DeviceCore::GetPosition(uint32_t& frames) {
    std::lock_guard lock(mutex_);
    if (!open_) return Status::NoDevice;
    if (!paused_ && !error_)
        played_ = std::min(handed_, std::max(played_, Played(handed_, Clock::now())));
    frames = static_cast<uint32_t>(played_);
    return Status::Ok;
}

Status AudioDevice::Prepare(BufferHeader* header) {
    if (!header || (!header->data && header->bufferLength)) return Status::InvalidParam;
    header->flags.fetch_or(kHeaderPrepared);
    return Status::Ok;
}

Status AudioDevice::Unprepare(BufferHeader* header) {
    if (!header) return Status::InvalidParam;
    if (header->flags.load() & kHeaderInQueue) return Status::StillPlaying;
    header->flags.fetch_and(~kHeaderPrepared);
    return Status::Ok;
}

bool DeviceCore::WaitNoticesDelivered(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return stateCv_.wait_for(lock, timeout, [&] { return !doneHead_ && delivering_ == 0; });
}

bool DeviceCore::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        uint64_t seen = changes_;
        lock.unlock();
        if (pred()) return true;  // outside the lock: it may call the device
        lock.lock();
        if (!stateCv_.wait_until(lock, deadline, [&] { return changes_ != seen; })) return false;
    }
}

uint64_t DeviceCore::QueuedFrames() {
    std::lock_guard lock(mutex_);
    return queuedEnd_ - played_;
}

int DeviceCore::QueuedBuffers() {
    std::lock_guard lock(mutex_);
    return queuedCount_;
}

bool DeviceCore::IsPaused() {
    std::lock_guard lock(mutex_);
    return paused_;
}

void DeviceCore::Progress(Clock::time_point now) {
    if (!paused_) {
        // Account for what was heard before anything new goes out, so a
        // clock-paced backend does not count an idle gap as playing.
        played_ = std::min(handed_, std::max(played_, Played(handed_, now)));
        if (error_) {
            handed_ = queuedEnd_;
            handCursor_ = nullptr;
            pendingOffset_ = pendingBytes_ = 0;
        } else if (!TakesData()) {
            handed_ = queuedEnd_;
            handCursor_ = nullptr;
            handOffset_ = 0;
            pendingOffset_ = pendingBytes_ = 0;
        } else {
            long n = 0;
            while (handCursor_) {
                uint32_t remain = handCursor_->bufferLength - handOffset_;
                if (remain == 0) {
                    handCursor_ = handCursor_->next;
                    handOffset_ = 0;
                    pendingOffset_ = pendingBytes_ = 0;
                    continue;
                }
                if (pendingOffset_ == pendingBytes_) {
                    const uint32_t bytes =
                        std::min<uint32_t>(remain, static_cast<uint32_t>(scratch_.size()));
                    pendingProcessed_ =
                        ProcessOutput(processor_, processorContext_, format_, handCursor_->gain,
                                      handCursor_->data + handOffset_, scratch_.data(),
                                      bytes / format_.blockAlign);
                    pendingOffset_ = 0;
                    pendingBytes_ = bytes;
                }
                const uint8_t* src = pendingProcessed_ ? scratch_.data() + pendingOffset_
                                                       : handCursor_->data + handOffset_;
                n = HandOut(src, (pendingBytes_ - pendingOffset_) / format_.blockAlign);
                if (n < 0) break;
                if (n == 0) break;
                handOffset_ += static_cast<uint32_t>(n) * format_.blockAlign;
                pendingOffset_ += static_cast<uint32_t>(n) * format_.blockAlign;
                handed_ += static_cast<uint64_t>(n);
            }
            if (n < 0 || !FlushHandOut()) {
                // The output is gone: count everything as heard so the
                // buffers still come back and nobody waits forever.
                error_ = true;
                handed_ = queuedEnd_;
                handCursor_ = nullptr;
                pendingOffset_ = pendingBytes_ = 0;
            }
        }
        played_ = error_ ? handed_ : std::min(handed_, std::max(played_, Played(handed_, now)));
    }
    bool moved = false;
    while (queueHead_ && queueHead_->endFrame <= played_ && queueHead_ != handCursor_) {
        BufferHeader* h = queueHead_;
        queueHead_ = h->next;
        if (!queueHead_) queueTail_ = nullptr;
        --queuedCount_;
        h->next = nullptr;
        if (doneTail_)
            doneTail_->next = h;
        else
            doneHead_ = h;
        doneTail_ = h;
        moved = true;
    }
    if (moved) Changed();
}

void DeviceCore::MoveAllToDone() {
    if (queueHead_) {
        if (doneTail_)
            doneTail_->next = queueHead_;
        else
            doneHead_ = queueHead_;
        doneTail_ = queueTail_;
    }
    queueHead_ = queueTail_ = handCursor_ = nullptr;
    handOffset_ = 0;
    pendingOffset_ = pendingBytes_ = 0;
    queuedCount_ = 0;
}

void DeviceCore::Deliver(std::unique_lock<std::mutex>& lock) {
    BufferHeader* h = doneHead_;
    doneHead_ = h->next;
    if (!doneHead_) doneTail_ = nullptr;
    h->next = nullptr;
    ++delivering_;
    Callback cb = callback_;
    void* inst = instance_;
    lock.unlock();
    uint32_t f = h->flags.load();
    h->flags.store((f & ~kHeaderInQueue) | kHeaderDone);
    if (cb) cb(Message::Done, h, inst);
    lock.lock();
    --delivering_;
    Changed();
}

void DeviceCore::Run() {
    std::unique_lock lock(mutex_);
    if (callback_) {
        Callback cb = callback_;
        void* inst = instance_;
        lock.unlock();
        cb(Message::Open, nullptr, inst);
        lock.lock();
    }
    for (;;) {
        if (doneHead_) {
            Deliver(lock);
            continue;
        }
        if (quit_) break;
        auto now = Clock::now();
        Progress(now);
        if (doneHead_) continue;
        Clock::time_point wake = Clock::time_point::max();
        if (!paused_ && queueHead_) wake = NextLook(handed_, queueHead_->endFrame, now);
        if (wake != Clock::time_point::max()) wake = std::max(wake, now + kLookGap);
        if (wake == Clock::time_point::max())
            cv_.wait(lock);
        else
            cv_.wait_until(lock, wake);
    }
    if (callback_) {
        Callback cb = callback_;
        void* inst = instance_;
        lock.unlock();
        cb(Message::Close, nullptr, inst);
        lock.lock();
    }
}

void ApplyGain(const PcmFormat& format, float gain, const uint8_t* in, uint8_t* out, size_t bytes) {
    switch (format.bitsPerSample) {
        case 8:
            for (size_t i = 0; i < bytes; ++i)
                out[i] = static_cast<uint8_t>(
                    128 + static_cast<int>((static_cast<int>(in[i]) - 128) * gain));
            break;
        case 16:
            for (size_t i = 0; i + 1 < bytes; i += 2) {
                int16_t s;
                std::memcpy(&s, in + i, 2);
                s = static_cast<int16_t>(s * gain);
                std::memcpy(out + i, &s, 2);
            }
            break;
        case 24:
            for (size_t i = 0; i + 2 < bytes; i += 3) {
                int32_t s = static_cast<int32_t>(static_cast<uint32_t>(in[i]) << 8 |
                                                 static_cast<uint32_t>(in[i + 1]) << 16 |
                                                 static_cast<uint32_t>(in[i + 2]) << 24) >>
                            8;
                s = static_cast<int32_t>(s * static_cast<double>(gain));
                out[i] = static_cast<uint8_t>(s);
                out[i + 1] = static_cast<uint8_t>(s >> 8);
                out[i + 2] = static_cast<uint8_t>(s >> 16);
            }
            break;
        case 32:
            for (size_t i = 0; i + 3 < bytes; i += 4) {
                int32_t s;
                std::memcpy(&s, in + i, 4);
                s = static_cast<int32_t>(s * static_cast<double>(gain));
                std::memcpy(out + i, &s, 4);
            }
            break;
        default:
            std::memcpy(out, in, bytes);
    }
}

}  // namespace tunara::audio
