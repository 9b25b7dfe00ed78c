#pragma once
// The recording job behind the recording window: reads the chosen CD tracks
// one by one through the CD reader into temporary WAV files and has a worker
// encode each into an MP3 file (with an ID3v1 tag), a FLAC file or a KVMC movie, named by
// the record-name rule, then adds the file to the playlist.
//
// The window (Qt), tunara-cli and the tests drive the same object: they call
// Start, Cancel and Close, deliver the user-interface queue, and show what
// the job hands to its RecordView.
//
// States: Starting -> Reading track k -> Encoding track k -> (Reading k+1 ...)
// -> Finished -> Closed. Cancel or a failure from any state ends in Closed.
// Waiting: no drive matched, or the first read could not start; the job
// waits for Cancel. A track with unreadable sectors is still encoded and
// kept, reported to the view as damaged, and the job goes on; the finished
// texts count the tracks written and the tracks that failed.
//
// Progress: each track's share is half reading, half encoding, weighted by
// its length in milliseconds; the overall bar never goes back and reaches 100
// when the last track is done.
//
// ReplayGain: MP3 and FLAC files get their track values as they are written,
// and once the last track is done every file of the set gets the album values
// too (each file replaced whole, so it is never seen half-changed).
//
// Threads: every member runs on the user-interface thread. Reader events and
// worker messages arrive through the queue and are ignored once the job is
// closed.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cdreader/CdReader.h"
#include "platform/ui/UserInteraction.h"
#include "record/RecordWorker.h"

namespace tunara {

// One track to record, with the CD information its file is named from.
struct RecordTrack {
    int number = 0;  // on the disc, 1-based
    std::string title;
    std::string artist;
    std::string album;
    std::string category;
    int64_t lengthMs = 0;
    int trackTotal = 0;                         // tracks on the disc; 0 when not known
    std::string year;                           // empty when not known
    std::string genre;                          // empty: the category when it names a genre
    std::string cddbDiscId, musicBrainzDiscId;  // empty when not known
};

enum class RecordEncoder { Kvmc = 0, FastMp3 = 1, HqMp3 = 2, Flac = 3 };

// The output file's extension, with its dot.
const char* RecordExtension(RecordEncoder encoder);

// Makes the worker of one track; the default makes the MP3 or KVMC worker.
struct WorkerRequest {
    RecordEncoder encoder;
    std::string outputPath;  // where the worker writes
    int bitRate;             // bit/s
    EncodeTags tags;         // what the written file is tagged with
    int vbrQuality = -1;     // MP3: 0 to 9 for a variable bit rate, -1 constant
};
// The tags a track's file gets.
EncodeTags TagsOf(const RecordTrack& track);

using WorkerFactory =
    std::function<std::unique_ptr<RecordWorker>(const WorkerRequest&, RecordWorker::PostFn)>;

struct RecordJobConfig {
    std::vector<RecordTrack> tracks;
    std::string drive;  // the CD player's drive name, as the reader lists it
    RecordEncoder encoder = RecordEncoder::Kvmc;
    int bitRateKbps = 128;
    int flacLevel = 5;       // 0-8
    int readOffset = 0;      // the drive's, in samples
    int vbrQuality = -1;     // HQ MP3: 0 (best) to 9, variable bit rate; -1 constant
    bool askFolder = false;  // "AskFilePath"
    std::string folder;      // "RecordFilePath"; where the folder chooser starts
    // The file name without folder and extension (the record-name rule).
    std::function<std::string(const RecordTrack&)> recordName;
    // Called with each finished file (required: the job knows no playlist).
    std::function<void(const std::string& path)> addToPlaylist;
    std::string tempFolder;  // empty: $TMPDIR, else /tmp
    WorkerFactory makeWorker;
};

// What the recording window shows and asks.
class RecordView {
public:
    virtual ~RecordView() = default;
    virtual void StatusChanged() {}    // status or counter text
    virtual void ProgressChanged() {}  // either bar
    // A track's file was kept although `sectors` of its sectors could not be
    // read (silence stands in for them); it does not count as written.
    virtual void TrackDamaged(const RecordTrack& track, int sectors, const std::string& path) {
        (void)track, (void)sectors, (void)path;
    }
    virtual void Finished() {}  // every track done: Cancel shows its finished look
    virtual void Closed() {}    // the job has ended; the window goes
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // The folder chooser, starting in `start`; nullopt when cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string& start) = 0;
};

enum class RecordState { Starting, Waiting, Reading, Encoding, Finished, Closed };

inline constexpr char kRecordComment[] = "Recorded with Tunara by Korvan";
inline constexpr char kRecordErrorCaption[] = "RecError";

class RecordJob : private CdReaderListener {
public:
    RecordJob(RecordJobConfig config, CdReader& reader, RecordView& view,
              PostedQueue& queue = UiQueue());
    ~RecordJob();
    RecordJob(const RecordJob&) = delete;
    RecordJob& operator=(const RecordJob&) = delete;

