// The controller's 25 ms tick with nothing new to show, and listing a large
// playlist of MP3 files.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "playlist/Playlist.h"
#include "sources/testing/TestSources.h"
#include "tests/playlist/FakeMediaSource.h"
#include "ui/core/DisplayState.h"
#include "ui/core/PlayerController.h"

namespace {

namespace fs = std::filesystem;
using namespace tunara;

// A playing item whose position, levels and bands stay put: every setter
// sees its old value.
void BM_TickUnchangedDisplay(benchmark::State& state) {
    DisplayState display;
    Playlist list{tunara::testing::TestSources()};
    auto source = testing::MakeFake("steady", 600000);
    source->stepMs = 0;
    list.Append(std::move(source));
    PlayerController controller(display, list, nullptr, "/nowhere");
    controller.Start();
    controller.Play();
    controller.OnTick();
    display.TakeChanged();
    for (auto _ : state) controller.OnTick();
    if (display.TakeChanged()) state.SkipWithError("display changed");
    controller.Shutdown();
}
BENCHMARK(BM_TickUnchangedDisplay);

// 10,000 entries naming real MP3 files (hard links to one short file made by
// lame); each is listed through Mp3Source::LoadInfo.
void BM_LoadM3uOfMp3Files(benchmark::State& state) {
    const int kEntries = 10000;
    char tmpl[] = "/tmp/tunara-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return state.SkipWithError("no temp folder");
    std::string dir = std::string(tmpl) + "/";
    std::string wav = dir + "tone.wav", mp3 = dir + "tone.mp3";
    std::string make = "sox -n -r 44100 -c 2 -b 16 " + wav + " synth 2 sine 440 2>/dev/null && " +
                       "lame --quiet -b 128 --tt Tone --ta Bench " + wav + " " + mp3;
    if (std::system(make.c_str()) != 0) {
        fs::remove_all(dir);
        return state.SkipWithError("sox and lame are needed");
    }
    {
        std::ofstream list(dir + "big.m3u");
        for (int i = 0; i < kEntries; ++i) {
            std::string name = "f" + std::to_string(i) + ".mp3";
            fs::create_hard_link(mp3, dir + name);
            list << name << "\r\n";
        }
    }
    ScopedRecordingInteraction quiet;
    Playlist playlist{tunara::testing::TestSources()};
    for (auto _ : state) {
        playlist.Load(dir + "big.m3u");
        if (playlist.Count() != kEntries) state.SkipWithError("entries missing");
    }
    playlist.Reset();
    state.counters["entries"] = kEntries;
    fs::remove_all(dir);
}
BENCHMARK(BM_LoadM3uOfMp3Files)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
