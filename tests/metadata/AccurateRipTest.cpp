// AccurateRip: checksums against an independent implementation, the record's address from a
// table of contents worked out by hand, and verdicts from a record served on the loopback address.
#include "metadata/AccurateRip.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "platform/io/WavHeader.h"
#include "support/CdImage.h"
#include "support/FakeCddbServer.h"

namespace tunara::accuraterip {
namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    ::pclose(p);
    return out;
}

void WriteWav(const std::string& path, const std::vector<int16_t>& s) {
    uint8_t header[io::kWavHeaderBytes];
    io::MakeWavHeader(io::WavFormat{2, 44100, 16}, s.size() * 2, header);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size() * 2));
}

std::vector<int16_t> Noise(size_t frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int16_t> s(frames * 2);
    for (auto& v : s) v = int16_t(rng());
    return s;
}

// Both checksums of a first, middle and last track (and of a disc's only track) equal those of
// the accuraterip-checksum tool that comes with whipper.
TEST(AccurateRipTest, Checksums_AgreeWithIndependentTool) {
    if (Shell("command -v accuraterip-checksum").empty()) GTEST_SKIP() << "whipper is not installed";
    tunara::testing::TempDir dir;
    const std::string wav = (dir.Path() / "t.wav").string();
    WriteWav(wav, Noise(588 * 40 + 17, 7));
    const struct { int track, total; } cases[] = {{1, 3}, {2, 3}, {3, 3}, {1, 1}};
    for (auto c : cases) {
        Checksums ours;
        ASSERT_TRUE(FileChecksums(wav, c.track == 1, c.track == c.total, ours));
        const std::string args =
            " '" + wav + "' " + std::to_string(c.track) + " " + std::to_string(c.total) + " 2>&1";
        const std::string v1 = Shell("accuraterip-checksum --accuraterip-v1" + args);
        const std::string v2 = Shell("accuraterip-checksum --accuraterip-v2" + args);
        EXPECT_EQ(std::stoul(v1, nullptr, 16), ours.v1) << c.track << "/" << c.total;
        EXPECT_EQ(std::stoul(v2, nullptr, 16), ours.v2) << c.track << "/" << c.total;
    }
}

// Two tracks at 0:00 (frame 150 with the lead-in) and frame 10150, lead-out at 20150.
const std::vector<uint32_t> kOffsets = {150, 10150};
constexpr uint32_t kLeadout = 20150;

TEST(AccurateRipTest, DiscIds_NameTheRecord) {
    const DiscIds ids = ComputeDiscIds(kOffsets, kLeadout);
    EXPECT_EQ(RecordObject(ids), "/accuraterip/0/3/5/dBAR-002-00007530-00013881-0b010a02.bin");
}

// A record in the database's layout: for each response, the track count, the three ids and a
// confidence, a checksum and a second checksum per track, all little-endian.
std::string Record(const DiscIds& ids, const std::vector<std::pair<int, uint32_t>>& tracks) {
    std::string b;
    auto put = [&b](uint32_t v) {
        for (int k = 0; k < 4; ++k) b += char(v >> (8 * k));
    };
    b += char(tracks.size());
    put(ids.id1), put(ids.id2), put(ids.cddb);
    for (auto [confidence, crc] : tracks) b += char(confidence), put(crc), put(0);
    return b;
}

std::string JsonLatin1(const std::string& bytes) {
    std::string s;
    char e[8];
    for (unsigned char c : bytes) std::snprintf(e, sizeof e, "\\u%04x", c), s += e;
    return s;
}

TEST(AccurateRipTest, LoopbackRecord_GivesVerdicts) {
    tunara::testing::TempDir dir;
    const DiscIds ids = ComputeDiscIds(kOffsets, kLeadout);
    auto track1 = Noise(10000 * 588, 1), track2 = Noise(10000 * 588, 2);
    Checksums sums1, sums2;
    ChecksumAccumulator a1(10000 * 588, true, false), a2(10000 * 588, false, true);
    a1.Add(track1.data(), track1.size() / 2);
    a2.Add(track2.data(), track2.size() / 2);
    sums1 = a1.Result(), sums2 = a2.Result();
    // Two responses (two pressings); track 2 is listed with a v1 sum in one and v2 in the other.
    const std::string record = Record(ids, {{5, sums1.v2}, {2, sums2.v1}}) +
                               Record(ids, {{0, 0}, {3, sums2.v2}}) +
                               Record({1, 2, 3, 2}, {{9, 1}, {9, 2}});
    // A disc the database does not know gets a 404, which is no failure.
    const DiscIds other = ComputeDiscIds({150, 20150}, 30150);
    const std::string script = "{\"" + RecordObject(ids) + "\": {\"body\": \"" +
                               JsonLatin1(record) + "\", \"latin1\": true}, \"" +
                               RecordObject(other) + "\": {\"status\": 404}}";
    tunara::testing::FakeCddbServer server(dir.Path(), script);
    http::Session session("test");
    std::vector<Response> responses;
    ASSERT_EQ(Fetch(session, "127.0.0.1", server.Port(), ids, responses), http::Status::Ok);
    ASSERT_EQ(responses.size(), 3u);
    EXPECT_EQ(VerdictText(Verify(responses, ids, 1, sums1)), "accurate (confidence 5)");
    EXPECT_EQ(VerdictText(Verify(responses, ids, 2, sums2)), "accurate (confidence 3)");

    track1[5000 * 2] ^= 1;  // one changed sample
    ChecksumAccumulator changed(10000 * 588, true, false);
    changed.Add(track1.data(), track1.size() / 2);
    EXPECT_EQ(VerdictText(Verify(responses, ids, 1, changed.Result())),
              "does not match (5 submissions)");

    ASSERT_EQ(Fetch(session, "127.0.0.1", server.Port(), other, responses), http::Status::Ok);
    EXPECT_EQ(VerdictText(Verify(responses, other, 1, sums1)), "not in the database");
}

TEST(AccurateRipTest, TruncatedRecord_Rejected) {
    const DiscIds ids = ComputeDiscIds(kOffsets, kLeadout);
    std::string record = Record(ids, {{5, 1}, {5, 2}});
    std::vector<Response> out;
    EXPECT_TRUE(ParseRecord(record, out));
    EXPECT_FALSE(ParseRecord(record.substr(0, record.size() - 1), out));
    EXPECT_FALSE(ParseRecord(record + "x", out));
}

}  // namespace
}  // namespace tunara::accuraterip
