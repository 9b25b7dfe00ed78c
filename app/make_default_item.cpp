// Writes the player's default item: four seconds of a soft C major chord
// (C4 E4 G4 C5), 44.1 kHz 16-bit stereo, with a gentle attack and release.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/io/WavHeader.h"

namespace {
void Put16(std::FILE* f, uint16_t v) {
    unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    const uint32_t rate = 44100, channels = 2, seconds = 4;
    const uint32_t frames = rate * seconds;
    const double notes[] = {261.63, 329.63, 392.00, 523.25};
    const double pi = 3.14159265358979323846;
    std::vector<int16_t> pcm(frames * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        double env =
            std::min(1.0, t / 0.05) * std::exp(-0.6 * t) * std::min(1.0, (seconds - t) / 0.5);
        double left = 0, right = 0;
        for (int n = 0; n < 4; ++n) {
            double v = std::sin(2 * pi * notes[n] * t) + 0.3 * std::sin(4 * pi * notes[n] * t);
            // Spread the notes a little across the stereo field.
            left += v * (1.0 - 0.15 * n);
            right += v * (0.55 + 0.15 * n);
        }
        pcm[2 * i] = static_cast<int16_t>(std::lround(left * env * 3200));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lround(right * env * 3200));
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({uint16_t(channels), rate, 16}, uint64_t(frames) * channels * 2,
                              header);
    std::fwrite(header, 1, sizeof header, f);
    for (int16_t s : pcm) Put16(f, static_cast<uint16_t>(s));
    return std::fclose(f) == 0 ? 0 : 1;
}
