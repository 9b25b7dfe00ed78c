#pragma once
// Handle-based reader of PCM WAVE files, through which the recording job takes
// ripped CD tracks into an encoder.
//
// Status codes of every pcmWave* call:
//    0  kPcmWaveOk         success
//    3  kPcmWaveEnd        the end of the data was reached (the buffer is padded)
//   -2  kPcmWaveFileError  no name, cannot open or read, not 8/16-bit PCM WAVE
//   -3  kPcmWaveBadHandle  none, not open, or not a stream of this kind
//   -4  kPcmWaveNoMemory   out of memory
#include <cstdint>
#include <string>

namespace tunara {

inline constexpr int kPcmWaveOk = 0;
inline constexpr int kPcmWaveEnd = 3;
inline constexpr int kPcmWaveFileError = -2;
inline constexpr int kPcmWaveBadHandle = -3;
inline constexpr int kPcmWaveNoMemory = -4;
const char* pcmWaveStatusText(int status);

struct PcmWaveStreamPrivate;

// What the caller may read; the private record holds the file.
struct PcmWaveStream {
    std::string fileName;
    uint32_t fileLength = 0;  // RIFF chunk size + 8
    uint32_t dataBytes = 0;   // size of the data chunk
    uint32_t bytesRead = 0;   // data bytes delivered so far
    PcmWaveStreamPrivate* priv = nullptr;
    int open = 0;  // 1 while open
};

struct PcmWaveFormat {
    int channels = 0;
    int sampleRate = 0;     // Hz
    int bitsPerSample = 0;  // 8 or 16
};

// Opens `fileName`, which must be RIFF/WAVE with a "fmt " of tag 1 and 8 or 16
// bits. `bext` and `bextLength` (either may be null) receive an upper-case
// "BEXT" chunk's contents, owned by the stream, and its size less 604 (never
// below 0), or null and 0. Returns 0, -2 or -4; *handle is null on failure.
int pcmWaveOpen(PcmWaveStream** handle, const char* fileName, PcmWaveFormat* format,
                const uint8_t** bext, int32_t* bextLength);

// Reads up to *length bytes of the data chunk. When the data ends first, the
// rest of the asked length is filled with silence (0x80 for 8-bit, 0 for
// 16-bit), *length becomes the bytes that were data, and the result is 3.
// Returns 0, 3, -2 (read error; *length 0) or -3.
int pcmWaveRead(void* buffer, uint32_t* length, PcmWaveStream* handle);

// Closes the file and frees the stream. Returns 0 or -3.
int pcmWaveClose(PcmWaveStream* handle);

}  // namespace tunara
