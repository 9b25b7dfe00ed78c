// Encoder summaries in the first frame of a stream.
#include <algorithm>
#include <cstring>

#include "mpegdec/mpegstream.h"

namespace {

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint16_t Crc16(const uint8_t* p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? uint16_t(crc >> 1 ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// Encoders other than LAME write the same extension under their own name, so the name is not
// what tells it is there: a name of printable characters, or the extension's own CRC over the
// frame up to it.
bool HasLameExtension(const uint8_t* frame, size_t at, size_t size) {
    if (at + 36 <= size) {
        const uint16_t stored = uint16_t(frame[at + 34] << 8 | frame[at + 35]);
        if (stored != 0 && stored == Crc16(frame, at + 34)) return true;
    }
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t c = frame[at + i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

// The LAME-style extension after a Xing/Info block: encoder delay and padding, 12 bits each.
void ReadLameExtension(const uint8_t* frame, size_t at, size_t size, MpegStreamSummary* s) {
    if (at + 24 > size || !HasLameExtension(frame, at, size)) return;
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

MpegStreamTrim mpegStreamTrim(int64_t frames, int32_t samplesPerFrame, int32_t encoderDelay,
                              int32_t encoderPadding) {
    const int64_t total = frames > 0 && samplesPerFrame > 0 ? frames * samplesPerFrame : 0;
    if (encoderDelay < 0 || encoderPadding < 0) return MpegStreamTrim{0, total};
    const int64_t skip = int64_t(encoderDelay) + MPEG_STREAM_DECODER_DELAY;
    const int64_t keep = total - encoderDelay - encoderPadding;
    // Nonsense from a damaged tag plays everything rather than nothing.
    if (keep <= 0 || skip >= total) return MpegStreamTrim{0, total};
    return MpegStreamTrim{skip, keep};
}

int32_t mpegStreamParseSmpb(const char* text, int32_t* delay, int32_t* padding) {
    if (!text || !delay || !padding) return 0;
    uint64_t words[4] = {};
    const char* p = text;
    for (uint64_t& word : words) {
        while (*p == ' ') ++p;
        int digits = 0;
        for (;; ++p, ++digits) {
            const char c = *p;
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            else
                break;
            if (digits >= 16) return 0;
            word = word << 4 | uint64_t(v);
        }
        if (digits == 0) return 0;
    }
    if (words[1] > 0xFFFFF || words[2] > 0xFFFFF) return 0;
    *delay = int32_t(words[1]);
    *padding = int32_t(words[2]);
    return 1;
}

int32_t mpegStreamFrameBytesLike(const uint8_t* p, MpegHeaderWord like, int32_t freeBytes) {
    if (!mpeg::IsLayer3Sync(p)) return 0;
    const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(p), 0);
    if (mpegHeaderRateIndex(w) == 3 || mpegHeaderBitrateIndex(w) == 15 ||
        (mpegHeaderIsMpeg25(w) && mpegHeaderId(w) == 1))
        return 0;
    if (like != 0 && (mpegHeaderId(w) != mpegHeaderId(like) ||
                      mpegHeaderIsMpeg25(w) != mpegHeaderIsMpeg25(like) ||
                      mpegHeaderRateIndex(w) != mpegHeaderRateIndex(like)))
        return 0;
    if (mpegHeaderBitrateIndex(w) == 0) return freeBytes > 0 ? freeBytes + mpegHeaderPadding(w) : 0;
    return mpegHeaderFrameBytes(w);
}

int32_t mpegStreamFrameBytesAt(const uint8_t* p, MpegHeaderWord like) {
    return mpegStreamFrameBytesLike(p, like, 0);
}

int32_t mpegStreamFreeFormatBytes(const uint8_t* data, size_t size, size_t at) {
    if (!data || at + 4 > size || !mpeg::IsLayer3Sync(data + at)) return 0;
    const uint32_t bits = mpeg::StreamBits(data + at);
    // Everything but padding, private, mode extension, copyright and original must match, which
    // a stray sync word practically never does.
    constexpr uint32_t kSame = 0xFFFFFFFFu & ~(0x200u | 0x100u | 0x30u | 0xCu);
    const MpegHeaderWord w = mpegHeaderFromStream(bits, 0);
    if (mpegHeaderBitrateIndex(w) != 0 || mpegHeaderRateIndex(w) == 3) return 0;
    const size_t side = size_t(mpeg::SideInfoBytes(mpegHeaderId(w), mpegHeaderChannels(w)));
    const size_t last = std::min(size, at + MPEG_STREAM_MAX_FREE_BYTES + 4);
    for (size_t i = at + 4 + side; i + 4 <= last; ++i) {
        if (data[i] != 0xFF || (mpeg::StreamBits(data + i) & kSame) != (bits & kSame)) continue;
        return int32_t(i - at) - mpegHeaderPadding(w);
    }
    return 0;
}

namespace {

bool TagAt(const uint8_t* data, size_t size, size_t at) {
    const auto has = [&](const char* magic, size_t n) {
        return at + n <= size && std::memcmp(data + at, magic, n) == 0;
    };
    return has("TAG", 3) || has("APETAGEX", 8) || has("ID3", 3);
}

}  // namespace

int64_t mpegStreamFindFrameFree(const uint8_t* data, size_t size, size_t from, size_t searchBytes,
                                int32_t dataIsComplete, MpegHeaderWord* header,
                                int32_t* freeBytes) {
    if (!data) return -1;
    const size_t last = searchBytes > size ? size : std::min(size, from + searchBytes);
    for (size_t at = from; at + 4 <= size && at <= last; ++at) {
        if (data[at] != 0xFF) continue;
        const int32_t free = mpegStreamFreeFormatBytes(data, size, at);
        const int32_t len = mpegStreamFrameBytesLike(data + at, 0, free);
        if (len <= 0) continue;
        const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(data + at), 0);
        size_t next = at + size_t(len);
        bool confirmed = false;
        for (int follow = 0; follow < 2; ++follow) {
            // A cut last frame still ends a chain that began with a whole one.
            if ((dataIsComplete && (next == size || (follow > 0 && next > size))) ||
                (next < size && TagAt(data, size, next))) {
                confirmed = true;
                break;
            }
            if (next + 4 > size) break;
            const int32_t n = mpegStreamFrameBytesLike(data + next, w, free);
            if (n <= 0) break;
            next += size_t(n);
            if (follow == 1) confirmed = true;
        }
        if (confirmed) {
            if (header) *header = w;
            if (freeBytes) *freeBytes = free;
            return int64_t(at);
        }
    }
    return -1;
}

int64_t mpegStreamFindFrame(const uint8_t* data, size_t size, size_t from, size_t searchBytes,
                            int32_t dataIsComplete, MpegHeaderWord* header) {
    return mpegStreamFindFrameFree(data, size, from, searchBytes, dataIsComplete, header, nullptr);
}

int32_t mpegStreamLayout(const uint8_t* data, size_t size, MpegStreamLayout* out) {
    if (!out) return 0;
    *out = MpegStreamLayout{-1, -1, 0, 0, MpegStreamSummary{0, 0, 0, -1, -1}, 0};
    MpegHeaderWord first = 0;
    int32_t free = 0;
    const int64_t at =
        mpegStreamFindFrameFree(data, size, 0, MPEG_STREAM_JUNK_BYTES, 1, &first, &free);
    if (at < 0) return 0;
    out->firstFrame = at;
    out->first = first;
    out->freeBytes = free;
    size_t offset = size_t(at);
    if (mpegStreamReadSummary(data + offset, size - offset, &out->summary))
        offset = std::min(size, offset + size_t(mpegStreamFrameBytesLike(data + offset, 0, free)));
    out->audioFrame = int64_t(offset);
    // Frames of another rate further on (a stream joined on) are counted too, in their own chain.
    MpegHeaderWord current = first;
    while (offset + 4 <= size) {
        const int32_t len = mpegStreamFrameBytesLike(data + offset, current, free);
        if (len <= 0) {
            MpegHeaderWord w = 0;
            const int64_t next =
                mpegStreamFindFrameFree(data, size, offset + 1, size, 1, &w, &free);
            if (next < 0) break;
            offset = size_t(next);
            current = w;
            continue;
        }
        ++out->frames;
        offset += size_t(len);
    }
    return 1;
}

namespace {

// Layer I and II bit rates in kbit/s: [MPEG-1 Layer I, MPEG-1 Layer II, LSF Layer I, LSF II].
const int16_t kLayer12Kbps[4][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};

}  // namespace

int32_t mpegStreamLayer12Bitrate(MpegHeaderWord w) {
    const int32_t layer = mpegHeaderLayerCode(w);  // 3 = Layer I, 2 = Layer II
    const int32_t index = mpegHeaderBitrateIndex(w);
    if ((layer != 2 && layer != 3) || index == 0 || index == 15) return 0;
    const int row = (mpegHeaderId(w) ? 0 : 2) + (layer == 2 ? 1 : 0);
    return int32_t(kLayer12Kbps[row][index]) * 1000;
}

int32_t mpegStreamLayer12FrameBytes(const uint8_t* p, MpegHeaderWord like) {
    if (!mpeg::IsMpegAudioSync(p)) return 0;
    const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(p), 0);
    const int32_t rate = mpegHeaderSampleRate(w);
    const int32_t bitrate = mpegStreamLayer12Bitrate(w);
    if (rate == 0 || bitrate == 0) return 0;
    if (like != 0 && (mpegHeaderLayerCode(w) != mpegHeaderLayerCode(like) ||
                      mpegHeaderId(w) != mpegHeaderId(like) ||
                      mpegHeaderIsMpeg25(w) != mpegHeaderIsMpeg25(like) ||
                      mpegHeaderRateIndex(w) != mpegHeaderRateIndex(like)))
        return 0;
    if (mpegHeaderLayerCode(w) == 3) return (12 * bitrate / rate + mpegHeaderPadding(w)) * 4;
    return 144 * bitrate / rate + mpegHeaderPadding(w);
}

int64_t mpegStreamFindLayer12(const uint8_t* data, size_t size, int32_t dataIsComplete,
                              MpegHeaderWord* header) {
    if (!data) return -1;
    const size_t last = std::min<size_t>(size, MPEG_STREAM_JUNK_BYTES);
    for (size_t at = 0; at + 4 <= size && at <= last; ++at) {
        if (data[at] != 0xFF) continue;
        const int32_t len = mpegStreamLayer12FrameBytes(data + at, 0);
        if (len <= 0) continue;
        const MpegHeaderWord w = mpegHeaderFromStream(mpeg::StreamBits(data + at), 0);
        // Three headers in a row, or a chain that ends exactly with the data or at a tag.
        size_t next = at + size_t(len);
        bool confirmed = false;
        for (int follow = 0; follow < 2 && !confirmed; ++follow) {
            if ((dataIsComplete && next == size) || (next < size && TagAt(data, size, next))) {
                confirmed = true;
                break;
            }
            if (next + 4 > size) break;
            const int32_t n = mpegStreamLayer12FrameBytes(data + next, w);
            if (n <= 0) break;
            next += size_t(n);
            confirmed = follow == 1;
        }
        if (confirmed) {
            if (header) *header = w;
            return int64_t(at);
        }
    }
    return -1;
}
