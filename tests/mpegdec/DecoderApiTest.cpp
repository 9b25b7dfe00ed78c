// The entry points and the outcome table of the decoder's header, on fixtures made at test
// time.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "DecodeHelpers.h"
#include "TestTools.h"

using namespace mpegtest;

namespace {

const std::string kDir = std::string(TUNARA_SOURCE_DIR) + "/tests/data/mp3-conformance/";

// Byte offsets of the frames of a clean Layer III stream (no tags).
std::vector<size_t> FrameOffsets(const std::vector<uint8_t>& b) {
    std::vector<size_t> offsets;
    size_t pos = 0;
    while (pos + 4 <= b.size() && b[pos] == 0xFF && (b[pos + 1] & 0xE0) == 0xE0) {
        const uint32_t bits = uint32_t(b[pos]) << 24 | uint32_t(b[pos + 1]) << 16 |
                              uint32_t(b[pos + 2]) << 8 | b[pos + 3];
        const int32_t len = mpegHeaderFrameBytes(mpegHeaderFromStream(bits, 0));
        if (len <= 0) break;
        offsets.push_back(pos);
        pos += size_t(len);
    }
    return offsets;
}

const std::vector<uint8_t>& Cbr128() {
    static const std::vector<uint8_t> bytes = [] {
        const std::string wav = WriteSignalWav("api.wav", 44100, 2, 3.0);
        const std::string mp3 = Lame(wav, "api128.mp3", "-b 128 -t");  // -t: no info frame
        return mp3.empty() ? std::vector<uint8_t>() : ReadFile(mp3);
    }();
    return bytes;
}

#define REQUIRE_FIXTURE(b) TUNARA_SKIP_IF_MISSING((b).empty(), "lame")

int32_t Open(MemoryInput& in, MpegDecHandle* h, uint8_t anc = 0) {
    const uint8_t options[4] = {1, 0, anc, 0};
    return mpegDecOpen(options, 0x008D, ReadMemory, &in, h);
}

}  // namespace

// Option bytes and the flags' high byte are range-checked; nothing is returned on refusal.
TEST(DecoderApi, Open_BadOptionsOrFlags_Refused) {
    std::vector<uint8_t> none;
    MemoryInput in{&none};
    MpegDecHandle h = reinterpret_cast<MpegDecHandle>(1);
    const uint8_t bad[][4] = {{5, 0, 0, 0}, {0, 4, 0, 0}, {0, 0, 6, 0}, {0, 0, 0, 4}};
    for (const auto& o : bad) {
        EXPECT_EQ(mpegDecOpen(o, 0x008D, ReadMemory, &in, &h), kMpegDecBadOptions);
        EXPECT_EQ(h, nullptr);
    }
    const uint8_t ok[4] = {4, 3, 5, 3};
    EXPECT_EQ(mpegDecOpen(ok, 0x028D, ReadMemory, &in, &h), kMpegDecBadFlags);
    ASSERT_EQ(mpegDecOpen(ok, 0x018D, ReadMemory, &in, &h), kMpegDecOk);
    EXPECT_EQ(mpegDecClose(&h), kMpegDecOk);
    EXPECT_EQ(h, nullptr);
}

// Open asks for one 8192-byte block at once.
TEST(DecoderApi, Open_ReadsFirstBlock) {
    std::vector<int32_t> asked;
    auto read = [](uint8_t*, int32_t* count, void* user) -> int32_t {
        static_cast<std::vector<int32_t>*>(user)->push_back(*count);
        *count = 0;
        return 0;
    };
    const uint8_t options[4] = {1, 0, 0, 0};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(mpegDecOpen(options, 0x008D, read, &asked, &h), 0);
    EXPECT_EQ(asked, std::vector<int32_t>{8192});
    mpegDecClose(&h);
}

