// Encoding speed and quality against Debian's lame, in one run on the same 5-minute 44.1 kHz
// stereo music-like signal (made once and cached in /tmp): our fast mode against
// `lame -f -b 128`, our high quality against `lame -b 128` (its default quality). Times are
// processor time (user + system; the machine is shared, so wall time says little), the best
// of three runs, file reading and writing included on both sides. Quality: SNR and
// a noise-to-mask ratio of the mpg123-decoded output against the input.
//
// Noise-to-mask ratio (ours, simple and fixed): 1024-sample Hann blocks; per Bark band the
// energy of the coding error against a mask made of the input's band energies spread by
// 27 dB per Bark toward lower bands and 12 dB per Bark toward higher ones, lowered by 12 dB;
// bands whose mask is below a fixed quiet floor are skipped. Reported as 10 log10 of the mean
// noise/mask ratio over blocks, channels and bands: lower is better.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <ctime>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "dsp/dsp.h"
#include "mp3enc/mp3enc.h"
#include "mpeg/Header.h"
#include "platform/io/WavHeader.h"

namespace {

using tunara::bench::ReadFile;

constexpr int kRate = 44100;

// Drifting partials, a bass line, noise, and a click every half second.
void WriteSignal(const std::string& path, double seconds) {
    const uint32_t frames = uint32_t(seconds * kRate);
    std::ofstream f(path, std::ios::binary);
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) f.put(char(v >> (8 * i)));
    };
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({2, kRate, 16}, uint64_t(frames) * 4, header);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    uint32_t noise = 1;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double chord = std::floor(t / 2);  // a new chord every two seconds
        const double base = 110.0 * std::pow(2.0, std::fmod(chord * 5, 12) / 12);
        const uint32_t k = i % (kRate / 2);
        const double click = k < 400 ? std::exp(-double(k) / 60.0) : 0.0;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double r = (int32_t(noise >> 16) - 32768) / 32768.0;
            double v = 0;
            for (int h = 1; h <= 8; ++h)
                v += 0.07 / h *
                     std::sin(2 * M_PI * base * h * (1 + 0.002 * std::sin(0.3 * t)) * t + c * h);
            v += 0.12 * std::sin(2 * M_PI * base / 2 * t);
            v *= 0.75 + 0.25 * std::sin(2 * M_PI * 0.25 * t);
            v += 0.02 * r + 0.5 * click * r;
            const int s = int(std::lrint(std::clamp(v, -1.0, 1.0) * 32767));
            put(uint32_t(uint16_t(int16_t(s))), 2);
        }
    }
}

std::vector<int16_t> WavSamples(const std::vector<uint8_t>& wav) {
    std::vector<int16_t> s((wav.size() - 44) / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
    return s;
}

int32_t Append(const uint8_t* bytes, int32_t* count, void* user) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), bytes, bytes + *count);
    return 0;
}

// Reads the WAV, encodes it, writes the MP3: what the command line tool does.
double ProcessCpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double ChildrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec * 1e-6;
}

double EncodeOurs(const std::string& wavPath, const std::string& mp3Path, int fast) {
    const double start = ProcessCpu();
    const std::vector<int16_t> pcm = WavSamples(ReadFile(wavPath));
    std::vector<uint8_t> out;
    out.reserve(pcm.size() / 10);
    const MpegHeaderWord header = mpeg::PackHeaderWord(0, 1, 1, 1, 9, 0, 0, 0, 1, 0, 0, 1, 0);
    const uint8_t options[kMp3EncOptionBytes] = {1, 0, 0, 0, 0x80, 0, 0};
    int32_t spf = 0;
    Mp3EncHandle h = nullptr;
    if (mp3EncOpen(Append, &out, header, options, &spf, fast, &h) != 0) std::abort();
    std::vector<int16_t> block(size_t(spf) * 2);
    for (size_t at = 0; at < pcm.size(); at += block.size()) {
        std::fill(block.begin(), block.end(), 0);
        std::copy(pcm.begin() + at, pcm.begin() + std::min(pcm.size(), at + block.size()),
                  block.begin());
        const Mp3PcmBlock b{2, spf, block.data()};
        if (mp3EncEncodeFrame(nullptr, &b, nullptr, h) != 0) std::abort();
    }
    mp3EncClose(&h);
    std::ofstream f(mp3Path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    f.close();
    return ProcessCpu() - start;
}

// Runs a command; returns the processor time of its children.
double Run(const std::string& command) {
    const double start = ChildrenCpu();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return ChildrenCpu() - start;
}

std::vector<int16_t> Decode(const std::string& mp3) {
    const std::string raw = mp3 + ".raw";
    Run("mpg123 -q -s " + mp3 + " > " + raw);
    const std::vector<uint8_t> b = ReadFile(raw);
    std::remove(raw.c_str());
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
    return s;
}

int FindDelay(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec) {
    double best = -1;
    int delay = 0;
    const size_t from = 10 * kRate, to = from + 30000;
    for (int d = 0; d < 4000; ++d) {
        double e = 0;
        for (size_t i = from; i < to; ++i) {
            const double x = ref[2 * i] - dec[2 * (i + d)];
            e += x * x;
        }
        if (best < 0 || e < best) {
            best = e;
            delay = d;
        }
    }
    return delay;
}

double Bark(double f) {
    return 13.0 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500.0) * (f / 7500.0));
}

