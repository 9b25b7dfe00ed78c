// The AccurateRip record parser on arbitrary bytes, and the verdict over what it accepts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "metadata/AccurateRip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tunara::accuraterip;
    std::vector<Response> responses;
    if (!ParseRecord(std::string_view(reinterpret_cast<const char*>(data), size), responses))
        return 0;
    if (responses.empty()) return 0;
    const DiscIds ids = responses[0].ids;
    for (int t = 0; t <= ids.tracks + 1; ++t) (void)VerdictText(Verify(responses, ids, t, {1, 2}));
    return 0;
}
