#pragma once
// Shared helpers of the encoder tests: signals, encoding to memory, a frame walker with a
// side-information reader, decoding with our decoder and with the standard tools, SNR.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mp3enc/mp3enc.h"
#include "mp3enc/mp3enctail.h"
#include "mpeg/Header.h"
#include "mpegdec/mpegdec.h"

namespace enctest {

// ---- signals (interleaved 16-bit) ----

inline std::vector<int16_t> Tone(int rate, int channels, double seconds, double hz, double amp) {
    const size_t n = size_t(rate * seconds);
    std::vector<int16_t> s(n * channels);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * channels + c] =
                int16_t(std::lrint(amp * 32767 * std::sin(2 * M_PI * hz * i / rate)));
    return s;
}

inline std::vector<int16_t> Noise(int rate, int channels, double seconds, double amp,
                                  uint32_t seed = 1) {
    const size_t n = size_t(rate * seconds);
    std::vector<int16_t> s(n * channels);
    for (auto& v : s) {
        seed = seed * 1664525u + 1013904223u;
        v = int16_t(std::lrint(amp * (int32_t(seed >> 16) - 32768)));
    }
    return s;
}

// A chord with a slow tremolo, a little noise and a bass line: our "music".
inline std::vector<int16_t> Music(int rate, int channels, double seconds, uint32_t seed = 7) {
    const size_t n = size_t(rate * seconds);
    std::vector<int16_t> s(n * channels);
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        double v = 0.15 * std::sin(2 * M_PI * 220 * t) + 0.1 * std::sin(2 * M_PI * 277.2 * t) +
                   0.08 * std::sin(2 * M_PI * 329.6 * t) + 0.05 * std::sin(2 * M_PI * 1760 * t);
        v *= 0.7 + 0.3 * std::sin(2 * M_PI * 3 * t);
        v += 0.2 * std::sin(2 * M_PI * (55 + 10 * std::sin(2 * M_PI * 0.5 * t)) * t);
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = 0.02 * ((int32_t(seed >> 16) - 32768) / 32768.0);
            const double pan = c == 0 ? 1.0 : 0.8;
            s[i * channels + c] =
                int16_t(std::lrint(32767 * std::clamp(v * pan + noise, -1.0, 1.0)));
        }
    }
    return s;
}

// Castanet-like clicks: silence, then short decaying noise bursts every quarter second.
inline std::vector<int16_t> Clicks(int rate, int channels, double seconds) {
    const size_t n = size_t(rate * seconds);
    std::vector<int16_t> s(n * channels);
    uint32_t seed = 3;
    for (size_t i = 0; i < n; ++i) {
        const size_t period = size_t(rate / 4);
        const size_t k = i % period;
        const double env = (i >= size_t(rate / 2) && k < size_t(rate / 100))
                               ? std::exp(-double(k) / (rate / 1000.0))
                               : 0.0;
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            s[i * channels + c] = int16_t(std::lrint(env * 0.9 * (int32_t(seed >> 16) - 32768)));
        }
    }
    return s;
}

// ---- encoding ----

struct EncodeParams {
    int rate = 44100;
    int channels = 2;
    int kbps = 128;
    bool fast = false;
    int mode = -1;          // -1: joint stereo for two channels, single channel for one
    int padding = 0;        // option byte 6
    bool decimate = false;  // input at twice the rate
    bool tail = false;      // frames of silence after the last block (mp3EncEncodeTail)
};

inline int32_t AppendBytes(const uint8_t* bytes, int32_t* count, void* user) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), bytes, bytes + *count);
    return 0;
}

inline bool StreamIds(int rate, int* id, int* index) {
    const int rates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    for (int i = 0; i < 2; ++i)
        for (int r = 0; r < 3; ++r)
            if (rates[i][r] == rate) {
                *id = i;
                *index = r;
                return true;
            }
    return false;
}

inline MpegHeaderWord HeaderFor(const EncodeParams& p) {
    int id = 1, ri = 0;
    StreamIds(p.rate, &id, &ri);
    int bi = 0;
    for (int b = 1; b <= 14; ++b)
        if (mpeg::Bitrate(id, b) == p.kbps * 1000) bi = b;
    const int mode = p.mode >= 0 ? p.mode : (p.channels == 1 ? 3 : 1);
    return mpeg::PackHeaderWord(0, uint32_t(id), 1, 1, uint32_t(bi), uint32_t(ri), 0, 0,
                                uint32_t(mode), 0, 0, 1, 0);
}

