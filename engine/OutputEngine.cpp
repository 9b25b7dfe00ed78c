#include "engine/OutputEngine.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"

namespace tunara {

namespace {

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

void OutputEngine::SlotCounter::Acquire() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return count_ > 0; });
    --count_;
}

void OutputEngine::SlotCounter::Release() {
    {
        std::lock_guard lock(mutex_);
        if (count_ < kBufferCount) ++count_;
    }
    cv_.notify_one();
}

int OutputEngine::SlotCounter::Count() {
    std::lock_guard lock(mutex_);
    return count_;
}

OutputEngine::OutputEngine() = default;

OutputEngine::~OutputEngine() {
    Halt();
    ReleaseOutput();
    std::lock_guard chain(chainLock_);
    chain_.clear();
}

void OutputEngine::DoneCallback(audio::Message message, audio::BufferHeader* header,
                                void* instance) {
    if (message == audio::Message::Done) static_cast<OutputEngine*>(instance)->OnDone(header);
}

void OutputEngine::OnDone(audio::BufferHeader*) {
    freeSlots_.Release();
    { std::lock_guard lock(doneMutex_); }
    doneCv_.notify_all();
}

bool OutputEngine::AllHeadersDone() const {
    for (auto* h : headers_)
        if (h && !(h->flags.load() & audio::kHeaderDone)) return false;
    return true;
}

void OutputEngine::FreeHeaders() {
    for (auto*& h : headers_) {
        if (!h) continue;
        delete[] h->data;
        delete h;
        h = nullptr;
    }
}

void OutputEngine::ReleaseOutput() {
    // Its last notices are delivered before the ring goes.
    if (device_) {
        device_->Close();
        device_.reset();
    }
    FreeHeaders();
}

// The chain's shape changes only on the user-interface thread (under the
// lock, for the feeder), so that thread reads it without the lock.
OutputEngine::Slot* OutputEngine::Front() {
    return chain_.empty() ? nullptr : &chain_.front();
}

OutputEngine::Slot* OutputEngine::Find(const PcmStream& stream) {
    for (auto& s : chain_)
        if (s.stream == &stream) return &s;
    return nullptr;
}

audio::AudioDevice* OutputEngine::DeviceFor(const PcmStream& stream) {
    return IsFront(stream) ? device_.get() : nullptr;
}

PcmStream* OutputEngine::Current() const {
    return chain_.empty() ? nullptr : chain_.front().stream;
}

PcmStream* OutputEngine::Following() const {
    return chain_.size() < 2 ? nullptr : std::next(chain_.begin())->stream;
}

void OutputEngine::Leave(PcmStream& stream) {
    if (IsFront(stream)) {
        Halt();
        ReleaseOutput();
        std::list<Slot> dropped;
        {
            std::lock_guard chain(chainLock_);
            dropped.splice(dropped.end(), chain_, std::next(chain_.begin()), chain_.end());
            chain_.pop_front();
        }
        for (auto& s : dropped) {
            s.stream->CloseStream();
            s.stream->state_ = Stopped;
        }
        return;
    }
    std::lock_guard chain(chainLock_);
    for (auto it = chain_.begin(); it != chain_.end(); ++it) {
        if (it->stream == &stream) {
            chain_.erase(it);
            break;
        }
    }
}

