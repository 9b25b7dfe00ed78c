#include "app/services/AppServices.h"

#include "platform/media/MediaToolbox.h"
#include "platform/ui/Strings.h"
#include "playlist/Playlist.h"

namespace tunara::app {

AppServices::AppServices(UserInteraction* interaction, FileDialogs* dialogs) {
    SetUiThread();
    SetUserInteraction(interaction);
    SetFileDialogs(dialogs);
}

AppServices::~AppServices() {
    if (media_) media::StopMediaServices();
    SetFileDialogs(nullptr);
    SetUserInteraction(nullptr);
}

bool AppServices::StartMedia() {
    if (!media_) {
        media_ = media::StartMediaServices();
        if (!media_) ReportError(strings::kFailedToInitMedia);
    }
    return media_;
}

}  // namespace tunara::app
