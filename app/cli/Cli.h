#pragma once
// tunara-cli: each command registers itself from its own file.
#include <string>
#include <vector>

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

// The folder of the running program (for its default item and modules).
std::string ProgramFolder();

}  // namespace tunara::cli
