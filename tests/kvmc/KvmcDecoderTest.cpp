// Encoder -> decoder round trips on signals made here. Every case prints its measured figures
// (SNR, level, envelope error) as the baseline for later changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "kvmc/Internal.h"
#include "kvmc/kvmc.h"

extern std::atomic<long> gNewCalls;

namespace {

struct Stream {
    KvmcStreamInfo info;
    KvmcParams params;
};

Stream MakeStream(int ch, int rate, int kbps) {
    Stream s{{1, ch, rate, kbps * 1000, 0, 0, 0}, kvmcRecordParams(kbps * 1000)};
    EXPECT_EQ(kvmcStreamValues(&s.info), 0);
    return s;
}

// Packets of `pcm` (interleaved) as the recording job makes them: the first window holds
// frames 0..5H-1, then one new hop per packet, four zero hops after the last data.
std::vector<std::vector<uint8_t>> Encode(const Stream& s, const std::vector<int16_t>& pcm) {
    KvmcHandle enc = nullptr;
    EXPECT_EQ(kvmcOpen(&enc), 0);
    KvmcStreamInfo info = s.info;
    EXPECT_EQ(kvmcConfigure(enc, &info, &s.params), 0);
    const int H = info.samplesPerPacket, ch = info.channels;
    const long frames = long(pcm.size()) / ch;
    std::vector<int16_t> window(size_t(5 * H * ch), 0);
    auto frameAt = [&](long f, int c) { return f < frames ? pcm[size_t(f * ch + c)] : 0; };
    for (long f = 0; f < 4L * H; ++f)
        for (int c = 0; c < ch; ++c) window[size_t(f * ch + c)] = frameAt(f, c);
    std::vector<std::vector<uint8_t>> packets;
    const long hops = (frames + H - 1) / H + 4;
    for (long p = 0; p < hops; ++p) {
        for (long i = 0; i < H; ++i)
            for (int c = 0; c < ch; ++c)
                window[size_t((4 * H + i) * ch + c)] = frameAt((p + 4) * H + i, c);
        std::vector<uint8_t> packet(size_t(info.bytesPerPacket));
        EXPECT_EQ(kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(),
                                   int32_t(packet.size()), packet.data()),
                  0);
        packets.push_back(std::move(packet));
        std::copy(window.begin() + H * ch, window.end(), window.begin());
    }
    kvmcClose(&enc);
    return packets;
}

struct Decoded {
    std::vector<int16_t> pcm;
    int damaged = 0;
};

Decoded Decode(const Stream& s, const std::vector<std::vector<uint8_t>>& packets, long frames) {
    KvmcDecHandle dec = nullptr;
    EXPECT_EQ(kvmcDecOpen(&dec), 0);
    EXPECT_EQ(kvmcDecConfigure(dec, &s.info, &s.params), 0);
    const int H = s.info.samplesPerPacket, ch = s.info.channels;
    Decoded d;
    std::vector<int16_t> hop(size_t(H * ch));
    for (const auto& p : packets) {
        const int32_t rc = kvmcDecDecodePacket(dec, int32_t(p.size()), p.data(),
                                               int32_t(hop.size() * 2), hop.data());
        if (rc == kKvmcDamagedPacket) ++d.damaged;
        d.pcm.insert(d.pcm.end(), hop.begin(), hop.end());
    }
    kvmcDecClose(&dec);
    d.pcm.resize(size_t(frames * ch));
    return d;
}

std::vector<double> Channel(const std::vector<int16_t>& pcm, int ch, int c) {
    std::vector<double> x(pcm.size() / ch);
    for (size_t i = 0; i < x.size(); ++i) x[i] = pcm[i * ch + c];
    return x;
}

double Rms(const std::vector<double>& x, size_t from, size_t to) {
    double s = 0;
    for (size_t i = from; i < to; ++i) s += x[i] * x[i];
    return std::sqrt(s / double(std::max<size_t>(1, to - from)));
}

