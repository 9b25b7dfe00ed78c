// The decoder: packet validation and parsing with the encoder's code tables, then the signal:
// tonal components resynthesised into an overlap-add buffer, the residual rebuilt in the 32
// subbands (wide-band coefficients, or noise shaped by the band envelopes) and brought back by
// the synthesis filter bank that matches the encoder's analysis.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "dsp/dsp.h"
#include "kvmc/Internal.h"

using namespace kvmc;

namespace {

constexpr int32_t kDecoderMarker = 41093;
constexpr int kPeekBits = 12;
constexpr int32_t kMaxComponents = 8192;
constexpr int32_t kAccLength = 4 * kMaxHop;  // overlap-add span: a component ends before 3H + 512

struct DecodedComponent {
    int16_t row, bin;
    int32_t position;  // samples after the packet's first source frame
    uint8_t amp[2];    // amplitude codes
    uint8_t phase[2];
    uint8_t present[2];
};

// Lookup of the first kPeekBits bits: leaf + 1 in the high bits, the length in the low 5; 0
// when the code word is longer (searched by length then).
struct DecodeTable {
    uint16_t fast[1 << kPeekBits];
    bool single;  // only the escape: it takes no bits
};

struct Reader {
    const uint8_t* data = nullptr;
    int32_t bits = 0;
    int32_t pos = 0;
    bool overrun = false;  // a read passed the payload; what it returned is not data

    uint32_t Peek(int width) const {
        uint32_t v = 0;
        int32_t at = pos;
        int got = 0;
        while (got < width) {
            const int32_t byte = at >> 3;
            if (byte >= (bits + 7) >> 3) break;
            const int shift = at & 7;
            const int take = std::min(8 - shift, width - got);
            v |= uint32_t(data[byte] >> shift & ((1u << take) - 1)) << got;
            got += take;
            at += take;
        }
        return v;
    }
    void Skip(int width) {
        pos += width;
        if (pos > bits) overrun = true;
    }
    uint32_t Raw(int width) {
        const uint32_t v = Peek(width);
        Skip(width);
        return v;
    }
    int32_t Left() const { return bits - pos; }
};

}  // namespace

struct KvmcDecoder {
    int32_t marker = kDecoderMarker;
    bool configured = false;
    KvmcEncoder s;  // the stream's settings only; none of its buffers is obtained
    HuffCode codes[kCodeCount];
    DecodeTable tables[kCodeCount];

    // Parsed packet.
    int32_t envelope[2][10][8];
    int32_t envelopeRef[2][10];
    DecodedComponent* components = nullptr;
    int32_t componentCount = 0;
    int16_t* coef[2] = {};     // 30 x 128 values per channel
    uint8_t* written[2] = {};  // 30 x 128: the value was in the packet
    bool wideData = false;
    int32_t level[2][3][8];
    int32_t drop[2][3][8][8];
    bool levelKnown[2][3][8];
    bool baseKnown[2][3];
    bool dropKnown[2][3][8][8];

    // Signal.
    float* acc[2] = {};      // kAccLength: tonal overlap-add, index 0 = the packet's first frame
    float* subband[2] = {};  // 32 x 128
    float* synthV[2] = {};   // 1024: the synthesis filter bank's V vector
    int32_t synthPos = 0;
    float* synthOut[2] = {};     // 4096: filter bank output of one packet
    float* matrixOut = nullptr;  // 32 x 128: the filter bank's scratch
    float* mix = nullptr;        // 2 x kMaxHop: one hop, interleaved, before rounding
    float amp[64];               // AmpValue of every amplitude code
    uint32_t noise = 1;
};

