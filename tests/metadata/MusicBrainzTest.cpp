// The MusicBrainz disc id against the same sum worked out by Python's hashlib.
#include "metadata/MusicBrainz.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tunara::musicbrainz {
namespace {

std::string PythonId(int first, const std::vector<uint32_t>& offsets, uint32_t leadout) {
    std::string list;
    for (uint32_t o : offsets) list += std::to_string(o) + ",";
    const std::string command =
        "python3 -c 'import hashlib,base64\n"
        "first=" +
        std::to_string(first) + "\noffs=[" + list + "]\nlead=" + std::to_string(leadout) +
        "\nt=\"%02X%02X\" % (first, first + len(offs) - 1) + \"%08X\" % lead\n"
        // Each track's start sits at its number's place among 99.
        "t += \"00000000\" * (first - 1) + \"\".join(\"%08X\" % o for o in offs)\n"
        "t += \"00000000\" * (100 - first - len(offs))\n"
        "d=base64.b64encode(hashlib.sha1(t.encode()).digest()).decode()\n"
        "print(d.replace(\"+\", \".\").replace(\"/\", \"_\").replace(\"=\", \"-\"))'";
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    char buffer[128];
    while (p && std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (p) ::pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(MusicBrainzTest, DiscId_AgreesWithTheAlgorithm) {
    const struct {
        int first;
        std::vector<uint32_t> offsets;
        uint32_t leadout;
    } discs[] = {
        {1, {150, 15363, 32314, 46592, 63414}, 83000}, {1, {150}, 20000}, {3, {182, 9000}, 40000}};
    for (const auto& d : discs) {
        const std::string ours = DiscId(d.offsets, d.leadout, d.first);
        EXPECT_EQ(ours.size(), 28u);
        EXPECT_EQ(ours, PythonId(d.first, d.offsets, d.leadout));
    }
    EXPECT_EQ(DiscId({}, 1000), "");
}

}  // namespace
}  // namespace tunara::musicbrainz
