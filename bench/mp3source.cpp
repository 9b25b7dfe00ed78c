// Mp3Source costs: listing files (LoadInfo over 1000 files of 3 to 5
// minutes, warm cache), indexing a 60-minute file, and getting the first
// buffer after a seek. ffprobe on the same files gives the scale.
//
// The files are made once with sox and lame under the build folder
// (bench-data/mp3source) and reused: 10 distinct encodings, hard-linked to
// 1000 names.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/testing/EngineTesting.h"
#include "platform/ui/UserInteraction.h"
#include "sources/Mp3Source.h"
#include "sources/testing/Mp3SourceProbe.h"

namespace fs = std::filesystem;

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

struct Data {
    bool ok = false;
    std::vector<std::string> listed;  // 1000 names
    std::string fiveMinutes;          // CBR 128 kbit/s
    std::string sixtyMinutes;
};

const Data& GetData() {
    static const Data data = [] {
        Data d;
        const fs::path dir = fs::path(TUNARA_BINARY_DIR) / "bench-data" / "mp3source";
        fs::create_directories(dir / "list");
        const std::string base = dir.string() + "/";
        std::vector<std::string> distinct;
        for (int i = 0; i < 5; ++i) {
            const int seconds = 180 + 30 * i;
            const std::string wav = base + "src" + std::to_string(seconds) + ".wav";
            const std::string cbr = base + "cbr" + std::to_string(seconds) + ".mp3";
            const std::string vbr = base + "vbr" + std::to_string(seconds) + ".mp3";
            if (!fs::exists(cbr) || !fs::exists(vbr)) {
                if (!Run("sox -n -r 44100 -c 2 -b 16 " + wav + " synth " + std::to_string(seconds) +
                         " pinknoise vol 0.3 tremolo 0.1 50") ||
                    !Run("lame --quiet -b 128 --tt 'Title " + std::to_string(i) +
                         "' --ta Artist --tl Album --tg Rock --add-id3v2 " + wav + " " + cbr) ||
                    !Run("lame --quiet -V 2 --tt 'Title " + std::to_string(i) +
                         "' --ta Artist --tg Jazz " + wav + " " + vbr))
                    return d;
                fs::remove(wav);
            }
            distinct.push_back(cbr);
            distinct.push_back(vbr);
        }
        for (int i = 0; i < 1000; ++i) {
            const fs::path name = dir / "list" / ("item" + std::to_string(i) + ".mp3");
            if (!fs::exists(name))
                fs::create_hard_link(distinct[size_t(i) % distinct.size()], name);
            d.listed.push_back(name.string());
        }
        d.fiveMinutes = base + "cbr300.mp3";
        // Twelve copies of the five-minute stream, tags left out: sixty minutes.
        d.sixtyMinutes = base + "sixty.mp3";
        if (!fs::exists(d.sixtyMinutes)) {
            tunara::Mp3Source probe(tunara::testing::TestEngine());
            probe.SetLocation(d.fiveMinutes);
            if (!probe.LoadInfo()) return d;
            std::ifstream in(d.fiveMinutes, std::ios::binary);
            std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const std::string audio =
                all.substr(size_t(tunara::testing::Mp3SourceProbe::AudioBeginBytes(probe)),
                           size_t(tunara::testing::Mp3SourceProbe::AudioEndBytes(probe) -
                                  tunara::testing::Mp3SourceProbe::AudioBeginBytes(probe)));
            std::ofstream out(d.sixtyMinutes, std::ios::binary);
            for (int i = 0; i < 12; ++i) out << audio;
        }
        d.ok = true;
        return d;
    }();
    return data;
}

class Quiet : public tunara::UserInteraction {
public:
    void ShowError(const tunara::UserMessage&) override {}
    tunara::Answer Ask(const std::string&, bool) override { return tunara::Answer::Cancel; }
};

void BM_LoadInfo_1000Files(benchmark::State& state) {
    const Data& d = GetData();
    if (!d.ok) return state.SkipWithError("lame or sox missing");
    Quiet quiet;
    tunara::SetUserInteraction(&quiet);
    for (auto _ : state) {
        for (const std::string& path : d.listed) {
            tunara::Mp3Source s(tunara::testing::TestEngine());
            s.SetLocation(path);
            benchmark::DoNotOptimize(s.LoadInfo());
        }
    }
    tunara::SetUserInteraction(nullptr);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(d.listed.size()));
}
BENCHMARK(BM_LoadInfo_1000Files)->Unit(benchmark::kMillisecond);

