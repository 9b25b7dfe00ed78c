#include "mpegdec/HuffmanTables.h"

#include <mutex>
#include <vector>

namespace mpegdec {
namespace {

struct BuildNode {
    int32_t child[2] = {-1, -1};
    int32_t value = -1;
};

struct Storage {
    HuffmanDecodeTable tables[34];
    uint8_t nodes[34][512][2];
    std::vector<uint16_t> lookups[34];
};

Storage* g_storage = nullptr;

void BuildAll() {
    static Storage storage;
    for (int t = 0; t < 34; ++t) {
        const HuffmanCodeTable& code = kHuffmanCodeTables[t];
        HuffmanDecodeTable& d = storage.tables[t];
        d.xlen = code.xlen;
        d.ylen = code.ylen;
        d.linbits = code.linbits;
        d.linmax = code.linmax;
        d.tree = {storage.nodes[t], 0};
        d.lookupBits = 0;
        d.lookup = nullptr;
        if (!code.codes) continue;
        const int32_t n = BuildHuffmanTree(code, storage.nodes[t], 512);
        if (n <= 0) continue;  // cannot happen with the constant tables (tested)
        d.tree.nodeCount = n;
        int maxLen = 0;
        const int values = code.xlen == 1 ? 16 : code.xlen * code.ylen;
        for (int i = 0; i < values; ++i)
            maxLen = code.lengths[i] > maxLen ? code.lengths[i] : maxLen;
        d.lookupBits = maxLen < 10 ? maxLen : 10;
        std::vector<uint16_t>& lut = storage.lookups[t];
        lut.resize(size_t(1) << d.lookupBits);
        for (uint32_t pattern = 0; pattern < lut.size(); ++pattern) {
            int32_t node = 0;
            int depth = 0;
            while (storage.nodes[t][node][0] != 0 && depth < d.lookupBits) {
                const int bit = (pattern >> (d.lookupBits - 1 - depth)) & 1;
                node += storage.nodes[t][node][bit];
                ++depth;
            }
            if (storage.nodes[t][node][0] == 0)
                lut[pattern] = uint16_t(0x8000 | depth << 8 | storage.nodes[t][node][1]);
            else
                lut[pattern] = uint16_t(node);
        }
        d.lookup = lut.data();
    }
    g_storage = &storage;
}

}  // namespace

int32_t BuildHuffmanTree(const HuffmanCodeTable& table, uint8_t (*nodes)[2], int32_t room) {
    const int values = table.xlen == 1 ? 16 : table.xlen * table.ylen;
    std::vector<BuildNode> tree(1);
    for (int v = 0; v < values; ++v) {
        int32_t at = 0;
        const int len = table.lengths[v];
        for (int b = len - 1; b >= 0; --b) {
            if (tree[at].value >= 0) return -1;
            const int bit = (table.codes[v] >> b) & 1;
            if (tree[at].child[bit] < 0) {
                tree[at].child[bit] = int32_t(tree.size());
                tree.emplace_back();
            }
            at = tree[at].child[bit];
        }
        if (tree[at].value >= 0 || tree[at].child[0] >= 0 || tree[at].child[1] >= 0) return -1;
        // Quadruple tables keep v, w, x, y as the four bits of y.
        const int x = table.xlen == 1 ? 0 : v / table.ylen;
        const int y = table.xlen == 1 ? v : v % table.ylen;
        tree[at].value = x << 4 | y;
    }
    // Breadth-first placement keeps every branch offset well below the chain-link range.
    if (int32_t(tree.size()) > room) return -1;
    std::vector<int32_t> order{0}, slot(tree.size(), -1);
    slot[0] = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const BuildNode& n = tree[order[i]];
        for (int c = 0; c < 2; ++c) {
            if (n.child[c] < 0) continue;
            slot[n.child[c]] = int32_t(order.size());
            order.push_back(n.child[c]);
        }
    }
    for (size_t i = 0; i < order.size(); ++i) {
        const BuildNode& n = tree[order[i]];
        if (n.value >= 0) {
            nodes[i][0] = 0;
            nodes[i][1] = uint8_t(n.value);
            continue;
        }
        if (n.child[0] < 0 || n.child[1] < 0) return -1;  // incomplete code
        for (int c = 0; c < 2; ++c) {
            const int32_t offset = slot[n.child[c]] - int32_t(i);
            if (offset <= 0 || offset >= 250) return -1;
            nodes[i][c] = uint8_t(offset);
        }
    }
    return int32_t(order.size());
}

const HuffmanDecodeTable* HuffmanTables() {
    static std::once_flag once;
    std::call_once(once, BuildAll);
    return g_storage->tables;
}

}  // namespace mpegdec