// Bad handles are refused by every entry point without touching memory.
TEST(DecoderApi, BadHandles_Refused) {
    MpegDecHandle h = nullptr;
    EXPECT_EQ(mpegDecClose(&h), kMpegDecBadHandle);
    EXPECT_EQ(mpegDecClose(nullptr), kMpegDecBadHandle);
    EXPECT_EQ(mpegDecReset(nullptr), kMpegDecBadHandle);
    MpegPcmBlock block{0, 0, nullptr};
    EXPECT_EQ(mpegDecDecodeFrame(nullptr, &block, nullptr, nullptr), kMpegDecBadHandle);
    EXPECT_STREQ(mpegDecStatusText(kMpegDecNoFrameFound), "no MPEG audio frame found");
    EXPECT_STREQ(mpegDecStatusText(12345), "unknown status");
}

// First call: 0 samples and the channel count; then 1152 per MPEG-1 frame; end with 1001,
// which stays 1001 on later calls.
TEST(DecoderApi, Decode_FirstCallLocatesThenFramesThenEnd) {
    REQUIRE_FIXTURE(Cbr128());
    const Decoded d = DecodeAll(Cbr128());
    ASSERT_GE(d.calls.size(), 3u);
    EXPECT_EQ(d.calls[0].status, 0);
    EXPECT_EQ(d.calls[0].samples, 0);
    EXPECT_EQ(d.calls[0].channels, 2);
    EXPECT_EQ(d.calls[1].samples, 1152);
    EXPECT_EQ(d.lastStatus, kMpegDecEndOfData);
    const size_t frames = FrameOffsets(Cbr128()).size();
    // Only the first frame may be lost (its main data could lie before the stream).
    EXPECT_GE(size_t(d.decodedFrames()), frames - 1);

    MemoryInput in{&Cbr128()};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(Open(in, &h), 0);
    int16_t pcm[2304];
    MpegPcmBlock b{0, 0, pcm};
    int32_t rc = 0;
    for (int i = 0; i < 10000 && rc != kMpegDecEndOfData; ++i)
        rc = mpegDecDecodeFrame(nullptr, &b, nullptr, h);
    EXPECT_EQ(mpegDecDecodeFrame(nullptr, &b, nullptr, h), kMpegDecEndOfData);
    mpegDecClose(&h);
}

// LSF streams give 576 samples per channel per frame.
TEST(DecoderApi, Decode_Lsf_576SamplesPerFrame) {
    const Decoded d = DecodeAll(ReadFile(kDir + "M2L3_compl24.bit"));
    ASSERT_GT(d.calls.size(), 2u);
    EXPECT_EQ(d.calls[1].samples, 576);
    EXPECT_EQ(d.rate, 24000);
}

// Junk in front: a lone false sync is passed over and the first confirmed frame decodes; more
// than 13824 bits of junk is "no frame found".
TEST(DecoderApi, Decode_LeadingJunk) {
    REQUIRE_FIXTURE(Cbr128());
    std::vector<uint8_t> junk(600, 0x11);
    junk[100] = 0xFF;
    junk[101] = 0xFB;  // a plausible header with no frame behind it
    junk[102] = 0x90;
    junk[103] = 0x00;
    std::vector<uint8_t> stream = junk;
    stream.insert(stream.end(), Cbr128().begin(), Cbr128().end());
    const Decoded ok = DecodeAll(stream);
    const Decoded clean = DecodeAll(Cbr128());
    EXPECT_EQ(ok.pcm, clean.pcm);

    std::vector<uint8_t> lots(1800, 0);  // 14400 bits
    lots.insert(lots.end(), Cbr128().begin(), Cbr128().end());
    const Decoded lost = DecodeAll(lots);
    ASSERT_EQ(lost.calls.size(), 1u);
    EXPECT_EQ(lost.calls[0].status, kMpegDecNoFrameFound);

    const Decoded empty = DecodeAll({});
    EXPECT_EQ(empty.lastStatus, kMpegDecNoFrameFound);
}

