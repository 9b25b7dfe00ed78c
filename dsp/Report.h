#pragma once
// Shorthands for the argument checks of the kernels.
#include "dsp/dsp.h"

#define DSP_REPORT(status, routine, text, unit) \
    dspReportError((status), (routine), (text), (unit), __LINE__)

// Returns the handler's result from the calling kernel when |cond| holds.
#define DSP_CHECK(cond, routine, text, unit)                            \
    do {                                                                \
        if (cond) return DSP_REPORT(dspStsBadArg, routine, text, unit); \
    } while (0)
