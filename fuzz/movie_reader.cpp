// Arbitrary bytes as a movie file: the reader must give a status, and every sample it lists
// must lie inside the bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/movie/MovieReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tunara::movie::MovieReader reader;
    if (reader.OpenMemory(std::vector<uint8_t>(data, data + size)) !=
        tunara::movie::MovieReadStatus::kOk)
        return 0;
    std::vector<uint8_t> sample;
    for (size_t i = 0; i < reader.SampleCount(); ++i) {
        if (reader.SampleOffset(i) + reader.SampleSize(i) > size) std::abort();
        if (!reader.ReadSample(i, sample)) std::abort();
    }
    return 0;
}
