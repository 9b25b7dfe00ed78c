// Mp3Source over arbitrary files: list, open, read, seek, rewind, close, each
// step bounded, as the player would drive it.
#include <algorithm>
#include <vector>

#include "ScratchFile.h"
#include "engine/testing/EngineTesting.h"
#include "platform/ui/UserInteraction.h"
#include "sources/Mp3Source.h"
#include "sources/testing/Mp3SourceProbe.h"

namespace {

class Silent : public tunara::UserInteraction {
public:
    void ShowError(const tunara::UserMessage&) override {}
    tunara::Answer Ask(const std::string&, bool) override { return tunara::Answer::Cancel; }
};

class Source : public tunara::Mp3Source {
public:
    Source() : Mp3Source(tunara::testing::TestEngine()) {}
    void SetState(tunara::PlayState s) { state_ = s; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Silent silent;
    static const bool installed =
        (tunara::SetUiThread(), tunara::SetUserInteraction(&silent), true);
    (void)installed;
    if (size > 256 * 1024) return 0;
    const std::string& path = tunara::fuzz::Scratch().Hold(data, size);
    Source s;
    s.SetLocation(path);
    if (!s.LoadInfo() || !s.OpenStream()) return 0;
    std::vector<int16_t> buffer(1024 * 2);
    for (int i = 0; i < 64 && s.ReadFrames(buffer.data(), 1024) > 0; ++i) {
    }
    const uint32_t end = uint32_t(tunara::testing::Mp3SourceProbe::FrameIndex(s).size()) *
                         uint32_t(tunara::testing::Mp3SourceProbe::FrameSamples(s));
    for (uint32_t target : {end / 3, end, 0xFFFFFFFFu, 0u}) {
        if (s.SeekFrame(target) > std::max(target, end)) __builtin_trap();
        s.ReadFrames(buffer.data(), 1024);
    }
    s.SeekFrame(end / 2);
    s.SetState(tunara::PlayState::Rewind);
    for (int i = 0; i < 512 && s.ReadFrames(buffer.data(), 1024) > 0; ++i) {
    }
    s.SetState(tunara::PlayState::Stopped);
    s.CloseStream();
    tunara::UiQueue().Deliver();
    return 0;
}
