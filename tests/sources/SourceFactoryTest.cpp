#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestTools.h"
#include "WavFixtures.h"
#include "engine/testing/EngineTesting.h"
#include "sources/Mp3Source.h"
#include "sources/QuickTimeSource.h"
#include "sources/SourceFactory.h"
#include "sources/WavSource.h"

namespace tunara {
namespace {

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

enum class Expect { Wav, Mp3, Media };

Expect KindOf(const MediaSource* s) {
    if (dynamic_cast<const WavSource*>(s)) return Expect::Wav;
    if (dynamic_cast<const Mp3Source*>(s)) return Expect::Mp3;
    return Expect::Media;
}

// The file's content chooses its reader, whatever its name says; a name
// decides only for content nobody recognises.
TEST(SourceFactory, ChoosesByContent) {
    TUNARA_SKIP_IF_MISSING(!Shell("sox --version") || !Shell("ffmpeg -version"), "sox or ffmpeg");
    test::TempDir dir;
    const std::string lavfi = "ffmpeg -v error -y -f lavfi -i sine=frequency=500:duration=0.3 ";
    struct Case {
        std::string name;
        std::string make;  // writes %s
        Expect expect;
    };
    const std::vector<Case> cases = {
        {"vorbis.mp3", lavfi + "-c:a libvorbis -f ogg %s", Expect::Media},
        {"flac.wav", lavfi + "-f flac %s", Expect::Media},
        {"aiff.wav", "sox -n -t aiff %s synth 0.3 sine 440", Expect::Media},
        {"layer2.mp3", lavfi + "-c:a mp2 -f mp2 %s", Expect::Media},
        {"mulaw.wav", lavfi + "-c:a pcm_mulaw %s", Expect::Media},
        {"ms-adpcm.wav", lavfi + "-c:a adpcm_ms %s", Expect::Media},
        {"mp3-in.wav", lavfi + "-c:a libmp3lame %s", Expect::Mp3},
        {"mp3-named.wav", lavfi + "-c:a libmp3lame -f mp3 %s", Expect::Mp3},
        {"wave-named.mp3", "sox -n -t wav %s synth 0.3 sine 440", Expect::Wav},
        {"float-named.ogg", "sox -n -t wav -e floating-point -b 32 %s synth 0.3 sine 440",
         Expect::Wav},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir.Path() / c.name).string();
        std::string make = c.make;
        make.replace(make.find("%s"), 2, path);
        ASSERT_TRUE(Shell(make));
        const auto source = CreateSourceFor(tunara::testing::TestEngine(), path);
        EXPECT_EQ(KindOf(source.get()), c.expect);
        EXPECT_EQ(NeedsMediaToolbox(path), c.expect == Expect::Media);
    }
}

// Content that says nothing, and names that cannot be read, keep the
// extension's choice (whose reader then says what is wrong).
TEST(SourceFactory, UnknownContentFollowsTheName) {
    test::TempDir dir;
    for (const auto& [name, expect] : std::vector<std::pair<std::string, Expect>>{
             {"text.wav", Expect::Wav}, {"text.mp3", Expect::Mp3}, {"text.ogg", Expect::Media}}) {
        const std::string path = dir.Write(name, test::Bytes{'h', 'i', '\n'});
        EXPECT_EQ(KindOf(CreateSourceFor(tunara::testing::TestEngine(), path).get()), expect)
            << name;
    }
    EXPECT_EQ(
        KindOf(CreateSourceFor(tunara::testing::TestEngine(), (dir.Path() / "gone.mp3").string())
                   .get()),
        Expect::Mp3);
    EXPECT_EQ(
        KindOf(CreateSourceFor(tunara::testing::TestEngine(), "http://example.invalid/stream.mp3")
                   .get()),
        Expect::Mp3);
}

}  // namespace
}  // namespace tunara
