#pragma once
// Disc images for the CD tests: a .bin of raw CD audio (16-bit little-endian
// stereo, 2352 bytes a sector) with a hand-written .cue, in a test folder.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tunara::testing {

inline constexpr int kSectorBytes = 2352;
inline constexpr int kFramesPerSector = 588;

struct CdImageTrack {
    int sectors = 75;  // CD frames of 1/75 s
    bool audio = true;
    double hz = 440.0;
};

// CD-Text lines of the cue sheet (written as UTF-8); empty texts are left out.
struct CdImageText {
    std::string title, performer;
    std::vector<std::string> trackTitles, trackPerformers;
};

struct CdImage {
    std::filesystem::path folder;
    std::string cue;               // the drive name to give the reader
    std::vector<int> firstSector;  // per track
    std::vector<int> sectors;      // per track
    std::vector<int16_t> samples;  // the whole disc, interleaved L R; data tracks as zeros

    // The samples of track `t` (0-based).
    std::vector<int16_t> Track(int t) const {
        auto begin = samples.begin() + int64_t(firstSector[size_t(t)]) * kFramesPerSector * 2;
        return {begin, begin + int64_t(sectors[size_t(t)]) * kFramesPerSector * 2};
    }
    int64_t LengthMs(int t) const { return int64_t(sectors[size_t(t)]) * 1000 / 75; }
};

// A tone of `hz` on the left and 1.5 times that on the right, at a third of
// full scale, so that a swapped or shifted channel shows. Exactly periodic
// where the pitch divides the sample rate.
inline void AppendTone(std::vector<int16_t>& samples, int sectors, double hz) {
    for (int i = 0; i < sectors * kFramesPerSector; ++i) {
        const double x = 2 * M_PI * hz * i / 44100.0;
        samples.push_back(int16_t(std::lround(10000 * std::sin(x))));
        samples.push_back(int16_t(std::lround(10000 * std::sin(1.5 * x))));
    }
}

// The bytes of one tone track as a drive reads them.
inline std::vector<uint8_t> TonePcm(int sectors, double hz) {
    std::vector<int16_t> samples;
    AppendTone(samples, sectors, hz);
    std::vector<uint8_t> pcm;
    pcm.reserve(samples.size() * 2);
    for (int16_t s : samples) {
        pcm.push_back(uint8_t(uint16_t(s) & 0xFF));
        pcm.push_back(uint8_t(uint16_t(s) >> 8));
    }
    return pcm;
}

inline std::string Msf(int frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 4500, frames / 75 % 60,
                  frames % 75);
    return text;
}

// Writes FOLDER/NAME.bin and FOLDER/NAME.cue. `missingSectors` leaves that
// many sectors off the end of the .bin while the sheet still claims them, as
// a disc whose last sectors cannot be read; the sheet is then a .toc, since a
// .cue's last track ends with its .bin.
inline CdImage MakeCdImage(const std::filesystem::path& folder, const std::string& name,
                           const std::vector<CdImageTrack>& tracks, const CdImageText& text = {},
                           int missingSectors = 0) {
    CdImage img;
    img.folder = folder;
    std::filesystem::create_directories(folder);
    const std::filesystem::path bin = folder / (name + ".bin");
    int first = 0;
    for (const CdImageTrack& t : tracks) {
        img.firstSector.push_back(first);
        img.sectors.push_back(t.sectors);
        if (t.audio)
            AppendTone(img.samples, t.sectors, t.hz);
        else
            img.samples.resize(img.samples.size() + size_t(t.sectors) * kFramesPerSector * 2);
        first += t.sectors;
    }
    {
        std::ofstream out(bin, std::ios::binary);
        const size_t kept = img.samples.size() - size_t(missingSectors) * kFramesPerSector * 2;
        for (size_t i = 0; i < kept; ++i) {
            out.put(char(uint16_t(img.samples[i]) & 0xFF));
            out.put(char(uint16_t(img.samples[i]) >> 8));
        }
    }
    auto nth = [](const std::vector<std::string>& v, size_t i) {
        return i < v.size() ? v[i] : std::string();
    };
    std::ofstream cue(folder / (name + ".cue"));
    auto textLine = [&cue](const char* indent, const char* key, const std::string& value) {
        if (!value.empty()) cue << indent << key << " \"" << value << "\"\n";
    };
    textLine("", "TITLE", text.title);
    textLine("", "PERFORMER", text.performer);
    cue << "FILE \"" << name << ".bin\" BINARY\n";
    for (size_t t = 0; t < tracks.size(); ++t) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n", t + 1,
                      tracks[t].audio ? "AUDIO" : "MODE1/2352");
        cue << line;
        textLine("    ", "TITLE", nth(text.trackTitles, t));
        textLine("    ", "PERFORMER", nth(text.trackPerformers, t));
        cue << "    INDEX 01 " << Msf(img.firstSector[t]) << "\n";
    }
    img.cue = (folder / (name + ".cue")).string();
    if (missingSectors > 0) {
        // libcdio finds a .toc's files from the working folder: a full path.
        std::ofstream toc(folder / (name + ".toc"));
        toc << "CD_DA\n";
        for (size_t t = 0; t < tracks.size(); ++t)
            toc << "TRACK AUDIO\nFILE \"" << bin.string() << "\" " << Msf(img.firstSector[t]) << " "
                << Msf(img.sectors[t]) << "\n";
        img.cue = (folder / (name + ".toc")).string();
    }
    return img;
}

// FOLDER/disc.cue with audio tracks of the given lengths; track t at hz[t],
// or 220 * (t + 1) Hz.
inline CdImage MakeCdImage(const std::filesystem::path& folder, const std::vector<int>& sectors,
                           const std::vector<double>& hz = {}, int missingSectors = 0,
                           const CdImageText& text = {}) {
    std::vector<CdImageTrack> tracks;
    for (size_t t = 0; t < sectors.size(); ++t)
        tracks.push_back({sectors[t], true, t < hz.size() ? hz[t] : 220.0 * double(t + 1)});
    return MakeCdImage(folder, "disc", tracks, text, missingSectors);
}

inline CdImage MakeCdImage(const std::filesystem::path& folder, const std::vector<int>& sectors,
                           const CdImageText& text) {
    return MakeCdImage(folder, sectors, {}, 0, text);
}

// Writes DIR/NAME.bin and DIR/NAME.cue; returns the .cue path.
inline std::string WriteCdImage(const std::filesystem::path& dir, const std::string& name,
                                const std::vector<CdImageTrack>& tracks) {
    return MakeCdImage(dir, name, tracks).cue;
}

// Three short tones and a data track.
inline std::vector<CdImageTrack> StandardTracks() {
    return {{150, true, 440.0}, {225, true, 660.0}, {113, true, 550.0}, {300, false, 0.0}};
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

}  // namespace tunara::testing
