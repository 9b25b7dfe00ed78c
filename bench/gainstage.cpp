// The gain stage's cost per second of 44.1 kHz stereo: equaliser on (a
// preset, with item gain and balance), gain only, and everything off; and
// the MP3 decoder on the same material in the same run, as the yardstick.
// Counters: core_share = CPU seconds per second of sound; of_decoder = the
// stage's cost as a share of the decoder's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "engine/GainStage.h"
#include "mpegdec/mpegdec.h"

namespace {

using tunara::bench::MemoryInput;
using tunara::bench::ReadFile;
using tunara::bench::ReadMemory;

constexpr int kRate = 44100;
constexpr int kSeconds = 20;

const std::vector<uint8_t>& Mp3() {
    static std::vector<uint8_t> bytes;
    if (!bytes.empty()) return bytes;
    const std::string mp3 = "/tmp/tunara-bench-gainstage.mp3";
    bytes = ReadFile(mp3);
    if (bytes.empty() &&
        std::system(("sox -n -r 44100 -c 2 -b 16 -t wav - synth 20 pinknoise synth 20 sine mix 220 "
                     "vol 0.3 2>/dev/null | lame --quiet -b 192 - " +
                     mp3)
                        .c_str()) == 0)
        bytes = ReadFile(mp3);
    return bytes;
}

// The decoded sound, made once.
std::vector<int16_t>& Pcm() {
    static std::vector<int16_t> pcm;
    return pcm;
}

void BM_Decoder(benchmark::State& state) {
    const auto& bytes = Mp3();
    if (bytes.empty()) return state.SkipWithError("sox or lame not available");
    std::vector<int16_t> pcm(size_t(kSeconds + 1) * kRate * 2);
    size_t at = 0;
    double seconds = 0;
    for (auto _ : state) {
        MemoryInput in{&bytes, 0};
        const uint8_t options[4] = {1, 0, 0, 0};
        MpegDecHandle h = nullptr;
        mpegDecOpen(options, 0x008D, ReadMemory, &in, &h);
        at = 0;
        for (;;) {
            MpegPcmBlock block{0, 0, pcm.data() + at};
            const int32_t rc = mpegDecDecodeFrame(nullptr, &block, nullptr, h);
            if (rc != 0 && rc != kMpegDecBadSideInfo) break;
            at += size_t(block.samplesPerChannel * block.channels);
            if (at + 2304 > pcm.size()) break;
        }
        mpegDecClose(&h);
        seconds += double(at / 2) / kRate;
    }
    pcm.resize(at);
    Pcm() = pcm;
    state.counters["core_share"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["audio_s"] = seconds;
}

void Stage(benchmark::State& state, const tunara::SoundSettings& settings, float itemGain) {
    if (Pcm().empty()) return state.SkipWithError("no decoded sound (BM_Decoder runs first)");
    tunara::GainStage stage;
    stage.SetSettings(settings);
    const auto format = tunara::audio::PcmFormat::Make(2, kRate, 16);
    const auto& in = Pcm();
    std::vector<int16_t> out(in.size());
    const uint32_t frames = uint32_t(in.size() / 2);
    double seconds = 0;
    // Buffers the size the engine's ring uses.
    for (auto _ : state) {
        for (uint32_t f = 0; f < frames; f += 1024) {
            const uint32_t n = std::min<uint32_t>(1024, frames - f);
            const bool changed =
                stage.Process(format, itemGain, reinterpret_cast<const uint8_t*>(in.data() + 2 * f),
                              reinterpret_cast<uint8_t*>(out.data() + 2 * f), n);
            benchmark::DoNotOptimize(changed);
        }
        seconds += double(frames) / kRate;
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["core_share"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_StageEqualiser(benchmark::State& state) {
    tunara::SoundSettings s;
    s.eqOn = true;
    s.eqDb = {5, 4, 3, 1, -1, -1, 1, 3, 4, 5};
    s.balance = 20;
    Stage(state, s, 0.7f);
}

void BM_StageGainOnly(benchmark::State& state) {
    Stage(state, {}, 0.7f);
}

void BM_StageOff(benchmark::State& state) {
    Stage(state, {}, 1.0f);
}

}  // namespace

BENCHMARK(BM_Decoder)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_StageEqualiser)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_StageGainOnly)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_StageOff)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK_MAIN();
