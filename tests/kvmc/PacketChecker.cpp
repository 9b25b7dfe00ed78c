#include "PacketChecker.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kvmctest {
namespace {

using kvmc::HuffCode;

struct Reader {
    const uint8_t* data;
    int32_t bits;  // payload bits
    int32_t pos = 0;
    bool overrun = false;
    uint32_t Bit() {
        if (pos >= bits) {
            overrun = true;
            ++pos;
            return 0;
        }
        const uint32_t b = data[pos / 8] >> (pos % 8) & 1;
        ++pos;
        return b;
    }
    uint32_t Raw(int width) {
        uint32_t v = 0;
        for (int i = 0; i < width; ++i) v |= Bit() << i;
        return v;
    }
    int32_t Left() const { return bits - pos; }
};

// Returns the symbol, or -1 when no code word matches.
int32_t Symbol(Reader& r, const HuffCode& code) {
    // A one-leaf code (only the escape) takes no bits.
    int leaves = 0;
    for (int i = 0; i < kvmc::kLeafCount; ++i) leaves += code.present[i];
    int leaf = -1;
    if (leaves == 1) {
        leaf = 0;
    } else {
        uint32_t value = 0;
        for (int len = 1; len <= 32 && leaf < 0; ++len) {
            value |= r.Bit() << (len - 1);
            if (r.overrun) return -1;
            for (int i = 0; i < kvmc::kLeafCount; ++i)
                if (code.present[i] && code.length[i] == len && code.bits[i] == value) leaf = i;
        }
        if (leaf < 0) return -1;
    }
    if (leaf > 0) return leaf - 1;
    const int k = int(r.Raw(3)) + 1;
    return int32_t(r.Raw(k));
}

int32_t Value(Reader& r, const CheckerConfig& c, int code, bool bucketed) {
    const int32_t s = Symbol(r, c.codes[code]);
    if (s < 0 || !bucketed) return s;
    if (s > 63) return -1;
    return kvmc::BucketBase(s) + int32_t(r.Raw(s / 4));
}

bool Envelope(Reader& r, const CheckerConfig& c) {
    if (Value(r, c, 0, false) < 0) return false;
    int last = 0;
    while (last < 7) {
        const int32_t run = Value(r, c, 2, false);
        if (run < 0 || last + run + 1 > 7) return false;
        if (Value(r, c, 1, false) < 0) return false;
        last += run + 1;
    }
    return !r.overrun;
}

std::string Rows(Reader& r, const CheckerConfig& c, int qFirst, int qLast,
                 std::vector<CheckedComponent>* out) {
    for (int q = qFirst; q >= qLast; --q) {
        const int units = 16 >> q;
        int t = 0, bin = 0;
        while (t < units) {
            const int32_t v = Value(r, c, 16 + q, true);
            if (v < 0 || r.overrun) return "row symbol unreadable at row " + std::to_string(q);
            if (v == 0 || v == 1) {
                t += v == 0 ? 1 : 8;
                bin = 0;
                continue;
            }
            bin += v - 1;
            int sel = 0;
            if (c.channels == 2) sel = int(r.Raw(2));
            const int32_t amp = Value(r, c, (c.flags & 0x10) ? 6 : 5, false);
            r.Raw(3);
            if (sel >= 2) {
                if (Value(r, c, 8, false) < 0 || Value(r, c, 9, false) < 0)
                    return "bad stereo pair";
            }
            if (amp < 0 || r.overrun) return "component unreadable";
            if (out) out->push_back({q, bin, t, amp, sel});
        }
        if (t != units) return "row " + std::to_string(q) + " advances past its hop";
    }
    return "";
}

int32_t ClassOf(int quality, int g) {
    switch (quality) {
        case 0:
        case 1: {
            static const int32_t cl[8] = {34, 30, 24, 24, 16, 16, 16, 16};
            return g < 8 ? cl[g] : 10;
        }
        case 2: {
            static const int32_t cl[6] = {34, 30, 30, 30, 24, 24};
            return g < 6 ? cl[g] : g < 12 ? 16 : 10;
        }
        case 3: {
            static const int32_t cl[8] = {34, 34, 30, 30, 24, 24, 24, 24};
            return g < 8 ? cl[g] : g < 22 ? 16 : 10;
        }
        default:
            return g < 2 ? 34 : g < 8 ? 30 : g < 20 ? 24 : 16;
    }
}

// Groups [g0, g1); the list may end at any step (its budget), within the last byte.
std::string Groups(Reader& r, const CheckerConfig& c, int g0, int g1) {
    for (int g = g0; g < g1; ++g) {
        const int cls = ClassOf(c.quality, g);
        if (r.Left() < 8) return "";
        if (c.channels == 2 && g >= 12 && g < 24 && r.Raw(1) != 0) return "joint flag set";
        for (int ch = 0; ch < c.channels; ++ch) {
            if (r.Left() < 1) return "";
            const bool fine = r.Raw(1) != 0;
            int t = 0;
            while (t < 128) {
                const int before = r.pos;
                int32_t v = 0;
                bool bad = false;
                switch (cls) {
                    case 34:
                        if (t == 0) {
                            r.Raw(7);
                        } else {
                            v = Value(r, c, 15, false);
                            bad = v < 0 || v > 8;
                        }
                        t += 1;
                        break;
                    case 30:
                        v = Value(r, c, 14, false);
                        bad = v < 0 || v > 7;
                        t += 1;
                        break;
                    case 24:
                        bad = r.Raw(7) > 124;
                        t += 3;
                        break;
                    case 16:
                        if (fine) {
                            if (r.Raw(1)) r.Raw(1);
                            t += 1;
                        } else {
                            bad = r.Raw(8) > 242;
                            t += 5;
                        }
                        break;
                    default:
                        r.Raw(1);
                        t += 1;
                        break;
                }
                if (r.overrun || bad) {
                    // Only the zero padding of the last byte may end a list mid-group.
                    if (r.bits - before < 8) return "";
                    return "group " + std::to_string(g) + " unreadable";
                }
            }
        }
    }
    return "";
}

}  // namespace

