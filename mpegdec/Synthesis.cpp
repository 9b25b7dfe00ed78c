// Hybrid synthesis: inverse MDCT with overlap-add, frequency inversion and the polyphase
// filterbank. Output is in 16-bit sample units (the MDCT windows carry the 32768).
#include <cstring>

#include "mpegdec/Context.h"
#include "mpegdec/Tables.h"

namespace mpegdec {
namespace {

// x[0..35] = windowed inverse MDCT of X[0..17] for a long block type.
void ImdctLong(const float* X, float* x, const float* window, const Tables& t) {
    float y[18];
    for (int n = 0; n < 18; ++n) {
        float s = 0;
        const float* row = t.longCos[n];
        for (int k = 0; k < 18; ++k) s += X[k] * row[k];
        y[n] = s;
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
    float* ring = s.ring[ch];
    Dct32(in, ring + off);
    std::memcpy(ring + off + 512, ring + off, 32 * sizeof(float));
    const float* base = ring + off;
    // Even blocks read c[16 + j] (j < 16) or c[48 - j]; odd blocks c[16 - j] or c[j - 16].
    for (int j = 0; j < 32; ++j) {
        const int evenIdx = j <= 16 ? 16 + j : 48 - j;
        const int oddIdx = j <= 16 ? 16 - j : j - 16;
        const float* w = t.synthWindow[j];
        float sum = 0;
        for (int b = 0; b < 16; b += 2) {
            sum += w[b] * base[32 * b + (evenIdx & 31)];
            sum += w[b + 1] * base[32 * (b + 1) + oddIdx];
        }
        out[j] = sum;
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
