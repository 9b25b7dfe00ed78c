#pragma once
// Test access to the inside of an output engine, and the engine tests play
// through. Linked by tests only (tunara_engine_testing).
#include "engine/OutputEngine.h"

namespace tunara::testing {

class EngineProbe {
public:
    // Units of the free-slot count (32 when nothing is queued).
    static int FreeSlots(OutputEngine& engine) { return engine.freeSlots_.Count(); }
    // Makes the n-th buffer allocation of the next Open fail (0: none).
    static void FailAllocationAt(OutputEngine& engine, int nth) { engine.failAllocationAt_ = nth; }
};

// One engine for the whole test program, made on first use and never
// destroyed: items held by fixtures that are statics may let go of it late.
OutputEngine& TestEngine();

inline int EngineFreeSlotCount(OutputEngine& engine = TestEngine()) {
    return EngineProbe::FreeSlots(engine);
}
inline void FailEngineAllocation(int nth, OutputEngine& engine = TestEngine()) {
    EngineProbe::FailAllocationAt(engine, nth);
}

}  // namespace tunara::testing
