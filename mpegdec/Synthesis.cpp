// Hybrid synthesis: inverse MDCT with overlap-add, frequency inversion and the polyphase
// filterbank. Output is in 16-bit sample units (the MDCT windows carry the 32768).
#include <cstring>

#include "mpegdec/Context.h"
#include "mpegdec/Tables.h"

namespace mpegdec {
namespace {

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
    float(*ring)[32] = s.ring[ch];
    for (int m = 0; m < 32; ++m) ring[m][slot] = ring[m][slot + 16] = c[m];

    // Block b (0 = newest) is at column slot + b. Even blocks feed output j from transform
    // output 16 + j, odd blocks from 16 - j; outputs j and 32 - j share those values.
    const float* r16 = &ring[16][slot];
    const float* r0 = &ring[0][slot];
    float s0 = 0, s16 = 0;
    for (int b = 0; b < 16; ++b) {
        s0 += t.synthWindow[0][b] * r16[b];
        s16 += t.synthWindow[16][b] * r0[b];
    }
    out[0] = s0;
    out[16] = s16;
    for (int j = 1; j < 16; ++j) {
        const float* even = &ring[16 + j][slot];
        const float* odd = &ring[16 - j][slot];
        float v[16];
        for (int b = 0; b < 16; b += 2) {
            v[b] = even[b];
            v[b + 1] = odd[b + 1];
        }
        const float* wa = t.synthWindow[j];
        const float* wb = t.synthWindow[32 - j];
        // Four running sums each: a shape the compiler maps onto vector lanes.
        float a[4] = {}, z[4] = {};
        for (int b = 0; b < 16; b += 4)
            for (int k = 0; k < 4; ++k) {
                a[k] += wa[b + k] * v[b + k];
                z[k] += wb[b + k] * v[b + k];
            }
        out[j] = (a[0] + a[1]) + (a[2] + a[3]);
        out[32 - j] = (z[0] + z[1]) + (z[2] + z[3]);
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
