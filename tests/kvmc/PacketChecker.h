#pragma once
// Walks one KVMC packet as a decoder would: type, length, checksum, sub-packet framing and
// order, and every symbol of every list with the encoder's code tables. Returns "" when the
// packet is sound, else what is wrong.
#include <cstdint>
#include <string>
#include <vector>

#include "kvmc/Internal.h"

namespace kvmctest {

struct CheckerConfig {
    int32_t P, channels, n, flags, quality, envelopeBands;
    bool wideBand;
    const kvmc::HuffCode* codes;
    static CheckerConfig From(const KvmcEncoder& e) {
        return {e.P, e.channels, e.n, e.flags, e.quality, e.envelopeBands, e.wideBand, e.codes};
    }
};

// Tonal components found while checking (row, bin, position units, amplitude symbol).
struct CheckedComponent {
    int row, bin, unit, ampSymbol, channelSelect;
};

std::string CheckPacket(const uint8_t* packet, const CheckerConfig& config,
                        std::vector<CheckedComponent>* components = nullptr);

}  // namespace kvmctest