    // The window's set-up: chooses the folder and starts reading the first track.
    void Start();
    // The Cancel button: stops a read (its finished event then closes the job)
    // or the worker after its current frame, and closes. After Finished it
    // closes the job.
    void Cancel();
    // The window is closed by other means: stops everything.
    void Close();

    RecordState State() const { return state_; }
    const std::string& StatusText() const { return status_; }
    const std::string& CounterText() const { return counter_; }
    int TrackPercent() const { return trackPercent_; }
    int OverallPercent() const { return overallPercent_; }
    int CurrentIndex() const { return current_; }
    int TrackCount() const { return int(config_.tracks.size()); }
    // Files finished so far, in order; a damaged track's file is not among them.
    const std::vector<std::string>& Written() const { return written_; }
    struct DamagedTrack {
        int number;
        int sectors;       // unreadable ones
        std::string path;  // the file kept
    };
    const std::vector<DamagedTrack>& Damaged() const { return damaged_; }
    // AccurateRip checksums of each track read, taken from the read samples before encoding.
    struct TrackSums {
        int number;
        uint32_t v1, v2;
        bool valid;        // false when the read samples could not be summed
        std::string path;  // the file written; empty until it is
    };
    const std::vector<TrackSums>& Sums() const { return sums_; }
    // The folder the files go to (after Start).
    const std::string& Folder() const { return folder_; }
    // Milliseconds of audio: total, done (reading counts half, encoding half).
    int64_t OverallLengthMs() const { return overallLength_; }
    int64_t OverallDoneMs() const { return overallDone_; }

private:
    void OnReadError(const std::string& text) override;
    void OnReadStarted() override;
    void OnReadFinished() override;
    void OnInterrupt() override;
    void OnReadProgress() override;
    int32_t OnQuery() override;

    void OnWorkerMessage(int message, uint64_t workerId);
    void OnEncodingProgress();
    void OnEncodingFinished();
    void OnEncodingFailed();
    bool PrepareTrack(std::string& error);
    bool StartRead(std::string& error);
    void SetTrackDone(int64_t doneMs);
    void UpdateBars();
    void Fail(const std::string& text);
    void WriteAlbumGain();
    const RecordTrack& Track() const { return config_.tracks[size_t(current_)]; }
    std::unique_ptr<RecordWorker> MakeWorker();

    RecordJobConfig config_;
    CdReader& reader_;
    RecordView& view_;
    PostedQueue& queue_;
    RecordState state_ = RecordState::Starting;

    std::string folder_;
    std::string name_;        // record name of the current track
    std::string tempPath_;    // its WAV
    std::string outputPath_;  // its final name as far as known
    std::string partialPath_;
    std::unique_ptr<RecordWorker> worker_;
    uint64_t workerId_ = 0;
    std::vector<std::string> written_;
    std::vector<DamagedTrack> damaged_;
    std::vector<TrackSums> sums_;
    struct TrackLoudness {
        std::string path;
        std::shared_ptr<const LoudnessMeter> loudness;
    };
    std::vector<TrackLoudness> loudness_;  // of the files kept, for the album values
    int trackDamage_ = 0;                  // unreadable sectors of the current track

    int current_ = 0;
    int64_t overallLength_ = 0, overallDone_ = 0;
    int64_t trackLength_ = 0, trackDone_ = 0;
    bool cancelled_ = false;
    bool failed_ = false;
    std::string failure_;

    std::string status_ = "Track Status";
    std::string counter_;
    int trackPercent_ = 0, overallPercent_ = 0;

    // Posted worker messages hold this weakly: none reaches a destroyed job.
    std::shared_ptr<RecordJob*> self_;
};

}  // namespace tunara
