#include "platform/io/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tunara::io {

namespace fs = std::filesystem;

namespace {

fs::path XdgOr(const char* variable, const char* underHome) {
    const char* value = std::getenv(variable);
    if (value && *value && fs::path(value).is_absolute()) return value;
    return HomeFolder() / underHome;
}

}  // namespace

fs::path HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir && *pw->pw_dir ? pw->pw_dir : "/";
}

fs::path ConfigHome() {
    return XdgOr("XDG_CONFIG_HOME", ".config");
}

fs::path DataHome() {
    return XdgOr("XDG_DATA_HOME", ".local/share");
}

fs::path VendorConfigFolder() {
    return ConfigHome() / "Korvan";
}

std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    return fs::path(path).parent_path().string();
}

std::string FileTitle(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace tunara::io
