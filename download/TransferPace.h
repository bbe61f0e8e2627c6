// What the transfer learns about a picture host that limits its clients: how many pictures to
// fetch at once and how often to start one. Before the host refuses anything, every worker runs
// unpaced. A refusal that opens a wait halves the number at once (at least one; fewer still when
// the burst since the last wait was mostly refused) and, when the seconds before it held no wait,
// paces the starts at a little below the rate the host served. Later a run of served pictures
// grows the number back by one at a time; without a pace the first growth starts one, a little
// above the rate served, and the pace then holds for a while before it is raised a little at a
// time, so the transfer settles just below the rate the host allows. Not thread-safe: the
// transfer calls it under its own lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

#include "net/Clock.h"

namespace qm {

class TransferPace {
public:
    using time_point = Clock::time_point;
    using milliseconds = std::chrono::milliseconds;

    static constexpr milliseconds kRateWindow{4000};  // the served rate is measured over this
    static constexpr milliseconds kMeasureAfter{2000};  // the least asking a measure needs
    static constexpr milliseconds kGrowEvery{5000};   // the least time between two growths
    static constexpr milliseconds kGrowFromOne{1500};  // the same from one at a time
    static constexpr milliseconds kHold{30000};       // a new pace holds this long before it rises
    static constexpr double kPaceShare = 0.95;        // of the rate served before a refusal
    static constexpr double kFirstProbe = 1.05;       // of the rate served, for the first pace
    static constexpr double kProbeStep = 1.02;        // the pace's rise after the hold

    // The user's thread count: the most at once, ever.
    void SetCeiling(int ceiling);
    int Limit() const { return limit_; }
    double Pace() const { return pace_; }

    // The answer to a request sent at `sentAt` was a refusal; `opened` when it opened a new wait.
    void Refused(time_point now, time_point sentAt, bool opened);
    void Served(time_point now, time_point sentAt);
    // The first start after a wait ended.
    void Resumed(time_point now);
    // When a request asked for now may start; moves the pace's schedule on.
    time_point NextStart(time_point now);

private:
    double ServedRate(time_point now) const;

    int ceiling_ = 1;
    int limit_ = 0;     // 0 until the ceiling is known
    double pace_ = 0;   // starts a second; 0 unpaced
    bool limited_ = false;
    bool started_ = false;
    time_point startedAt_{};
    time_point lastChange_{};
    time_point holdUntil_{};
    time_point nextStart_{};
    std::size_t run_ = 0;     // served since the last change
    int refusedAt_ = 0;       // how many ran at once when the last wait opened
    std::deque<time_point> served_;
    // The burst since the last wait ended: answers to requests sent in it, and the number it ran with.
    time_point burstStart_{};
    int burstLimit_ = 0;
    std::size_t burstServed_ = 0, burstRefused_ = 0;
};

}  // namespace qm
