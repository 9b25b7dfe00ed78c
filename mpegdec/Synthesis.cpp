// Hybrid synthesis: inverse MDCT with overlap-add, frequency inversion and the polyphase
// filterbank. Output is in 16-bit sample units (the MDCT windows carry the 32768).
#include <cstring>

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

// Windowed inverse MDCT of X[0..17] (36 values x) with overlap-add: out[i] = x[i] +
// overlap[i], then overlap[i] = x[18 + i].
void ImdctLong(const float* X, const float* window, float* overlap, float* out, const Tables& t) {
    float y[20] = {};
    for (int k = 0; k < 18; ++k) {
        const float xk = X[k];
        const float* col = t.longCos[k];
        for (int n = 0; n < 20; ++n) y[n] += xk * col[n];
    }
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

void PolyphaseWindow(SynthesisState& s, int ch, const float* c, float* out) {
    const Tables& t = GetTables();
    int32_t off = s.offset[ch] - 32;
    if (off < 0) off = 480;
    s.offset[ch] = off;
    const int slot = off / 32;
    float(*same)[16] = s.ring[ch][slot & 1];
    const float(*other)[16] = s.ring[ch][(slot & 1) ^ 1];
    const int at = slot >> 1;
    for (int m = 0; m < 32; ++m) same[m][at] = same[m][at + 8] = c[m];

    // Block b (0 = newest) is in slot + b: even b in `same` from `at` on, odd b in `other`
    // from (slot + 1) / 2 on. Output k reads transform output kEvenRow[k] of the even blocks
    // and kOddRow[k] of the odd ones (output 16 has no even part: its window is zero there).
    static const uint8_t kEvenRow[32] = {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                                         27, 28, 29, 30, 31, 0,  31, 30, 29, 28, 27,
                                         26, 25, 24, 23, 22, 21, 20, 19, 18, 17};
    static const uint8_t kOddRow[32] = {16, 15, 14, 13, 12, 11, 10, 9,  8,  7, 6,
                                        5,  4,  3,  2,  1,  0,  1,  2,  3,  4, 5,
                                        6,  7,  8,  9,  10, 11, 12, 13, 14, 15};
    const int atOdd = (slot + 1) >> 1;
    for (int k = 0; k < 32; k += 4) {
        V4 acc[4];
        for (int i = 0; i < 4; ++i) {
            const float* we = t.synthEven[k + i];
            const float* wo = t.synthOdd[k + i];
            const float* e = &same[kEvenRow[k + i]][at];
            const float* o = &other[kOddRow[k + i]][atOdd];
            acc[i] = Load4(we) * Load4(e) + Load4(we + 4) * Load4(e + 4) + Load4(wo) * Load4(o) +
                     Load4(wo + 4) * Load4(o + 4);
        }
        // Horizontal sums of the four accumulators, one per lane.
        const V4 ab = __builtin_shufflevector(acc[0], acc[1], 0, 4, 1, 5) +
                      __builtin_shufflevector(acc[0], acc[1], 2, 6, 3, 7);
        const V4 cd = __builtin_shufflevector(acc[2], acc[3], 0, 4, 1, 5) +
                      __builtin_shufflevector(acc[2], acc[3], 2, 6, 3, 7);
        Store4(out + k, __builtin_shufflevector(ab, cd, 0, 1, 4, 5) +
                            __builtin_shufflevector(ab, cd, 2, 3, 6, 7));
    }
}

void HybridSynthesis(MpegDecContext& c, int gr, int ch, float* out) {
    const Tables& t = GetTables();
    const GranuleInfo& g = c.si.gr[gr][ch];
    alignas(16) float time[32][20];  // [subband][slot], two slots of padding
    for (int sb = 0; sb < 32; ++sb) {
        const float* X = c.lines + 18 * sb;
        float* ov = c.overlap[ch][sb];
        float* ts = time[sb];
        bool zero = true;
        for (int k = 0; k < 18; ++k)
            if (X[k] != 0.0f) {
                zero = false;
                break;
            }
        if (zero) {
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
        for (int lane = 0; lane < 4 && slot + lane < 18; ++lane) {
            float cm[32];
            for (int m = 0; m < 32; ++m) cm[m] = res[m][lane];
            PolyphaseWindow(*c.synth, ch, cm, out + 32 * (slot + lane));
        }
    }
}

void ClearSynthesis(MpegDecContext& c) {
    std::memset(c.overlap, 0, sizeof c.overlap);
    std::memset(c.synth->ring, 0, sizeof c.synth->ring);
    c.synth->offset[0] = c.synth->offset[1] = 0;
}

}  // namespace mpegdec
