#include "mpegdec/Tables.h"

#include <cmath>
#include <mutex>

namespace mpegdec {

namespace {

Tables g_tables;

void Build() {
    Tables& t = g_tables;
    const double pi = 3.14159265358979323846;
    for (int g = 0; g < 256; ++g) t.gain[g] = float(std::pow(2.0, (g - 210) / 4.0));
    for (int q = 0; q < kPow43Size; ++q) t.pow43[q] = float(std::pow(double(q), 4.0 / 3.0));
    for (int m = 0; m < 64; ++m) t.pow2Half[m] = float(std::pow(2.0, -m / 2.0));
    for (int p = 0; p < 16; ++p) {
        const double r = (p % 12 == 6) ? 1e20 : std::tan(p * pi / 12);
        t.isLeft[p] = float(r / (1 + r));
        t.isRight[p] = float(1 / (1 + r));
    }
    for (int odd = 0; odd < 2; ++odd) {
        const double io = odd ? std::pow(2.0, -0.5) : std::pow(2.0, -0.25);
        for (int k = 0; k < 32; ++k) t.lsfIs[odd][k] = float(std::pow(io, k));
    }
    const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int i = 0; i < 8; ++i) {
        const double sq = std::sqrt(1 + c[i] * c[i]);
        t.cs[i] = float(1 / sq);
        t.ca[i] = float(c[i] / sq);
    }
    double w[4][36] = {};
    for (int i = 0; i < 36; ++i) w[0][i] = std::sin((i + 0.5) * pi / 36);
    for (int i = 0; i < 18; ++i) w[1][i] = std::sin((i + 0.5) * pi / 36);
    for (int i = 18; i < 24; ++i) w[1][i] = 1;
    for (int i = 24; i < 30; ++i) w[1][i] = std::sin((i + 0.5 - 18) * pi / 12);
    for (int i = 0; i < 12; ++i) w[2][i] = std::sin((i + 0.5) * pi / 12);
    for (int i = 6; i < 12; ++i) w[3][i] = std::sin((i + 0.5 - 6) * pi / 12);
    for (int i = 12; i < 18; ++i) w[3][i] = 1;
    for (int i = 18; i < 36; ++i) w[3][i] = std::sin((i + 0.5) * pi / 36);
    for (int b = 0; b < 4; ++b)
        for (int i = 0; i < 36; ++i) t.window[b][i] = float(w[b][i] * 32768);
    for (int n = 0; n < 12; ++n)
        for (int k = 0; k < 6; ++k)
            t.shortMatrix[n][k] =
                float(std::cos((2 * n + 7) * (2 * k + 1) * pi / 24) * w[2][n] * 32768);
    for (int k = 0; k < 18; ++k)
        for (int n = 0; n < 24; ++n)
            t.longCos[k][n] = n < 18 ? float(std::cos(pi / 72 * (2 * n + 1) * (2 * k + 1))) : 0.0f;
    int at = 0;
    for (int n = 32; n >= 2; n /= 2)
        for (int i = 0; i < n / 2; ++i)
            t.dct32[at++] = float(1 / (2 * std::cos((2 * i + 1) * pi / (2 * n))));
    // Output j sums sixteen ring blocks; even blocks hold V[0..31], odd ones V[32..63] of
    // the matrixing, which are +-c[...] of the 32-point transform (see Synthesis.cpp).
    for (int j = 0; j < 32; ++j)
        for (int b = 0; b < 16; ++b) {
            float sign;
            if (b % 2 == 0)
                sign = j <= 15 ? 1.0f : (j == 16 ? 0.0f : -1.0f);
            else
                sign = -1.0f;
            (b % 2 == 0 ? t.synthEven : t.synthOdd)[b / 2][j] =
                sign * SynthesisWindow()[j + 32 * b];
        }
}

}  // namespace

const Tables& GetTables() {
    // A function-local static: after the first call only a guard check, no library call.
    static const bool built = (Build(), true);
    (void)built;
    return g_tables;
}

}  // namespace mpegdec
