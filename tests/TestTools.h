#pragma once
// Tests that need an outside tool (lame, sox, ffmpeg, mpg123, python3) to make
// their fixtures skip without it on a developer's machine. CI installs every
// tool and sets TUNARA_REQUIRE_TOOLS=1, so there a missing tool fails the test
// instead of hiding it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace tunara_test {

inline bool ToolsRequired() {
    const char* v = std::getenv("TUNARA_REQUIRE_TOOLS");
    return v && *v && std::strcmp(v, "0") != 0;
}

}  // namespace tunara_test

// In a test body: ends the test when `missing` holds, as a skip or (in CI) a failure.
#define TUNARA_SKIP_IF_MISSING(missing, what)                              \
    if (missing) {                                                         \
        if (::tunara_test::ToolsRequired()) FAIL() << "missing: " << what; \
        GTEST_SKIP() << "missing: " << what;                               \
    }