// A Layer II file is refused with -2 at the first call.
TEST(DecoderApi, Decode_LayerTwo_Refused) {
    TUNARA_SKIP_IF_MISSING(!HaveTool("ffmpeg"), "ffmpeg");
    const std::string wav = WriteSignalWav("l2.wav", 44100, 2, 1.0);
    const std::string mp2 = TempDir() + "/l2.mp2";
    ASSERT_TRUE(
        RunCommand("ffmpeg -loglevel error -y -i '" + wav + "' -c:a mp2 -b:a 192k '" + mp2 + "'"));
    const Decoded d = DecodeAll(ReadFile(mp2));
    ASSERT_EQ(d.calls.size(), 1u);
    EXPECT_EQ(d.calls[0].status, kMpegDecLayerRefused);
}

// A file cut inside its last frame ends with 1001 without decoding the partial frame.
TEST(DecoderApi, Decode_TruncatedLastFrame_EndsCleanly) {
    REQUIRE_FIXTURE(Cbr128());
    const std::vector<size_t> offsets = FrameOffsets(Cbr128());
    ASSERT_GT(offsets.size(), 10u);
    const Decoded full = DecodeAll(Cbr128());
    std::vector<uint8_t> cut(Cbr128().begin(), Cbr128().begin() + long(offsets.back()) + 200);
    const Decoded d = DecodeAll(cut);
    EXPECT_EQ(d.lastStatus, kMpegDecEndOfData);
    EXPECT_EQ(d.decodedFrames(), full.decodedFrames() - 1);
    for (const auto& c : d.calls) EXPECT_TRUE(c.status == 0 || c.status == 1001);
    // What was decoded is what the full stream gives.
    ASSERT_LE(d.pcm.size(), full.pcm.size());
    EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.end(), full.pcm.begin()));

    // A short tail of 0xFF bytes (a false sync with a refused header) also just ends it.
    std::vector<uint8_t> tailed = Cbr128();
    tailed.insert(tailed.end(), 60, 0xFF);
    const Decoded t = DecodeAll(tailed);
    EXPECT_EQ(t.lastStatus, kMpegDecEndOfData);
    EXPECT_EQ(t.pcm, full.pcm);
}

// A lone frame counts as a stream when the data ends right behind it or a tag follows: it
// decodes as mpg123 decodes that frame of the whole file. Junk behind it confirms nothing.
TEST(DecoderApi, LoneFrame_ConfirmedByEndOrTag) {
    REQUIRE_FIXTURE(Cbr128());
    TUNARA_SKIP_IF_MISSING(!HaveTool("mpg123"), "mpg123");
    const std::vector<size_t> offsets = FrameOffsets(Cbr128());
    ASSERT_GT(offsets.size(), 3u);
    const std::string whole = TempDir() + "/api128.mp3";
    ASSERT_TRUE(RunCommand("mpg123 -q -s '" + whole + "' > '" + whole + ".raw' 2>/dev/null"));
    const std::vector<int16_t> ref = ReadPcm(whole + ".raw");
    ASSERT_GE(ref.size(), 2304u);

    const std::vector<uint8_t> frame(Cbr128().begin(), Cbr128().begin() + long(offsets[1]));
    std::vector<uint8_t> v1(128, 0), ape(32, 0), v2(10, 0);
    std::copy_n("TAG", 3, v1.begin());
    std::copy_n("APETAGEX", 8, ape.begin());
    std::copy_n("ID3\4", 4, v2.begin());
    using Tail = const std::vector<uint8_t>*;
    for (const Tail tail : std::initializer_list<Tail>{nullptr, &v1, &ape, &v2}) {
        SCOPED_TRACE(tail ? std::string(tail->begin(), tail->begin() + 3) : "alone");
        std::vector<uint8_t> bytes = frame;
        if (tail) bytes.insert(bytes.end(), tail->begin(), tail->end());
        const Decoded d = DecodeAll(bytes);
        EXPECT_EQ(d.lastStatus, kMpegDecEndOfData);
        ASSERT_EQ(d.pcm.size(), 2304u);
        EXPECT_GE(Compare(d.pcm.data(), ref.data(), 2304).psnr, 90.0);
    }
    std::vector<uint8_t> junk = frame;
    junk.insert(junk.end(), 40, 0x11);
    EXPECT_EQ(DecodeAll(junk).lastStatus, kMpegDecNoFrameFound);

    // A reset onto the last frame finds it, though no header follows.
    MemoryInput in{&Cbr128()};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(Open(in, &h), 0);
    int16_t pcm[2304];
    MpegPcmBlock b{0, 0, pcm};
    ASSERT_EQ(mpegDecDecodeFrame(nullptr, &b, nullptr, h), 0);  // locates the first frame
    in.pos = offsets.back();
    EXPECT_EQ(mpegDecReset(h), 0);
    EXPECT_EQ(mpegDecDecodeFrame(nullptr, &b, nullptr, h), 0);
    EXPECT_EQ(mpegDecDecodeFrame(nullptr, &b, nullptr, h), kMpegDecEndOfData);
    mpegDecClose(&h);
}

