// Hybrid synthesis: inverse MDCT with overlap-add, frequency inversion and the polyphase
// filterbank. Output is in 16-bit sample units (the MDCT windows carry the 32768).
#include <cstring>

#include "dsp/dsp.h"
#include "mpegdec/Context.h"
#include "mpegdec/Tables.h"

namespace mpegdec {
namespace {

// Four floats as one value; the compiler maps it onto the target's vector registers.
typedef float V4 __attribute__((vector_size(16)));

inline V4 Load4(const float* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

namespace {

// y[n] = sum over k of X[k] * longCos[k][n], lanes over n; every width adds in k order.
template <typename V>
inline void LongKernel(const float* X, const Tables& t, float* y) {
    constexpr int W = sizeof(V) / sizeof(float);
    V acc[24 / W] = {};
    for (int k = 0; k < 18; ++k) {
        const V xk = V{} + X[k];
        for (int q = 0; q < 24 / W; ++q) {
            V c;
            std::memcpy(&c, t.longCos[k] + W * q, sizeof c);
            acc[q] += xk * c;
        }
    }
    std::memcpy(y, acc, sizeof acc);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx"))) void LongKernelAvx(const float* X, const Tables& t, float* y) {
    typedef float V8 __attribute__((vector_size(32)));
    LongKernel<V8>(X, t, y);
}
#endif

}  // namespace

// Windowed inverse MDCT of X[0..17] (36 values x) with overlap-add: out[i] = x[i] +
// overlap[i], then overlap[i] = x[18 + i].
void ImdctLong(const float* X, const float* window, float* overlap, float* out, const Tables& t) {
    alignas(32) float y[24];
#if defined(__x86_64__) || defined(__i386__)
    if (g_synthWide)
        LongKernelAvx(X, t, y);
    else
#endif
        LongKernel<V4>(X, t, y);
    // x[i] = y[i + 9] (i < 9), -y[26 - i] (9 <= i < 27), -y[i - 27] (i >= 27).
    for (int i = 0; i < 9; ++i) out[i] = y[i + 9] * window[i] + overlap[i];
    for (int i = 9; i < 18; ++i) out[i] = overlap[i] - y[26 - i] * window[i];
    for (int i = 18; i < 27; ++i) overlap[i - 18] = -y[26 - i] * window[i];
    for (int i = 27; i < 36; ++i) overlap[i - 18] = -y[i - 27] * window[i];
}

void ImdctShort(const float* X, float* overlap, float* out, const Tables& t) {
    float x[36] = {};
    for (int w = 0; w < 3; ++w) {
        for (int n = 0; n < 12; ++n) {
            float s = 0;
            for (int k = 0; k < 6; ++k) s += X[3 * k + w] * t.shortMatrix[n][k];
            x[6 + 6 * w + n] += s;
        }
    }
    for (int i = 0; i < 18; ++i) {
        out[i] = x[i] + overlap[i];
        overlap[i] = x[18 + i];
    }
}

namespace {

inline void Store4(float* p, V4 v) {
    std::memcpy(p, &v, sizeof v);
}

// Split-radix DCT: sums and scaled differences of mirrored inputs, two half-size transforms,
// then the odd outputs as sums of neighbouring difference outputs.
template <int N>
inline void Dct(const float* in, float* out, const float* k) {
    if constexpr (N == 2) {
        out[0] = in[0] + in[1];
        out[1] = (in[0] - in[1]) * k[0];
    } else {
        constexpr int H = N / 2;
        float a[H], b[H], A[H], B[H + 1];
        if constexpr (H >= 4) {
            for (int q = 0; q < H; q += 4) {
                const V4 lo = Load4(in + q);
                V4 hi = Load4(in + N - 4 - q);
                hi = __builtin_shufflevector(hi, hi, 3, 2, 1, 0);
                Store4(a + q, lo + hi);
                Store4(b + q, (lo - hi) * Load4(k + q));
            }
        } else {
            for (int i = 0; i < H; ++i) {
                a[i] = in[i] + in[N - 1 - i];
                b[i] = (in[i] - in[N - 1 - i]) * k[i];
            }
        }
        Dct<H>(a, A, k + H);
        Dct<H>(b, B, k + H);
        B[H] = 0;
        for (int m = 0; m < H; ++m) {
            out[2 * m] = A[m];
            out[2 * m + 1] = B[m] + B[m + 1];
        }
    }
}

// The same transform on four independent inputs at once, one per vector lane.
template <int N>
inline void Dct4Lanes(const V4* in, V4* out, const float* k) {
    if constexpr (N == 2) {
        out[0] = in[0] + in[1];
        out[1] = (in[0] - in[1]) * k[0];
    } else {
        constexpr int H = N / 2;
        V4 a[H], b[H], A[H], B[H + 1];
        for (int i = 0; i < H; ++i) {
            a[i] = in[i] + in[N - 1 - i];
            b[i] = (in[i] - in[N - 1 - i]) * k[i];
        }
        Dct4Lanes<H>(a, A, k + H);
        Dct4Lanes<H>(b, B, k + H);
        B[H] = V4{0, 0, 0, 0};
        for (int m = 0; m < H; ++m) {
            out[2 * m] = A[m];
            out[2 * m + 1] = B[m] + B[m + 1];
        }
    }
}

}  // namespace

void Dct32(const float* in, float* out) {
    Dct<32>(in, out, GetTables().dct32);
}

void PolyphaseSlot(SynthesisState& s, int ch, const float* in, float* out) {
    float c[32];
    Dct32(in, c);
    PolyphaseWindow(s, ch, c, out);
}

namespace {

// out[k] = sum over blocks i of even weight * even-order value of block 2i and odd weight *
// odd-order value of block 2i + 1. Lanes run over outputs and each lane adds in the same
// order whatever the vector width, so every width gives identical results.
template <typename V>
inline void WindowSum(const float (*ring)[64], int slot, const Tables& t, float* out) {
    constexpr int W = sizeof(V) / sizeof(float);
    V acc[32 / W];
    for (int q = 0; q < 32 / W; ++q) acc[q] = V{};
    for (int i = 0; i < 8; ++i) {
        const float* be = ring[(slot + 2 * i) & 15];
        const float* bo = ring[(slot + 2 * i + 1) & 15] + 32;
        const float* we = t.synthEven[i];
        const float* wo = t.synthOdd[i];
        for (int q = 0; q < 32 / W; ++q) {
            V a, b, c, d;
            std::memcpy(&a, we + W * q, sizeof a);
            std::memcpy(&b, be + W * q, sizeof b);
            std::memcpy(&c, wo + W * q, sizeof c);
            std::memcpy(&d, bo + W * q, sizeof d);
            acc[q] += a * b + c * d;
        }
    }
    std::memcpy(out, acc, sizeof acc);
}

#if defined(__x86_64__) || defined(__i386__)
typedef float V8 __attribute__((vector_size(32)));

// Eight lanes where the processor has AVX; no fused multiply-add, so the sums stay exact
// copies of the four-lane ones.
__attribute__((target("avx"))) void WindowSumAvx(const float (*ring)[64], int slot, const Tables& t,
                                                 float* out) {
    WindowSum<V8>(ring, slot, t, out);
}
#endif

}  // namespace

bool g_synthWide = dspCpuHasAvx();

void PolyphaseWindow(SynthesisState& s, int ch, const float* c, float* out) {
    const Tables& t = GetTables();
    int32_t off = s.offset[ch] - 32;
    if (off < 0) off = 480;
    s.offset[ch] = off;
    const int slot = off / 32;
    float(*ring)[64] = s.ring[ch];

    // Output k reads transform output 16 + k (k < 16), 0 (k = 16, zero weight) or 48 - k
    // of the even blocks, and |16 - k| of the odd ones. Storing both gathers makes every
    // read below a contiguous run of four outputs.
    float* e = ring[slot];
    float* o = e + 32;
    for (int k = 0; k < 16; ++k) e[k] = c[16 + k];
    e[16] = c[0];
    for (int k = 17; k < 32; ++k) e[k] = c[48 - k];
    for (int k = 0; k < 17; ++k) o[k] = c[16 - k];
    for (int k = 17; k < 32; ++k) o[k] = c[k - 16];

#if defined(__x86_64__) || defined(__i386__)
    if (g_synthWide) {
        WindowSumAvx(ring, slot, t, out);
        return;
    }
#endif
    WindowSum<V4>(ring, slot, t, out);
}

void HybridSynthesis(MpegDecContext& c, int gr, int ch, float* out) {
    const Tables& t = GetTables();
    const GranuleInfo& g = c.si.gr[gr][ch];
    alignas(16) float time[32][20];  // [subband][slot], two slots of padding
    for (int sb = 0; sb < 32; ++sb) {
        const float* X = c.lines + 18 * sb;
        float* ov = c.overlap[ch][sb];
        float* ts = time[sb];
        // Branch-free test for an all-zero subband (either sign of zero).
        uint32_t bits[18];
        std::memcpy(bits, X, sizeof bits);
        uint32_t any = 0;
        for (int k = 0; k < 18; ++k) any |= bits[k] << 1;
        if (any == 0) {
            for (int i = 0; i < 18; ++i) {
                ts[i] = ov[i];
                ov[i] = 0;
            }
        } else {
            int type = g.window_switching_flag ? g.block_type : 0;
            if (g.window_switching_flag && g.mixed_block_flag && sb < 2) type = 0;
            if (type == 2)
                ImdctShort(X, ov, ts, t);
            else
                ImdctLong(X, t.window[type], ov, ts, t);
        }
        if (sb & 1)
            for (int i = 1; i < 18; i += 2) ts[i] = -ts[i];
        ts[18] = ts[19] = 0;
    }
    // The 32-point transforms of four time slots run side by side.
    for (int slot = 0; slot < 18; slot += 4) {
        V4 in[32], res[32];
        for (int sb = 0; sb < 32; ++sb) in[sb] = Load4(&time[sb][slot]);
        Dct4Lanes<32>(in, res, t.dct32);
        // Transposed four by four: cm[lane] holds the slot's 32 outputs.
        alignas(16) float cm[4][32];
        for (int m = 0; m < 32; m += 4) {
            const V4 lo01 = __builtin_shufflevector(res[m], res[m + 1], 0, 4, 1, 5);
            const V4 hi01 = __builtin_shufflevector(res[m], res[m + 1], 2, 6, 3, 7);
            const V4 lo23 = __builtin_shufflevector(res[m + 2], res[m + 3], 0, 4, 1, 5);
            const V4 hi23 = __builtin_shufflevector(res[m + 2], res[m + 3], 2, 6, 3, 7);
            Store4(cm[0] + m, __builtin_shufflevector(lo01, lo23, 0, 1, 4, 5));
            Store4(cm[1] + m, __builtin_shufflevector(lo01, lo23, 2, 3, 6, 7));
            Store4(cm[2] + m, __builtin_shufflevector(hi01, hi23, 0, 1, 4, 5));
            Store4(cm[3] + m, __builtin_shufflevector(hi01, hi23, 2, 3, 6, 7));
        }
        for (int lane = 0; lane < 4 && slot + lane < 18; ++lane)
            PolyphaseWindow(*c.synth, ch, cm[lane], out + 32 * (slot + lane));
    }
}

void ClearSynthesis(MpegDecContext& c) {
    std::memset(c.overlap, 0, sizeof c.overlap);
    std::memset(c.synth->ring, 0, sizeof c.synth->ring);
    c.synth->offset[0] = c.synth->offset[1] = 0;
}

}  // namespace mpegdec
