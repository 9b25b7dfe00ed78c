#pragma once
// Private: Layer III Huffman tables and their decoding trees.
#include <cstdint>
#include <cstdio>

#include "mpeg/HuffmanCodes.h"

namespace mpegdec {

using mpeg::HuffmanCodeTable;
using mpeg::kHuffmanCodeTables;

// A tree is an array of node pairs. First byte 0: a leaf, the second byte holds x << 4 | y.
// Otherwise the bytes are branch offsets for a 0 and a 1 bit (next = node + offset); an offset
// of 250 or more is a chain link that is followed on the same side.
struct HuffmanTree {
    const uint8_t (*nodes)[2];
    int32_t nodeCount;
};

// Fast lookup on the first `lookupBits` bits of a code. An entry with bit 15 set is a leaf:
// bits 0-7 the value (x << 4 | y), bits 8-12 the code length. Otherwise the entry is the tree
// node reached after lookupBits bits, where the walk continues bit by bit.
struct HuffmanDecodeTable {
    int32_t xlen, ylen, linbits, linmax;
    HuffmanTree tree;  // nodeCount 0 for tables without codes (0, 4, 14)
    int32_t lookupBits;
    const uint16_t* lookup;
};

// Tables 0..31 (pairs) and 32, 33 (quadruples); built once per process, thread-safe.
const HuffmanDecodeTable* HuffmanTables();

// Builds the node-pair tree of a code table into `nodes` (room for 2 * values - 1 pairs).
// Returns the number of pairs, or -1 when the codes do not form a complete prefix code.
int32_t BuildHuffmanTree(const HuffmanCodeTable& table, uint8_t (*nodes)[2], int32_t room);

// Decodes one code of a table from the left-aligned bits; returns x << 4 | y and sets the
// code length in *used.
// A code outside the table sets *illegal (when given).
inline int32_t DecodeHuffmanCode(uint64_t bits, const HuffmanDecodeTable& t, int32_t* used,
                                 bool* illegal = nullptr) {
    const uint16_t e = t.lookupBits > 0 ? t.lookup[bits >> (64 - t.lookupBits)] : 0;
    if (e & 0x8000) {
        *used = (e >> 8) & 31;
        return e & 0xFF;
    }
    // Long code: walk the tree from where the lookup stopped.
    int32_t node = e;
    int32_t n = t.lookupBits;
    const uint8_t(*nodes)[2] = t.tree.nodes;
    while (nodes[node][0] != 0) {
        if (n >= 32 || node >= t.tree.nodeCount) {
            if (illegal) *illegal = true;
            *used = n;
            return (2 * (t.xlen - 1)) << 4 | (2 * (t.ylen - 1) & 15);
        }
        const int bit = int((bits >> (63 - n)) & 1);
        ++n;
        int32_t step = nodes[node][bit];
        while (step >= 250) {
            node += step;
            step = nodes[node][bit];
        }
        node += step;
    }
    *used = n;
    return nodes[node][1];
}

}  // namespace mpegdec
