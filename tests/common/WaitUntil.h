// Waits for a condition instead of a fixed time: polls `ready` until it holds or `limit` has passed
// since the call, and says which.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qm::test {

inline bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace qm::test
