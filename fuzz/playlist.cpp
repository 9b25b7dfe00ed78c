// Playlist files: parsing, entry resolution and the stored-name round trip.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "playlist/Playlist.h"
#include "playlist/PlaylistPaths.h"

using tunara::fuzz::Check;
using tunara::fuzz::CleanText;

namespace {

std::vector<std::string> Reparse(const std::vector<std::string>& values, bool m3u) {
    // Marked as UTF-8, so that values are taken byte for byte.
    std::string text = m3u ? "\xEF\xBB\xBF" : "\xEF\xBB\xBF[playlist]\r\n";
    int n = 0;
    for (const auto& v : values) text += (m3u ? "" : "File" + std::to_string(++n) + "=") + v + "\n";
    bool isM3u = false;
    auto back = tunara::ParsePlaylistText(text, isM3u);
    Check(isM3u == m3u);
    return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    bool isM3u = false;
    std::vector<std::string> values = tunara::ParsePlaylistText(bytes, isM3u);

    const std::string folder = "/lists/";
    for (const auto& value : values) {
        Check(!value.empty());
        Check(value.find_first_of("\r\n") == std::string::npos);
        std::string name = tunara::ResolveEntry(value, folder);
        // What Save stores for a local file reads back, through the reader,
        // as the same file.
        if (!name.empty() && name[0] == '/') {
            std::string stored = tunara::StoredEntry(name, folder);
            auto back = Reparse({stored}, false);
            Check(back.size() == 1 && tunara::ResolveEntry(back[0], folder) == name);
        }
    }

    // Values written in either layout read back unchanged (an .m3u list cannot
    // hold a first entry spelled "[playlist]" in any case, nor one starting
    // with "#", which is a comment there; Save stores such names in full).
    Check(Reparse(values, false) == values);
    bool m3uCanHold = true;
    if (!values.empty()) {
        std::string first = values[0];
        for (char& c : first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        m3uCanHold = first != "[playlist]";
    }
    for (const auto& v : values) m3uCanHold = m3uCanHold && v[0] != '#';
    if (m3uCanHold) Check(Reparse(values, true) == values);
    return 0;
}