int OutputEngine::Open(PcmStream& stream) {
    // One device: whatever played on it ends before it is closed.
    if (Slot* front = Front()) Leave(*front->stream);
    Leave(stream);
    ReleaseOutput();

    if (!stream.OpenStream()) return 0;

    const PcmStreamFormat f = stream.StreamFormat();
    format_ = audio::PcmFormat::Make(f.channels, f.sampleRate, f.bitsPerSample);
    const uint32_t bytes = static_cast<uint32_t>(format_.blockAlign) * kFramesPerBuffer;
    int allocation = 0;
    auto failing = [&] { return failAllocationAt_ > 0 && ++allocation == failAllocationAt_; };
    for (int i = 0; i < kBufferCount; ++i) {
        auto* h = failing() ? nullptr : new (std::nothrow) audio::BufferHeader;
        uint8_t* data =
            (h && !failing()) ? new (std::nothrow) uint8_t[bytes ? bytes : 1]() : nullptr;
        if (!h || !data) {
            delete h;
            FreeHeaders();
            failAllocationAt_ = 0;
            error_.Set(MessageOf(strings::kFailedToAllocateMemory, {}, ENOMEM));
            return 0;
        }
        h->data = data;
        h->bufferLength = bytes;
        h->bytesRecorded = 0;
        h->flags.store(audio::kHeaderDone);
        h->loops = 0;
        h->user = static_cast<uintptr_t>(i);
        headers_[i] = h;
    }
    failAllocationAt_ = 0;

    // The stream holds the ring from here on, so Close frees it even when
    // the device does not open.
    {
        std::lock_guard chain(chainLock_);
        chain_.emplace_front(&stream, ++nextSlotId_);
    }
    stream.state_ = Stopped;
    countedAs_ = Playing;
    analyser_.SetFormat(f.channels, f.bitsPerSample);
    auto device = audio::CreateDevice();
    device->SetOutputProcessor(&GainStage::ProcessFor, &gain_);
    if (device->Open(format_, &DoneCallback, this) != audio::Status::Ok) return 0;
    device_ = std::move(device);
    analyser_.ClearPeaks();
    return 1;
}

void OutputEngine::Close(PcmStream& stream) {
    Leave(stream);
    stream.CloseStream();
}

void OutputEngine::Detach(PcmStream& stream) {
    Leave(stream);
}

bool OutputEngine::Enqueue(PcmStream& next) {
    if (!Front() || !device_ || Find(next)) return false;
    if (!next.OpenStream()) return false;
    const PcmStreamFormat f = next.StreamFormat();
    if (f.channels != format_.channels ||
        f.sampleRate != static_cast<int32_t>(format_.sampleRate) ||
        f.bitsPerSample != format_.bitsPerSample) {
        next.CloseStream();
        return false;
    }
    next.state_ = Stopped;
    std::lock_guard chain(chainLock_);
    chain_.emplace_back(&next, ++nextSlotId_);
    return true;
}

bool OutputEngine::DropQueue() {
    std::list<Slot> dropped;
    {
        std::lock_guard chain(chainLock_);
        if (chain_.empty()) return true;
        // A queued stream the run has gone on into stays: it is being heard.
        auto keep = chain_.begin();
        while (std::next(keep) != chain_.end() && keep->end.load() >= 0) ++keep;
        dropped.splice(dropped.end(), chain_, std::next(keep), chain_.end());
    }
    for (auto& s : dropped) s.stream->CloseStream();
    return chain_.size() <= 1;
}

bool OutputEngine::HandOver(PcmStream& next) {
    Slot* front = Front();
    if (!front || Following() != &next || front->end.load() < 0 || IsPlaying(*front->stream))
        return false;
    PcmStream* old = front->stream;
    {
        std::lock_guard chain(chainLock_);
        old->state_ = Stopped;
        chain_.pop_front();
    }
    old->CloseStream();
    return true;
}

void OutputEngine::RewindQueue() {
    // The feeder has ended: nothing else reads the queue now.
    for (auto it = chain_.begin(); it != chain_.end(); ++it) {
        if (it->end.exchange(-1) < 0) break;
        auto next = std::next(it);
        if (next == chain_.end()) break;
        next->stream->SeekFrame(0);
        next->stream->state_ = Stopped;
        next->base = 0;
    }
}

void OutputEngine::Start(PcmStream& stream, PlayState state) {
    if (!IsFront(stream)) return;
    Stop(stream);
    JoinFeeder();
    if (!device_) {
        stream.state_ = Stopped;
        return;
    }
    countedAs_ = state;
    stream.state_ = state;
    try {
        feeder_ = std::thread([this] { RunFeeder(); });
    } catch (const std::system_error&) {
        stream.state_ = Stopped;
    }
}

