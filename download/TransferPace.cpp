#include "download/TransferPace.h"

#include <algorithm>

#include "net/Trace.h"

namespace qm {

void TransferPace::SetCeiling(int ceiling) {
    ceiling_ = std::max(1, ceiling);
    if (limit_ <= 0 || limit_ > ceiling_) limit_ = ceiling_;
    if (burstLimit_ <= 0 || burstLimit_ > ceiling_) burstLimit_ = limit_;
}

double TransferPace::ServedRate(time_point now) const {
    // Only the time since the last wait ended counts: a wait serves nothing.
    const auto since = std::min<time_point::duration>(now - std::max(startedAt_, burstStart_), kRateWindow);
    if (since <= time_point::duration::zero()) return 0;
    std::size_t n = 0;
    for (auto it = served_.rbegin(); it != served_.rend() && now - *it <= since; ++it) ++n;
    return static_cast<double>(n) / std::chrono::duration<double>(since).count();
}

void TransferPace::Refused(time_point now, time_point sentAt, bool opened) {
    if (!started_) {
        started_ = true;
        startedAt_ = sentAt;
    }
    if (sentAt >= burstStart_) ++burstRefused_;
    if (!opened) return;
    const int before = limit_;
    limit_ = std::max(1, limit_ / 2);
    refusedAt_ = before;
    // The rate served before the refusal counts when the host was asked long enough since the
    // last wait (a short burst is served from the host's allowance, not at its rate).
    const bool measurable = now - std::max(startedAt_, burstStart_) >= kMeasureAfter;
    if (measurable && ServedRate(now) > 0) {
        pace_ = kPaceShare * ServedRate(now);
        holdUntil_ = now + kHold;
    } else if (pace_ > 0) {
        pace_ *= 0.8;
        holdUntil_ = now + kHold;
    } else if (before == 1) {
        // One at a time is still too fast: pace at what the last seconds served, waits included.
        pace_ = std::max(0.1, 0.9 * ServedRate(now));
        holdUntil_ = now + kHold;
    }
    limited_ = true;
    lastChange_ = now;
    run_ = 0;
    Trace("transfer: refused, %d at once, pace %.1f/s\n", limit_, pace_);
}

void TransferPace::Resumed(time_point now) {
    // A burst that was mostly refused ran with far too many at once: keep only the share served.
    const std::size_t answers = burstServed_ + burstRefused_;
    if (burstRefused_ > 0 && answers > 0) {
        const int byShare = std::max(1, static_cast<int>(burstLimit_ * burstServed_ / answers));
        if (byShare < limit_) limit_ = byShare;
    }
    Trace("transfer: resumed, %d at once, pace %.1f/s (burst: %zu served, %zu refused)\n", limit_, pace_, burstServed_, burstRefused_);
    burstStart_ = now;
    burstLimit_ = limit_;
    burstServed_ = burstRefused_ = 0;
}

void TransferPace::Served(time_point now, time_point sentAt) {
    if (!started_) {
        started_ = true;
        startedAt_ = sentAt;
    }
    if (sentAt >= burstStart_) ++burstServed_;
    served_.push_back(now);
    while (!served_.empty() && now - served_.front() > kRateWindow) served_.pop_front();
    if (!limited_) return;
    ++run_;
    if (pace_ > 0) {
        // Under a pace one more at once cannot outrun the host: grow back quickly, and raise the
        // pace itself only after it held, a little at a time.
        if (limit_ < ceiling_ && run_ >= static_cast<std::size_t>(2 * limit_)) {
            ++limit_;
            run_ = 0;
        }
        if (now >= holdUntil_ && now - lastChange_ >= kGrowEvery) {
            pace_ *= kProbeStep;
            lastChange_ = now;
            Trace("transfer: pace %.1f/s\n", pace_);
        }
        return;
    }
    // One at a time, cut down from three or more: two at once lies between what was served and
    // what was refused, so it is tried soon and paced at twice the rate served.
    const bool floor = limit_ == 1 && refusedAt_ >= 3;
    if (run_ < static_cast<std::size_t>(4 * limit_) || now - lastChange_ < (floor ? kGrowFromOne : kGrowEvery)) return;
    // A run of served pictures without a pace: one more at once, paced a little above the rate
    // served, so that the probe cannot overshoot by much.
    const double rate = ServedRate(now);
    if (rate > 0) {
        pace_ = rate * (floor ? 2.0 : kFirstProbe);
        holdUntil_ = now + kHold;
    }
    if (limit_ < ceiling_) ++limit_;
    lastChange_ = now;
    run_ = 0;
    Trace("transfer: growing, %d at once, pace %.1f/s\n", limit_, pace_);
}

TransferPace::time_point TransferPace::NextStart(time_point now) {
    if (pace_ <= 0) return now;
    const time_point at = std::max(now, nextStart_);
    nextStart_ = at + std::chrono::duration_cast<time_point::duration>(std::chrono::duration<double>(1.0 / pace_));
    return at;
}

}  // namespace qm