// After a seek and mpegDecReset, frames whose main data reaches back before the new position
// give 0 samples without error, and the output soon matches an uninterrupted decode.
TEST(DecoderApi, Reset_AfterSeek_SkipsFramesReachingBack) {
    REQUIRE_FIXTURE(Cbr128());
    const std::vector<uint8_t>& bytes = Cbr128();
    const std::vector<size_t> offsets = FrameOffsets(bytes);
    const Decoded full = DecodeAll(bytes);
    ASSERT_GT(offsets.size(), 60u);

    MemoryInput in{&bytes};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(Open(in, &h), 0);
    int16_t pcm[2304];
    MpegPcmBlock b{0, 0, pcm};
    for (int i = 0; i < 20; ++i) ASSERT_EQ(mpegDecDecodeFrame(nullptr, &b, nullptr, h), 0);

    const size_t target = 50;
    in.pos = offsets[target];
    ASSERT_EQ(mpegDecReset(h), 0);
    int zeroFrames = 0;
    std::vector<int16_t> after;
    for (size_t f = target; f < target + 8; ++f) {
        ASSERT_EQ(mpegDecDecodeFrame(nullptr, &b, nullptr, h), 0);
        if (b.samplesPerChannel == 0) {
            EXPECT_TRUE(after.empty()) << "skips come first";
            ++zeroFrames;
        } else {
            after.insert(after.end(), pcm, pcm + 2304);
        }
    }
    EXPECT_GE(zeroFrames, 1);
    EXPECT_LE(zeroFrames, 4);
    // Frame k of the stream is full.pcm frame k - 1 (the first frame has no main data before).
    const size_t firstDecoded = target + size_t(zeroFrames);
    const size_t fullIndex = firstDecoded - (offsets.size() - size_t(full.decodedFrames()));
    // Skip one frame of settling (overlap and filterbank start from zero), then identical.
    const Comparison c =
        Compare(after.data() + 2304, full.pcm.data() + (fullIndex + 1) * 2304, after.size() - 2304);
    EXPECT_EQ(c.maxDiff, 0);
    mpegDecClose(&h);
}

