// Tonal analysis: the sub-block level grid, the five-resolution component search with removal
// from the residual, the choice of components within the budget, the band envelopes and the
// component coding.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

namespace kvmc {

int32_t AmpCode(float x) {
    if (!(x >= 1.4142135f)) {
        if (x >= 1.0f) return 4;
        if (x >= 0.70710677f) return 3;
        if (x >= 0.5f) return 2;
        if (x >= 0.35355338f) return 1;
        return 0;
    }
    int32_t code = 4;
    if (x >= 65536.0f) {
        code += 32;
        x /= 65536.0f;
    }
    if (x >= 256.0f) {
        code += 16;
        x /= 256.0f;
    }
    if (x >= 16.0f) {
        code += 8;
        x /= 16.0f;
    }
    if (x >= 4.0f) {
        code += 4;
        x /= 4.0f;
    }
    if (x >= 2.0f) {
        code += 2;
        x /= 2.0f;
    }
    if (x >= 1.4142135f) code += 1;
    return code;
}

float AmpValue(int code) {
    static const float kLow[6] = {0.1768f, 0.4268f, 0.6036f, 0.8536f, 1.2071f, 1.6836f};
    if (code < 0) return 0.0f;
    if (code < 6) return kLow[code];
    if (code > 46) return 0.0f;
    if (code % 2 == 0) return 2.375f * std::ldexp(1.0f, (code - 6) / 2);
    return 3.3671875f * std::ldexp(1.0f, (code - 7) / 2);
}

int32_t PhaseCode(float y, float x) {
    double angle = std::atan2(double(y), double(x));
    if (angle < 0) angle += 2.0 * M_PI;
    return int32_t(0.5 + angle * 4.0 / M_PI) & 7;
}

// Eight envelope levels as a polyline: the first level, then for each straight run its length
// and the signed step to its end.
void AddEnvelope(KvmcEncoder& e, SymbolList& list, const int32_t lv[8]) {
    ListAdd(list, e.codes, lv[0], 0, false);
    int last = 0;
    while (last < 7) {
        // Longest run from `last` whose levels lie on the straight line to its end.
        int end = last + 1;
        for (int j = 7; j > last + 1; --j) {
            bool straight = true;
            for (int i = last + 1; i < j && straight; ++i)
                straight = lv[i] == lv[last] + (lv[j] - lv[last]) * (i - last) / (j - last);
            if (straight) {
                end = j;
                break;
            }
        }
        ListAdd(list, e.codes, end - last - 1, 2, false);
        const int32_t prev = lv[last], now = lv[end];
        ListAdd(list, e.codes, prev >= now ? 2 * (prev - now) : 2 * (now - prev) - 1, 1, false);
        last = end;
    }
}

namespace {

constexpr float kT[6][8] = {
    {0.014161f, 0.030329f, 0.127338f, -0.212193f, -0.212193f, 0.127338f, 0.030329f, 0.01416f},
    {0.014137f, -0.030305f, 0.127314f, 0.212217f, -0.212216f, -0.127314f, 0.030306f, -0.014138f},
    {-0.014137f, -0.030329f, 0.127314f, -0.212193f, 0.212216f, -0.127338f, 0.030306f, 0.01416f},
    {0.014161f, 0.030305f, -0.127338f, 0.212217f, -0.212193f, 0.127314f, -0.030329f, -0.014138f},
    {-0.014161f, 0.030329f, -0.127338f, -0.212193f, 0.212193f, 0.127338f, -0.030329f, 0.01416f},
    {-0.014137f, -0.030305f, -0.127314f, 0.212217f, 0.212216f, -0.127314f, -0.030306f, -0.014138f},
};

// Stable sort of `count` indices by 32-bit key, largest first (least significant byte first,
// on the complemented key). `bytes` low bytes of the key take part.
void RadixSortDescending(const uint32_t* keys, int32_t* idx, int32_t* tmp, int32_t count,
                         int bytes) {
    for (int b = 0; b < bytes; ++b) {
        int32_t counts[257] = {};
        const int shift = 8 * b;
        for (int32_t i = 0; i < count; ++i) ++counts[((~keys[idx[i]]) >> shift & 0xFF) + 1];
        for (int i = 0; i < 256; ++i) counts[i + 1] += counts[i];
        for (int32_t i = 0; i < count; ++i) tmp[counts[(~keys[idx[i]]) >> shift & 0xFF]++] = idx[i];
        std::memcpy(idx, tmp, sizeof(int32_t) * size_t(count));
    }
}

inline float& Grid(KvmcEncoder& e, int32_t row, int32_t u) {
    row = std::clamp(row, 0, KvmcEncoder::kGridRows - 1);
    return e.grid[row * 256 + u];
}

// Transient gain over the sub-blocks [s0, s0 + count): the mean of max(1, E[s+1][u] / E[s][u])
// over u = 8, 24, 40, ... and consecutive pairs.
float TransientGain(KvmcEncoder& e, int32_t s0, int32_t count) {
    const int32_t bins = 1 << (e.n + 6);
    double sum = 0;
    int32_t terms = 0;
    for (int32_t s = s0; s + 1 < s0 + count; ++s)
        for (int32_t u = 8; u < bins; u += 16) {
            const float a = Grid(e, s, u), b = Grid(e, s + 1, u);
            sum += std::max(1.0f, b / a);
            ++terms;
        }
    return terms ? float(sum / terms) : 1.0f;
}

// Neighbourhood of bin k: k - k/6 - 2 .. k + k/6 + 1, clipped to 1..last.
inline void Neighbourhood(int32_t k, int32_t last, int32_t& lo, int32_t& hi) {
    lo = std::max<int32_t>(1, k - k / 6 - 2);
    hi = std::min<int32_t>(last, k + k / 6 + 1);
}

}  // namespace

void SubBlockAnalysis(KvmcEncoder& e) {
    const int32_t n = e.n, W = 1 << (n + 7), bins = 1 << (n + 6);
    const int32_t start = e.subBlockPos - W / 4;
    const int32_t row = e.subBlockPos / (e.H / 16);
    float* level = &Grid(e, row, 0);
    for (int32_t k = 0; k < bins; ++k) level[k] = 0.0f;
    for (int c = 0; c < e.channels; ++c) {
        for (int32_t i = 0; i < W; ++i) {
            const int32_t at = start + i;
            e.fftIn[i] = (at >= 0 && at < 5 * e.H) ? e.history[c][at] * e.subWindow[i] : 0.0f;
        }
        dspsRealFftNip(e.fftIn, e.fftOut[0], n + 7, dspFftForward);
        const float scale = 1.0f / float(W);
        for (int32_t k = 0; k < bins; ++k) {
            const float re = e.fftOut[0][2 * k] * scale, im = e.fftOut[0][2 * k + 1] * scale;
            level[k] += std::max(0.1f, std::sqrt(re * re + im * im)) / float(e.channels);
        }
    }
    // Bands 0, 3, 6, 9, 12, then a quarter wider each; each bin holds its band's mean.
    int32_t b0 = 0;
    while (b0 < bins) {
        const int32_t b1 = std::min(bins, b0 < 12 ? b0 + 3 : b0 + b0 / 4);
        float sum = 0;
        for (int32_t k = b0; k < b1; ++k) sum += level[k];
        float mean = sum / float(b1 - b0);
        if (b0 == 0)
            mean /= 3.0f;
        else if (b0 < 12)
            mean /= 2.0f;
        for (int32_t k = b0; k < b1; ++k) level[k] = mean;
        b0 = b1;
    }
}

// Subband of bin k at row q, then its envelope band (the last band past the coded ones).
int32_t EnvelopeBand(const KvmcEncoder& e, int q, int32_t k) {
    const int32_t j = std::min<int32_t>(k >> (e.n + 1 + q), 29);
    int32_t b = 0;
    while (b + 1 < e.bandCount && e.bandStart[b + 1] <= j) ++b;
    return b;
}

void BuildThresholds(KvmcEncoder& e, int q, float G) {
    const int32_t half = 1 << (e.n + 6 + q), last = half - 2;
    const float F0 = e.floorFactor;
    const float U = (float(q) * ((G + 1.0f) * e.GA + F0) + 0.8f) / 64.0f;
    const float V = (float(q) * F0 + 0.8f) / 64.0f;
    for (int32_t i = 0; i < half; ++i) {
        int32_t f = i >> (q + 1);
        if (!e.wideBand) f = std::min(f, 48);
        int32_t lo, hi;
        Neighbourhood(i, last, lo, hi);
        const float h = float(std::max(7, hi - lo + 1));
        e.threshA[q][i] = f > 16 ? (float(f) * U + 1.5f) / h : (float(f) * V + 1.5f) / h;
        e.threshB[q][i] =
            (float(f) * (0.8f + 2.0f * q) * 0.0359375f - (0.8f * q - 1.5f)) * e.GB / h;
    }
}

namespace {

// Subtracts the component measured as Y = X[k] - X[k+1] (spectrum scaled by 1/L) from the
// residual over the transform's span, under a sin^2 taper so that the two interleaved series
// of a row, half a transform apart, add up to one. A sinusoid A cos(2 pi (k + 1/2) t / L + p)
// gives Y = j (2A / pi) e^(jp), so the removed signal is (pi/2)(Im Y cos w t + Re Y sin w t).
// A decoder synthesises the same signal from the amplitude and phase codes.
void RemoveComponent(KvmcEncoder& e, float* plane, int32_t L, int32_t k, float yr, float yi) {
    const uint32_t step = uint32_t((uint64_t(2 * k + 1) << 31) / uint64_t(L));
    const int32_t taperStep = 8192 / L;
    const float a = float(M_PI / 2) * yi, b = float(M_PI / 2) * yr;
    uint32_t phase = 0;
    for (int32_t t = 0; t < L; ++t) {
        const uint32_t idx = phase >> 18;
        const float s = e.sine[idx], c = e.sine[(idx + 4096) & 16383];
        const float w = e.sine[t * taperStep];
        plane[t] -= (a * c + b * s) * w * w;
        phase += step;
    }
}

}  // namespace

void RowAnalysis(KvmcEncoder& e, int q, int32_t position) {
    const int32_t n = e.n, order = n + 7 + q, L = 1 << order, half = L / 2;
    const int32_t last = half - 2;  // magnitudes exist for bins 1..L/2-2
    const int32_t offset = (128 << n) + position;
    const int ch = e.channels;
    const float inv = 1.0f / float(L);
    const int32_t subLen = e.H / 16;
    const int32_t s0 = offset / subLen, spans = 1 << (q + 1);

    for (int c = 0; c < ch; ++c) {
        dspsRealFftNip(e.history[c] + offset, e.fftOut[c], order, dspFftForward);
        float* X = e.fftOut[c];
        dspsbMpy1(inv, X, L + 2);
        float* m = e.mag[c];
        m[0] = 0.0f;
        for (int32_t k = 1; k <= last; ++k) {
            const float dr = X[2 * k] - X[2 * k + 2], di = X[2 * k + 1] - X[2 * k + 3];
            m[k] = dr * dr + di * di;
        }
        dspsbSqrt1(m + 1, last);
        m[last + 1] = 0.0f;
        e.prefix[c][0] = 0.0f;
        for (int32_t k = 0; k <= last + 1; ++k) e.prefix[c][k + 1] = e.prefix[c][k] + m[k];
        std::memset(e.marks[c], 0, size_t(half));
    }

    // Search range.
    int32_t kLo = int32_t(std::floor(float(half - 2) * e.bandBottom)) + 1;
    if (e.wideBand && order <= n + 8) kLo = std::max(kLo, 2);
    int32_t kHi = int32_t(std::floor(float(half - 2) * e.bandTop)) + 1;
    if (e.wideBand || (e.flags & kKvmcFlagRefinedTables)) {
        if (order == n + 7) kHi = std::min(kHi, 48);
        if (order == n + 8) kHi = std::min(kHi, 192);
    }
    if (n == 0) kHi = std::min(kHi, 56 << (order - 7));
    if (n == 1) kHi = std::min(kHi, 112 << (order - 8));
    kHi = std::min(kHi, last + 1);
    if (kLo >= kHi) return;

    float G = e.refinedGain;
    if (!(e.flags & kKvmcFlagRefinedTables)) {
        G = TransientGain(e, s0, spans);
        BuildThresholds(e, q, G);
    }
    const float* A = e.threshA[q];
    const float* B = e.threshB[q];
    const bool normalNoTables = !e.wideBand && !(e.flags & kKvmcFlagRefinedTables);
    const bool neighbourTest = !(normalNoTables && q == 0);
    const bool shapeTest = !(normalNoTables && q == 0 && (position % L) != 0);

    auto neighbourSum = [&](int c, int32_t k) {
        int32_t lo, hi;
        Neighbourhood(k, last, lo, hi);
        return e.prefix[c][hi + 1] - e.prefix[c][lo];
    };

    // Candidates, keyed by 128 m[k] (the larger channel in stereo).
    int32_t count = 0;
    for (int32_t k = kLo; k < kHi; ++k) {
        float best = 0.0f;
        bool pass = q == 0;
        for (int c = 0; c < ch; ++c) {
            const float mk = e.mag[c][k];
            best = std::max(best, mk);
            if (!pass && neighbourSum(c, k) * A[k] < mk) pass = true;
        }
        if (!pass) continue;
        e.candKeys[count] = uint32_t(std::min(128.0f * best, 16777215.0f));
        e.candBins[count] = k;
        ++count;
    }
    int32_t* order_ = e.candTmp;
    int32_t* tmp = e.candTmp + 4096 * 2;
    for (int32_t i = 0; i < count; ++i) order_[i] = i;
    RadixSortDescending(e.candKeys, order_, tmp, count, 3);

    const float levelLimit = std::max(16.0f / (G * G), 2.0f);
    const int32_t taken = std::min<int32_t>(count, 256);
    for (int32_t ci = 0; ci < taken; ++ci) {
        const int32_t k = e.candBins[order_[ci]];
        bool accept[2] = {false, false};
        bool weak[2] = {false, false};
        for (int c = 0; c < ch; ++c) {
            const float mk = e.mag[c][k];
            if (e.marks[c][k] || !(mk >= 0.5f)) continue;
            if (neighbourTest) {
                const float S = neighbourSum(c, k);
                if (S * A[k] >= mk) continue;
                weak[c] = S * B[k] >= mk;
            }
            if (shapeTest) {
                const float* X = e.fftOut[c];
                float pr = 0, pi = 0, qr = 0, qi = 0, rr = 0, ri = 0;
                for (int j = 0; j < 8; ++j) {
                    const int32_t bin = k - 3 + j;
                    if (bin < 1 || bin > last) continue;
                    const float a = X[2 * bin], b = X[2 * bin + 1];
                    pr += a * kT[1][j] + b * kT[0][j];
                    pi += b * kT[1][j] - a * kT[0][j];
                    qr += a * kT[3][j] + b * kT[2][j];
                    qi += b * kT[3][j] - a * kT[2][j];
                    rr += a * kT[5][j] + b * kT[4][j];
                    ri += b * kT[5][j] - a * kT[4][j];
                }
                const float P2 = pr * pr + pi * pi, Q2 = qr * qr + qi * qi, R2 = rr * rr + ri * ri;
                if (!(4 * Q2 >= P2 && 4 * Q2 >= R2 && Q2 <= 9 * P2 && Q2 <= 9 * R2)) continue;
            }
            if (e.wideBand) {
                const int32_t u = std::min(k >> q, (1 << (n + 6)) - 1);
                bool loud = false;
                for (int32_t i = 0; i < spans && !loud; ++i) {
                    const float w = float((1.0 - std::cos(M_PI * (2 * i + 1) / spans)) / 2.0);
                    loud = mk * w / Grid(e, s0 + i, u) > levelLimit;
                }
                if (loud) continue;
            }
            accept[c] = true;
        }
        if (!accept[0] && !accept[1]) continue;

        Component comp{};
        comp.bin = int16_t(k);
        for (int c = 0; c < ch; ++c) {
            if (!accept[c]) continue;
            const float* X = e.fftOut[c];
            comp.amp[c] = uint8_t(std::min(AmpCode(e.mag[c][k]), 63));
            const float dr = X[2 * k] - X[2 * k + 2], di = X[2 * k + 1] - X[2 * k + 3];
            comp.state[c] = uint8_t((weak[c] ? 2 : 1) << 4 | PhaseCode(di, dr));
        }
        if (accept[0] && accept[1] && std::abs(int(comp.amp[0]) - int(comp.amp[1])) > 5) {
            const int weaker = comp.amp[0] < comp.amp[1] ? 0 : 1;
            accept[weaker] = false;
            comp.state[weaker] = 0;
            comp.amp[weaker] = 0;
        }
        ComponentList& list = position < e.H ? e.current[q] : e.next[q];
        comp.position = int16_t(position < e.H ? position : position - e.H);
        if (list.count >= kComponentsPerRow) continue;
        list.items[list.count++] = comp;
        for (int c = 0; c < ch; ++c) {
            if (!accept[c]) continue;
            const float* X = e.fftOut[c];
            RemoveComponent(e, e.history[c] + offset, L, k, X[2 * k] - X[2 * k + 2],
                            X[2 * k + 1] - X[2 * k + 3]);
            e.marks[c][k] = 1;
            if (k > 0) e.marks[c][k - 1] = 1;
            if (k + 1 < half) e.marks[c][k + 1] = 1;
        }
    }
}

// ---------------------------------------------------------------------------
// Band envelopes and component coding
// ---------------------------------------------------------------------------

namespace {

// Envelope levels (8 slots of 16 subband samples) per coded band and channel into `out`
// [channel][band][slot]. The weight table is plain: every subband of a band counts equally.
void EnvelopeLevels(KvmcEncoder& e, int32_t out[2][10][8]) {
    for (int c = 0; c < e.channels; ++c) {
        for (int b = 0; b < e.envelopeBands; ++b) {
            const int32_t j0 = e.bandStart[b], j1 = std::max(j0 + 1, e.bandStart[b + 1]);
            for (int s = 0; s < 8; ++s) {
                float sum = 0;
                for (int32_t j = j0; j < j1; ++j) {
                    const float* x = e.subband[c] + j * 128 + s * 16;
                    float sq = 0;
                    for (int t = 0; t < 16; ++t) sq += x[t] * x[t];
                    sum += std::sqrt(sq / 4.0f);
                }
                float level = sum / float(j1 - j0);
                if (!e.wideBand) {
                    level *= 0.8f;
                    if (b == 0)
                        level = 0.0f;
                    else if (b == 1)
                        level *= 0.5f;
                    else if (b == 2)
                        level *= 0.7f;
                }
                out[c][b][s] = std::min(AmpCode(level * 0.7f), 127);
            }
        }
    }
}

int32_t EnvelopeBandOf(const KvmcEncoder& e, int q, int32_t k) {
    return EnvelopeBand(e, q, k);
}

void AdvanceTo(KvmcEncoder& e, SymbolList& list, int q, int32_t& t, int32_t target) {
    int32_t u = target - t;
    while (u > 0) {
        if (u > 7) {
            ListAdd(list, e.codes, 1, 16 + q, true);
            u -= 8;
        } else {
            ListAdd(list, e.codes, 0, 16 + q, true);
            u -= 1;
        }
    }
    t = target;
}

// Codes every component that still has a present channel; records the six ranges.
void CodeComponents(KvmcEncoder& e) {
    SymbolList& list = e.lists[2];
    list.Clear();
    const bool alt = (e.flags & kKvmcFlagAltTonal) != 0;
    const int ampCodeNo = alt ? 6 : 5;
    // Header (sub-packet 13, flag 0x10 with 0x01; in the single tonal sub-packet otherwise
    // not written): the number of coded components of rows 4..0 (at most 63; an empty row is
    // the marker 1000, written 0) and the number of coded envelope bands.
    e.rangeFirst[0] = e.rangeLast[0] = e.rangeBits[0] = 0;
    if (alt && (e.flags & kKvmcFlagRowSubPackets)) {
        for (int q = 4; q >= 0; --q) {
            int32_t coded = 0;
            for (int32_t i = 0; i < e.current[q].count; ++i) {
                const Component& c = e.current[q].items[i];
                if ((Present(c.state[0]) || Present(c.state[1])) &&
                    !(c.amp[0] < e.referenceCode && c.amp[1] < e.referenceCode))
                    ++coded;
            }
            const int32_t v = coded == 0 ? 1000 : std::min(coded, 63);
            ListAddRaw(list, v == 1000 ? 0 : v, 6);
        }
        ListAddRaw(list, e.envelopeBands, 6);
        e.rangeLast[0] = list.count;
        e.rangeBits[0] = list.bits;
    }
    for (int q = 4; q >= 0; --q) {
        const int r = 5 - q;
        const int32_t firstEntry = list.count, firstBits = list.bits;
        const int32_t unitShift = e.n + 6 + q, units = 16 >> q;
        int32_t c = 0, t = 0;
        const ComponentList& row = e.current[q];
        for (int32_t i = 0; i < row.count; ++i) {
            // Room for this component (at most 15 entries) and the advance symbols of the rows
            // still to come (at most 9 each); components beyond are not coded.
            if (list.count + 15 + 9 * (q + 1) > kListCapacity) break;
            const Component& comp = row.items[i];
            const bool p0 = Present(comp.state[0]), p1 = e.channels == 2 && Present(comp.state[1]);
            if (!p0 && !p1) continue;
            const int a0 = p0 ? comp.amp[0] : 0, a1 = p1 ? comp.amp[1] : 0;
            if (a0 < e.referenceCode && a1 < e.referenceCode) continue;
            const int32_t band = EnvelopeBandOf(e, q, comp.bin);
            const int32_t pos = comp.position >> unitShift;
            if (pos > t) {
                AdvanceTo(e, list, q, t, pos);
                c = 0;
            }
            ListAdd(list, e.codes, comp.bin - c + 1, 16 + q, true);
            c = comp.bin;
            // Amplitudes are coded above the reference of their band: the band's loudest
            // envelope level less 16, at least 0 (a quieter component is coded at the
            // reference).
            if (p0 && !p1) {
                if (e.channels == 2) ListAddRaw(list, 0, 2);
                ListAdd(list, e.codes, std::max(0, a0 - e.envelopeRef[0][band]), ampCodeNo, false);
                ListAddRaw(list, PhaseOf(comp.state[0]), 3);
            } else if (p1 && !p0) {
                ListAddRaw(list, 1, 2);
                ListAdd(list, e.codes, std::max(0, a1 - e.envelopeRef[1][band]), ampCodeNo, false);
                ListAddRaw(list, PhaseOf(comp.state[1]), 3);
            } else {
                const int s = a0 < a1 ? 1 : 0;
                const int hiCh = s, loCh = 1 - s;
                const int hi = s ? a1 : a0, lo = s ? a0 : a1;
                ListAddRaw(list, 2 + s, 2);
                ListAdd(list, e.codes, std::max(0, hi - e.envelopeRef[hiCh][band]), ampCodeNo,
                        false);
                ListAddRaw(list, PhaseOf(comp.state[hiCh]), 3);
                ListAdd(list, e.codes, hi - lo, 8, false);
                ListAdd(list, e.codes, (PhaseOf(comp.state[hiCh]) - PhaseOf(comp.state[loCh])) & 7,
                        9, false);
            }
        }
        AdvanceTo(e, list, q, t, units);
        e.rangeFirst[r] = firstEntry;
        e.rangeLast[r] = list.count;
        e.rangeBits[r] = list.bits - firstBits;
    }
}

int32_t TonalBits(const KvmcEncoder& e) {
    int32_t total = 0;
    for (int r = 0; r <= 5; ++r) total += (e.rangeBits[r] + 7) & ~7;
    return total;
}

}  // namespace

void CodeTonal(KvmcEncoder& e, int32_t budget) {
    FilterBank(e);

    // Band envelopes (sub-packet 9); flattened, then silenced, should they not fit.
    int32_t lv[2][10][8];
    EnvelopeLevels(e, lv);
    SymbolList& env = e.lists[1];
    for (int pass = 0; pass < 3; ++pass) {
        env.Clear();
        for (int b = 0; b < e.envelopeBands; ++b)
            for (int c = 0; c < e.channels; ++c) AddEnvelope(e, env, lv[c][b]);
        if (env.bits <= budget / 2) break;
        for (int c = 0; c < e.channels; ++c)
            for (int b = 0; b < e.envelopeBands; ++b) {
                const int32_t top = pass == 0 ? *std::max_element(lv[c][b], lv[c][b] + 8) : 0;
                for (int s = 0; s < 8; ++s) lv[c][b][s] = top;
            }
    }
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < 10; ++b) {
            int32_t top = 0;
            if (c < e.channels && b < e.envelopeBands)
                top = *std::max_element(lv[c][b], lv[c][b] + 8);
            e.envelopeRef[c][b] = std::max(0, top - 16);
        }
    const int32_t B = budget - ((env.bits + 7) & ~7);

