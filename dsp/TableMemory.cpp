#include <cstdlib>

#include "dsp/FftTables.h"

namespace dsp_internal {

// Alone in this file: see the declaration.
void* AllocateTableBlock(size_t alignment, size_t bytes) {
    return std::aligned_alloc(alignment, bytes);
}

}  // namespace dsp_internal
