#pragma once
// What the targets assert: a broken invariant aborts, which libFuzzer reports
// with the input that did it.
#include <cstdlib>
#include <string>

#include "metadata/TextCodec.h"

namespace tunara::fuzz {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

// Valid UTF-8 that a terminal, the cache and a file name can take as it is.
inline bool CleanText(const std::string& s) {
    return text::IsValidUtf8(s) && text::DropControls(s) == s;
}

}  // namespace tunara::fuzz
