#pragma once
// The file output's rule for going on in its WAV file, reachable by name from
// the media module (loaded at run time, linking none of our libraries), so
// that what the module plays lands after what the program's device wrote
// instead of over it. Header-only declarations; FileDevice.cpp defines them.
#include <cstdint>
#include <cstdio>

#define TUNARA_CAPTURE_OPEN "tunaraCaptureOpen"
#define TUNARA_CAPTURE_CLOSED "tunaraCaptureClosed"

extern "C" {
// Opens PATH for PCM of this format where this process last left it: the
// same file when the format is the same, the next numbered one otherwise.
// The file is positioned for appending; `dataBytes` gets the data already in
// it. Null when it cannot be opened.
typedef std::FILE* (*TunaraCaptureOpenFn)(const char* path, uint16_t channels, uint32_t rate,
                                          uint16_t bits, uint64_t* dataBytes);
// Records the data size after the caller has written its header and closed.
typedef void (*TunaraCaptureClosedFn)(const char* path, uint64_t dataBytes);
}
