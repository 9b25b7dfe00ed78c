#include "playlist/PlaylistCommands.h"

#include "platform/ui/UserInteraction.h"
#include "playlist/PlaylistPaths.h"

namespace tunara {

const std::vector<FileFilter>& PlaylistFilters() {
    static const std::vector<FileFilter> filters = {{"Playlist (*.pls)", "*.pls"},
                                                    {"Playlist (*.m3u)", "*.m3u"},
                                                    {"Playlist (*.m3u8)", "*.m3u8"}};
    return filters;
}

const std::vector<FileFilter>& MediaFilters(bool withPlaylists) {
    // The first entry is the one the dialogs select: everything that plays.
    static const auto make = [](bool lists) {
        const std::string sound =
            "*.flac;*.ogg;*.oga;*.opus;*.m4a;*.aac;*.aif;*.aiff;*.au;*.snd;"
            "*.mid;*.midi;*.wma";
        const std::string movies = "*.mov;*.mp4;*.m4v;*.avi;*.mkv;*.webm";
        const std::string playlists = "*.pls;*.m3u;*.m3u8";
        std::string all = "*.mp3;*.wav;" + sound + ";" + movies;
        if (lists) all += ";" + playlists;
        std::vector<FileFilter> f = {
            {"All supported files", all},
            {"MP3 File (*.mp3)", "*.mp3"},
            {"WAV File (*.wav)", "*.wav"},
            {"FLAC, Ogg, Opus, AAC, AIFF, AU, MIDI and WMA", sound},
            {"Movies", movies},
        };
        if (lists) f.push_back({"Playlists", playlists});
        f.push_back({"All Files(*.*)", "*.*"});
        return f;
    };
    static const std::vector<FileFilter> with = make(true), without = make(false);
    return withPlaylists ? with : without;
}

PlaylistCommands::PlaylistCommands(Playlist& playlist, std::function<void()> refreshMain,
                                   std::function<void()> refreshView, std::function<bool()> playing)
    : playlist_(playlist),
      refreshMain_(std::move(refreshMain)),
      refreshView_(std::move(refreshView)),
      playing_(std::move(playing)) {}

bool PlaylistCommands::SavePrompt() {
    if (!playlist_.IsModified()) return true;
    switch (CurrentUserInteraction().Ask(kSavePlaylistQuestion, true)) {
        case Answer::Yes:
            return Save();
        case Answer::No:
            return true;
        case Answer::Cancel:
            return false;
    }
    return false;
}

void PlaylistCommands::StopIfActive() {
    if (!playing_ || !playing_()) return;
    playlist_.SetCurrent(-1);
    if (refreshMain_) refreshMain_();
}

void PlaylistCommands::Done() {
    if (refreshView_) refreshView_();
    if (refreshMain_) refreshMain_();
}

bool PlaylistCommands::New() {
    if (!SavePrompt()) return false;
    StopIfActive();
    playlist_.Reset();
    Done();
    return true;
}

bool PlaylistCommands::Open() {
    if (!SavePrompt()) return false;
    std::vector<std::string> chosen = CurrentFileDialogs().ChooseOpen(PlaylistFilters(), 0, false);
    if (chosen.empty()) return false;
    StopIfActive();
    bool ok = playlist_.Load(chosen.front());
    Done();
    return ok;
}

bool PlaylistCommands::Save() {
    if (playlist_.Path().empty()) return SaveAs();
    bool ok = playlist_.Save();
    Done();
    return ok;
}

bool PlaylistCommands::SaveAs() {
    std::optional<SaveChoice> choice = CurrentFileDialogs().ChooseSave(PlaylistFilters(), 0, true);
    if (!choice || choice->path.empty()) return false;
    // The layout follows the filter, not a typed extension.
    const int filter = choice->filter;
    playlist_.SetM3u(filter == 1 || filter == 2);
    std::string path = choice->path;
    std::string base = path.substr(FolderOf(path).size());
    if (base.find('.') == std::string::npos)
        path += filter == 2 ? ".m3u8" : filter == 1 ? ".m3u" : ".pls";
    bool ok = playlist_.SaveTo(path);
    Done();
    return ok;
}

int PlaylistCommands::Add() {
    std::vector<std::string> chosen = CurrentFileDialogs().ChooseOpen(MediaFilters(false), 0, true);
    int added = 0;
    for (const auto& name : chosen)
        if (playlist_.AddFile(name) >= 0) ++added;
    Done();
    return added;
}

void PlaylistCommands::Remove(const std::vector<int>& selectedRows) {
    for (size_t k = 0; k < selectedRows.size(); ++k) {
        // Rows above this one are already gone.
        int d = selectedRows[k] - static_cast<int>(k);
        if (d < 0 || d >= playlist_.Count()) continue;
        if (playing_ && playing_() && d == playlist_.Current()) {
            // Let playback move on to the neighbour before the item goes.
            playlist_.SetCurrent(d == playlist_.Count() - 1 ? d - 1 : d + 1);
            if (refreshMain_) refreshMain_();
        }
        playlist_.Delete(d);
    }
    Done();
}

}  // namespace tunara
