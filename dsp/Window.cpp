// Power spectrum and analysis windows.
#include <cmath>

#include "dsp/Report.h"
#include "dsp/dsp.h"

int32_t dspcbPowerSpectr(const float* src, float* spectr, int32_t length) {
    static constexpr const char* kName = "dspcbPowerSpectr";
    DSP_CHECK(length < 1, kName, "length<=0", "dspcvrts");
    DSP_CHECK(spectr == nullptr, kName, "spectr==0", "dspcvrts");
    DSP_CHECK(src == nullptr, kName, "src==0", "dspcvrts");
    for (int32_t k = 0; k < length; ++k)
        spectr[k] = src[2 * k] * src[2 * k] + src[2 * k + 1] * src[2 * k + 1];
    return dspStsNoErr;
}

namespace {

// Multiplies vec[k] and vec[N-1-k] by a + b cos(2 pi k / (N-1)). The cosine
// comes from the two-term recurrence, so the ends see cos = 1 exactly and the
// two halves get bit-identical factors.
int32_t RaisedCosine(const char* name, float* vec, int32_t n, double a, double b) {
    DSP_CHECK(vec == nullptr, name, "Null pointer to buffer", "dspwin");
    DSP_CHECK(n < 3, name, "Bad number of items", "dspwin");
    const double step = std::cos(2.0 * M_PI / (n - 1));
    double prev = step;  // cos(-2 pi / (N-1))
    double cur = 1.0;
    for (int32_t k = 0, end = n - 1; k <= end - k; ++k) {
        const double factor = a + b * cur;
        vec[k] = static_cast<float>(vec[k] * factor);
        if (end - k != k) vec[end - k] = static_cast<float>(vec[end - k] * factor);
        const double next = 2.0 * step * cur - prev;
        prev = cur;
        cur = next;
    }
    return dspStsNoErr;
}

}  // namespace

int32_t dspsWinHann(float* vec, int32_t N) {
    return RaisedCosine("dspsWinHann", vec, N, 0.5, -0.5);
}

int32_t dspsWinHamming(float* vec, int32_t N) {
    return RaisedCosine("dspsWinHamming", vec, N, 0.54, -0.46);
}
