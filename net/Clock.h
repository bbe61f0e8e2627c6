// The one clock and stop-aware wait behind every wait of the program: the HTTP client's deadlines
// and pauses between attempts, page pacing, rate-limit back-off. Tests inject a manual clock so
// pacing runs instantly; a stop ends a wait at once.
#pragma once

#include <chrono>
#include <mutex>
#include <stop_token>

namespace qm {

class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual time_point Now() = 0;
    // Waits `d` or until `stop` is requested; false when the wait ended because of the stop.
    virtual bool SleepFor(std::chrono::milliseconds d, std::stop_token stop = {}) = 0;
};

// The real clock: steady time, and waits that a stop request cuts short.
Clock& SystemClock();

// A clock for tests: SleepFor advances the time at once and records the total slept. Safe to share
// between threads (the transfer's workers and the back-off read it together).
class ManualClock final : public Clock {
public:
    time_point Now() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    bool SleepFor(std::chrono::milliseconds d, std::stop_token stop = {}) override {
        if (stop.stop_requested()) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        now_ += d;
        slept_ += d;
        return true;
    }
    std::chrono::milliseconds Slept() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return slept_;
    }

private:
    mutable std::mutex mutex_;
    time_point now_{};
    std::chrono::milliseconds slept_{0};
};

}  // namespace qm
