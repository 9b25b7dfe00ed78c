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
#include <cstdint>

enum : int32_t {
    kKvmcOk = 0,
    kKvmcNoMemory = -1,
    kKvmcBadArgument = -2,
    kKvmcRateTooLow = -3001,
};
const char* kvmcStatusText(int32_t status);

// Coding options (KvmcParams::flags).
enum : int32_t {
    kKvmcFlagRowSubPackets = 0x01,  // tonal data in five sub-packets, one per analysis row
    kKvmcFlagChecksum = 0x02,       // packet type 2 with a 16-bit checksum (else type 3)
    kKvmcFlagAuxPacket = 0x04,      // normal mode: auxiliary analysis into sub-packet 15
    kKvmcFlagAuxOnly = 0x08,        // normal mode, without 0x40: auxiliary analysis, no packet
    kKvmcFlagAltTonal = 0x10,       // alternative tonal sub-packet types, header sub-packet 13
    kKvmcFlagNormalMode = 0x20,     // forces the normal (not wide-band) mode
    kKvmcFlagRefinedTables = 0x40,  // per-resolution tables built once at configuration
};

// The caller's parameter record. A float outside 0..1 (or NaN) keeps its default
// (1.0, 0.0, 0.5, 0.5); flags are always taken.
struct KvmcParams {
    float bandTop;
    float bandBottom;
    float gainA;
    float gainB;
    int32_t flags;
};

// version, channels, sampleRate and bitRate are set by the caller; the rest by kvmcConfigure
// (or kvmcStreamValues).
struct KvmcStreamInfo {
    int32_t version;           // 1
    int32_t channels;          // 1 or 2
    int32_t sampleRate;        // Hz
    int32_t bitRate;           // bit/s
    int32_t samplesPerPacket;  // H
    int32_t subBlock;          // H / 16
    int32_t bytesPerPacket;    // P, even
};

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

// ---------------------------------------------------------------------------
// Describing a stream (what the recording job stores in the movie)
// ---------------------------------------------------------------------------

// Fills samplesPerPacket, subBlock and bytesPerPacket from channels, sampleRate and bitRate by
// the same rules as kvmcConfigure, without an encoder. Returns 0 or -2 (bad channels or rate).
int32_t kvmcStreamValues(KvmcStreamInfo* info);

// The record the recording job passes: 1.0, 0.0, 0.5, 0.5 and flags 0x43, or 0x53 from
// 24000 bit/s.
KvmcParams kvmcRecordParams(int32_t bitRate);

// The sound-description extension: "frma" naming "KVM2" (12 bytes), "KVCA" with the seven
// stream values (36), "KVCP" with the parameter record (28), and an 8-byte end atom of type 0;
// all big-endian, floats as their bit patterns.
inline constexpr int32_t kKvmcExtensionBytes = 84;
void kvmcWriteExtension(const KvmcStreamInfo* info, const KvmcParams* params,
                        uint8_t out[kKvmcExtensionBytes]);
