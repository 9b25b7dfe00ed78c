#pragma once
// Makes every atomic file save of the process stop at one stage for the life
// of a scope: "write" fails as a full disk would; "rename" fails as a crash
// before the rename would, leaving the temporary file beside the old one.
#include <string>

namespace tunara::testing {

class ScopedSaveFailure {
public:
    explicit ScopedSaveFailure(std::string stage);
    ~ScopedSaveFailure();
    ScopedSaveFailure(const ScopedSaveFailure&) = delete;
    ScopedSaveFailure& operator=(const ScopedSaveFailure&) = delete;
};

}  // namespace tunara::testing
