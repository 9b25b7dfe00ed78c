#pragma once
// Reading a file the program keeps for itself (settings, the CD information
// cache, playlists) whole into memory. Such a file is ours only by its name:
// a FIFO put in its place would hang the reader, a device would never end,
// and a huge file would fill memory. Only regular files up to a cap are read.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ui/UserInteraction.h"

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

// Reads the whole file into `bytes` (emptied on failure). Says nothing: the
// reader decides whether the user hears of a failure (OwnFileNotice).
OwnFileStatus ReadOwnFile(const std::string& path, std::string& bytes);

// What to tell the user of a failed read: only the first time in a run this
// file failed this way, since a file read over and over (every settings
// look-up) must not bury the user in boxes. Nothing for kOk and kMissing.
std::optional<UserMessage> OwnFileNotice(const std::string& path, OwnFileStatus status);

}  // namespace tunara::io