// With option byte 2 set, the bytes between one frame's main data and the next come with the
// following frame, in reverse order; the audio is unchanged.
TEST(DecoderApi, Ancillary_ComesWithFollowingFrame) {
    const std::vector<uint8_t> bytes = ReadFile(kDir + "l3-si.bit");
    const Decoded with = DecodeAll(bytes, 1);
    const Decoded without = DecodeAll(bytes, 0);
    EXPECT_EQ(with.pcm, without.pcm);
    int framesWithBytes = 0;
    for (const auto& c : without.calls) EXPECT_EQ(c.ancillaryBytes, 0);
    EXPECT_EQ(with.calls[0].ancillaryBytes, 0);
    for (const auto& c : with.calls) framesWithBytes += c.ancillaryBytes > 0;
    EXPECT_GT(framesWithBytes, 0);

    // Check the order: reversed, the bytes are a run of the file.
    MemoryInput in{&bytes};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(Open(in, &h, 1), 0);
    int16_t pcm[2304];
    uint8_t anc[4096];
    int found = 0, checked = 0;
    for (int i = 0; i < 200; ++i) {
        MpegPcmBlock b{0, 0, pcm};
        MpegAncillaryBlock a{0, anc, int32_t(sizeof anc)};
        if (mpegDecDecodeFrame(nullptr, &b, &a, h) != 0) break;
        if (a.byteCount < 8) continue;
        std::vector<uint8_t> run(anc, anc + a.byteCount);
        std::reverse(run.begin(), run.end());
        ++checked;
        found += std::search(bytes.begin(), bytes.end(), run.begin(), run.end()) != bytes.end();
    }
    mpegDecClose(&h);
    ASSERT_GT(checked, 0) << "no frame carried 8 or more ancillary bytes";
    // A run that straddles a frame header is not one piece of the file; most are.
    EXPECT_GT(found, checked / 2);
}

// A stream with a damaged stretch in the middle keeps decoding: later frames come out as in
// the clean stream.
TEST(DecoderApi, DamagedFrame_NextGoodFrameDecodes) {
    REQUIRE_FIXTURE(Cbr128());
    const std::vector<size_t> offsets = FrameOffsets(Cbr128());
    std::vector<uint8_t> bytes = Cbr128();
    uint32_t x = 99;
    for (size_t i = offsets[30]; i < offsets[33]; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 16);
    }
    MemoryInput in{&bytes};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(Open(in, &h), 0);
    int16_t pcm[2304];
    MpegPcmBlock b{0, 0, pcm};
    int decoded = 0;
    int32_t rc = 0;
    for (int i = 0; i < 1000; ++i) {
        rc = mpegDecDecodeFrame(nullptr, &b, nullptr, h);
        if (rc == kMpegDecEndOfData) break;
        if (rc == 0 && b.samplesPerChannel > 0) ++decoded;
    }
    mpegDecClose(&h);
    EXPECT_EQ(rc, kMpegDecEndOfData);
    EXPECT_GE(size_t(decoded), offsets.size() - 8);
}

// Two decoders started on two threads at once (first use of the tables) agree.
TEST(DecoderApi, TwoThreads_SameOutput) {
    const std::vector<uint8_t> bytes = ReadFile(kDir + "l3-compl.bit");
    Decoded a, b;
    std::thread t1([&] { a = DecodeAll(bytes); });
    std::thread t2([&] { b = DecodeAll(bytes); });
    t1.join();
    t2.join();
    EXPECT_FALSE(a.pcm.empty());
    EXPECT_EQ(a.pcm, b.pcm);
}

