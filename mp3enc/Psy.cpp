// Psychoacoustic model (high quality only): spectra, spreading, tonality, thresholds,
// perceptual entropy, block decision and masking ratios per scale-factor band.
//
// The per-rate tables below are our own, computed from the description of psychoacoustic
// model 2 in ISO/IEC 11172-3 Annex D (and 13818-3 for the lower rates):
//   - threshold partitions: consecutive FFT lines grouped to about 1/3 Bark each, with the
//     Bark scale z(f) = 13 atan(0.00076 f) + 3.5 atan((f / 7500)^2);
//   - spreading function: the Annex D formula in Bark distance (slopes 3 below, 1.5 above
//     the masker), cut off below -60 dB;
//   - normalisation: the inverse of the spreading function's sum over the maskers;
//   - threshold in quiet: Terhardt's approximation of the absolute hearing threshold, in dB
//     with full scale at 96 dB, converted to energies of our FFT scale (10^(x/10)); a
//     partition takes its quietest line times its line count;
//   - minimum SNR per partition: 24.5 dB below 1 Bark falling to 0 dB at 13 Bark, our
//     smooth stand-in for the table's steps;
//   - partition-to-band mapping: each scale-factor band takes the partitions' energies and
//     thresholds in proportion to the FFT lines it overlaps.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "dsp/dsp.h"
#include "mp3enc/Context.h"
#include "mpeg/Tables.h"

namespace mp3enc {
namespace {

constexpr int kMaxPart = 72;
constexpr int kPredLines = 207;  // lines predicted from the two previous spectra

struct PartTable {
    int n;
    int first[kMaxPart], count[kMaxPart];
    float minval[kMaxPart], qthr[kMaxPart], norm[kMaxPart];
    float shortFactor[kMaxPart];     // norm x 10^(-SNR / 10) with the short blocks' fixed SNR
    float s[kMaxPart][kMaxPart];     // s[maskee][masker]
    int lo[kMaxPart], hi[kMaxPart];  // maskers with a non-zero spread, inclusive
};

struct BandSpan {
    float p0, p1;  // FFT line interval covered by the band
};

struct PsyRow {
    PartTable lp, sp;
    BandSpan lband[kLongBands], sband[kShortBands];
    float hannLong[1024], hannShort[256];
};

double Bark(double f) {
    return 13.0 * std::atan(0.00076 * f) + 3.5 * std::atan((f / 7500.0) * (f / 7500.0));
}

double QuietDb(double f) {
    const double k = std::max(f, 20.0) / 1000.0;
    return 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) +
           0.001 * k * k * k * k;
}

double MinSnrDb(double z) {
    if (z <= 1) return 24.5;
    if (z >= 13) return 0;
    return 24.5 * (13 - z) / 12;
}

void BuildPartitions(PartTable& t, int fftSize, double rate) {
    const int lines = fftSize / 2 + 1;
    const double hz = rate / fftSize;
    // Full-scale sine (16-bit) at 96 dB: its Hann-windowed peak bin in our energy scale.
    const double offsetDb = 20 * std::log10(32768.0 * fftSize / 4) - 96.0;
    double width = 1.0 / 3.0;
    for (;;) {
        t.n = 0;
        int a = 0;
        while (a < lines && t.n < kMaxPart) {
            int b = a + 1;
            while (b < lines && Bark(b * hz) - Bark(a * hz) < width) ++b;
            t.first[t.n] = a;
            t.count[t.n] = b - a;
            ++t.n;
            a = b;
        }
        if (a >= lines) break;
        width *= 1.1;
    }
    double bval[kMaxPart];
    for (int b = 0; b < t.n; ++b) {
        const double mid = (t.first[b] + (t.count[b] - 1) * 0.5) * hz;
        bval[b] = Bark(mid);
        t.minval[b] = float(MinSnrDb(bval[b]));
        double quiet = 1e30;
        for (int k = t.first[b]; k < t.first[b] + t.count[b]; ++k)
            quiet = std::min(quiet, QuietDb(k * hz));
        t.qthr[b] = float(t.count[b] * std::pow(10.0, (quiet + offsetDb) / 10.0));
    }
    for (int i = 0; i < t.n; ++i) {
        double sum = 0;
        t.lo[i] = t.n;
        t.hi[i] = -1;
        for (int j = 0; j < t.n; ++j) {
            double tx = (bval[i] - bval[j]) * (j >= i ? 3.0 : 1.5);
            double x = 0;
            if (tx >= 0.5 && tx <= 2.5) {
                const double u = tx - 0.5;
                x = 8.0 * (u * u - 2.0 * u);
            }
            tx += 0.474;
            const double y = 15.811389 + 7.5 * tx - 17.5 * std::sqrt(1.0 + tx * tx);
            const double s = y <= -60.0 ? 0.0 : std::pow(10.0, (x + y) / 10.0);
            t.s[i][j] = float(s);
            if (s > 0) {
                t.lo[i] = std::min(t.lo[i], j);
                t.hi[i] = j;
            }
            sum += s;
        }
        t.norm[i] = float(sum > 0 ? 1.0 / sum : 1.0);
        t.shortFactor[i] =
            float(t.norm[i] * std::pow(10.0, -std::max(double(t.minval[i]), 6.0) / 10.0));
    }
}

PsyRow g_rows[6];
std::once_flag g_rowOnce[6];

// Row order of the sampling rates: 32000, 44100, 48000, 16000, 22050, 24000 Hz.
const int32_t kRowRates[6] = {32000, 44100, 48000, 16000, 22050, 24000};

void BuildRow(int row) {
    PsyRow& r = g_rows[row];
    const double rate = kRowRates[row];
    BuildPartitions(r.lp, 1024, rate);
    BuildPartitions(r.sp, 256, rate);
    const int id = row < 3 ? 1 : 0;
    const int rateIndex = (row == 0 || row == 3) ? 2 : (row == 1 || row == 4) ? 0 : 1;
    const mpeg::BandTable& bands = mpeg::kBands[id][rateIndex];
    for (int b = 0; b < kLongBands; ++b) {
        r.lband[b].p0 = float(bands.l[b] * 512.0 / 576.0);
        r.lband[b].p1 = float(bands.l[b + 1] * 512.0 / 576.0);
    }
    for (int b = 0; b < kShortBands; ++b) {
        r.sband[b].p0 = float(bands.s[b] * 128.0 / 192.0);
        r.sband[b].p1 = float(bands.s[b + 1] * 128.0 / 192.0);
    }
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < 1024; ++i)
        r.hannLong[i] = float(0.5 - 0.5 * std::cos(2 * pi * (i + 0.5) / 1024));
    for (int i = 0; i < 256; ++i)
        r.hannShort[i] = float(0.5 - 0.5 * std::cos(2 * pi * (i + 0.5) / 256));
}

