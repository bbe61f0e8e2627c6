// Waiting for a condition with a limit: the one way tests wait for something another thread or
// process does, instead of a fixed sleep before an assertion.
#pragma once

#include <chrono>
#include <thread>

namespace qm::test {

// Checks `ready` every `step` until it holds or `limit` has passed; returns its last value. The
// limit is a bound on a hang, never a measure of speed: pick it generously. `between` runs before
// each pause (a window test passes one that processes the event loop, so that the condition can
// come true on the waiting thread too).
template <typename Ready, typename Between>
bool WaitUntil(Ready&& ready, std::chrono::milliseconds limit, std::chrono::milliseconds step, Between&& between) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until) return ready();
        between();
        std::this_thread::sleep_for(step);
    }
    return true;
}

template <typename Ready>
bool WaitUntil(Ready&& ready, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
    return WaitUntil(ready, limit, step, [] {});
}

}  // namespace qm::test
