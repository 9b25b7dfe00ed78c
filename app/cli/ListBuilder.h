#pragma once
// The play list from the command line: files and ".pls"/".m3u"/".m3u8" lists.
#include <string>
#include <vector>

#include "playlist/Playlist.h"

namespace tunara::cli {

// Whether any of the files (or of the files the lists name) needs the media
// toolbox, so that WAV and MP3 files play where it is missing.
bool NeedsMediaToolbox(const std::vector<std::string>& names);
// One list alone is loaded as the playlist; otherwise files and the entries
// of lists are appended in order. A list that fails to load is reported.
void BuildList(Playlist& playlist, const std::vector<std::string>& names);

}  // namespace tunara::cli
