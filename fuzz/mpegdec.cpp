// Arbitrary bytes through the read callback: decode until the data ends. The first byte picks
// the ancillary option and where to reset, the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mpegdec/mpegdec.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int32_t Read(uint8_t* dst, int32_t* count, void* user) {
    auto* in = static_cast<Input*>(user);
    size_t n = in->size - in->pos;
    if (n > size_t(*count)) n = size_t(*count);
    if (n) std::memcpy(dst, in->data + in->pos, n);
    in->pos += n;
    *count = int32_t(n);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t control = data[0];
    Input in{data + 1, size - 1, 0};
    const uint8_t options[4] = {1, 0, uint8_t(control & 1), 0};
    MpegDecHandle h = nullptr;
    if (mpegDecOpen(options, 0x008D, Read, &in, &h) != 0) return 0;
    static int16_t pcm[1152 * 2];
    static uint8_t anc[4096];
    const size_t maxCalls = 4 * size + 16;  // every call consumes input or ends the stream
    bool reset = false;
    for (size_t i = 0; i < maxCalls; ++i) {
        MpegPcmBlock block{0, 0, pcm};
        MpegAncillaryBlock ancillary{0, anc, int32_t(sizeof anc)};
        MpegHeaderWord word = 0;
        const int32_t rc = mpegDecDecodeFrame(&word, &block, &ancillary, h);
        if (rc == 0 && (block.samplesPerChannel > 1152 || block.channels < 1 ||
                        block.channels > 2 || ancillary.byteCount > int32_t(sizeof anc)))
            __builtin_trap();
        if (rc == kMpegDecEndOfData || rc == kMpegDecNoFrameFound || rc == kMpegDecBadHandle) {
            // Once per input: seek back to a spot chosen by the control byte and go on.
            if (reset || !(control & 2) || in.size == 0) break;
            reset = true;
            in.pos = (size_t(control) * 131) % in.size;
            if (mpegDecReset(h) != 0) break;
        }
    }
    mpegDecClose(&h);
    return 0;
}
