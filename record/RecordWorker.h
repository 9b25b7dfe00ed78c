#pragma once
// The encoding worker of one recorded track: a thread that encodes the
// track's temporary WAV file into the output file and reports by posting
// messages to the recording job.
//
// Threads: the worker thread touches only this object's atomics, its failure
// text (read by the job after Join) and the files. The job creates, stops,
// joins and deletes the worker on the user-interface thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "record/FileEncoders.h"

namespace tunara {

// Messages from a worker to the recording job.
inline constexpr int kRecordProgressMessage = 1035;
inline constexpr int kRecordFinishedMessage = 1036;
inline constexpr int kRecordFailedMessage = 1037;

class RecordWorker {
public:
    // Posts a message to the job; called on the worker thread.
    using PostFn = std::function<void(int message)>;

    RecordWorker(std::string outputPath, int bitRate, PostFn post);
    // Stops and joins a running thread.
    virtual ~RecordWorker();
    RecordWorker(const RecordWorker&) = delete;
    RecordWorker& operator=(const RecordWorker&) = delete;

    // Starts the thread (below normal priority) on the temporary WAV.
    void Start(const std::string& wavPath);
    // The thread leaves its loop after the frame or packet in hand, deletes
    // the output file and posts 1036.
    void RequestStop() { stop_ = true; }
    void Join();

    bool StopRequested() const { return stop_; }
    // Milliseconds of audio encoded so far.
    int64_t EncodedMs() const { return encodedMs_; }
    const std::string& OutputPath() const { return outputPath_; }
    // Why the worker posted 1037; read after Join.
    const std::string& FailureText() const { return failure_; }
    // The track's ReplayGain measurement when the encoder takes one and the
    // file was written; read after Join.
    const std::shared_ptr<const LoudnessMeter>& Loudness() const { return loudness_; }
    // The failure came from a full disk (or quota); read after Join.
    bool DiskFull() const { return diskFull_; }
    // The job has handled a 1035; the next one may be posted.
    void ProgressSeen() { progressQueued_ = false; }

protected:
    // The encoding on the worker thread: true when the file was written (or
    // the stop flag ended it and the file was deleted), false with failure_ set.
    virtual bool Encode() = 0;
    bool Stopping() const { return stop_; }
    // Sets the encoded milliseconds and posts 1035 unless one is still queued.
    void ReportPosition(int64_t samplesPerChannel, int sampleRate);

    std::string wavPath_;
    const std::string outputPath_;
    const int bitRate_;  // bit/s
    std::string failure_;
    std::shared_ptr<const LoudnessMeter> loudness_;

private:
    void Run();

    PostFn post_;
    std::thread thread_;
    bool diskFull_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> encodedMs_{0};
    std::atomic<bool> progressQueued_{false};
};

// The MP3 worker; `fast` chooses the fast encoder. `tags` go into the file's ID3v2 tag.
std::unique_ptr<RecordWorker> MakeMp3Worker(std::string outputPath, int bitRate, bool fast,
                                            RecordWorker::PostFn post, EncodeTags tags = {},
                                            int vbrQuality = -1);
// The KVMC worker, writing a QuickTime movie with `tags` as its user data.
std::unique_ptr<RecordWorker> MakeKvmcWorker(std::string outputPath, int bitRate,
                                             RecordWorker::PostFn post, EncodeTags tags = {});

// The FLAC worker at compression level `level` (0-8), with `tags` as Vorbis comments.
std::unique_ptr<RecordWorker> MakeFlacWorker(std::string outputPath, int level,
                                             RecordWorker::PostFn post, EncodeTags tags = {});

}  // namespace tunara
