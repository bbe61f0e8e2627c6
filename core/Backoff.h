// Waiting out a service's rate limit: 30 s, 60 s, 120 s and 240 s (each a little longer at random,
// so that parallel requests do not come back together), then give up. Each wait is reported
// second by second for a countdown, and a stop ends it at once.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <stop_token>

#include "net/Clock.h"

namespace qm {

// A seed for a back-off's jitter: the system's random device is read once per process (opening it
// costs more than a small picture's whole transfer), later seeds step from there.
uint32_t BackoffSeed();

class Backoff {
public:
    static constexpr std::array<std::chrono::seconds, 4> kWaits{
        std::chrono::seconds(30), std::chrono::seconds(60), std::chrono::seconds(120),
        std::chrono::seconds(240)};
    // Each wait is lengthened by up to this share of it.
    static constexpr int kJitterPercent = 10;

    // `wait` counts from 1; `left` is the whole seconds still to wait (rounded up), reported once a
    // second, never 0.
    using Tick = std::function<void(int wait, std::chrono::seconds left)>;

    Backoff(Clock& clock, std::stop_token stop, Tick tick = {}, uint32_t seed = BackoffSeed());

    // After a rate-limited answer: waits the next step and returns true, so that the same request is
    // tried again. False, without waiting, once the four waits are used up (GaveUp), or when a stop
    // ended the wait (Stopped).
    bool Wait();

    bool GaveUp() const { return gaveUp_; }
    bool Stopped() const { return stopped_; }
    int Waits() const { return waits_; }
    // The time spent waiting so far.
    std::chrono::milliseconds Waited() const { return waited_; }

private:
    Clock& clock_;
    std::stop_token stop_;
    Tick tick_;
    std::mt19937 random_;
    int waits_ = 0;
    bool gaveUp_ = false;
    bool stopped_ = false;
    std::chrono::milliseconds waited_{0};
};

// Runs `attempt` (which returns true when its answer was rate-limited) until an answer is not, with
// the waits of `backoff` in between. False when it gave up or was stopped.
template <typename F>
bool RetryWhileRateLimited(Backoff& backoff, F&& attempt) {
    while (attempt())
        if (!backoff.Wait()) return false;
    return true;
}

}  // namespace qm
