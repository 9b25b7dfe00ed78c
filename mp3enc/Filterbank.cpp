// Polyphase analysis filterbank and the MDCT with block switching.
#include <cmath>
#include <cstring>
#include <mutex>

#include "mp3enc/Context.h"
#include "mpeg/Window.h"

namespace mp3enc {
namespace {

struct FilterTables {
    float window[512];     // analysis window C[i] = D[i] / 32 of the synthesis window
    float matrix[32][32];  // cos((2k + 1) n pi / 64) on the folded input
    // Window x kernel, divided by the gain of the decoder's inverse transform (N / 4) so that
    // the two in series reconstruct the subband samples.
    float longMdct[4][18][36];  // per long block type (2 unused)
    float shortMdct[6][12];
    float cs[8], ca[8];
};

FilterTables g_filter;

void BuildFilterTables() {
    FilterTables& t = g_filter;
    const double pi = 3.14159265358979323846;
    const float* d = mpeg::SynthesisWindow();
    for (int i = 0; i < 512; ++i) t.window[i] = d[i] / 32.0f;
    for (int k = 0; k < 32; ++k)
        for (int n = 0; n < 32; ++n) t.matrix[k][n] = float(std::cos((2 * k + 1) * n * pi / 64));
    double w[4][36] = {};
    for (int i = 0; i < 36; ++i) w[0][i] = std::sin((i + 0.5) * pi / 36);
    for (int i = 0; i < 18; ++i) w[1][i] = std::sin((i + 0.5) * pi / 36);
    for (int i = 18; i < 24; ++i) w[1][i] = 1;
    for (int i = 24; i < 30; ++i) w[1][i] = std::sin((i + 0.5 - 18) * pi / 12);
    for (int i = 6; i < 12; ++i) w[3][i] = std::sin((i + 0.5 - 6) * pi / 12);
    for (int i = 12; i < 18; ++i) w[3][i] = 1;
    for (int i = 18; i < 36; ++i) w[3][i] = std::sin((i + 0.5) * pi / 36);
    for (int b = 0; b < 4; ++b)
        for (int k = 0; k < 18; ++k)
            for (int n = 0; n < 36; ++n)
                t.longMdct[b][k][n] =
                    float(w[b][n] * std::cos(pi / 72 * (2 * n + 1 + 18) * (2 * k + 1)) / 9.0);
    for (int k = 0; k < 6; ++k)
        for (int n = 0; n < 12; ++n)
            t.shortMdct[k][n] = float(std::sin((n + 0.5) * pi / 12) *
                                      std::cos(pi / 24 * (2 * n + 1 + 6) * (2 * k + 1)) / 3.0);
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
        float* s = out[slot];
        for (int k = 0; k < 32; ++k) {
            float acc = 0;
            for (int n = 0; n < 32; ++n) acc += t.matrix[k][n] * f[n];
            s[k] = acc;
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
        if (blockType == 2) {
            for (int w = 0; w < 3; ++w)
                for (int k = 0; k < 6; ++k) {
                    float acc = 0;
                    for (int n = 0; n < 12; ++n) acc += t.shortMdct[k][n] * z[6 + 6 * w + n];
                    out[3 * k + w] = acc;
                }
        } else {
            for (int k = 0; k < 18; ++k) {
                float acc = 0;
                const float* row = t.longMdct[blockType][k];
                for (int n = 0; n < 36; ++n) acc += row[n] * z[n];
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
