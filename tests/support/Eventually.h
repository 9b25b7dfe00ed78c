#pragma once
// Waits (bounded) for something another thread does that the test cannot step.
#include <chrono>
#include <functional>
#include <thread>

#include "platform/ui/UserInteraction.h"

namespace tunara::testing {

// `pred` may also step the code under test (a tick, a delivery) before it looks.
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

// Delivers the work posted to `queue` until `done` holds, resting only while
// nothing arrives. The limit is a failsafe against a hung worker.
inline bool PumpUntil(PostedQueue& queue, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (queue.Deliver() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tunara::testing
