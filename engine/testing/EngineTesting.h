#pragma once
// Test access to the process-wide output of the engine. Linked by tests only
// (tunara_engine_testing).

namespace tunara::testing {

// Units of the free-slot semaphore (32 when nothing is queued).
int EngineFreeSlotCount();
// Makes the n-th buffer allocation of the next Open fail (0: none).
void FailEngineAllocation(int nth);

}  // namespace tunara::testing