// A read that fails ends the data like a short one, but the caller learns it was a failure
// (a vanished disk must not look like the end of the song); frames before it still decode.
TEST(DecoderApi, FailedRead_ReportedInsteadOfEndOfData) {
    const std::vector<uint8_t> bytes = ReadFile(kDir + "l3-sin1k0db.bit");
    ASSERT_GT(bytes.size(), 40000u);
    struct Input {
        const std::vector<uint8_t>* data;
        size_t pos = 0;
        size_t failAt = 0;
        int32_t failure = 0;
    };
    auto read = [](uint8_t* dst, int32_t* count, void* user) -> int32_t {
        auto* in = static_cast<Input*>(user);
        const size_t n = std::min(in->failAt - in->pos, size_t(*count));
        std::memcpy(dst, in->data->data() + in->pos, n);
        in->pos += n;
        *count = int32_t(n);
        return in->pos == in->failAt ? in->failure : 0;
    };
    for (const int32_t failure : {0, -5}) {
        Input in{&bytes, 0, 30000, failure};
        const uint8_t options[4] = {1, 0, 0, 0};
        MpegDecHandle h = nullptr;
        ASSERT_EQ(mpegDecOpen(options, 0x008D, read, &in, &h), 0);
        int16_t pcm[2304];
        int32_t rc = 0, frames = 0;
        for (int i = 0; i < 1000 && (rc == 0 || rc == kMpegDecBadSideInfo); ++i) {
            MpegPcmBlock block{0, 0, pcm};
            MpegHeaderWord word = 0;
            rc = mpegDecDecodeFrame(&word, &block, nullptr, h);
            frames += rc == 0 && block.samplesPerChannel > 0;
        }
        EXPECT_GT(frames, 10);
        EXPECT_EQ(rc, failure == 0 ? kMpegDecEndOfData : kMpegDecReadError);
        mpegDecClose(&h);
    }
    EXPECT_STRNE(mpegDecStatusText(kMpegDecReadError), "unknown status");
}

// A failure during the very first read is reported by the first call, not as "no frame".
TEST(DecoderApi, FailedFirstRead_Reported) {
    auto fail = [](uint8_t*, int32_t* count, void*) -> int32_t {
        *count = 0;
        return -1;
    };
    const uint8_t options[4] = {1, 0, 0, 0};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(mpegDecOpen(options, 0x008D, fail, nullptr, &h), 0);
    int16_t pcm[2304];
    MpegPcmBlock block{0, 0, pcm};
    MpegHeaderWord word = 0;
    EXPECT_EQ(mpegDecDecodeFrame(&word, &block, nullptr, h), kMpegDecReadError);
    EXPECT_EQ(mpegDecReset(h), kMpegDecReadError);
    mpegDecClose(&h);
}

// A reserved sampling-rate index (3) is refused with -4 on the first call for a stream whose
// every header has it. In the middle of a good stream such a header is a false sync word: the
// decoder searches past it to the next frame, never returning the refusal, and says where the
// frame it decoded lies.
TEST(DecoderApi, ReservedSampleRate_RefusedFirst_SearchedPastLater) {
    const std::vector<uint8_t> clean = ReadFile(kDir + "l3-si.bit");
    const std::vector<size_t> offsets = FrameOffsets(clean);
    ASSERT_GT(offsets.size(), 20u);
    std::vector<uint8_t> all = clean;
    for (size_t o : offsets) all[o + 2] |= 0x0C;
    const Decoded refused = DecodeAll(all);
    ASSERT_EQ(refused.calls.size(), 1u);
    EXPECT_EQ(refused.calls[0].status, kMpegDecBadSampleRate);

    std::vector<uint8_t> one = clean;
    one[offsets[10] + 2] |= 0x0C;
    MemoryInput in{&one};
    MpegDecHandle h = nullptr;
    ASSERT_EQ(Open(in, &h), 0);
    int16_t pcm[2304];
    int32_t rc = 0;
    std::vector<int64_t> decodedAt;
    for (int i = 0; i < 2000 && rc != kMpegDecEndOfData; ++i) {
        MpegPcmBlock b{0, 0, pcm};
        rc = mpegDecDecodeFrame(nullptr, &b, nullptr, h);
        ASSERT_TRUE(rc == kMpegDecOk || rc == kMpegDecEndOfData) << rc;
        if (rc == kMpegDecOk && i > 0) decodedAt.push_back(mpegDecFrameOffset(h));
    }
    mpegDecClose(&h);
    std::vector<int64_t> expected(offsets.begin(), offsets.end());
    expected.erase(expected.begin() + 10);
    EXPECT_EQ(decodedAt, expected);
}
