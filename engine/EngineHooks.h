#pragma once
// Private: what the engine's testing tier (engine/testing) reaches inside the
// output. Not for the program.

namespace tunara::engine_hooks {

int FreeSlotCount();
void FailAllocationAt(int nth);

}  // namespace tunara::engine_hooks
