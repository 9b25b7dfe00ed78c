#pragma once
// Starts tests/metadata/fake_cddb_server.py on the loopback address with a
// script of canned replies, and stops it when it goes out of scope.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/CddbLookup.h"
#include "support/Eventually.h"

namespace tunara::testing {

class FakeCddbServer {
public:
    // `scriptJson`: see the script's doc string.
    FakeCddbServer(const std::filesystem::path& folder, const std::string& scriptJson) {
        script_ = folder / "script.json";
        log_ = folder / "requests.log";
        std::ofstream(script_) << scriptJson;
        std::ofstream(log_, std::ios::trunc);
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            const std::string py =
                std::string(TUNARA_SOURCE_DIR) + "/tests/metadata/fake_cddb_server.py";
            execlp("python3", "python3", py.c_str(), script_.c_str(), log_.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        FILE* f = fdopen(out[0], "r");
        if (f && std::fscanf(f, "%d", &port_) != 1) port_ = 0;
        if (f) std::fclose(f);
        EXPECT_GT(port_, 0) << "fake CDDB server did not start";
    }
    ~FakeCddbServer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    FakeCddbServer(const FakeCddbServer&) = delete;
    FakeCddbServer& operator=(const FakeCddbServer&) = delete;

    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The request lines received so far.
    std::vector<std::string> Requests() const {
        std::ifstream in(log_);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    // Whether `count` requests arrive within a generous bound.
    bool AwaitRequests(size_t count) const {
        return Eventually([&] { return Requests().size() >= count; }, std::chrono::seconds(30),
                          std::chrono::milliseconds(5));
    }

private:
    std::filesystem::path script_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// `s` as a JSON string for a script; bytes above 0x7F stand for Latin-1
// characters.
inline std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x80 || c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A port on the loopback address that refuses connections: bound, then
// closed, so nothing listens there.
inline int RefusingPort() {
    std::FILE* p = popen(
        "python3 -c 'import socket;s=socket.socket();s.bind((\"127.0.0.1\",0));"
        "print(s.getsockname()[1]);s.close()'",
        "r");
    int port = 0;
    if (p) {
        if (std::fscanf(p, "%d", &port) != 1) port = 0;
        pclose(p);
    }
    return port;
}

// Loopback requests must not wander off to a proxy of the environment.
inline void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
}

// A lookup configuration for a loopback server: short limits, quick polling and
// a cache file of the test's own.
inline cddb::LookupConfig LoopbackLookupConfig(
    const std::filesystem::path& cacheFile,
    std::chrono::milliseconds total = std::chrono::milliseconds(2000)) {
    cddb::LookupConfig c;
    c.cacheFile = cacheFile;
    c.http.connectTimeout = std::chrono::milliseconds(2000);
    c.http.totalTimeout = total;
    c.http.pollInterval = std::chrono::milliseconds(10);
    return c;
}

// A fake server's script answering a MusicBrainz disc id request with two releases of a
// three-track disc, "First Press" and "Reissue", by "MB Band" with tracks "Uno", "Dos", "Tres".
inline std::string TwoReleasesScript(const std::string& discId) {
    auto release = [&](const std::string& title) {
        return R"({"title": ")" + title + R"(", "artist-credit": [{"name": "MB Band"}],
            "media": [{"discs": [{"id": ")" +
               discId + R"("}], "tracks": [{"position": 1, "title": "Uno"},
            {"position": 2, "title": "Dos"}, {"position": 3, "title": "Tres"}]}]})";
    };
    const std::string reply =
        R"({"releases": [)" + release("First Press") + "," + release("Reissue") + "]}";
    return "{\"/ws/2/discid/" + discId + "\": {\"body\": " + JsonString(reply) + "}}";
}

}  // namespace tunara::testing
