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

// Band energies of [from, to) over 16 bands of equal width below 0.4 x rate, in dB.
std::vector<double> BandLevels(const std::vector<double>& x, size_t from, size_t to, double rate) {
    std::vector<double> out;
    for (int b = 0; b < 16; ++b) {
        double e = 0;
        for (int k = 0; k < 4; ++k) {
            const double f = (b + (k + 0.5) / 4) * 0.4 * rate / 16;
            e += ToneLevel(x, from, to, f, rate);
        }
        out.push_back(Db(e / 4));
    }
    return out;
}

TEST(KvmcRoundTrip, ChordNoiseSilenceSweep) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(Name(c));
        const Stream s = MakeStream(c.ch, c.rate, c.kbps);
        const long frames = long(c.rate) * 3 / 2;
        const size_t from = size_t(c.rate / 4), to = size_t(frames - c.rate / 4);

        // Chord: every note keeps its level.
        const std::vector<double> notes = {440.0, 554.37, 659.26};
        const auto chord = Sines(c.ch, c.rate, frames, notes, 5000.0);
        const auto x = Channel(Decode(s, Encode(s, chord), frames).pcm, c.ch, 0);
        double worst = 0;
        for (double f : notes)
            worst = std::max(worst, std::fabs(Db(ToneLevel(x, from, to, f, c.rate) / 5000.0)));
        std::printf("[baseline] chord A major, %s: worst note level error %.2f dB\n",
                    Name(c).c_str(), worst);
        EXPECT_LT(worst, 3.0);

        // Noise: the spectral envelope per band.
        std::mt19937 rng(5);
        std::normal_distribution<double> gauss(0.0, 3000.0);
        std::vector<int16_t> noise(size_t(frames * c.ch));
        for (auto& v : noise) v = int16_t(std::clamp(gauss(rng), -32768.0, 32767.0));
        const auto y = Channel(Decode(s, Encode(s, noise), frames).pcm, c.ch, 0);
        const auto ref = Channel(noise, c.ch, 0);
        const auto got = BandLevels(y, from, to, c.rate), want = BandLevels(ref, from, to, c.rate);
        double meanErr = 0, maxErr = 0;
        for (size_t b = 1; b < got.size(); ++b) {
            meanErr += std::fabs(got[b] - want[b]) / double(got.size() - 1);
            maxErr = std::max(maxErr, std::fabs(got[b] - want[b]));
        }
        std::printf(
            "[baseline] white noise, %s: envelope error mean %.1f dB, worst band %.1f dB "
            "(first band: %+.1f dB)\n",
            Name(c).c_str(), meanErr, maxErr, got[0] - want[0]);
        EXPECT_LT(meanErr, 6.0);

        // Silence stays silent.
        const std::vector<int16_t> quiet(size_t(frames * c.ch), 0);
        const auto z = Decode(s, Encode(s, quiet), frames).pcm;
        int peak = 0;
        for (int16_t v : z) peak = std::max(peak, std::abs(int(v)));
        EXPECT_EQ(peak, 0);

        // Sweep 200 Hz .. 5 kHz: output energy follows the input, no damaged packets.
        std::vector<int16_t> sweep(size_t(frames * c.ch));
        double phase = 0;
        for (long i = 0; i < frames; ++i) {
            const double f = 200.0 * std::pow(25.0, double(i) / double(frames));
            phase += 2 * M_PI * f / c.rate;
            for (int ch = 0; ch < c.ch; ++ch)
                sweep[size_t(i * c.ch + ch)] = int16_t(8000 * std::sin(phase));
        }
        const Decoded ds = Decode(s, Encode(s, sweep), frames);
        EXPECT_EQ(ds.damaged, 0);
        const auto w = Channel(ds.pcm, c.ch, 0);
        const double ratio = Db(Rms(w, from, to) / Rms(Channel(sweep, c.ch, 0), from, to));
        std::printf("[baseline] sweep 200 Hz-5 kHz, %s: level %+.2f dB\n", Name(c).c_str(), ratio);
        EXPECT_NEAR(ratio, 0.0, 2.0);
    }
}

