// The input bit reader: stream bytes from the read callback, read most significant bit first,
// with room to move back across a refill.
#include "mpegdec/BitReader.h"

#include <algorithm>
#include <cstring>

namespace mpegdec {

// Reads the next block from the callback. Unread bytes (below byteIndex) and up to
// kInputHistory bytes of the past move above the top, so nothing in reach is lost.
void Refill(MpegDecContext& c) {
    InputReader& in = c.in;
    std::memmove(in.buf + kInputBytes, in.buf, kInputHistory);
    int32_t got = kInputBytes;
    if (c.read(in.buf, &got, c.user) != 0) in.readFailed = true;
    got = std::clamp(got, 0, kInputBytes);
    // The callback writes in stream order; we keep the block top-down.
    std::memmove(in.buf + kInputBytes - got, in.buf, size_t(got));
    std::reverse(in.buf + kInputBytes - got, in.buf + kInputBytes);
    in.byteIndex += kInputBytes;
    in.validTop = std::min(in.validTop + kInputBytes, kInputBytes + kInputHistory - 1);
    if (got < kInputBytes) {
        in.hasEnd = true;
        in.endMarker = kInputBytes - 1 - got;
    } else {
        in.hasEnd = false;
    }
}

// Bits still available; only meaningful once the end marker is set.
int32_t BitsLeft(const InputReader& in) {
    return in.bitIndex + 8 * (in.byteIndex - in.endMarker - 1);
}

uint32_t GetBits(MpegDecContext& c, int32_t n) {
    InputReader& in = c.in;
    in.bitsRead += uint32_t(n);
    uint32_t v = 0;
    while (n > 0) {
        if (in.bitIndex == 0) {
            if (in.byteIndex - 1 < 0 && !in.hasEnd) Refill(c);
            if (in.hasEnd && in.byteIndex - 1 <= in.endMarker) {
                in.endReached = true;
                in.bitsRead -= uint32_t(n);
                return v;
            }
            --in.byteIndex;
            in.bitIndex = 8;
        }
        const int32_t take = std::min(n, in.bitIndex);
        const uint32_t byte = in.buf[in.byteIndex];
        v = (v << take) | ((byte >> (in.bitIndex - take)) & ((1u << take) - 1));
        in.bitIndex -= take;
        n -= take;
    }
    return v;
}

// Moves `count` whole bytes from the input into the reservoir; byte-aligned runs skip the
// bit machinery.
void CopyToReservoir(MpegDecContext& c, int32_t count) {
    InputReader& in = c.in;
    Reservoir& r = c.res;
    while (count > 0) {
        if (in.bitIndex == 8) {  // the current byte is still unread
            ResPutByte(r, in.buf[in.byteIndex]);
            in.bitIndex = 0;
            in.bitsRead += 8;
            --count;
            continue;
        }
        if (in.bitIndex == 0) {
            const int32_t low = in.hasEnd ? in.endMarker + 1 : 0;
            const int32_t run = std::min(count, in.byteIndex - low);
            if (run > 0) {
                const uint8_t* src = in.buf;
                uint8_t* ring = r.ring;
                int32_t at = in.byteIndex, w = r.writePos;
                for (int32_t k = 0; k < run; ++k) {
                    ring[w] = src[--at];
                    w = (w + 1) & (kReservoirSlots - 1);
                }
                std::memcpy(ring + kReservoirSlots, ring, 8);  // keep the mirror current
                in.byteIndex = at;
                r.writePos = w;
                in.bitsRead += uint32_t(8 * run);
                count -= run;
                continue;
            }
        }
        ResPutByte(r, uint8_t(GetBits(c, 8)));  // refill, end of data or unaligned
        --count;
    }
}

// Moves the read position back n bits (never above the oldest byte held).
void MoveBack(InputReader& in, int32_t n) {
    in.endReached = false;
    in.bitsRead -= uint32_t(n);
    in.bitIndex += n;
    while (in.bitIndex > 8) {
        in.bitIndex -= 8;
        ++in.byteIndex;
    }
    if (in.byteIndex > in.validTop) {
        in.byteIndex = in.validTop;
        in.bitIndex = 8;
    }
}

// Makes sure `bytes` unread bytes are in the buffer unless the stream ends first.
void EnsureBytes(MpegDecContext& c, int32_t bytes) {
    InputReader& in = c.in;
    if (!in.hasEnd && in.byteIndex < bytes + 1 && in.byteIndex <= kInputHistory) Refill(c);
}

void ResetInput(MpegDecContext& c) {
    InputReader& in = c.in;
    std::memset(in.buf, 0, sizeof in.buf);
    in.byteIndex = 0;
    in.bitIndex = 0;
    in.bitsRead = 0;
    in.hasEnd = false;
    in.endMarker = 0;
    in.endReached = false;
    in.readFailed = false;
    in.validTop = -1;
    Refill(c);
}

}  // namespace mpegdec
