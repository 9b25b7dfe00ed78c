// Decoding speed: a 5-minute 44.1 kHz stereo signal encoded with lame at 128 and 320 kbit/s
// (made once and cached in /tmp), decoded to 16-bit PCM in memory.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "mpegdec/mpegdec.h"
#include "platform/io/WavHeader.h"

namespace {

using tunara::bench::MemoryInput;
using tunara::bench::ReadFile;
using tunara::bench::ReadMemory;

// Music-like signal: a few drifting partials, noise and periodic attacks.
void WriteSignal(const std::string& path, double seconds) {
    const int rate = 44100;
    const uint32_t frames = uint32_t(seconds * rate);
    std::ofstream f(path, std::ios::binary);
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({2, uint32_t(rate), 16}, uint64_t(frames) * 4, header);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    uint32_t noise = 1;
    std::vector<int16_t> block;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            double v = 0;
            for (int k = 1; k <= 6; ++k)
                v += 0.08 / k * std::sin(2 * M_PI * (110.0 * k * (1 + 0.01 * std::sin(t))) * t + c);
            v += 0.05 * (double(noise >> 8) / double(1 << 24) - 0.5);
            const double beat = std::fmod(t, 0.5);
            if (beat < 0.02)
                v += 0.4 * (1 - beat / 0.02) * (double(noise >> 9) / double(1 << 23) - 0.5);
            block.push_back(int16_t(std::lround(v * 32000)));
        }
        if (block.size() >= 8192) {
            f.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 2));
            block.clear();
        }
    }
    f.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 2));
}

const std::vector<uint8_t>& Fixture(int kbps) {
    static std::vector<uint8_t> files[2];
    std::vector<uint8_t>& bytes = files[kbps == 320];
    if (!bytes.empty()) return bytes;
    const std::string wav = "/tmp/tunara-bench-mpegdec.wav";
    const std::string mp3 = "/tmp/tunara-bench-mpegdec-" + std::to_string(kbps) + ".mp3";
    bytes = ReadFile(mp3);
    if (bytes.empty()) {
        if (ReadFile(wav).empty()) WriteSignal(wav, 300.0);
        const std::string cmd =
            "lame --quiet -b " + std::to_string(kbps) + " '" + wav + "' '" + mp3 + "'";
        if (std::system(cmd.c_str()) == 0) bytes = ReadFile(mp3);
    }
    return bytes;
}

void BM_Decode(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = Fixture(int(state.range(0)));
    if (bytes.empty()) {
        state.SkipWithError("lame not available");
        return;
    }
    std::vector<int16_t> pcm(size_t(300 * 44100 + 44100) * 2);
    int64_t samples = 0;
    for (auto _ : state) {
        MemoryInput in{&bytes, 0};
        const uint8_t options[4] = {1, 0, 0, 0};
        MpegDecHandle h = nullptr;
        mpegDecOpen(options, 0x008D, ReadMemory, &in, &h);
        size_t at = 0;
        for (;;) {
            MpegPcmBlock block{0, 0, pcm.data() + at};
            const int32_t rc = mpegDecDecodeFrame(nullptr, &block, nullptr, h);
            if (rc != 0 && rc != kMpegDecBadSideInfo) break;
            at += size_t(block.samplesPerChannel * block.channels);
            if (at + 2304 > pcm.size()) at = 0;
        }
        samples += int64_t(at / 2);
        mpegDecClose(&h);
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["realtime_x"] =
        benchmark::Counter(double(samples) / 44100.0, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

}  // namespace

BENCHMARK(BM_Decode)->Arg(128)->Arg(320)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
