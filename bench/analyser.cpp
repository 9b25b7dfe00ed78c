// Cost of the level meter and spectrum analysis of one finished buffer
// (1024 frames of 16-bit stereo), which runs on the device's thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "dsp/dsp.h"
#include "engine/SpectrumAnalyser.h"

namespace {

std::vector<uint8_t> MusicLikeBuffer() {
    std::vector<uint8_t> pcm(tunara::SpectrumAnalyser::kFrames * 4);
    for (int i = 0; i < tunara::SpectrumAnalyser::kFrames; ++i) {
        double t = i / 44100.0;
        auto l = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t) +
                                      3000 * std::sin(2 * M_PI * 3100 * t));
        auto r = static_cast<int16_t>(7000 * std::sin(2 * M_PI * 660 * t) +
                                      2000 * std::sin(2 * M_PI * 9000 * t));
        std::memcpy(&pcm[i * 4], &l, 2);
        std::memcpy(&pcm[i * 4 + 2], &r, 2);
    }
    return pcm;
}

void BM_AnalyseStereo16(benchmark::State& state) {
    static tunara::SpectrumAnalyser analyser;  // large working arrays: keep off the stack
    analyser.SetFormat(2, 16);
    analyser.SetBandCount(static_cast<int>(state.range(0)));
    auto pcm = MusicLikeBuffer();
    std::vector<float> bands(512);
    for (auto _ : state) {
        analyser.Analyse(pcm.data());
        benchmark::DoNotOptimize(pcm.data());
    }
    float l, r;
    analyser.GetLevels(l, r, false);
    analyser.GetSpectrum(bands.data(), false);
    benchmark::DoNotOptimize(bands.data());
}
BENCHMARK(BM_AnalyseStereo16)->Arg(16)->Arg(512);

// The transform on its own, for comparison with the whole analysis.
void BM_HannFftPower1024(benchmark::State& state) {
    std::vector<float> block(1026), power(512);
    for (int i = 0; i < 1024; ++i) block[i] = static_cast<float>(std::sin(i * 0.1));
    std::vector<float> work(1026);
    for (auto _ : state) {
        std::memcpy(work.data(), block.data(), 1024 * sizeof(float));
        dspsWinHann(work.data(), 1024);
        dspsRealFft(work.data(), 10, dspFftForward);
        dspcbPowerSpectr(work.data(), power.data(), 512);
        benchmark::DoNotOptimize(power.data());
    }
}
BENCHMARK(BM_HannFftPower1024);

}  // namespace

BENCHMARK_MAIN();
