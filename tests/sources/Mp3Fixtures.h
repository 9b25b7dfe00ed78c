#pragma once
// MP3 files made at test time with sox and lame, once per test program, in a
// scratch folder; and helpers to drive an Mp3Source without the output device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestTools.h"
#include "engine/testing/EngineTesting.h"
#include "metadata/Id3Fixtures.h"
#include "mpegdec/mpegdec.h"
#include "sources/Mp3Source.h"
#include "sources/testing/Mp3SourceProbe.h"

namespace tunara::testing {

inline bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveTool(const std::string& name) {
    return Run("command -v " + name);
}

// The files, made once per build folder (the tests run as many processes)
// and shared. Names: "cbr" (40 s, 128 kbit/s, 44.1 kHz stereo noise), "vbr"
// (the same at -V 2), "lsf" (6 s, 22.05 kHz MPEG-2, 64 kbit/s), "v1" (5 s
// with an ID3v1 record), "v2" (5 s with an ID3v2 tag whose title is UTF-16),
// "mono" (3 s mono).
class Mp3Files {
public:
    static Mp3Files& Get() {
        static Mp3Files files;
        return files;
    }
    bool ok() const { return ok_; }
    std::string operator[](const std::string& name) const {
        return (dir_ / (name + ".mp3")).string();
    }

private:
    Mp3Files() : dir_(std::filesystem::path(TUNARA_BINARY_DIR) / "test-data" / "mp3") {
        if (std::filesystem::exists(dir_ / "complete")) {
            ok_ = true;
            return;
        }
        if (!HaveTool("lame") || !HaveTool("sox")) return;
        std::filesystem::create_directories(dir_.parent_path());
        // Made aside and renamed into place, so that a parallel run never sees half a set.
        std::string tmpl = dir_.string() + ".XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) return;
        const std::string d = tmpl + "/";
        const bool made =
            // Noise with a slow swell, so that the bit rate of the VBR file moves.
            Run("sox -n -r 44100 -c 2 -b 16 " + d +
                "long.wav synth 40 pinknoise vol 0.4 "
                "tremolo 0.2 60") &&
            Run("sox -n -r 44100 -c 2 -b 16 " + d + "short.wav synth 5 pinknoise vol 0.4") &&
            Run("sox -n -r 22050 -c 2 -b 16 " + d + "lsf.wav synth 6 pinknoise vol 0.4") &&
            Run("sox -n -r 44100 -c 1 -b 16 " + d + "mono.wav synth 3 pinknoise vol 0.4") &&
            Run("lame --quiet -b 128 --cbr " + d + "long.wav " + d + "cbr.mp3") &&
            Run("lame --quiet -V 2 " + d + "long.wav " + d + "vbr.mp3") &&
            Run("lame --quiet -b 64 --cbr --resample 22.05 " + d + "lsf.wav " + d + "lsf.mp3") &&
            Run("lame --quiet -b 96 " + d + "mono.wav " + d + "mono.mp3") &&
            Run(std::string("lame --quiet -b 128 --id3v1-only --tt 'V1 Title' --ta 'V1 Artist' "
                            "--tl 'V1 Album' --tg Rock ") +
                d + "short.wav " + d + "v1.mp3") &&
            Run(std::string("lame --quiet -b 128 --id3v2-only --id3v2-utf16 --tt 'Ünïcødé ♫' "
                            "--ta 'V2 Artist' --tg Trip-Hop ") +
                d + "short.wav " + d + "v2.mp3");
        std::error_code ec;
        for (const char* wav : {"long.wav", "short.wav", "lsf.wav", "mono.wav"})
            std::filesystem::remove(d + wav, ec);
        if (!made) {
            std::filesystem::remove_all(tmpl, ec);
            return;
        }
        std::ofstream(d + "complete") << "ok\n";
        std::filesystem::rename(tmpl, dir_, ec);
        if (ec) std::filesystem::remove_all(tmpl, ec);  // another process was first
        ok_ = std::filesystem::exists(dir_ / "complete");
    }
    std::filesystem::path dir_;
    bool ok_ = false;
};

// Whether the decoder can open a context (it may still be a placeholder).
inline bool DecoderWorks() {
    static const bool works = [] {
        const uint8_t options[4] = {1, 0, 0, 0};
        MpegDecHandle h = nullptr;
        auto none = [](uint8_t*, int32_t* count, void*) -> int32_t {
            *count = 0;
            return 0;
        };
        if (mpegDecOpen(options, 0x8D, none, nullptr, &h) != 0) return false;
        mpegDecClose(&h);
        return true;
    }();
    return works;
}

#define REQUIRE_MP3_FILES()                                                              \
    do {                                                                                 \
        TUNARA_SKIP_IF_MISSING(!::tunara::testing::Mp3Files::Get().ok(), "lame or sox"); \
    } while (0)
#define REQUIRE_DECODER()                                                              \
    do {                                                                               \
        if (!::tunara::testing::DecoderWorks()) FAIL() << "the decoder does not open"; \
    } while (0)

// An Mp3Source whose play state a test sets directly (no feeder thread).
class TestMp3Source : public Mp3Source {
public:
    explicit TestMp3Source(const std::string& path) : Mp3Source(tunara::testing::TestEngine()) {
        SetLocation(path);
    }
    void SetStateForTest(PlayState s) { state_ = s; }
};

// Everything ReadFrames delivers from the current position, interleaved;
// stops after `maxReads` reads whatever happens.
inline std::vector<int16_t> ReadToEnd(Mp3Source& source, int maxReads = 1 << 20) {
    std::vector<int16_t> all;
    std::vector<int16_t> buffer(1024 * 2);
    for (int i = 0; i < maxReads; ++i) {
        const int n = source.ReadFrames(buffer.data(), 1024);
        if (n == 0) break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + n * source.GetChannels());
    }
    return all;
}

}  // namespace tunara::testing
