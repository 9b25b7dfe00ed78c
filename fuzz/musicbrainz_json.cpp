// MusicBrainz disc id replies: the JSON reader and the releases read from it.
// Invariants: any input ends in a status, texts are valid UTF-8 without
// control characters, and track numbers stay within a disc's.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metadata/Json.h"
#include "metadata/MusicBrainz.h"
#include "metadata/TextCodec.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Clean(const std::string& s) {
    return tunara::text::IsValidUtf8(s) && tunara::text::DropControls(s) == s;
}

}  // namespace

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
        Check(Clean(r.title) && Clean(r.artist) && Clean(r.date) && Clean(r.Label()));
        for (const auto& t : r.tracks) {
            Check(t.number >= 1 && t.number <= 99 + int(r.tracks.size()));
            Check(Clean(t.title) && Clean(t.artist));
        }
    }
    return 0;
}
