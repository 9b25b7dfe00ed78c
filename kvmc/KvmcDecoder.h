#pragma once
// KVMC decoder: packets in, H frames of interleaved 16-bit PCM out.
//
// Calling order: kvmcDecOpen, kvmcDecConfigure once (the stream values and the record of the
// "KVCA" and "KVCP" atoms), kvmcDecDecodePacket once per packet in stream order,
// kvmcDecClose. Packet p gives source frames pH .. pH + H - 1: the encoder's look-ahead is
// already taken out, so the output lines up with the source and the flush packets carry the
// tail of the source followed by silence (the caller cuts at the stream's length).
// kvmcDecReset forgets the signal of earlier packets (after a seek).
//
// Nothing is allocated after kvmcDecConfigure.
//
//   | result | from                 | meaning                                                 |
//   |--------|----------------------|---------------------------------------------------------|
//   | 0      | all                  | success                                                 |
//   | -1     | kvmcDecOpen          | out of memory (kvmcDecClose releases what was got)      |
//   | -2     | all but Open         | null or invalid handle, stream values that are not a    |
//   |        |                      | KVMC stream, not configured, or byte counts other than  |
//   |        |                      | bytesPerPacket / 2 x H x channels                       |
//   | -3001  | kvmcDecConfigure     | bit rate too low for the stream                         |
//   | -3002  | kvmcDecDecodePacket  | damaged packet: its hop was written as silence and      |
//   |        |                      | decoding goes on with the next packet                   |
#include "kvmc/KvmcStream.h"

enum : int32_t { kKvmcDamagedPacket = -3002 };

struct KvmcDecoder;
typedef KvmcDecoder* KvmcDecHandle;

int32_t kvmcDecOpen(KvmcDecHandle* handle);
// `info` must hold the seven stream values as stored; they are checked against the values
// that channels, sampleRate and bitRate imply. `params` null: the defaults with flags 2.
int32_t kvmcDecConfigure(KvmcDecHandle handle, const KvmcStreamInfo* info,
                         const KvmcParams* params);
// `inBytes` must be bytesPerPacket, `outBytes` 2 x H x channels.
int32_t kvmcDecDecodePacket(KvmcDecHandle handle, int32_t inBytes, const uint8_t* in,
                            int32_t outBytes, int16_t* out);
int32_t kvmcDecReset(KvmcDecHandle handle);
void kvmcDecClose(KvmcDecHandle* handle);
