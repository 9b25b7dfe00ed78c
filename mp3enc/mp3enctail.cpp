// The frames of silence that end a stream.
#include "mp3enc/mp3enctail.h"

namespace {

constexpr int32_t kMaxBlockSamples = 1152 * 2;  // per call, all channels
const int16_t kSilence[kMaxBlockSamples] = {};

int64_t FramesFor(int64_t samples, int32_t samplesPerFrame) {
    return (samples + samplesPerFrame - 1) / samplesPerFrame;
}

}  // namespace

int32_t mp3EncTailFrames(int64_t samplesPerChannel, int32_t samplesPerFrame) {
    if (samplesPerChannel <= 0 || samplesPerFrame <= 0) return 0;
    return int32_t(FramesFor(samplesPerChannel + MP3ENC_STREAM_DELAY, samplesPerFrame) -
                   FramesFor(samplesPerChannel, samplesPerFrame));
}

int32_t mp3EncEncodeTail(Mp3EncConfig* config, int32_t channels, int32_t samplesPerFrame,
                         int64_t samplesPerChannel, Mp3EncHandle handle) {
    if (channels < 1 || channels > 2 || samplesPerFrame <= 0 ||
        int64_t(samplesPerFrame) * channels > kMaxBlockSamples)
        return kMp3EncBadPcmBlock;
    const Mp3PcmBlock silence{channels, samplesPerFrame, kSilence};
    for (int32_t i = mp3EncTailFrames(samplesPerChannel, samplesPerFrame); i > 0; --i) {
        const int32_t status = mp3EncEncodeFrame(config, &silence, nullptr, handle);
        if (status != kMp3EncOk) return status;
    }
    return kMp3EncOk;
}
