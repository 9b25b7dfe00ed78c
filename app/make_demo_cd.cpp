// Writes a small disc image to try the CD player without a drive: three
// short tunes as audio tracks and one data track, as DIR/tunara-demo.bin
// with its cue sheet DIR/tunara-demo.cue.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kSectorBytes = 2352;
constexpr int kFramesPerSector = 588;
constexpr double kPi = 3.14159265358979323846;

double Hz(int semitonesFromA4) {
    return 440.0 * std::pow(2.0, semitonesFromA4 / 12.0);
}

// A plucked note: a few harmonics that die away.
void Note(std::vector<double>& left, std::vector<double>& right, double startS, double lengthS,
          double hz, double pan) {
    size_t start = static_cast<size_t>(startS * kRate);
    size_t count = static_cast<size_t>(lengthS * kRate);
    for (size_t i = 0; i < count && start + i < left.size(); ++i) {
        double t = static_cast<double>(i) / kRate;
        double v = 0.0;
        for (int h = 1; h <= 4; ++h)
            v += std::sin(2 * kPi * hz * h * t) * std::exp(-t * (2.5 + 1.5 * h)) / h;
        double attack = std::min(1.0, t * 200.0);
        v *= 0.28 * attack;
        left[start + i] += v * (1.0 - pan);
        right[start + i] += v * pan;
    }
}

// One tune: notes given as semitones from A4 (99 for a rest), one per beat.
std::vector<uint8_t> Tune(const std::vector<int>& melody, double beatS, int bassRoot) {
    double lengthS = melody.size() * beatS + 1.0;
    size_t frames = static_cast<size_t>(lengthS * kRate);
    frames += kFramesPerSector - frames % kFramesPerSector;  // whole sectors
    std::vector<double> l(frames), r(frames);
    for (size_t i = 0; i < melody.size(); ++i) {
        if (melody[i] != 99)
            Note(l, r, i * beatS, beatS * 2.5, Hz(melody[i]), 0.35 + 0.3 * (i % 2));
        if (i % 4 == 0) Note(l, r, i * beatS, beatS * 4, Hz(bassRoot - 12), 0.5);
    }
    std::vector<uint8_t> out(frames * 4);
    for (size_t i = 0; i < frames; ++i) {
        auto put = [&](size_t at, double v) {
            auto s = static_cast<int16_t>(std::lround(std::max(-1.0, std::min(1.0, v)) * 32000));
            out[at] = static_cast<uint8_t>(s);
            out[at + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
        };
        put(4 * i, l[i]);
        put(4 * i + 2, r[i]);
    }
    return out;
}

std::string Msf(size_t sectors) {
    char text[32];
    std::snprintf(text, sizeof text, "%02zu:%02zu:%02zu", sectors / 4500, sectors / 75 % 60,
                  sectors % 75);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    std::vector<std::vector<uint8_t>> tracks = {
        Tune({-9, -5, -2, 3, -2, -5, -9, 99, -7, -4, 0, 3, 0, -4, -7, 99}, 0.3, -9),
        Tune({3, 5, 7, 10, 7, 5, 3, 99, 2, 3, 5, 7, 5, 3, 2, 99, 0}, 0.25, -9),
        Tune({-2, 99, 2, 5, 9, 5, 2, -2, 0, 4, 7, 12, 7, 99, 5}, 0.35, -14),
    };
    // The data track: sectors with a mode-1 sync pattern and nothing else.
    std::vector<uint8_t> data(150 * kSectorBytes, 0);
    for (size_t s = 0; s < 150; ++s) {
        uint8_t* sector = data.data() + s * kSectorBytes;
        for (int i = 1; i < 11; ++i) sector[i] = 0xff;
        sector[15] = 1;
    }
    tracks.push_back(data);

    std::FILE* bin = std::fopen((dir + "/tunara-demo.bin").c_str(), "wb");
    std::FILE* cue = std::fopen((dir + "/tunara-demo.cue").c_str(), "w");
    if (!bin || !cue) {
        std::fprintf(stderr, "%s: cannot write into %s\n", argv[0], dir.c_str());
        return 1;
    }
    std::fprintf(cue, "FILE \"tunara-demo.bin\" BINARY\n");
    size_t start = 0;
    for (size_t t = 0; t < tracks.size(); ++t) {
        bool audio = t + 1 < tracks.size();
        std::fprintf(cue, "  TRACK %02zu %s\n    INDEX 01 %s\n", t + 1,
                     audio ? "AUDIO" : "MODE1/2352", Msf(start).c_str());
        std::fwrite(tracks[t].data(), 1, tracks[t].size(), bin);
        start += tracks[t].size() / kSectorBytes;
    }
    bool ok = std::fclose(bin) == 0;
    ok = std::fclose(cue) == 0 && ok;
    return ok ? 0 : 1;
}
