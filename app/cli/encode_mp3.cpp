// tunara-cli encode IN.wav OUT.mp3 [--fast] [--bitrate KBPS]: codes a WAV file (8 or 16 bit,
// one or two channels, 16 to 48 kHz) into an MP3 file with our encoder. Two channels become
// joint stereo (mid/side), one channel a single-channel stream. A progress bar with the
// speed goes to standard error when it is a terminal. An interrupted (Ctrl+C) or failed run
// leaves no output file behind.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "mp3enc/mp3enc.h"
#include "mp3enc/mp3enctail.h"
#include "mpeg/Header.h"
#include "sources/PcmWaveStream.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

int32_t WriteToFile(const uint8_t* bytes, int32_t* count, void* user) {
    auto* f = static_cast<FILE*>(user);
    *count = int32_t(std::fwrite(bytes, 1, size_t(*count), f));
    return 0;
}

bool StreamParameters(int rate, int kbps, int* id, int* rateIndex, int* bitrateIndex) {
    static const int kRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    for (int i = 0; i < 2; ++i)
        for (int r = 0; r < 3; ++r)
            if (kRates[i][r] == rate) {
                *id = i;
                *rateIndex = r;
            }
    if (*id < 0) return false;
    for (int b = 1; b <= 14; ++b)
        if (mpeg::Bitrate(*id, b) == kbps * 1000) {
            *bitrateIndex = b;
            return true;
        }
    return false;
}

void ShowProgress(double fraction, double audioSeconds, double wallSeconds) {
    const int width = 30;
    const int filled = int(fraction * width + 0.5);
    char bar[width + 1];
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    const double speed = wallSeconds > 0 ? audioSeconds / wallSeconds : 0;
    std::fprintf(stderr, "\r[%s] %3d%%  %.1fx", bar, int(fraction * 100 + 0.5), speed);
    std::fflush(stderr);
}

int Fail(const char* message, const std::string& detail, FILE* out, const std::string& outPath) {
    std::fprintf(stderr, "encode: %s%s%s\n", message, detail.empty() ? "" : ": ", detail.c_str());
    if (out) {
        std::fclose(out);
        std::remove(outPath.c_str());
    }
    return 1;
}

