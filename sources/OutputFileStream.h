#pragma once
// The byte writer through which an encoder's output reaches its file.
//
// Status codes of every outStream* call:
//    0  kOutStreamOk         success
//   -2  kOutStreamFileError  no name, cannot create, short write, close failed
//   -3  kOutStreamBadHandle  none, not open, or not a stream of this kind
//   -4  kOutStreamNoMemory   out of memory
#include <cstdint>
#include <string>

namespace tunara {

inline constexpr int kOutStreamOk = 0;
inline constexpr int kOutStreamFileError = -2;
inline constexpr int kOutStreamBadHandle = -3;
inline constexpr int kOutStreamNoMemory = -4;
const char* outStreamStatusText(int status);

struct OutputFileStreamPrivate;

struct OutputFileStream {
    std::string fileName;
    uint32_t byteCounts[3] = {0, 0, 0};  // each counts every byte written
    OutputFileStreamPrivate* priv = nullptr;
    int open = 0;  // 1 while open
};

// Creates (or truncates) `fileName`. Returns 0, -2 or -4; *handle is null on failure.
int outStreamOpen(OutputFileStream** handle, const char* fileName);

// The encoder's write callback: `user` is the OutputFileStream. Writes
// *length bytes; on a short write *length becomes what was written and the
// result is -2. Returns 0, -2 or -3.
int outStreamWrite(const uint8_t* bytes, uint32_t* length, void* user);

// Closes the file and frees the stream. -2 when the data could not all be
// stored (a full disk shows here), else 0; -3 for a bad handle.
int outStreamClose(OutputFileStream* handle);

}  // namespace tunara
