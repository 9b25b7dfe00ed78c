// Private-profile files: whatever a file holds parses, every value read is
// found again after a rewrite, and a write never adds sections or keys
// beyond the one written.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "platform/profile/Profile.h"

using tunara::fuzz::Check;
using tunara::fuzz::CleanText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tunara::profile::ProfileFile;
    const std::string text(reinterpret_cast<const char*>(data), size);
    ProfileFile p = ProfileFile::Parse(text);
    // A parse with no change writes the same bytes back (BOM and line ends
    // kept), except that lone CRs before a LF are line ends.
    ProfileFile again = ProfileFile::Parse(p.Serialize());
    Check(again.SectionNames() == p.SectionNames());

    const auto sections = p.SectionNames();
    for (const auto& s : sections) {
        for (const auto& k : p.KeyNames(s)) {
            std::string a, b;
            p.GetString(s, k, "", a, 300);
            again.GetString(s, k, "", b, 300);
            Check(a == b);
            (void)p.GetInt(s, k, -1);
        }
    }

    // Writing a value made of the input itself adds exactly one key.
    const std::string value = text.substr(0, 64);
    const size_t before = p.SectionNames().size();
    if (p.WriteString("fuzz section", "fuzz key", value)) {
        ProfileFile written = ProfileFile::Parse(p.Serialize());
        std::string back;
        written.GetString("fuzz section", "fuzz key", "", back, 1000);
        Check(written.SectionNames().size() <= before + 1);
        Check(back.find_first_of("\r\n") == std::string::npos);
    }
    return 0;
}
