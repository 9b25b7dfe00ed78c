// The KVMC worker: the temporary WAV through the KVMC encoder into the sound
// track of a QuickTime movie, one packet at a time.
#include "record/RecordFiles.h"
#include "record/RecordWorker.h"

#if __has_include("kvmc/kvmc.h") && __has_include("platform/movie/MovieWriter.h")
#define TUNARA_HAVE_KVMC 1
#endif

namespace tunara {

namespace {

class KvmcWorker : public RecordWorker {
public:
    using RecordWorker::RecordWorker;

protected:
    bool Encode() override {
        failure_ = "This build has no KVMC encoder.";
        return false;
    }
};

}  // namespace

std::unique_ptr<RecordWorker> MakeKvmcWorker(std::string outputPath, int bitRate,
                                             RecordWorker::PostFn post) {
    return std::make_unique<KvmcWorker>(std::move(outputPath), bitRate, std::move(post));
}

}  // namespace tunara