// Encodes the whole signal (the last block padded with zeros).
inline std::vector<uint8_t> Encode(const std::vector<int16_t>& pcm, const EncodeParams& p,
                                   std::vector<MpegHeaderWord>* frameHeaders = nullptr) {
    std::vector<uint8_t> out;
    uint8_t options[kMp3EncOptionBytes] = {1, 0, 0, 0, 0, 0, 0};
    options[4] = p.channels == 1 ? 0x40 : 0x80;
    options[5] = p.decimate ? 1 : 0;
    options[6] = uint8_t(p.padding);
    int32_t spf = 0;
    Mp3EncHandle h = nullptr;
    EXPECT_EQ(mp3EncOpen(AppendBytes, &out, HeaderFor(p), options, &spf, p.fast ? 1 : 0, &h), 0);
    if (!h) return out;
    std::vector<int16_t> block(size_t(spf) * p.channels);
    const size_t total = pcm.size() / p.channels;
    for (size_t at = 0; at < total; at += size_t(spf)) {
        std::fill(block.begin(), block.end(), 0);
        const size_t n = std::min(size_t(spf), total - at);
        std::copy(pcm.begin() + at * p.channels, pcm.begin() + (at + n) * p.channels,
                  block.begin());
        Mp3PcmBlock b{p.channels, spf, block.data()};
        Mp3EncConfig config{};
        EXPECT_EQ(mp3EncEncodeFrame(&config, &b, nullptr, h), 0);
        if (frameHeaders) frameHeaders->push_back(config.header);
    }
    if (p.tail) {
        EXPECT_EQ(mp3EncEncodeTail(nullptr, p.channels, spf, int64_t(total), h), 0);
    }
    EXPECT_EQ(mp3EncClose(&h), 0);
    return out;
}

// ---- frame walker and side information ----

struct Granule {
    int part2_3_length, big_values, global_gain, window_switching_flag, block_type;
};

struct Frame {
    size_t offset;
    int bytes;  // from the header
    int id, padding, channels, mode, modeExt;
    int mainDataBegin;
    Granule gr[2][2];
};

struct BitReader {
    const uint8_t* p;
    size_t bit = 0;
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) v = v << 1 | ((p[bit >> 3] >> (7 - (bit & 7))) & 1u);
        return v;
    }
};

// Walks the stream frame by frame; fails the test when a frame does not start where the
// previous one's header says it ends.
inline std::vector<Frame> Walk(const std::vector<uint8_t>& s) {
    std::vector<Frame> frames;
    size_t pos = 0;
    while (pos + 4 <= s.size()) {
        const uint32_t bits =
            uint32_t(s[pos]) << 24 | s[pos + 1] << 16 | s[pos + 2] << 8 | s[pos + 3];
        if ((bits >> 20) != 0xFFF) {
            ADD_FAILURE() << "no frame header at byte " << pos << " (frame " << frames.size()
                          << ")";
            break;
        }
        const MpegHeaderWord w = mpegHeaderFromStream(bits, 0);
        Frame f{};
        f.offset = pos;
        f.bytes = mpegHeaderFrameBytes(w);
        f.id = mpegHeaderId(w);
        f.padding = mpegHeaderPadding(w);
        f.mode = mpegHeaderMode(w);
        f.modeExt = mpegHeaderModeExt(w);
        f.channels = mpegHeaderChannels(w);
        if (f.bytes <= 0 || pos + size_t(f.bytes) > s.size()) {
            ADD_FAILURE() << "frame " << frames.size() << " runs past the end";
            break;
        }
        BitReader r{s.data() + pos + 4};
        const int granules = f.id == 1 ? 2 : 1;
        if (f.id == 1) {
            f.mainDataBegin = int(r.Get(9));
            r.Get(f.channels == 1 ? 5 : 3);
            r.Get(4 * f.channels);
        } else {
            f.mainDataBegin = int(r.Get(8));
            r.Get(f.channels == 1 ? 1 : 2);
        }
        for (int g = 0; g < granules; ++g)
            for (int c = 0; c < f.channels; ++c) {
                Granule& gi = f.gr[g][c];
                gi.part2_3_length = int(r.Get(12));
                gi.big_values = int(r.Get(9));
                gi.global_gain = int(r.Get(8));
                r.Get(f.id == 1 ? 4 : 9);
                gi.window_switching_flag = int(r.Get(1));
                if (gi.window_switching_flag) {
                    gi.block_type = int(r.Get(2));
                    r.Get(1 + 10 + 9);
                } else {
                    gi.block_type = 0;
                    r.Get(15 + 7);
                }
                r.Get(f.id == 1 ? 3 : 2);
            }
        frames.push_back(f);
        pos += size_t(f.bytes);
    }
    return frames;
}

inline int SideInfoBytes(const Frame& f) {
    return mpeg::SideInfoBytes(f.id, f.channels);
}

// ---- decoding ----

struct Pcm {
    int channels = 0;
    std::vector<int16_t> samples;
};

struct MemoryInput {
    const std::vector<uint8_t>* data;
    size_t pos = 0;
};

