// Symbol lists, the 24 static codes, the bit writer and sub-packet framing.
#include <cstdio>
#include <cstdlib>

#include "kvmc/Internal.h"

namespace kvmc {

const uint16_t kCodeWeights[kCodeCount][48] = {
    {62,  17,  20,  32,  40,  37,  32, 43, 83, 123, 146, 209,
     226, 212, 231, 264, 208, 111, 69, 21, 7,  5,   2},
    {1569, 2091, 2328, 1163, 1442, 433, 670, 182, 351, 138, 148, 96, 86, 62, 35, 55, 23, 39,
     6,    33,   9,    34,   8,    27,  4,   15,  0,   8,   1,   5,  0,  3,  0,  1,  0,  1},
    {8243, 503, 79, 30, 11},
    {3233, 1195, 1897, 877, 1240, 368, 364, 222, 103, 125, 18, 68, 10, 25, 7, 13, 0, 18,
     0,    20,   0,    31,  0,    28,  0,   31,  0,   19,  0,  23, 0,  10, 0, 9,  0, 1},
    {6720, 1663, 860, 342, 153, 136, 151},
    {2436,  1411,  692,   389,   316,   310,   368,  457,  651,  1359, 2563, 4732, 8946, 17150,
     29621, 44245, 50156, 45928, 33262, 20474, 9855, 3813, 1378, 514,  154,  82,   3},
    {2018, 2331, 2428, 2146, 1753, 1439, 1123, 786, 566, 443, 366, 290, 195, 121, 73, 53, 29, 10,
     4},
    {57884, 27424, 14988, 11027, 17889, 14609, 11790, 9479, 15948, 11581, 7815, 6917,
     10486, 6603,  4897,  3983,  5120,  3479,  2949,  2626, 3443,  2984,  3725, 3593,
     3307,  3283,  2954,  2384,  1777,  2042,  1641,  798,  769,   863,   776,  239,
     162,   104,   63,    43,    49,    30,    6,     1,    0,     4,     1},
    {12065, 9436, 1975, 600, 200, 52},
    {8860, 9620, 2138, 897, 618, 834, 1920, 6337},
    {954, 914, 768, 919, 536, 667, 390, 564, 228, 391, 151, 243, 83, 157, 41,
     87,  19,  45,  6,   20,  2,   23,  2,   6,   3,   2,   1,   1,  1,   1},
    {2887, 11238, 15531, 7970, 2677, 921, 435, 240, 109, 76, 58, 34, 23, 16, 12, 4, 4, 2, 3},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 39, 210, 1122, 4867, 11975, 11730, 4187, 918, 127, 17, 2},
    {0, 0, 0, 0, 0, 8, 15, 21, 50, 107, 150, 183, 238, 545, 1286, 1673, 1059, 278, 72, 25, 8, 0, 2},
    {5801, 9491, 13152, 10854, 7834, 4841, 2636, 1711},
    {5319, 7837, 8962, 7737, 5874, 7679, 8881, 8003, 5244},
    {2528, 1630, 74, 286, 137, 71, 43, 45, 43, 30, 33, 15, 35, 18, 20, 7, 24, 16, 49, 51, 18, 3},
    {5680, 255, 169, 374, 983, 1057, 249, 256, 392, 202, 153, 110, 195, 183,
     143,  147, 189, 147, 88,  72,   147, 90,  118, 85,  23,  9,   1},
    {3880, 0,   93,  1425, 1804, 1757, 1691, 1607, 1522, 755, 626, 338, 525, 257, 218, 162,
     252,  160, 122, 81,   92,   99,   54,   69,   100,  47,  35,  33,  12,  1,   1},
    {1950, 0,    64,  3332, 4543, 3645, 3015, 2367, 3792, 2613, 1803, 1029,
     1577, 1240, 681, 632,  869,  483,  297,  246,  323,  164,  135,  116,
     121,  66,   51,  35,   46,   34,   12,   9,    7,    1},
    {980,  0,   107, 9172, 10037, 5072, 3840, 3510, 5339, 3268, 2356, 1936, 3043,
     2016, 858, 757, 1040, 708,   310,  442,  694,  297,  144,  149,  222,  126,
     65,   38,  66,  35,   21,    18,   28,   6,    3,    3,    5},
    {},
    {},
    {},
};

namespace {
struct BucketTable {
    int32_t base[64];
    BucketTable() {
        for (int s = 0; s < 4; ++s) base[s] = s;
        for (int s = 4; s < 64; ++s) base[s] = base[s - 1] + (1 << ((s - 1) / 4));
    }
};
const BucketTable kBuckets;
}  // namespace

int32_t BucketSymbol(int32_t value) {
    int32_t s = 0;
    while (s < 63 && kBuckets.base[s + 1] <= value) ++s;
    return s;
}

int32_t BucketBase(int32_t s) {
    return kBuckets.base[s];
}

