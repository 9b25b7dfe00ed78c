#pragma once
// What several benchmarks share: a file's bytes, and a decoder read callback over bytes in memory
// so that file reading stays out of the figures.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tunara::bench {

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), {});
}

struct MemoryInput {
    const std::vector<uint8_t>* data;
    size_t pos;
};

// A read callback for `MemoryInput`: 0 with the count given, which is 0 at the end.
inline int32_t ReadMemory(uint8_t* dst, int32_t* count, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    const size_t n = std::min(in->data->size() - in->pos, size_t(*count));
    std::memcpy(dst, in->data->data() + in->pos, n);
    in->pos += n;
    *count = int32_t(n);
    return 0;
}

}  // namespace tunara::bench
