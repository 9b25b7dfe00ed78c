// Fuzzes the RIFF chunk reader (in memory), the content sniffing of the source
// factory (the sound-only test of Ogg and ASF headers too), and the two WAVE readers (through a
// temporary file, since they open files by name): float and mixed-down samples and the INFO list
// included; also the AIFF and ASF tag reader.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/testing/EngineTesting.h"
#include "metadata/ContainerTags.h"
#include "platform/ui/UserInteraction.h"
#include "sources/PcmWaveStream.h"
#include "sources/RiffFile.h"
#include "sources/SourceFactory.h"
#include "sources/WavSource.h"

namespace {

using namespace tunara;

class QuietUser : public UserInteraction {
public:
    void ShowError(const UserMessage&) override {}
    Answer Ask(const std::string&, bool) override { return Answer::Cancel; }
};

class FuzzWav : public WavSource {
public:
    FuzzWav() : WavSource(tunara::testing::TestEngine()) {}
    void SetState(PlayState s) { state_ = s; }
};

// Every chunk, nested ones included, read to its end.
void WalkChunks(RiffFile& file, const RiffChunk* parent, int depth) {
    std::vector<uint8_t> buf(4096);
    for (int count = 0; count < 256; ++count) {
        RiffChunk chunk;
        if (file.Descend(chunk, parent, RiffFind::Here) != RiffStatus::Ok) return;
        if ((chunk.id == kRiffId || chunk.id == kListId) && depth < 8) {
            WalkChunks(file, &chunk, depth + 1);
        } else {
            file.Read(buf.data(), std::min<int64_t>(chunk.size, static_cast<int64_t>(buf.size())));
        }
        if (file.Ascend(chunk) != RiffStatus::Ok) return;
    }
}

std::string TempPath() {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/fuzz-riff-" + std::to_string(getpid()) + ".wav";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietUser quiet;
    static const std::string path = TempPath();
    SetUserInteraction(&quiet);

    {
        RiffFile file(MakeRiffMemoryIo(data, size));
        WalkChunks(file, nullptr, 0);
    }

    SniffContent(data, size);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    SniffFile(path);
    IsSoundOnlyMedium(path);
    ContainerTags tags;
    ReadContainerTags(path, tags);

    std::vector<uint8_t> pcm(1024 * 4 * 8);
    {
        FuzzWav wav;
        wav.SetLocation(path);
        if (wav.LoadInfo() && wav.OpenStream()) {
            for (int i = 0; i < 4 && wav.ReadFrames(pcm.data(), 1024) > 0; ++i) {
            }
            wav.SeekFrame(size & 0xFFFF);
            wav.SetState(Rewind);
            for (int i = 0; i < 4 && wav.ReadFrames(pcm.data(), 1024) > 0; ++i) {
            }
            wav.SetState(Stopped);
            wav.SeekFrame(0xFFFFFFFFu);
            wav.ReadFrames(pcm.data(), 1024);
            wav.CloseStream();
        }
    }
    {
        PcmWaveStream* stream = nullptr;
        PcmWaveFormat format;
        const uint8_t* bext = nullptr;
        int32_t bextLength = 0;
        if (pcmWaveOpen(&stream, path.c_str(), &format, &bext, &bextLength) == kPcmWaveOk) {
            for (int i = 0; i < 8; ++i) {
                uint32_t length = 4608;
                if (pcmWaveRead(pcm.data(), &length, stream) != kPcmWaveOk) break;
            }
            pcmWaveClose(stream);
        }
    }
    return 0;
}
