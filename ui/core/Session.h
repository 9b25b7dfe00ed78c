#pragma once
// What the windowed player brings back at its next start: the list and where
// it was in it, the volume, the modes, the open panels and where each window
// stood. Kept beside the settings in two files, each replaced atomically: the
// state ("session") and the list's entries by full name ("session.m3u8"), so
// that a list never saved by the user survives too.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace tunara {

class Playlist;

struct SessionState {
    bool cdActive = false;  // the disc was the list being played
    int current = -1;
    int positionMs = 0;
    int volume = -1;  // 0..100; -1 when not known
    bool intro = false, shuffle = false, repeat = false;
    bool playlistOpen = false, cdOpen = false, equaliserOpen = false;
    // Top-left corners by window name ("main", "playlist", "cd", "equaliser").
    std::map<std::string, std::pair<int, int>> places;
    // The file the list came from (empty: never saved) and whether it had
    // changes not written there.
    std::string listPath;
    bool listModified = false;
    bool listM3u = false;
    bool found = false;  // read from a file rather than defaulted
};

std::string SerializeSession(const SessionState& state);
// Unknown keys and malformed values are skipped; the rest still counts.
SessionState ParseSession(std::string_view text);

class SessionStore {
public:
    // The user's configuration folder.
    SessionStore();
    explicit SessionStore(std::filesystem::path folder);

    SessionState Load() const;
    bool Save(const SessionState& state) const;
    // The entries by full name, with the titles and lengths the user's list
    // file gave.
    bool SaveList(const Playlist& list) const;
    // Appends the saved entries to `list` and gives it back its file and
    // changed flag; false when nothing was saved.
    bool RestoreList(Playlist& list, const SessionState& state) const;

    std::filesystem::path StateFile() const { return folder_ / "session"; }
    std::filesystem::path ListFile() const { return folder_ / "session.m3u8"; }

private:
    std::filesystem::path folder_;
};

}  // namespace tunara
