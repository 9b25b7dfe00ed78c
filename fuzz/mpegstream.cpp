// Fuzzes the stream tier: the encoder-summary reader of a stream's first frame, the frame
// search and scan past junk and damage (free format, joined rates, Layer I/II detection), and
// the iTunSMPB text reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mpegdec/mpegstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so reads past the end are caught.
    std::vector<uint8_t> frame(data, data + size);
    MpegStreamSummary s;
    mpegStreamReadSummary(frame.data(), frame.size(), &s);
    MpegStreamLayout layout;
    if (mpegStreamLayout(frame.data(), frame.size(), &layout)) {
        if (layout.audioFrame < layout.firstFrame || size_t(layout.audioFrame) > size)
            __builtin_trap();
        const MpegStreamTrim t =
            mpegStreamTrim(layout.frames, mpegHeaderSamplesPerFrame(layout.first),
                           layout.summary.encoderDelay, layout.summary.encoderPadding);
        if (t.skip < 0 || t.keep < 0) __builtin_trap();
    }
    MpegHeaderWord w = 0;
    const int64_t layer12 = mpegStreamFindLayer12(frame.data(), frame.size(), 1, &w);
    if (layer12 >= 0 && (size_t(layer12) >= size || mpegStreamLayer12Bitrate(w) <= 0))
        __builtin_trap();
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t delay = 0, padding = 0;
    mpegStreamParseSmpb(text.c_str(), &delay, &padding);
    return 0;
}