namespace {

bool Valid(const KvmcDecoder* d) {
    return d && d->marker == kDecoderMarker;
}

void BuildTable(const HuffCode& code, DecodeTable& t) {
    std::memset(t.fast, 0, sizeof t.fast);
    int leaves = 0;
    for (int i = 0; i < kLeafCount; ++i) leaves += code.present[i];
    t.single = leaves == 1;
    for (int i = 0; i < kLeafCount; ++i) {
        const int len = code.length[i];
        if (!code.present[i] || len == 0 || len > kPeekBits) continue;
        for (uint32_t hi = 0; hi < (1u << (kPeekBits - len)); ++hi)
            t.fast[code.bits[i] | hi << len] = uint16_t((i + 1) << 5 | len);
    }
}

// Symbol of `code`, or -1 for a bit pattern that is no code word or a read past the payload.
int32_t Symbol(KvmcDecoder& d, Reader& r, int code) {
    const DecodeTable& t = d.tables[code];
    int leaf = 0;
    if (!t.single) {
        const uint32_t peek = r.Peek(kPeekBits);
        const uint16_t e = t.fast[peek];
        if (e) {
            leaf = (e >> 5) - 1;
            r.Skip(e & 31);
        } else {
            const HuffCode& c = d.codes[code];
            const uint32_t wide = r.Peek(32);
            leaf = -1;
            for (int i = 0; i < kLeafCount && leaf < 0; ++i) {
                const int len = c.length[i];
                if (c.present[i] && len > kPeekBits &&
                    (wide & (len >= 32 ? ~0u : (1u << len) - 1)) == c.bits[i]) {
                    leaf = i;
                    r.Skip(len);
                }
            }
            if (leaf < 0) return -1;
        }
        if (r.overrun) return -1;
    }
    if (leaf > 0) return leaf - 1;
    const int k = int(r.Raw(3)) + 1;
    const int32_t s = int32_t(r.Raw(k));
    return r.overrun ? -1 : s;
}

int32_t Value(KvmcDecoder& d, Reader& r, int code, bool bucketed) {
    const int32_t s = Symbol(d, r, code);
    if (s < 0 || !bucketed) return s;
    if (s > 63) return -1;
    const int32_t v = BucketBase(s) + int32_t(r.Raw(s / 4));
    return r.overrun ? -1 : v;
}

// An 8-point polyline: first level, then runs on a straight line to their end level.
bool ReadEnvelope(KvmcDecoder& d, Reader& r, int32_t lv[8]) {
    lv[0] = Value(d, r, 0, false);
    if (lv[0] < 0) return false;
    int last = 0;
    while (last < 7) {
        const int32_t run = Value(d, r, 2, false);
        if (run < 0 || last + run + 1 > 7) return false;
        const int32_t diff = Value(d, r, 1, false);
        if (diff < 0) return false;
        const int end = last + run + 1;
        lv[end] = diff % 2 == 0 ? lv[last] - diff / 2 : lv[last] + (diff + 1) / 2;
        for (int i = last + 1; i < end; ++i)
            lv[i] = lv[last] + (lv[end] - lv[last]) * (i - last) / (end - last);
        last = end;
    }
    return true;
}

bool ReadRows(KvmcDecoder& d, Reader& r, int qFirst, int qLast) {
    const KvmcEncoder& s = d.s;
    const int ampCode = (s.flags & kKvmcFlagAltTonal) ? 6 : 5;
    for (int q = qFirst; q >= qLast; --q) {
        const int32_t units = 16 >> q, unitShift = s.n + 6 + q;
        const int32_t lastBin = (1 << (s.n + 6 + q)) - 2;
        int32_t t = 0, bin = 0;
        while (t < units) {
            const int32_t v = Value(d, r, 16 + q, true);
            if (v < 0) return false;
            if (v <= 1) {
                t += v == 0 ? 1 : 8;
                bin = 0;
                continue;
            }
            bin += v - 1;
            if (bin > lastBin || d.componentCount >= kMaxComponents) return false;
            DecodedComponent& c = d.components[d.componentCount];
            c = DecodedComponent{};
            c.row = int16_t(q);
            c.bin = int16_t(bin);
            c.position = (128 << s.n) + (t << unitShift);
            const int sel = s.channels == 2 ? int(r.Raw(2)) : 0;
            const int32_t amp = Value(d, r, ampCode, false);
            const int phase = int(r.Raw(3));
            if (amp < 0 || r.overrun) return false;
            const int32_t band = EnvelopeBand(s, q, bin);
            if (sel < 2) {
                c.present[sel] = 1;
                c.amp[sel] = uint8_t(std::min(amp + d.envelopeRef[sel][band], 63));
                c.phase[sel] = uint8_t(phase);
            } else {
                const int hi = sel - 2, lo = 1 - hi;
                const int32_t diff = Value(d, r, 8, false);
                const int32_t dphase = Value(d, r, 9, false);
                if (diff < 0 || dphase < 0) return false;
                const int32_t a = std::min(amp + d.envelopeRef[hi][band], 63);
                c.present[0] = c.present[1] = 1;
                c.amp[hi] = uint8_t(a);
                c.amp[lo] = uint8_t(std::max(0, a - diff));
                c.phase[hi] = uint8_t(phase);
                c.phase[lo] = uint8_t((phase - dphase) & 7);
            }
            ++d.componentCount;
        }
        if (t != units) return false;
    }
    return true;
}

// One group of one channel (or of both under the joint flag) into `v`; stops at the end of
// the payload: the values read stand, the rest stay unwritten.
void ReadGroup(KvmcDecoder& d, Reader& r, int32_t cls, int16_t* v, uint8_t* w) {
    const uint32_t fine = r.Raw(1);
    if (r.overrun) return;
    int t = 0;
    auto put = [&](int at, int32_t value) {
        if (at < 128) {
            v[at] = int16_t(value);
            w[at] = 1;
        }
    };
    while (t < 128) {
        switch (cls) {
            case 34:
                if (t == 0) {
                    r.Raw(2);  // the channel the group belongs to
                    const int32_t x = int32_t(r.Raw(5));
                    if (r.overrun) return;
                    put(0, x);
                } else {
                    const int32_t x = Value(d, r, 15, false);
                    if (x < 0) return;
                    put(t, std::min(x, 8));
                }
                t += 1;
                break;
            case 30: {
                const int32_t x = Value(d, r, 14, false);
                if (x < 0) return;
                put(t, std::min(x, 6));
                t += 1;
                break;
            }
            case 24: {
                const int32_t x = int32_t(r.Raw(7));
                if (r.overrun) return;
                put(t, std::min(x / 25, 4));
                put(t + 1, x / 5 % 5);
                put(t + 2, x % 5);
                t += 3;
                break;
            }
            case 16:
                if (fine) {
                    int32_t x = 1;
                    if (r.Raw(1)) x = r.Raw(1) ? 2 : 0;
                    if (r.overrun) return;
                    put(t, x);
                    t += 1;
                } else {
                    int32_t x = int32_t(r.Raw(8));
                    if (r.overrun) return;
                    x = std::min(x, 242);
                    for (int i = 4; i >= 0; --i) {
                        put(t + i, x % 3);
                        x /= 3;
                    }
                    t += 5;
                }
                break;
            case 10: {
                const int32_t x = int32_t(r.Raw(1));
                if (r.overrun) return;
                put(t, x);
                t += 1;
                break;
            }
            default:
                t += 1;
                break;
        }
    }
}

void ReadGroups(KvmcDecoder& d, Reader& r, int32_t g0, int32_t g1, bool& joint) {
    const KvmcEncoder& s = d.s;
    for (int32_t g = g0; g < g1 && !r.overrun && r.Left() > 0; ++g) {
        const int32_t cls = GroupClass(s.quality, g);
        if (s.channels == 2 && g >= 12 && g < 24) {
            joint = r.Raw(1) != 0;
            if (joint) r.Raw(16);
            if (r.overrun) return;
        }
        if (s.channels == 2 && g >= 12 && joint) {
            ReadGroup(d, r, cls, d.coef[0] + g * 128, d.written[0] + g * 128);
            std::memcpy(d.coef[1] + g * 128, d.coef[0] + g * 128, 128 * sizeof(int16_t));
            std::memcpy(d.written[1] + g * 128, d.written[0] + g * 128, 128);
            continue;
        }
        for (int c = 0; c < s.channels && !r.overrun; ++c)
            ReadGroup(d, r, cls, d.coef[c] + g * 128, d.written[c] + g * 128);
    }
}

// Sub-packet 10: the wide-band envelope (read and not needed: the coefficients carry the
// level), block drops, base levels and levels. A list cut by its budget ends early; what is
// missing stays unknown.
void ReadLevels(KvmcDecoder& d, Reader& r) {
    const KvmcEncoder& s = d.s;
    int32_t lv[8];
    for (int c = 0; c < s.channels; ++c)
        if (!ReadEnvelope(d, r, lv)) return;
    for (int i = 0; i <= s.n; ++i)
        for (int c = 0; c < s.channels; ++c)
            for (int k = 0; k < 8; ++k) {
                if (r.Left() < 1) return;
                if (!r.Raw(1)) continue;
                for (int j = 0; j < 8; ++j) {
                    const int32_t v = Value(d, r, 11, false);
                    if (v < 0) return;
                    d.drop[c][i][k][j] = v;
                    d.dropKnown[c][i][k][j] = true;
                }
            }
    int32_t base[2][3] = {};
    for (int i = 0; i <= s.n; ++i)
        for (int c = 0; c < s.channels; ++c) {
            const int32_t v = Value(d, r, 13, false);
            if (v < 0) return;
            base[c][i] = v;
            d.baseKnown[c][i] = true;
        }
    for (int i = 0; i <= s.n; ++i)
        for (int c = 0; c < s.channels; ++c)
            for (int j = 0; j < 8; ++j) {
                const int32_t v = Value(d, r, 12, false);
                if (v < 0) return;
                d.level[c][i][j] = std::max(0, base[c][i] + v - 16);
                d.levelKnown[c][i][j] = true;
            }
}

// Parses the packet into the context; false when it is damaged.
bool Parse(KvmcDecoder& d, const uint8_t* p) {
    const KvmcEncoder& s = d.s;
    const int32_t P = s.P;
    const bool longForm = P >= 258;
    const int type = s.packetType;
    if (p[0] != (type | (longForm ? 0x80 : 0))) return false;
    int32_t pos;
    if (longForm) {
        if ((p[1] << 8 | p[2]) != P - 3) return false;
        pos = 3;
    } else {
        if (p[1] != P - 2) return false;
        pos = 2;
    }
    if (type == 2) {
        uint32_t sum = 0;
        for (int32_t i = 0; i < P; ++i) sum += (i == pos || i == pos + 1) ? 0 : p[i];
        if ((sum & 0xFFFF) != uint32_t(p[pos] << 8 | p[pos + 1])) return false;
        pos += 2;
    }

    int order[12], count = 0;
    if (!s.wideBand && (s.flags & kKvmcFlagAuxPacket)) order[count++] = 15;
    order[count++] = 9;
    const bool rows = s.flags & kKvmcFlagRowSubPackets, alt = s.flags & kKvmcFlagAltTonal;
    const int T = (alt ? 37 : 21) + s.n;
    if (rows) {
        if (alt) order[count++] = 13;
        for (int i = 0; i < 5; ++i) order[count++] = T - i;
    } else {
        order[count++] = alt ? 46 : 31;
    }
    if (s.wideBand)
        for (int t : {10, 11, 12}) order[count++] = t;

    d.componentCount = 0;
    d.wideData = false;
    std::memset(d.envelope, 0, sizeof d.envelope);
    std::memset(d.envelopeRef, 0, sizeof d.envelopeRef);
    std::memset(d.levelKnown, 0, sizeof d.levelKnown);
    std::memset(d.baseKnown, 0, sizeof d.baseKnown);
    std::memset(d.dropKnown, 0, sizeof d.dropKnown);
    for (int c = 0; c < s.channels; ++c) std::memset(d.written[c], 0, 30 * 128);
    const int32_t groups = std::min(8 << s.n, 30);
    bool haveCount = false, joint = false;

    for (int i = 0; i < count; ++i) {
        if (pos + 2 > P) return false;
        const int t = p[pos] & 0x7F;
        const bool lf = p[pos] & 0x80;
        if (t != order[i]) return false;
        if (lf && pos + 3 > P) return false;
        const int32_t len = lf ? (p[pos + 1] << 8 | p[pos + 2]) : p[pos + 1];
        if (lf && len < 256) return false;
        pos += lf ? 3 : 2;
        if (pos + len > P) return false;
        Reader r{p + pos, len * 8};
        bool ok = true;
        switch (t) {
            case 15:
            case 13:
                break;
            case 9:
                for (int b = 0; b < s.envelopeBands && ok; ++b)
                    for (int c = 0; c < s.channels && ok; ++c)
                        ok = ReadEnvelope(d, r, d.envelope[c][b]);
                for (int c = 0; c < s.channels; ++c)
                    for (int b = 0; b < s.envelopeBands; ++b) {
                        const int32_t top =
                            *std::max_element(d.envelope[c][b], d.envelope[c][b] + 8);
                        d.envelopeRef[c][b] = std::max(0, top - 16);
                    }
                if (ok && r.Left() >= 8) ok = false;
                break;
            case 10:
                if (len > 0) ReadLevels(d, r);
                break;
            case 11:
                if (len == 0) break;
                haveCount = true;
                if (r.Raw(13) < 4 || r.overrun) {
                    ok = false;
                    break;
                }
                d.wideData = true;
                ReadGroups(d, r, 0, std::min(8, groups), joint);
                break;
            case 12:
                if (len == 0) break;
                if (!haveCount) {
                    ok = false;
                    break;
                }
                ReadGroups(d, r, 8, groups, joint);
                break;
            default:
                ok = rows ? ReadRows(d, r, 4 - (T - t), 4 - (T - t)) : ReadRows(d, r, 4, 0);
                if (ok && r.Left() >= 8) ok = false;
                break;
        }
        if (!ok) return false;
        pos += len;
    }
    for (int32_t i = pos; i < P; ++i)
        if (p[i] != 0) return false;
    return true;
}

inline float NextNoise(KvmcDecoder& d) {
    // Uniform in -1..1 scaled to unit variance.
    d.noise = d.noise * 1664525u + 1013904223u;
    return (float(int32_t(d.noise)) * (1.0f / 2147483648.0f)) * 1.7320508f;
}

// Adds a component: the signal the encoder took out of its residual, (pi/2) A sin(w t + phi)
// under a sin^2 taper over the transform, w = 2 pi (bin + 1/2) / L.
void AddComponent(KvmcDecoder& d, const DecodedComponent& c) {
    const int32_t L = 1 << (d.s.n + 7 + c.row);
    // In sine-table points: w is (2 bin + 1) kSineSize / (2 L) per sample, phi a multiple of
    // kSineSize / 8; both whole numbers since L <= kSineSize / 2.
    const uint32_t step = uint32_t(2 * c.bin + 1) * uint32_t(kSineSize / (2 * L));
    for (int ch = 0; ch < d.s.channels; ++ch) {
        if (!c.present[ch]) continue;
        AddTone(d.acc[ch] + c.position, L, d.amp[c.amp[ch]],
                uint32_t(c.phase[ch]) * (kSineSize / 8), step);
    }
}

inline float Amp(const KvmcDecoder& d, int32_t code) {
    return code >= 0 && code < 64 ? d.amp[code] : 0.0f;
}

// Subband samples of one channel from the parsed packet.
void BuildSubbands(KvmcDecoder& d, int c) {
    const KvmcEncoder& s = d.s;
    float* sb = d.subband[c];
    std::memset(sb, 0, sizeof(float) * 32 * 128);
    const int32_t groups = std::min(8 << s.n, 30);
    // Envelope noise for a subband: the level of the envelope band holding it. The encoder
    // measured 2 x RMS, scaled by 0.7, and in the normal mode by 0.8 with the low bands
    // lowered further (the first one not coded at all).
    float envelopeRms[30][8];
    for (int32_t j = 0, b = 0; j < groups; ++j) {
        while (b + 1 < s.bandCount && s.bandStart[b + 1] <= j) ++b;
        float scale = 2.0f * 0.7f;
        if (!s.wideBand) {
            scale *= 0.8f;
            if (b == 1) scale *= 0.5f;
            if (b == 2) scale *= 0.7f;
        }
        for (int slot = 0; slot < 8; ++slot) {
            const int32_t code = b < s.envelopeBands ? d.envelope[c][b][slot] : 0;
            envelopeRms[j][slot] = code > 0 ? Amp(d, code) / scale : 0.0f;
        }
    }
    if (!s.wideBand || !d.wideData) {
        for (int32_t j = 0; j < groups; ++j)
            for (int slot = 0; slot < 8; ++slot) {
                const float rms = envelopeRms[j][slot];
                if (rms <= 0) continue;
                for (int t = 0; t < 16; ++t) sb[j * 128 + slot * 16 + t] = rms * NextNoise(d);
            }
        return;
    }
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t cls = GroupClass(s.quality, g);
        const int32_t i = std::min(g / 8, 2);
        int32_t g0 = 8 * i, g1 = i == 2 ? groups : std::min(groups, g0 + 8);
        const int32_t j = (g - g0) * 8 / std::max(1, g1 - g0);
        const int16_t* v = d.coef[c] + g * 128;
        const uint8_t* w = d.written[c] + g * 128;
        float units[8] = {};
        for (int block = 0; block < 8; ++block)
            if (i <= s.n && d.levelKnown[c][i][j] && d.baseKnown[c][i]) {
                int32_t code = d.level[c][i][j];
                if (d.dropKnown[c][i][block][j]) code -= d.drop[c][i][block][j];
                // Code 0 stands for everything below 0.35: no level worth coding.
                units[block] = code > 0 ? Amp(d, code) : 0.0f;
            }
        for (int t = 0; t < 128; ++t) {
            const int block = t / 16;
            const float unit = units[block];
            float x;
            if (!w[t] || unit <= 0.0f) {
                // Not in the packet: noise at the band envelope's level.
                x = envelopeRms[g][block] * NextNoise(d);
            } else {
                float y = 0.0f;
                switch (cls) {
                    case 34:
                        y = t == 0 ? float(v[t] - 16) / 15.0f : float(v[t] - 4) / 4.0f;
                        break;
                    case 30:
                        y = float(v[t] - 3) / 3.0f;
                        break;
                    case 24:
                        y = float(v[t] - 2) / 2.0f;
                        break;
                    case 16:
                        y = v[t] == 1 ? 0.12f * NextNoise(d) : (v[t] == 2 ? 0.6f : -0.6f);
                        break;
                    case 10:
                        y = v[t] ? 0.3f : -0.3f;
                        break;
                    default:
                        break;
                }
                x = y * unit;
            }
            sb[g * 128 + t] = x;
        }
    }
}

