#pragma once
// Per-order FFT tables and the process-wide cache that owns them (internal).
#include <cstddef>
#include <cstdint>

namespace dsp_internal {

// The largest half-length done by the vectorised path; its work area lives on
// the stack (2 * kMaxFastHalf floats). Longer transforms use the in-place path.
inline constexpr int64_t kMaxFastHalf = 4096;

// Immutable once published. N = 2^order, M = N/2 complex points.
struct FftTables {
    int32_t order;
    int64_t half;  // M
    // cos and sin of 2 pi k / N for k = 0..M/2, and the same halved.
    const float* cosK;
    const float* sinK;
    const float* halfCosK;
    const float* halfSinK;

    // Vectorised path (fast == true).
    bool fast;
    int32_t radix;                   // 4 or 8: the first pass does DFTs of this length
    int64_t groups;                  // M / (4 * radix): first-pass groups of four blocks
    const uint32_t* groupBlock;      // first block of each group (bit-reversed group index)
    int32_t stageCount;              // radix-4 passes after the first
    const float* stageTwiddles[16];  // per pass, span s: W^j, W^2j, W^3j split, 6*s floats

    // In-place path (fast == false): W_M^j for j < M/2 as re, im pairs.
    const float* twiddles;
};

// Holds the tables of one order for the duration of one transform. Once the
// tables exist, taking and dropping a hold costs two atomic counter updates
// and three atomic loads: no lock, no allocation, and a retry only when a
// release is going on at that very moment.
class TableHold {
public:
    // Makes the tables when missing. status() is 0, or -4 when they could not be
    // allocated (the whole cache was released and the allocation retried first).
    explicit TableHold(int32_t order);
    ~TableHold();
    TableHold(const TableHold&) = delete;
    TableHold& operator=(const TableHold&) = delete;

    const FftTables* tables() const { return tables_; }
    int32_t status() const { return status_; }

private:
    const FftTables* tables_ = nullptr;
    int32_t parity_ = -1;
    int32_t status_ = 0;
};

// Makes the tables of |order| when missing; 0 or -4.
int32_t EnsureTables(int32_t order);
// Unpublishes and frees the tables of one order / of all orders. Waits (without
// holding up any transform) until no transform can still be using them.
void ReleaseTables(int32_t order);
void ReleaseAllTables();
// Whether the tables of |order| are cached at this moment (for tests).
bool HasTables(int32_t order);
// The memory of one table set, freed with std::free. It has an object file
// of its own, so that a test can link in an allocator that fails.
void* AllocateTableBlock(size_t alignment, size_t bytes);

}  // namespace dsp_internal
