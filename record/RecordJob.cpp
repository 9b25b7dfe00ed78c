#include "record/RecordJob.h"

#include <algorithm>
#include <cassert>

#include "metadata/AccurateRip.h"
#include "metadata/Id3Tag.h"
#include "metadata/ReplayGainScan.h"
#include "platform/shell/XdgShell.h"
#include "platform/ui/Strings.h"
#include "record/RecordFiles.h"

namespace tunara {

namespace {

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string DiskFullText(const std::string& path) {
    return "The disk is full: " + path + " was not written.";
}

std::string FileNameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const char* RecordExtension(RecordEncoder encoder) {
    switch (encoder) {
        case RecordEncoder::Kvmc:
            return ".mov";
        case RecordEncoder::Flac:
            return ".flac";
        default:
            return ".mp3";
    }
}

RecordJob::RecordJob(RecordJobConfig config, CdReader& reader, RecordView& view, PostedQueue& queue)
    : config_(std::move(config)),
      reader_(reader),
      view_(view),
      queue_(queue),
      self_(std::make_shared<RecordJob*>(this)) {
    assert(config_.addToPlaylist && "the caller says where finished files go");
    reader_.SetListener(this);
}

RecordJob::~RecordJob() {
    if (state_ != RecordState::Closed) {
        cancelled_ = true;
        Close();
    }
    reader_.SetListener(nullptr);
}

std::unique_ptr<RecordWorker> RecordJob::MakeWorker() {
    uint64_t id = ++workerId_;
    std::weak_ptr<RecordJob*> self = self_;
    PostedQueue* queue = &queue_;
    RecordWorker::PostFn post = [self, queue, id](int message) {
        queue->Post([self, message, id] {
            if (auto job = self.lock()) (*job)->OnWorkerMessage(message, id);
        });
    };
    WorkerRequest request{config_.encoder, partialPath_, config_.bitRateKbps * 1000,
                          TagsOf(Track()), config_.vbrQuality};
    if (config_.makeWorker) return config_.makeWorker(request, std::move(post));
    if (config_.encoder == RecordEncoder::Flac)
        return MakeFlacWorker(request.outputPath, config_.flacLevel, std::move(post), request.tags);
    if (config_.encoder == RecordEncoder::Kvmc)
        return MakeKvmcWorker(request.outputPath, request.bitRate, std::move(post), request.tags);
    return MakeMp3Worker(request.outputPath, request.bitRate,
                         config_.encoder == RecordEncoder::FastMp3, std::move(post), request.tags,
                         request.vbrQuality);
}

EncodeTags TagsOf(const RecordTrack& t) {
    EncodeTags tags;
    tags.title = t.title;
    tags.artist = t.artist;
    tags.album = t.album;
    tags.year = t.year;
    tags.track = t.number;
    tags.trackTotal = t.trackTotal;
    tags.genre = t.genre;
    tags.cddbDiscId = t.cddbDiscId;
    tags.musicBrainzDiscId = t.musicBrainzDiscId;
    if (tags.genre.empty()) {
        // A CDDB category such as "rock" is a genre; "misc" or "Unknown" is not.
        Id3Tag probe;
        probe.setGenreName(t.category);
        if (probe.genreIndex() != kNoGenre) tags.genre = t.category;
    }
    return tags;
}

void RecordJob::Start() {
    if (state_ != RecordState::Starting) return;
    if (config_.tracks.empty()) {
        Close();
        return;
    }
    overallLength_ = 0;
    for (const auto& t : config_.tracks) overallLength_ += std::max<int64_t>(t.lengthMs, 0);
    current_ = 0;
    trackLength_ = std::max<int64_t>(Track().lengthMs, 0);
    if (config_.tempFolder.empty()) config_.tempFolder = RecordTempFolder();

    if (config_.askFolder) {
        auto chosen = view_.ChooseFolder(shell::ExistingStartFolder(config_.folder).string());
        if (!chosen) {
            Close();
            return;
        }
        folder_ = shell::ExpandHome(*chosen);
    } else {
        folder_ = shell::ExpandHome(config_.folder);
    }
    // Before any reading: a missing folder is made, an unusable one ends the job.
    std::string error;
    if (!PrepareOutputFolder(folder_, error)) {
        view_.ShowMessage(kRecordErrorCaption, error);
        Close();
        return;
    }
    if (!PrepareTrack(error)) {
        view_.ShowMessage(kRecordErrorCaption, error);
        Close();
        return;
    }

    reader_.SetEnabled(false);
    state_ = RecordState::Waiting;
    const auto& drives = reader_.Drives();
    bool found = false;
    for (size_t i = 0; i < drives.size(); ++i) {
        if (drives[i] != config_.drive) continue;
        reader_.Stop();
        reader_.SelectDrive(int(i));
        found = reader_.DriveName() == config_.drive;
        break;
    }
    if (!found || !reader_.Available()) return;  // nothing starts; Cancel ends the job

    reader_.SetEnabled(true);
    reader_.SetReadOffset(config_.readOffset);
    reader_.Prepare();
    reader_.DiscReady();
    if (!StartRead(error)) {
        reader_.Abort();
        reader_.SetEnabled(false);
        view_.ShowMessage(kRecordErrorCaption, error);
        return;
    }
}

bool RecordJob::PrepareTrack(std::string& error) {
    const RecordTrack& t = Track();
    name_ = config_.recordName ? config_.recordName(t) : std::string();
    // A name made only of empty parts would give a hidden ".mp3".
    if (name_.empty()) name_ = "Track " + std::to_string(t.number);
    RemoveFile(tempPath_);
    tempPath_ = CreateTempWav(config_.tempFolder, name_, error);
    if (tempPath_.empty()) return false;
    const char* ext = RecordExtension(config_.encoder);
    outputPath_ = FreeOutputPath(folder_, name_, ext);
    return true;
}

bool RecordJob::StartRead(std::string& error) {
    if (!reader_.ReadTrack(Track().number - 1, tempPath_, error)) return false;
    state_ = RecordState::Reading;
    return true;
}

void RecordJob::OnReadError(const std::string& text) {
    failed_ = true;
    if (failure_.empty()) failure_ = text;
}

void RecordJob::OnReadStarted() {
    if (state_ != RecordState::Reading) return;
    status_ = "Reading " + Quoted(Track().title);
    counter_ = "Recording Track " + std::to_string(current_ + 1) + " of " +
               std::to_string(config_.tracks.size());
    SetTrackDone(0);
    view_.StatusChanged();
}

void RecordJob::OnReadProgress() {
    if (state_ != RecordState::Reading || cancelled_) return;
    // 75 CD frames per second; reading fills the first half of the track's share.
    int64_t frames = int64_t(reader_.CurrentFrame()) - reader_.StartFrame();
    int64_t a = int64_t(double(frames) * 13.333333) / 2;
    SetTrackDone(std::clamp<int64_t>(a, trackDone_, trackLength_ / 2));
}

void RecordJob::OnReadFinished() {
    if (state_ != RecordState::Reading) return;
    if (cancelled_ || failed_) {
        if (failed_ && !cancelled_)
            view_.ShowMessage(kRecordErrorCaption,
                              failure_.empty() ? "The track could not be read." : failure_);
        Close();
        return;
    }
    trackDamage_ = reader_.DamagedSectors();
    {
        const RecordTrack& t = Track();
        accuraterip::Checksums sums;
        const bool valid = accuraterip::FileChecksums(
            tempPath_, t.number == 1, t.trackTotal > 0 && t.number == t.trackTotal, sums);
        sums_.push_back({t.number, sums.v1, sums.v2, valid, {}});
    }
    std::string error;
    const char* ext = RecordExtension(config_.encoder);
    outputPath_ = FreeOutputPath(folder_, name_, ext);
    partialPath_ = CreatePartialFile(outputPath_, error);
    if (partialPath_.empty()) {
        Fail(error);
        return;
    }
    status_ = "Writing " + Quoted(FileNameOf(outputPath_));
    view_.StatusChanged();
    state_ = RecordState::Encoding;
    worker_ = MakeWorker();
    worker_->Start(tempPath_);
}

void RecordJob::OnInterrupt() {
    if (reader_.State() == 1) reader_.Abort();
}

int32_t RecordJob::OnQuery() {
    return reader_.QueryAnswer();
}

void RecordJob::OnWorkerMessage(int message, uint64_t workerId) {
    if (state_ != RecordState::Encoding || !worker_ || workerId != workerId_) return;
    switch (message) {
        case kRecordProgressMessage:
            OnEncodingProgress();
            break;
        case kRecordFinishedMessage:
            OnEncodingFinished();
            break;
        case kRecordFailedMessage:
            OnEncodingFailed();
            break;
        default:
            break;
    }
}

void RecordJob::OnEncodingProgress() {
    worker_->ProgressSeen();
    // Encoding fills the second half; the last frame's padding and the
    // encoder's look-ahead may run past the track's length.
    int64_t p = std::min(worker_->EncodedMs(), trackLength_);
    SetTrackDone(std::max(trackDone_, trackLength_ / 2 + p / 2));
}

namespace {

// Writes ReplayGain values into a file of the encoder's format; empty on success.
std::string WriteGain(RecordEncoder encoder, const std::string& path, const ReplayGainValues& v) {
    if (encoder == RecordEncoder::Flac) return WriteFlacReplayGain(path, v);
    if (encoder == RecordEncoder::FastMp3 || encoder == RecordEncoder::HqMp3)
        return WriteMp3ReplayGain(path, v);
    return {};
}

}  // namespace

void RecordJob::OnEncodingFinished() {
    worker_->Join();
    bool stopped = worker_->StopRequested();
    const std::shared_ptr<const LoudnessMeter> loudness = worker_->Loudness();
    worker_.reset();
    RemoveFile(tempPath_);
    tempPath_.clear();
    if (stopped) {
        Close();
        return;
    }
    const RecordTrack& t = Track();
    if (loudness) {
        const std::string error = WriteGain(config_.encoder, partialPath_, loudness->TrackValues());
        if (!error.empty()) {
            Fail(error);
            return;
        }
    }
    if (config_.encoder == RecordEncoder::FastMp3 || config_.encoder == RecordEncoder::HqMp3) {
        Id3Tag tag;
        tag.setGenreName(t.genre.empty() ? t.category : t.genre);
        const Id3Result status = tag.writeV1(partialPath_, "1.1", t.title, t.artist, t.album,
                                             t.year, kRecordComment, t.number, tag.genreIndex());
        if (status != kId3Ok) {
            Fail("Cannot write the tag of " + outputPath_ + ": " + Id3StatusText(status) + ".");
            return;
        }
    }
    std::string error;
    std::string finalPath = CommitPartialFile(partialPath_, outputPath_, error);
    if (finalPath.empty()) {
        Fail(error);
        return;
    }
    partialPath_.clear();
    if (!sums_.empty() && sums_.back().number == t.number) sums_.back().path = finalPath;
    if (loudness) loudness_.push_back({finalPath, loudness});
    if (trackDamage_ > 0) {
        damaged_.push_back({t.number, trackDamage_, finalPath});
        view_.TrackDamaged(t, trackDamage_, finalPath);
    } else {
        written_.push_back(finalPath);
        if (config_.addToPlaylist) config_.addToPlaylist(finalPath);
    }
    SetTrackDone(trackLength_);

    if (current_ + 1 < TrackCount()) {
        ++current_;
        trackLength_ = std::max<int64_t>(Track().lengthMs, 0);
        trackDone_ = 0;
        if (!PrepareTrack(error) || !StartRead(error)) Fail(error);
        return;
    }
    reader_.Stop();
    WriteAlbumGain();
    state_ = RecordState::Finished;
    auto tracks = [](size_t n) { return std::to_string(n) + (n == 1 ? " track" : " tracks"); };
    status_ = "Finished";
    counter_ = tracks(written_.size()) + " written, " + std::to_string(damaged_.size()) + " failed";
    view_.StatusChanged();
    view_.Finished();
}

void RecordJob::WriteAlbumGain() {
    std::vector<const LoudnessMeter*> all;
    for (const auto& t : loudness_) all.push_back(t.loudness.get());
    if (all.empty()) return;
    const ReplayGainValues album = LoudnessMeter::AlbumValues(all);
    std::string errors;
    for (const auto& t : loudness_) {
        ReplayGainValues v = t.loudness->TrackValues();
        v.albumGain = album.albumGain;
        v.albumPeak = album.albumPeak;
        const std::string error = WriteGain(config_.encoder, t.path, v);
        if (!error.empty()) errors += error + "\n";
    }
    // The files are complete either way; the user learns which lack album values.
    if (!errors.empty())
        view_.ShowMessage(kRecordErrorCaption, "The album gain could not be written:\n" + errors);
}

void RecordJob::OnEncodingFailed() {
    worker_->Join();
    std::string why = worker_->FailureText();
    if (worker_->DiskFull()) why = DiskFullText(outputPath_);
    worker_.reset();
    reader_.Stop();
    Fail(why.empty() ? "The track could not be encoded." : why);
}

void RecordJob::Fail(const std::string& text) {
    failed_ = true;
    view_.ShowMessage(kRecordErrorCaption, text);
    Close();
}

void RecordJob::Cancel() {
    if (state_ == RecordState::Closed) return;
    int reading = reader_.State();
    cancelled_ = true;
    if (reading != 1) {
        reader_.SetEnabled(false);
        if (worker_) {
            worker_->RequestStop();
            worker_->Join();
            worker_.reset();
        }
        Close();
        return;
    }
    reader_.Abort();  // the read-finished event closes the job
}

void RecordJob::Close() {
    if (state_ == RecordState::Closed) return;
    if (reader_.State() == 1) reader_.Abort();
    reader_.Stop();
    reader_.SetEnabled(false);
    if (worker_) {
        worker_->RequestStop();
        worker_->Join();
        worker_.reset();
    }
    // Whatever the outcome, no temporary WAV stays and no partial file remains.
    RemoveFile(partialPath_);
    partialPath_.clear();
    RemoveFile(tempPath_);
    tempPath_.clear();
    state_ = RecordState::Closed;
    view_.Closed();
}

void RecordJob::SetTrackDone(int64_t doneMs) {
    overallDone_ += doneMs - trackDone_;
    trackDone_ = doneMs;
    UpdateBars();
}

void RecordJob::UpdateBars() {
    auto percent = [](int64_t done, int64_t length) {
        return length > 0 ? int(std::clamp<int64_t>(done * 100 / length, 0, 100)) : 0;
    };
    int track = percent(trackDone_, trackLength_);
    int overall = percent(overallDone_, overallLength_);
    if (track == trackPercent_ && overall == overallPercent_) return;
    trackPercent_ = track;
    overallPercent_ = overall;
    view_.ProgressChanged();
}

}  // namespace tunara
