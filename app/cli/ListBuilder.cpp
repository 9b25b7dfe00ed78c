#include "app/cli/ListBuilder.h"

#include "platform/io/OwnFile.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/SourceFactory.h"

namespace tunara::cli {

bool IsListName(const std::string& name) {
    return ExtensionIs(name, "pls") || ExtensionIs(name, "m3u");
}

namespace {

bool AnyNeedsMediaToolbox(const std::vector<std::string>& names, bool inList) {
    for (const auto& name : names) {
        if (!tunara::NeedsMediaToolbox(name)) continue;
        // A list inside a list is just another file to the toolbox.
        if (inList || !IsListName(name)) return true;
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
    if (names.size() == 1 && IsListName(names[0])) {
        if (!playlist.Load(names[0])) ReportError(strings::kMediaFailedToOpen, names[0]);
        return;
    }
    for (const auto& name : names) {
        if (!IsListName(name)) {
            playlist.AddFile(name);
            continue;
        }
        Playlist part;
        if (!part.Load(name)) {
            ReportError(strings::kMediaFailedToOpen, name);
            continue;
        }
        while (part.Count() > 0) playlist.Append(part.Remove(0));
    }
}

}  // namespace tunara::cli