const PsyRow& Row(int row) {
    std::call_once(g_rowOnce[row], BuildRow, row);
    return g_rows[row];
}

// Sums per-line values (spread evenly over their partition) over a band's FFT lines.
float BandSum(const BandSpan& band, const float* perLine, int lines) {
    float sum = 0;
    const int a = int(band.p0);
    int b = int(std::ceil(band.p1));
    if (b > lines) b = lines;
    for (int j = a; j < b; ++j) {
        const float w = std::min(float(j + 1), band.p1) - std::max(float(j), band.p0);
        if (w > 0) sum += w * perLine[j];
    }
    return sum;
}

// Spreads partition energies: out[i] = sum over maskers j of s[i][j] * in[j].
void Spread(const PartTable& t, const double* in, double* out) {
    for (int i = 0; i < t.n; ++i) {
        double acc = 0;
        for (int j = t.lo[i]; j <= t.hi[i]; ++j) acc += double(t.s[i][j]) * in[j];
        out[i] = acc;
    }
}

struct Analysis {
    double pe;
    bool wantShort;
};

// Source samples of a model channel, in 16-bit units: in joint stereo 2 and 3 are mid and side.
void Fetch(const Mp3EncContext& c, int mc, int from, int count, const float* window, float* dst) {
    if (mc < 2) {
        const float* src = c.input[mc] + from;
        for (int i = 0; i < count; ++i) dst[i] = src[i] * window[i];
        return;
    }
    const float* a = c.input[0] + from;
    const float* b = c.input[1] + from;
    const float sign = mc == 2 ? 1.0f : -1.0f;
    for (int i = 0; i < count; ++i) dst[i] = (a[i] + sign * b[i]) * 0.70710678f * window[i];
}

