#pragma once
// Audio CD images for tests: a .bin of raw CD audio (16-bit little-endian
// stereo, 2352 bytes a sector) with a hand-written .cue, in a temporary folder.
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/cdreader/CdReader.h"

namespace tunara::test {

inline constexpr int kSectorBytes = 2352;
inline constexpr int kFramesPerSector = 588;

struct CdImage {
    std::filesystem::path folder;
    std::string cue;               // the drive name to give the reader
    std::vector<int> firstSector;  // per track
    std::vector<int> sectors;      // per track
    std::vector<int16_t> samples;  // the whole disc, interleaved L R

    // The samples of track `t` (0-based).
    std::vector<int16_t> Track(int t) const {
        auto begin = samples.begin() + int64_t(firstSector[size_t(t)]) * kFramesPerSector * 2;
        return {begin, begin + int64_t(sectors[size_t(t)]) * kFramesPerSector * 2};
    }
    int64_t LengthMs(int t) const { return int64_t(sectors[size_t(t)]) * 1000 / 75; }
};

// Track t holds a tone of 220 * (t + 1) Hz on the left and 1.5 times that on
// the right, at a third of full scale.
inline CdImage MakeCdImage(const std::filesystem::path& folder, const std::vector<int>& sectors) {
    CdImage img;
    img.folder = folder;
    std::filesystem::create_directories(folder);
    int first = 0;
    for (size_t t = 0; t < sectors.size(); ++t) {
        img.firstSector.push_back(first);
        img.sectors.push_back(sectors[t]);
        const double f = 220.0 * double(t + 1);
        for (int i = 0; i < sectors[t] * kFramesPerSector; ++i) {
            double x = 2 * M_PI * f * i / 44100.0;
            img.samples.push_back(int16_t(std::lround(10000 * std::sin(x))));
            img.samples.push_back(int16_t(std::lround(10000 * std::sin(1.5 * x))));
        }
        first += sectors[t];
    }
    std::ofstream bin(folder / "disc.bin", std::ios::binary);
    for (int16_t s : img.samples) {
        bin.put(char(uint16_t(s) & 0xFF));
        bin.put(char(uint16_t(s) >> 8));
    }
    bin.close();
    std::ofstream cue(folder / "disc.cue");
    cue << "FILE \"disc.bin\" BINARY\n";
    for (size_t t = 0; t < sectors.size(); ++t) {
        int s = img.firstSector[t];
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n",
                      int(t + 1), s / 4500, s / 75 % 60, s % 75);
        cue << line;
    }
    img.cue = (folder / "disc.cue").string();
    return img;
}

// A fresh folder under the system's temporary folder, removed at the end.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "tunara-test-XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// The PCM data of a 44-byte-header WAV file.
inline std::vector<int16_t> ReadWavSamples(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
    std::vector<int16_t> s;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
        s.push_back(int16_t(uint16_t(uint8_t(bytes[i])) | uint16_t(uint8_t(bytes[i + 1])) << 8));
    return s;
}

// Delivers the queue until `done` holds; false when a minute passes first (a
// failsafe, so that a broken reader cannot hang the suite).
template <class Pred>
bool PumpUntil(PostedQueue& q, Pred done) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        if (q.Deliver() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A reader whose sectors wait for the test's permission.
class SteppedReader : public CdReader {
public:
    using CdReader::CdReader;
    void Allow(int sectors) {
        std::lock_guard lock(m_);
        allowed_ += sectors;
        cv_.notify_all();
    }
    // Waits until the reading thread has used every allowed sector and waits
    // for more.
    void WaitUntilBlocked() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return waiting_ && allowed_ == 0; });
    }

protected:
    void BeforeSector(int32_t) override {
        std::unique_lock lock(m_);
        waiting_ = true;
        cv_.notify_all();
        while (allowed_ == 0 && !AbortRequested()) cv_.wait_for(lock, std::chrono::milliseconds(1));
        waiting_ = false;
        if (allowed_ > 0) --allowed_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int allowed_ = 0;
    bool waiting_ = false;
};

}  // namespace tunara::test