// For scale: ffprobe reading the format of the same kind of file (a process each).
void BM_Ffprobe_PerFile(benchmark::State& state) {
    const Data& d = GetData();
    if (!d.ok || !Run("command -v ffprobe")) return state.SkipWithError("no files or ffprobe");
    size_t i = 0;
    for (auto _ : state)
        Run("ffprobe -v error -show_entries format=duration,bit_rate " + d.listed[i++ % 10]);
}
BENCHMARK(BM_Ffprobe_PerFile)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_FullScan_60Minutes(benchmark::State& state) {
    const Data& d = GetData();
    if (!d.ok) return state.SkipWithError("lame or sox missing");
    for (auto _ : state) {
        state.PauseTiming();
        auto s = std::make_unique<tunara::Mp3Source>(tunara::testing::TestEngine());
        s->SetLocation(d.sixtyMinutes);
        s->LoadInfo();
        state.ResumeTiming();
        benchmark::DoNotOptimize(s->OpenStream());  // the frame index and the decoder
        state.PauseTiming();
        state.counters["frames"] = double(tunara::testing::Mp3SourceProbe::FrameIndex(*s).size());
        s->CloseStream();
        s.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FullScan_60Minutes)->Unit(benchmark::kMillisecond);

// A seek followed by the first 1024-frame buffer from there.
void BM_SeekToFirstBuffer(benchmark::State& state) {
    const Data& d = GetData();
    if (!d.ok) return state.SkipWithError("lame or sox missing");
    tunara::Mp3Source s(tunara::testing::TestEngine());
    s.SetLocation(d.fiveMinutes);
    s.LoadInfo();
    if (!s.OpenStream()) return state.SkipWithError("open failed");
    std::mt19937 rng(7);
    const uint32_t frames = uint32_t(s.GetDuration()) * 44;
    std::vector<int16_t> buffer(2048);
    for (auto _ : state) {
        s.SeekFrame(rng() % frames);
        benchmark::DoNotOptimize(s.ReadFrames(buffer.data(), 1024));
    }
    s.CloseStream();
}
BENCHMARK(BM_SeekToFirstBuffer)->Unit(benchmark::kMicrosecond);

// The same through the engine while playing: from Seek until the feeder
// holds the first buffer read at the new place (the output device discards).
class TimedSource : public tunara::Mp3Source {
public:
    TimedSource() : Mp3Source(tunara::testing::TestEngine()) {}
    int ReadFrames(void* buffer, int frames) override {
        const int n = tunara::Mp3Source::ReadFrames(buffer, frames);
        if (armed_.exchange(false)) {
            std::lock_guard lock(mutex_);
            readAt_ = std::chrono::steady_clock::now();
            done_.notify_all();
        }
        return n;
    }
    // Seek reaches SeekFrame after it has stopped the old run: arm there.
    uint32_t SeekFrame(uint32_t frame) override {
        const uint32_t reached = tunara::Mp3Source::SeekFrame(frame);
        armed_ = true;
        return reached;
    }
    std::chrono::steady_clock::time_point SeekAndWait(int32_t ms) {
        {
            std::lock_guard lock(mutex_);
            readAt_ = {};
        }
        Seek(ms);
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, std::chrono::seconds(5),
                       [&] { return readAt_ != std::chrono::steady_clock::time_point{}; });
        return readAt_;
    }

private:
    std::atomic<bool> armed_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    std::chrono::steady_clock::time_point readAt_{};
};

void BM_EngineSeekToFirstBuffer(benchmark::State& state) {
    const Data& d = GetData();
    if (!d.ok) return state.SkipWithError("lame or sox missing");
    ::setenv("TUNARA_AUDIO", "null:fast", 1);
    Quiet quiet;
    tunara::SetUserInteraction(&quiet);
    TimedSource s;
    s.SetLocation(d.fiveMinutes);
    s.LoadInfo();
    if (!s.Open()) return state.SkipWithError("open failed");
    s.Play();
    std::mt19937 rng(11);
    for (auto _ : state) {
        const int32_t ms = int32_t(rng() % uint32_t(s.GetDuration() - 2000));
        // Seek stops the run, repositions and plays on.
        const auto start = std::chrono::steady_clock::now();
        const auto readAt = s.SeekAndWait(ms);
        state.SetIterationTime(std::chrono::duration<double>(readAt - start).count());
    }
    s.Stop();
    s.Close();
    tunara::SetUserInteraction(nullptr);
}
BENCHMARK(BM_EngineSeekToFirstBuffer)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
