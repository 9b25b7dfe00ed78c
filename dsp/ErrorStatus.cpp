#include <atomic>
#include <cstdlib>

#include "dsp/dsp.h"

namespace {

// One record for the whole process. The fields are atomics (relaxed: nobody
// orders other memory by them) so that the feeder, callback and recording
// threads may report or clear the status at once without a data race.
struct DspErrorStatus {
    std::atomic<int32_t> status{dspStsNoErr};
    // Reporting by default: a media player must not vanish over one bad
    // call deep in a kernel; mode 0 is there for who wants the hard stop.
    std::atomic<int32_t> errorMode{1};
    std::atomic<DspErrorHandler> handler{&dspDefaultErrorHandler};
};

constinit DspErrorStatus g_status;

}  // namespace

int32_t dspGetStatus() {
    return g_status.status.load(std::memory_order_relaxed);
}

void dspSetStatus(int32_t status) {
    g_status.status.store(status, std::memory_order_relaxed);
}

int32_t dspGetErrorMode() {
    return g_status.errorMode.load(std::memory_order_relaxed);
}

void dspSetErrorMode(int32_t mode) {
    g_status.errorMode.store(mode, std::memory_order_relaxed);
}

DspErrorHandler dspGetErrorHandler() {
    return g_status.handler.load(std::memory_order_acquire);
}

DspErrorHandler dspSetErrorHandler(DspErrorHandler handler) {
    if (handler == nullptr) handler = &dspDefaultErrorHandler;
    return g_status.handler.exchange(handler, std::memory_order_acq_rel);
}

int32_t dspReportError(int32_t status, const char* routine, const char* condition, const char* unit,
                       int32_t line) {
    // -1 and -8 are passed through to the handler without replacing the stored status.
    if (status != -1 && status != -8) dspSetStatus(status);
    if (status == dspStsNoErr) return dspStsNoErr;
    DspErrorHandler handler = dspGetErrorHandler();
    return handler(status, routine, condition, unit, line);
}

int32_t dspDefaultErrorHandler(int32_t status, const char*, const char*, const char*, int32_t) {
    // A bad argument is a programming error in the caller; end at once,
    // without running exit handlers that might touch the broken state.
    if (dspGetErrorMode() == 0) std::_Exit(1);
    return status;
}

const char* dspStatusText(int32_t status) {
    switch (status) {
        case dspStsNoErr:
            return "No error";
        case dspStsMemErr:
            return "Out of memory";
        case dspStsBadArg:
            return "Bad argument";
        default:
            return "Unknown status";
    }
}