bool BuildCode(const uint16_t weights[48], HuffCode* code) {
    // Nodes: leaves 0..48, each leaf tagged with the node it now belongs to.
    struct Node {
        uint32_t weight;
        int id;
    };
    Node list[kLeafCount];
    int size = 0;
    int owner[kLeafCount];
    for (int i = 0; i < kLeafCount; ++i) {
        code->length[i] = 0;
        code->bits[i] = 0;
        const uint32_t w = i == 0 ? 1u : weights[i - 1];
        code->present[i] = w != 0;
        owner[i] = -1;
    }
    auto insert = [&](Node node) {
        // In front of the first element whose weight is less than or equal to the new one.
        int at = 0;
        while (at < size && list[at].weight > node.weight) ++at;
        for (int j = size; j > at; --j) list[j] = list[j - 1];
        list[at] = node;
        ++size;
    };
    for (int i = 0; i < kLeafCount; ++i) {
        if (!code->present[i]) continue;
        owner[i] = i;
        insert({i == 0 ? 1u : weights[i - 1], i});
    }
    if (size < 2) return true;
    while (size > 1) {
        const Node q = list[size - 1];
        const Node r = list[size - 2];
        size -= 2;
        for (int i = 0; i < kLeafCount; ++i) {
            if (owner[i] == q.id || owner[i] == r.id) {
                const uint32_t bit = owner[i] == q.id ? 1u : 0u;
                if (code->length[i] >= 32) return false;
                code->bits[i] = code->bits[i] << 1 | bit;
                ++code->length[i];
                owner[i] = r.id;
            }
        }
        insert({q.weight + r.weight, r.id});
    }
    return true;
}

void BuildAllCodes(HuffCode codes[kCodeCount]) {
    for (int c = 0; c < kCodeCount; ++c) {
        if (!BuildCode(kCodeWeights[c], &codes[c])) {
            std::fputs("HufDeep too small\n", stdout);
            std::fflush(stdout);
            std::_Exit(4);
        }
    }
}

namespace {
int BitLength(int32_t s) {
    int k = 1;
    while (k < 8 && (s >> k) != 0) ++k;
    return k;
}
}  // namespace

int32_t SymbolBits(const HuffCode& code, int32_t symbol) {
    if (symbol >= 0 && symbol < 48 && code.present[symbol + 1]) return code.length[symbol + 1];
    return code.length[0] + 3 + BitLength(symbol);
}

int32_t CostOf(const HuffCode codes[], int32_t value, int c, bool bucketed) {
    if (!bucketed) return SymbolBits(codes[c], value);
    const int32_t s = BucketSymbol(value);
    return SymbolBits(codes[c], s) + s / 4;
}

bool ListAdd(SymbolList& list, const HuffCode codes[], int32_t value, int c, bool bucketed) {
    if (list.count >= kListCapacity) {
        list.full = true;
        return false;
    }
    if (value < 0) value = 0;
    Entry& e = list.entries[list.count++];
    e.value = value;
    e.code = int8_t(c);
    e.bucketed = bucketed;
    if (bucketed) {
        const int32_t s = BucketSymbol(value);
        e.symbol = uint8_t(s);
        e.width = uint8_t(s / 4);
    } else {
        e.symbol = uint8_t(value > 255 ? 255 : value);
        e.width = 0;
    }
    list.bits += SymbolBits(codes[c], e.symbol) + e.width;
    return true;
}

bool ListAddRaw(SymbolList& list, int32_t value, int width) {
    if (list.count >= kListCapacity) {
        list.full = true;
        return false;
    }
    Entry& e = list.entries[list.count++];
    e.value = value & int32_t((1u << width) - 1);
    e.code = -1;
    e.width = uint8_t(width);
    e.symbol = 0;
    e.bucketed = 0;
    list.bits += width;
    return true;
}

void BitWriter::Put(uint32_t value, int width) {
    if (width == 0) return;
    acc |= uint64_t(value & uint32_t((uint64_t(1) << width) - 1)) << count;
    count += width;
    while (count >= 8) {
        if (pos < capacity) out[pos] = uint8_t(acc);
        ++pos;
        acc >>= 8;
        count -= 8;
    }
}

void BitWriter::Flush() {
    if (count > 0) Put(0, 8 - count);
}

namespace {
void WriteEntry(BitWriter& w, const Entry& e, const HuffCode codes[]) {
    if (e.code < 0) {
        w.Put(uint32_t(e.value), e.width);
        return;
    }
    const HuffCode& code = codes[int(e.code)];
    const int s = e.symbol;
    if (s < 48 && code.present[s + 1]) {
        w.Put(code.bits[s + 1], code.length[s + 1]);
    } else {
        const int k = BitLength(s);
        w.Put(code.bits[0], code.length[0]);
        w.Put(uint32_t(k - 1), 3);
        w.Put(uint32_t(s), k);
    }
    if (e.bucketed) w.Put(uint32_t(e.value - kBuckets.base[s]), e.width);
}
}  // namespace

int32_t WriteSubPacket(int type, const SymbolList& list, int32_t first, int32_t last, int32_t bits,
                       const HuffCode codes[], uint8_t* out, int32_t capacity) {
    const int32_t length = (bits + 7) / 8;
    const bool longForm = length >= 256;
    const int32_t total = length + (longForm ? 3 : 2);
    if (total > capacity || length > 65535) return -1;
    BitWriter w{out, capacity};
    w.Put(uint32_t(type | (longForm ? 0x80 : 0)), 8);
    if (longForm) {
        w.Put(uint32_t(length >> 8), 8);
        w.Put(uint32_t(length & 0xFF), 8);
    } else {
        w.Put(uint32_t(length), 8);
    }
    for (int32_t i = first; i < last; ++i) WriteEntry(w, list.entries[i], codes);
    w.Flush();
    // The recorded bit count and the entries agree; pad should the entries be shorter.
    while (w.pos < total) out[w.pos++] = 0;
    return total;
}

}  // namespace kvmc
