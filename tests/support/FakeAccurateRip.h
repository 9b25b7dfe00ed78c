#pragma once
// An AccurateRip record of a made disc image, as a FakeCddbServer script
// serving it at the disc's record address.
#include <cstdio>
#include <string>
#include <vector>

#include "metadata/AccurateRip.h"
#include "support/CdImage.h"

namespace tunara::testing {

inline accuraterip::DiscIds AccurateRipIds(const CdImage& image) {
    std::vector<uint32_t> offsets;
    for (int first : image.firstSector) offsets.push_back(uint32_t(first) + 150);
    return accuraterip::ComputeDiscIds(offsets, uint32_t(image.samples.size() / 2 / 588) + 150);
}

// Every track submitted 5 times, except `wrongTrack` (1-based; 0 for none),
// whose 2 submissions differ from the image.
inline std::string AccurateRipScript(const CdImage& image, int wrongTrack = 0) {
    namespace ar = accuraterip;
    const ar::DiscIds ids = AccurateRipIds(image);
    const int count = int(image.sectors.size());
    std::string record;
    auto put = [&record](uint32_t v) {
        for (int k = 0; k < 4; ++k) record += char(v >> (8 * k));
    };
    record += char(count);
    put(ids.id1), put(ids.id2), put(ids.cddb);
    for (int t = 0; t < count; ++t) {
        const auto samples = image.Track(t);
        ar::ChecksumAccumulator sums(int64_t(samples.size() / 2), t == 0, t == count - 1);
        sums.Add(samples.data(), samples.size() / 2);
        const bool wrong = t + 1 == wrongTrack;
        record += char(wrong ? 2 : 5);
        put(wrong ? sums.Result().v2 + 1 : sums.Result().v2);
        put(0);
    }
    std::string body;
    char e[8];
    for (unsigned char c : record) std::snprintf(e, sizeof e, "\\u%04x", c), body += e;
    return "{\"" + ar::RecordObject(ids) + "\": {\"body\": \"" + body + "\", \"latin1\": true}}";
}

}  // namespace tunara::testing
