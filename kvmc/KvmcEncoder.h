#pragma once
// KVMC encoder ("KVMC 2"): 16-bit PCM in, fixed-size packets out.
//
// Terms:
//   hop (H)       samples per channel covered by one packet: 1024 below 16 kHz, 2048 below
//                 32 kHz, else 4096;
//   frame         one sample of every channel;
//   window        5 x H frames of interleaved 16-bit PCM (channel 0 first) handed to every
//                 kvmcEncodePacket call: 10 x H x channels bytes;
//   packet        exactly bytesPerPacket bytes (even), one per call.
//
// Calling order: kvmcOpen, kvmcConfigure once, kvmcEncodePacket once per packet, kvmcClose.
// The first call after configuration reads the whole window; every later call reads only the
// last hop (frames 4H..5H-1): the caller shifts its window left by H frames between calls and
// puts the new hop at the end. After the end of the source the caller zero-fills and calls
// four more times to flush the look-ahead.
//
// Everything is obtained at open; kvmcEncodePacket allocates nothing. A context is used by one
// thread at a time.
//
// Results:
//
//   | result | from                           | meaning                                         |
//   |--------|--------------------------------|-------------------------------------------------|
//   | 0      | all                            | success                                         |
//   | -1     | kvmcOpen                       | out of memory (kvmcClose releases what was got) |
//   | -2     | kvmcConfigure, kvmcEncodePacket| null or invalid handle, channels not 1 or 2,    |
//   |        |                                | rate outside 4000..96000, not configured, or    |
//   |        |                                | byte counts other than the window / packet size |
//   | -3001  | kvmcConfigure                  | bit rate too low for the stream                 |
#include "kvmc/KvmcStream.h"

struct KvmcEncoder;
typedef KvmcEncoder* KvmcHandle;

// Allocates the context, its tables and every work buffer. Returns 0 or -1; on -1 *handle
// still holds what was obtained and must be passed to kvmcClose.
int32_t kvmcOpen(KvmcHandle* handle);

// Derives every setting from the stream values and the record (null: the defaults, flags 2)
// and fills samplesPerPacket, subBlock and bytesPerPacket. Returns 0, -2 or -3001.
int32_t kvmcConfigure(KvmcHandle handle, KvmcStreamInfo* info, const KvmcParams* params);

// Encodes one packet. `inBytes` must be 10 x H x channels and `outBytes` bytesPerPacket.
// Writes exactly bytesPerPacket bytes at `out`. Returns 0 or -2.
int32_t kvmcEncodePacket(KvmcHandle handle, int32_t inBytes, const int16_t* in, int32_t outBytes,
                         uint8_t* out);

// Releases everything and clears *handle; a null pointer or null handle is ignored.
void kvmcClose(KvmcHandle* handle);