    // Importance of every present channel entry.
    const int32_t subLen = e.H / 16;
    const int32_t gridBins = 1 << (e.n + 6);
    int32_t entries = 0;
    for (int q = 4; q >= 0; --q) {
        ComponentList& row = e.current[q];
        // Position first, then bin: the coding walks forward in time and codes bins as
        // increments within one position.
        std::sort(row.items, row.items + row.count, [](const Component& a, const Component& b) {
            return a.position != b.position ? a.position < b.position : a.bin < b.bin;
        });
        const int32_t spans = 1 << (q + 1);
        for (int32_t i = 0; i < row.count; ++i) {
            const Component& comp = row.items[i];
            const int32_t u = std::min(comp.bin >> q, gridBins - 1);
            const int32_t s0 = ((128 << e.n) + comp.position) / subLen;
            float wsum = 0, F = 1.0f;
            for (int32_t k = 0; k < spans; ++k) {
                const float w = float((1.0 - std::cos(M_PI * (2 * k + 1) / spans)) / 2.0);
                wsum += w / std::sqrt(Grid(e, s0 + k, u));
            }
            if (q <= 1 && u > (4 << e.n)) {
                F = 1.0f;
                for (int32_t k = 0; k + 1 < spans; ++k)
                    F = std::max(F, std::min(4.0f, Grid(e, s0 + k + 1, u) / Grid(e, s0 + k, u)));
            }
            for (int c = 0; c < e.channels; ++c) {
                if (!Present(comp.state[c])) continue;
                const double imp = double(AmpValue(comp.amp[c])) * wsum * F * 512.0;
                SelectionEntry& s = e.sel[entries];
                s.key = imp >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(imp);
                s.row = int16_t(q);
                s.channel = int16_t(c);
                s.index = i;
                ++entries;
            }
        }
    }
    // Sort the entries by key, largest first (stable).
    uint32_t* keys = e.candKeys;
    int32_t* idx = e.candTmp;
    int32_t* tmp = e.candTmp + kSelectionCapacity;
    for (int32_t i = 0; i < entries; ++i) {
        keys[i] = e.sel[i].key;
        idx[i] = i;
    }
    RadixSortDescending(keys, idx, tmp, entries, 4);

