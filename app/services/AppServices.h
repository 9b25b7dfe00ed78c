#pragma once
// The process-wide hooks of a front end (tunara-cli and the windowed player),
// installed in their order and removed in reverse: the user-interface
// thread, the user interaction, the file dialogs, then the media services.
// Going, it clears the playlist before it stops the media services.
// One object per process run, on the thread that becomes the UI thread.
#include "platform/ui/UserInteraction.h"
#include "playlist/FileDialogs.h"

namespace tunara::app {

class AppServices {
public:
    // `dialogs` may be null: every dialog is then cancelled.
    explicit AppServices(UserInteraction* interaction, FileDialogs* dialogs = nullptr);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    // Starts the media toolbox; false when it cannot. Stopped by the
    // destructor, after every source that used it is gone.
    bool StartMedia();
    bool MediaStarted() const { return media_; }

private:
    bool media_ = false;
};

}  // namespace tunara::app