std::string CheckPacket(const uint8_t* p, const CheckerConfig& c,
                        std::vector<CheckedComponent>* components) {
    const int32_t P = c.P;
    const bool longForm = P >= 258;
    const int type = (c.flags & 0x02) ? 2 : 3;
    if (p[0] != (type | (longForm ? 0x80 : 0))) return "packet type";
    int32_t pos = 1;
    if (longForm) {
        if ((p[1] << 8 | p[2]) != P - 3) return "long length";
        pos = 3;
    } else {
        if (p[1] != P - 2) return "short length";
        pos = 2;
    }
    if (type == 2) {
        uint32_t sum = 0;
        for (int32_t i = 0; i < P; ++i) sum += (i == pos || i == pos + 1) ? 0 : p[i];
        if ((sum & 0xFFFF) != uint32_t(p[pos] << 8 | p[pos + 1])) return "checksum";
        pos += 2;
    }
    std::vector<int> order;
    if (!c.wideBand && (c.flags & 0x04)) order.push_back(15);
    order.push_back(9);
    const bool rows = c.flags & 0x01, alt = c.flags & 0x10;
    if (rows) {
        if (alt) order.push_back(13);
        const int T = (alt ? 37 : 21) + c.n;
        for (int i = 0; i < 5; ++i) order.push_back(T - i);
    } else {
        order.push_back(alt ? 46 : 31);
    }
    if (c.wideBand)
        for (int t : {10, 11, 12}) order.push_back(t);

    int groups = std::min(8 << c.n, 30);
    bool count11 = false;
    for (size_t s = 0; s < order.size(); ++s) {
        if (pos + 2 > P) return "sub-packet header past the packet";
        const int t = p[pos] & 0x7F;
        const bool lf = p[pos] & 0x80;
        if (t != order[s])
            return "sub-packet " + std::to_string(t) + " where " + std::to_string(order[s]) +
                   " belongs";
        int32_t len = lf ? (p[pos + 1] << 8 | p[pos + 2]) : p[pos + 1];
        if (lf && len < 256) return "long form for a short payload";
        pos += lf ? 3 : 2;
        if (pos + len > P) return "payload past the packet";
        Reader r{p + pos, len * 8};
        std::string err;
        switch (t) {
            case 15:
                if (len * 8 / 6 > 8 * 32) err = "auxiliary list too long";
                break;
            case 9:
                for (int i = 0; i < c.envelopeBands * c.channels && err.empty(); ++i)
                    if (!Envelope(r, c)) err = "envelope unreadable";
                break;
            case 13:
                for (int i = 0; i < 6; ++i) r.Raw(6);
                break;
            case 10:
                if (len == 0) break;
                for (int ch = 0; ch < c.channels && err.empty(); ++ch)
                    if (!Envelope(r, c)) err = "wide-band envelope unreadable";
                for (int i = 0; i <= c.n && err.empty() && r.Left() >= 8; ++i)
                    for (int ch = 0; ch < c.channels && r.Left() >= 8; ++ch)
                        for (int k = 0; k < 8 && r.Left() >= 8; ++k)
                            if (r.Raw(1))
                                for (int j = 0; j < 8 && r.Left() >= 8; ++j)
                                    if (Value(r, c, 11, false) < 0) err = "level value unreadable";
                for (int i = 0; i < (c.n + 1) * c.channels && r.Left() >= 8 && err.empty(); ++i)
                    if (Value(r, c, 13, false) < 0) err = "base level unreadable";
                for (int i = 0; i < (c.n + 1) * c.channels * 8 && r.Left() >= 8 && err.empty(); ++i)
                    if (Value(r, c, 12, false) < 0) err = "level unreadable";
                break;
            case 11:
                if (len == 0) break;
                count11 = true;
                if (r.Raw(13) < 4) err = "byte count below 4";
                if (err.empty()) err = Groups(r, c, 0, std::min(8, groups));
                break;
            case 12:
                if (len == 0) break;
                if (!count11) err = "groups without a byte count";
                if (err.empty()) err = Groups(r, c, 8, groups);
                break;
            default:
                if (t == 31 || t == 46) {
                    err = Rows(r, c, 4, 0, components);
                } else {
                    const int T = (alt ? 37 : 21) + c.n;
                    const int q = 4 - (T - t);
                    err = Rows(r, c, q, q, components);
                }
        }
        if (err.empty() && r.overrun && t != 11 && t != 12) err = "read past the payload";
        if (err.empty() && t != 10 && t != 11 && t != 12 && t != 13 && t != 15 && r.Left() >= 8)
            err = "unread payload bytes";
        if (!err.empty()) return "sub-packet " + std::to_string(t) + ": " + err;
        pos += len;
    }
    for (int32_t i = pos; i < P; ++i)
        if (p[i] != 0) return "padding not zero";
    return "";
}

}  // namespace kvmctest
