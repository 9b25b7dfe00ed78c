#pragma once
// The playlist window's file commands: New, Open, Save, Save As, Add, Remove,
// with the save prompt. Questions go through the user-interaction channel and
// file choices through the file dialogs, so every front end can answer.
#include <functional>
#include <string>
#include <vector>

#include "playlist/FileDialogs.h"
#include "playlist/Playlist.h"

namespace tunara {

inline constexpr const char* kSavePlaylistQuestion =
    "Do you want to save changes to the current playlist?";

const std::vector<FileFilter>& PlaylistFilters();  // .pls, .m3u, .m3u8
// Everything that plays, each family, the playlists (for Open, not Add), all files.
const std::vector<FileFilter>& MediaFilters(bool withPlaylists = true);

class PlaylistCommands {
public:
    // refreshMain brings the player in line with the active list's current
    // item (it stops an item that is no longer current); refreshView redraws
    // the list view. Either may be empty. `playing` tells whether the
    // playlist is the list being played (never, when empty).
    PlaylistCommands(Playlist& playlist, std::function<void()> refreshMain,
                     std::function<void()> refreshView, std::function<bool()> playing);

    // Asks to save a modified list. True when the command may go on.
    bool SavePrompt();
    // False when the prompt or its save stopped the command.
    bool New();
    // False when stopped, cancelled, or the file could not be read.
    bool Open();
    bool Save();
    bool SaveAs();
    // Adds the files chosen; returns how many were added.
    int Add();
    // Removes the selected rows of the list view (ascending view rows).
    void Remove(const std::vector<int>& selectedRows);

private:
    void StopIfActive();
    void Done();

    Playlist& playlist_;
    std::function<void()> refreshMain_;
    std::function<void()> refreshView_;
    std::function<bool()> playing_;
};

}  // namespace tunara
