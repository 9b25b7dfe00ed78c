// Float-to-integer conversion.
#include <cmath>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "dsp/Report.h"
#include "dsp/dsp.h"

namespace {

constexpr const char* kUnit = "dspcvrts";
constexpr int32_t kRoundBits = dspRndNear | dspRndZero | dspRndMinus | dspRndPlus;

// Round half to even, done in double so that x +/- 0.5 is exact for every float.
inline double RoundNearestEven(float x) {
    const double xd = x;
    if (x < 0.0f) {
        double r = std::trunc(xd - 0.5);
        if (xd - r == 0.5) r += 1.0 * (std::fmod(r, 2.0) != 0.0);  // tie: even neighbour toward 0
        return r;
    }
    double r = std::trunc(xd + 0.5);
    if (r - xd == 0.5) r -= 1.0 * (std::fmod(r, 2.0) != 0.0);
    return r;
}

typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));
typedef int16_t S4 __attribute__((vector_size(8)));

// The decoder's combination (16 bits, nearest even, saturate), once per granule and
// channel, four values at a time in the target's vector registers. Clamping first keeps
// every value within float's exact integers, and adding and taking away 1.5 * 2^23 rounds
// to the nearest integer with ties to even (the default rounding mode).
constexpr float kMagic = 12582912.0f;

inline int16_t ToInt16One(float x) {
    x = x == x ? x : 0.0f;  // NaN
    x = x < -32768.0f ? -32768.0f : x;
    x = x > 32767.0f ? 32767.0f : x;
    return static_cast<int16_t>(static_cast<int32_t>((x + kMagic) - kMagic));
}

void ToInt16NearestSaturate(const float* src, int16_t* dst, int32_t len) {
    const F4 lo = {-32768.0f, -32768.0f, -32768.0f, -32768.0f};
    const F4 hi = {32767.0f, 32767.0f, 32767.0f, 32767.0f};
    const F4 magic = {kMagic, kMagic, kMagic, kMagic};
    const F4 zero = {0, 0, 0, 0};
    int32_t i = 0;
#ifdef __SSE2__
    // Eight at a time with the saturating pack (exact here: the values are clamped), which
    // the generic narrowing below does not become.
    for (; i + 8 <= len; i += 8) {
        F4 x, y;
        std::memcpy(&x, src + i, sizeof x);
        std::memcpy(&y, src + i + 4, sizeof y);
        x = x == x ? x : zero;
        y = y == y ? y : zero;
        x = x < lo ? lo : x;
        y = y < lo ? lo : y;
        x = x > hi ? hi : x;
        y = y > hi ? hi : y;
        const __m128i a = _mm_cvttps_epi32((__m128)((x + magic) - magic));
        const __m128i b = _mm_cvttps_epi32((__m128)((y + magic) - magic));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packs_epi32(a, b));
    }
#endif
    for (; i + 4 <= len; i += 4) {
        F4 x;
        std::memcpy(&x, src + i, sizeof x);
        x = x == x ? x : zero;
        x = x < lo ? lo : x;
        x = x > hi ? hi : x;
        const S4 r = __builtin_convertvector(__builtin_convertvector((x + magic) - magic, I4), S4);
        std::memcpy(dst + i, &r, sizeof r);
    }
    for (; i < len; ++i) dst[i] = ToInt16One(src[i]);
}

}  // namespace

int32_t dspsbFloatToInt(const float* src, void* dst, int32_t len, int32_t wordSize, int32_t flags) {
    static constexpr const char* kName = "dspsbFloatToInt";
    dspSetStatus(dspStsNoErr);
    const char* failed = nullptr;
    if (len < 1)
        failed = "len<=0";
    else if (src == nullptr)
        failed = "src==0";
    else if (dst == nullptr)
        failed = "dst==0";
    else if (wordSize != 8 && wordSize != 16 && wordSize != 32)
        failed = "Invalid size of an integer";
    else if (__builtin_popcount(static_cast<uint32_t>(flags & kRoundBits)) != 1)
        failed = "Invalid conversion flag";
    if (failed != nullptr) {
        // The failure is returned even when the handler lets the kernel go on.
        DSP_REPORT(dspStsBadArg, kName, failed, kUnit);
        return dspStsBadArg;
    }
    if (wordSize == 16 && flags == (dspRndNear | dspSaturate)) {
        ToInt16NearestSaturate(src, static_cast<int16_t*>(dst), len);
        return len;
    }

    const bool isUnsigned = (flags & dspUnsigned) != 0;
    double lo, hi;
    if (isUnsigned) {
        lo = 0.0;
        hi = wordSize == 8 ? 255.0 : wordSize == 16 ? 65535.0 : 4294967295.0;
    } else {
        lo = wordSize == 8 ? -128.0 : wordSize == 16 ? -32768.0 : -2147483648.0;
        hi = wordSize == 8 ? 127.0 : wordSize == 16 ? 32767.0 : 2147483647.0;
    }

    bool overflow = false;
    for (int32_t i = 0; i < len; ++i) {
        const float x = src[i];
        double r;
        if (std::isnan(x)) {
            r = 0.0;
        } else if (flags & dspRndNear) {
            r = RoundNearestEven(x);
        } else if (flags & dspRndZero) {
            r = std::trunc(static_cast<double>(x));
        } else if (flags & dspRndMinus) {
            r = std::floor(static_cast<double>(x));
        } else {
            r = std::ceil(static_cast<double>(x));
        }
        // Out-of-range values are clamped whatever the flags say: storing
        // them unclamped would be undefined, and the limit is the least wrong value.
        if (r < lo) {
            r = lo;
            overflow = true;
        } else if (r > hi) {
            r = hi;
            overflow = true;
        }
        if (wordSize == 8) {
            if (isUnsigned)
                static_cast<uint8_t*>(dst)[i] = static_cast<uint8_t>(r);
            else
                static_cast<int8_t*>(dst)[i] = static_cast<int8_t>(r);
        } else if (wordSize == 16) {
            if (isUnsigned)
                static_cast<uint16_t*>(dst)[i] = static_cast<uint16_t>(r);
            else
                static_cast<int16_t*>(dst)[i] = static_cast<int16_t>(r);
        } else {
            if (isUnsigned)
                static_cast<uint32_t*>(dst)[i] = static_cast<uint32_t>(r);
            else
                static_cast<int32_t*>(dst)[i] = static_cast<int32_t>(r);
        }
    }
    if (overflow && (flags & dspOvfErr)) {
        DSP_REPORT(dspStsBadArg, kName, "A float exceeds an integer", kUnit);
        return dspStsBadArg;
    }
    return len;
}
