#pragma once
// Private: the input bit reader of a decoder context (see InputReader in Context.h).
#include <cstdint>

#include "mpegdec/Context.h"

namespace mpegdec {

// Reads the next block from the callback; a non-zero result marks the read as failed.
void Refill(MpegDecContext& c);
// Bits still available; only meaningful once the end marker is set.
int32_t BitsLeft(const InputReader& in);
// The next n bits (n <= 32), most significant first; past the end the missing bits are not
// read and endReached is set.
uint32_t GetBits(MpegDecContext& c, int32_t n);
// Moves `count` whole bytes from the input into the reservoir.
void CopyToReservoir(MpegDecContext& c, int32_t count);
// Moves the read position back n bits (never above the oldest byte held).
void MoveBack(InputReader& in, int32_t n);
// Makes sure `bytes` unread bytes are in the buffer unless the stream ends first.
void EnsureBytes(MpegDecContext& c, int32_t bytes);
// Empties the reader and reads the first block.
void ResetInput(MpegDecContext& c);

}  // namespace mpegdec
