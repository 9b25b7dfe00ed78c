// The decoder's signal kernels: tones from the sine table by rotating phasors, and the 32-band
// synthesis filter bank with its matrix applied to a whole packet at once.
#include <cmath>
#include <cstring>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

namespace kvmc {
namespace {

typedef float V4 __attribute__((vector_size(16)));

// Vectors go through memory and references only: passing an eight-lane vector by value
// outside the AVX functions would change the calling convention.
template <typename V>
inline void Load(V& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}

constexpr int kToneLanes = 32;
// Samples between exact restarts of the phasors from the table: the rotation loses about an
// ulp per step, so after 32 steps a full-scale tone is still a fraction of an LSB off.
constexpr int32_t kToneRestart = 1024;

struct ToneTables {
    float sine[kSineSize];  // sin(2 pi i / kSineSize)
    // (pi/2) sin^2(pi t / L) for L = 2^7 .. 2^13, each at taper + L - 128.
    float taper[2 * 8192 - 128];
    ToneTables() {
        for (int i = 0; i < kSineSize; ++i)
            sine[i] = float(std::sin(2.0 * M_PI * i / double(kSineSize)));
        for (int32_t L = 128; L <= 8192; L *= 2) {
            // The window from the sine table, squared in float.
            const int32_t step = (kSineSize / 2) / L;
            for (int32_t t = 0; t < L; ++t) {
                const float w = sine[t * step];
                taper[L - 128 + t] = float(M_PI / 2) * w * w;
            }
        }
    }
};

const ToneTables& Tones() {
    static const ToneTables tables;
    return tables;
}

// Every lane runs the same operations in the same order whatever the vector width: lane j
// starts at sample t0 + j and advances by kToneLanes samples per step. Inlined into each
// caller so that the AVX copy is compiled for AVX.
template <typename V>
__attribute__((always_inline)) inline void ToneKernel(float* out, const float* taper,
                                                      int32_t length, float amp, uint32_t index,
                                                      uint32_t indexStep, const float* sine) {
    constexpr int W = sizeof(V) / sizeof(float), R = kToneLanes / W;
    constexpr uint32_t kMask = kSineSize - 1, kQuarter = kSineSize / 4;
    const uint32_t turn = (indexStep * kToneLanes) & kMask;
    const V cStep = V{} + sine[(turn + kQuarter) & kMask], sStep = V{} + sine[turn];
    const V a = V{} + amp;
    const int32_t span = length < kToneRestart ? length : kToneRestart;
    for (int32_t t0 = 0; t0 < length; t0 += span) {
        float sa[kToneLanes], ca[kToneLanes];
        for (int j = 0; j < kToneLanes; ++j) {
            const uint32_t k = (index + indexStep * uint32_t(t0 + j)) & kMask;
            sa[j] = sine[k];
            ca[j] = sine[(k + kQuarter) & kMask];
        }
        V s[R], c[R];
        std::memcpy(s, sa, sizeof s);
        std::memcpy(c, ca, sizeof c);
        for (int32_t t = t0; t < t0 + span; t += kToneLanes)
            for (int r = 0; r < R; ++r) {
                float* o = out + t + r * W;
                V x, w;
                Load(x, o);
                Load(w, taper + t + r * W);
                x += (a * s[r]) * w;
                std::memcpy(o, &x, sizeof x);
                const V ns = s[r] * cStep + c[r] * sStep;
                c[r] = c[r] * cStep - s[r] * sStep;
                s[r] = ns;
            }
    }
}

struct FilterBankTables {
    // [m][k]: cos(m (2k + 1) pi / 64), m = 0..31. The filter bank's 64-point matrix row
    // 16 + i is row m = 16 + i of this one folded back: m = 32 gives zeros, 64 - m and m - 64
    // the negated rows.
    float C[32][32];
    float D[512];
    FilterBankTables() {
        for (int m = 0; m < 32; ++m)
            for (int k = 0; k < 32; ++k) C[m][k] = float(std::cos(m * (2 * k + 1) * M_PI / 64.0));
        std::memcpy(D, dspPolyphaseWindow(), sizeof D);
    }
};

const FilterBankTables& Bank() {
    static const FilterBankTables tables;
    return tables;
}

// One packet of one channel. The matrix runs first over the whole packet, lanes over time
// (X[m][t] = sum over k < bands of C[m][k] sb[k][t], in k order); then per time step the V ring
// takes the folded rows and the window sums 32 outputs, lanes over outputs.
template <typename V>
__attribute__((always_inline)) inline void FilterBankKernel(const float* sb, int32_t bands,
                                                            float* X, float* ring, int32_t& vpos,
                                                            float* out) {
    constexpr int W = sizeof(V) / sizeof(float), Q = 32 / W;
    const FilterBankTables& T = Bank();
    for (int m = 0; m < 32; ++m)
        for (int32_t t0 = 0; t0 < kSubbandLength; t0 += 32) {
            V acc[Q] = {};
            for (int32_t k = 0; k < bands; ++k) {
                const V ck = V{} + T.C[m][k];
                const float* in = sb + k * kSubbandLength + t0;
                for (int q = 0; q < Q; ++q) {
                    V x;
                    Load(x, in + q * W);
                    acc[q] += ck * x;
                }
            }
            std::memcpy(X + m * kSubbandLength + t0, acc, sizeof acc);
        }
    for (int32_t step = 0; step < kSubbandLength; ++step) {
        vpos = (vpos - 64) & 1023;
        float* v = ring + vpos;  // vpos is a multiple of 64: the 64 values lie in one piece
        const float* x = X + step;
        for (int i = 0; i < 16; ++i) v[i] = x[(16 + i) * kSubbandLength];
        v[16] = 0.0f;
        for (int i = 17; i < 48; ++i) v[i] = -x[(48 - i) * kSubbandLength];
        for (int i = 48; i < 64; ++i) v[i] = -x[(i - 48) * kSubbandLength];
        V acc[Q] = {};
        for (int i = 0; i < 8; ++i) {
            // 32-value runs never wrap: offsets are multiples of 32 in a 1024 ring.
            const float* a = ring + ((vpos + 128 * i) & 1023);
            const float* b = ring + ((vpos + 128 * i + 96) & 1023);
            const float* da = T.D + 64 * i;
            const float* db = T.D + 64 * i + 32;
            for (int q = 0; q < Q; ++q) {
                V xa, xb, wa, wb;
                Load(xa, a + q * W);
                Load(xb, b + q * W);
                Load(wa, da + q * W);
                Load(wb, db + q * W);
                acc[q] += wa * xa + wb * xb;
            }
        }
        std::memcpy(out + step * 32, acc, sizeof acc);
    }
}

#if defined(__x86_64__) || defined(__i386__)
typedef float V8 __attribute__((vector_size(32)));

// Eight lanes where the processor has AVX; no fused multiply-add, so every result is the same
// as the four-lane one.
__attribute__((target("avx"))) void ToneAvx(float* out, const float* taper, int32_t length,
                                            float amp, uint32_t index, uint32_t indexStep,
                                            const float* sine) {
    ToneKernel<V8>(out, taper, length, amp, index, indexStep, sine);
}
__attribute__((target("avx"))) void FilterBankAvx(const float* sb, int32_t bands, float* X,
                                                  float* ring, int32_t& vpos, float* out) {
    FilterBankKernel<V8>(sb, bands, X, ring, vpos, out);
}
#endif

}  // namespace

bool g_kvmcWide = dspCpuHasAvx();

void MakeSynthesisTables() {
    (void)Tones();
    (void)Bank();
}

void AddTone(float* out, int32_t length, float amp, uint32_t index, uint32_t indexStep) {
    const ToneTables& T = Tones();
    const float* taper = T.taper + length - 128;
#if defined(__x86_64__) || defined(__i386__)
    if (g_kvmcWide) {
        ToneAvx(out, taper, length, amp, index, indexStep, T.sine);
        return;
    }
#endif
    ToneKernel<V4>(out, taper, length, amp, index, indexStep, T.sine);
}

void SynthesisFilterBank(const float* sb, int32_t bands, float* X, float* ring, int32_t& vpos,
                         float* out) {
#if defined(__x86_64__) || defined(__i386__)
    if (g_kvmcWide) {
        FilterBankAvx(sb, bands, X, ring, vpos, out);
        return;
    }
#endif
    FilterBankKernel<V4>(sb, bands, X, ring, vpos, out);
}

}  // namespace kvmc
