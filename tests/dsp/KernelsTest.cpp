#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "DspTestSupport.h"
#include "dsp/dsp.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

std::vector<int16_t> ToInt16(const std::vector<float>& src, int32_t flags = 0x1080) {
    std::vector<int16_t> dst(src.size(), 12345);
    EXPECT_EQ(dspsbFloatToInt(src.data(), dst.data(), static_cast<int32_t>(src.size()), 16, flags),
              static_cast<int32_t>(src.size()));
    return dst;
}

// The decoder's conversion rounds half to even and saturates at both limits.
TEST(FloatToInt, Int16NearestSaturate_RoundsTiesToEvenAndClamps) {
    const std::vector<float> in = {2.5f,      3.5f,     -2.5f,       -3.5f,    0.5f,      1.5f,
                                   -0.5f,     -1.5f,    0.49999997f, 2.6f,     -2.6f,     40000.0f,
                                   -40000.0f, 32767.4f, 32767.5f,    32766.5f, -32768.5f, -32768.6f,
                                   -32767.5f, -0.0f,    kInf,        -kInf};
    const std::vector<int16_t> want = {2,      4,      -2,     -4,    0,      2,     0,     -2,
                                       0,      3,      -3,     32767, -32768, 32767, 32767, 32766,
                                       -32768, -32768, -32768, 0,     32767,  -32768};
    EXPECT_EQ(ToInt16(in), want);
}

// The vectorised 16-bit path agrees with rounding done in double on every quarter step
// across the range and beyond, and on a spread of odd fractions.
TEST(FloatToInt, Int16NearestSaturate_MatchesDoubleRounding) {
    std::vector<float> in;
    for (int q = -4 * 33000; q <= 4 * 33000; ++q) in.push_back(q * 0.25f);
    for (uint32_t s = 1; in.size() < 400000;) {
        s = s * 1664525u + 1013904223u;
        in.push_back((static_cast<int32_t>(s) >> 8) * (1.0f / 128.0f));
    }
    in.push_back(kNaN);
    in.push_back(1e-30f);
    in.push_back(-1e-30f);
    in.push_back(3e38f);
    const std::vector<int16_t> got = ToInt16(in);
    for (size_t i = 0; i < in.size(); ++i) {
        double r = std::isnan(in[i]) ? 0.0 : std::nearbyint(static_cast<double>(in[i]));
        r = std::fmin(std::fmax(r, -32768.0), 32767.0);
        ASSERT_EQ(got[i], static_cast<int16_t>(r)) << "at " << in[i];
    }
}

// The status is cleared on entry, so a stale error does not outlive a good call.
TEST(FloatToInt, ClearsStatusOnEntry) {
    dspSetStatus(dspStsBadArg);
    ToInt16({1.0f});
    EXPECT_EQ(dspGetStatus(), dspStsNoErr);
}

TEST(FloatToInt, OtherRoundingModesAndSizes) {
    const std::vector<float> in = {-1.5f, -0.5f, 0.5f, 1.5f, 2.5f};
    EXPECT_EQ(ToInt16(in, dspRndZero | dspSaturate), (std::vector<int16_t>{-1, 0, 0, 1, 2}));
    EXPECT_EQ(ToInt16(in, dspRndMinus | dspSaturate), (std::vector<int16_t>{-2, -1, 0, 1, 2}));
    EXPECT_EQ(ToInt16(in, dspRndPlus | dspSaturate), (std::vector<int16_t>{-1, 0, 1, 2, 3}));
    // Rounding without the fast path's flag set agrees with it.
    EXPECT_EQ(ToInt16(in, dspRndNear), (std::vector<int16_t>{-2, 0, 0, 2, 2}));

    const float big[] = {-300.0f, 300.0f, 127.5f, kNaN};
    int8_t s8[4];
    uint8_t u8[4];
    EXPECT_EQ(dspsbFloatToInt(big, s8, 4, 8, dspRndNear | dspSaturate), 4);
    EXPECT_EQ(s8[0], -128);
    EXPECT_EQ(s8[1], 127);
    EXPECT_EQ(s8[2], 127);
    EXPECT_EQ(s8[3], 0);
    EXPECT_EQ(dspsbFloatToInt(big, u8, 4, 8, dspRndNear | dspUnsigned | dspSaturate), 4);
    EXPECT_EQ(u8[0], 0);
    EXPECT_EQ(u8[1], 255);
    EXPECT_EQ(u8[2], 128);

    const float wide[] = {3e9f, -3e9f, 123456.5f};
    int32_t s32[3];
    EXPECT_EQ(dspsbFloatToInt(wide, s32, 3, 32, dspRndNear | dspSaturate), 3);
    EXPECT_EQ(s32[0], INT32_MAX);
    EXPECT_EQ(s32[1], INT32_MIN);
    EXPECT_EQ(s32[2], 123456);
}

