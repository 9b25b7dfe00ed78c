#include <gtest/gtest.h>

#include <random>

#include "Mp3Fixtures.h"
#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"

using namespace tunara;
using namespace tunara::testing;

namespace {

struct Damaged {
    std::string name;
    Bytes bytes;
};

// Every operation the player can make, each bounded, on whatever LoadInfo accepted.
void Exercise(const std::string& path) {
    TestMp3Source s(path);
    if (s.LoadInfo() == 0) return;
    EXPECT_GT(s.GetSampleRate(), 0);
    EXPECT_GE(s.GetDuration(), 0);
    if (s.OpenStream() == 0) return;
    std::vector<int16_t> buffer(1024 * 2);
    for (int i = 0; i < 3000 && s.ReadFrames(buffer.data(), 1024) > 0; ++i) {
    }
    const uint32_t end = uint32_t(tunara::testing::Mp3SourceProbe::FrameIndex(s).size()) *
                         uint32_t(tunara::testing::Mp3SourceProbe::FrameSamples(s));
    for (uint32_t target : {0u, end / 2, end, end + 5000, 0xFFFFFFFFu}) {
        EXPECT_LE(s.SeekFrame(target), std::min(target, end)) << "seek past the target or the end";
        for (int i = 0; i < 3; ++i) s.ReadFrames(buffer.data(), 1024);
    }
    s.SeekFrame(end / 2);
    s.SetStateForTest(PlayState::Rewind);
    int reads = 0;
    while (reads < 3000 && s.ReadFrames(buffer.data(), 1024) > 0) ++reads;
    EXPECT_LT(reads, 3000) << "rewind never reached the start";
    s.SetStateForTest(PlayState::Stopped);
    s.CloseStream();
}

std::vector<Damaged> MakeDamaged() {
    std::vector<Damaged> out;
    const Bytes good = ReadAll(Mp3Files::Get()["v1"]);
    const Bytes mono = ReadAll(Mp3Files::Get()["mono"]);
    const Bytes lsf = ReadAll(Mp3Files::Get()["lsf"]);
    for (size_t cut : {size_t(3), size_t(10), size_t(100), size_t(417), size_t(1000),
                       good.size() / 2, good.size() - 129, good.size() - 1})
        out.push_back(
            {"truncated-" + std::to_string(cut), Bytes(good.begin(), good.begin() + long(cut))});
    out.push_back({"zero-filled", Bytes(good.size(), 0)});
    out.push_back({"header-then-zeros", Cat({Mp3Header(), Bytes(20000, 0)})});
    Bytes hole = good;
    std::fill(hole.begin() + 5000, hole.begin() + 30000, 0);
    out.push_back({"zeroed-middle", hole});
    std::mt19937 rng(1234);
    for (int seed = 0; seed < 6; ++seed) {
        Bytes noise(size_t(2000 + 9000 * seed));
        for (auto& b : noise) b = uint8_t(rng());
        out.push_back({"random-after-header-" + std::to_string(seed), Cat({Mp3Header(), noise})});
    }
    Bytes hugeTag = Cat({B("ID3"), Bytes{3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, good});
    out.push_back({"tag-claims-256MiB", hugeTag});
    out.push_back({"tag-then-false-sync", Cat({Tag(3, 0, Frame23("TIT2", Latin1("x"))),
                                               Bytes{0xFF, 0x10}, Bytes(500, 7)})});
    // Stereo MPEG-1 frames followed by mono and by MPEG-2 frames.
    out.push_back({"stereo-then-mono", Cat({Bytes(good.begin(), good.begin() + 40000), mono})});
    out.push_back({"mpeg1-then-mpeg2", Cat({Bytes(good.begin(), good.begin() + 40000), lsf})});
    Bytes badRates = good;
    for (size_t i = 3000; i + 4 < badRates.size(); i += 997)
        badRates[i] = 0xFF, badRates[i + 1] = 0xFB, badRates[i + 2] = 0xFC;
    out.push_back({"reserved-rate-headers", badRates});
    return out;
}

}  // namespace

// Nothing that a damaged file holds may crash, hang or read out of bounds
// (the sanitizer build runs this too).
TEST(Mp3SourceDamaged, EveryOperation_Survives) {
    REQUIRE_MP3_FILES();
    TempDir dir;
    for (const Damaged& d : MakeDamaged()) {
        SCOPED_TRACE(d.name);
        ScopedRecordingInteraction rec;
        Exercise(dir.Write(d.name + ".mp3", d.bytes));
    }
}

// Files whose first bytes hold no Layer III header are refused with the open message.
TEST(Mp3SourceDamaged, NoHeaderAtAudioStart_Refused) {
    TempDir dir;
    for (const Bytes& bytes : {Bytes(5000, 0), Bytes{0xFF, 0xFB}, Bytes{0xFF, 0xFD, 0x90, 0x00},
                               Bytes{0xFF, 0xFB, 0xF0, 0x00}, Bytes{0xFF, 0xFB, 0x9C, 0x00}}) {
        TestMp3Source s(dir.Write("bad.mp3", Cat({bytes, Bytes(3000, 0)})));
        EXPECT_EQ(s.LoadInfo(), 0);
        EXPECT_TRUE(s.TakeError());
    }
}
