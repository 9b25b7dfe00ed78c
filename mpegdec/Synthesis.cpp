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

// x[0..35] = windowed inverse MDCT of X[0..17] for a long block type.
void ImdctLong(const float* X, float* x, const float* window, const Tables& t) {
    float y[20] = {};
    for (int k = 0; k < 18; ++k) {
        const float xk = X[k];
        if (xk == 0.0f) continue;
        const float* col = t.longCos[k];
        for (int n = 0; n < 20; ++n) y[n] += xk * col[n];
    }
    for (int i = 0; i < 9; ++i) x[i] = y[i + 9] * window[i];
    for (int i = 9; i < 27; ++i) x[i] = -y[26 - i] * window[i];
    for (int i = 27; i < 36; ++i) x[i] = -y[i - 27] * window[i];
}

void ImdctShort(const float* X, float* x, const Tables& t) {
    for (int i = 0; i < 36; ++i) x[i] = 0;
    for (int w = 0; w < 3; ++w) {
        for (int n = 0; n < 12; ++n) {
            float s = 0;
            for (int k = 0; k < 6; ++k) s += X[3 * k + w] * t.shortMatrix[n][k];
            x[6 + 6 * w + n] += s;
        }
    }
}

namespace {

template <int N>
inline void Dct(const float* in, float* out, const float* k) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int H = N / 2;
        float a[H], b[H], A[H], B[H + 1];
        for (int i = 0; i < H; ++i) {
            a[i] = in[i] + in[N - 1 - i];
            b[i] = (in[i] - in[N - 1 - i]) * k[i];
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

}  // namespace

void Dct32(const float* in, float* out) {
    Dct<32>(in, out, GetTables().dct32);
}

void PolyphaseSlot(SynthesisState& s, int ch, const float* in, float* out) {
    const Tables& t = GetTables();
    int32_t off = s.offset[ch] - 32;
    if (off < 0) off = 480;
    s.offset[ch] = off;
    const int slot = off / 32;
    float c[32];
    Dct32(in, c);
    float(*same)[16] = s.ring[ch][slot & 1];
    const float(*other)[16] = s.ring[ch][(slot & 1) ^ 1];
    const int at = slot >> 1;
    for (int m = 0; m < 32; ++m) same[m][at] = same[m][at + 8] = c[m];

    // Block b (0 = newest) is in slot + b: even b in `same` from `at` on, odd b in `other`
    // from (slot + 1) / 2 on. Even blocks feed output j from transform output 16 + j, odd
    // ones from 16 - j; outputs j and 32 - j share those values.
    const int atOdd = (slot + 1) >> 1;
    auto dot = [](const float* we, const float* e, const float* wo, const float* o) {
        const V4 a = Load4(we) * Load4(e) + Load4(we + 4) * Load4(e + 4) + Load4(wo) * Load4(o) +
                     Load4(wo + 4) * Load4(o + 4);
        return (a[0] + a[1]) + (a[2] + a[3]);
    };
    static const float kZero[8] = {};
    out[0] = dot(t.synthEven[0], &same[16][at], t.synthOdd[0], &other[16][atOdd]);
    out[16] = dot(kZero, kZero, t.synthOdd[16], &other[0][atOdd]);
    for (int j = 1; j < 16; ++j) {
        const float* even = &same[16 + j][at];
        const float* odd = &other[16 - j][atOdd];
        out[j] = dot(t.synthEven[j], even, t.synthOdd[j], odd);
        out[32 - j] = dot(t.synthEven[32 - j], even, t.synthOdd[32 - j], odd);
    }
}

void HybridSynthesis(MpegDecContext& c, int gr, int ch, float* out) {
    const Tables& t = GetTables();
    const GranuleInfo& g = c.si.gr[gr][ch];
    float time[18][32];  // [slot][subband]
    for (int sb = 0; sb < 32; ++sb) {
        const float* X = c.lines + 18 * sb;
        float* ov = c.overlap[ch][sb];
        bool zero = true;
        for (int k = 0; k < 18; ++k)
            if (X[k] != 0.0f) {
                zero = false;
                break;
            }
        float x[36];
        if (zero) {
            for (int i = 0; i < 18; ++i) {
                time[i][sb] = ov[i];
                ov[i] = 0;
            }
        } else {
            int type = g.window_switching_flag ? g.block_type : 0;
            if (g.window_switching_flag && g.mixed_block_flag && sb < 2) type = 0;
            if (type == 2)
                ImdctShort(X, x, t);
            else
                ImdctLong(X, x, t.window[type], t);
            for (int i = 0; i < 18; ++i) {
                time[i][sb] = x[i] + ov[i];
                ov[i] = x[18 + i];
            }
        }
        if (sb & 1)
            for (int i = 1; i < 18; i += 2) time[i][sb] = -time[i][sb];
    }
    for (int slot = 0; slot < 18; ++slot) PolyphaseSlot(*c.synth, ch, time[slot], out + 32 * slot);
}

void ClearSynthesis(MpegDecContext& c) {
    std::memset(c.overlap, 0, sizeof c.overlap);
    std::memset(c.synth->ring, 0, sizeof c.synth->ring);
    c.synth->offset[0] = c.synth->offset[1] = 0;
}

}  // namespace mpegdec
