// Cue sheets and cdrdao tables as a disc image: our sheet check and libcdio
// read them, our checks decide what the CD device and CdDisc believe. Every
// answer must be a sound table of contents or a refusal, never a crash or a
// hang; the texts reaching the tracks are clean UTF-8.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "engine/testing/EngineTesting.h"
#include "metadata/TextCodec.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"
#include "sources/CdDisc.h"

using tunara::fuzz::Check;
using tunara::fuzz::CleanText;

namespace {

// A folder with a 4-second .bin that cue sheets may name as "disc.bin".
struct Folder {
    Folder() {
        char name[] = "/tmp/tunara-fuzz-cue-XXXXXX";
        if (!::mkdtemp(name)) std::abort();
        path = name;
        std::ofstream bin(path + "/disc.bin", std::ios::binary);
        std::vector<char> sectors(300 * 2352, 1);
        bin.write(sectors.data(), static_cast<std::streamsize>(sectors.size()));
        cue = path + "/disc.cue";
        toc = path + "/disc.toc";
        // libcdio opens a table's data files from the current folder.
        if (::chdir(path.c_str()) != 0) std::abort();
    }
    ~Folder() {
        ::unlink(cue.c_str());
        ::unlink(toc.c_str());
        ::unlink((path + "/disc.bin").c_str());
        ::rmdir(path.c_str());
    }
    std::string path, cue, toc;
};

// Error boxes are expected for broken sheets; keep none of them.
class Silent : public tunara::UserInteraction {
public:
    void ShowError(const tunara::UserMessage&) override {}
    tunara::Answer Ask(const std::string&, bool) override { return tunara::Answer::Cancel; }
};

}  // namespace

// libcdio's cue parser loses a few strings on some refused sheets; that is
// its own leak, not ours, and must not hide ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcdio.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace cd = tunara::cdaudio;
    static Folder folder;
    static Silent silent;
    tunara::SetUserInteraction(&silent);
    // Tables start with their disc kind or a track; everything else is a cue sheet.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string& image =
        text.rfind("CD_", 0) == 0 || text.rfind("TRACK", 0) == 0 ? folder.toc : folder.cue;
    std::ofstream(image, std::ios::binary | std::ios::trunc) << text;

    cd::DeviceId id = 0;
    Check(cd::Open(image, id) == cd::kOk);
    int count = 0;
    if (cd::StatusNumberOfTracks(id, count) == cd::kOk) {
        Check(count >= 1 && count <= 99);
        cd::SetTimeFormat(id, cd::TimeFormat::Msf);
        uint32_t previous = 0;
        for (int t = 1; t <= count; ++t) {
            uint32_t msf = 0, length = 0;
            Check(cd::StatusTrackPosition(id, t, msf) == cd::kOk);
            Check(cd::StatusTrackLength(id, t, length) == cd::kOk);
            uint32_t frames =
                cd::MsfMinutes(msf) * 4500 + cd::MsfSeconds(msf) * 75 + cd::MsfFrames(msf);
            Check(frames > previous || t == 1);
            Check(length != 0);
            previous = frames;
        }
        std::string identity;
        Check(cd::InfoMediaIdentity(id, identity) == cd::kOk && !identity.empty());
    }
    cd::Close(id);

    tunara::CdDisc disc(tunara::testing::TestEngine(), image);
    disc.ReadToc();
    Check(static_cast<int>(disc.TrackOffsets().size()) == disc.TrackCount());
    Check(disc.Count() <= disc.TrackCount());
    if (disc.TrackCount() > 0) {
        Check((disc.DiscId() & 0xff) == static_cast<uint32_t>(disc.TrackCount()));
        Check(disc.DiscLength() >= 0);
    }
    // The sheet's CD-Text reaches the tracks as clean UTF-8.
    for (int i = 0; i < disc.Count(); ++i) {
        for (const std::string& s :
             {disc.ItemAt(i)->GetTitle(), disc.ItemAt(i)->GetArtist(), disc.ItemAt(i)->GetAlbum()})
            Check(tunara::text::IsValidUtf8(s) && tunara::text::DropControls(s) == s);
    }
    tunara::SetUserInteraction(nullptr);
    return 0;
}
