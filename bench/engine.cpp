// The output engine while playing: CPU time of all its threads (feeder,
// device, analysis) for a 5-minute 44.1 kHz stereo stream played in real
// time to the null device, and the time from Play to the first buffer at
// the device.
//
// The CPU figure is measured over a few seconds of real-time playing and
// scaled: cpu_percent is the share of one core, cpu_s_per_5min the CPU
// seconds the whole 5 minutes would take.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/PcmSource.h"
#include "engine/testing/EngineTesting.h"
#include "platform/audio/NullDevice.h"

namespace {

using Clock = std::chrono::steady_clock;

// A 5-minute 44.1 kHz 16-bit stereo item made of a one-second loop, so the
// source costs no more than a copy.
class LoopSource : public tunara::PcmSource {
public:
    static constexpr uint32_t kRate = 44100;
    static constexpr uint32_t kLength = kRate * 300;
    LoopSource() : PcmSource(tunara::testing::TestEngine()), loop_(kRate * 2) {
        sampleRate_ = kRate;
        channels_ = 2;
        bitsPerSample_ = 16;
        for (uint32_t i = 0; i < kRate; ++i) {
            auto s = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 441.0 * i / kRate));
            loop_[2 * i] = loop_[2 * i + 1] = s;
        }
    }
    ~LoopSource() override { Close(); }
    int OpenStream() override { return 1; }
    int CloseStream() override { return 1; }
    int ReadFrames(void* buffer, int frames) override {
        auto* out = static_cast<int16_t*>(buffer);
        int n = 0;
        while (n < frames && pos_ < kLength) {
            uint32_t at = pos_ % kRate;
            uint32_t take =
                std::min<uint32_t>({static_cast<uint32_t>(frames - n), kRate - at, kLength - pos_});
            std::memcpy(out + 2 * n, &loop_[2 * at], take * 4);
            n += static_cast<int>(take);
            pos_ += take;
        }
        return n;
    }
    int WriteFrames(const void*, int) override { return 0; }
    uint32_t SeekFrame(uint32_t frame) override { return pos_ = std::min(frame, kLength); }

private:
    std::vector<int16_t> loop_;
    uint32_t pos_ = 0;
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](timeval t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

void BM_PlayRealTimeCpu(benchmark::State& state) {
    tunara::audio::SetDeviceFactory([] {
        return std::make_unique<tunara::audio::NullDevice>(
            tunara::audio::NullDevice::Pace::RealTime);
    });
    const double span = static_cast<double>(state.range(0));
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        LoopSource source;
        source.Open();
        source.SetBandCount(16);
        source.Play();
        // Past the priming burst, then a steady span.
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        double c0 = CpuSeconds();
        auto t0 = Clock::now();
        float l, r, bands[16];
        for (auto end = t0 + std::chrono::duration<double>(span); Clock::now() < end;) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(25));  // the display timer's reads
            source.GetLevels(l, r);
            source.GetSpectrum(bands);
            benchmark::DoNotOptimize(source.GetPosition());
        }
        cpu += CpuSeconds() - c0;
        wall += std::chrono::duration<double>(Clock::now() - t0).count();
        source.Stop();
        source.Close();
    }
    tunara::audio::SetDeviceFactory({});
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["cpu_s_per_5min"] = cpu / wall * 300.0;
}
BENCHMARK(BM_PlayRealTimeCpu)->Arg(4)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Records when the first buffer reaches the device.
class FirstWriteDevice : public tunara::audio::NullDevice {
public:
    FirstWriteDevice(std::atomic<int64_t>* at) : NullDevice(Pace::Step), at_(at) {}
    tunara::audio::Status Write(tunara::audio::BufferHeader* h) override {
        int64_t none = 0;
        at_->compare_exchange_strong(none, Clock::now().time_since_epoch().count());
        return NullDevice::Write(h);
    }

private:
    std::atomic<int64_t>* at_;
};

void BM_PlayToFirstBuffer(benchmark::State& state) {
    std::atomic<int64_t> firstWrite{0};
    tunara::audio::SetDeviceFactory(
        [&] { return std::make_unique<FirstWriteDevice>(&firstWrite); });
    LoopSource source;
    source.Open();
    double total = 0;
    for (auto _ : state) {
        firstWrite = 0;
        auto t0 = Clock::now();
        source.Play();
        while (firstWrite.load() == 0) std::this_thread::yield();
        total += std::chrono::duration<double>(Clock::duration(firstWrite.load()) -
                                               t0.time_since_epoch())
                     .count();
        state.PauseTiming();
        source.Stop();
        source.Seek(0);
        state.ResumeTiming();
    }
    source.Close();
    tunara::audio::SetDeviceFactory({});
    state.counters["play_to_first_buffer_us"] =
        1e6 * total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PlayToFirstBuffer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