// Short spectra: three 256-point windows across the next block's short windows. Their upper
// energies feed the block decision; the masking ratios (into res, when given) are only
// needed for granules that may be coded as short blocks.
constexpr int kAttackLine = 36;
void ShortWindows(const Mp3EncContext& c, const PsyRow& row, int mc, int at, double* hiEnergy,
                  ModelResult* res) {
    const PartTable& q = row.sp;
    for (int w = 0; w < 3; ++w) {
        alignas(32) float sbuf[256];
        alignas(32) float sspec[258];
        float es[129];
        Fetch(c, mc, at + 31 + 192 * w, 256, row.hannShort, sbuf);
        dspsRealFftNip(sbuf, sspec, 8, dspFftForward);
        double hi = 0;
        for (int k = 0; k < 129; ++k) {
            es[k] = sspec[2 * k] * sspec[2 * k] + sspec[2 * k + 1] * sspec[2 * k + 1];
            if (k >= kAttackLine) hi += es[k];
        }
        hiEnergy[w] = hi;
        if (!res) continue;
        double sebs[kMaxPart], secb[kMaxPart];
        float sthr[129], sen[129];
        for (int b = 0; b < q.n; ++b) {
            double se = 0;
            for (int k = q.first[b]; k < q.first[b] + q.count[b]; ++k) se += es[k];
            sebs[b] = se;
        }
        Spread(q, sebs, secb);
        for (int b = 0; b < q.n; ++b) {
            const double nb = secb[b] * q.shortFactor[b];
            const double th = std::max(double(q.qthr[b]), nb);
            for (int k = q.first[b]; k < q.first[b] + q.count[b]; ++k) {
                sthr[k] = float(th / q.count[b]);
                sen[k] = float(sebs[b] / q.count[b]);
            }
        }
        for (int sb = 0; sb < kShortBands; ++sb) {
            const float en = BandSum(row.sband[sb], sen, 129);
            const float th = BandSum(row.sband[sb], sthr, 129);
            res->ratioS[sb][w] = en > 0 ? th / en : 0.0;
        }
    }
}

// spectra: the long spectra of the model channels; mid and side are made from left and right,
// which come first, since the transform is linear.
Analysis AnalyseChannel(Mp3EncContext& c, const PsyRow& row, int mc, int at,
                        float (*spectra)[1026]) {
    ModelChannel& m = c.model[mc];
    Analysis out{};
    float* spectrum = spectra[mc];
    float e[513];
    if (mc < 2) {
        alignas(32) float buf[1024];
        Fetch(c, mc, at - 161, 1024, row.hannLong, buf);
        dspsRealFftNip(buf, spectrum, 10, dspFftForward);
    } else {
        const float sign = mc == 2 ? 0.70710678f : -0.70710678f;
        for (int k = 0; k < 1026; ++k)
            spectrum[k] = spectra[0][k] * 0.70710678f + spectra[1][k] * sign;
    }
    for (int k = 0; k < 513; ++k)
        e[k] = spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];

    // Unpredictability: distance of each line from its prediction out of the two previous
    // spectra (magnitude 2 r1 - r2, phase 2 phi1 - phi2), relative to their magnitudes.
    float cw[513];
    for (int k = 0; k < 513; ++k) {
        const float r = std::sqrt(e[k]);
        if (k < kPredLines) {
            const float rp = 2 * m.mag[0][k] - m.mag[1][k];
            // phasor of 2 phi1 - phi2 = u1^2 * conj(u2)
            const float a1 = m.re[0][k], b1 = m.im[0][k], a2 = m.re[1][k], b2 = m.im[1][k];
            const float sqr = a1 * a1 - b1 * b1, sqi = 2 * a1 * b1;
            const float pr = sqr * a2 + sqi * b2, pi = sqi * a2 - sqr * b2;
            float ur = 1, ui = 0;
            if (r > 0) {
                ur = spectrum[2 * k] / r;
                ui = spectrum[2 * k + 1] / r;
            }
            const float dr = r * ur - rp * pr, di = r * ui - rp * pi;
            const float denom = r + std::fabs(rp);
            cw[k] = denom > 0 ? std::sqrt(dr * dr + di * di) / denom : 0.0f;
            m.re[1][k] = m.re[0][k];
            m.im[1][k] = m.im[0][k];
            m.re[0][k] = ur;
            m.im[0][k] = ui;
        } else {
            cw[k] = 0.4f;
        }
        m.mag[1][k] = m.mag[0][k];
        m.mag[0][k] = r;
    }

    const PartTable& p = row.lp;
    double eb[kMaxPart], cb[kMaxPart], ecb[kMaxPart], ct[kMaxPart], thr[kMaxPart];
    for (int b = 0; b < p.n; ++b) {
        double se = 0, sc = 0;
        for (int k = p.first[b]; k < p.first[b] + p.count[b]; ++k) {
            se += e[k];
            sc += double(e[k]) * cw[k];
        }
        eb[b] = se;
        cb[b] = sc;
    }
    Spread(p, eb, ecb);
    Spread(p, cb, ct);
    float thrLine[513], enLine[513];
    double pe = 0;
    for (int b = 0; b < p.n; ++b) {
        double t = 0;
        if (ecb[b] > 0) {
            const double r = std::max(ct[b] / ecb[b], 0.01);
            t = -0.299 - 0.43 * std::log(float(r));
        }
        t = std::clamp(t, 0.0, 1.0);
        const double snr = std::max(double(p.minval[b]), 29.0 * t + 6.0 * (1.0 - t));
        const double nb = ecb[b] * p.norm[b] * std::exp(-0.230258509 * snr);
        // Pre-echo control against the two previous granules.
        const double limited = std::min(nb, std::min(2.0 * m.nb1[b], 16.0 * m.nb2[b]));
        thr[b] = std::max(double(p.qthr[b]), limited);
        m.nb2[b] = m.nb1[b];
        m.nb1[b] = nb;
        if (thr[b] < eb[b]) pe -= p.count[b] * std::log(float((thr[b] + 1.0) / (eb[b] + 1.0)));
        const float tl = float(thr[b] / p.count[b]), el = float(eb[b] / p.count[b]);
        for (int k = p.first[b]; k < p.first[b] + p.count[b]; ++k) {
            thrLine[k] = tl;
            enLine[k] = el;
        }
    }
    out.pe = pe;
    ModelResult& res = m.pending;
    res.pe = pe;
    for (int sb = 0; sb < kLongBands; ++sb) {
        const float en = BandSum(row.lband[sb], enLine, 513);
        const float th = BandSum(row.lband[sb], thrLine, 513);
        res.ratioL[sb] = en > 0 ? th / en : 0.0;
    }

    double hiEnergy[3];
    // Attacks are looked for above about 6 kHz, where pre-echo shows first.
    const double kAttackRatio = 5;
    if (mc < 2) ShortWindows(c, row, mc, at, hiEnergy, nullptr);
    if (mc < 2) {
        double mx = std::max(hiEnergy[0], std::max(hiEnergy[1], hiEnergy[2]));
        double mn = std::min(hiEnergy[0], std::min(hiEnergy[1], hiEnergy[2]));
        // Below this the windows hold little more than the 16-bit noise floor.
        mn = std::max(mn, 1e5);
        out.wantShort = pe > 3000 || mx > 30 * mn || (mx > 10 * mn && pe > 1000);
        // An attack: a short window much louder than the one before it.
        const double floor = 1e5 * (129 - kAttackLine) / 65.0;
        double prev = m.lastHi;
        for (int w = 0; w < 3; ++w) {
            if (hiEnergy[w] > floor && hiEnergy[w] > kAttackRatio * std::max(prev, floor / 10))
                out.wantShort = true;
            prev = hiEnergy[w];
        }
        m.lastHi = hiEnergy[2];
    } else {
        out.wantShort = pe >= 1800;
    }
    return out;
}

}  // namespace

