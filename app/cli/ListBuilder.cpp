#include "app/cli/ListBuilder.h"

#include "platform/io/OwnFile.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/SourceFactory.h"

namespace tunara::cli {

namespace {

bool AnyNeedsMediaToolbox(const std::vector<std::string>& names, bool inList) {
    for (const auto& name : names) {
        if (!tunara::NeedsMediaToolbox(name)) continue;
        // A list inside a list is just another file to the toolbox.
        if (inList || !IsPlaylistName(name)) return true;
        std::string bytes;
        io::ReadOwnFile(name, bytes);
        bool isM3u = false;
        if (AnyNeedsMediaToolbox(ParsePlaylistText(bytes, isM3u), true)) return true;
    }
    return false;
}

}  // namespace

bool NeedsMediaToolbox(const std::vector<std::string>& names) {
    return AnyNeedsMediaToolbox(names, false);
}

void BuildList(Playlist& playlist, const std::vector<std::string>& names) {
    if (names.size() == 1 && IsPlaylistName(names[0])) {
        if (!playlist.Load(names[0])) ReportError(strings::kMediaFailedToOpen, names[0]);
        return;
    }
    for (const auto& name : names) {
        if (!IsPlaylistName(name)) {
            playlist.AddFile(name);
            continue;
        }
        if (!playlist.AddList(name)) ReportError(strings::kMediaFailedToOpen, name);
    }
}

}  // namespace tunara::cli
