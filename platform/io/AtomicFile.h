#pragma once
// Whole-file replacement that never leaves a half-written file behind: the
// bytes go to a temporary file in the same folder, which is synced and then
// renamed over the old file; a crash or a full disk leaves the old file intact.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tunara::io {

struct AtomicWriteOptions {
    // Mode of the new file. Unset: the mode of the file being replaced, or the
    // usual mode for new files (0666 less the umask).
    std::optional<mode_t> mode;
};

// Replaces the file at `path` with `bytes`; true on success. A symbolic link
// stays a link: the file it points at is replaced.
bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options = {});

// Removes the temporary files an interrupted WriteFileAtomically of `path`
// left beside it (".NAME.XXXXXX"), when they are regular files of this user
// untouched for at least `minAge`, so that a save still under way elsewhere
// keeps its file. Returns how many went.
int RemoveStaleTemporaries(const std::string& path,
                           std::chrono::seconds minAge = std::chrono::seconds(60));

}  // namespace tunara::io
