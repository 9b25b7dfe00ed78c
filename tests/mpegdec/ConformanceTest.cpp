// Decoder output against the reference PCM of the compliance streams.
#include <gtest/gtest.h>

#include "DecodeHelpers.h"

using namespace mpegtest;

namespace {

const std::string kDir = std::string(TUNARA_SOURCE_DIR) + "/tests/data/mp3-conformance/";

struct StreamResult {
    std::string name;
    Comparison cmp;
    long offsetFrames = 0;
    size_t ours = 0, ref = 0;
};

// Lines the start up by whole frames (the reference may lack frames a decoder cannot decode
// at the start) and compares the common length.
StreamResult Measure(const std::string& name) {
    StreamResult r;
    r.name = name;
    const Decoded d = DecodeAll(ReadFile(kDir + name + ".bit"));
    const std::vector<int16_t> ref = ReadPcm(kDir + name + ".pcm");
    r.ours = d.pcm.size();
    r.ref = ref.size();
    double bestPsnr = -1;
    // Channel counts change within l3-he_mode, so offsets are counted in whole frames of
    // the first frame's channel count.
    const int channels = d.calls.size() > 1 ? d.calls[1].channels : 2;
    const int granules = d.rate >= 32000 ? 2 : 1;
    const long frame = 576L * granules * channels;
    for (long f = -3; f <= 3; ++f) {
        const Comparison c = CompareAligned(d.pcm, ref, f * frame);
        if (c.compared > 0 && c.psnr > bestPsnr) {
            bestPsnr = c.psnr;
            r.cmp = c;
            r.offsetFrames = f;
        }
    }
    return r;
}

const char* const kCompliant[] = {"l3-compl",
                                  "l3-he_32khz",
                                  "l3-he_44khz",
                                  "l3-he_48khz",
                                  "l3-he_free",
                                  "l3-hecommon",
                                  "l3-he_mode",
                                  "l3-si",
                                  "l3-si_block",
                                  "l3-si_huff",
                                  "l3-sin1k0db",
                                  "M2L3_bitrate_16_all",
                                  "M2L3_bitrate_22_all",
                                  "M2L3_bitrate_24_all",
                                  "M2L3_compl24",
                                  "M2L3_noise"};

}  // namespace

// Every Layer III compliance stream decodes within 96 dB PSNR and one step of the reference;
// prints the table of PSNR, largest difference and start offset.
TEST(Conformance, CompliantStreams_MeetPsnrAndMaxDiff) {
    std::printf("%-22s %9s %8s %13s %9s %9s\n", "stream", "PSNR dB", "maxdiff", "offset frames",
                "ours", "reference");
    for (const char* name : kCompliant) {
        const StreamResult r = Measure(name);
        std::printf("%-22s %9.2f %8d %13ld %9zu %9zu\n", name, r.cmp.psnr, r.cmp.maxDiff,
                    r.offsetFrames, r.ours, r.ref);
        EXPECT_GE(r.cmp.psnr, 96.0) << name;
        EXPECT_LE(r.cmp.maxDiff, 1) << name;
        // All but a frame or two of the reference is compared.
        EXPECT_GE(r.cmp.compared + 2 * 2304, r.ref) << name;
    }
}

// The LSF intensity-stereo streams: the reference reflects another reading of LSF intensity
// stereo, so only the figures are reported (and a sanity floor kept).
TEST(Conformance, LsfIntensityStreams_ReportPsnr) {
    for (const char* name : {"l3-test45", "l3-test46"}) {
        const StreamResult r = Measure(name);
        std::printf("%-22s %9.2f %8d %13ld %9zu %9zu (report only)\n", name, r.cmp.psnr,
                    r.cmp.maxDiff, r.offsetFrames, r.ours, r.ref);
        EXPECT_GT(r.cmp.psnr, 20.0) << name;
    }
}

// l3-he_mode: 28 single-channel frames, then two-channel ones; each call reports its own.
TEST(Conformance, ModeSwitching_ReportsChannelsPerFrame) {
    const Decoded d = DecodeAll(ReadFile(kDir + "l3-he_mode.bit"));
    int mono = 0, stereo = 0;
    for (const auto& c : d.calls)
        if (c.samples > 0) (c.channels == 1 ? mono : stereo)++;
    EXPECT_EQ(mono, 28);
    EXPECT_GT(stereo, 0);
    EXPECT_EQ(d.lastStatus, kMpegDecEndOfData);
}
