// Arbitrary PCM windows through every configuration: the first bytes choose the stream values
// and the flags, the rest is the PCM. Every packet must be whole and pass the packet checker.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kvmc/Internal.h"
#include "kvmc/KvmcEncoder.h"
#include "tests/kvmc/PacketChecker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    static const int32_t kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
    static const int32_t kRatesKbps[] = {8, 12, 16, 24, 32, 48, 64, 96, 128, 160, 192, 256, 320};
    const int channels = 1 + (data[0] & 1);
    const int32_t rate = kRates[(data[0] >> 1) & 7];
    const int32_t bitRate = kRatesKbps[data[1] % 13] * 1000;
    const int32_t flags = data[2] & 0x7F;
    const int packets = 1 + data[3] % 6;
    KvmcParams params{float(data[4]) / 200.0f, float(data[5] & 0x7F) / 255.0f, 0.5f, 0.5f, flags};
    data += 6;
    size -= 6;

    KvmcHandle enc = nullptr;
    if (kvmcOpen(&enc) != 0) std::abort();
    KvmcStreamInfo info{1, channels, rate, bitRate, 0, 0, 0};
    if (kvmcConfigure(enc, &info, &params) == 0) {
        const int32_t H = info.samplesPerPacket;
        std::vector<int16_t> window(size_t(5 * H * channels));
        std::vector<uint8_t> packet(size_t(info.bytesPerPacket) + 16, 0xEE);
        size_t at = 0;
        for (int p = 0; p < packets; ++p) {
            const size_t first = p == 0 ? 0 : size_t(4 * H * channels);
            for (size_t i = first; i < window.size(); ++i) {
                int16_t v = 0;
                if (size >= 2) {
                    std::memcpy(&v, data + (at % (size - 1)), 2);
                    at += 2;
                }
                window[i] = v;
            }
            if (kvmcEncodePacket(enc, int32_t(window.size() * 2), window.data(),
                                 info.bytesPerPacket, packet.data()) != 0)
                std::abort();
            for (int i = 0; i < 16; ++i)
                if (packet[size_t(info.bytesPerPacket) + i] != 0xEE) std::abort();  // overrun
            const std::string verdict =
                kvmctest::CheckPacket(packet.data(), kvmctest::CheckerConfig::From(*enc));
            if (!verdict.empty() || enc->assemblyOverflows != 0) {
                std::fprintf(stderr, "packet %d: %s\n", p, verdict.c_str());
                std::abort();
            }
            std::memmove(window.data(), window.data() + H * channels,
                         sizeof(int16_t) * size_t(4 * H * channels));
        }
    }
    kvmcClose(&enc);
    return 0;
}
