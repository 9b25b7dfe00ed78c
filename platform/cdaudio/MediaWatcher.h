#pragma once
// Notices discs arriving in and leaving the drives by looking at each one
// when asked (about once a second): libcdio's media-changed status for a
// drive, the file itself for an image. Poll may block on a slow drive, so
// it belongs on a thread of its own; it never touches an open device.
#include <memory>
#include <string>
#include <vector>

namespace tunara::cdaudio {

class MediaWatcher {
public:
    struct Change {
        enum Kind { Arrived, Removed, Failed };
        int drive = 0;  // index into the drive list given at construction
        Kind kind = Arrived;
        std::string text;  // Failed: what went wrong, for the user
    };

    // Takes the drives' present state as the starting point: only what
    // changes after this is reported.
    explicit MediaWatcher(std::vector<std::string> drives);
    ~MediaWatcher();
    MediaWatcher(const MediaWatcher&) = delete;
    MediaWatcher& operator=(const MediaWatcher&) = delete;

    // Looks at every drive once. A drive that cannot be opened reports Failed
    // on every poll while it fails (the caller decides how often to tell the
    // user); a broken image once per version of its file.
    std::vector<Change> Poll();

private:
    struct Drive;
    void Look(Drive& d, int index, std::vector<Change>* changes);
    std::vector<std::unique_ptr<Drive>> drives_;
};

}  // namespace tunara::cdaudio
