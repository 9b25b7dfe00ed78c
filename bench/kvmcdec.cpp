// KVMC decode speed in times real time at 128 kbit/s, 44.1 kHz stereo, on music-like input
// (a chord over noise), with the encoder's speed on the same signal for scale.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "kvmc/kvmc.h"

namespace {

constexpr int kRate = 44100, kSeconds = 10;

struct Fixture {
    KvmcStreamInfo info{1, 2, kRate, 128000, 0, 0, 0};
    KvmcParams params = kvmcRecordParams(128000);
    std::vector<int16_t> pcm;
    std::vector<std::vector<uint8_t>> packets;
    Fixture() {
        kvmcStreamValues(&info);
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0, 800);
        pcm.resize(size_t(kRate) * kSeconds * 2);
        for (size_t i = 0; i < pcm.size() / 2; ++i) {
            const double t = double(i) / kRate;
            const double v = 5000 * std::sin(2 * M_PI * 220 * t) +
                             3000 * std::sin(2 * M_PI * 330 * t) +
                             2000 * std::sin(2 * M_PI * 1320 * t) + noise(rng);
            pcm[2 * i] = pcm[2 * i + 1] = int16_t(v);
        }
        Encode(true);
    }
    void Encode(bool keep) {
        KvmcHandle enc = nullptr;
        kvmcOpen(&enc);
        KvmcStreamInfo i = info;
        kvmcConfigure(enc, &i, &params);
        const int H = i.samplesPerPacket;
        std::vector<int16_t> window(size_t(10 * H), 0);
        std::vector<uint8_t> packet(size_t(i.bytesPerPacket));
        const long frames = long(pcm.size() / 2);
        for (long p = 0; p * H < frames + 4L * H; ++p) {
            const long base = p == 0 ? 0 : 4;
            for (long f = (p == 0 ? 0 : 4L * H); f < 5L * H; ++f) {
                const long src = p * H + f;
                for (int c = 0; c < 2; ++c)
                    window[size_t(2 * f + c)] = src < frames ? pcm[size_t(2 * src + c)] : 0;
            }
            (void)base;
            kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(), int32_t(packet.size()),
                             packet.data());
            if (keep) packets.push_back(packet);
            std::copy(window.begin() + 2 * H, window.end(), window.begin());
        }
        kvmcClose(&enc);
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

void BM_KvmcDecode128kStereo(benchmark::State& state) {
    Fixture& f = F();
    KvmcDecHandle dec = nullptr;
    kvmcDecOpen(&dec);
    kvmcDecConfigure(dec, &f.info, &f.params);
    std::vector<int16_t> hop(size_t(2 * f.info.samplesPerPacket));
    for (auto _ : state) {
        kvmcDecReset(dec);
        for (const auto& p : f.packets)
            kvmcDecDecodePacket(dec, int32_t(p.size()), p.data(), int32_t(hop.size() * 2),
                                hop.data());
        benchmark::DoNotOptimize(hop.data());
    }
    kvmcDecClose(&dec);
    state.counters["x_realtime"] = benchmark::Counter(double(kSeconds) * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_KvmcDecode128kStereo)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_KvmcEncode128kStereo(benchmark::State& state) {
    Fixture& f = F();
    for (auto _ : state) f.Encode(false);
    state.counters["x_realtime"] = benchmark::Counter(double(kSeconds) * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_KvmcEncode128kStereo)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
