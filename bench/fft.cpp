// Real FFT of order 10 (the analyser's block) against FFTW, and the whole
// analyser chain: window, transform, scaling and power spectrum.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dsp/dsp.h"

#ifdef TUNARA_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

constexpr int kOrder = 10;
constexpr int kN = 1 << kOrder;

void FillSignal(float* x, int n) {
    for (int i = 0; i < n; ++i) x[i] = std::sin(0.1f * i) + 0.25f * std::cos(0.37f * i);
}

// In place, so the input is copied in each time (about 4 KiB; the out-of-place
// variant below is the like-for-like comparison with FFTW).
void BM_DspRealFft(benchmark::State& state) {
    std::vector<float> sig(kN), buf(kN + 2);
    FillSignal(sig.data(), kN);
    dspsRealFft(nullptr, kOrder, dspFftMakeTables);
    for (auto _ : state) {
        std::copy(sig.begin(), sig.end(), buf.begin());
        dspsRealFft(buf.data(), kOrder, dspFftForward);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DspRealFft);

void BM_DspRealFftNip(benchmark::State& state) {
    std::vector<float> in(kN), out(kN + 2);
    FillSignal(in.data(), kN);
    for (auto _ : state) {
        dspsRealFftNip(in.data(), out.data(), kOrder, dspFftForward);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DspRealFftNip);

void BM_DspInverseCcs(benchmark::State& state) {
    std::vector<float> sig(kN), ccs(kN + 2), out(kN);
    FillSignal(sig.data(), kN);
    dspsRealFftNip(sig.data(), ccs.data(), kOrder, dspFftForward);
    for (auto _ : state) {
        dspsCcsFftNip(ccs.data(), out.data(), kOrder, dspFftInverse);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DspInverseCcs);

#ifdef TUNARA_HAVE_FFTW
void BM_FftwR2c(benchmark::State& state) {
    float* in = fftwf_alloc_real(kN);
    fftwf_complex* out = fftwf_alloc_complex(kN / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(kN, in, out, FFTW_MEASURE);
    FillSignal(in, kN);
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
}
BENCHMARK(BM_FftwR2c);
#endif

// The analyser's per-buffer work: Hann window, transform, 1/N scaling, power.
void BM_WindowFftPower(benchmark::State& state) {
    std::vector<float> sig(kN), block(kN + 2), bins(kN / 2);
    FillSignal(sig.data(), kN);
    for (auto _ : state) {
        std::copy(sig.begin(), sig.end(), block.begin());
        dspsWinHann(block.data(), kN);
        dspsRealFft(block.data(), kOrder, dspFftForward);
        dspsbMpy1(1.0f / kN, block.data(), kN + 2);
        dspcbPowerSpectr(block.data(), bins.data(), kN / 2);
        benchmark::DoNotOptimize(bins.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WindowFftPower);

// The decoder's output conversion, one granule of one channel.
void BM_FloatToInt16Granule(benchmark::State& state) {
    std::vector<float> src(576);
    std::vector<int16_t> dst(576);
    FillSignal(src.data(), 576);
    for (float& v : src) v *= 30000.0f;
    for (auto _ : state) {
        dspsbFloatToInt(src.data(), dst.data(), 576, 16, dspRndNear | dspSaturate);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FloatToInt16Granule);

}  // namespace

BENCHMARK_MAIN();
