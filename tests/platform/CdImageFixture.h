#pragma once
// Audio CD images for tests: a .bin of raw CD audio (16-bit little-endian
// stereo, 2352 bytes a sector) with a hand-written .cue, in a temporary folder.
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tunara::test {

using tunara::testing::TempDir;

inline constexpr int kSectorBytes = 2352;
inline constexpr int kFramesPerSector = 588;

struct CdImage {
    std::filesystem::path folder;
    std::string cue;               // the drive name to give the reader
    std::vector<int> firstSector;  // per track
    std::vector<int> sectors;      // per track
    std::vector<int16_t> samples;  // the whole disc, interleaved L R

    // The samples of track `t` (0-based).
    std::vector<int16_t> Track(int t) const {
        auto begin = samples.begin() + int64_t(firstSector[size_t(t)]) * kFramesPerSector * 2;
        return {begin, begin + int64_t(sectors[size_t(t)]) * kFramesPerSector * 2};
    }
    int64_t LengthMs(int t) const { return int64_t(sectors[size_t(t)]) * 1000 / 75; }
};

// CD-Text lines of the cue sheet (written as UTF-8); empty texts are left out.
struct CdImageText {
    std::string title, performer;
    std::vector<std::string> trackTitles, trackPerformers;
};

// Track t holds a tone of hz[t] (default 220 * (t + 1)) Hz on the left and 1.5
// times that on the right, at a third of full scale. `missingSectors` leaves
// that many sectors off the end of the .bin while the .cue still claims them,
// as a disc whose last sectors cannot be read (`cue` is then a .toc).
inline CdImage MakeCdImage(const std::filesystem::path& folder, const std::vector<int>& sectors,
                           const std::vector<double>& hz = {}, int missingSectors = 0,
                           const CdImageText& text = {}) {
    CdImage img;
    img.folder = folder;
    std::filesystem::create_directories(folder);
    int first = 0;
    for (size_t t = 0; t < sectors.size(); ++t) {
        img.firstSector.push_back(first);
        img.sectors.push_back(sectors[t]);
        const double f = t < hz.size() ? hz[t] : 220.0 * double(t + 1);
        for (int i = 0; i < sectors[t] * kFramesPerSector; ++i) {
            double x = 2 * M_PI * f * i / 44100.0;
            img.samples.push_back(int16_t(std::lround(10000 * std::sin(x))));
            img.samples.push_back(int16_t(std::lround(10000 * std::sin(1.5 * x))));
        }
        first += sectors[t];
    }
    std::ofstream bin(folder / "disc.bin", std::ios::binary);
    const size_t kept = img.samples.size() - size_t(missingSectors) * kFramesPerSector * 2;
    for (size_t i = 0; i < kept; ++i) {
        const int16_t s = img.samples[i];
        bin.put(char(uint16_t(s) & 0xFF));
        bin.put(char(uint16_t(s) >> 8));
    }
    bin.close();
    std::ofstream cue(folder / "disc.cue");
    auto textLine = [&cue](const char* indent, const char* key, const std::string& value) {
        if (!value.empty()) cue << indent << key << " \"" << value << "\"\n";
    };
    auto nth = [](const std::vector<std::string>& v, size_t i) {
        return i < v.size() ? v[i] : std::string();
    };
    textLine("", "TITLE", text.title);
    textLine("", "PERFORMER", text.performer);
    cue << "FILE \"disc.bin\" BINARY\n";
    for (size_t t = 0; t < sectors.size(); ++t) {
        int s = img.firstSector[t];
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n", int(t + 1));
        cue << line;
        textLine("    ", "TITLE", nth(text.trackTitles, t));
        textLine("    ", "PERFORMER", nth(text.trackPerformers, t));
        std::snprintf(line, sizeof line, "    INDEX 01 %02d:%02d:%02d\n", s / 4500, s / 75 % 60,
                      s % 75);
        cue << line;
    }
    img.cue = (folder / "disc.cue").string();
    if (missingSectors > 0) {
        // A .cue's last track ends with its .bin; a .toc states every length.
        // libcdio finds a .toc's files from the working folder: a full path.
        std::ofstream toc(folder / "disc.toc");
        toc << "CD_DA\n";
        auto msf = [](int f) {
            char text[16];
            std::snprintf(text, sizeof text, "%02d:%02d:%02d", f / 4500, f / 75 % 60, f % 75);
            return std::string(text);
        };
        for (size_t t = 0; t < sectors.size(); ++t)
            toc << "TRACK AUDIO\nFILE \"" << (folder / "disc.bin").string() << "\" "
                << msf(img.firstSector[t]) << " " << msf(sectors[t]) << "\n";
        img.cue = (folder / "disc.toc").string();
    }
    return img;
}

inline CdImage MakeCdImage(const std::filesystem::path& folder, const std::vector<int>& sectors,
                           const CdImageText& text) {
    return MakeCdImage(folder, sectors, {}, 0, text);
}

// The PCM data of a 44-byte-header WAV file.
inline std::vector<int16_t> ReadWavSamples(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
    std::vector<int16_t> s;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
        s.push_back(int16_t(uint16_t(uint8_t(bytes[i])) | uint16_t(uint8_t(bytes[i + 1])) << 8));
    return s;
}

}  // namespace tunara::test
