// tunara-cli decode IN.mov OUT: the KVMC sound track of a movie to a 16-bit WAV file, raw
// samples, or standard output.
#include <cstdio>
#include <vector>

#include "app/cli/DecodeKvmc.h"
#include "kvmc/KvmcDecoder.h"
#include "platform/io/WavHeader.h"
#include "platform/movie/MovieReader.h"
#include "platform/movie/MovieWriter.h"

namespace tunara::cli {

int DecodeKvmcMovie(const std::string& in, const std::string& out) {
    movie::MovieReader reader;
    const movie::MovieReadStatus st = reader.Open(in);
    if (st != movie::MovieReadStatus::kOk) {
        std::fprintf(stderr, "%s: %s\n", in.c_str(), movie::MovieReadStatusText(st));
        return 1;
    }
    const movie::SoundTrackInfo& s = reader.Sound();
    KvmcStreamInfo info{};
    KvmcParams params{};
    if (s.dataFormat != movie::FourCc("KVM2") ||
        kvmcReadExtension(s.waveExtension.data(), int32_t(s.waveExtension.size()), &info,
                          &params) != kKvmcOk) {
        std::fprintf(stderr, "%s: the sound track is not KVMC 2\n", in.c_str());
        return 1;
    }
    KvmcDecHandle dec = nullptr;
    int32_t rc = kvmcDecOpen(&dec);
    if (rc == kKvmcOk) rc = kvmcDecConfigure(dec, &info, &params);
    if (rc != kKvmcOk) {
        std::fprintf(stderr, "%s: KVMC stream refused (%d)\n", in.c_str(), rc);
        kvmcDecClose(&dec);
        return 1;
    }
    const int32_t H = info.samplesPerPacket, ch = info.channels;
    // The track plays what its edit list says: the source's length; the flush packets beyond
    // it are cut.
    uint64_t frames = uint64_t(reader.SampleCount()) * uint64_t(H);
    if (s.playDuration >= 0 && s.mediaTimeScale == info.sampleRate)
        frames = std::min<uint64_t>(frames, uint64_t(s.playDuration));
    // Same OUT rules as the MP3 path: "-" is standard output, only a .wav name gets a header.
    const bool toStdout = out == "-";
    const bool wav = !toStdout && out.size() >= 4 && out.compare(out.size() - 4, 4, ".wav") == 0;
    FILE* f = toStdout ? stdout : std::fopen(out.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        kvmcDecClose(&dec);
        return 1;
    }
    bool ok = true;
    if (wav) {
        uint8_t header[io::kWavHeaderBytes];
        io::MakeWavHeader({uint16_t(ch), uint32_t(info.sampleRate), 16}, frames * 2 * ch, header);
        ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
    }
    std::vector<uint8_t> packet;
    std::vector<int16_t> pcm(size_t(H * ch));
    uint64_t done = 0;
    int damaged = 0;
    for (size_t i = 0; ok && i < reader.SampleCount() && done < frames; ++i) {
        if (!reader.ReadSample(i, packet)) {
            std::fprintf(stderr, "%s: read error\n", in.c_str());
            ok = false;
            break;
        }
        rc = kvmcDecDecodePacket(dec, int32_t(packet.size()), packet.data(),
                                 int32_t(pcm.size() * 2), pcm.data());
        if (rc == kKvmcDamagedPacket || rc == kKvmcBadArgument) {
            ++damaged;
            std::fill(pcm.begin(), pcm.end(), 0);
        }
        const uint64_t take = std::min<uint64_t>(uint64_t(H), frames - done);
        ok = std::fwrite(pcm.data(), 2 * size_t(ch), size_t(take), f) == take;
        done += take;
    }
    ok = (toStdout ? std::fflush(f) : std::fclose(f)) == 0 && ok;
    kvmcDecClose(&dec);
    if (!ok) {
        std::fprintf(stderr, "write failed: %s\n", out.c_str());
        return 1;
    }
    std::fprintf(stderr, "%s: %llu frames, %d Hz, %d channels, KVMC %d kbit/s%s\n", out.c_str(),
                 (unsigned long long)done, info.sampleRate, ch, info.bitRate / 1000,
                 damaged ? " (damaged packets played as silence)" : "");
    return 0;
}

}  // namespace tunara::cli
