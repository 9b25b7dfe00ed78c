#include "sources/KvmcMovieSource.h"

#include <algorithm>
#include <cstring>

#include "platform/io/Paths.h"
#include "platform/movie/MovieWriter.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"

namespace tunara {
namespace {

// Channels, rate, bit rate and packet layout as our decoder would take them: a crafted
// extension must not reach the list or the output with a stream nothing can play.
bool DecoderAccepts(const KvmcStreamInfo& info, const KvmcParams& params) {
    KvmcDecHandle trial = nullptr;
    if (kvmcDecOpen(&trial) != kKvmcOk) return false;
    const bool ok = kvmcDecConfigure(trial, &info, &params) == kKvmcOk;
    kvmcDecClose(&trial);
    return ok;
}

}  // namespace

bool IsKvmcMovie(const std::string& path) {
    movie::MovieReader reader;
    if (reader.Open(path) != movie::MovieReadStatus::kOk) return false;
    const auto& s = reader.Sound();
    KvmcStreamInfo info{};
    KvmcParams params{};
    return s.dataFormat == movie::FourCc("KVM2") &&
           kvmcReadExtension(s.waveExtension.data(), int32_t(s.waveExtension.size()), &info,
                             &params) == kKvmcOk;
}

KvmcMovieSource::KvmcMovieSource(OutputEngine& engine) : PcmSource(engine) {}

KvmcMovieSource::~KvmcMovieSource() {
    // A feeder thread still reading this object must end before the stream goes.
    LeaveEngine();
    if (IsPlaying()) Stop();
    CloseStream();
}

bool KvmcMovieSource::Describe(movie::MovieReader& reader) {
    if (reader.Open(location_) != movie::MovieReadStatus::kOk) return false;
    const auto& s = reader.Sound();
    if (s.dataFormat != movie::FourCc("KVM2") ||
        kvmcReadExtension(s.waveExtension.data(), int32_t(s.waveExtension.size()), &info_,
                          &params_) != kKvmcOk ||
        info_.samplesPerPacket <= 0 || info_.sampleRate <= 0 || !DecoderAccepts(info_, params_))
        return false;
    frames_ = int64_t(reader.SampleCount()) * info_.samplesPerPacket;
    if (s.playDuration >= 0 && s.mediaTimeScale == info_.sampleRate)
        frames_ = std::min(frames_, s.playDuration);
    return true;
}

int KvmcMovieSource::LoadInfo() {
    title_ = io::FileTitle(location_);
    movie::MovieReader reader;
    if (!Describe(reader)) {
        SetError(strings::kWavFailedToOpen);
        return 0;
    }
    formatName_ = "KVMC 2";
    bitRate_ = info_.bitRate;
    sampleRate_ = info_.sampleRate;
    channels_ = info_.channels;
    bitsPerSample_ = 16;
    durationMs_ = int32_t(std::min<int64_t>(frames_ * 1000 / info_.sampleRate, INT32_MAX));
    // A movie's own texts win over the file name.
    const movie::MovieTexts& texts = reader.Texts();
    if (!texts.title.empty()) title_ = texts.title;
    artist_ = texts.artist;
    album_ = texts.album;
    category_ = texts.genre;
    return 1;
}

int KvmcMovieSource::OpenStream() {
    CloseStream();
    if (!Describe(reader_) || kvmcDecOpen(&decoder_) != kKvmcOk ||
        kvmcDecConfigure(decoder_, &info_, &params_) != kKvmcOk) {
        CloseStream();
        SetError(strings::kWavFailedToOpen);
        return 0;
    }
    sampleRate_ = info_.sampleRate;
    channels_ = info_.channels;
    bitsPerSample_ = 16;
    hop_.assign(size_t(info_.samplesPerPacket * info_.channels), 0);
    packet_.reserve(size_t(info_.bytesPerPacket));
    pos_ = 0;
    current_ = -1;
    readErrorShown_ = false;
    return 1;
}

int KvmcMovieSource::CloseStream() {
    kvmcDecClose(&decoder_);
    reader_.Close();
    current_ = -1;
    return 1;
}

bool KvmcMovieSource::Load(int64_t packet) {
    if (packet == current_) return true;
    if (packet < 0 || packet >= int64_t(reader_.SampleCount())) return false;
    int64_t from = packet;
    if (packet != current_ + 1) {
        from = std::max<int64_t>(0, packet - 2);
        kvmcDecReset(decoder_);
    }
    for (int64_t p = from; p <= packet; ++p) {
        // A packet the file no longer holds ends the item: playing on as silence would hide
        // that the movie is gone. A packet the decoder finds damaged is its silence.
        if (!reader_.ReadSample(size_t(p), packet_)) {
            current_ = -1;
            if (!readErrorShown_.exchange(true))
                SetError(UserMessage{0, "The file %1 could not be read.", location_});
            return false;
        }
        const int32_t rc = kvmcDecDecodePacket(decoder_, int32_t(packet_.size()), packet_.data(),
                                               int32_t(hop_.size() * 2), hop_.data());
        if (rc != kKvmcOk && rc != kKvmcDamagedPacket) std::fill(hop_.begin(), hop_.end(), 0);
    }
    current_ = packet;
    return true;
}

int KvmcMovieSource::ReadFrames(void* buffer, int frames) {
    if (!decoder_ || frames <= 0) return 0;
    const int H = info_.samplesPerPacket, ch = info_.channels;
    int64_t start = pos_, end = std::min<int64_t>(frames_, pos_ + frames);
    if (GetState() == PlayState::Rewind) {
        end = pos_;
        start = std::max<int64_t>(0, pos_ - frames);
    }
    auto* out = static_cast<int16_t*>(buffer);
    int64_t f = start;
    while (f < end) {
        if (!Load(f / H)) break;
        const int64_t inHop = f % H, take = std::min<int64_t>(H - inHop, end - f);
        std::memcpy(out, hop_.data() + inHop * ch, size_t(take * ch) * sizeof(int16_t));
        out += take * ch;
        f += take;
    }
    const int got = int(f - start);
    pos_ = GetState() == PlayState::Rewind ? start : f;
    return got;
}

int KvmcMovieSource::WriteFrames(const void*, int) {
    return 0;
}

uint32_t KvmcMovieSource::SeekFrame(uint32_t frame) {
    pos_ = std::min<int64_t>(frame, frames_);
    return uint32_t(pos_);
}

}  // namespace tunara