void OutputEngine::Stop(PcmStream& stream) {
    StopRun(stream, true);
}

void OutputEngine::StopRun(PcmStream& stream, bool realign) {
    audio::AudioDevice* device = DeviceFor(stream);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok) return;
    Slot& front = *Front();
    // Past this stream's end the device plays the next one.
    const int64_t end = front.end.load();
    if (end >= 0 && samples > end) samples = static_cast<uint32_t>(end);
    const PlayState was = stream.state_.load();
    front.base = static_cast<int32_t>(
        SourceFrames(countedAs_.load(), static_cast<uint32_t>(front.base.load()), samples));
    stream.state_ = Stopped;
    if (device->Reset() != audio::Status::Ok) return;
    {
        std::lock_guard wait(runLock_);  // a running feeder holds it to its end
    }
    JoinFeeder();
    RewindQueue();
    // The stream has read ahead of what was heard by up to the whole ring;
    // move it back so that the next run starts where this one was stopped.
    if (realign && was != Stopped)
        front.base =
            static_cast<int32_t>(stream.SeekFrame(static_cast<uint32_t>(front.base.load())));
}

void OutputEngine::Halt() {
    if (Slot* front = Front(); front && device_) {
        front->stream->state_ = Stopped;
        device_->Reset();
    }
    JoinFeeder();
    RewindQueue();
}

void OutputEngine::JoinFeeder() {
    if (feeder_.joinable() && feeder_.get_id() != std::this_thread::get_id()) feeder_.join();
}

int32_t OutputEngine::GetPosition(PcmStream& stream) {
    audio::AudioDevice* device = DeviceFor(stream);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok || format_.sampleRate == 0)
        return 0;
    const Slot& front = *Front();
    const int64_t end = front.end.load();
    if (end >= 0 && samples > end) samples = static_cast<uint32_t>(end);
    const uint32_t frames =
        SourceFrames(countedAs_.load(), static_cast<uint32_t>(front.base.load()), samples);
    const double ms = static_cast<double>(frames) * 1000.0 / format_.sampleRate;
    return ms >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ms);
}

void OutputEngine::Seek(PcmStream& stream, int32_t positionMs) {
    const int32_t rate = stream.StreamFormat().sampleRate;
    double frame = rate * static_cast<double>(positionMs) * 0.001;
    if (!(frame > 0.0)) frame = 0.0;
    if (frame > static_cast<double>(UINT32_MAX)) frame = static_cast<double>(UINT32_MAX);
    if (!IsFront(stream)) {
        // A queued stream may be read by the run at any moment.
        if (!Find(stream)) stream.SeekFrame(static_cast<uint32_t>(frame));
        return;
    }
    const PlayState was = stream.state_.load();
    StopRun(stream, false);
    Front()->base = static_cast<int32_t>(stream.SeekFrame(static_cast<uint32_t>(frame)));
    if (was != Stopped) Start(stream, was);
}

int OutputEngine::IsPlaying(PcmStream& stream) {
    if (stream.state_.load() == Stopped) return 0;
    const Slot* slot = Find(stream);
    const int64_t end = slot ? slot->end.load() : -1;
    if (end < 0) return 1;
    // The run has gone on into the next stream: this one has ended once the
    // device has played up to the join.
    audio::AudioDevice* device = DeviceFor(stream);
    uint32_t samples = 0;
    if (!device || device->GetPosition(samples) != audio::Status::Ok) return 1;
    return samples < end ? 1 : 0;
}

void OutputEngine::ReachHeard(const PcmStream& stream) {
    // The meters follow the device's position, not its returned buffers,
    // which come back several at a time.
    uint32_t samples = 0;
    audio::AudioDevice* device = DeviceFor(stream);
    if (device && device->GetPosition(samples) == audio::Status::Ok) analyser_.Reach(samples);
}

void OutputEngine::GetLevels(const PcmStream& stream, float& left, float& right) {
    ReachHeard(stream);
    analyser_.GetLevels(left, right, stream.GetState() == Stopped);
}

