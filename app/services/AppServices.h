#pragma once
// The composition root of a front end (tunara-cli and the windowed player):
// it owns the output engine every item plays through and the factory that
// makes items for it, and installs the process-wide hooks in their order,
// removing them in reverse: the user-interface thread, the user interaction,
// the file dialogs, then the media services. Whatever holds items (the
// Player's playlist, a command's own source) goes before it, so items leave
// before the media services stop and the engine goes.
// One object per process run, on the thread that becomes the UI thread.
#include "engine/OutputEngine.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/FileDialogs.h"
#include "sources/SourceFactory.h"

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

    OutputEngine& Engine() { return engine_; }
    const SourceFactory& Sources() const { return sources_; }

private:
    OutputEngine engine_;
    SourceFactory sources_{engine_};
    bool media_ = false;
};

}  // namespace tunara::app
