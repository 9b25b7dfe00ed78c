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

// Samples a Layer III decoder's output lags its input by; encoders count their delay and padding
// without it.
#define MPEG_STREAM_DECODER_DELAY 529

// Where the wanted samples lie in a decoder's output, counted from the first frame after the
// summary frame: skip `skip` samples per channel, then keep `keep`.
struct MpegStreamTrim {
    int64_t skip;
    int64_t keep;
};

// The trim for `frames` audio frames of `samplesPerFrame` samples (the summary frame not
// counted) given an encoder's delay and padding (-1 when not given: nothing trimmed).
MpegStreamTrim mpegStreamTrim(int64_t frames, int32_t samplesPerFrame, int32_t encoderDelay,
                              int32_t encoderPadding);

// Reads an iTunes-style "iTunSMPB" value (" 00000000 00000210 000003C8 0000000000ABCDEF ...",
// hexadecimal: a zero word, the delay, the padding, the sample count). Returns 1 and fills
// *delay and *padding when the text has that form, 0 otherwise.
int32_t mpegStreamParseSmpb(const char* text, int32_t* delay, int32_t* padding);

// Looks for a confirmed Layer III frame header in data[0..size) starting at `from` and no later
// than `from + searchBytes`. A header is confirmed when the next two headers follow it at their
// frame lengths with the same version and sampling rate, or when the chain ends exactly at the
// end of the data (only when `dataIsComplete`) or at a tag ("TAG", "APETAGEX", "ID3").
// Returns the offset and fills *header (may be null), or -1 when none was found.
int64_t mpegStreamFindFrame(const uint8_t* data, size_t size, size_t from, size_t searchBytes,
                            int32_t dataIsComplete, MpegHeaderWord* header);

// The frame length in bytes of the header at `p` (4 bytes), 0 when it is not a usable Layer III
// header (bad sync, free format, reserved rate or version); when `like` is non-zero the version and
// rate must match that header word's.
int32_t mpegStreamFrameBytesAt(const uint8_t* p, MpegHeaderWord like);

// As mpegStreamFrameBytesAt, and a free-format frame measures `freeBytes` plus its padding byte
// (0 = not accepted).
int32_t mpegStreamFrameBytesLike(const uint8_t* p, MpegHeaderWord like, int32_t freeBytes);

// The largest free-format frame measured.
#define MPEG_STREAM_MAX_FREE_BYTES 3600

// Free format: the length without padding of the frame at data[at], the distance to the next
// header of the same stream; 0 when it is not a free-format Layer III header or none follows.
int32_t mpegStreamFreeFormatBytes(const uint8_t* data, size_t size, size_t at);

// As mpegStreamFindFrame, and a free-format stream is measured: *freeBytes (may be null) gets its
// frame length without padding, 0 for a stream with a bit rate in its headers.
int64_t mpegStreamFindFrameFree(const uint8_t* data, size_t size, size_t from, size_t searchBytes,
                                int32_t dataIsComplete, MpegHeaderWord* header, int32_t* freeBytes);

// Junk before the first frame is searched this far.
#define MPEG_STREAM_JUNK_BYTES 65536

// The frames of a whole stream held in memory.
struct MpegStreamLayout {
    int64_t firstFrame;    // offset of the first confirmed frame (the summary frame, if any)
    int64_t audioFrame;    // offset of the first audio frame (after the summary frame)
    int64_t frames;        // audio frames, past damaged stretches (resynchronised)
    MpegHeaderWord first;  // the first frame's header
    MpegStreamSummary summary;
    int32_t freeBytes;  // free format: frame length without padding; 0 otherwise
};

// Finds the first confirmed frame within MPEG_STREAM_JUNK_BYTES, reads its summary and counts the
// audio frames that follow, searching past damage for the next confirmed frame. Returns 1, or 0
// when no frame was found (*out then has firstFrame -1).
int32_t mpegStreamLayout(const uint8_t* data, size_t size, MpegStreamLayout* out);

// Layer I and II, which this decoder leaves to the media framework: the bit rate in bit/s of a
// header word (0 when not Layer I or II or the index is free or forbidden), and the frame length
// in bytes of the header at `p` (0 when not a usable Layer I/II header; with `like` non-zero the
// layer, version and rate must match that word's).
int32_t mpegStreamLayer12Bitrate(MpegHeaderWord w);
int32_t mpegStreamLayer12FrameBytes(const uint8_t* p, MpegHeaderWord like);

// Whether data[0..size) holds a Layer I or II stream: a header within MPEG_STREAM_JUNK_BYTES
// followed at their lengths by two more of the same layer, version and rate (or by the end of
// complete data, or a tag). Returns its offset and fills *header (may be null), -1 when none.
int64_t mpegStreamFindLayer12(const uint8_t* data, size_t size, int32_t dataIsComplete,
                              MpegHeaderWord* header);