double Db(double ratio) {
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

// Power of `x` around `freq` by a Goertzel over [from, to).
double ToneLevel(const std::vector<double>& x, size_t from, size_t to, double freq, double rate) {
    const double w = 2 * M_PI * freq / rate;
    double re = 0, im = 0;
    for (size_t i = from; i < to; ++i) {
        // Hann window, amplitude corrected below.
        const double h = 0.5 - 0.5 * std::cos(2 * M_PI * double(i - from) / double(to - from));
        re += x[i] * h * std::cos(w * double(i));
        im += x[i] * h * std::sin(w * double(i));
    }
    return 2 * std::sqrt(re * re + im * im) / (0.5 * double(to - from));
}

// The frequency of the strongest tone near `guess`, refined to 0.05 Hz.
double PeakFrequency(const std::vector<double>& x, size_t from, size_t to, double guess,
                     double rate) {
    double best = guess, bestLevel = -1;
    for (double step : {1.0, 0.05})
        for (double f = best - 40 * step; f <= best + 40 * step; f += step) {
            const double l = ToneLevel(x, from, to, f, rate);
            if (l > bestLevel) {
                bestLevel = l;
                best = f;
            }
        }
    return best;
}

std::vector<int16_t> Sines(int ch, int rate, long frames, std::vector<double> freqs, double amp) {
    std::vector<int16_t> pcm(size_t(frames * ch));
    for (long i = 0; i < frames; ++i) {
        double v = 0;
        for (double f : freqs) v += amp * std::sin(2 * M_PI * f * double(i) / rate);
        for (int c = 0; c < ch; ++c) pcm[size_t(i * ch + c)] = int16_t(std::lround(v));
    }
    return pcm;
}

struct Case {
    int ch, rate, kbps;
};
const Case kCases[] = {{2, 44100, 48}, {2, 44100, 64}, {2, 44100, 96}, {2, 44100, 128},
                       {1, 22050, 48}, {1, 22050, 64}, {1, 22050, 96}, {1, 22050, 128}};

std::string Name(const Case& c) {
    char b[64];
    std::snprintf(b, sizeof b, "%s %d Hz %d kbit/s", c.ch == 2 ? "stereo" : "mono", c.rate, c.kbps);
    return b;
}

TEST(KvmcRoundTrip, SineKeepsFrequencyLevelAndHasNoClicks) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(Name(c));
        const Stream s = MakeStream(c.ch, c.rate, c.kbps);
        const long frames = long(c.rate) * 2;
        const double freq = 1000.0, amp = 10000.0;
        const auto pcm = Sines(c.ch, c.rate, frames, {freq}, amp);
        const Decoded d = Decode(s, Encode(s, pcm), frames);
        ASSERT_EQ(d.pcm.size(), pcm.size());
        EXPECT_EQ(d.damaged, 0);
        const auto x = Channel(d.pcm, c.ch, 0);
        const size_t from = size_t(c.rate / 4), to = size_t(frames - c.rate / 4);
        const double f = PeakFrequency(x, from, to, freq, c.rate);
        const double level = Db(ToneLevel(x, from, to, f, c.rate) / amp);
        double maxStep = 0;
        for (size_t i = from + 1; i < to; ++i)
            maxStep = std::max(maxStep, std::fabs(x[i] - x[i - 1]));
        const double sineStep = amp * 2 * std::sin(M_PI * freq / c.rate);
        const auto ref = Channel(pcm, c.ch, 0);
        double err = 0;
        for (size_t i = from; i < to; ++i) err += (x[i] - ref[i]) * (x[i] - ref[i]);
        const double snr = Db(Rms(ref, from, to) / std::sqrt(err / double(to - from)));
        std::printf(
            "[baseline] sine 1 kHz, %s: frequency %.2f Hz, level %+.2f dB, "
            "largest step %.0f (sine %.0f), SNR %.1f dB\n",
            Name(c).c_str(), f, level, maxStep, sineStep, snr);
        EXPECT_NEAR(f, freq, 1.0);
        EXPECT_NEAR(level, 0.0, 1.0);
        EXPECT_LT(maxStep,
                  1.1 * sineStep);  // the noise fill rides on the tone; a click is far larger
    }
}

}  // namespace
