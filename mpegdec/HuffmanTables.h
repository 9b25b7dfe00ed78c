#pragma once
// Private: Layer III Huffman tables and their decoding trees.
#include <cstdint>

namespace mpegdec {

struct HuffmanCodeTable {
    uint8_t xlen, ylen, linbits;
    uint16_t linmax;
    uint8_t treeOf;  // table whose codes (and tree) this one uses
    const uint16_t* codes;
    const uint8_t* lengths;
};
extern const HuffmanCodeTable kHuffmanCodeTables[34];

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

}  // namespace mpegdec
