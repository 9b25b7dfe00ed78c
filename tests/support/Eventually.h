#pragma once
// Waits (bounded) for something another thread does that the test cannot step.
#include <chrono>
#include <functional>
#include <thread>

namespace tunara::testing {

inline bool Eventually(const std::function<bool()>& pred,
                       std::chrono::milliseconds limit = std::chrono::seconds(5),
                       std::chrono::microseconds poll = std::chrono::microseconds(200)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace tunara::testing