inline int32_t ReadMemory(uint8_t* dst, int32_t* count, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    const size_t n = std::min(in->data->size() - in->pos, size_t(*count));
    if (n) std::memcpy(dst, in->data->data() + in->pos, n);
    in->pos += n;
    *count = int32_t(n);
    return 0;
}

// Our decoder; every call must succeed.
inline Pcm DecodeOurs(const std::vector<uint8_t>& stream) {
    Pcm out;
    MemoryInput in{&stream};
    const uint8_t options[4] = {1, 0, 0, 0};
    MpegDecHandle h = nullptr;
    EXPECT_EQ(mpegDecOpen(options, 0x8D, ReadMemory, &in, &h), 0);
    if (!h) return out;
    std::vector<int16_t> buf(1152 * 2);
    for (;;) {
        MpegHeaderWord w = 0;
        MpegPcmBlock b{0, 0, buf.data()};
        const int32_t st = mpegDecDecodeFrame(&w, &b, nullptr, h);
        if (st == kMpegDecEndOfData) break;
        EXPECT_EQ(st, 0) << mpegDecStatusText(st);
        if (st != 0) break;
        out.channels = b.channels;
        out.samples.insert(out.samples.end(), buf.begin(),
                           buf.begin() + b.samplesPerChannel * b.channels);
    }
    mpegDecClose(&h);
    return out;
}

inline std::string TempPath(const std::string& name) {
    static const std::string dir = [] {
        std::string d =
            (std::filesystem::temp_directory_path() / ("mp3enc_test_" + std::to_string(::getpid())))
                .string();
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir + "/" + name;
}

inline bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), {});
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Decodes with a tool into raw 16-bit samples; `diagnostics` receives its standard error.
inline std::vector<int16_t> DecodeWithTool(const std::string& tool,
                                           const std::vector<uint8_t>& stream,
                                           std::string* diagnostics) {
    const std::string mp3 = TempPath("in.mp3"), raw = TempPath("out.raw"),
                      err = TempPath("err.txt");
    WriteAll(mp3, stream);
    std::string cmd;
    if (tool == "mpg123")
        cmd = "mpg123 -s " + mp3 + " > " + raw + " 2> " + err;  // -q would hide its notes
    else
        cmd = "ffmpeg -hide_banner -nostdin -v warning -err_detect +bitstream+buffer -i " + mp3 +
              " -f s16le -y " + raw + " 2> " + err;
    const int rc = std::system(cmd.c_str());
    std::string text;
    {
        std::ifstream e(err);
        std::string line;
        while (std::getline(e, line)) {
            // The demuxer's note about streams without a length header is not about the data.
            if (line.find("Estimating duration from bitrate") != std::string::npos) continue;
            // mpg123 talks on standard error: keep only its notes, warnings and errors.
            if (tool == "mpg123" && line.find("Note") == std::string::npos &&
                line.find("arning") == std::string::npos &&
                line.find("rror") == std::string::npos &&
                line.find("llegal") == std::string::npos && line.find("Can't") == std::string::npos)
                continue;
            text += line + "\n";
        }
    }
    if (rc != 0) text += "exit status " + std::to_string(rc) + "\n";
    *diagnostics = text;
    const std::vector<uint8_t> b = ReadAll(raw);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
    return s;
}

// SNR in dB of `decoded` against `ref` (both interleaved, same channel count) after the best
// delay in 0..maxDelay samples, over the middle of the signal.
inline double Snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& decoded,
                  int channels, int* delayOut = nullptr, int maxDelay = 4000) {
    const size_t nr = ref.size() / channels, nd = decoded.size() / channels;
    const size_t from = std::min<size_t>(nr / 4, 8000);
    if (nr < from + 4000) return -100;
    const size_t probeEnd = std::min(nr - 2000, from + 16384);
    double best = -1;
    int bestDelay = 0;
    for (int d = 0; d <= maxDelay; ++d) {
        if (nd < probeEnd + d) break;
        double e = 0;
        for (size_t i = from; i < probeEnd; ++i) {
            const double x = ref[i * channels] - decoded[(i + d) * channels];
            e += x * x;
        }
        if (best < 0 || e < best) {
            best = e;
            bestDelay = d;
        }
    }
    if (delayOut) *delayOut = bestDelay;
    const size_t end = std::min(nr - 1152, nd - size_t(bestDelay));
    double sig = 0, err = 0;
    for (size_t i = from; i < end; ++i)
        for (int c = 0; c < channels; ++c) {
            const double x = ref[i * channels + c], y = decoded[(i + bestDelay) * channels + c];
            sig += x * x;
            err += (x - y) * (x - y);
        }
    return 10 * std::log10(sig / std::max(err, 1e-9));
}

}  // namespace enctest