TEST(KvmcDecoder, DamagedPacketGivesSilenceForItsHopAndDecodingGoesOn) {
    const Stream s = MakeStream(2, 44100, 128);
    const long frames = 44100;
    auto packets = Encode(s, Sines(2, 44100, frames, {1000.0}, 8000.0));
    packets[3][40] ^= 0x10;                      // checksum no longer matches
    packets[5].assign(packets[5].size(), 0xFF);  // not a packet at all
    const Decoded d = Decode(s, packets, frames);
    EXPECT_EQ(d.damaged, 2);
    const int H = s.info.samplesPerPacket;
    for (int p : {3, 5}) {
        int peak = 0;
        for (long i = long(p) * H * 2; i < long(p + 1) * H * 2; ++i)
            peak = std::max(peak, std::abs(int(d.pcm[size_t(i)])));
        EXPECT_EQ(peak, 0) << "packet " << p;
    }
    const auto x = Channel(d.pcm, 2, 0);
    EXPECT_GT(Rms(x, size_t(7 * H), size_t(8 * H)), 3000.0);  // sound again after the damage
}

TEST(KvmcDecoder, RefusesBadCallsAndAllocatesNothingPerPacket) {
    KvmcDecHandle dec = nullptr;
    ASSERT_EQ(kvmcDecOpen(&dec), 0);
    Stream s = MakeStream(2, 44100, 128);
    uint8_t packet[8] = {};
    int16_t pcm[8];
    EXPECT_EQ(kvmcDecDecodePacket(dec, 8, packet, 16, pcm), kKvmcBadArgument);  // not configured
    KvmcStreamInfo wrong = s.info;
    wrong.bytesPerPacket += 2;
    EXPECT_EQ(kvmcDecConfigure(dec, &wrong, &s.params), kKvmcBadArgument);
    wrong = s.info;
    wrong.channels = 3;
    EXPECT_EQ(kvmcDecConfigure(dec, &wrong, &s.params), kKvmcBadArgument);
    ASSERT_EQ(kvmcDecConfigure(dec, &s.info, &s.params), 0);
    EXPECT_EQ(kvmcDecDecodePacket(dec, 8, packet, 16, pcm), kKvmcBadArgument);  // sizes
    const auto packets = Encode(s, Sines(2, 44100, 20000, {440.0, 3000.0}, 6000.0));
    std::vector<int16_t> hop(size_t(2 * s.info.samplesPerPacket));
    const long before = gNewCalls.load();
    for (const auto& p : packets)
        EXPECT_EQ(kvmcDecDecodePacket(dec, int32_t(p.size()), p.data(), int32_t(hop.size() * 2),
                                      hop.data()),
                  0);
    EXPECT_EQ(gNewCalls.load(), before);
    kvmcDecClose(&dec);
    EXPECT_EQ(dec, nullptr);
    kvmcDecClose(&dec);
    EXPECT_EQ(kvmcDecDecodePacket(nullptr, 8, packet, 16, pcm), kKvmcBadArgument);
}

TEST(KvmcDecoder, ReadsTheExtensionTheEncoderWrites) {
    Stream s = MakeStream(1, 22050, 64);
    uint8_t ext[kKvmcExtensionBytes];
    kvmcWriteExtension(&s.info, &s.params, ext);
    KvmcStreamInfo info{};
    KvmcParams params{};
    ASSERT_EQ(kvmcReadExtension(ext, sizeof ext, &info, &params), 0);
    EXPECT_EQ(info.bytesPerPacket, s.info.bytesPerPacket);
    EXPECT_EQ(info.samplesPerPacket, 2048);
    EXPECT_EQ(params.flags, s.params.flags);
    EXPECT_EQ(params.bandTop, 1.0f);
    EXPECT_EQ(kvmcReadExtension(ext, 40, &info, &params), kKvmcBadArgument);  // cut short
    ext[11] = 'X';                                                            // not "KVM2"
    EXPECT_EQ(kvmcReadExtension(ext, sizeof ext, &info, &params), kKvmcBadArgument);
}

}  // namespace
