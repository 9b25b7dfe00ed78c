// MusicBrainz disc id replies: the JSON reader and the releases read from it.
// Invariants: any input ends in a status, texts are valid UTF-8 without
// control characters, and track numbers stay within a disc's.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "metadata/Json.h"
#include "metadata/MusicBrainz.h"
#include "metadata/TextCodec.h"

using tunara::fuzz::Check;
using tunara::fuzz::CleanText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tunara;
    if (size < 1) return 0;
    const int trackCount = data[0] % 100;
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

    json::Value v;
    std::string error;
    if (!json::Parse(body, v, error)) Check(!error.empty());

    std::vector<musicbrainz::Release> releases;
    const auto status = musicbrainz::ParseDiscReply(body, "Tun4raFakeDiscId0000000000A-",
                                                    trackCount, releases, error);
    Check(status == musicbrainz::ReplyStatus::Ok || releases.empty());
    for (const auto& r : releases) {
        Check(CleanText(r.title) && CleanText(r.artist) && CleanText(r.date) &&
              CleanText(r.Label()));
        for (const auto& t : r.tracks) {
            Check(t.number >= 1 && t.number <= 99 + int(r.tracks.size()));
            Check(CleanText(t.title) && CleanText(t.artist));
        }
    }
    return 0;
}
