#pragma once
// libcdio's cue parser loses a few strings when it refuses a sheet; that is
// its own leak, not ours. Include in exactly one file of a test program that
// reads broken images, so LeakSanitizer keeps reporting ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libcdio.so\n";
}
