// Encoder summaries in the first frame of a stream.
#include <cstring>

#include "mpegdec/mpegstream.h"

namespace {

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The LAME extension after a Xing/Info block: encoder delay and padding, 12 bits each.
void ReadLameExtension(const uint8_t* frame, size_t at, size_t size, MpegStreamSummary* s) {
    if (at + 24 > size || std::memcmp(frame + at, "LAME", 4) != 0) return;
    const uint8_t* d = frame + at + 21;
    s->encoderDelay = int32_t(d[0]) << 4 | d[1] >> 4;
    s->encoderPadding = int32_t(d[1] & 15) << 8 | d[2];
}

}  // namespace

int32_t mpegStreamReadSummary(const uint8_t* frame, size_t size, MpegStreamSummary* out) {
    if (!out) return 0;
    *out = MpegStreamSummary{0, 0, 0, -1, -1};
    if (!frame || size < 4 || !mpeg::IsLayer3Sync(frame)) return 0;
    const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(frame), 0);
    // The block follows the side information, whose size depends on version and mode.
    const size_t sideInfo = size_t(mpeg::SideInfoBytes(mpegHeaderId(w), mpegHeaderChannels(w)));
    const uint8_t* x = 4 + sideInfo + 16 <= size ? frame + 4 + sideInfo : nullptr;
    if (x && (std::memcmp(x, "Xing", 4) == 0 || std::memcmp(x, "Info", 4) == 0)) {
        const uint32_t flags = Be32(x + 4);
        size_t field = 4 + sideInfo + 8;
        // The fields a short block claims are read only where the bytes are there.
        if (flags & 1) {
            if (field + 4 <= size) out->frames = Be32(frame + field);
            field += 4;
        }
        if (flags & 2) {
            if (field + 4 <= size) out->bytes = Be32(frame + field);
            field += 4;
        }
        if (flags & 4) field += 100;  // seek table
        if (flags & 8) field += 4;    // quality
        out->variable = x[0] == 'X';
        ReadLameExtension(frame, field, size, out);
        return 1;
    }
    const uint8_t* v = 4 + 32 + 18 <= size ? frame + 4 + 32 : nullptr;
    if (v && std::memcmp(v, "VBRI", 4) == 0) {
        out->bytes = Be32(v + 10);
        out->frames = Be32(v + 14);
        out->variable = 1;
        return 1;
    }
    return 0;
}
