// The KVMC path of `tunara-cli encode`: a WAV file into a QuickTime movie with a KVMC sound
// track, through the same steps as the recording worker (stream values, the record's
// parameters, a five-packet window, four packets of flush after the last samples).
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/EncodeKvmc.h"
#include "kvmc/kvmc.h"
#include "platform/movie/MovieWriter.h"
#include "sources/PcmWaveStream.h"

namespace tunara::cli {

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) {
    gStop = 1;
}

bool EndsWithMov(const std::string& s) {
    if (s.size() < 4) return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return tail == ".mov";
}

struct WaveCloser {
    PcmWaveStream* stream = nullptr;
    ~WaveCloser() {
        if (stream) pcmWaveClose(stream);
    }
};

struct EncoderCloser {
    KvmcHandle handle = nullptr;
    ~EncoderCloser() { kvmcClose(&handle); }
};

int Usage() {
    std::fprintf(stderr, "usage: tunara-cli encode IN.wav OUT.mov --kvmc [--bitrate KBPS]\n");
    return 2;
}

}  // namespace

bool WantsKvmc(const std::vector<std::string>& args) {
    for (const auto& a : args)
        if (a == "--kvmc") return true;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--bitrate") {
            ++i;
            continue;
        }
        if (args[i].rfind("--", 0) != 0) files.push_back(args[i]);
    }
    return files.size() == 2 && EndsWithMov(files[1]);
}

