#include "app/services/Player.h"

namespace tunara::app {

Player::Player(AppServices& services, std::string programFolder)
    : playlist_(services.Sources()),
      volume_(services.Engine().Gain(),
              [this] {
                  if (ready_) controller_.OnMixerChange();
              }),
      controller_(playlist_, volume_.IsOpen() ? &volume_ : nullptr, std::move(programFolder),
                  &settings_, &services.Engine()) {
    ready_ = true;
}

Player::~Player() {
    ready_ = false;
    if (controller_.Running()) controller_.Shutdown();
    controller_.SetDisplay(nullptr);
    playlist_.Clear();
}

}  // namespace tunara::app
