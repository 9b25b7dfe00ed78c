// Placeholder entry points until the decoder lands.
#include "mpegdec/mpegdec.h"

const char* mpegDecStatusText(int32_t) {
    return "unknown status";
}
int32_t mpegDecOpen(const uint8_t*, uint16_t, MpegReadCallback, void*, MpegDecHandle* h) {
    if (h) *h = nullptr;
    return kMpegDecNoContextMemory;
}
int32_t mpegDecDecodeFrame(MpegHeaderWord*, MpegPcmBlock*, MpegAncillaryBlock*, MpegDecHandle) {
    return kMpegDecBadHandle;
}
int32_t mpegDecReset(MpegDecHandle) {
    return kMpegDecBadHandle;
}
int32_t mpegDecClose(MpegDecHandle*) {
    return kMpegDecBadHandle;
}
