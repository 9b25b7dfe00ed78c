#pragma once
// MPEG audio Layer III decoder (MPEG-1, the MPEG-2 lower sampling rates, "LSF", and the
// MPEG-2.5 rates of 8 to 12 kHz; fixed bit rates and free format).
//
// One opaque context per stream; the caller supplies the stream bytes through a read callback
// and gets 16-bit PCM one MPEG frame per call. Terms used below:
//   sample        one 16-bit value of one channel;
//   MPEG frame    one coded frame: 1152 samples per channel (MPEG-1) or 576 (LSF);
//   granule       576 samples per channel (two per MPEG-1 frame, one per LSF frame).
//
// A context is used by one thread at a time; different contexts may run on different threads.
// Nothing is allocated after mpegDecOpen.
//
// Outcome of mpegDecDecodeFrame:
//
//   | result | samplesPerChannel | meaning                                                      |
//   |--------|-------------------|--------------------------------------------------------------|
//   | 0      | 1152 or 576       | an MPEG frame was decoded                                    |
//   | 0      | 0                 | first call: the first frame was located (channels reported)  |
//   | 0      | 0                 | the frame's main data lies before what we hold (after a seek |
//   |        |                   | or at the start of a cut stream): skipped silently           |
//   | 1001   | 0                 | end of data (also a truncated last frame); context usable    |
//   | -2     | 0                 | first call: the stream is Layer I or Layer II                |
//   | -3     | 0                 | first call: free format whose frame length cannot be measured|
//   | -4     | 0                 | first call: reserved sampling-rate index or version          |
//   | -5     | 0                 | damaged side information: this frame is abandoned; the next  |
//   |        |                   | call goes on with the next frame                             |
//   | -6     | 0                 | the data ends because the read callback reported a failure   |
//   |        |                   | (instead of 1001 or -1004)                                   |
//   | -1004  | 0                 | no confirmed frame within 13824 bits of search               |
//   | -18    | 0                 | null handle or context not valid                             |
//
// A frame is confirmed by the header that follows it, or by the end of the data or an ID3/APE
// tag right where it ends (a stream of one frame). After the first frame, a header right where
// the previous frame ended and of the same kind is taken as it is; any other (found by searching
// past damage, refused, or of another rate: a stream joined on) must be confirmed, and what is
// not is searched past, so damage never ends the stream.
#include <cstdint>

#include "mpeg/Header.h"

// Output of one call. `samples` must point to room for 1152 * 2 samples; samples are
// interleaved by channel.
struct MpegPcmBlock {
    int32_t channels;           // out: 1 or 2
    int32_t samplesPerChannel;  // out: 1152, 576 or 0
    int16_t* samples;           // in: the caller's buffer
};

// Ancillary bytes of the previous frame (only when option byte 2 is non-zero). At most
// `capacity` bytes are stored; `byteCount` is the number stored.
struct MpegAncillaryBlock {
    int32_t byteCount;  // out
    uint8_t* bytes;     // in: the caller's buffer (may be null when capacity is 0)
    int32_t capacity;   // in: room at `bytes`
};

// Supplies stream bytes: fill dst with up to *count bytes and set *count to the number
// delivered. Fewer than asked means the stream ends there. Return 0, or non-zero when the read
// failed: the stream then ends there too, but the decoder reports -6 instead of its end.
typedef int32_t (*MpegReadCallback)(uint8_t* dst, int32_t* count, void* user);

struct MpegDecContext;
typedef MpegDecContext* MpegDecHandle;

enum MpegDecStatus : int32_t {
    kMpegDecOk = 0,
    kMpegDecEndOfData = 1001,
    kMpegDecLayerRefused = -2,
    kMpegDecFreeFormatRefused = -3,
    kMpegDecBadSampleRate = -4,
    kMpegDecBadSideInfo = -5,
    kMpegDecReadError = -6,
    kMpegDecBadFlags = -11,
    kMpegDecNoContextMemory = -17,
    kMpegDecBadHandle = -18,
    kMpegDecBadSynthState = -19,
    kMpegDecNotOpen = -20,
    kMpegDecBadOptions = -1001,
    kMpegDecNoFrameFound = -1004,
};

// Text for any status above ("unknown status" otherwise); never null.
const char* mpegDecStatusText(int32_t status);

// Opens a context and reads the first 8192 bytes through `read`.
// options: bytes 0..3 must be < 5, < 4, < 6 and <= 3; byte 2 non-zero asks for ancillary data.
// flags: high byte 0 or 1 (decimation request, kept but without effect on the output).
// Returns 0, -1001 (options), -11 (flags), -19 (synthesis state not allocated), -17 (context,
// which holds the input buffer, not allocated), -18 (null callback or handle pointer).
// *handle is null on failure.
int32_t mpegDecOpen(const uint8_t options[4], uint16_t flags, MpegReadCallback read, void* user,
                    MpegDecHandle* handle);

// Decodes one MPEG frame; see the outcome table above. `header` is filled at each header parse
// (also when refused). `ancillary` may be null.
// The first call returns -2, -3 or -4 instead of -1004 when no frame is found but the same
// refused header appears at least twice (a Layer II or free-format stream, say).
// Returns 0, 1001, -2, -3, -4, -5, -6, -18, -1004.
int32_t mpegDecDecodeFrame(MpegHeaderWord* header, MpegPcmBlock* pcm, MpegAncillaryBlock* ancillary,
                           MpegDecHandle handle);

// After the caller has repositioned its input: refills, locates the next confirmed frame and
// clears the synthesis history. The main-data reservoir is kept, so frames whose main data
// reaches back before the new position come out as 0 samples; start a few frames early.
// Returns 0, -1004 (or a refusal as for the first decode call), -6, -18.
int32_t mpegDecReset(MpegDecHandle handle);

// The input byte offset, counted from mpegDecOpen or the last mpegDecReset, of the frame the
// last decode call read (decoded, skipped or abandoned), or of the frame located by the first
// call or a reset; -1 before any. A caller that knows where its frames lie tells from it which
// frames were lost in damage the decoder searched past.
int64_t mpegDecFrameOffset(MpegDecHandle handle);

// Receives the decoder's diagnostics: the particulars of damage it met ("Side info bad: ...").
typedef void (*MpegDiagnosticHook)(const char* message, void* user);

// Routes diagnostics of every context to `hook` (null: the default, standard error). Each
// context reports its first diagnostic only, so a damaged stream gives one line, not thousands.
// Set it before decoding starts; it is not synchronised with running decoders.
void mpegDecSetDiagnosticHook(MpegDiagnosticHook hook, void* user);

// Frees the context and sets *handle to null.
// Returns 0, -18 (null or invalid handle), -20 (not open), -19 (synthesis state damaged; the
// context is then not freed).
int32_t mpegDecClose(MpegDecHandle* handle);