bool PrepareModel(int32_t row) {
    Row(row);
    // The FFT tables of both orders are made now, so that no frame allocates.
    float dummy[1026] = {};
    return dspsRealFft(dummy, 10, dspFftMakeTables) >= 0 &&
           dspsRealFft(dummy, 8, dspFftMakeTables) >= 0;
}

void ResetModel(Mp3EncContext& c) {
    std::memset(c.model, 0, sizeof c.model);
    for (ModelChannel& m : c.model) {
        for (int k = 0; k < kPredLines; ++k) {
            m.re[0][k] = m.re[1][k] = 1;
        }
        m.pending.blockType = 0;
        m.pending.pe = 700;
        for (double& r : m.pending.ratioL) r = 0.01;
        for (auto& r : m.pending.ratioS)
            for (double& v : r) v = 0.01;
    }
}

void RunModel(Mp3EncContext& c, int32_t gr, int32_t at) {
    const PsyRow& row = Row(c.rateRow);
    const bool joint = c.mode == 1;
    const int modelChannels = joint ? 4 : c.channels;
    // The results computed one granule ago belong to the granule coded now.
    for (int mc = 0; mc < modelChannels; ++mc) c.result[gr][mc] = c.model[mc].pending;

    Analysis a[kModelChannels];
    alignas(32) float spectra[kModelChannels][1026];
    for (int mc = 0; mc < modelChannels; ++mc) a[mc] = AnalyseChannel(c, row, mc, at, spectra);

    // Block decision: transients seen in left or right switch both coded channels in joint
    // stereo, since mid/side needs the same block type in both.
    bool wantShort[kMaxChannels];
    for (int ch = 0; ch < c.channels; ++ch) wantShort[ch] = a[ch].wantShort;
    if (joint) wantShort[0] = wantShort[1] = a[0].wantShort || a[1].wantShort;
    for (int ch = 0; ch < c.channels; ++ch) {
        ModelChannel& state = c.model[ch];
        int32_t old = state.oldBlockType;
        int32_t next;
        if (!wantShort[ch]) {
            next = old == 2 ? 3 : 0;
        } else {
            next = 2;
            if (old == 0)
                old = 1;
            else if (old == 3)
                old = 2;
        }
        c.result[gr][ch].blockType = old;
        if (joint) c.result[gr][ch + 2].blockType = old;
        state.oldBlockType = next;
        // A granule after a short one may still become short itself.
        if (next != 0) {
            double hi[3];
            ShortWindows(c, row, ch, at, hi, &c.model[ch].pending);
            if (joint) ShortWindows(c, row, ch + 2, at, hi, &c.model[ch + 2].pending);
        }
    }
}

