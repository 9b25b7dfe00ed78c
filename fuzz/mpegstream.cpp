// Fuzzes the encoder-summary reader of a stream's first frame.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mpegdec/mpegstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so reads past the end are caught.
    std::vector<uint8_t> frame(data, data + size);
    MpegStreamSummary s;
    mpegStreamReadSummary(frame.data(), frame.size(), &s);
    return 0;
}
