#pragma once
// The ISO polyphase filterbank window: the decoder's synthesis window D[i]; the encoder's
// analysis window is C[i] = D[i] / 32.
#include <cstdint>

namespace mpeg {

// The 512 synthesis-window coefficients in their natural order (D[256] = 1.144989014).
const float* SynthesisWindow();

}  // namespace mpeg
