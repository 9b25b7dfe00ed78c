// KVMC decoding at 128 kbit/s, 44.1 kHz stereo, each figure beside a named peer measured in
// the same run:
//
//   BM_DecodeAgainstMp3  5 minutes of a music-like signal decoded in memory, in times real
//                        time (processor time), against our MP3 decoder and against mpg123
//                        (a separate process writing to /dev/null) on the same signal
//                        encoded by lame at 128 kbit/s;
//   BM_PlayingCpu        the whole `tunara-cli play` process (null audio device at its real
//                        pace) over one minute of a KVMC movie against the same minute as MP3,
//                        both written by `tunara-cli encode`: processor share of one core.
//
// The files are made once under the build folder (bench-data/kvmcdec) and reused.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "kvmc/kvmc.h"
#include "mpegdec/mpegdec.h"
#include "platform/io/WavHeader.h"

namespace fs = std::filesystem;

namespace {

using tunara::bench::ReadFile;

constexpr int kRate = 44100;
constexpr double kSeconds = 300.0, kPlaySeconds = 60.0;

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

double ProcessCpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) * 1e-6 +
           double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) * 1e-6;
}

// Music-like: a chord of drifting partials that changes every two seconds, a bass line, a
// sweep, noise and an attack every half second.
std::vector<int16_t> Music(double seconds) {
    const size_t frames = size_t(seconds * kRate);
    std::vector<int16_t> pcm(2 * frames);
    uint32_t noise = 7;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double root = 110.0 * std::pow(2.0, std::fmod(std::floor(t / 2) * 7, 12) / 12);
        const double beat = std::fmod(t, 0.5);
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double r = double(int32_t(noise)) / 2147483648.0;
            double v = 0;
            for (double ratio : {1.0, 1.25, 1.5, 2.0})
                for (int h = 1; h <= 4; ++h)
                    v +=
                        0.05 / h *
                        std::sin(2 * M_PI * root * ratio * h * (1 + 0.003 * std::sin(0.5 * t)) * t +
                                 c * h);
            v += 0.15 * std::sin(2 * M_PI * root / 2 * t);
            v += 0.04 * std::sin(2 * M_PI * 200 * std::pow(2.0, std::fmod(t, 8.0) / 2) * t);
            v += 0.02 * r + (beat < 0.03 ? 0.4 * (1 - beat / 0.03) * r : 0.0);
            pcm[2 * i + size_t(c)] = int16_t(std::lrint(std::clamp(v, -1.0, 1.0) * 30000));
        }
    }
    return pcm;
}

void WriteWav(const std::string& path, const std::vector<int16_t>& pcm) {
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({2, uint32_t(kRate), 16}, uint64_t(pcm.size()) * 2, header);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size() * 2));
}

struct Data {
    fs::path dir = fs::path(TUNARA_BINARY_DIR) / "bench-data" / "kvmcdec";
    KvmcStreamInfo info{1, 2, kRate, 128000, 0, 0, 0};
    KvmcParams params = kvmcRecordParams(128000);
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint8_t> mp3;  // empty without lame
    std::string mp3Path;
    Data() {
        fs::create_directories(dir);
        const std::vector<int16_t> pcm = Music(kSeconds);
        Encode(pcm);
        mp3Path = (dir / "music-128.mp3").string();
        const std::string wav = (dir / "music.wav").string();
        if (!fs::exists(mp3Path)) {
            WriteWav(wav, pcm);
            Run("lame --quiet -b 128 '" + wav + "' '" + mp3Path + "'");
        }
        mp3 = ReadFile(mp3Path);
    }
    // Packets as the recording job makes them: the first window holds frames 0..5H-1, then
    // one new hop per call, four zero hops after the end.
    void Encode(const std::vector<int16_t>& pcm) {
        kvmcStreamValues(&info);
        KvmcHandle enc = nullptr;
        kvmcOpen(&enc);
        KvmcStreamInfo i = info;
        kvmcConfigure(enc, &i, &params);
        const long H = i.samplesPerPacket, frames = long(pcm.size() / 2);
        std::vector<int16_t> window(size_t(10 * H), 0);
        auto put = [&](long at, long src) {
            for (int c = 0; c < 2; ++c)
                window[size_t(2 * at + c)] = src < frames ? pcm[size_t(2 * src + c)] : 0;
        };
        for (long f = 0; f < 4 * H; ++f) put(f, f);
        std::vector<uint8_t> packet(size_t(i.bytesPerPacket));
        for (long p = 0; p < (frames + H - 1) / H + 4; ++p) {
            for (long f = 0; f < H; ++f) put(4 * H + f, (p + 4) * H + f);
            kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(), int32_t(packet.size()),
                             packet.data());
            packets.push_back(packet);
            std::copy(window.begin() + 2 * H, window.end(), window.begin());
        }
        kvmcClose(&enc);
    }
};

const Data& GetData() {
    static const Data data;
    return data;
}

