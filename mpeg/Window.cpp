// The synthesis window lives with the other numeric kernels, where the KVMC codec finds it too.
#include "dsp/dsp.h"
#include "mpeg/Window.h"

namespace mpeg {

const float* SynthesisWindow() {
    return dspPolyphaseWindow();
}

}  // namespace mpeg
