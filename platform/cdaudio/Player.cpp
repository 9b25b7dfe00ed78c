#include "platform/cdaudio/Player.h"

#include <algorithm>
#include <cstring>

#include "platform/cdaudio/CdAudio.h"

namespace tunara::cdaudio {

void ScaleStereo16(uint8_t* pcm, size_t bytes, float left, float right) {
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
        for (int c = 0; c < 2; ++c) {
            uint8_t* p = pcm + i + 2 * c;
            auto v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
            auto scaled = static_cast<int16_t>(v * (c == 0 ? left : right));
            p[0] = static_cast<uint8_t>(scaled);
            p[1] = static_cast<uint8_t>(static_cast<uint16_t>(scaled) >> 8);
        }
    }
}

Player::Player(ReadFn read, GoneFn gone) : read_(std::move(read)), gone_(std::move(gone)) {
    for (auto& s : slots_) {
        s.data.resize(static_cast<size_t>(kSectorsPerBuffer) * kBytesPerCdFrame);
        s.header.data = s.data.data();
        s.header.user = reinterpret_cast<uintptr_t>(&s);
    }
}

Player::~Player() {
    Shutdown();
}

void Player::OnDone(audio::Message message, audio::BufferHeader*, void* self) {
    if (message != audio::Message::Done) return;
    auto* player = static_cast<Player*>(self);
    std::lock_guard lock(player->mutex_);
    ++player->freeSlots_;
    player->wake_.notify_all();
}

bool Player::OpenOutput() {
    if (output_) return true;
    auto device = audio::CreateDevice();
    if (device->Open(audio::PcmFormat::Make(2, 44100, 16), &Player::OnDone, this) !=
        audio::Status::Ok)
        return false;
    for (auto& s : slots_) {
        if (device->Prepare(&s.header) != audio::Status::Ok) {
            device->Close();
            return false;
        }
    }
    output_ = std::move(device);
    std::string card = output_->MixerCard();
    if (!card.empty()) {
        auto mixer = mixer::OpenAlsaMixer(card, {});
        mixer::LineInfo line;
        mixer::ControlInfo control;
        if (mixer && mixer->GetLineByComponentType(mixer::ComponentType::CompactDisc, line) &&
            line.controlCount > 0 && mixer->GetVolumeControl(line.lineId, control) &&
            control.maximum > control.minimum) {
            cdLine_ = std::move(mixer);
            cdControl_ = control.controlId;
            cdMin_ = control.minimum;
            cdMax_ = control.maximum;
        }
    }
    return true;
}

void Player::ApplyCdVolume(uint8_t* pcm, size_t bytes) {
    if (!cdLine_) return;
    long values[2] = {cdMax_, cdMax_};
    if (!cdLine_->GetControlValues(cdControl_, values, 2)) return;
    auto gain = [this](long v) {
        return std::clamp(static_cast<float>(v - cdMin_) / static_cast<float>(cdMax_ - cdMin_),
                          0.0f, 1.0f);
    };
    float left = gain(values[0]), right = gain(values[1]);
    if (left < 1.0f || right < 1.0f) ScaleStereo16(pcm, bytes, left, right);
}

bool Player::Play(uint32_t fromFrame, uint32_t toFrame) {
    Stop();
    if (!OpenOutput()) return false;
    std::lock_guard lock(mutex_);
    stopAsked_ = false;
    running_ = true;
    discGone_ = false;
    startFrame_ = fromFrame;
    endFrame_ = std::max(fromFrame, toFrame);
    stoppedAt_ = fromFrame;
    thread_ = std::thread(&Player::Run, this, fromFrame, endFrame_);
    return true;
}

uint32_t Player::PlayedFrames() {
    uint32_t pcm = 0;
    if (output_) output_->GetPosition(pcm);
    return pcm / kPcmFramesPerCdFrame;
}

void Player::Run(uint32_t fromFrame, uint32_t toFrame) {
    uint32_t next = fromFrame;
    size_t slot = 0;
    bool gone = false;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (next >= toFrame) {
                // Everything is queued: wait for the device to play it out.
                wake_.wait(lock, [&] { return stopAsked_ || freeSlots_ == kBuffers; });
                break;
            }
            wake_.wait(lock, [&] { return stopAsked_ || freeSlots_ > 0; });
            if (stopAsked_) break;
        }
        Slot& s = slots_[slot];
        slot = (slot + 1) % kBuffers;
        int count = static_cast<int>(std::min<uint32_t>(kSectorsPerBuffer, toFrame - next));
        size_t bytes = static_cast<size_t>(count) * kBytesPerCdFrame;
        if (gone_ && gone_()) {
            gone = true;
            break;
        }
        if (!read_(static_cast<int32_t>(next) - kLeadInFrames, count, s.data.data())) {
            // A scratch plays as a gap, not as the end of the disc.
            std::memset(s.data.data(), 0, bytes);
        }
        ApplyCdVolume(s.data.data(), bytes);
        s.header.bufferLength = static_cast<uint32_t>(bytes);
        {
            std::lock_guard lock(mutex_);
            --freeSlots_;
        }
        if (output_->Write(&s.header) != audio::Status::Ok) {
            std::lock_guard lock(mutex_);
            ++freeSlots_;
            break;
        }
        next += static_cast<uint32_t>(count);
    }
    uint32_t heard = fromFrame + PlayedFrames();
    {
        // Settle the position before the reset takes the device's count to 0.
        std::lock_guard lock(mutex_);
        stoppedAt_ = (stopAsked_ || gone) ? std::min(heard, toFrame) : toFrame;
        discGone_ = gone;
        running_ = false;
    }
    output_->Reset();
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return freeSlots_ == kBuffers; });
}

void Player::Join() {
    if (thread_.joinable()) thread_.join();
}

void Player::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopAsked_ = true;
        wake_.notify_all();
    }
    Join();
}

void Player::SetPosition(uint32_t frame) {
    Stop();
    std::lock_guard lock(mutex_);
    stoppedAt_ = frame;
}

uint32_t Player::Position() {
    {
        std::lock_guard lock(mutex_);
        if (!running_) return stoppedAt_;
    }
    uint32_t heard = PlayedFrames();
    std::lock_guard lock(mutex_);
    if (!running_) return stoppedAt_;
    return std::min(startFrame_ + heard, endFrame_);
}

bool Player::Playing() {
    std::lock_guard lock(mutex_);
    return running_;
}

bool Player::TakeDiscGone() {
    std::lock_guard lock(mutex_);
    bool gone = discGone_;
    discGone_ = false;
    return gone;
}

void Player::Shutdown() {
    Stop();
    if (output_) {
        output_->Reset();
        for (auto& s : slots_) output_->Unprepare(&s.header);
        output_->Close();
        output_.reset();
        cdLine_.reset();
    }
}

}  // namespace tunara::cdaudio
