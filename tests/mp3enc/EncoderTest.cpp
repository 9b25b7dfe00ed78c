// The encoder's interface, frame sizes and padding, low-pass, silence and the reservoir,
// block switching.
#include <numeric>

#include "EncodeHelpers.h"
#include "mp3enc/Context.h"

using namespace enctest;

namespace {

int32_t Discard(const uint8_t*, int32_t*, void*) {
    return 0;
}

int32_t Refuse(const uint8_t*, int32_t* count, void*) {
    *count = 0;
    return 0;
}

MpegHeaderWord Word(int id, int rateIndex, int bitrateIndex, int mode, int layerCode = 1,
                    int emphasis = 0) {
    return mpeg::PackHeaderWord(0, uint32_t(id), uint32_t(layerCode), 1, uint32_t(bitrateIndex),
                                uint32_t(rateIndex), 0, 0, uint32_t(mode), 0, 0, 0,
                                uint32_t(emphasis));
}

int32_t Open(MpegHeaderWord w, uint8_t layout = 0x80, uint8_t decim = 0, int fast = 0,
             int32_t* spf = nullptr, Mp3EncHandle* out = nullptr) {
    uint8_t options[kMp3EncOptionBytes] = {1, 0, 0, 0, layout, decim, 0};
    int32_t samples = 0;
    Mp3EncHandle h = nullptr;
    const int32_t st = mp3EncOpen(Discard, nullptr, w, options, &samples, fast, &h);
    if (spf) *spf = samples;
    if (out)
        *out = h;
    else if (h)
        mp3EncClose(&h);
    return st;
}

}  // namespace

// The open checks run in a fixed order; each refusal leaves no handle.
TEST(Mp3EncOpen, ChecksInOrder) {
    EXPECT_EQ(Open(Word(1, 3, 9, 1, 2)), kMp3EncBadSampleRate);  // before the layer
    EXPECT_EQ(Open(Word(1, 0, 15, 1, 2)), kMp3EncBadLayer);      // before the bitrate
    EXPECT_EQ(Open(Word(1, 0, 15, 1)), kMp3EncBadBitrate);
    EXPECT_EQ(Open(Word(1, 0, 0, 1)), kMp3EncBadBitrate);  // free format cannot be coded
    EXPECT_EQ(Open(Word(1, 0, 9, 1, 1, 2), 0x80, 0, 2), kMp3EncBadFastFlag);
    EXPECT_EQ(Open(Word(1, 0, 9, 1, 1, 2)), kMp3EncBadEmphasis);
    EXPECT_EQ(Open(Word(0, 0, 9, 1), 0xC0, 2), kMp3EncBadDecimation);
    EXPECT_EQ(Open(Word(1, 0, 9, 1), 0x80, 1), kMp3EncBadDecimation);  // MPEG-1 cannot decimate
    EXPECT_EQ(Open(Word(1, 0, 9, 1), 0xC0), kMp3EncBadLayout);
    EXPECT_EQ(Open(Word(1, 0, 9, 1), 0x00), kMp3EncBadLayout);
    uint8_t options[kMp3EncOptionBytes] = {};
    options[4] = 0x80;
    int32_t spf = 0;
    Mp3EncHandle h = reinterpret_cast<Mp3EncHandle>(1);
    EXPECT_EQ(mp3EncOpen(Discard, nullptr, Word(1, 0, 9, 3, 1, 2), options, &spf, 0, &h),
              kMp3EncBadEmphasis);
    EXPECT_EQ(h, nullptr);
}

// Samples per call: 1152 for MPEG-1, 576 for LSF, doubled when decimating.
TEST(Mp3EncOpen, SamplesPerFrame) {
    int32_t spf = 0;
    EXPECT_EQ(Open(Word(1, 0, 9, 1), 0x80, 0, 0, &spf), 0);
    EXPECT_EQ(spf, 1152);
    EXPECT_EQ(Open(Word(0, 2, 5, 3), 0x40, 0, 1, &spf), 0);
    EXPECT_EQ(spf, 576);
    EXPECT_EQ(Open(Word(0, 0, 8, 1), 0x80, 1, 0, &spf), 0);
    EXPECT_EQ(spf, 1152);
}

