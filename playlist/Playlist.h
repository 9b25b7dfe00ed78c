#pragma once
// The user's file playlist and its ".pls" / ".m3u" / ".m3u8" files.
//
// Files are read with CR, LF or CR LF line ends, a UTF-8 byte-order mark and
// blanks around entries, and written with CR LF. A list whose first line is
// "[playlist]" (any letter case) is a ".pls" list; anything else is read as
// ".m3u", one file per line. Entries whose files cannot be opened stay in the
// list, marked, so that saving never loses them.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sources/SourceFactory.h"
#include "tracklist/TrackList.h"

namespace tunara {

class Playlist : public TrackList {
public:
    // The items of the list's files come from `sources`, which outlives it.
    explicit Playlist(const SourceFactory& sources) : sources_(sources) {}

    const SourceFactory& Sources() const { return sources_; }

    // Empties the list and forgets its file and layout; always true.
    bool Reset();
    // Appends an item for the file when its source can read it; the new
    // index, or -1 (the user has been told why).
    int AddFile(const std::string& fileName);
    // Replaces the list with the entries of a playlist file; false when the
    // file cannot be read (the list is then empty). Entries whose files do
    // not open are kept and marked; one message tells the user about them.
    bool Load(const std::string& path);
    // Appends the entries of another playlist file as Load reads them; false
    // when it cannot be read.
    bool AddList(const std::string& path);
    // Writes the list to Path() when it was modified; false when the file
    // cannot be written, in which case the old file and the modified flag
    // stay as they were.
    bool Save();
    bool SaveTo(const std::string& path);
    // Looks for the file of an entry marked unavailable again.
    bool TryRestore(int index) override;

    const std::string& Path() const { return path_; }
    // For a list brought back from elsewhere: the file it belongs to and
    // whether it holds changes not yet written there.
    void SetOrigin(std::string path, bool isM3u, bool modified) {
        path_ = std::move(path);
        isM3u_ = isM3u;
        modified_ = modified;
    }
    void SetM3u(bool on) { isM3u_ = on; }
    bool IsM3u() const { return isM3u_; }

    // The bytes Save writes for the current items.
    std::string Serialize() const;

private:
    // Appends a list file's entries; `unavailable` counts those whose files
    // did not open, `m3u` tells the layout found.
    bool AppendListFile(const std::string& path, int& unavailable, bool& m3u);

    const SourceFactory& sources_;
    std::string path_;
    bool isM3u_ = false;
};

// Whether a file name names a playlist file (".pls", ".m3u", ".m3u8", any
// letter case) rather than something to play.
bool IsPlaylistName(const std::string& name);

// One entry of a playlist file, before it is resolved against the list's
// folder.
struct PlaylistEntry {
    std::string value;
    std::string title;       // from #EXTINF or TitleN; empty when none
    int32_t lengthSec = -1;  // from #EXTINF or LengthN; -1 when not given
};

// The entries of a playlist file's bytes in list order; isM3u tells the
// layout found. The text is taken as UTF-8 when `utf8` is set, when it
// starts with a byte-order mark or when it is valid UTF-8, else as Latin-1
// (and converted).
std::vector<PlaylistEntry> ParsePlaylistEntries(const std::string& bytes, bool& isM3u,
                                                bool utf8 = false);
// Only the entry values.
std::vector<std::string> ParsePlaylistText(const std::string& bytes, bool& isM3u);

}  // namespace tunara
