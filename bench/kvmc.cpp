// KVMC encoding speed: a 5-minute 44.1 kHz stereo signal (a chord with noise) at 128 kbit/s
// with the recording job's flags, reported as times real time. For scale, the same signal goes
// through lame's high-quality mode (-q 2) at the same bit rate when lame is installed.
// Optional argument: bit rate in kbit/s.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "kvmc/KvmcEncoder.h"
#include "platform/io/WavHeader.h"

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

    // The same signal through lame for scale.
    char wavPath[] = "/tmp/tunara-bench-kvmc-XXXXXX";
    const int fd = ::mkstemp(wavPath);
    double lameSeconds = -1;
    if (fd >= 0) {
        FILE* f = ::fdopen(fd, "wb");
        const uint64_t dataBytes = uint64_t(frames) * channels * 2;
        uint8_t header[tunara::io::kWavHeaderBytes];
        tunara::io::MakeWavHeader({uint16_t(channels), uint32_t(rate), 16}, dataBytes, header);
        std::fwrite(header, 1, sizeof header, f);
        std::fwrite(pcm.data(), 2, size_t(frames * channels), f);
        std::fclose(f);
        const std::string cmd = "lame --quiet -q 2 -b " + std::to_string(kbps) + " " + wavPath +
                                " /dev/null 2>/dev/null";
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) == 0)
            lameSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ::unlink(wavPath);
    }
    std::printf(
        "KVMC %d kbit/s, 44.1 kHz stereo, %d s: %ld packets of %d bytes in %.2f s = %.1f x real "
        "time\n",
        kbps, seconds, packets, info.bytesPerPacket, elapsed, seconds / elapsed);
    if (lameSeconds > 0)
        std::printf(
            "lame -q 2 -b %d, same signal: %.2f s = %.1f x real time; KVMC/lame speed %.2f\n", kbps,
            lameSeconds, seconds / lameSeconds, lameSeconds / elapsed);
    return 0;
}
