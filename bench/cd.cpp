// The CD player on a disc image, each figure beside its peer in the same run:
//  - CPU while a CD track plays in real time (digital read-ahead thread and
//    the audio device's thread), against the same audio played as a WAV
//    file through the waveform output engine;
//  - time from Play to the first buffer at the audio device, against the
//    WAV file's;
//  - reading the table of contents of a 20-track image into a CdDisc
//    (device open, status commands, one CdTrackSource per track), against
//    libcdio alone opening the image and reading every track start.
#include <benchmark/benchmark.h>
#include <cdio/cdio.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "engine/testing/EngineTesting.h"
#include "platform/audio/NullDevice.h"
#include "platform/io/WavHeader.h"
#include "sources/CdDisc.h"
#include "sources/WavSource.h"
#include "tests/support/CdImage.h"

namespace {

using Clock = std::chrono::steady_clock;
using tunara::testing::CdImageTrack;

// 20 tracks of 30 s each: long enough to play for seconds, a realistic count.
struct Fixture {
    Fixture() {
        std::vector<CdImageTrack> tracks(20, CdImageTrack{30 * 75, true, 440.0});
        for (size_t i = 0; i < tracks.size(); ++i) tracks[i].hz = 220.0 + 20.0 * double(i);
        cue = tunara::testing::WriteCdImage(dir.Path(), "bench", tracks);
        wav = (dir.Path() / "track.wav").string();
        std::vector<uint8_t> pcm = tunara::testing::TonePcm(30 * 75, 220.0);
        uint8_t header[tunara::io::kWavHeaderBytes];
        tunara::io::MakeWavHeader({}, pcm.size(), header);
        std::ofstream out(wav, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        out.write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size()));
    }
    tunara::testing::TempDir dir;
    std::string cue, wav;
};

Fixture& Images() {
    static Fixture f;
    return f;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](timeval t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

// Plays `source` in real time for a few seconds with the display timer's
// calls, returning the share of one core used.
double PlayingCpu(tunara::MediaSource& source, double spanS) {
    source.Open();
    source.Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // past the priming burst
    double c0 = CpuSeconds();
    auto t0 = Clock::now();
    float l, r, bands[16];
    for (auto end = t0 + std::chrono::duration<double>(spanS); Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        source.GetLevels(l, r);
        source.GetSpectrum(bands);
        source.Tick();
        benchmark::DoNotOptimize(source.GetPosition());
        benchmark::DoNotOptimize(source.IsPlaying());
    }
    double cpu = CpuSeconds() - c0;
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    source.Stop();
    source.Close();
    return cpu / wall;
}

void BM_PlayingCpu(benchmark::State& state) {
    tunara::audio::SetDeviceFactory([] {
        return std::make_unique<tunara::audio::NullDevice>(
            tunara::audio::NullDevice::Pace::RealTime);
    });
    double cdShare = 0, wavShare = 0;
    for (auto _ : state) {
        tunara::CdDisc disc(tunara::testing::TestEngine(), Images().cue);
        disc.ReadToc();
        cdShare = PlayingCpu(*disc.ItemAt(0), 4.0);
        tunara::WavSource wav(tunara::testing::TestEngine());
        wav.SetLocation(Images().wav);
        wav.LoadInfo();
        wavShare = PlayingCpu(wav, 4.0);
    }
    tunara::audio::SetDeviceFactory({});
    state.counters["cd_cpu_percent"] = 100.0 * cdShare;
    state.counters["wav_cpu_percent"] = 100.0 * wavShare;
    state.counters["cd_over_wav"] = wavShare > 0 ? cdShare / wavShare : 0;
}
BENCHMARK(BM_PlayingCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Records when the first buffer reaches the device.
class FirstWriteDevice : public tunara::audio::NullDevice {
public:
    explicit FirstWriteDevice(std::atomic<int64_t>* at) : NullDevice(Pace::Fast), at_(at) {}
    tunara::audio::Status Write(tunara::audio::BufferHeader* h) override {
        int64_t none = 0;
        at_->compare_exchange_strong(none, Clock::now().time_since_epoch().count());
        return NullDevice::Write(h);
    }

private:
    std::atomic<int64_t>* at_;
};

double PlayToFirstBufferUs(tunara::MediaSource& source, int rounds, std::atomic<int64_t>& first) {
    source.Open();
    double total = 0;
    for (int i = 0; i < rounds; ++i) {
        first = 0;
        auto t0 = Clock::now();
        source.Play();
        while (first.load() == 0) std::this_thread::yield();
        total +=
            std::chrono::duration<double>(Clock::duration(first.load()) - t0.time_since_epoch())
                .count();
        source.Stop();
        source.Seek(0);
    }
    source.Close();
    return 1e6 * total / rounds;
}

void BM_PlayToFirstBuffer(benchmark::State& state) {
    std::atomic<int64_t> first{0};
    tunara::audio::SetDeviceFactory([&] { return std::make_unique<FirstWriteDevice>(&first); });
    double cdUs = 0, wavUs = 0;
    for (auto _ : state) {
        tunara::CdDisc disc(tunara::testing::TestEngine(), Images().cue);
        disc.ReadToc();
        cdUs = PlayToFirstBufferUs(*disc.ItemAt(3), 50, first);
        tunara::WavSource wav(tunara::testing::TestEngine());
        wav.SetLocation(Images().wav);
        wav.LoadInfo();
        wavUs = PlayToFirstBufferUs(wav, 50, first);
    }
    tunara::audio::SetDeviceFactory({});
    state.counters["cd_play_to_first_buffer_us"] = cdUs;
    state.counters["wav_play_to_first_buffer_us"] = wavUs;
    state.counters["cd_over_wav"] = wavUs > 0 ? cdUs / wavUs : 0;
}
BENCHMARK(BM_PlayToFirstBuffer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadToc20(benchmark::State& state) {
    const std::string cue = Images().cue;  // made before the timing
    for (auto _ : state) {
        tunara::CdDisc disc(tunara::testing::TestEngine(), cue);
        benchmark::DoNotOptimize(disc.ReadToc());
        if (disc.Count() != 20) state.SkipWithError("the image did not read as 20 tracks");
    }
}
BENCHMARK(BM_ReadToc20)->Unit(benchmark::kMicrosecond);

// The peer: libcdio alone, opening the image and reading every start.
void BM_ReadToc20_LibcdioOnly(benchmark::State& state) {
    const std::string cue = Images().cue;
    for (auto _ : state) {
        CdIo_t* cdio = cdio_open(cue.c_str(), DRIVER_BINCUE);
        int sum = 0;
        for (int t = 1; t <= cdio_get_num_tracks(cdio); ++t)
            sum += cdio_get_track_lsn(cdio, static_cast<track_t>(t)) +
                   cdio_get_track_format(cdio, static_cast<track_t>(t));
        benchmark::DoNotOptimize(sum);
        cdio_destroy(cdio);
    }
}
BENCHMARK(BM_ReadToc20_LibcdioOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
