#pragma once
// Runs shell commands and tunara-cli from the build folder, as scripts do.
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tunara::testing {

struct CommandResult {
    int exitCode = -1;  // -1 when the command did not run or did not exit
    std::string out;
};

// Runs `command` through the shell; what it printed on standard output and how it exited.
inline CommandResult RunCommand(const std::string& command) {
    CommandResult r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline const std::string& CliPath() {
    static const std::string path = std::string(TUNARA_BINARY_DIR) + "/app/tunara-cli";
    return path;
}

// tunara-cli with `args` (shell words), no standard input and `env` (shell
// assignments) before it, playing through the fast null device unless `env`
// says otherwise. Standard error joins the output unless `errorsTo` names
// where it goes instead.
inline CommandResult RunCli(const std::string& args, const std::string& env = {},
                            const std::string& errorsTo = "&1") {
    return RunCommand("TUNARA_AUDIO=null:fast " + env + " " + CliPath() + " " + args +
                      " </dev/null 2>" + errorsTo);
}

}  // namespace tunara::testing