// Bad blocks, bad handles and a failing callback are reported, never crash.
TEST(Mp3EncEncode, RefusesBadInputAndReportsWriteFailure) {
    Mp3EncHandle h = nullptr;
    int32_t spf = 0;
    ASSERT_EQ(Open(Word(1, 0, 9, 1), 0x80, 0, 1, &spf, &h), 0);
    std::vector<int16_t> pcm(size_t(spf) * 2);
    Mp3PcmBlock wrongCount{2, spf - 1, pcm.data()};
    Mp3PcmBlock wrongChannels{1, spf, pcm.data()};
    Mp3PcmBlock noSamples{2, spf, nullptr};
    EXPECT_EQ(mp3EncEncodeFrame(nullptr, &wrongCount, nullptr, h), kMp3EncBadPcmBlock);
    EXPECT_EQ(mp3EncEncodeFrame(nullptr, &wrongChannels, nullptr, h), kMp3EncBadPcmBlock);
    EXPECT_EQ(mp3EncEncodeFrame(nullptr, &noSamples, nullptr, h), kMp3EncBadPcmBlock);
    EXPECT_EQ(mp3EncEncodeFrame(nullptr, nullptr, nullptr, h), kMp3EncBadPcmBlock);
    EXPECT_EQ(mp3EncEncodeFrame(nullptr, &wrongCount, nullptr, nullptr), kMp3EncBadHandle);
    EXPECT_EQ(mp3EncClose(&h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(mp3EncClose(&h), kMp3EncBadHandle);
    EXPECT_EQ(mp3EncClose(nullptr), kMp3EncBadHandle);

    uint8_t options[kMp3EncOptionBytes] = {1, 0, 0, 0, 0x80, 0, 0};
    ASSERT_EQ(mp3EncOpen(Refuse, nullptr, Word(1, 0, 14, 1), options, &spf, 1, &h), 0);
    const std::vector<int16_t> music = Music(44100, 2, 1.0);
    int32_t last = 0;
    for (int f = 0; f < 30 && last == 0; ++f) {
        Mp3PcmBlock b{2, spf, music.data() + size_t(f % 20) * spf * 2};
        last = mp3EncEncodeFrame(nullptr, &b, nullptr, h);
    }
    EXPECT_EQ(last, kMp3EncWriteFailed);
    EXPECT_EQ(mp3EncClose(&h), kMp3EncWriteFailed);
    EXPECT_EQ(h, nullptr);
    EXPECT_STREQ(mp3EncStatusText(kMp3EncWriteFailed), "output not accepted by the write callback");
    EXPECT_STREQ(mp3EncStatusText(12345), "unknown status");
}

// 44.1 kHz at 128 kbit/s: frames of 417 or 418 bytes averaging 417.96.
TEST(Mp3EncFrames, PaddingAveragesTheExactRate) {
    EncodeParams p;
    p.fast = true;
    const std::vector<int16_t> pcm = Music(44100, 2, 1152.0 * 500 / 44100);
    std::vector<MpegHeaderWord> headers;
    const std::vector<uint8_t> s = Encode(pcm, p, &headers);
    const std::vector<Frame> frames = Walk(s);
    ASSERT_EQ(frames.size(), 500u);
    double total = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(frames[i].bytes == 417 || frames[i].bytes == 418);
        EXPECT_EQ(frames[i].padding, mpegHeaderPadding(headers[i]));
        total += frames[i].bytes;
    }
    EXPECT_NEAR(total / frames.size(), 417.96, 0.005);
    // The slot lag starts at minus the fraction, so the first frame is padded and then one
    // frame in 25 is not.
    EXPECT_EQ(frames[0].bytes, 418);
    int unpadded = 0;
    for (size_t i = 0; i < 25; ++i) unpadded += frames[i].bytes == 417;
    EXPECT_EQ(unpadded, 1);
}

// 48 kHz at 128 kbit/s divides evenly: never padded. Policies 1 and 2 force the bit.
TEST(Mp3EncFrames, PaddingPolicies) {
    const std::vector<int16_t> pcm = Music(48000, 2, 0.5);
    EncodeParams p;
    p.rate = 48000;
    p.fast = true;
    for (const Frame& f : Walk(Encode(pcm, p))) EXPECT_EQ(f.bytes, 384);
    p.rate = 44100;
    p.padding = 1;
    for (const Frame& f : Walk(Encode(pcm, p))) EXPECT_EQ(f.bytes, 417);
    p.padding = 2;
    for (const Frame& f : Walk(Encode(pcm, p))) EXPECT_EQ(f.bytes, 418);
}

// Low-pass rule: k = 22 * bits per sample + 0.5; 16 at 64 kbit/s stereo 44.1 kHz, none at 128.
TEST(Mp3EncLowpass, FirstAttenuatedSubband) {
    auto k = [](MpegHeaderWord w) {
        Mp3EncHandle h = nullptr;
        EXPECT_EQ(Open(w, 0x80, 0, 1, nullptr, &h), 0);
        const int32_t v = h->lowpassSubband;
        mp3EncClose(&h);
        return v;
    };
    EXPECT_EQ(k(Word(1, 0, 5, 1)), 16);
    EXPECT_EQ(k(Word(1, 0, 9, 1)), 32);
    EXPECT_EQ(k(Word(1, 0, 1, 3)), 16);  // 32 kbit/s mono: 0.726 bits per sample
}

// What the rule does: a 15 kHz tone (subband 21) vanishes at 64 kbit/s and stays at 128.
TEST(Mp3EncLowpass, HighToneRemovedAtLowRate) {
    const std::vector<int16_t> pcm = Tone(44100, 2, 1.0, 15000, 0.3);
    auto level = [&](int kbps) {
        EncodeParams p;
        p.kbps = kbps;
        p.fast = true;
        const Pcm d = DecodeOurs(Encode(pcm, p));
        double e = 0;
        for (size_t i = 20000; i < 40000 && i < d.samples.size(); ++i)
            e += double(d.samples[i]) * d.samples[i];
        return e;
    };
    const double low = level(64), high = level(128);
    EXPECT_LT(10 * std::log10((low + 1) / high), -40.0);
}

// The line low-pass rises with the rate: an 18.5 kHz tone is cut at 128 kbit/s joint stereo
// (17 kHz) and kept at 320 (20.5 kHz).
TEST(Mp3EncLowpass, CutOffRisesWithTheRate) {
    const std::vector<int16_t> pcm = Tone(44100, 2, 1.0, 18500, 0.3);
    auto level = [&](int kbps) {
        EncodeParams p;
        p.kbps = kbps;
        const Pcm d = DecodeOurs(Encode(pcm, p));
        double e = 0;
        for (size_t i = 20000; i < 40000 && i < d.samples.size(); ++i)
            e += double(d.samples[i]) * d.samples[i];
        return e;
    };
    double in = 0;
    for (size_t i = 20000; i < 40000; ++i) in += double(pcm[i]) * pcm[i];
    const double low = level(128), high = level(320);
    EXPECT_GT(10 * std::log10(high / in), -3.0);
    EXPECT_LT(10 * std::log10((low + 1) / high), -40.0);
}

// A silent granule is not iterated: global_gain 210, part2_3_length 0, and its bits feed the
// reservoir, so main_data_begin climbs to the reservoir limit.
TEST(Mp3EncReservoir, SilenceFeedsTheReservoir) {
    for (bool fast : {false, true}) {
        EncodeParams p;
        p.fast = fast;
        const std::vector<int16_t> pcm(size_t(1152) * 20 * 2, 0);
        const std::vector<Frame> frames = Walk(Encode(pcm, p));
        ASSERT_EQ(frames.size(), 20u);
        for (const Frame& f : frames)
            for (int g = 0; g < 2; ++g)
                for (int c = 0; c < 2; ++c) {
                    EXPECT_EQ(f.gr[g][c].global_gain, 210);
                    EXPECT_EQ(f.gr[g][c].part2_3_length, 0);
                }
        EXPECT_EQ(frames[0].mainDataBegin, 0);
        EXPECT_GT(frames[1].mainDataBegin, 0);
        // The reservoir stops at 7680 bits less the frame, at most 511 bytes.
        const int limit = std::min(511, (7680 - 8 * 418) / 8);
        for (const Frame& f : frames) EXPECT_LE(f.mainDataBegin, limit);
        EXPECT_EQ(frames.back().mainDataBegin, limit);
    }
}

// Full-scale square waves have a spectrum far from flat, so the start step estimate is the
// lowest (-170) and quantises above 8205: the step must rise until it fits (global_gain well
// above 40) and the stream stays decodable.
TEST(Mp3EncLoops, FullScaleRaisesTheStep) {
    std::vector<int16_t> pcm(size_t(44100) * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (i / 2 / 50) % 2 ? 32767 : -32768;
    for (bool fast : {false, true}) {
        EncodeParams p;
        p.fast = fast;
        p.kbps = 320;
        const std::vector<uint8_t> s = Encode(pcm, p);
        const std::vector<Frame> frames = Walk(s);
        ASSERT_GT(frames.size(), 30u);
        int minGain = 255;
        for (size_t i = 2; i < frames.size(); ++i)
            minGain = std::min(minGain, frames[i].gr[0][0].global_gain);
        EXPECT_GT(minGain, 100);
        const Pcm d = DecodeOurs(s);
        EXPECT_GT(Snr(pcm, d.samples, 2), 15.0);
    }
}

// Valid block sequences: a start block leads into short blocks, short blocks end with a stop
// block; joint stereo keeps both channels on the same type.
void CheckSequence(const std::vector<Frame>& frames, int channels, int* shortCount) {
    int prev[2] = {0, 0};
    *shortCount = 0;
    for (const Frame& f : frames)
        for (int g = 0; g < (f.id == 1 ? 2 : 1); ++g) {
            if (channels == 2 && f.mode == 1) {
                EXPECT_EQ(f.gr[g][0].block_type, f.gr[g][1].block_type);
            }
            for (int c = 0; c < channels; ++c) {
                const int t = f.gr[g][c].block_type;
                EXPECT_EQ(f.gr[g][c].window_switching_flag, t != 0 ? 1 : 0);
                switch (prev[c]) {
                    case 0:
                    case 3:
                        EXPECT_TRUE(t == 0 || t == 1) << prev[c] << " -> " << t;
                        break;
                    case 1:
                        EXPECT_EQ(t, 2) << "start not followed by short";
                        break;
                    case 2:
                        EXPECT_TRUE(t == 2 || t == 3) << "short not ended by stop";
                        break;
                }
                *shortCount += t == 2;
                prev[c] = t;
            }
        }
}

TEST(Mp3EncBlocks, ClicksGiveShortBlocksInHighQualityOnly) {
    for (int rate : {44100, 22050}) {
        const std::vector<int16_t> pcm = Clicks(rate, 2, 2.0);
        EncodeParams p;
        p.rate = rate;
        p.kbps = rate == 44100 ? 128 : 64;
        int shorts = 0;
        CheckSequence(Walk(Encode(pcm, p)), 2, &shorts);
        EXPECT_GE(shorts, 12) << rate;  // six clicks after the first half second
        p.fast = true;
        CheckSequence(Walk(Encode(pcm, p)), 2, &shorts);
        EXPECT_EQ(shorts, 0);
        for (const Frame& f : Walk(Encode(pcm, p))) EXPECT_EQ(f.gr[0][0].window_switching_flag, 0);
    }
}

// Steady tones stay on long blocks in high quality.
TEST(Mp3EncBlocks, TonesStayLong) {
    EncodeParams p;
    int shorts = 0;
    std::vector<int16_t> pcm = Tone(44100, 2, 2.0, 440, 0.5);
    for (size_t i = 0; i < 8820; ++i)  // a 0.1 s fade-in: no onset click
        for (int c = 0; c < 2; ++c) pcm[2 * i + c] = int16_t(pcm[2 * i + c] * (i / 8820.0));
    CheckSequence(Walk(Encode(pcm, p)), 2, &shorts);
    EXPECT_EQ(shorts, 0);
}

// The formatter's own check: every granule's written bits equal its part2_3_length and every
// main_data_begin equals the reservoir's account, in both modes and with short blocks.
TEST(Mp3EncFormatter, WrittenBitsMatchTheAccounts) {
    std::vector<int16_t> pcm = Music(44100, 2, 1.0);
    const std::vector<int16_t> clicks = Clicks(44100, 2, 1.5);
    pcm.insert(pcm.end(), clicks.begin(), clicks.end());
    for (int fast : {0, 1})
        for (int bi : {1, 9, 14}) {
            Mp3EncHandle h = nullptr;
            int32_t spf = 0;
            ASSERT_EQ(Open(Word(1, 0, bi, 1), 0x80, 0, fast, &spf, &h), 0);
            for (size_t at = 0; at + size_t(spf) * 2 <= pcm.size(); at += size_t(spf) * 2) {
                Mp3PcmBlock b{2, spf, pcm.data() + at};
                ASSERT_EQ(mp3EncEncodeFrame(nullptr, &b, nullptr, h), 0);
            }
            EXPECT_EQ(h->formatErrors, 0) << "fast " << fast << " bitrate index " << bi;
            mp3EncClose(&h);
        }
}
