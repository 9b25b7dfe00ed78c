#include "record/RecordWorker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace tunara {

RecordWorker::RecordWorker(std::string outputPath, int bitRate, PostFn post)
    : outputPath_(std::move(outputPath)), bitRate_(bitRate), post_(std::move(post)) {}

RecordWorker::~RecordWorker() {
    stop_ = true;
    Join();
}

void RecordWorker::Start(const std::string& wavPath) {
    wavPath_ = wavPath;
    thread_ = std::thread([this] { Run(); });
}

void RecordWorker::Join() {
    if (thread_.joinable()) thread_.join();
}

void RecordWorker::ReportPosition(int64_t samplesPerChannel, int sampleRate) {
    encodedMs_ = sampleRate > 0 ? samplesPerChannel * 1000 / sampleRate : 0;
    if (!progressQueued_.exchange(true)) post_(kRecordProgressMessage);
}

void RecordWorker::Run() {
    // Below normal priority, so that playback and the reader come first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 5);
    // The encoders' writers report a failed write only as such; the cause
    // stays in this thread's errno.
    errno = 0;
    bool ok = Encode();
    if (!ok) diskFull_ = errno == ENOSPC || errno == EDQUOT;
    post_(ok ? kRecordFinishedMessage : kRecordFailedMessage);
}

}  // namespace tunara
