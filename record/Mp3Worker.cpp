// The MP3, KVMC and FLAC workers: the temporary WAV through the shared file encoders.
#include "record/FileEncoders.h"
#include "record/RecordWorker.h"

namespace tunara {

namespace {

// What the three workers share: progress into the window, stop on request, the outcome kept.
class FileWorker : public RecordWorker {
protected:
    using RecordWorker::RecordWorker;

    EncodeProgressFn Progress() {
        return [this](int64_t samples, int64_t, int rate) {
            ReportPosition(samples, rate);
            return !Stopping();
        };
    }

    bool Keep(const EncodeResult& result) {
        failure_ = result.failure;
        if (result.loudness) loudness_ = result.loudness;
        return result.outcome != EncodeOutcome::Failed;
    }
};

class Mp3Worker : public FileWorker {
public:
    Mp3Worker(std::string outputPath, int bitRate, bool fast, EncodeTags tags, PostFn post,
              int vbrQuality)
        : FileWorker(std::move(outputPath), bitRate, std::move(post)),
          fast_(fast),
          vbrQuality_(vbrQuality),
          tags_(std::move(tags)) {}

protected:
    bool Encode() override {
        Mp3FileSettings settings;
        settings.bitRate = bitRate_;
        settings.fast = fast_;
        settings.vbrQuality = fast_ ? -1 : vbrQuality_;
        settings.tags = tags_;
        settings.measureLoudness = true;
        return Keep(EncodeMp3File(wavPath_, outputPath_, settings, Progress()));
    }

private:
    bool fast_;
    int vbrQuality_;
    EncodeTags tags_;
};

class KvmcWorker : public FileWorker {
public:
    KvmcWorker(std::string outputPath, int bitRate, EncodeTags tags, PostFn post)
        : FileWorker(std::move(outputPath), bitRate, std::move(post)), tags_(std::move(tags)) {}

protected:
    bool Encode() override {
        return Keep(EncodeMovieFile(wavPath_, outputPath_, bitRate_, tags_, Progress()));
    }

private:
    EncodeTags tags_;
};

class FlacWorker : public FileWorker {
public:
    FlacWorker(std::string outputPath, int level, EncodeTags tags, PostFn post)
        : FileWorker(std::move(outputPath), 0, std::move(post)),
          level_(level),
          tags_(std::move(tags)) {}

protected:
    bool Encode() override {
        return Keep(EncodeFlacFile(wavPath_, outputPath_, {level_, tags_, true}, Progress()));
    }

private:
    int level_;
    EncodeTags tags_;
};

}  // namespace

std::unique_ptr<RecordWorker> MakeFlacWorker(std::string outputPath, int level,
                                             RecordWorker::PostFn post, EncodeTags tags) {
    return std::make_unique<FlacWorker>(std::move(outputPath), level, std::move(tags),
                                        std::move(post));
}

std::unique_ptr<RecordWorker> MakeMp3Worker(std::string outputPath, int bitRate, bool fast,
                                            RecordWorker::PostFn post, EncodeTags tags,
                                            int vbrQuality) {
    return std::make_unique<Mp3Worker>(std::move(outputPath), bitRate, fast, std::move(tags),
                                       std::move(post), vbrQuality);
}

std::unique_ptr<RecordWorker> MakeKvmcWorker(std::string outputPath, int bitRate,
                                             RecordWorker::PostFn post, EncodeTags tags) {
    return std::make_unique<KvmcWorker>(std::move(outputPath), bitRate, std::move(tags),
                                        std::move(post));
}

}  // namespace tunara