void ChooseStereo(Mp3EncContext& c) {
    // The listener hears left and right, so mid/side may only add as much noise to each as the
    // quieter side's threshold allows: mid and side share twice that in proportion to their own
    // thresholds. Bits are estimated as perceptual entropy over the MDCT bands.
    const mpeg::BandTable& t = mpeg::kBands[c.id][c.rateIndex];
    double peLr = 0, peMs = 0;
    double msRatio[2][2][kShortBands * 3 > kLongBands ? kShortBands * 3 : kLongBands];
    auto entropy = [](double lines, double e, double x) {
        return e > x && x > 0 ? lines * std::log(e / x) : (e > 0 && x <= 0 ? lines * 20.0 : 0.0);
    };
    for (int gr = 0; gr < c.granules; ++gr) {
        const float* l = c.xr[gr][0];
        const float* r = c.xr[gr][1];
        ModelResult* res = c.result[gr];
        const bool isShort = c.gi[gr][0].block_type == 2;
        const int count = isShort ? kShortBands * 3 : kLongBands;
        for (int k = 0; k < count; ++k) {
            int a, b;
            double* ratio[4];
            if (isShort) {
                const int sfb = k / 3, win = k % 3, w = t.s[sfb + 1] - t.s[sfb];
                a = 3 * t.s[sfb] + win * w;
                b = a + w;
                for (int m = 0; m < 4; ++m) ratio[m] = &res[m].ratioS[sfb][win];
            } else {
                a = t.l[k];
                b = t.l[k + 1];
                for (int m = 0; m < 4; ++m) ratio[m] = &res[m].ratioL[k];
            }
            double el = 0, er = 0, em = 0, es = 0;
            for (int i = a; i < b; ++i) {
                el += double(l[i]) * l[i];
                er += double(r[i]) * r[i];
                const double sum = double(l[i]) + r[i], diff = double(l[i]) - r[i];
                em += sum * sum;
                es += diff * diff;
            }
            em *= 0.5;
            es *= 0.5;
            const double xl = *ratio[0] * el, xr = *ratio[1] * er;
            const double limit = std::min(xl, xr);
            const double tm = *ratio[2] * em, ts = *ratio[3] * es;
            const double xm = tm + ts > 0 ? 2 * limit * tm / (tm + ts) : limit;
            const double xs = 2 * limit - xm;
            const double lines = b - a;
            peLr += entropy(lines, el, xl) + entropy(lines, er, xr);
            peMs += entropy(lines, em, xm) + entropy(lines, es, xs);
            msRatio[gr][0][k] = em > 0 ? xm / em : 0;
            msRatio[gr][1][k] = es > 0 ? xs / es : 0;
        }
    }
    // Mid/side is coded at one step for both channels, which the estimate does not see: it is
    // kept unless left/right promises clearly fewer bits.
    const bool ms = peMs < peLr * 1.2;
    c.modeExt = ms ? 2 : 0;
    for (int gr = 0; gr < c.granules; ++gr) {
        ModelResult* res = c.result[gr];
        if (!ms) continue;
        float* l = c.xr[gr][0];
        float* r = c.xr[gr][1];
        for (int i = 0; i < kLines; ++i) {
            const float a = l[i], b = r[i];
            l[i] = (a + b) * 0.70710678f;
            r[i] = (a - b) * 0.70710678f;
        }
        const bool isShort = c.gi[gr][0].block_type == 2;
        for (int ch = 0; ch < 2; ++ch) {
            res[ch].pe = res[ch + 2].pe;
            if (isShort) {
                for (int k = 0; k < kShortBands * 3; ++k)
                    res[ch].ratioS[k / 3][k % 3] = msRatio[gr][ch][k];
            } else {
                for (int k = 0; k < kLongBands; ++k) res[ch].ratioL[k] = msRatio[gr][ch][k];
            }
        }
    }
}

}  // namespace mp3enc