// Each failed check reaches the handler with its text and unit, writes
// nothing and returns the failure.
TEST(FloatToInt, BadArguments_ReportedInOrder) {
    RecordingHandler handler;
    float src[2] = {1.0f, 2.0f};
    int16_t dst[2] = {7, 7};
    struct Case {
        const float* src;
        int16_t* dst;
        int32_t len, size, flags;
        const char* condition;
    } cases[] = {
        {nullptr, nullptr, 0, 16, 0x1080, "len<=0"},
        {nullptr, dst, 2, 16, 0x1080, "src==0"},
        {src, nullptr, 2, 16, 0x1080, "dst==0"},
        {src, dst, 2, 12, 0, "Invalid size of an integer"},
        {src, dst, 2, 16, 0x1000, "Invalid conversion flag"},
        {src, dst, 2, 16, 0x1180, "Invalid conversion flag"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dspsbFloatToInt(c.src, c.dst, c.len, c.size, c.flags), dspStsBadArg);
        const DspReport r = handler.Take();
        EXPECT_EQ(r.condition, c.condition);
        EXPECT_EQ(r.routine, "dspsbFloatToInt");
        EXPECT_EQ(r.unit, "dspcvrts");
        EXPECT_EQ(dspGetStatus(), dspStsBadArg);
    }
    EXPECT_EQ(dst[0], 7);

    // Out of range with the report bit: converted (clamped), then reported.
    const float over[] = {1.0f, 1e6f};
    EXPECT_EQ(dspsbFloatToInt(over, dst, 2, 16, dspRndNear | dspOvfErr), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "A float exceeds an integer");
    EXPECT_EQ(dst[0], 1);
    EXPECT_EQ(dst[1], 32767);
}

TEST(Kernels, ElementWise) {
    std::vector<float> a = {1.0f, -2.0f, 3.0f, -4.0f, 5.0f};
    std::vector<float> b = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    dspsbAdd2(a.data(), b.data(), 5);
    EXPECT_EQ(b, (std::vector<float>{1.5f, -1.5f, 3.5f, -3.5f, 5.5f}));
    dspsbSub1(0.5f, b.data(), 5);
    dspsbMpy1(2.0f, b.data(), 5);
    EXPECT_EQ(b, (std::vector<float>{2.0f, -4.0f, 6.0f, -8.0f, 10.0f}));
    std::vector<float> c(5);
    dspsbSqr2(a.data(), c.data(), 5);
    EXPECT_EQ(c, (std::vector<float>{1.0f, 4.0f, 9.0f, 16.0f, 25.0f}));
    dspsbAbs2(a.data(), c.data(), 5);
    EXPECT_EQ(c, (std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f, 5.0f}));
    dspsbZero(c.data(), 5);
    EXPECT_EQ(c, std::vector<float>(5, 0.0f));
}

TEST(Kernels, Reductions) {
    const float one[] = {-7.25f};
    EXPECT_EQ(dspsMax(one, 1), -7.25f);
    EXPECT_EQ(dspsMin(one, 1), -7.25f);
    const float v[] = {3.0f, -1.0f, 8.0f, 8.0f, -6.5f, 2.0f};
    EXPECT_EQ(dspsMax(v, 6), 8.0f);
    EXPECT_EQ(dspsMin(v, 6), -6.5f);
    EXPECT_FLOAT_EQ(dspsMean(v, 6), 13.5f / 6);
    const int16_t w[] = {-5, 32767, -32768, 4};
    EXPECT_EQ(dspwMax(w, 4), 32767);

    // A float accumulator would lose the small terms entirely.
    std::vector<float> big(1001, 1.0f);
    big[0] = 1e8f;
    EXPECT_FLOAT_EQ(dspsMean(big.data(), 1001), (1e8f + 1000.0f) / 1001.0f);
}

TEST(Kernels, Thresholds_LessThanReplacesNaN_GreaterThanKeepsIt) {
    std::vector<float> lt = {-1.5f, -1.0f, 0.0f, kNaN};
    dspsbThresh1(lt.data(), 4, -1.0f, dspLessThan);
    EXPECT_EQ(lt, (std::vector<float>{-1.0f, -1.0f, 0.0f, -1.0f}));

    std::vector<float> gt = {1.5f, 1.0f, 0.0f, kNaN};
    dspsbThresh1(gt.data(), 4, 1.0f, dspGreaterThan);
    EXPECT_EQ(gt[0], 1.0f);
    EXPECT_EQ(gt[1], 1.0f);
    EXPECT_EQ(gt[2], 0.0f);
    EXPECT_TRUE(std::isnan(gt[3]));
}

