#pragma once
// Disc images for the CD tests: a .bin of sine tones (and zeroed data
// sectors) with a hand-written .cue, in a temporary folder.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tunara::testing {

struct CdImageTrack {
    int sectors = 75;  // CD frames of 1/75 s
    bool audio = true;
    double hz = 440.0;
};

inline constexpr int kSectorBytes = 2352;

// Stereo 16-bit little-endian tone, left and right at different pitches so
// that a swapped or shifted channel shows.
inline std::vector<uint8_t> TonePcm(int sectors, double hz) {
    std::vector<uint8_t> pcm(static_cast<size_t>(sectors) * kSectorBytes);
    size_t frames = pcm.size() / 4;
    for (size_t i = 0; i < frames; ++i) {
        auto l = static_cast<int16_t>(9000 * std::sin(2 * M_PI * hz * i / 44100.0));
        auto r = static_cast<int16_t>(7000 * std::sin(2 * M_PI * hz * 1.5 * i / 44100.0) + i % 7);
        pcm[4 * i] = static_cast<uint8_t>(l);
        pcm[4 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(l) >> 8);
        pcm[4 * i + 2] = static_cast<uint8_t>(r);
        pcm[4 * i + 3] = static_cast<uint8_t>(static_cast<uint16_t>(r) >> 8);
    }
    return pcm;
}

inline std::string Msf(int frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 4500, frames / 75 % 60,
                  frames % 75);
    return text;
}

// Writes DIR/NAME.bin and DIR/NAME.cue; returns the .cue path.
inline std::string WriteCdImage(const std::filesystem::path& dir, const std::string& name,
                                const std::vector<CdImageTrack>& tracks) {
    std::filesystem::create_directories(dir);
    std::ofstream bin(dir / (name + ".bin"), std::ios::binary);
    std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
    int start = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const auto& t = tracks[i];
        char head[64];
        std::snprintf(head, sizeof head, "  TRACK %02zu %s\n", i + 1,
                      t.audio ? "AUDIO" : "MODE1/2352");
        cue += head;
        cue += "    INDEX 01 " + Msf(start) + "\n";
        std::vector<uint8_t> data =
            t.audio ? TonePcm(t.sectors, t.hz) : std::vector<uint8_t>(t.sectors * kSectorBytes, 0);
        bin.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        start += t.sectors;
    }
    std::ofstream(dir / (name + ".cue")) << cue;
    return (dir / (name + ".cue")).string();
}

// Three short tones and a data track.
inline std::vector<CdImageTrack> StandardTracks() {
    return {{150, true, 440.0}, {225, true, 660.0}, {113, true, 550.0}, {300, false, 0.0}};
}

}  // namespace tunara::testing
