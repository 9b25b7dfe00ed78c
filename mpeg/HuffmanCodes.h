#pragma once
// Layer III Huffman code tables: for each table the code word and its length per value.
#include <cstdint>

namespace mpeg {

struct HuffmanCodeTable {
    uint8_t xlen, ylen, linbits;
    uint16_t linmax;
    uint8_t treeOf;  // table whose codes (and tree) this one uses
    const uint16_t* codes;
    const uint8_t* lengths;
};
extern const HuffmanCodeTable kHuffmanCodeTables[34];

}  // namespace mpeg
