#pragma once
// What both front ends play with, built in one place: the settings, the
// playlist, the mixer volume and the controller over them, playing through
// the engine and the item factory of the AppServices given. The front end attaches its display
// (Controller().SetDisplay) and starts the controller.
//
// Going, in this order: the controller shuts down, the playlist is cleared
// (its items leave the engine), then the mixer and the settings go. The
// AppServices, made first, goes last and stops the media services.
#include <string>

#include "app/services/AppServices.h"
#include "playlist/Playlist.h"
#include "ui/core/MixerVolume.h"
#include "ui/core/PlayerController.h"
#include "ui/core/SettingsStore.h"

namespace tunara::app {

class Player {
public:
    Player(AppServices& services, std::string programFolder);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    SettingsStore& Settings() { return settings_; }
    Playlist& List() { return playlist_; }
    // Whether a mixer (or the software volume) was found for the controller.
    bool HasVolume() const { return volume_.IsOpen(); }
    PlayerController& Controller() { return controller_; }

private:
    SettingsStore settings_;
    Playlist playlist_;
    bool ready_ = false;  // the mixer's notices reach the controller from here on
    MixerVolume volume_;
    PlayerController controller_;
};

}  // namespace tunara::app
