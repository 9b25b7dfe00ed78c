// Real FFT kernels.
//
// A real signal of N = 2M points is transformed as M complex points
// z[m] = x[2m] + j x[2m+1] followed by a split into the N/2+1 bins; the
// inverse folds the bins into M complex points first.
//
// Half-lengths 16..4096 take the vectorised path: the complex points are
// taken apart into separate real and imaginary arrays on the stack while the
// first pass (bit-reversed gather and a 4- or 8-point DFT, four blocks at a
// time) runs, then radix-4 decimation-in-time passes follow, and the split
// reads the result from both ends. Every other length uses a plain in-place
// radix-2 transform in the caller's array.
#include <cstring>
#include <utility>

#include "dsp/FftTables.h"
#include "dsp/Report.h"
#include "dsp/dsp.h"

using dsp_internal::FftTables;
using dsp_internal::TableHold;

namespace {

constexpr const char* kUnit = "dspffts";

typedef float V4 __attribute__((vector_size(16)));

inline V4 Load(const float* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Store(float* p, V4 v) {
    std::memcpy(p, &v, sizeof v);
}
inline V4 Splat(float x) {
    return V4{x, x, x, x};
}
inline V4 Reverse(V4 v) {
    return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

// Loads four interleaved complex values as real and imaginary vectors.
inline void LoadComplex(const float* p, V4& re, V4& im) {
    const V4 a = Load(p), b = Load(p + 4);
    re = __builtin_shufflevector(a, b, 0, 2, 4, 6);
    im = __builtin_shufflevector(a, b, 1, 3, 5, 7);
}
inline void StoreComplex(float* p, V4 re, V4 im) {
    Store(p, __builtin_shufflevector(re, im, 0, 4, 1, 5));
    Store(p + 4, __builtin_shufflevector(re, im, 2, 6, 3, 7));
}

inline void Transpose(V4& a, V4& b, V4& c, V4& d) {
    const V4 t0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const V4 t1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    const V4 t2 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
    const V4 t3 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    a = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    b = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    c = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    d = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// In-place forward 4-point DFT of split complex vectors.
inline void Dft4(V4* r, V4* i) {
    const V4 t0r = r[0] + r[2], t0i = i[0] + i[2];
    const V4 t1r = r[0] - r[2], t1i = i[0] - i[2];
    const V4 t2r = r[1] + r[3], t2i = i[1] + i[3];
    const V4 t3r = r[1] - r[3], t3i = i[1] - i[3];
    r[0] = t0r + t2r, i[0] = t0i + t2i;
    r[2] = t0r - t2r, i[2] = t0i - t2i;
    r[1] = t1r + t3i, i[1] = t1i - t3r;  // t1 - j t3
    r[3] = t1r - t3i, i[3] = t1i + t3r;  // t1 + j t3
}

inline void Dft8(V4* r, V4* i) {
    V4 er[4] = {r[0], r[2], r[4], r[6]}, ei[4] = {i[0], i[2], i[4], i[6]};
    V4 orr[4] = {r[1], r[3], r[5], r[7]}, oi[4] = {i[1], i[3], i[5], i[7]};
    Dft4(er, ei);
    Dft4(orr, oi);
    const V4 h = Splat(0.70710678118654752f);
    // W8^t * O[t]: 1, (1-j)/sqrt2, -j, (-1-j)/sqrt2
    const V4 w1r = (orr[1] + oi[1]) * h, w1i = (oi[1] - orr[1]) * h;
    const V4 w2r = oi[2], w2i = -orr[2];
    const V4 w3r = (oi[3] - orr[3]) * h, w3i = -(orr[3] + oi[3]) * h;
    r[0] = er[0] + orr[0], i[0] = ei[0] + oi[0];
    r[4] = er[0] - orr[0], i[4] = ei[0] - oi[0];
    r[1] = er[1] + w1r, i[1] = ei[1] + w1i;
    r[5] = er[1] - w1r, i[5] = ei[1] - w1i;
    r[2] = er[2] + w2r, i[2] = ei[2] + w2i;
    r[6] = er[2] - w2r, i[6] = ei[2] - w2i;
    r[3] = er[3] + w3r, i[3] = ei[3] + w3i;
    r[7] = er[3] - w3r, i[7] = ei[3] - w3i;
}

// First pass: block b of R outputs is the R-point DFT of z[r + q M/R],
// q = 0..R-1, with r the bit reversal of b. Four consecutive r (one lane
// each) are loaded at once, so every load is contiguous; their blocks are
// the group's first block plus 0, 2, 1, 3 times the group count.
template <int R>
void FirstPass(const float* z, float* re, float* im, const FftTables& t) {
    const int64_t half = t.half;
    const int64_t groups = t.groups;
    const int64_t stride = half / R;
    static constexpr int kLaneBlock[4] = {0, 2, 1, 3};
    for (int64_t g = 0; g < groups; ++g) {
        V4 r[R], i[R];
        for (int q = 0; q < R; ++q) LoadComplex(z + 2 * (4 * g + q * stride), r[q], i[q]);
        if constexpr (R == 8)
            Dft8(r, i);
        else
            Dft4(r, i);
        for (int q = 0; q < R; q += 4) {
            Transpose(r[q], r[q + 1], r[q + 2], r[q + 3]);
            Transpose(i[q], i[q + 1], i[q + 2], i[q + 3]);
        }
        for (int lane = 0; lane < 4; ++lane) {
            const int64_t block = t.groupBlock[g] + kLaneBlock[lane] * groups;
            for (int q = 0; q < R; q += 4) {
                Store(re + block * R + q, r[q + lane]);
                Store(im + block * R + q, i[q + lane]);
            }
        }
    }
}

// Radix-4 decimation-in-time pass joining four DFTs of length |span|. The
// sub-DFTs sit in bit-reversed order (residues 0, 2, 1, 3).
void Radix4Pass(float* re, float* im, int64_t half, int64_t span, const float* tw) {
    for (int64_t blk = 0; blk < half; blk += 4 * span) {
        for (int64_t j = 0; j < span; j += 4) {
            float* r0 = re + blk + j;
            float* i0 = im + blk + j;
            const V4 w1r = Load(tw + j), w1i = Load(tw + span + j);
            const V4 w2r = Load(tw + 2 * span + j), w2i = Load(tw + 3 * span + j);
            const V4 w3r = Load(tw + 4 * span + j), w3i = Load(tw + 5 * span + j);
            const V4 b0r = Load(r0), b0i = Load(i0);
            const V4 xar = Load(r0 + 2 * span), xai = Load(i0 + 2 * span);
            const V4 xbr = Load(r0 + span), xbi = Load(i0 + span);
            const V4 xcr = Load(r0 + 3 * span), xci = Load(i0 + 3 * span);
            const V4 b1r = xar * w1r - xai * w1i, b1i = xar * w1i + xai * w1r;
            const V4 b2r = xbr * w2r - xbi * w2i, b2i = xbr * w2i + xbi * w2r;
            const V4 b3r = xcr * w3r - xci * w3i, b3i = xcr * w3i + xci * w3r;
            const V4 t0r = b0r + b2r, t0i = b0i + b2i;
            const V4 t1r = b0r - b2r, t1i = b0i - b2i;
            const V4 t2r = b1r + b3r, t2i = b1i + b3i;
            const V4 t3r = b1r - b3r, t3i = b1i - b3i;
            Store(r0, t0r + t2r), Store(i0, t0i + t2i);
            Store(r0 + 2 * span, t0r - t2r), Store(i0 + 2 * span, t0i - t2i);
            Store(r0 + span, t1r + t3i), Store(i0 + span, t1i - t3r);
            Store(r0 + 3 * span, t1r - t3i), Store(i0 + 3 * span, t1i + t3r);
        }
    }
}

// Forward complex DFT of the M interleaved points z into split re/im.
void FastComplexFft(const float* z, float* re, float* im, const FftTables& t) {
    if (t.radix == 8)
        FirstPass<8>(z, re, im, t);
    else
        FirstPass<4>(z, re, im, t);
    int64_t span = t.radix;
    for (int32_t st = 0; st < t.stageCount; ++st, span *= 4)
        Radix4Pass(re, im, t.half, span, t.stageTwiddles[st]);
}

// Split of the complex result Z into the CCS bins X[0..M]:
// X[k] = E + T and X[M-k] = conj(E - T), where E = (Z[k] + conj Z[M-k]) / 2,
// T = -j W^k (Z[k] - conj Z[M-k]) / 2 and W = e^(-j 2 pi / N).
void FastSplit(const float* re, const float* im, float* out, const FftTables& t) {
    const int64_t half = t.half;
    out[0] = re[0] + im[0];
    out[1] = 0.0f;
    out[2 * half] = re[0] - im[0];
    out[2 * half + 1] = 0.0f;
    const V4 oneHalf = Splat(0.5f);
    for (int64_t k = 1; k <= half / 2; k += 4) {
        const V4 ar = Load(re + k), ai = Load(im + k);
        const V4 br = Reverse(Load(re + half - k - 3)), bi = -Reverse(Load(im + half - k - 3));
        const V4 hc = Load(t.halfCosK + k), hs = Load(t.halfSinK + k);
        const V4 dr = ar - br, di = ai - bi;
        const V4 er = (ar + br) * oneHalf, ei = (ai + bi) * oneHalf;
        const V4 tr = hc * di - hs * dr, ti = -(hc * dr + hs * di);
        StoreComplex(out + 2 * k, er + tr, ei + ti);
        StoreComplex(out + 2 * (half - k - 3), Reverse(er - tr), Reverse(ti - ei));
    }
}

// Fold of the CCS bins into M complex points (scaled by 2), written with
// real and imaginary parts swapped so that a forward DFT then gives the
// inverse transform, swapped back. conjugate: fold conj(X) instead.
void FastFold(const float* in, float* z, const FftTables& t, bool conjugate) {
    const int64_t half = t.half;
    z[0] = in[0] - in[2 * half];
    z[1] = in[0] + in[2 * half];
    const V4 sign = Splat(conjugate ? -1.0f : 1.0f);
    for (int64_t k = 1; k <= half / 2; k += 4) {
        V4 ar, ai, br, bi;
        LoadComplex(in + 2 * k, ar, ai);
        LoadComplex(in + 2 * (half - k - 3), br, bi);
        ai = ai * sign;
        br = Reverse(br);
        bi = -Reverse(bi) * sign;
        const V4 c = Load(t.cosK + k), s = Load(t.sinK + k);
        const V4 sr = ar + br, si = ai + bi, dr = ar - br, di = ai - bi;
        const V4 p = s * dr + c * di, q = c * dr - s * di;
        StoreComplex(z + 2 * k, si + q, sr - p);
        StoreComplex(z + 2 * (half - k - 3), Reverse(q - si), Reverse(sr + p));
    }
}

// ---- In-place path (short and very long transforms) ----

// In-place complex DFT of M interleaved points; inverse uses conjugate twiddles.
void PlainComplexFft(float* z, int64_t half, const float* tw, bool inverse) {
    for (int64_t i = 1, j = 0; i < half; ++i) {
        int64_t bit = half >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j |= bit;
        if (i < j) {
            std::swap(z[2 * i], z[2 * j]);
            std::swap(z[2 * i + 1], z[2 * j + 1]);
        }
    }
    const float sign = inverse ? -1.0f : 1.0f;
    for (int64_t len = 2; len <= half; len *= 2) {
        const int64_t h = len / 2, step = half / len;
        for (int64_t blk = 0; blk < half; blk += len) {
            for (int64_t j = 0; j < h; ++j) {
                const float wr = tw[2 * j * step], wi = sign * tw[2 * j * step + 1];
                float* u = z + 2 * (blk + j);
                float* v = u + 2 * h;
                const float vr = v[0] * wr - v[1] * wi, vi = v[0] * wi + v[1] * wr;
                v[0] = u[0] - vr, v[1] = u[1] - vi;
                u[0] += vr, u[1] += vi;
            }
        }
    }
}

// Same split as FastSplit, in place over the N+2 floats of buf.
void PlainSplit(float* buf, const FftTables& t) {
    const int64_t half = t.half;
    const float z0r = buf[0], z0i = buf[1];
    buf[0] = z0r + z0i, buf[1] = 0.0f;
    buf[2 * half] = z0r - z0i, buf[2 * half + 1] = 0.0f;
    for (int64_t k = 1; k <= half / 2; ++k) {
        float* a = buf + 2 * k;
        float* b = buf + 2 * (half - k);
        const float ar = a[0], ai = a[1], br = b[0], bi = -b[1];
        const float hc = t.halfCosK[k], hs = t.halfSinK[k];
        const float dr = ar - br, di = ai - bi;
        const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        const float tr = hc * di - hs * dr, ti = -(hc * dr + hs * di);
        b[0] = er - tr, b[1] = ti - ei;
        a[0] = er + tr, a[1] = ei + ti;
    }
}

// The fold without the swap (the plain transform runs inverse directly).
void PlainFold(const float* in, float* z, const FftTables& t, bool conjugate) {
    const int64_t half = t.half;
    const float x0 = in[0], xm = in[2 * half];
    const float sign = conjugate ? -1.0f : 1.0f;
    for (int64_t k = 1; k <= half / 2; ++k) {
        const float ar = in[2 * k], ai = sign * in[2 * k + 1];
        const float br = in[2 * (half - k)], bi = -sign * in[2 * (half - k) + 1];
        const float c = t.cosK[k], s = t.sinK[k];
        const float sr = ar + br, si = ai + bi, dr = ar - br, di = ai - bi;
        const float p = s * dr + c * di, q = c * dr - s * di;
        z[2 * k] = sr - p, z[2 * k + 1] = si + q;
        z[2 * (half - k)] = sr + p, z[2 * (half - k) + 1] = q - si;
    }
    z[0] = x0 + xm, z[1] = x0 - xm;
}

void ForwardReal(const float* in, float* out, const FftTables& t) {
    const int64_t half = t.half;
    if (t.fast) {
        alignas(32) float work[2 * dsp_internal::kMaxFastHalf];
        float* re = work;
        float* im = work + half;
        FastComplexFft(in, re, im, t);
        FastSplit(re, im, out, t);
        return;
    }
    if (in != out) std::memmove(out, in, sizeof(float) * 2 * half);
    PlainComplexFft(out, half, t.twiddles, false);
    PlainSplit(out, t);
}

void CcsToReal(const float* in, float* out, const FftTables& t, bool inverse, float scale) {
    const int64_t half = t.half;
    if (t.fast) {
        alignas(32) float work[2 * dsp_internal::kMaxFastHalf];
        float* re = work;
        float* im = work + half;
        FastFold(in, out, t, !inverse);
        FastComplexFft(out, re, im, t);
        // Undo the swap: the inverse of z is the swapped forward DFT of swapped z.
        const V4 s = Splat(scale);
        for (int64_t m = 0; m < half; m += 4)
            StoreComplex(out + 2 * m, Load(im + m) * s, Load(re + m) * s);
        return;
    }
    PlainFold(in, out, t, !inverse);
    PlainComplexFft(out, half, t.twiddles, true);
    if (scale != 1.0f)
        for (int64_t i = 0; i < 2 * half; ++i) out[i] *= scale;
}

int32_t CountOf(int32_t order) {
    return order >= 31 ? INT32_MAX : static_cast<int32_t>(int32_t{1} << order);
}

// The checks and table handling common to the three kernels. Returns true
// when the caller should return |result| at once.
bool Prologue(const char* name, int32_t order, int32_t flags, int32_t& result) {
    if (order < 0) {
        result = DSP_REPORT(dspStsBadArg, name, "order<0", kUnit);
        return true;
    }
    if (order > 31) {
        result = DSP_REPORT(dspStsBadArg, name, "order>31", kUnit);
        return true;
    }
    if (flags & dspFftFreeTables) {
        dsp_internal::ReleaseTables(order);
        result = 0;
        return true;
    }
    if (dsp_internal::EnsureTables(order) != 0) {
        result = DSP_REPORT(dspStsMemErr, name, "No working Twd memory", kUnit);
        return true;
    }
    if (flags & dspFftMakeTables) {
        result = 0;
        return true;
    }
    return false;
}

bool DirectionBad(const char* name, int32_t flags, int32_t& result) {
    if ((flags & dspFftForward) && (flags & dspFftInverse)) {
        result = DSP_REPORT(dspStsBadArg, name, "(flags & 1) && (flags & 2)", kUnit);
        return true;
    }
    if (!(flags & dspFftForward) && !(flags & dspFftInverse)) {
        result = DSP_REPORT(dspStsBadArg, name, "(flags & 1)==0 && (flags & 2)==0", kUnit);
        return true;
    }
    return false;
}

// The inverse of a real signal is the conjugate of its forward transform,
// divided by N unless dspFftNoScale is set.
int32_t RealToCcs(const char* name, const float* in, float* out, int32_t order, int32_t flags) {
    int32_t count;
    if (order == 0) {
        out[0] = in[0];
        out[1] = 0.0f;
        count = 1;
    } else if (order == 1) {
        const float a = in[0], b = in[1];
        out[0] = a + b, out[1] = 0.0f;
        out[2] = a - b, out[3] = 0.0f;
        count = 2;
    } else {
        TableHold hold(order);
        if (hold.status() != 0)
            return DSP_REPORT(dspStsMemErr, name, "No working Twd memory", kUnit);
        ForwardReal(in, out, *hold.tables());
        count = CountOf(order);
    }
    if (flags & dspFftInverse) {
        const int64_t n = int64_t{1} << order;
        const float scale = (flags & dspFftNoScale) ? 1.0f : 1.0f / static_cast<float>(n);
        for (int64_t k = 0; k <= n / 2; ++k) out[2 * k] *= scale;
        for (int64_t k = 1; k < n / 2; ++k) out[2 * k + 1] *= -scale;
    }
    return count;
}

}  // namespace

int32_t dspsRealFft(float* samps, int32_t order, int32_t flags) {
    static constexpr const char* kName = "dspsRealFft";
    int32_t result;
    if (Prologue(kName, order, flags, result)) return result;
    DSP_CHECK(samps == nullptr, kName, "samps==0", kUnit);
    if (DirectionBad(kName, flags, result)) return result;
    return RealToCcs(kName, samps, samps, order, flags);
}

int32_t dspsRealFftNip(const float* inSamps, float* outSamps, int32_t order, int32_t flags) {
    static constexpr const char* kName = "dspsRealFftNip";
    int32_t result;
    if (Prologue(kName, order, flags, result)) return result;
    DSP_CHECK(inSamps == nullptr, kName, "inSamps==0", kUnit);
    DSP_CHECK(outSamps == nullptr, kName, "outSamps==0", kUnit);
    if (DirectionBad(kName, flags, result)) return result;
    return RealToCcs(kName, inSamps, outSamps, order, flags);
}

int32_t dspsCcsFftNip(const float* inSamps, float* outSamps, int32_t order, int32_t flags) {
    static constexpr const char* kName = "dspsCcsFftNip";
    int32_t result;
    if (Prologue(kName, order, flags, result)) return result;
    DSP_CHECK(inSamps == nullptr, kName, "inSamps==0", kUnit);
    DSP_CHECK(outSamps == nullptr, kName, "outSamps==0", kUnit);
    if (DirectionBad(kName, flags, result)) return result;
    const bool inverse = (flags & dspFftInverse) != 0;
    const bool scaled = inverse && !(flags & dspFftNoScale);
    if (order == 0) {
        outSamps[0] = inSamps[0];
        return 1;
    }
    if (order == 1) {
        const float scale = scaled ? 0.5f : 1.0f;
        const float a = inSamps[0], b = inSamps[2];
        outSamps[0] = (a + b) * scale;
        outSamps[1] = (a - b) * scale;
        return 2;
    }
    TableHold hold(order);
    if (hold.status() != 0) return DSP_REPORT(dspStsMemErr, kName, "No working Twd memory", kUnit);
    const float scale = scaled ? 1.0f / static_cast<float>(int64_t{1} << order) : 1.0f;
    CcsToReal(inSamps, outSamps, *hold.tables(), inverse, scale);
    return CountOf(order);
}

void dspFreeFftTables() {
    dsp_internal::ReleaseAllTables();
}
