#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "engine/MediaSource.h"
#include "sources/CdDisc.h"

namespace tunara::cli {

bool PrintError(MediaSource& source) {
    const std::optional<UserMessage> error = source.TakeError();
    if (error) std::fprintf(stderr, "%s\n", error->Formatted().c_str());
    return error.has_value();
}

bool PrintError(CdDisc& disc) {
    const std::optional<UserMessage> error = disc.TakeError();
    if (error) std::fprintf(stderr, "%s\n", error->Formatted().c_str());
    return error.has_value();
}

namespace {
std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

// Asked for, the usage goes to standard output with success; after a mistake, to standard error.
int Usage(FILE* to, int exitCode) {
    std::fprintf(to, "usage: tunara-cli COMMAND [ARGS]\n");
    for (const auto& c : Commands()) std::fprintf(to, "  tunara-cli %s\n", c.usage);
    std::fprintf(to,
                 "  tunara-cli --version\n"
                 "Each command explains itself: tunara-cli COMMAND --help\n");
    return exitCode;
}

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

// After "--" every argument is an operand: one that looks like an option gets
// "./" in front (the same file), so no command takes it for one.
std::vector<std::string> EndOptions(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    bool operands = false;
    for (const std::string& a : args) {
        if (!operands && a == "--") {
            operands = true;
            continue;
        }
        out.push_back(operands && a.size() > 1 && a[0] == '-' ? "./" + a : a);
    }
    return out;
}

// --help anywhere before "--": no command takes it for a name.
int RunCommand(const Command& c, const std::vector<std::string>& rawArgs) {
    const auto operands = std::find(rawArgs.begin(), rawArgs.end(), "--");
    if (std::any_of(rawArgs.begin(), operands, IsHelp)) {
        std::printf("usage: tunara-cli %s\n%s", c.usage, c.help ? c.help : "");
        return 0;
    }
    return c.run(EndOptions(rawArgs));
}
}  // namespace

void Register(const Command& command) {
    Commands().push_back(command);
}

}  // namespace tunara::cli

// GStreamer keeps its registry and type system for the life of the process.
// Under LeakSanitizer, a run that opened a media-framework item would report
// them as leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgstreamer-1.0.so\n";
}
// The terminal output stays the program's own.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}

int main(int argc, char** argv) {
    using namespace tunara::cli;
    if (argc < 2) return Usage(stderr, 2);
    std::string name = argv[1];
    if (IsHelp(name)) return Usage(stdout, 0);
    if (name == "--version") {
        std::printf("tunara-cli %s\n", TUNARA_VERSION);
        return 0;
    }
    // A sub-command ("cd lookup") is registered under both words.
    if (argc >= 3) {
        const std::string two = name + " " + argv[2];
        for (const auto& c : Commands())
            if (two == c.name)
                return RunCommand(c, std::vector<std::string>(argv + 3, argv + argc));
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : Commands())
        if (name == c.name) return RunCommand(c, args);
    std::fprintf(stderr, "tunara-cli: unknown command \"%s\"\n", name.c_str());
    return Usage(stderr, 2);
}
