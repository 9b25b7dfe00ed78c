#pragma once
// tunara-cli: each command registers itself from its own file.
#include <functional>
#include <string>
#include <vector>

#include "platform/io/Paths.h"

namespace tunara {
class CdDisc;
class MediaSource;
class Playlist;
class PlayerController;
namespace app {
class AppServices;
}
}  // namespace tunara

namespace tunara::cli {

using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
    const char* name;
    const char* usage;  // one line: "play FILE..."
    CommandFn run;
    const char* help = nullptr;  // a few lines for "COMMAND --help", each ending in a newline
};

// Registers a command; used through a static Registration object.
void Register(const Command& command);

struct Registration {
    explicit Registration(const Command& command) { Register(command); }
};

// The player screen and keys of `play` around a controller. `prepare` fills
// the playlist once the front end's services are installed (false: exit 1);
// `beforeStart` and `afterStart` run around the controller's Start
// (`afterStart` false: exit 1). Returns the exit code.
struct PlayerSession {
    std::function<bool(Playlist&, app::AppServices&)> prepare;
    std::function<void(PlayerController&)> beforeStart;
    std::function<bool(PlayerController&)> afterStart;
};
int RunPlayer(const PlayerSession& session);

// Prints what went wrong with `source`, if anything, to standard error;
// true when there was something.
bool PrintError(MediaSource& source);
// The same for a disc whose table of contents did not read.
bool PrintError(CdDisc& disc);

// The folder of the running program (for its default item and modules).
using io::ProgramFolder;

}  // namespace tunara::cli
