#pragma once
// A sound-only medium of the media toolbox (FLAC, Vorbis, Opus, AAC, AIFF,
// AU, MIDI, WMA...): the toolbox decodes it to 16-bit PCM and the output
// engine plays it like a WAV file, so volume, meters, capture and gapless
// joins are those of every other item. Movies with pictures stay with
// QuickTimeSource.
//
// The toolbox must have been started (media::StartMediaServices).
#include <cstdint>
#include <memory>
#include <string>

#include "engine/PcmSource.h"

namespace tunara {

class QuickTimeSource;

class MediaPcmSource : public PcmSource {
public:
    explicit MediaPcmSource(OutputEngine& engine);
    ~MediaPcmSource() override;

    // Format name, rates, duration and tags as the toolbox describes them.
    int LoadInfo() override;
    std::string GetTitle() const override;

    int OpenStream() override;
    int CloseStream() override;
    int ReadFrames(void* buffer, int frames) override;
    int WriteFrames(const void*, int) override { return 0; }
    uint32_t SeekFrame(uint32_t frame) override;

private:
    // The description of the medium (tags, format name), kept for the title.
    std::unique_ptr<QuickTimeSource> describer_;
    // The stream: only the feeder reads it while a run goes.
    void* decoder_ = nullptr;
    int64_t frames_ = -1;    // length when the toolbox knows it
    int64_t readFrame_ = 0;  // the next frame ReadFrames delivers
    int64_t decoderAt_ = 0;  // the next frame the decoder gives
};

}  // namespace tunara