void OutputEngine::GetSpectrum(const PcmStream& stream, float* bands) {
    ReachHeard(stream);
    analyser_.GetSpectrum(bands, stream.GetState() == Stopped);
}

void OutputEngine::RunFeeder() {
    std::unique_lock run(runLock_);
    analyser_.ClearAhead();  // the device counts from 0 again
    int priming = kPrimingBuffers;
    audio::AudioDevice* device = device_.get();
    // The open stream decides the speed and the stop. Chain lock held.
    auto frontState = [&] {
        return chain_.empty() ? PlayState::Stopped : chain_.front().stream->state_.load();
    };
    uint64_t srcId = 0;  // the slot being read; past the start it may have been handed over
    {
        std::lock_guard chain(chainLock_);
        if (chain_.empty()) return;
        srcId = chain_.front().id;
        if (!device || device->Pause() != audio::Status::Ok) {
            chain_.front().stream->state_ = Stopped;
            return;
        }
    }
    // A stream that left the chain (its item closed or destroyed) is not
    // read or touched again. Chain lock held.
    auto reachable = [&]() -> Slot* {
        for (auto& s : chain_)
            if (s.id == srcId) return &s;
        return nullptr;
    };
    const int blockAlign = format_.blockAlign;
    uint32_t written = 0;  // frames queued by this run: the device's count at their end
    for (;;) {
        freeSlots_.Acquire();
        audio::BufferHeader* h = headers_[ringIndex_];
        if ((h->flags.load() & audio::kHeaderPrepared) &&
            device->Unprepare(h) != audio::Status::Ok) {
            freeSlots_.Release();
            break;
        }
        // One reading of the state per buffer, so decimation matches the read.
        PlayState state;
        int n = 0;
        float gain = 1.0f;
        {
            std::lock_guard chain(chainLock_);
            state = frontState();
            Slot* src = nullptr;
            while (state != Stopped && (src = reachable())) {
                n = src->stream->ReadFrames(h->data, kFramesPerBuffer);
                gain = src->stream->Gain();
                auto it = chain_.begin();
                while (&*it != src) ++it;
                ++it;
                if (n > 0 || state != Playing || it == chain_.end() ||
                    src->stream->ContinuesInNewFormat())
                    break;
                // The end of this stream's data: the next one goes on in the
                // same ring, counted from its own start.
                src->end = written;
                it->base = static_cast<int32_t>(0u - written);
                it->stream->state_ = Playing;
                srcId = it->id;
            }
        }
        if (n <= 0) {
            freeSlots_.Release();
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
        analyser_.AnalyseAhead(h->data, written);
        if (device->Prepare(h) != audio::Status::Ok || device->Write(h) != audio::Status::Ok) {
            freeSlots_.Release();
            break;
        }
        written += h->bufferLength / static_cast<uint32_t>(blockAlign);
        if (priming != 0 && --priming == 0 && device->Restart() != audio::Status::Ok) {
            break;
        }
        ringIndex_ = (ringIndex_ + 1) % kBufferCount;
        // A Stop that came between the state check and the write has already
        // reset the device; hand this buffer back too rather than play it.
        std::unique_lock chain(chainLock_);
        if (frontState() == Stopped) {
            chain.unlock();
            device->Reset();
        }
    }
    {
        // Fewer than the priming count were queued: let them play (after a
        // device error too, or the wait below would last until a Stop).
        std::unique_lock chain(chainLock_);
        if (priming != 0 && frontState() != Stopped) {
            chain.unlock();
            device->Restart();
        }
    }
    {
        std::unique_lock wait(doneMutex_);
        doneCv_.wait(wait, [&] { return AllHeadersDone(); });
    }
    std::lock_guard chain(chainLock_);
    if (!chain_.empty()) chain_.front().stream->state_ = Stopped;
    if (Slot* src = reachable()) src->stream->state_ = Stopped;
}

}  // namespace tunara
