#pragma once
// Shared helpers of the decoder tests: decoding a byte buffer, comparing PCM, making fixtures
// with the standard tools.
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

#include "mpegdec/mpegdec.h"
#include "platform/io/WavHeader.h"

namespace mpegtest {

// Fixtures that the suite cannot do without: a missing file fails the test
// with its name rather than decoding nothing.
inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.is_open()) << "missing test data: " << path;
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), {});
}

inline std::vector<int16_t> ReadPcm(const std::string& path) {
    std::vector<uint8_t> b = ReadFile(path);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
    return s;
}

struct MemoryInput {
    const std::vector<uint8_t>* data;
    size_t pos = 0;
};

inline int32_t ReadMemory(uint8_t* dst, int32_t* count, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    size_t n = std::min(in->data->size() - in->pos, size_t(*count));
    if (n) std::memcpy(dst, in->data->data() + in->pos, n);
    in->pos += n;
    *count = int32_t(n);
    return 0;
}

struct FrameResult {
    int32_t status;
    int32_t channels;
    int32_t samples;
    int32_t ancillaryBytes;
};

struct Decoded {
    int32_t openStatus = 0;
    std::vector<FrameResult> calls;  // one per mpegDecDecodeFrame call
    std::vector<int16_t> pcm;        // every frame at its own channel count
    int32_t lastStatus = 0;
    int32_t rate = 0;
    int32_t decodedFrames() const {
        int32_t n = 0;
        for (const auto& c : calls) n += c.samples > 0;
        return n;
    }
};

// Decodes until end of data or an error other than a damaged frame (-5), at most maxCalls.
inline Decoded DecodeAll(const std::vector<uint8_t>& bytes, uint8_t ancillaryOption = 0,
                         int maxCalls = 1000000) {
    Decoded d;
    MemoryInput in{&bytes};
    const uint8_t options[4] = {1, 0, ancillaryOption, 0};
    MpegDecHandle h = nullptr;
    d.openStatus = mpegDecOpen(options, 0x008D, ReadMemory, &in, &h);
    if (d.openStatus != 0) return d;
    int16_t pcm[2304];
    uint8_t anc[8192];
    for (int i = 0; i < maxCalls; ++i) {
        MpegPcmBlock block{0, 0, pcm};
        MpegAncillaryBlock ancillary{0, anc, int32_t(sizeof anc)};
        MpegHeaderWord word = 0;
        const int32_t rc = mpegDecDecodeFrame(&word, &block, &ancillary, h);
        d.calls.push_back(
            {rc, block.channels, rc == 0 ? block.samplesPerChannel : 0, ancillary.byteCount});
        d.lastStatus = rc;
        if (rc == 0 && block.samplesPerChannel > 0) {
            d.pcm.insert(d.pcm.end(), pcm, pcm + block.samplesPerChannel * block.channels);
            d.rate = mpegHeaderSampleRate(word);
        }
        if (rc != 0 && rc != kMpegDecBadSideInfo) break;
    }
    mpegDecClose(&h);
    return d;
}

struct Comparison {
    double psnr = 0;
    int maxDiff = 0;
    size_t compared = 0;
};

inline Comparison Compare(const int16_t* a, const int16_t* b, size_t n) {
    Comparison c;
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        const int d = int(a[i]) - int(b[i]);
        se += double(d) * d;
        c.maxDiff = std::max(c.maxDiff, std::abs(d));
    }
    c.compared = n;
    c.psnr = se == 0 ? 200.0 : 10 * std::log10(32767.0 * 32767.0 / (se / double(n)));
    return c;
}

// Finds the start offset (in interleaved samples, a multiple of `step`) of `ours` against
// `ref` that gives the best match over a stretch of signal; positive: ours runs ahead.
inline long BestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                       long maxOffset, long step) {
    long best = 0;
    double bestErr = 1e300;
    const size_t window = 40000;
    for (long off = -maxOffset; off <= maxOffset; off += step) {
        double err = 0;
        size_t n = 0;
        for (size_t i = 20000; i < 20000 + window; ++i) {
            const long j = long(i) + off;
            if (j < 0 || size_t(j) >= ours.size() || i >= ref.size()) break;
            const double d = double(ours[size_t(j)]) - ref[i];
            err += d * d;
            ++n;
            if (err > bestErr * double(window)) break;
        }
        if (n < window / 2) continue;
        err /= double(n);
        if (err < bestErr) {
            bestErr = err;
            best = off;
        }
    }
    return best;
}

inline Comparison CompareAligned(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                                 long offset) {
    const size_t start = offset > 0 ? size_t(offset) : 0;
    const size_t refStart = offset < 0 ? size_t(-offset) : 0;
    if (start >= ours.size() || refStart >= ref.size()) return {};
    const size_t n = std::min(ours.size() - start, ref.size() - refStart);
    return Compare(ours.data() + start, ref.data() + refStart, n);
}

// A temporary folder for fixtures made at test time, removed when the test program ends.
inline std::string TempDir() {
    struct Folder {
        std::string path;
        Folder() {
            std::string t =
                (std::filesystem::temp_directory_path() / "tunara-mpegdec-XXXXXX").string();
            std::vector<char> buf(t.begin(), t.end());
            buf.push_back(0);
            const char* made = mkdtemp(buf.data());
            path = made ? made : "";
        }
        ~Folder() {
            std::error_code ec;
            if (!path.empty()) std::filesystem::remove_all(path, ec);
        }
    };
    static Folder folder;
    return folder.path;
}

inline bool RunCommand(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

inline bool HaveTool(const char* tool) {
    return RunCommand(std::string("command -v ") + tool + " >/dev/null 2>&1");
}

// Writes a 16-bit WAV of a test signal: two detuned tones with a little noise, and every
// 0.4 s a sharp click burst, which makes an encoder switch to short blocks.
inline std::string WriteSignalWav(const std::string& name, int rate, int channels, double seconds,
                                  bool transients = true) {
    const std::string path = TempDir() + "/" + name;
    const uint32_t frames = uint32_t(seconds * rate);
    std::vector<int16_t> s(size_t(frames) * channels);
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            double v = 0.3 * std::sin(2 * M_PI * (440.0 + 3 * c) * t) +
                       0.2 * std::sin(2 * M_PI * (1234.5 - 7 * c) * t + c) +
                       0.02 * (double(noise >> 8) / double(1 << 24) - 0.5);
            const double phase = std::fmod(t, 0.4);
            if (transients && phase < 0.004)
                v += 0.6 * std::sin(2 * M_PI * 3000 * t) * (1 - phase / 0.004);
            s[size_t(i) * channels + c] = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 30000));
        }
    }
    std::ofstream f(path, std::ios::binary);
    const uint32_t dataBytes = uint32_t(s.size() * 2);
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader({uint16_t(channels), uint32_t(rate), 16}, dataBytes, header);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(s.data()), std::streamsize(dataBytes));
    return path;
}

// Encodes a WAV with lame; returns the MP3 path or "" when lame is missing or fails.
inline std::string Lame(const std::string& wav, const std::string& name, const std::string& args) {
    if (!HaveTool("lame")) return "";
    const std::string out = TempDir() + "/" + name;
    if (!RunCommand("lame --quiet " + args + " '" + wav + "' '" + out + "'")) return "";
    return out;
}

}  // namespace mpegtest