int RunEncodeKvmc(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    int kbps = 128;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--kvmc") continue;
        if (args[i] == "--bitrate") {
            if (i + 1 >= args.size()) return Usage();
            char* end = nullptr;
            const long v = std::strtol(args[++i].c_str(), &end, 10);
            if (!end || *end || v < 8 || v > 2000) {
                std::fprintf(stderr, "bit rate must be 8..2000 kbit/s: %s\n", args[i].c_str());
                return 2;
            }
            kbps = int(v);
            continue;
        }
        if (args[i].rfind("--", 0) == 0) return Usage();
        files.push_back(args[i]);
    }
    if (files.size() != 2) return Usage();
    const std::string& in = files[0];
    const std::string& out = files[1];

    WaveCloser wav;
    PcmWaveFormat format;
    if (pcmWaveOpen(&wav.stream, in.c_str(), &format, nullptr, nullptr) != kPcmWaveOk) {
        std::fprintf(stderr, "%s is not a valid WAVE file.\n", in.c_str());
        return 1;
    }
    if (format.bitsPerSample != 16) {
        std::fprintf(stderr, "%s: KVMC takes 16-bit PCM, this file has %d bits per sample\n",
                     in.c_str(), format.bitsPerSample);
        return 1;
    }

    // Stream values and parameters, as the recording job makes them.
    KvmcStreamInfo info{1, format.channels, format.sampleRate, kbps * 1000, 0, 0, 0};
    if (kvmcStreamValues(&info) != kKvmcOk) {
        std::fprintf(stderr, "%s: %d channels at %d Hz cannot be coded as KVMC\n", in.c_str(),
                     format.channels, format.sampleRate);
        return 1;
    }
    const KvmcParams params = kvmcRecordParams(info.bitRate);
    const int32_t H = info.samplesPerPacket, P = info.bytesPerPacket, ch = info.channels;

    movie::SoundDescription description;
    description.dataFormat = movie::FourCc("KVM2");
    description.channels = uint16_t(ch);
    description.sampleSize = 16;
    description.sampleRateFixed = uint32_t(info.sampleRate) << 16;
    description.samplesPerPacket = uint32_t(H);
    description.bytesPerPacket = uint32_t(P / 2);
    description.bytesPerFrame = uint32_t(P);
    description.bytesPerSample = 2;
    description.waveExtension.resize(kKvmcExtensionBytes);
    kvmcWriteExtension(&info, &params, description.waveExtension.data());

    movie::MovieWriter movie;
    auto check = [&](movie::MovieStatus s) {
        if (s == movie::MovieStatus::kOk) return true;
        std::fprintf(stderr, "%s: %s\n", out.c_str(), movie::MovieStatusText(s));
        return false;
    };
    if (!check(movie.Create(out)) || !check(movie.AddTrack(0, 0, 256)) ||
        !check(movie.AddMedia(movie::FourCc("soun"), info.sampleRate)) ||
        !check(movie.SetSoundDescription(description)))
        return 1;

    EncoderCloser encoder;
    int32_t rc = kvmcOpen(&encoder.handle);
    if (rc == kKvmcOk) rc = kvmcConfigure(encoder.handle, &info, &params);
    if (rc != kKvmcOk) {
        std::fprintf(stderr, "KVMC encoder: %s (%d kbit/s, %d Hz, %d channels)\n",
                     kvmcStatusText(rc), kbps, info.sampleRate, ch);
        return 1;
    }
    if (!check(movie.BeginMediaEdits())) return 1;

    const size_t hopBytes = size_t(2 * H * ch);
    std::vector<int16_t> window(size_t(5 * H * ch), 0);
    std::vector<uint8_t> packet(static_cast<size_t>(P), 0);
    auto* bytes = reinterpret_cast<uint8_t*>(window.data());
    for (int slot = 0; slot < 4; ++slot) {
        uint32_t length = uint32_t(hopBytes);
        if (pcmWaveRead(bytes + slot * hopBytes, &length, wav.stream) < 0) {
            std::fprintf(stderr, "%s: read error\n", in.c_str());
            return 1;
        }
    }

    gStop = 0;
    auto previousInt = std::signal(SIGINT, OnSignal);
    auto previousTerm = std::signal(SIGTERM, OnSignal);
    const double totalFrames = double(wav.stream->dataBytes) / double(2 * ch);
    int countdown = 4;
    int64_t position = 0;
    int lastPercent = -1;
    bool failed = false;
    while (!gStop) {
        uint32_t length = uint32_t(hopBytes);
        const int status = pcmWaveRead(bytes + 4 * hopBytes, &length, wav.stream);
        if (status < 0) {
            std::fprintf(stderr, "\n%s: read error\n", in.c_str());
            failed = true;
            break;
        }
        // The flush starts with the first hop that holds no data at all, so a last partial hop
        // still gets its own packet.
        if (status == kPcmWaveEnd && length == 0) --countdown;
        if (kvmcEncodePacket(encoder.handle, int32_t(window.size() * 2), window.data(), P,
                             packet.data()) != kKvmcOk ||
            !check(movie.AddMediaSample(packet.data(), uint32_t(P), 1, H, 0))) {
            failed = true;
            break;
        }
        std::copy(window.begin() + H * ch, window.end(), window.begin());
        std::fill(window.end() - H * ch, window.end(), 0);
        position += H;
        const int64_t encodedMs = position * 1000 / info.sampleRate;
        const int percent =
            totalFrames > 0 ? int(std::min(100.0, 100.0 * double(position) / totalFrames)) : 100;
        if (percent != lastPercent) {
            std::fprintf(stderr, "\rencoding %3d%%  %lld.%03lld s", percent,
                         (long long)(encodedMs / 1000), (long long)(encodedMs % 1000));
            lastPercent = percent;
        }
        if (countdown == 0) break;
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    std::fprintf(stderr, "\n");
    if (gStop) {
        movie.Discard();
        std::fprintf(stderr, "interrupted; %s not written\n", out.c_str());
        return 130;
    }
    if (failed) {
        movie.Discard();
        return 1;
    }
    if (!check(movie.EndMediaEdits()) ||
        !check(movie.InsertMediaIntoTrack(
            0, 0, std::min<int64_t>(movie.MediaDuration(), int64_t(totalFrames)), 0x10000)) ||
        !check(movie.AddMovieResource()) || !check(movie.Close()))
        return 1;
    std::fprintf(stderr, "%s: %lld packets of %d bytes, KVMC %d kbit/s\n", out.c_str(),
                 (long long)movie.SampleCount(), P, kbps);
    return 0;
}

}  // namespace tunara::cli
