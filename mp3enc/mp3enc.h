#pragma once
// MPEG audio Layer III encoder (MPEG-1 and the MPEG-2 lower sampling rates, "LSF").
//
// One opaque context per stream; the caller hands in 16-bit PCM one MPEG frame at a time and
// receives the coded bytes through a write callback, in stream order. Terms:
//   sample        one 16-bit value of one channel;
//   MPEG frame    one coded frame: 1152 samples per channel (MPEG-1) or 576 (LSF);
//   granule       576 samples per channel (two per MPEG-1 frame, one per LSF frame).
//
// Everything the encoder needs is allocated by mp3EncOpen; nothing is allocated per frame.
// A context is used by one thread at a time; different contexts may run on different threads.
//
// A frame's main data may start in earlier frames (the bit reservoir), so the bytes of the
// last frames reach the callback only when mp3EncClose runs.
//
// Outcome of mp3EncEncodeFrame:
//
//   | result | meaning                                                                   |
//   |--------|---------------------------------------------------------------------------|
//   | 0      | the frame was coded; its bytes are queued or already written              |
//   | -18    | null handle or context not valid                                          |
//   | -20    | context not open                                                          |
//   | -21    | null or malformed PCM block (wrong channel or sample count)               |
//   | -22    | the write callback did not accept every byte; the stream is broken        |
//   | -23    | the frame queue is full (cannot happen with valid streams); frame dropped |
#include <cstdint>

#include "mpeg/Header.h"

// Receives *count coded bytes; must set *count to the number accepted. Accepting fewer
// than given is a write failure (status -22). The return value is ignored.
typedef int32_t (*Mp3WriteCallback)(const uint8_t* bytes, int32_t* count, void* user);

// Option bytes given at open (and repeated in each frame's configuration):
//   [4] input layout: 0x40 one channel, 0x80 two channels (exactly one of these bits);
//   [5] decimation: 0 none, 1 the input runs at twice the stream's rate (LSF streams only);
//   [6] padding: 0 automatic, 1 never pad, 2 always pad;
//   [2] 5 enables ancillary data;
//   [0], [1], [3] are not examined (input samples are always 16-bit).
constexpr int32_t kMp3EncOptionBytes = 7;

struct Mp3EncConfig {
    MpegHeaderWord header;  // out: the header of the frame just coded (padding bit included)
    uint8_t options[kMp3EncOptionBytes];
};

// One MPEG frame of input: `samplesPerChannel` must equal the samples per frame given by
// mp3EncOpen and `channels` the input layout; samples are interleaved by channel. A short
// last block is padded with zeros by the caller.
struct Mp3PcmBlock {
    int32_t channels;
    int32_t samplesPerChannel;
    const int16_t* samples;
};

// Ancillary bytes to place after the frame's main data (only when option byte 2 is 5).
struct Mp3AncillaryBlock {
    int32_t byteCount;
    const uint8_t* bytes;
};

struct Mp3EncContext;
typedef Mp3EncContext* Mp3EncHandle;

enum Mp3EncStatus : int32_t {
    kMp3EncOk = 0,
    kMp3EncBadLayer = -2,
    kMp3EncBadBitrate = -3,
    kMp3EncBadSampleRate = -4,
    kMp3EncBadEmphasis = -5,
    kMp3EncBadDecimation = -11,
    kMp3EncBadLayout = -12,
    kMp3EncNoContextMemory = -17,
    kMp3EncBadHandle = -18,
    kMp3EncBadAnalysisState = -19,
    kMp3EncNotOpen = -20,
    kMp3EncBadPcmBlock = -21,
    kMp3EncWriteFailed = -22,
    kMp3EncQueueFull = -23,
    kMp3EncBadFastFlag = -3003,
};

// Text for any status above ("unknown status" otherwise); never null.
const char* mp3EncStatusText(int32_t status);

// Opens an encoder for the stream described by `header` (Layer III; ID, sampling-rate index,
// bitrate index, mode, private bit, copyright, original and emphasis are taken from it; the
// padding bit is decided per frame; no CRC is ever written). A joint-stereo mode is coded as
// mid/side (mode extension 2) by the fast encoder; in high quality each frame is mid/side or
// left/right (mode extension 0): mid/side unless the model finds left/right clearly cheaper.
// Content above a cut-off that rises with the bits per channel (17 kHz at 128 kbit/s joint
// stereo, 20.5 kHz from 320) is filtered out. fast: 0 high quality (psychoacoustic model),
// 1 fast.
// *samplesPerFrame receives the input samples per channel of one call: 1152 (MPEG-1) or 576
// (LSF), doubled when decimating.
// Checks, in order: -4 (reserved sampling-rate index), -2 (not Layer III), -3 (bitrate index
// 15; 0, free format, is refused too), -3003 (fast flag), -5 (emphasis 2), -11 (option byte 5
// not 0 or 1, or 1 with an MPEG-1 stream), -19 (analysis state not allocated), -12 (input
// layout), -17 (context not allocated), -18 (null callback or out pointers).
// *handle is null on failure.
int32_t mp3EncOpen(Mp3WriteCallback write, void* user, MpegHeaderWord header,
                   const uint8_t options[kMp3EncOptionBytes], int32_t* samplesPerFrame,
                   int32_t fast, Mp3EncHandle* handle);

// Codes one MPEG frame; see the outcome table above. `config` and `ancillary` may be null.
int32_t mp3EncEncodeFrame(Mp3EncConfig* config, const Mp3PcmBlock* pcm,
                          const Mp3AncillaryBlock* ancillary, Mp3EncHandle handle);

// Switches the encoder to a variable bit rate before its first frame: each frame then takes the
// smallest bit rate (from the lowest of its version) whose quantisation keeps the noise under
// the psychoacoustic mask, drawing on the bit reservoir; the open header's bit rate no longer
// counts, frames are never padded and ancillary data is not placed. quality: 0 (largest files,
// least noise) to 9 (smallest). Returns 0, -18, -20, -3003 (the fast encoder has no model to
// follow) or -3 (quality out of range).
int32_t mp3EncSetVbr(Mp3EncHandle handle, int32_t quality);

// Completes and writes every queued frame, hands the rest of the output to the callback, frees
// the context and sets *handle to null.
// Returns 0, -18 (null or invalid handle), -20 (not open), -19 (analysis state damaged; the
// context is then not freed), -22 (the final write failed; the context is freed).
int32_t mp3EncClose(Mp3EncHandle* handle);
