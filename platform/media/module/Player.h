#pragma once
// The playing side of a movie: one GStreamer pipeline with a meter (level and
// spectrum) on the sound and a sink chosen by TUNARA_AUDIO.
//
// Threads: all members are called on the caller's thread. The meter values
// are written by GStreamer's streaming threads from bus messages and read
// under meterMutex_; video frames go to the window from a streaming thread.
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/OutputChoice.h"
#include "platform/io/WavHeader.h"
#include "platform/media/module/Toolbox.h"

namespace tunara::media::module {

class Player {
public:
    struct Options {
        std::string uri;
        bool hasAudio = false;
        bool hasVideo = false;
        bool network = false;
        bool seekable = true;
        double volume = 1.0;
        VideoWindow* window = nullptr;
    };
    explicit Player(const Options& options);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Builds the pipeline and waits (bounded) until it has its first data.
    bool Start();

    // 0 pauses; a positive rate plays forward; a negative rate steps back by
    // seeking on each Idle.
    void SetRate(double rate);
    double Rate() const { return rate_; }
    void Idle();
    int64_t PositionNs();
    void SeekNs(int64_t positionNs);
    bool Done();
    void SetVolume(double volume);
    void SetMetering(bool on);
    void SetBandEdges(const std::vector<double>& lowerEdgesHz);
    TmLevelRecord Levels();
    void BandLevels(int count, uint8_t* levels);
    // Once this returns, no frame is being handed to the old window and none
    // will be, so its owner may destroy it.
    void SetWindow(VideoWindow* window) {
        std::lock_guard lock(windowMutex_);
        window_ = window;
    }
    std::vector<Notice> TakeNotices();

private:
    struct MeterEntry {
        GstClockTime runningTime = 0;
        std::vector<double> values;  // level: peak dB per channel; spectrum: magnitudes dB
    };

    bool Build(const audio::OutputChoice& audioSpec);
    void Teardown();
    void Pump();
    void WatchProgress();
    void HandleMessage(GstMessage* msg);
    GstElement* MakeAudioSink(const audio::OutputChoice& choice);
    bool MeterCurrent(std::deque<MeterEntry>& queue, MeterEntry& out);
    static GstBusSyncReply SyncHandler(GstBus* bus, GstMessage* msg, gpointer self);
    static GstFlowReturn OnVideoSample(GstElement* sink, gpointer self);
    static GstFlowReturn OnWavSample(GstElement* sink, gpointer self);
    void WriteWav(GstSample* sample);
    void FinishWav();

    Options options_;
    GstElement* pipeline_ = nullptr;
    GstElement* level_ = nullptr;
    GstElement* spectrum_ = nullptr;
    bool synced_ = true;
    bool usingDefaultSink_ = false;
    double rate_ = 0;
    bool eos_ = false;
    bool failed_ = false;
    int64_t lastPositionNs_ = 0;
    int64_t startOffsetNs_ = 0;
    double segmentRate_ = 1.0;  // the speed of the last seek
    // Stepping back.
    bool rewinding_ = false;
    int64_t rewindPositionNs_ = 0;
    std::chrono::steady_clock::time_point lastStep_;
    bool buffering_ = false;
    int64_t progressPositionNs_ = -1;
    std::chrono::steady_clock::time_point progressAt_;

    std::atomic<VideoWindow*> window_{nullptr};
    std::vector<Notice> notices_;

    std::mutex meterMutex_;
    std::mutex windowMutex_;  // held while a frame is handed to window_
    bool metering_ = false;
    std::deque<MeterEntry> levels_;
    std::deque<MeterEntry> spectra_;
    std::vector<double> bandEdgesHz_;

    // file:PATH output, written from the streaming thread.
    std::string wavPath_;
    std::FILE* wav_ = nullptr;
    uint32_t wavDataBytes_ = 0;
    tunara::io::WavFormat wavFormat_;
};

}  // namespace tunara::media::module
