#pragma once
// Reading a file the program keeps for itself (settings, the CD information
// cache, playlists) whole into memory. Such a file is ours only by its name:
// a FIFO put in its place would hang the reader, a device would never end,
// and a huge file would fill memory. Only regular files up to a cap are read.
#include <cstdint>
#include <string>

namespace tunara::io {

// Far beyond any settings file, cache or playlist the program writes.
inline constexpr uint64_t kOwnFileMaxBytes = 16u << 20;

enum class OwnFileStatus {
    kOk,
    kMissing,     // no file of that name (nothing to tell the user)
    kNotRegular,  // a FIFO, device, socket or folder
    kTooLarge,    // more than the cap
    kReadError,   // it exists but cannot be opened or read
};

// Reads the whole file into `bytes` (emptied on failure). Every failure but
// kMissing is told to the user, once per file and kind of failure in a run.
OwnFileStatus ReadOwnFile(const std::string& path, std::string& bytes);

}  // namespace tunara::io