// Processor seconds for decoding every packet.
double DecodeKvmc(const Data& d) {
    KvmcDecHandle dec = nullptr;
    kvmcDecOpen(&dec);
    kvmcDecConfigure(dec, &d.info, &d.params);
    std::vector<int16_t> hop(size_t(2 * d.info.samplesPerPacket));
    const double start = ProcessCpu();
    for (const auto& p : d.packets)
        kvmcDecDecodePacket(dec, int32_t(p.size()), p.data(), int32_t(hop.size() * 2), hop.data());
    const double cpu = ProcessCpu() - start;
    benchmark::DoNotOptimize(hop.data());
    kvmcDecClose(&dec);
    return cpu;
}

struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t at = 0;
};

int32_t ReadMp3(uint8_t* dst, int32_t* count, void* user) {
    auto* r = static_cast<Reader*>(user);
    const size_t n = std::min(r->bytes->size() - r->at, size_t(*count));
    std::memcpy(dst, r->bytes->data() + r->at, n);
    r->at += n;
    *count = int32_t(n);
    return 0;
}

// Processor seconds for decoding the whole MP3 in memory.
double DecodeMp3(const Data& d) {
    Reader r{&d.mp3};
    const uint8_t options[4] = {1, 0, 0, 0};
    MpegDecHandle h = nullptr;
    if (mpegDecOpen(options, 0, ReadMp3, &r, &h) != 0) return 0;
    std::vector<int16_t> pcm(1152 * 2);
    const double start = ProcessCpu();
    for (;;) {
        MpegPcmBlock block{0, 0, pcm.data()};
        const int32_t rc = mpegDecDecodeFrame(nullptr, &block, nullptr, h);
        if (rc != 0 && rc != kMpegDecBadSideInfo) break;
    }
    const double cpu = ProcessCpu() - start;
    benchmark::DoNotOptimize(pcm.data());
    mpegDecClose(&h);
    return cpu;
}

void BM_DecodeAgainstMp3(benchmark::State& state) {
    const Data& d = GetData();
    if (d.mp3.empty()) return state.SkipWithError("lame missing: no MP3 to compare with");
    const bool mpg123 = Run("mpg123 --version");
    double kvmc = 0, ours = 0, other = 0;
    for (auto _ : state) {
        kvmc += DecodeKvmc(d);
        ours += DecodeMp3(d);
        if (mpg123) {
            const double before = ChildrenCpu();
            Run("mpg123 -q -s '" + d.mp3Path + "'");
            other += ChildrenCpu() - before;
        }
    }
    const double audio = kSeconds * double(state.iterations());
    state.counters["kvmc_x_realtime"] = audio / kvmc;
    state.counters["mp3_ours_x_realtime"] = audio / ours;
    state.counters["kvmc_over_mp3_ours"] = ours / kvmc;
    if (mpg123) {
        state.counters["mpg123_x_realtime"] = audio / other;
        state.counters["kvmc_over_mpg123"] = other / kvmc;
    }
}
BENCHMARK(BM_DecodeAgainstMp3)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

// Processor share of `tunara-cli play` over the whole file, as /usr/bin/time reports it.
double PlayingShare(const std::string& cli, const std::string& file) {
    const double cpu0 = ChildrenCpu();
    const auto wall0 = std::chrono::steady_clock::now();
    if (!Run("TUNARA_AUDIO=null '" + cli + "' play '" + file + "' </dev/null")) return -1;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return (ChildrenCpu() - cpu0) / wall;
}

void BM_PlayingCpu(benchmark::State& state) {
    const std::string cli = (fs::path(TUNARA_BINARY_DIR) / "app" / "tunara-cli").string();
    if (!fs::exists(cli)) return state.SkipWithError("build tunara-cli first");
    const fs::path dir = GetData().dir;
    const std::string wav = (dir / "minute.wav").string(), mov = (dir / "minute.mov").string(),
                      mp3 = (dir / "minute.mp3").string();
    if (!fs::exists(mov) || !fs::exists(mp3)) {
        WriteWav(wav, Music(kPlaySeconds));
        if (!Run("'" + cli + "' encode '" + wav + "' '" + mov + "' --kvmc --bitrate 128") ||
            !Run("'" + cli + "' encode '" + wav + "' '" + mp3 + "' --bitrate 128"))
            return state.SkipWithError("tunara-cli encode failed");
    }
    double kvmc = 0, mp3Share = 0;
    for (auto _ : state) {
        kvmc = PlayingShare(cli, mov);
        mp3Share = PlayingShare(cli, mp3);
    }
    if (kvmc < 0 || mp3Share < 0) return state.SkipWithError("tunara-cli play failed");
    state.counters["kvmc_cpu_percent"] = 100.0 * kvmc;
    state.counters["mp3_cpu_percent"] = 100.0 * mp3Share;
    state.counters["kvmc_over_mp3"] = mp3Share > 0 ? kvmc / mp3Share : 0;
}
BENCHMARK(BM_PlayingCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
