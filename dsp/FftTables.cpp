// The FFT table cache.
//
// Thread safety. Each order has one slot holding a pointer to an immutable
// table set. A transform "holds" its tables for the whole transform:
//
//   reader:   e = epoch; ++readers[e & 1]; if epoch != e, undo and retry;
//             tables = slot[order]; ... transform ... ; --readers[e & 1]
//   release:  (under the cache mutex) take the tables out of their slots,
//             e = epoch++, wait until readers[e & 1] is 0, then free them.
//
// All of these are sequentially consistent atomics. A reader that found the
// tables counted itself under the epoch current at the moment it found them,
// so the releaser, which waits on exactly that epoch's counter after taking
// the tables out, cannot free them under it. Readers arriving after the flip
// count under the other parity and can only find the slot empty or refilled,
// so the wait ends as soon as the transforms already running have finished
// (microseconds). The epoch re-check stops a reader that read the epoch long
// ago from hiding in a counter nobody will wait on. Creation also runs under
// the mutex and publishes a complete table set with one atomic store. Readers
// never take the mutex while they are counted, so the releaser cannot wait on
// a reader that waits on it.
#include "dsp/FftTables.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace dsp_internal {
namespace {

constexpr int kSlots = 32;

std::atomic<FftTables*> g_slots[kSlots];
std::atomic<uint32_t> g_epoch{0};
std::atomic<int64_t> g_readers[2];
std::mutex g_cacheMutex;  // creation and release only; never taken by a counted reader

constexpr size_t kAlign = 32;
size_t RoundUp(size_t bytes) {
    return (bytes + kAlign - 1) & ~(kAlign - 1);
}

uint32_t BitReverse(uint32_t value, int bits) {
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((value >> i) & 1u) << (bits - 1 - i);
    return r;
}

// A bump allocator over the one aligned block that holds a table set.
struct Carver {
    char* base;
    size_t used = 0;
    template <typename T>
    T* Take(size_t count) {
        // Measuring has no block: offsets from a null base are undefined.
        T* p = base ? reinterpret_cast<T*>(base + used) : nullptr;
        used += RoundUp(count * sizeof(T));
        return p;
    }
};

// Lays out (base == nullptr: only measures) the tables of |order|.
size_t Layout(int32_t order, char* base) {
    const int32_t m = order - 1;
    const int64_t half = int64_t{1} << m;
    const int64_t quarterPlus = half / 2 + 1;
    Carver c{base};
    FftTables* t = c.Take<FftTables>(1);
    float* cosK = c.Take<float>(quarterPlus);
    float* sinK = c.Take<float>(quarterPlus);
    float* halfCosK = c.Take<float>(quarterPlus);
    float* halfSinK = c.Take<float>(quarterPlus);
    const bool fast =
        half <= kMaxFastHalf && ((m % 2 == 0 && half >= 16) || (m % 2 == 1 && half >= 32));
    const int32_t radix = m % 2 ? 8 : 4;
    const int64_t groups = fast ? half / (4 * radix) : 0;
    uint32_t* groupBlock = fast ? c.Take<uint32_t>(groups) : nullptr;
    float* stageTw[16] = {};
    int32_t stageCount = 0;
    float* twiddles = nullptr;
    if (fast) {
        for (int64_t span = radix; 4 * span <= half; span *= 4)
            stageTw[stageCount++] = c.Take<float>(6 * span);
    } else {
        twiddles = c.Take<float>(half);  // M/2 complex
    }
    if (base == nullptr) return c.used;

    const double twoPi = 2.0 * M_PI;
    const double n = 2.0 * static_cast<double>(half);
    for (int64_t k = 0; k < quarterPlus; ++k) {
        const double a = twoPi * static_cast<double>(k) / n;
        cosK[k] = static_cast<float>(std::cos(a));
        sinK[k] = static_cast<float>(std::sin(a));
        halfCosK[k] = static_cast<float>(0.5 * std::cos(a));
        halfSinK[k] = static_cast<float>(0.5 * std::sin(a));
    }
    if (fast) {
        int groupBits = 0;
        while ((int64_t{1} << groupBits) < groups) ++groupBits;
        for (int64_t g = 0; g < groups; ++g)
            groupBlock[g] = BitReverse(static_cast<uint32_t>(g), groupBits);
        int64_t span = radix;
        for (int32_t st = 0; st < stageCount; ++st, span *= 4) {
            float* w = stageTw[st];
            const double len = 4.0 * static_cast<double>(span);
            for (int64_t j = 0; j < span; ++j) {
                for (int p = 1; p <= 3; ++p) {
                    const double a = -twoPi * static_cast<double>(p * j) / len;
                    w[(2 * p - 2) * span + j] = static_cast<float>(std::cos(a));
                    w[(2 * p - 1) * span + j] = static_cast<float>(std::sin(a));
                }
            }
        }
    } else {
        for (int64_t j = 0; j < half / 2; ++j) {
            const double a = -twoPi * static_cast<double>(j) / static_cast<double>(half);
            twiddles[2 * j] = static_cast<float>(std::cos(a));
            twiddles[2 * j + 1] = static_cast<float>(std::sin(a));
        }
    }
    t->order = order;
    t->half = half;
    t->cosK = cosK;
    t->sinK = sinK;
    t->halfCosK = halfCosK;
    t->halfSinK = halfSinK;
    t->fast = fast;
    t->radix = radix;
    t->groups = groups;
    t->groupBlock = groupBlock;
    t->stageCount = stageCount;
    for (int32_t st = 0; st < 16; ++st) t->stageTwiddles[st] = stageTw[st];
    t->twiddles = twiddles;
    return c.used;
}

FftTables* Build(int32_t order) {
    const size_t bytes = Layout(order, nullptr);
    void* block = AllocateTableBlock(kAlign, RoundUp(bytes));
    if (block == nullptr) return nullptr;
    Layout(order, static_cast<char*>(block));
    return static_cast<FftTables*>(block);
}

// Frees tables that were taken out of their slots; caller holds the mutex.
void RetireLocked(FftTables* const* retired, int count) {
    if (count == 0) return;
    const uint32_t old = g_epoch.fetch_add(1);
    while (g_readers[old & 1].load() != 0) std::this_thread::yield();
    for (int i = 0; i < count; ++i) std::free(retired[i]);
}

void ReleaseAllLocked() {
    FftTables* retired[kSlots];
    int count = 0;
    for (auto& slot : g_slots)
        if (FftTables* t = slot.exchange(nullptr)) retired[count++] = t;
    RetireLocked(retired, count);
}

}  // namespace

