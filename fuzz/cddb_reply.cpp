// CDDB replies: the status line and match of a query reply, and a read
// reply's data lines. Invariants: titles are valid UTF-8 without control
// characters, only the disc's tracks get titles, and nothing a server sends
// escapes into a request.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "metadata/Cddb.h"
#include "metadata/TextCodec.h"

using tunara::fuzz::Check;
using tunara::fuzz::CleanText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tunara;
    if (size < 1) return 0;
    const int trackCount = data[0] % 100;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    bool first = true;
    cddb::ReadReplyParser parser(trackCount);
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (first) {
            const cddb::StatusLine s = cddb::ParseStatusLine(line);
            Check(s.code >= 0);
            Check(text::IsValidUtf8(s.rest));
            cddb::Match m;
            if (cddb::ParseMatch(s.rest, m)) {
                Check(!m.category.empty() && !m.discId.empty() && CleanText(m.category));
                const std::string cmd = cddb::ReadCommand(m.category, m.discId);
                Check(cmd.find_first_of("&?# \r\n=") == std::string::npos);
            }
            first = false;
            continue;
        }
        parser.Feed(line);
    }
    const cddb::DiscText t = parser.Result();
    Check(CleanText(t.artist) && CleanText(t.album));
    for (const auto& [n, title] : t.titles) {
        Check(n >= 0 && n < trackCount);
        Check(CleanText(title));
    }
    return 0;
}
