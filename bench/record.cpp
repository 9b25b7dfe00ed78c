// Ripping a 5-minute track from a disc image through the recording job: fast
// MP3, high-quality MP3 (both 128 kbit/s) and KVMC (128 kbit/s). For each the
// reading phase (paranoia over the image into the temporary WAV) and the
// encoding phase are timed apart, as times real time, next to lame on the
// same WAV (fast: -f, high quality: -q 2) and ffmpeg's AAC encoder for KVMC.
//
//   build-bench/bench/bench_record [SECONDS]
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/cdreader/CdReader.h"
#include "platform/io/WavHeader.h"
#include "record/RecordJob.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Music-like: drifting partials, a little noise, attacks every half second.
std::vector<int16_t> Signal(int seconds) {
    std::vector<int16_t> s(size_t(seconds) * 44100 * 2);
    uint32_t noise = 1;
    for (size_t i = 0; i < s.size() / 2; ++i) {
        double t = double(i) / 44100;
        double env = std::exp(-4 * std::fmod(t, 0.5));
        double v = 0;
        for (int k = 1; k <= 6; ++k) v += std::sin(2 * M_PI * (110 * k + 3 * std::sin(t)) * t) / k;
        noise = noise * 1664525u + 1013904223u;
        double n = (int32_t(noise) / 2147483648.0) * 0.05;
        s[2 * i] = int16_t(7000 * (v * env + n));
        s[2 * i + 1] = int16_t(7000 * (v * (1 - env * 0.5) - n));
    }
    return s;
}

struct View : tunara::RecordView {
    void ShowMessage(const std::string& c, const std::string& t) override {
        std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
    }
    std::optional<std::string> ChooseFolder(const std::string& s) override { return s; }
};

double TimeCommand(const std::string& command) {
    auto start = Clock::now();
    int rc = std::system(command.c_str());
    return rc == 0 ? Seconds(Clock::now() - start) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 300;
    char templ[] = "/tmp/tunara-bench-record-XXXXXX";
    fs::path dir = ::mkdtemp(templ);
    const auto samples = Signal(seconds);
    {
        std::ofstream bin(dir / "disc.bin", std::ios::binary);
        bin.write(reinterpret_cast<const char*>(samples.data()),
                  std::streamsize(samples.size() * 2));
        // Whole sectors.
        size_t pad = (2352 - samples.size() * 2 % 2352) % 2352;
        bin.write(std::string(pad, '\0').data(), std::streamsize(pad));
        std::ofstream(dir / "disc.cue")
            << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
        std::ofstream wav(dir / "in.wav", std::ios::binary);
        uint8_t header[tunara::io::kWavHeaderBytes];
        tunara::io::MakeWavHeader({2, 44100, 16}, samples.size() * 2, header);
        wav.write(reinterpret_cast<const char*>(header), sizeof header);
        wav.write(reinterpret_cast<const char*>(samples.data()),
                  std::streamsize(samples.size() * 2));
    }
    const std::string cue = (dir / "disc.cue").string();
    ::setenv("TUNARA_CD_IMAGES", cue.c_str(), 1);
    fs::create_directories(dir / "tmp");

    std::printf("track: %d s of 44.1 kHz stereo from a .cue/.bin image\n", seconds);
    std::printf("%-10s %10s %10s %10s %12s %12s %8s\n", "encoder", "read s", "encode s", "total s",
                "x real time", "peer x rt", "ratio");
    struct Run {
        tunara::RecordEncoder encoder;
        const char* name;
        std::string peer;
        const char* peerName;
    } runs[] = {
        {tunara::RecordEncoder::FastMp3, "fast MP3",
         "lame --quiet -f -b 128 '" + (dir / "in.wav").string() + "' '" +
             (dir / "peer.mp3").string() + "'",
         "lame -f"},
        {tunara::RecordEncoder::HqMp3, "hq MP3",
         "lame --quiet -q 2 -b 128 '" + (dir / "in.wav").string() + "' '" +
             (dir / "peer.mp3").string() + "'",
         "lame -q 2"},
        {tunara::RecordEncoder::Kvmc, "KVMC",
         "ffmpeg -v quiet -y -threads 1 -i '" + (dir / "in.wav").string() +
             "' -c:a aac -b:a 128k '" + (dir / "peer.m4a").string() + "'",
         "ffmpeg aac"},
    };
    for (const auto& r : runs) {
        tunara::RecordJobConfig c;
        tunara::RecordTrack t;
        t.number = 1;
        t.title = t.album = "Bench";
        t.artist = "Tunara";
        t.category = "Other";
        t.lengthMs = int64_t(seconds) * 1000;
        t.trackTotal = 1;
        c.tracks.push_back(t);
        c.drive = cue;
        c.encoder = r.encoder;
        c.bitRateKbps = 128;
        c.folder = (dir / "out").string();
        c.tempFolder = (dir / "tmp").string();
        c.recordName = [&r](const tunara::RecordTrack&) { return std::string(r.name); };
        c.addToPlaylist = [](const std::string&) {};
        View view;
        tunara::PostedQueue queue;
        tunara::CdReader reader(queue);
        tunara::RecordJob job(c, reader, view, queue);
        auto start = Clock::now();
        job.Start();
        Clock::time_point encodeStart{};
        while (job.State() == tunara::RecordState::Reading ||
               job.State() == tunara::RecordState::Encoding) {
            if (queue.Deliver() == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (encodeStart == Clock::time_point{} && job.State() == tunara::RecordState::Encoding)
                encodeStart = Clock::now();
        }
        auto end = Clock::now();
        if (job.State() != tunara::RecordState::Finished) {
            std::printf("%-10s failed\n", r.name);
            continue;
        }
        double read = Seconds(encodeStart - start), encode = Seconds(end - encodeStart),
               total = Seconds(end - start);
        double peer = TimeCommand(r.peer);
        std::printf("%-10s %10.2f %10.2f %10.2f %12.1f %12.1f %8.2f  (peer: %s, encoding only)\n",
                    r.name, read, encode, total, seconds / total, peer > 0 ? seconds / peer : 0.0,
                    peer > 0 ? peer / encode : 0.0, r.peerName);
    }
    std::printf(
        "reading and encoding do not overlap: track k+1 is read after track k is encoded\n");
    fs::remove_all(dir);
    return 0;
}
