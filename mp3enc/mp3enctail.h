#pragma once
// The end of a stream: what a caller codes after its last block so that a decoder's output
// holds every input sample. Built on mp3enc.h alone.
//
// A decoder's output lags this encoder's input by MP3ENC_STREAM_DELAY samples per channel (the
// encoder's look-ahead, both filter banks, the overlap of the transform and a Layer III
// decoder's own 529 samples), at every sampling rate and in either quality. The input's last
// samples therefore reach the output only when that many more samples of silence follow them.
#include <cstdint>

#include "mp3enc/mp3enc.h"

#define MP3ENC_STREAM_DELAY 1633

// MPEG frames of silence to code after `samplesPerChannel` input samples (coded as
// ceil(samplesPerChannel / samplesPerFrame) frames, the last one padded with zeros) so that the
// delay is pushed out. 0 for an empty input or a bad frame size. For undecimated input.
int32_t mp3EncTailFrames(int64_t samplesPerChannel, int32_t samplesPerFrame);

// Codes those frames of silence through mp3EncEncodeFrame; `config` may be null. Call after the
// last block and before mp3EncClose. Returns 0 or mp3EncEncodeFrame's first failure (-18, -20,
// -21, -22, -23); -21 also for a channel count or frame size mp3EncEncodeFrame cannot take.
int32_t mp3EncEncodeTail(Mp3EncConfig* config, int32_t channels, int32_t samplesPerFrame,
                         int64_t samplesPerChannel, Mp3EncHandle handle);
