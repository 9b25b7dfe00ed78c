// Polyphase analysis filterbank and the MDCT with block switching.
#include <cmath>
#include <cstring>
#include <mutex>

#include "mp3enc/Context.h"
#include "mpeg/Window.h"

namespace mp3enc {
namespace {

struct FilterTables {
    float window[512];  // analysis window C[i] = D[i] / 32 of the synthesis window
    // cos((2k + 1) n pi / 64) for k < 16 on the folded input, even n then odd n: output 31 - k
    // takes the same terms with the odd ones negated.
    float even[16][16], odd[16][16];
    // Windows per block type, and the DCT-IV kernels that the folded MDCT inputs go through,
    // divided by the gain of the decoder's inverse transform (N / 4) so that the two in series
    // reconstruct the subband samples.
    float window36[4][36];
    float window12[12];
    float dct18[18][18];
    float dct6[6][6];
    float cs[8], ca[8];
};

FilterTables g_filter;

void BuildFilterTables() {
    FilterTables& t = g_filter;
    const double pi = 3.14159265358979323846;
    const float* d = mpeg::SynthesisWindow();
    for (int i = 0; i < 512; ++i) t.window[i] = d[i] / 32.0f;
    for (int k = 0; k < 16; ++k)
        for (int n = 0; n < 16; ++n) {
            t.even[k][n] = float(std::cos((2 * k + 1) * (2 * n) * pi / 64));
            t.odd[k][n] = float(std::cos((2 * k + 1) * (2 * n + 1) * pi / 64));
        }
    double w[4][36] = {};
    for (int i = 0; i < 36; ++i) w[0][i] = std::sin((i + 0.5) * pi / 36);
    for (int i = 0; i < 18; ++i) w[1][i] = std::sin((i + 0.5) * pi / 36);
    for (int i = 18; i < 24; ++i) w[1][i] = 1;
    for (int i = 24; i < 30; ++i) w[1][i] = std::sin((i + 0.5 - 18) * pi / 12);
    for (int i = 6; i < 12; ++i) w[3][i] = std::sin((i + 0.5 - 6) * pi / 12);
    for (int i = 12; i < 18; ++i) w[3][i] = 1;
    for (int i = 18; i < 36; ++i) w[3][i] = std::sin((i + 0.5) * pi / 36);
    for (int b = 0; b < 4; ++b)
        for (int n = 0; n < 36; ++n) t.window36[b][n] = float(w[b][n]);
    for (int n = 0; n < 12; ++n) t.window12[n] = float(std::sin((n + 0.5) * pi / 12));
    for (int k = 0; k < 18; ++k)
        for (int n = 0; n < 18; ++n)
            t.dct18[k][n] = float(std::cos(pi / 18 * (n + 0.5) * (k + 0.5)) / 9.0);
    for (int k = 0; k < 6; ++k)
        for (int n = 0; n < 6; ++n)
            t.dct6[k][n] = float(std::cos(pi / 6 * (n + 0.5) * (k + 0.5)) / 3.0);
    const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int i = 0; i < 8; ++i) {
        const double sq = std::sqrt(1 + c[i] * c[i]);
        t.cs[i] = float(1 / sq);
        t.ca[i] = float(c[i] / sq);
    }
}

const FilterTables& Filter() {
    static std::once_flag once;
    std::call_once(once, BuildFilterTables);
    return g_filter;
}

}  // namespace

void AnalyseGranule(Mp3EncContext& c, int32_t ch, const float* pcm, float (*out)[32]) {
    const FilterTables& t = Filter();
    AnalysisState& a = *c.analysis;
    float* ring = a.ring[ch];
    for (int slot = 0; slot < 18; ++slot) {
        int32_t off = a.offset[ch] - 32;
        if (off < 0) off += 512;
        a.offset[ch] = off;
        // Newest sample first, so that X[i] = ring[off + i] is the ISO input order.
        for (int i = 0; i < 32; ++i) {
            const float v = pcm[slot * 32 + 31 - i] * (1.0f / 32768.0f);
            ring[off + i] = v;
            ring[off + 512 + i] = v;
        }
        const float* x = ring + off;
        float y[64];
        for (int i = 0; i < 64; ++i) {
            float s = 0;
            for (int j = 0; j < 8; ++j) s += t.window[i + 64 * j] * x[i + 64 * j];
            y[i] = s;
        }
        // Fold the 64 sums onto a 32-point cosine transform: cos((2k+1)(i-16)pi/64) is even
        // around i = 16 and odd around i = 48.
        float f[32];
        f[0] = y[16];
        for (int n = 1; n <= 16; ++n) f[n] = y[16 + n] + y[16 - n];
        for (int n = 17; n < 32; ++n) f[n] = y[16 + n] - y[80 - n];
        float fe[16], fo[16];
        for (int n = 0; n < 16; ++n) {
            fe[n] = f[2 * n];
            fo[n] = f[2 * n + 1];
        }
        float* s = out[slot];
        for (int k = 0; k < 16; ++k) {
            float e = 0, o = 0;
            for (int n = 0; n < 16; ++n) {
                e += t.even[k][n] * fe[n];
                o += t.odd[k][n] * fo[n];
            }
            s[k] = e + o;
            s[31 - k] = e - o;
        }
        // Frequency inversion: odd time samples of odd subbands change sign.
        if (slot & 1)
            for (int k = 1; k < 32; k += 2) s[k] = -s[k];
    }
}

void Mdct(const float (*prev)[32], const float (*cur)[32], int32_t blockType, float* xr) {
    const FilterTables& t = Filter();
    for (int sb = 0; sb < 32; ++sb) {
        float z[36];
        for (int n = 0; n < 18; ++n) {
            z[n] = prev[n][sb];
            z[18 + n] = cur[n][sb];
        }
        float* out = xr + sb * 18;
        // The MDCT of (a, b, c, d), quarters of the windowed input, is the DCT-IV of
        // (-c reversed - d, a - b reversed).
        if (blockType == 2) {
            for (int w = 0; w < 3; ++w) {
                float x[12], u[6];
                for (int n = 0; n < 12; ++n) x[n] = z[6 + 6 * w + n] * t.window12[n];
                for (int n = 0; n < 3; ++n) {
                    u[n] = -x[8 - n] - x[9 + n];
                    u[3 + n] = x[n] - x[5 - n];
                }
                for (int k = 0; k < 6; ++k) {
                    float acc = 0;
                    for (int n = 0; n < 6; ++n) acc += t.dct6[k][n] * u[n];
                    out[3 * k + w] = acc;
                }
            }
        } else {
            const float* win = t.window36[blockType];
            float x[36], u[18];
            for (int n = 0; n < 36; ++n) x[n] = z[n] * win[n];
            for (int n = 0; n < 9; ++n) {
                u[n] = -x[26 - n] - x[27 + n];
                u[9 + n] = x[n] - x[17 - n];
            }
            for (int k = 0; k < 18; ++k) {
                float acc = 0;
                for (int n = 0; n < 18; ++n) acc += t.dct18[k][n] * u[n];
                out[k] = acc;
            }
        }
    }
    if (blockType == 2) return;
    for (int sb = 0; sb < 31; ++sb)
        for (int k = 0; k < 8; ++k) {
            const float u = xr[sb * 18 + 17 - k];
            const float d = xr[(sb + 1) * 18 + k];
            xr[sb * 18 + 17 - k] = u * t.cs[k] + d * t.ca[k];
            xr[(sb + 1) * 18 + k] = d * t.cs[k] - u * t.ca[k];
        }
}

}  // namespace mp3enc
