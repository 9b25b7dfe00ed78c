#pragma once
// What the suites on the real toolbox module share: the module started for
// each test and the null device put back after it, fixtures made by shell
// commands once per run, and ticking an item along in real time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/MediaSource.h"
#include "platform/audio/AudioDevice.h"
#include "platform/media/MediaToolbox.h"
#include "support/Eventually.h"
#include "support/TempDir.h"

namespace tunara::testing {

// Runs a shell command without its output; true when it succeeded.
inline bool Shell(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// Raw 16-bit samples of a file as sox (or, for MP3, mpg123) decodes it.
inline std::vector<int16_t> Samples(const std::string& path) {
    const std::string raw = path + ".raw";
    const bool mp3 = path.size() > 4 && path.compare(path.size() - 4, 4, ".mp3") == 0;
    if (!Shell(mp3 ? "mpg123 -q -s '" + path + "' > '" + raw + "'"
                   : "sox '" + path + "' -t raw -e signed -b 16 '" + raw + "'"))
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TUNARA_MEDIA_MODULE");
        ASSERT_TRUE(media::StartMediaServices()) << "the module next to the test program";
    }
    void TearDown() override {
        audio::SetDeviceFactory({});
        media::StopMediaServices();
        setenv("TUNARA_AUDIO", "null:fast", 1);
    }

    // The run's folder for the suite's files, removed when the program ends.
    static std::filesystem::path Folder() {
        static const TempDir dir;
        const std::filesystem::path folder =
            dir.path / ::testing::UnitTest::GetInstance()->current_test_suite()->name();
        std::filesystem::create_directories(folder);
        return folder;
    }
    // A fixture made once per run by a shell command with OUT for the file;
    // empty when the command failed.
    static std::string Make(const std::string& name, const std::string& command) {
        const std::string path = (Folder() / name).string();
        if (std::filesystem::exists(path)) return path;
        std::string cmd = command;
        cmd.replace(cmd.find("OUT"), 3, "'" + path + "'");
        return Shell(cmd) ? path : std::string();
    }
    // Ticks the item until `done()` holds; false when it does not within
    // `limit`. Limits are generous: a loaded machine makes playback late,
    // never early.
    static bool TickUntil(MediaSource& s, const std::function<bool()>& done,
                          std::chrono::milliseconds limit = std::chrono::seconds(15)) {
        return Eventually(
            [&] {
                s.Tick();
                return done();
            },
            limit, std::chrono::milliseconds(5));
    }
    // Ticks until the item ends.
    static bool PlayToEnd(MediaSource& s,
                          std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        return Eventually(
            [&] {
                if (!s.IsPlaying()) return true;
                s.Tick();
                return false;
            },
            limit, std::chrono::milliseconds(5));
    }
};

}  // namespace tunara::testing
