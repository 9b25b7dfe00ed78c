// tunara-cli decode IN OUT: decodes a file through the same source the player uses. OUT ending
// in ".wav" gets a 16-bit WAV file at the source's rate; any other OUT ("-" for standard output)
// gets the raw 16-bit little-endian samples. MP3 junk, tags and the encoder's summary frame are
// skipped and its delay and padding trimmed, as in playback; damage is dealt with as in playback.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "app/cli/DecodeKvmc.h"
#include "app/services/AppServices.h"
#include "engine/PcmStream.h"
#include "platform/io/OpenRegular.h"
#include "platform/io/WavHeader.h"
#include "platform/ui/UserInteraction.h"
#include "sources/Mp3Source.h"
#include "sources/SourceFactory.h"

namespace {

using namespace tunara;

void WriteWavHeader(FILE* f, int32_t channels, int32_t rate, uint64_t dataBytes) {
    uint8_t h[io::kWavHeaderBytes];
    io::MakeWavHeader({uint16_t(channels), uint32_t(rate), 16}, dataBytes, h);
    std::fwrite(h, 1, sizeof h, f);
}

bool EndsWith(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        const char a = s[s.size() - tail.size() + i];
        if ((a >= 'A' && a <= 'Z' ? char(a + 32) : a) != tail[i]) return false;
    }
    return true;
}

// Whether writing OUT would overwrite IN (the same file under any name).
bool SameFile(const std::string& in, const std::string& out) {
    struct stat a, b;
    return ::stat(in.c_str(), &a) == 0 && ::stat(out.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// `count` samples of `bits` (8 unsigned, 16, 24, 32) to 16-bit.
void To16(const uint8_t* in, int bits, size_t count, int16_t* out) {
    const int bytes = bits / 8;
    for (size_t i = 0; i < count; ++i, in += bytes) {
        if (bytes == 1)
            out[i] = int16_t((in[0] - 128) * 256);
        else
            out[i] = int16_t(uint16_t(in[bytes - 2] | in[bytes - 1] << 8));
    }
}

constexpr const char* kHelp =
    "Decodes IN (MP3, WAV, KVMC movie) to OUT: a 16-bit WAV file when OUT ends in .wav,\n"
    "else raw 16-bit little-endian samples; OUT \"-\" writes raw samples to standard output.\n"
    "The encoder's delay and padding are trimmed (gapless).\n";

int Decode(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tunara-cli decode IN OUT\n%s", kHelp);
        return 2;
    }
    const std::string& in = args[0];
    const std::string& outName = args[1];
    // A FIFO or device would be opened more than once on the way, and read to no end.
    if (io::IsLocalNonRegularFile(in)) {
        std::fprintf(stderr, "%s: not a regular file\n", in.c_str());
        return 1;
    }
    const bool toStdout = outName == "-";
    if (!toStdout && SameFile(in, outName)) {
        std::fprintf(stderr, "%s: the output is the input file\n", outName.c_str());
        return 2;
    }
    if (EndsWith(in, ".mov")) return cli::DecodeKvmcMovie(in, outName);

    app::AppServices services(nullptr);  // messages go to standard error
    const bool media = NeedsMediaToolbox(in);
    if (media) services.StartMedia();
    std::unique_ptr<MediaSource> source = services.Sources().Create(in);
    PcmStream* pcm = source ? source->Pcm() : nullptr;
    if (!source) return 1;
    source->SetLocation(in);
    if (!source->LoadInfo()) {
        if (!cli::PrintError(*source)) std::fprintf(stderr, "%s: cannot be decoded\n", in.c_str());
        return 1;
    }
    if (!pcm) {
        const std::string format = source->GetFormatName();
        std::fprintf(stderr,
                     "%s: %s plays only through the media toolbox, which hands out no samples; "
                     "decode takes MP3, WAV and KVMC movies\n",
                     in.c_str(), format.empty() ? "this format" : format.c_str());
        return 1;
    }
    if (!pcm->OpenStream()) {
        cli::PrintError(*source);
        return 1;
    }
    const PcmStreamFormat format = pcm->StreamFormat();
    const int32_t rate = format.sampleRate;
    const int32_t channels = format.channels;
    const int32_t bits = format.bitsPerSample;

    FILE* out = toStdout ? stdout : std::fopen(outName.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", outName.c_str());
        pcm->CloseStream();
        return 1;
    }
    static char outBuffer[1 << 16];
    std::setvbuf(out, outBuffer, _IOFBF, sizeof outBuffer);
    const bool wav = !toStdout && EndsWith(outName, ".wav");
    if (wav) WriteWavHeader(out, channels, rate, 0);  // rewritten once the length is known

    constexpr int kFrames = 4096;
    std::vector<uint8_t> block(size_t(kFrames) * size_t(channels) * 4);
    std::vector<int16_t> samples(size_t(kFrames) * size_t(channels));
    uint64_t dataBytes = 0;
    int64_t written = 0;  // frames
    int exitCode = 0;
    bool damaged = false;
    for (;;) {
        const int n = pcm->ReadFrames(block.data(), kFrames);
        if (cli::PrintError(*source)) damaged = true;
        if (n <= 0) {
            // A stream joined on at another rate ends its part here; the
            // format checks below name the change.
            auto* mp3 = dynamic_cast<Mp3Source*>(pcm);
            if (n == 0 && mp3 && mp3->NextPart()) continue;
            break;
        }
        // One WAV file holds one format; a change is not dropped silently.
        if (pcm->StreamFormat().sampleRate != rate) {
            std::fprintf(stderr, "%s: the sample rate changes at sample %lld (%d Hz to %d Hz)\n",
                         in.c_str(), static_cast<long long>(written), rate,
                         pcm->StreamFormat().sampleRate);
            exitCode = 1;
            break;
        }
        if (pcm->StreamFormat().channels != channels) {
            std::fprintf(stderr, "%s: the channel count changes at sample %lld\n", in.c_str(),
                         static_cast<long long>(written));
            exitCode = 1;
            break;
        }
        const size_t count = size_t(n) * size_t(channels);
        To16(block.data(), bits, count, samples.data());
        if (std::fwrite(samples.data(), sizeof(int16_t), count, out) != count) {
            std::fprintf(stderr, "write failed: %s\n", outName.c_str());
            exitCode = 1;
            break;
        }
        dataBytes += count * sizeof(int16_t);
        written += n;
    }
    pcm->CloseStream();
    // The source told of an error that ended its data early: the output is short.
    if (cli::PrintError(*source) || damaged) exitCode = 1;
    if (wav && std::fseek(out, 0, SEEK_SET) == 0) WriteWavHeader(out, channels, rate, dataBytes);
    if (toStdout ? std::fflush(out) != 0 : std::fclose(out) != 0) exitCode = 1;
    return exitCode;
}

cli::Registration reg({"decode", "decode IN.mp3|IN.wav|IN.mov OUT(.wav|.pcm|-)", &Decode, kHelp});

}  // namespace
