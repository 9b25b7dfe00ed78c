#pragma once
// The user's file playlist and its ".pls" / ".m3u" files.
//
// Files are read with CR, LF or CR LF line ends and written with CR LF. A
// ".pls" file starts with the exact line "[playlist]"; anything else is read
// as ".m3u", one file per line.
#include <string>
#include <vector>

#include "tracklist/TrackList.h"

namespace tunara {

class Playlist : public TrackList {
public:
    // Empties the list and forgets its file and layout; always true.
    bool Reset();
    // Appends an item for the file when its source can read it; the new
    // index, or -1 (the source has told the user why).
    int AddFile(const std::string& fileName);
    // Replaces the list with the entries of a playlist file that open; false
    // when the file cannot be read (the list is then empty).
    bool Load(const std::string& path);
    // Writes the list to Path() when it was modified; false when the file
    // cannot be written, in which case the old file and the modified flag
    // stay as they were.
    bool Save();
    bool SaveTo(const std::string& path);

    const std::string& Path() const { return path_; }
    void SetM3u(bool on) { isM3u_ = on; }
    bool IsM3u() const { return isM3u_; }

    // The bytes Save writes for the current items.
    std::string Serialize() const;

private:
    std::string path_;
    bool isM3u_ = false;
};

// The entry values of a playlist file's bytes, in file order, before they
// are resolved against the list's folder; isM3u tells the layout found.
std::vector<std::string> ParsePlaylistText(const std::string& bytes, bool& isM3u);

// The one playlist of the program.
Playlist& ThePlaylist();

}  // namespace tunara
