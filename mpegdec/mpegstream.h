#pragma once
// The stream tier above the frame decoder: what a player or tool reads from a whole MPEG audio
// stream without decoding it. Plain C types, no allocation.
#include <stddef.h>
#include <stdint.h>

#include "mpeg/Header.h"

// What an encoder may note in the first frame of a stream: a "Xing"/"Info" block (with an
// optional LAME extension) or a "VBRI" block.
struct MpegStreamSummary {
    int64_t frames;          // frame count, 0 when not given
    int64_t bytes;           // byte count, 0 when not given
    int32_t variable;        // 1 for "Xing" and "VBRI" (variable rate), 0 for "Info"
    int32_t encoderDelay;    // samples the encoder added at the start, -1 when not given
    int32_t encoderPadding;  // samples added at the end, -1 when not given
};

// Bytes from the start of the first frame that hold every summary block.
#define MPEG_STREAM_SUMMARY_PROBE_BYTES 192

// Reads the summary from the first `size` bytes of a frame (its four header bytes first).
// Returns 1 when a block was found (and fills *out), 0 otherwise (*out zeroed, delay and
// padding -1).
int32_t mpegStreamReadSummary(const uint8_t* frame, size_t size, MpegStreamSummary* out);