int Run(const std::vector<std::string>& args) {
    std::string in, outPath;
    bool fast = false;
    int kbps = 128;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--fast") {
            fast = true;
        } else if (args[i] == "--bitrate") {
            // A missing or mistyped number must not end up as the output path or as 0 kbit/s.
            const std::string number = i + 1 < args.size() ? args[++i] : std::string();
            if (number.empty() || number.size() > 4 ||
                number.find_first_not_of("0123456789") != std::string::npos) {
                std::fprintf(stderr, "encode: --bitrate takes kbit/s, e.g. 128\n");
                return 2;
            }
            kbps = std::stoi(number);
        } else if (args[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "encode: unknown option %s\n", args[i].c_str());
            return 2;
        } else if (in.empty()) {
            in = args[i];
        } else if (outPath.empty()) {
            outPath = args[i];
        } else {
            std::fprintf(stderr,
                         "usage: tunara-cli encode IN.wav OUT.mp3 [--fast] [--bitrate KBPS]\n");
            return 2;
        }
    }
    if (in.empty() || outPath.empty()) {
        std::fprintf(stderr, "usage: tunara-cli encode IN.wav OUT.mp3 [--fast] [--bitrate KBPS]\n");
        return 2;
    }

    tunara::PcmWaveStream* wav = nullptr;
    tunara::PcmWaveFormat format;
    int status = tunara::pcmWaveOpen(&wav, in.c_str(), &format, nullptr, nullptr);
    if (status != tunara::kPcmWaveOk)
        return Fail("cannot read the WAV file", in + " (" + tunara::pcmWaveStatusText(status) + ")",
                    nullptr, outPath);
    struct WavCloser {
        tunara::PcmWaveStream* w;
        ~WavCloser() { tunara::pcmWaveClose(w); }
    } closer{wav};
    if (format.channels < 1 || format.channels > 2)
        return Fail("only one or two channels can be coded", "", nullptr, outPath);
    int id = -1, rateIndex = 0, bitrateIndex = 0;
    if (!StreamParameters(format.sampleRate, kbps, &id, &rateIndex, &bitrateIndex)) {
        if (id < 0)
            return Fail("sampling rate not supported (16000, 22050, 24000, 32000, 44100, 48000 Hz)",
                        std::to_string(format.sampleRate), nullptr, outPath);
        return Fail("bit rate not available at this sampling rate", std::to_string(kbps), nullptr,
                    outPath);
    }

    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out) return Fail("cannot create", outPath, nullptr, outPath);

    const uint32_t mode = format.channels == 1 ? 3 : 1;
    const MpegHeaderWord header = mpeg::PackHeaderWord(
        0, uint32_t(id), 1, 1, uint32_t(bitrateIndex), uint32_t(rateIndex), 0, 0, mode, 0, 0, 1, 0);
    uint8_t options[kMp3EncOptionBytes] = {};
    options[0] = format.bitsPerSample == 16 ? 1 : 0;
    options[4] = format.channels == 1 ? 0x40 : 0x80;
    int32_t samplesPerFrame = 0;
    Mp3EncHandle enc = nullptr;
    status = mp3EncOpen(WriteToFile, out, header, options, &samplesPerFrame, fast ? 1 : 0, &enc);
    if (status != kMp3EncOk)
        return Fail("cannot open the encoder", mp3EncStatusText(status), out, outPath);

    g_interrupted = 0;
    struct sigaction action {
    }, previous{};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, &previous);
    struct Restore {
        struct sigaction* p;
        ~Restore() { sigaction(SIGINT, p, nullptr); }
    } restore{&previous};

    const bool tty = ::isatty(STDERR_FILENO) != 0;
    const int bytesPerSample = format.bitsPerSample / 8;
    const uint32_t frameBytes = uint32_t(samplesPerFrame * format.channels * bytesPerSample);
    std::vector<uint8_t> raw(frameBytes);
    std::vector<int16_t> pcm(size_t(samplesPerFrame) * format.channels);
    const auto start = std::chrono::steady_clock::now();
    auto lastShown = start;
    uint64_t done = 0;
    const double totalBytes = wav->dataBytes ? double(wav->dataBytes) : 1.0;
    for (;;) {
        if (g_interrupted) break;
        uint32_t length = frameBytes;
        const int rs = tunara::pcmWaveRead(raw.data(), &length, wav);
        if (rs != tunara::kPcmWaveOk && rs != tunara::kPcmWaveEnd) {
            mp3EncClose(&enc);
            return Fail("cannot read the WAV data", in, out, outPath);
        }
        if (rs == tunara::kPcmWaveEnd && length == 0) break;
        if (bytesPerSample == 2)
            for (size_t i = 0; i < pcm.size(); ++i)
                pcm[i] = int16_t(uint16_t(raw[2 * i] | raw[2 * i + 1] << 8));
        else
            for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t((raw[i] - 128) * 256);
        const Mp3PcmBlock block{format.channels, samplesPerFrame, pcm.data()};
        const int32_t es = mp3EncEncodeFrame(nullptr, &block, nullptr, enc);
        if (es != kMp3EncOk) {
            mp3EncClose(&enc);
            return Fail("encoding failed", mp3EncStatusText(es), out, outPath);
        }
        done += length;
        if (tty) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastShown > std::chrono::milliseconds(100) || rs == tunara::kPcmWaveEnd) {
                lastShown = now;
                const double wall = std::chrono::duration<double>(now - start).count();
                const double audio =
                    double(done) / (format.channels * bytesPerSample) / format.sampleRate;
                ShowProgress(double(done) / totalBytes, audio, wall);
            }
        }
        if (rs == tunara::kPcmWaveEnd) break;
    }
    if (g_interrupted) {
        mp3EncClose(&enc);
        if (tty) std::fputc('\n', stderr);
        return Fail("interrupted; output removed", "", out, outPath) == 1 ? 130 : 130;
    }
    // Silence after the last block brings the input's last samples past the encoder's delay.
    const uint64_t samples = done / uint64_t(format.channels * bytesPerSample);
    status = mp3EncEncodeTail(nullptr, format.channels, samplesPerFrame, int64_t(samples), enc);
    if (status != kMp3EncOk) {
        mp3EncClose(&enc);
        return Fail("encoding failed", mp3EncStatusText(status), out, outPath);
    }
    status = mp3EncClose(&enc);
    if (status != kMp3EncOk) return Fail("writing failed", mp3EncStatusText(status), out, outPath);
    const bool closed = std::fclose(out) == 0;
    if (!closed) {
        std::remove(outPath.c_str());
        std::fprintf(stderr, "encode: writing failed: %s\n", outPath.c_str());
        return 1;
    }
    if (tty) std::fputc('\n', stderr);
    return 0;
}

}  // namespace

namespace tunara::cli {
int RunEncodeMp3(const std::vector<std::string>& args) {
    return Run(args);
}
}  // namespace tunara::cli
