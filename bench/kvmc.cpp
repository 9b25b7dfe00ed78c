// KVMC encoding speed: a 5-minute 44.1 kHz stereo signal (a chord with noise) at 128 kbit/s
// with the recording job's flags, reported as times real time. Optional argument: bit rate in
// kbit/s.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "kvmc/kvmc.h"

int main(int argc, char** argv) {
    const int kbps = argc > 1 ? std::atoi(argv[1]) : 128;
    const int rate = 44100, channels = 2, seconds = 300;
    KvmcStreamInfo info{1, channels, rate, kbps * 1000, 0, 0, 0};
    const KvmcParams params = kvmcRecordParams(info.bitRate);
    KvmcHandle enc = nullptr;
    if (kvmcOpen(&enc) != 0 || kvmcConfigure(enc, &info, &params) != 0) {
        std::fprintf(stderr, "cannot configure the encoder\n");
        return 1;
    }
    const int H = info.samplesPerPacket;
    const long frames = long(rate) * seconds;
    std::vector<int16_t> pcm(size_t(frames + 5 * H) * channels, 0);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 600.0);
    for (long i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double chord =
            5000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 277.2 * t) +
            2500 * std::sin(2 * M_PI * 329.6 * t) * (1 + std::sin(2 * M_PI * 0.5 * t));
        pcm[size_t(i) * 2] = int16_t(chord + noise(rng));
        pcm[size_t(i) * 2 + 1] = int16_t(0.8 * chord + noise(rng));
    }
    std::vector<uint8_t> packet(size_t(info.bytesPerPacket));
    std::vector<int16_t> window(size_t(5 * H * channels));
    const long packets = (frames + H - 1) / H;
    const auto start = std::chrono::steady_clock::now();
    for (long p = 0; p < packets; ++p) {
        // The window starts H frames later each packet; only its last hop is new to the encoder.
        std::copy(pcm.begin() + p * H * channels, pcm.begin() + (p * H + 5 * H) * channels,
                  window.begin());
        kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(), info.bytesPerPacket,
                         packet.data());
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kvmcClose(&enc);
    std::printf(
        "KVMC %d kbit/s, 44.1 kHz stereo, %d s: %ld packets of %d bytes in %.2f s = %.1f x real "
        "time\n",
        kbps, seconds, packets, info.bytesPerPacket, elapsed, seconds / elapsed);
    return 0;
}