// 32-band synthesis of 128 samples per band into synthOut (4096 samples).
void Synthesise(KvmcDecoder& d, int c) {
    int32_t vpos = d.synthPos;
    SynthesisFilterBank(d.subband[c], std::min(8 << d.s.n, 30), d.matrixOut, d.synthV[c], vpos,
                        d.synthOut[c]);
    if (c == d.s.channels - 1) d.synthPos = vpos;
}

}  // namespace

int32_t kvmcReadExtension(const uint8_t* data, int32_t bytes, KvmcStreamInfo* info,
                          KvmcParams* params) {
    if (!data || bytes < 0 || !info || !params) return kKvmcBadArgument;
    auto be = [&](int32_t at) {
        return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
               uint32_t(data[at + 2]) << 8 | uint32_t(data[at + 3]);
    };
    bool format = false, stream = false, record = false;
    int32_t at = 0;
    while (at + 8 <= bytes) {
        const uint32_t size = be(at), type = be(at + 4);
        if (size < 8 || size > uint32_t(bytes - at)) return kKvmcBadArgument;
        if (type == 0) break;
        if (type == 0x66726D61u) {  // "frma"
            if (size < 12 || be(at + 8) != 0x4B564D32u) return kKvmcBadArgument;
            format = true;
        } else if (type == 0x4B564341u) {  // "KVCA"
            if (size < 36) return kKvmcBadArgument;
            int32_t v[7];
            for (int i = 0; i < 7; ++i) v[i] = int32_t(be(at + 8 + 4 * i));
            *info = KvmcStreamInfo{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
            stream = true;
        } else if (type == 0x4B564350u) {  // "KVCP"
            if (size < 28) return kKvmcBadArgument;
            float f[4];
            for (int i = 0; i < 4; ++i) {
                const uint32_t b = be(at + 8 + 4 * i);
                std::memcpy(&f[i], &b, 4);
            }
            *params = KvmcParams{f[0], f[1], f[2], f[3], int32_t(be(at + 24))};
            record = true;
        }
        at += int32_t(size);
    }
    return format && stream && record ? kKvmcOk : kKvmcBadArgument;
}

int32_t kvmcDecOpen(KvmcDecHandle* handle) {
    if (!handle) return kKvmcBadArgument;
    *handle = nullptr;
    KvmcDecoder* d = new (std::nothrow) KvmcDecoder;
    if (!d) return kKvmcNoMemory;
    *handle = d;
    d->components = new (std::nothrow) DecodedComponent[kMaxComponents];
    bool ok = d->components != nullptr;
    for (int c = 0; c < 2; ++c) {
        d->coef[c] = new (std::nothrow) int16_t[30 * 128]();
        d->written[c] = new (std::nothrow) uint8_t[30 * 128]();
        d->acc[c] = new (std::nothrow) float[kAccLength]();
        d->subband[c] = new (std::nothrow) float[32 * 128]();
        d->synthV[c] = new (std::nothrow) float[1024]();
        d->synthOut[c] = new (std::nothrow) float[4096]();
        ok = ok && d->coef[c] && d->written[c] && d->acc[c] && d->subband[c] && d->synthV[c] &&
             d->synthOut[c];
    }
    d->matrixOut = new (std::nothrow) float[32 * kSubbandLength];
    d->mix = new (std::nothrow) float[2 * kMaxHop];
    if (!ok || !d->matrixOut || !d->mix) return kKvmcNoMemory;
    for (int i = 0; i < 64; ++i) d->amp[i] = AmpValue(i);
    BuildAllCodes(d->codes);
    for (int i = 0; i < kCodeCount; ++i) BuildTable(d->codes[i], d->tables[i]);
    MakeSynthesisTables();
    return kKvmcOk;
}

int32_t kvmcDecConfigure(KvmcDecHandle d, const KvmcStreamInfo* info, const KvmcParams* params) {
    if (!Valid(d) || !info || info->version != 1) return kKvmcBadArgument;
    d->configured = false;
    KvmcStreamInfo derived = *info;
    const int32_t rc = DeriveSettings(&d->s, &derived, params);
    if (rc != kKvmcOk) return rc;
    if (derived.samplesPerPacket != info->samplesPerPacket || derived.subBlock != info->subBlock ||
        derived.bytesPerPacket != info->bytesPerPacket)
        return kKvmcBadArgument;
    d->configured = true;
    return kvmcDecReset(d);
}

int32_t kvmcDecReset(KvmcDecHandle d) {
    if (!Valid(d) || !d->configured) return kKvmcBadArgument;
    for (int c = 0; c < 2; ++c) {
        std::memset(d->acc[c], 0, sizeof(float) * kAccLength);
        std::memset(d->synthV[c], 0, sizeof(float) * 1024);
    }
    d->synthPos = 0;
    d->noise = 1;
    return kKvmcOk;
}

int32_t kvmcDecDecodePacket(KvmcDecHandle d, int32_t inBytes, const uint8_t* in, int32_t outBytes,
                            int16_t* out) {
    if (!Valid(d) || !d->configured || !in || !out) return kKvmcBadArgument;
    const KvmcEncoder& s = d->s;
    const int32_t H = s.H, ch = s.channels;
    if (inBytes != s.P || outBytes != 2 * H * ch) return kKvmcBadArgument;

    const bool sound = Parse(*d, in);
    if (sound) {
        for (int32_t i = 0; i < d->componentCount; ++i) AddComponent(*d, d->components[i]);
    }
    // Below 32 kHz the encoder spread each hop over 4096 filter-bank samples with zeros; the
    // hop comes back as every (4096 / H)-th sample, one sample on for the filter bank's odd
    // delay.
    const int32_t up = 4096 / H, phase = up > 1 ? 1 : 0;
    for (int c = 0; c < ch; ++c) {
        if (sound) {
            BuildSubbands(*d, c);
        } else {
            std::memset(d->subband[c], 0, sizeof(float) * 32 * 128);
        }
        Synthesise(*d, c);
        const float* acc = d->acc[c];
        const float* sy = d->synthOut[c];
        for (int32_t t = 0; t < H; ++t) d->mix[t * ch + c] = acc[t] + sy[t * up + phase];
        std::memmove(d->acc[c], d->acc[c] + H, sizeof(float) * (kAccLength - H));
        std::memset(d->acc[c] + kAccLength - H, 0, sizeof(float) * H);
    }
    if (!sound) {
        std::memset(out, 0, sizeof(int16_t) * size_t(H * ch));
        return kKvmcDamagedPacket;
    }
    // Nearest, ties to even, saturated at the 16-bit limits.
    dspsbFloatToInt(d->mix, out, H * ch, 16, dspRndNear | dspSaturate);
    return kKvmcOk;
}

void kvmcDecClose(KvmcDecHandle* handle) {
    if (!handle || !*handle) return;
    KvmcDecoder* d = *handle;
    if (d->marker != kDecoderMarker) return;
    delete[] d->components;
    for (int c = 0; c < 2; ++c) {
        delete[] d->coef[c];
        delete[] d->written[c];
        delete[] d->acc[c];
        delete[] d->subband[c];
        delete[] d->synthV[c];
        delete[] d->synthOut[c];
    }
    delete[] d->matrixOut;
    delete[] d->mix;
    d->marker = 0;
    delete d;
    *handle = nullptr;
}