void Quality(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, double* snr,
             double* nmr) {
    const int delay = FindDelay(ref, dec);
    const size_t frames = std::min(ref.size() / 2, dec.size() / 2 - delay) - 2048;
    double sig = 0, err = 0;
    for (size_t i = 2048; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            const double x = ref[2 * i + c], y = dec[2 * (i + delay) + c];
            sig += x * x;
            err += (x - y) * (x - y);
        }
    *snr = 10 * std::log10(sig / err);

    int bandOf[513];
    for (int k = 0; k < 513; ++k) bandOf[k] = std::min(24, int(Bark(k * double(kRate) / 1024)));
    double ratioSum = 0;
    long count = 0;
    alignas(32) float a[1026], b[1026];
    float hann[1024];
    for (int i = 0; i < 1024; ++i)
        hann[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / 1024));
    for (size_t at = 2048; at + 1024 < frames; at += 1024)
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < 1024; ++i) {
                const float x = ref[2 * (at + i) + c], y = dec[2 * (at + i + delay) + c];
                a[i] = x * hann[i];
                b[i] = (x - y) * hann[i];
            }
            dspsRealFft(a, 10, dspFftForward);
            dspsRealFft(b, 10, dspFftForward);
            double es[25] = {}, en[25] = {};
            for (int k = 0; k < 513; ++k) {
                es[bandOf[k]] += double(a[2 * k]) * a[2 * k] + double(a[2 * k + 1]) * a[2 * k + 1];
                en[bandOf[k]] += double(b[2 * k]) * b[2 * k] + double(b[2 * k + 1]) * b[2 * k + 1];
            }
            for (int band = 0; band < 25; ++band) {
                double mask = 0;
                for (int j = 0; j < 25; ++j) {
                    const double dz = band - j;  // masker j, maskee band
                    const double db = dz >= 0 ? -12.0 * dz : 27.0 * dz;
                    mask += es[j] * std::pow(10.0, db / 10);
                }
                mask *= std::pow(10.0, -12.0 / 10);
                if (mask < 1e6) continue;  // quiet floor
                ratioSum += en[band] / mask;
                ++count;
            }
        }
    *nmr = 10 * std::log10(ratioSum / std::max(1L, count));
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 300.0;
    const std::string dir = "/tmp/tunara-bench-mp3enc";
    std::system(("mkdir -p " + dir).c_str());
    const std::string wav = dir + "/music-" + std::to_string(int(seconds)) + "s.wav";
    if (ReadFile(wav).size() < 44) WriteSignal(wav, seconds);
    if (std::system("command -v lame >/dev/null && command -v mpg123 >/dev/null") != 0) {
        std::fprintf(stderr, "lame and mpg123 are needed\n");
        return 1;
    }
    struct Entry {
        const char* name;
        std::string mp3;
        double best = 1e30;
    };
    Entry entries[4] = {{"ours fast", dir + "/ours-fast.mp3"},
                        {"lame -f -b 128", dir + "/lame-f.mp3"},
                        {"ours high quality", dir + "/ours-hq.mp3"},
                        {"lame -b 128", dir + "/lame.mp3"}};
    for (int round = 0; round < 3; ++round) {
        entries[0].best = std::min(entries[0].best, EncodeOurs(wav, entries[0].mp3, 1));
        entries[1].best =
            std::min(entries[1].best, Run("lame --silent -f -b 128 " + wav + " " + entries[1].mp3));
        entries[2].best = std::min(entries[2].best, EncodeOurs(wav, entries[2].mp3, 0));
        entries[3].best =
            std::min(entries[3].best, Run("lame --silent -b 128 " + wav + " " + entries[3].mp3));
    }
    const std::vector<int16_t> ref = WavSamples(ReadFile(wav));
    std::printf("%.0f s of 44.1 kHz stereo, 128 kbit/s, best of 3\n", seconds);
    std::printf("%-20s %9s %10s %9s %9s\n", "encoder", "cpu s", "x realtime", "SNR dB", "NMR dB");
    for (const Entry& e : entries) {
        double snr = 0, nmr = 0;
        Quality(ref, Decode(e.mp3), &snr, &nmr);
        std::printf("%-20s %9.3f %10.1f %9.2f %9.2f\n", e.name, e.best, seconds / e.best, snr, nmr);
    }
    std::printf(
        "time ratio fast / lame -f: %.2f; high quality / lame: %.2f (below 1: we are faster)\n",
        entries[0].best / entries[1].best, entries[2].best / entries[3].best);
    return 0;
}
