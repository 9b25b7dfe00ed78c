#include "platform/audio/PulseDevice.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace tunara::audio {

namespace {

// What the server holds for us. Longer means fewer wakeups; the cost is how
// late a volume or equaliser change is heard (they apply on the way out).
// Pause, stop and seek flush the server's buffer and act at once.
constexpr pa_usec_t kTargetUs = 400000;
// The server asks for more once this much has played: each request wakes
// the client's loop, and each answer the loop and the server again, so
// they come five times a second, with as much in hand when they do.
constexpr pa_usec_t kRequestUs = 200000;
// Connecting to a server that hangs must not hang the player.
constexpr pa_usec_t kConnectTimeoutUs = 2000000;

pa_sample_format_t PulseFormat(int bits) {
    switch (bits) {
        case 8:
            return PA_SAMPLE_U8;
        case 16:
            return PA_SAMPLE_S16LE;
        case 24:
            return PA_SAMPLE_S24LE;
        case 32:
            return PA_SAMPLE_S32LE;
        default:
            return PA_SAMPLE_INVALID;
    }
}

void SignalLoop(void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void OnContextState(pa_context*, void* loop) {
    SignalLoop(loop);
}
void OnStreamState(pa_stream*, void* loop) {
    SignalLoop(loop);
}
void OnSuccess(pa_stream*, int, void* loop) {
    SignalLoop(loop);
}
void OnUnderflow(pa_stream*, void* ranDry) {
    static_cast<std::atomic<bool>*>(ranDry)->store(true);
}

struct Deadline {
    pa_threaded_mainloop* loop;
    bool passed = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* d = static_cast<Deadline*>(self);
    d->passed = true;
    SignalLoop(d->loop);
}

// Waits on the loop (lock held) until `ready` or `failed`, at most the
// connect time-out; true when ready.
template <typename Ready, typename Failed>
bool WaitFor(pa_threaded_mainloop* loop, Ready ready, Failed failed) {
    Deadline deadline{loop};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    struct timeval when;
    pa_timeval_add(pa_gettimeofday(&when), kConnectTimeoutUs);
    pa_time_event* timer = api->time_new(api, &when, &OnDeadline, &deadline);
    bool ok = true;
    while (!ready()) {
        if (failed() || deadline.passed) {
            ok = false;
            break;
        }
        pa_threaded_mainloop_wait(loop);  // woken by the state callbacks or the timer
    }
    api->time_free(timer);
    return ok;
}

// A context connected to the session's server, or null. Lock held.
pa_context* Connect(pa_threaded_mainloop* loop) {
    pa_context* c = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tunara");
    if (!c) return nullptr;
    pa_context_set_state_callback(c, &OnContextState, loop);
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        pa_context_unref(c);
        return nullptr;
    }
    const bool ok = WaitFor(
        loop, [&] { return pa_context_get_state(c) == PA_CONTEXT_READY; },
        [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(c)); });
    if (!ok) {
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
        return nullptr;
    }
    return c;
}

}  // namespace

PulseDevice::~PulseDevice() {
    Close();
    Teardown();
}

bool PulseDevice::ServerAnswers() {
    static std::once_flag once;
    static bool answers = false;
    std::call_once(once, [] {
        pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
        if (!loop) return;
        if (pa_threaded_mainloop_start(loop) == 0) {
            pa_threaded_mainloop_lock(loop);
            if (pa_context* c = Connect(loop)) {
                answers = true;
                pa_context_set_state_callback(c, nullptr, nullptr);
                pa_context_disconnect(c);
                pa_context_unref(c);
            }
            pa_threaded_mainloop_unlock(loop);
            pa_threaded_mainloop_stop(loop);
        }
        pa_threaded_mainloop_free(loop);
    });
    return answers;
}

Status PulseDevice::BackendOpen(const PcmFormat& format) {
    asked_ = false;
    pa_sample_spec sampleFormat;
    sampleFormat.format = PulseFormat(format.bitsPerSample);
    sampleFormat.rate = format.sampleRate;
    sampleFormat.channels = static_cast<uint8_t>(format.channels);
    if (sampleFormat.format == PA_SAMPLE_INVALID || !pa_sample_spec_valid(&sampleFormat))
        return Status::BadFormat;

    loop_ = pa_threaded_mainloop_new();
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
        Teardown();
        return Status::NoDevice;
    }
    pa_threaded_mainloop_lock(loop_);
    context_ = Connect(loop_);
    if (context_) stream_ = pa_stream_new(context_, "Tunara", &sampleFormat, nullptr);
    bool ok = stream_ != nullptr;
    if (ok) {
        pa_stream_set_state_callback(stream_, &OnStreamState, loop_);
        pa_stream_set_underflow_callback(stream_, &OnUnderflow, &ranDry_);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetUs, &sampleFormat));
        // One frame is enough to start: the engine primes the queue while
        // paused, and a short last item must play without a push. After an
        // underrun it starts again with the next frame, losing none.
        attr.prebuf = format.blockAlign;
        attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kRequestUs, &sampleFormat));
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        ok = pa_stream_connect_playback(stream_, sink_.empty() ? nullptr : sink_.c_str(), &attr,
                                        flags, nullptr, nullptr) == 0 &&
             WaitFor(
                 loop_, [&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
                 [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); });
    }
    pa_threaded_mainloop_unlock(loop_);
    if (!ok) {
        Teardown();
        return Status::NoDevice;
    }
    // Room for all the server may ask for at once, so gathering never allocates.
    staged_.clear();
    staged_.reserve(static_cast<size_t>(pa_usec_to_bytes(kTargetUs, &sampleFormat)) * 2);
    return Status::Ok;
}

