// Arbitrary bytes as KVMC packets through every configuration: the first bytes choose the
// stream values and the flags, the rest is cut into packets. Every call must end with 0 or the
// damaged-packet status and write a whole hop.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kvmc/KvmcDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const int32_t kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
    static const int32_t kKbps[] = {8, 12, 16, 24, 32, 48, 64, 96, 128, 160, 192, 256, 320};
    KvmcStreamInfo info{
        1, 1 + (data[0] & 1), kRates[(data[0] >> 1) & 7], kKbps[data[1] % 13] * 1000, 0, 0, 0};
    KvmcParams params{1.0f, 0.0f, 0.5f, 0.5f, data[2] & 0x7F};
    const bool valid = data[3] & 1;  // most inputs: packets with a sound header and checksum
    data += 4;
    size -= 4;
    if (kvmcStreamValues(&info) != 0) return 0;
    KvmcDecHandle dec = nullptr;
    if (kvmcDecOpen(&dec) != 0) std::abort();
    if (kvmcDecConfigure(dec, &info, &params) == 0) {
        const int32_t P = info.bytesPerPacket, H = info.samplesPerPacket;
        std::vector<uint8_t> packet(static_cast<size_t>(P));
        std::vector<int16_t> pcm(size_t(H * info.channels));
        for (size_t at = 0; at < size; at += size_t(P)) {
            std::memset(packet.data(), 0, packet.size());
            std::memcpy(packet.data(), data + at, std::min(size - at, size_t(P)));
            if (valid) {
                const bool lf = P >= 258;
                const int type = (params.flags & 2) ? 2 : 3;
                packet[0] = uint8_t(type | (lf ? 0x80 : 0));
                int pos = 2;
                if (lf) {
                    packet[1] = uint8_t((P - 3) >> 8);
                    packet[2] = uint8_t(P - 3);
                    pos = 3;
                } else {
                    packet[1] = uint8_t(P - 2);
                }
                if (type == 2) {
                    packet[pos] = packet[pos + 1] = 0;
                    uint32_t sum = 0;
                    for (uint8_t b : packet) sum += b;
                    packet[pos] = uint8_t(sum >> 8);
                    packet[pos + 1] = uint8_t(sum);
                }
            }
            const int32_t rc =
                kvmcDecDecodePacket(dec, P, packet.data(), int32_t(pcm.size() * 2), pcm.data());
            if (rc != 0 && rc != kKvmcDamagedPacket) std::abort();
        }
    }
    kvmcDecClose(&dec);
    return 0;
}