TEST(Kernels, Logarithm_ZeroGivesMinusInfinity) {
    std::vector<float> v = {0.0f, 1.0f, std::exp(2.0f), -1.0f};
    dspsbLn1(v.data(), 4);
    EXPECT_EQ(v[0], -kInf);
    EXPECT_EQ(v[1], 0.0f);
    EXPECT_FLOAT_EQ(v[2], 2.0f);
    EXPECT_TRUE(std::isnan(v[3]));
}

// Negative elements are left alone and reported once, after the whole pass.
TEST(Kernels, SquareRoot_NegativeReportedAfterPass) {
    RecordingHandler handler;
    std::vector<float> v = {4.0f, -1.0f, 9.0f};
    EXPECT_EQ(dspsbSqrt1(v.data(), 3), dspStsBadArg);
    EXPECT_EQ(v, (std::vector<float>{2.0f, -1.0f, 3.0f}));
    EXPECT_EQ(handler.Take().condition, "Element of input vector is negative");
}

TEST(Kernels, BadArguments_ReachHandlerAndWriteNothing) {
    RecordingHandler handler;
    float v[2] = {5.0f, 5.0f};
    EXPECT_EQ(dspsbZero(v, 0), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "n<=0");
    EXPECT_EQ(dspsbAdd2(nullptr, v, 2), dspStsBadArg);
    DspReport r = handler.Take();
    EXPECT_EQ(r.condition, "src==0");
    EXPECT_EQ(r.unit, "dsparith");
    EXPECT_EQ(dspsbMpy1(2.0f, nullptr, -3), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "n<=0");  // the count is checked first
    EXPECT_EQ(dspsbSqr2(v, nullptr, 2), dspStsBadArg);
    r = handler.Take();
    EXPECT_EQ(r.condition, "dst==0");
    EXPECT_EQ(r.unit, "dspvec");
    EXPECT_EQ(dspsbLn1(nullptr, 2), dspStsBadArg);
    r = handler.Take();
    EXPECT_EQ(r.condition, "vec==0");
    EXPECT_EQ(r.unit, "dsplnexp");
    EXPECT_EQ(dspsMax(v, 0), 0.0f);
    r = handler.Take();
    EXPECT_EQ(r.routine, "dspsMax");
    EXPECT_EQ(r.condition, "len<=0");
    EXPECT_EQ(dspwMax(nullptr, 1), 0);
    EXPECT_EQ(handler.Take().condition, "vec==0");
    EXPECT_EQ(dspsMean(nullptr, 4), 0.0f);
    EXPECT_EQ(handler.Take().status, dspStsBadArg);
    EXPECT_EQ(v[0], 5.0f);
}

TEST(ErrorStatus, ReportError_StoresStatusExceptMinusOneAndMinusEight) {
    RecordingHandler handler;
    EXPECT_EQ(dspReportError(0, "r", "c", "u", 1), 0);
    EXPECT_TRUE(RecordingHandler::Reports().empty());
    EXPECT_EQ(dspReportError(-4, "r", "c", "u", 1), -4);
    EXPECT_EQ(dspGetStatus(), -4);
    EXPECT_EQ(dspReportError(-8, "r", "c", "u", 1), -8);
    EXPECT_EQ(dspReportError(-1, "r", "c", "u", 1), -1);
    EXPECT_EQ(dspGetStatus(), -4);
    EXPECT_EQ(RecordingHandler::Reports().size(), 3u);
    EXPECT_STREQ(dspStatusText(dspStsBadArg), "Bad argument");
}

// By default a bad argument is a status the caller gets back, not the end of
// the process.
TEST(ErrorStatus, DefaultHandler_ReportsByDefault) {
    EXPECT_EQ(dspGetErrorHandler(), &dspDefaultErrorHandler);
    EXPECT_EQ(dspGetErrorMode(), 1);
    EXPECT_EQ(dspsbZero(nullptr, 4), dspStsBadArg);
    EXPECT_EQ(dspGetStatus(), dspStsBadArg);
    dspSetStatus(0);
}

using ErrorStatusDeathTest = ::testing::Test;

// In error mode 0 the default handler ends the process with code 1.
TEST_F(ErrorStatusDeathTest, DefaultHandler_ModeZero_EndsProcessWithExitCode1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto inModeZero = [](auto call) {
        dspSetErrorMode(0);
        call();
    };
    EXPECT_EXIT(inModeZero([] { dspsbZero(nullptr, 0); }), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(inModeZero([] { dspsRealFft(nullptr, 10, dspFftForward); }),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(inModeZero([] { dspsWinHann(nullptr, 1024); }), ::testing::ExitedWithCode(1), "");
}

}  // namespace
