#pragma once
// A window stand-in and a stepped encoder for the recording job's tests.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/SteppedReader.h"
#include "record/RecordFiles.h"
#include "record/RecordJob.h"
#include "sources/PcmWaveStream.h"
#include "support/CdImage.h"

namespace tunara::test {

// Records what the window would show.
struct FakeView : RecordView {
    RecordJob* job = nullptr;
    std::vector<std::string> statuses;  // "status | counter" at each change
    std::vector<std::pair<int, std::string>> countersByIndex;
    std::vector<int> overall;
    std::vector<std::pair<std::string, std::string>> messages;
    std::optional<std::string> folderAnswer;
    int folderQuestions = 0;
    std::string folderStart;
    std::vector<std::string> damaged;  // "number sectors path"
    bool finished = false, closed = false;

    void StatusChanged() override {
        statuses.push_back(job->StatusText() + " | " + job->CounterText());
        countersByIndex.emplace_back(job->CurrentIndex(), job->CounterText());
    }
    void ProgressChanged() override { overall.push_back(job->OverallPercent()); }
    void Finished() override { finished = true; }
    void Closed() override { closed = true; }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        messages.emplace_back(caption, text);
    }
    void TrackDamaged(const RecordTrack& t, int sectors, const std::string& path) override {
        damaged.push_back(std::to_string(t.number) + " " + std::to_string(sectors) + " " + path);
    }
    std::optional<std::string> ChooseFolder(const std::string& start) override {
        folderStart = start;
        ++folderQuestions;
        return folderAnswer;
    }
};

// Lets the test hand out encoder frames one by one (or all at once).
struct FrameGate {
    std::mutex m;
    std::condition_variable cv;
    int allowed = 1 << 30;
    bool waiting = false;
    int encoded = 0;  // frames written, all workers together
    int failAtFrame = -1;

    void Set(int frames) {
        std::lock_guard lock(m);
        allowed = frames;
        cv.notify_all();
    }
    void WaitUntilBlocked() {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return waiting && allowed == 0; });
    }
};

// Copies the WAV's PCM to the output 1152 frames at a time, as an encoder
// would, each frame waiting for the gate.
class SteppedWorker : public RecordWorker {
public:
    SteppedWorker(const WorkerRequest& r, PostFn post, FrameGate& gate)
        : RecordWorker(r.outputPath, r.bitRate, std::move(post)), gate_(gate) {}

    int Frames() const { return frames_; }

protected:
    bool Encode() override {
        PcmWaveStream* wav = nullptr;
        PcmWaveFormat format;
        if (pcmWaveOpen(&wav, wavPath_.c_str(), &format, nullptr, nullptr) != kPcmWaveOk) {
            failure_ = "no wav";
            return false;
        }
        std::ofstream out(outputPath_, std::ios::binary | std::ios::trunc);
        std::vector<char> block(1152 * 4);
        int64_t position = 0;
        bool ok = true;
        while (!Stopping()) {
            {
                std::unique_lock lock(gate_.m);
                gate_.waiting = true;
                gate_.cv.notify_all();
                while (gate_.allowed == 0 && !Stopping())
                    gate_.cv.wait_for(lock, std::chrono::milliseconds(1));
                gate_.waiting = false;
                if (gate_.allowed == 0) break;
                --gate_.allowed;
                if (gate_.encoded == gate_.failAtFrame) {
                    failure_ = "stepped encoder failed";
                    ok = false;
                    break;
                }
                ++gate_.encoded;
            }
            uint32_t length = uint32_t(block.size());
            int status = pcmWaveRead(block.data(), &length, wav);
            out.write(block.data(), length);
            position += length / 4;
            ++frames_;
            ReportPosition(position, format.sampleRate);
            if (status != kPcmWaveOk) break;
        }
        pcmWaveClose(wav);
        out.close();
        if (!ok || Stopping()) RemoveFile(outputPath_);
        return ok;
    }

private:
    FrameGate& gate_;
    int frames_ = 0;
};

// The files in a folder, hidden ones included.
inline std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<char> FileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(f)), {});
}

}  // namespace tunara::test
