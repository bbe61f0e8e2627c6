// Waiting out a service's rate limit, once for the whole job. Every request of the job (list pages
// and pictures, from any thread) passes the same back-off: a refused answer opens one wait that
// every request honours, and a refusal that arrives for a request sent before that wait opened
// only joins it. The steps depend on what was refused: list pages wait 30, 60, 120 and 240 s (a
// little longer at random); the picture host first waits about 2 s and doubles up to those steps.
// A Retry-After the answer names (up to 10 minutes) replaces the step. The steps climb while the
// refusals go on and start again from the first once an answer is served. When a wait would climb
// past the last step, or the job has waited its whole budget, the back-off gives up for good and
// every later request fails at once. Each wait is counted down second by second, and a stop ends
// it at once.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <stop_token>

#include "net/Clock.h"

namespace qm {

enum class WaitLadder : uint8_t { ListPage, Picture };

// A seed for a back-off's jitter: the system's random device is read once per process (opening it
// costs more than a small picture's whole transfer), later seeds step from there.
uint32_t BackoffSeed();

class Backoff {
public:
    using seconds = std::chrono::seconds;
    using milliseconds = std::chrono::milliseconds;

    static constexpr std::array<seconds, 4> kListWaits{seconds(30), seconds(60), seconds(120), seconds(240)};
    static constexpr std::array<seconds, 8> kPictureWaits{seconds(2),  seconds(4),  seconds(8),   seconds(16),
                                                          seconds(30), seconds(60), seconds(120), seconds(240)};
    // List waits are lengthened by up to this share, so that separate clients do not come back together.
    static constexpr int kJitterPercent = 10;
    static constexpr seconds kLongestRetryAfter{600};
    // The most a job waits in all before it gives up.
    static constexpr seconds kBudget{900};

    // `left`: whole seconds still to wait (rounded up), reported about once a second; 0 once the
    // wait is over.
    using Tick = std::function<void(seconds left)>;

    explicit Backoff(Clock& clock, Tick tick = {}, uint32_t seed = BackoffSeed());

    // A refused answer to a request sent at `sentAt`. Opens the next wait unless one opened after
    // the request was sent; true when this call opened one. Gives up instead of climbing past the
    // last step of `ladder` or the budget.
    bool Refused(WaitLadder ladder, Clock::time_point sentAt, std::optional<seconds> retryAfter = {});
    // An answer that was served, to a request sent at `sentAt`: when it was sent after the last
    // wait opened, the refusals have stopped and the next wait starts from the first step.
    void Served(Clock::time_point sentAt);
    // Returns at once when no wait is open; otherwise waits until it is over (one waiting thread
    // counts down for all). False when `stop` ended the wait or the back-off gave up.
    bool Pass(std::stop_token stop);

    bool GaveUp() const;
    int Waits() const;              // waits opened so far
    milliseconds Waited() const;    // time spent waiting so far
    // When the last wait opened (the epoch when none did).
    Clock::time_point LastOpened() const;

private:
    Clock& clock_;
    Tick tick_;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::mt19937 random_;
    Clock::time_point until_{};       // the open wait ends here
    Clock::time_point opened_{};      // when the last wait opened
    bool open_ = false;
    bool ticking_ = false;            // a thread counts the open wait down
    std::size_t step_ = 0;            // the next step of the ladders
    int waits_ = 0;
    bool gaveUp_ = false;
    milliseconds waited_{0};
    milliseconds planned_{0};         // the sum of the waits opened
};

}  // namespace qm