void PulseDevice::BackendClose() {
    Teardown();
}

void PulseDevice::Teardown() {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

void PulseDevice::Await(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
           PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
}

long PulseDevice::HandOut(const uint8_t* data, uint32_t frames) {
    if (staged_.empty()) {
        pa_threaded_mainloop_lock(loop_);
        const bool ready = pa_stream_get_state(stream_) == PA_STREAM_READY;
        room_ = ready ? pa_stream_writable_size(stream_) : 0;
        pa_threaded_mainloop_unlock(loop_);
        if (!ready) return -1;
        if (room_ == static_cast<size_t>(-1)) room_ = 0;
    }
    const size_t n = std::min<size_t>(frames, (room_ - staged_.size()) / format_.blockAlign);
    staged_.insert(staged_.end(), data, data + n * format_.blockAlign);
    return static_cast<long>(n);
}

bool PulseDevice::FlushHandOut() {
    if (staged_.empty()) return true;
    pa_threaded_mainloop_lock(loop_);
    const bool ok =
        pa_stream_write(stream_, staged_.data(), staged_.size(), nullptr, 0, PA_SEEK_RELATIVE) == 0;
    pa_threaded_mainloop_unlock(loop_);
    staged_.clear();
    ranDry_ = false;
    return ok;
}

uint64_t PulseDevice::Played(uint64_t handed, Clock::time_point now) {
    // The server ran out: all it was given has been played, whatever its
    // sink still reports as latency.
    if (ranDry_) return handed;
    // The window's tick asks several times in a row (position, meters,
    // analyser): a recent answer runs on with the clock, as the server's own
    // does, without its lock and system calls each time.
    if (asked_ && now >= askedAt_ && now - askedAt_ < kAskAgain) {
        const auto since =
            std::chrono::duration_cast<std::chrono::microseconds>(now - askedAt_).count();
        return std::min(
            handed, askedPlayed_ + static_cast<uint64_t>(since) * format_.sampleRate / 1000000u);
    }
    asked_ = false;
    pa_threaded_mainloop_lock(loop_);
    pa_usec_t latency = 0;
    int negative = 0;
    const bool known = pa_stream_get_latency(stream_, &latency, &negative) == 0;
    pa_threaded_mainloop_unlock(loop_);
    // Until the server has said where it is (after a flush) nothing more
    // counts as heard.
    if (!known) return played_;
    const uint64_t delay = negative ? 0 : latency * format_.sampleRate / 1000000u;
    asked_ = true;
    askedAt_ = now;
    askedPlayed_ = handed > delay ? handed - delay : 0;
    return askedPlayed_;
}

DeviceCore::Clock::time_point PulseDevice::NextLook(uint64_t handed, uint64_t nextEnd,
                                                    Clock::time_point now) {
    // When the server has room for a request's worth, handing back every
    // buffer heard by then in one go; sooner when it holds less than that
    // (the end of an item), so that the last buffers come back as they are
    // heard.
    const uint64_t frames = std::max(handed, nextEnd) - std::min(played_, handed);
    auto wait = std::chrono::microseconds(frames * 1000000ull / format_.sampleRate);
    wait = std::min(wait, std::chrono::microseconds(kTargetUs - kRequestUs));
    return now + wait;
}

void PulseDevice::BackendPause(bool paused, Clock::time_point) {
    asked_ = false;
    pa_threaded_mainloop_lock(loop_);
    if (pa_stream_get_state(stream_) == PA_STREAM_READY)
        Await(pa_stream_cork(stream_, paused ? 1 : 0, &OnSuccess, loop_));
    pa_threaded_mainloop_unlock(loop_);
}

void PulseDevice::BackendReset() {
    ranDry_ = false;
    asked_ = false;
    staged_.clear();
    pa_threaded_mainloop_lock(loop_);
    if (pa_stream_get_state(stream_) == PA_STREAM_READY)
        Await(pa_stream_flush(stream_, &OnSuccess, loop_));
    pa_threaded_mainloop_unlock(loop_);
}

}  // namespace tunara::audio