    static const int32_t kK[3] = {4, 7, 10};
    const int32_t K = kK[e.rateClass];
    double estimate = double(B - e.channels * (K - 1) * 25);
    const bool small = e.channels == 2 || e.n < 2;
    if (e.flags & kKvmcFlagAltTonal) {
        estimate = small ? estimate * 0.08695652173913043 : estimate / 12.0;
    } else {
        estimate /= small ? 13.0 : 14.0;
    }
    int32_t count = std::clamp<int32_t>(int32_t(estimate), 0, entries);

    auto drop = [&](int32_t from) {
        for (int32_t i = from; i < entries; ++i) {
            const SelectionEntry& s = e.sel[idx[i]];
            uint8_t& st = e.current[s.row].items[s.index].state[s.channel];
            if (Present(st)) st = uint8_t(3 << 4 | (st & 7));
        }
    };
    if (e.wideBand) {
        int32_t kept = 0;
        while (kept < count && e.sel[idx[kept]].key >= 6144) ++kept;
        count = kept;
    }
    drop(count);
    for (int pass = 0; pass < 30; ++pass) {
        CodeComponents(e);
        const int32_t total = TonalBits(e);
        if (total < B || count == 0) break;
        int32_t reduced = int32_t(double(B) / (double(total) / count));
        if (reduced >= count) reduced = count - 1;
        count = std::max(reduced, 0);
        drop(count);
    }
    if (TonalBits(e) >= B && count > 0) {
        count = 0;
        drop(0);
        CodeComponents(e);
    }
}

}  // namespace kvmc
