#pragma once
// KVMC streams: the statuses, coding options, parameter record and stream values that the
// encoder, the decoder and the movie files share, and the sound-description extension.
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

// Reads the sound-description extension (the contents of the "wave" atom: "frma", "KVCA",
// "KVCP", end atom, in any order, unknown atoms skipped). Returns 0, or -2 when an atom is
// cut short, the format is not "KVM2" or "KVCA" / "KVCP" are missing.
int32_t kvmcReadExtension(const uint8_t* data, int32_t bytes, KvmcStreamInfo* info,
                          KvmcParams* params);
