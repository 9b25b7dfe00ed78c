// The media toolbox through QuickTimeSource: LoadInfo of a 3-minute AIFF and
// of a small movie (warm), time from Play until the meter hears sound, and
// the CPU used while an AIFF plays with the player's 25 ms tick.
// Fixtures are made with sox and ffmpeg in a temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/media/MediaToolbox.h"
#include "sources/QuickTimeSource.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const fs::path& Dir() {
    static fs::path dir =
        fs::temp_directory_path() / ("tunara-bench-media-" + std::to_string(getpid()));
    return dir;
}

std::string Fixture(const char* name, const std::string& command) {
    fs::create_directories(Dir());
    std::string path = (Dir() / name).string();
    if (!fs::exists(path)) {
        std::string cmd = command;
        cmd.replace(cmd.find("OUT"), 3, "'" + path + "'");
        if (std::system(("(" + cmd + ") >/dev/null 2>&1").c_str()) != 0) return {};
    }
    return path;
}

std::string Aiff3Min() {
    return Fixture("three-minutes.aiff",
                   "sox -n -r 44100 -c 2 -b 16 OUT synth 180 sine 220 sine 330 remix 1 2");
}

std::string SmallMovie() {
    return Fixture("small.mov",
                   "ffmpeg -loglevel error -y -f lavfi -i testsrc=d=5:s=320x240:r=25 -f lavfi -i "
                   "sine=d=5 -c:v libx264 -c:a aac -shortest OUT");
}

void LoadInfoOf(benchmark::State& state, const std::string& path) {
    if (path.empty()) {
        state.SkipWithError("fixture tool missing");
        return;
    }
    tunara::QuickTimeSource warm;  // plugin loading is paid once, before timing
    warm.SetLocation(path);
    warm.LoadInfo();
    for (auto _ : state) {
        tunara::QuickTimeSource s;
        s.SetLocation(path);
        benchmark::DoNotOptimize(s.LoadInfo());
    }
}

void BM_LoadInfo_Aiff3Minutes(benchmark::State& state) {
    LoadInfoOf(state, Aiff3Min());
}
BENCHMARK(BM_LoadInfo_Aiff3Minutes)->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_LoadInfo_SmallMovie(benchmark::State& state) {
    LoadInfoOf(state, SmallMovie());
}
BENCHMARK(BM_LoadInfo_SmallMovie)->Unit(benchmark::kMillisecond)->Iterations(30);

// From Play until the meter reports sound (the meter follows the sink's clock).
void BM_PlayToSound(benchmark::State& state) {
    std::string path = Aiff3Min();
    if (path.empty()) return state.SkipWithError("fixture tool missing");
    for (auto _ : state) {
        tunara::QuickTimeSource s;
        s.SetLocation(path);
        s.LoadInfo();
        s.Open();
        s.EnableMetering(1);
        s.SetBandCount(16);
        auto start = Clock::now();
        s.Play();
        float l = 0, r = 0;
        while (l == 0 && Clock::now() - start < std::chrono::seconds(5)) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            s.GetLevels(l, r);
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        s.Stop();
        s.Close();
    }
}
BENCHMARK(BM_PlayToSound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Ten seconds of an AIFF with the controller's tick: CPU as a share of one core.
void BM_PlayAiffCpu(benchmark::State& state) {
    std::string path = Aiff3Min();
    if (path.empty()) return state.SkipWithError("fixture tool missing");
    for (auto _ : state) {
        tunara::QuickTimeSource s;
        s.SetLocation(path);
        s.LoadInfo();
        s.Open();
        s.EnableMetering(1);
        s.SetBandCount(16);
        s.Play();
        double cpu0 = CpuSeconds();
        auto start = Clock::now();
        float bands[16], l, r;
        while (Clock::now() - start < std::chrono::seconds(10)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            s.GetLevels(l, r);
            s.GetSpectrum(bands);
            s.Tick();
            benchmark::DoNotOptimize(s.GetPosition());
            benchmark::DoNotOptimize(s.IsPlaying());
        }
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent_of_core"] = 100.0 * (CpuSeconds() - cpu0) / wall;
        s.Stop();
        s.Close();
    }
}
BENCHMARK(BM_PlayAiffCpu)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    // A paced null output unless told otherwise: what is measured is the
    // toolbox, not a sound card.
    setenv("TUNARA_AUDIO", "null", 0);
    if (!tunara::media::StartMediaServices()) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tunara::media::StopMediaServices();
    fs::remove_all(Dir());
    return 0;
}
