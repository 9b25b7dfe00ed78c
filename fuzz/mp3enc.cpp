// Arbitrary PCM through both qualities, every rate, mono and stereo: every frame the encoder
// produces must decode with our decoder, at its position, without a refusal.
// Byte 0 picks the sampling rate, byte 1 the bitrate index, byte 2 quality (bit 0), one
// channel (bit 1), decimation (bit 2, LSF only) and the signal (bits 3-4: the bytes as
// samples, a full-scale square wave, alternating -32768/+32767, a DC level), byte 3 the
// square's half period or the DC level; the rest are the samples.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp3enc/mp3enc.h"
#include "mpeg/Header.h"
#include "mpegdec/mpegdec.h"

namespace {

int32_t Append(const uint8_t* bytes, int32_t* count, void* user) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    out->insert(out->end(), bytes, bytes + *count);
    return 0;
}

struct Input {
    const std::vector<uint8_t>* data;
    size_t pos;
};

int32_t Read(uint8_t* dst, int32_t* count, void* user) {
    auto* in = static_cast<Input*>(user);
    size_t n = in->data->size() - in->pos;
    if (n > size_t(*count)) n = size_t(*count);
    if (n) std::memcpy(dst, in->data->data() + in->pos, n);
    in->pos += n;
    *count = int32_t(n);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int row = data[0] % 6;
    const uint32_t id = row < 3 ? 1 : 0, rateIndex = uint32_t(row % 3);
    const uint32_t bitrateIndex = 1 + data[1] % 14;
    const int fast = data[2] & 1;
    const int channels = (data[2] & 2) ? 1 : 2;
    const uint8_t decimate = (id == 0 && (data[2] & 4)) ? 1 : 0;
    const int signal = (data[2] >> 3) & 3;
    const int param = data[3];
    const uint8_t* samples = data + 4;
    const size_t sampleBytes = size - 4;

    const MpegHeaderWord header = mpeg::PackHeaderWord(0, id, 1, 1, bitrateIndex, rateIndex, 0, 0,
                                                       channels == 1 ? 3u : 1u, 0, 0, 1, 0);
    uint8_t options[kMp3EncOptionBytes] = {1,        0, 0, 0, uint8_t(channels == 1 ? 0x40 : 0x80),
                                           decimate, 0};
    std::vector<uint8_t> stream;
    int32_t spf = 0;
    Mp3EncHandle enc = nullptr;
    if (mp3EncOpen(Append, &stream, header, options, &spf, fast, &enc) != 0) std::abort();
    const int frames = 6;
    std::vector<int16_t> pcm(size_t(spf) * channels);
    size_t at = 0, n = 0;
    for (int f = 0; f < frames; ++f) {
        for (auto& v : pcm) {
            switch (signal) {
                case 0:
                    v = sampleBytes >= 2 ? int16_t(samples[at % (sampleBytes - 1)] |
                                                   samples[(at + 1) % (sampleBytes - 1)] << 8)
                                         : 0;
                    at += 2;
                    break;
                case 1:
                    v = (n / (param + 1)) % 2 ? 32767 : -32768;
                    break;
                case 2:
                    v = n % 2 ? 32767 : -32768;
                    break;
                default:
                    v = int16_t((param - 128) * 256 + param);
                    break;
            }
            ++n;
        }
        const Mp3PcmBlock block{channels, spf, pcm.data()};
        if (mp3EncEncodeFrame(nullptr, &block, nullptr, enc) != 0) std::abort();
    }
    if (mp3EncClose(&enc) != 0) std::abort();

    // Every frame sits where the previous one ends.
    size_t pos = 0;
    int produced = 0;
    while (pos + 4 <= stream.size()) {
        const uint32_t bits = uint32_t(stream[pos]) << 24 | stream[pos + 1] << 16 |
                              stream[pos + 2] << 8 | stream[pos + 3];
        if ((bits >> 20) != 0xFFF) std::abort();
        pos += size_t(mpegHeaderFrameBytes(mpegHeaderFromStream(bits, 0)));
        ++produced;
    }
    if (pos != stream.size() || produced != frames) std::abort();

    Input in{&stream, 0};
    const uint8_t decOptions[4] = {1, 0, 0, 0};
    MpegDecHandle dec = nullptr;
    if (mpegDecOpen(decOptions, 0x008D, Read, &in, &dec) != 0) std::abort();
    static int16_t out[1152 * 2];
    int decoded = 0;
    for (int call = 0; call < frames + 4; ++call) {
        MpegHeaderWord w = 0;
        MpegPcmBlock b{0, 0, out};
        const int32_t st = mpegDecDecodeFrame(&w, &b, nullptr, dec);
        if (st == kMpegDecEndOfData) break;
        if (st != 0) std::abort();
        if (b.samplesPerChannel > 0) ++decoded;
    }
    mpegDecClose(&dec);
    if (decoded != frames) std::abort();
    return 0;
}
