#include "engine/testing/EngineTesting.h"

#include "engine/EngineHooks.h"

namespace tunara::testing {

int EngineFreeSlotCount() {
    return engine_hooks::FreeSlotCount();
}

void FailEngineAllocation(int nth) {
    engine_hooks::FailAllocationAt(nth);
}

}  // namespace tunara::testing
