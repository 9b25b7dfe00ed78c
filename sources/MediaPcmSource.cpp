#include "sources/MediaPcmSource.h"

#include <algorithm>
#include <limits>

#include "platform/media/MediaToolbox.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/QuickTimeSource.h"

namespace tunara {

MediaPcmSource::MediaPcmSource(OutputEngine& engine) : PcmSource(engine) {}

MediaPcmSource::~MediaPcmSource() {
    // A feeder thread still reading this object must end before the stream goes.
    LeaveEngine();
    if (IsPlaying()) Stop();
    CloseStream();
}

int MediaPcmSource::LoadInfo() {
    describer_ = std::make_unique<QuickTimeSource>();
    describer_->SetLocation(location_);
    const int loaded = describer_->LoadInfo();
    title_ = describer_->GetTitle();
    if (!loaded) return 0;
    formatName_ = describer_->GetFormatName();
    bitRate_ = describer_->GetBitRate();
    sampleRate_ = describer_->GetSampleRate();
    channels_ = std::min<int32_t>(describer_->GetChannels(), 2);
    durationMs_ = describer_->GetDuration();
    for (auto [mine, theirs] : {std::pair{&artist_, describer_->GetArtist()},
                                {&album_, describer_->GetAlbum()},
                                {&category_, describer_->GetCategory()}}) {
        if (!theirs.empty()) *mine = theirs;
    }
    return 1;
}

std::string MediaPcmSource::GetTitle() const {
    return describer_ ? describer_->GetTitle() : title_;
}

int MediaPcmSource::OpenStream() {
    CloseStream();
    TmPcmFormat format{};
    const int32_t status = media::OpenPcm(location_, &format, &decoder_);
    if (status != media::kTmOk || !decoder_) {
        decoder_ = nullptr;
        SetError(status == media::kTmCantMakeMovie ? strings::kMediaUnknownFormat
                                                   : strings::kMediaFailedToOpen);
        return 0;
    }
    sampleRate_ = static_cast<int32_t>(format.rate);
    channels_ = format.channels;
    bitsPerSample_ = format.bitsPerSample;
    frames_ = format.frames;
    if (durationMs_ == 0 && frames_ > 0)
        durationMs_ = static_cast<int32_t>(
            std::min<int64_t>(frames_ * 1000 / format.rate, std::numeric_limits<int32_t>::max()));
    readFrame_ = decoderAt_ = 0;
    return 1;
}

int MediaPcmSource::CloseStream() {
    if (decoder_) media::ClosePcm(decoder_);
    decoder_ = nullptr;
    return 1;
}

int MediaPcmSource::ReadFrames(void* buffer, int frames) {
    if (!decoder_ || frames <= 0) return 0;
    // The decoder only reads forward: going back is a seek per block.
    int64_t from = readFrame_;
    int64_t count = frames;
    const bool backward = GetState() == PlayState::Rewind;
    if (backward) {
        count = std::min<int64_t>(count, readFrame_);
        from = readFrame_ - count;
    }
    if (count <= 0) return 0;
    if (from != decoderAt_) decoderAt_ = media::SeekPcm(decoder_, from);
    if (decoderAt_ != from) return 0;
    const int got = media::ReadPcm(decoder_, buffer, static_cast<int32_t>(count));
    decoderAt_ += got;
    readFrame_ = backward ? from : decoderAt_;
    return got;
}

uint32_t MediaPcmSource::SeekFrame(uint32_t frame) {
    if (!decoder_) return 0;
    int64_t to = frame;
    if (frames_ >= 0) to = std::min(to, frames_);
    if (to != decoderAt_) decoderAt_ = media::SeekPcm(decoder_, to);
    readFrame_ = decoderAt_;
    return static_cast<uint32_t>(readFrame_);
}

}  // namespace tunara
