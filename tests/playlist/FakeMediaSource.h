#pragma once
// A scripted playable item for list and controller tests. Its clock is driven
// by Tick: while playing, each Tick moves the position by stepMs (backwards
// while rewinding) and the item finishes at its duration or at 0.
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/MediaSource.h"
#include "engine/testing/EngineTesting.h"
#include "sources/SourceFactory.h"

namespace tunara::testing {

class FakeMediaSource : public MediaSource {
public:
    // Shared call log so a test can see the order across several sources.
    explicit FakeMediaSource(std::shared_ptr<std::vector<std::string>> log = nullptr)
        : log_(std::move(log)) {}

    void Describe(const std::string& title, int durationMs, int bitRate = 128000,
                  int sampleRate = 44100, int channels = 2) {
        title_ = title;
        formatName_ = "Fake";
        durationMs_ = durationMs;
        bitRate_ = bitRate;
        sampleRate_ = sampleRate;
        channels_ = channels;
    }

    int32_t GetPosition() override { return positionMs; }
    void Seek(int32_t ms) override {
        Note("Seek " + std::to_string(ms));
        positionMs = std::clamp(ms, 0, durationMs_);
    }
    void GetLevels(float& l, float& r) override {
        l = left;
        r = right;
    }
    void GetSpectrum(float* bands) override {
        for (int i = 0; i < bandCount; ++i) bands[i] = 0.25f;
    }
    int Open() override {
        Note("Open " + title_);
        open = openSucceeds;
        positionMs = 0;  // a newly opened item starts at its beginning
        return openSucceeds ? 1 : 0;
    }
    void Close() override {
        Note("Close " + title_);
        open = false;
    }
    void Play() override { Set(Playing, "Play "); }
    void Stop() override { Set(Stopped, "Stop "); }
    void FastForward() override { Set(tunara::FastForward, "FastForward "); }
    void Rewind() override { Set(tunara::Rewind, "Rewind "); }
    void Tick() override {
        ++ticks;
        if (state == Stopped) return;
        int step = state == tunara::FastForward ? 2 * stepMs : stepMs;
        if (state == tunara::Rewind) {
            positionMs = std::max(0, positionMs - 2 * stepMs);
            return;
        }
        positionMs = std::min(durationMs_, positionMs + step);
        if (positionMs >= durationMs_) state = Stopped;  // ran out
    }
    int IsPlaying() override { return state != Stopped; }
    int LoadInfo() override {
        if (loadSucceeds < 0) {
            struct stat st;
            return ::stat(location_.c_str(), &st) == 0 ? 1 : 0;
        }
        return loadSucceeds;
    }
    void EnableMetering(int on) override { Note("EnableMetering " + std::to_string(on)); }
    void SetBandCount(int count) override {
        Note("SetBandCount " + std::to_string(count));
        bandCount = count;
    }

    PlayState state = Stopped;
    int positionMs = 0;
    int stepMs = 25;
    bool open = false;
    bool openSucceeds = true;
    int loadSucceeds = -1;  // -1: succeeds when the location exists on disk
    int ticks = 0;
    int bandCount = 16;
    float left = 0.5f, right = 0.25f;

private:
    void Set(PlayState s, const std::string& what) {
        Note(what + title_);
        state = s;
    }
    void Note(const std::string& line) {
        if (log_) log_->push_back(line);
    }
    std::shared_ptr<std::vector<std::string>> log_;
};

inline std::unique_ptr<FakeMediaSource> MakeFake(
    const std::string& title, int durationMs,
    std::shared_ptr<std::vector<std::string>> log = nullptr) {
    auto s = std::make_unique<FakeMediaSource>(std::move(log));
    s->Describe(title, durationMs);
    s->SetLocation("/fake/" + title);
    return s;
}

// A factory whose every file becomes a fake whose LoadInfo succeeds when the
// file exists, titled by its name.
class FakeSources : public SourceFactory {
public:
    explicit FakeSources(int durationMs = 60000,
                         std::shared_ptr<std::vector<std::string>> log = nullptr)
        : SourceFactory(TestEngine(), [=](const std::string& name) -> std::unique_ptr<MediaSource> {
              auto s = std::make_unique<FakeMediaSource>(log);
              auto slash = name.rfind('/');
              s->Describe(slash == std::string::npos ? name : name.substr(slash + 1), durationMs);
              return s;
          }) {}
};

}  // namespace tunara::testing