int32_t EnsureTables(int32_t order) {
    if (order < 2 || order >= kSlots) return 0;
    if (g_slots[order].load() != nullptr) return 0;
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    if (g_slots[order].load() != nullptr) return 0;
    FftTables* t = Build(order);
    if (t == nullptr) {
        // Memory is short: drop everything cached and try once more.
        ReleaseAllLocked();
        t = Build(order);
        if (t == nullptr) return -4;
    }
    g_slots[order].store(t);
    return 0;
}

void ReleaseTables(int32_t order) {
    if (order < 2 || order >= kSlots) return;
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    FftTables* t = g_slots[order].exchange(nullptr);
    if (t != nullptr) RetireLocked(&t, 1);
}

void ReleaseAllTables() {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    ReleaseAllLocked();
}

bool HasTables(int32_t order) {
    return order >= 0 && order < kSlots && g_slots[order].load() != nullptr;
}

TableHold::TableHold(int32_t order) {
    for (;;) {
        const uint32_t epoch = g_epoch.load();
        const int32_t parity = static_cast<int32_t>(epoch & 1);
        g_readers[parity].fetch_add(1);
        if (g_epoch.load() == epoch) {
            if (const FftTables* t = g_slots[order].load()) {
                tables_ = t;
                parity_ = parity;
                return;
            }
        }
        g_readers[parity].fetch_sub(1);
        // Not counted any more, so creating (which may release) cannot deadlock.
        status_ = EnsureTables(order);
        if (status_ != 0) return;
    }
}

TableHold::~TableHold() {
    if (parity_ >= 0) g_readers[parity_].fetch_sub(1);
}

}  // namespace dsp_internal
