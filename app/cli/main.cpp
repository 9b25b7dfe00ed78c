#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/Cli.h"

namespace tunara::cli {

namespace {
std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

int Usage() {
    std::fprintf(stderr, "usage: tunara-cli COMMAND [ARGS]\n");
    for (const auto& c : Commands()) std::fprintf(stderr, "  tunara-cli %s\n", c.usage);
    return 2;
}
}  // namespace

void Register(const Command& command) {
    Commands().push_back(command);
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<size_t>(n));
    auto slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

}  // namespace tunara::cli

int main(int argc, char** argv) {
    using namespace tunara::cli;
    if (argc < 2) return Usage();
    std::string name = argv[1];
    // A sub-command ("cd lookup") is registered under both words.
    if (argc >= 3) {
        const std::string two = name + " " + argv[2];
        for (const auto& c : Commands())
            if (two == c.name) return c.run(std::vector<std::string>(argv + 3, argv + argc));
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : Commands())
        if (name == c.name) return c.run(args);
    return Usage();
}
