// Element-wise kernels and reductions: plain single-pass loops, left for the
// compiler to vectorise.
#include <cmath>

#include "dsp/Report.h"
#include "dsp/dsp.h"

namespace {

constexpr const char* kArith = "dsparith";
constexpr const char* kVec = "dspvec";
constexpr const char* kLnExp = "dsplnexp";

}  // namespace

int32_t dspsbZero(float* dst, int32_t n) {
    DSP_CHECK(n < 1, "dspsbZero", "n<=0", kArith);
    DSP_CHECK(dst == nullptr, "dspsbZero", "dst==0", kArith);
    for (int32_t i = 0; i < n; ++i) dst[i] = 0.0f;
    return dspStsNoErr;
}

int32_t dspsbAdd2(const float* src, float* dst, int32_t n) {
    DSP_CHECK(n < 1, "dspsbAdd2", "n<=0", kArith);
    DSP_CHECK(src == nullptr, "dspsbAdd2", "src==0", kArith);
    DSP_CHECK(dst == nullptr, "dspsbAdd2", "dst==0", kArith);
    for (int32_t i = 0; i < n; ++i) dst[i] += src[i];
    return dspStsNoErr;
}

int32_t dspsbSub1(float val, float* dst, int32_t n) {
    DSP_CHECK(n < 1, "dspsbSub1", "n<=0", kArith);
    DSP_CHECK(dst == nullptr, "dspsbSub1", "dst==0", kArith);
    for (int32_t i = 0; i < n; ++i) dst[i] -= val;
    return dspStsNoErr;
}

int32_t dspsbMpy1(float val, float* dst, int32_t n) {
    DSP_CHECK(n < 1, "dspsbMpy1", "n<=0", kArith);
    DSP_CHECK(dst == nullptr, "dspsbMpy1", "dst==0", kArith);
    for (int32_t i = 0; i < n; ++i) dst[i] *= val;
    return dspStsNoErr;
}

int32_t dspsbSqr2(const float* src, float* dst, int32_t len) {
    DSP_CHECK(len < 1, "dspsbSqr2", "len<=0", kVec);
    DSP_CHECK(src == nullptr, "dspsbSqr2", "src==0", kVec);
    DSP_CHECK(dst == nullptr, "dspsbSqr2", "dst==0", kVec);
    for (int32_t i = 0; i < len; ++i) dst[i] = src[i] * src[i];
    return dspStsNoErr;
}

int32_t dspsbAbs2(const float* src, float* dst, int32_t len) {
    DSP_CHECK(len < 1, "dspsbAbs2", "len<=0", kVec);
    DSP_CHECK(src == nullptr, "dspsbAbs2", "src==0", kVec);
    DSP_CHECK(dst == nullptr, "dspsbAbs2", "dst==0", kVec);
    for (int32_t i = 0; i < len; ++i) dst[i] = std::fabs(src[i]);
    return dspStsNoErr;
}

int32_t dspsbSqrt1(float* vec, int32_t len) {
    DSP_CHECK(len < 1, "dspsbSqrt1", "len<=0", kVec);
    DSP_CHECK(vec == nullptr, "dspsbSqrt1", "vec==0", kVec);
    bool negative = false;
    for (int32_t i = 0; i < len; ++i) {
        if (vec[i] < 0.0f)
            negative = true;
        else
            vec[i] = std::sqrt(vec[i]);
    }
    // Reported only after the pass, so every valid element is already done.
    if (negative)
        return DSP_REPORT(dspStsBadArg, "dspsbSqrt1", "Element of input vector is negative", kVec);
    return dspStsNoErr;
}

int32_t dspsbThresh1(float* vec, int32_t len, float thresh, int32_t relOp) {
    DSP_CHECK(len < 1, "dspsbThresh1", "len<=0", kVec);
    DSP_CHECK(vec == nullptr, "dspsbThresh1", "vec==0", kVec);
    if (relOp == dspLessThan) {
        // Written as "not >=" so that a NaN is replaced too.
        for (int32_t i = 0; i < len; ++i)
            if (!(vec[i] >= thresh)) vec[i] = thresh;
    } else {
        for (int32_t i = 0; i < len; ++i)
            if (vec[i] > thresh) vec[i] = thresh;
    }
    return dspStsNoErr;
}

int32_t dspsbLn1(float* vec, int32_t len) {
    DSP_CHECK(len < 1, "dspsbLn1", "len<=0", kLnExp);
    DSP_CHECK(vec == nullptr, "dspsbLn1", "vec==0", kLnExp);
    for (int32_t i = 0; i < len; ++i) vec[i] = std::log(vec[i]);
    return dspStsNoErr;
}

float dspsMean(const float* vec, int32_t len) {
    if (len < 1) return (DSP_REPORT(dspStsBadArg, "dspsMean", "len<=0", kVec), 0.0f);
    if (vec == nullptr) return (DSP_REPORT(dspStsBadArg, "dspsMean", "vec==0", kVec), 0.0f);
    long double sum = 0.0L;
    for (int32_t i = 0; i < len; ++i) sum += vec[i];
    return static_cast<float>(sum / len);
}

float dspsMax(const float* vec, int32_t len) {
    if (len < 1) return (DSP_REPORT(dspStsBadArg, "dspsMax", "len<=0", kVec), 0.0f);
    if (vec == nullptr) return (DSP_REPORT(dspStsBadArg, "dspsMax", "vec==0", kVec), 0.0f);
    float m = vec[0];
    for (int32_t i = 1; i < len; ++i)
        if (vec[i] > m) m = vec[i];
    return m;
}

float dspsMin(const float* vec, int32_t len) {
    if (len < 1) return (DSP_REPORT(dspStsBadArg, "dspsMin", "len<=0", kVec), 0.0f);
    if (vec == nullptr) return (DSP_REPORT(dspStsBadArg, "dspsMin", "vec==0", kVec), 0.0f);
    float m = vec[0];
    for (int32_t i = 1; i < len; ++i)
        if (vec[i] < m) m = vec[i];
    return m;
}

int16_t dspwMax(const int16_t* vec, int32_t len) {
    if (len < 1) return (DSP_REPORT(dspStsBadArg, "dspwMax", "len<=0", kVec), int16_t{0});
    if (vec == nullptr) return (DSP_REPORT(dspStsBadArg, "dspwMax", "vec==0", kVec), int16_t{0});
    int16_t m = vec[0];
    for (int32_t i = 1; i < len; ++i)
        if (vec[i] > m) m = vec[i];
    return m;
}

bool dspCpuHasAvx() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
#else
    return false;
#endif
}
