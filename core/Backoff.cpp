#include "core/Backoff.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace qm {

uint32_t BackoffSeed() {
    static const uint32_t base = std::random_device{}();
    static std::atomic<uint32_t> next{0};
    return base + 0x9E3779B9u * next.fetch_add(1, std::memory_order_relaxed);
}

using std::chrono::milliseconds;
using std::chrono::seconds;

Backoff::Backoff(Clock& clock, Tick tick, uint32_t seed) : clock_(clock), tick_(std::move(tick)), random_(seed) {}

bool Backoff::Refused(WaitLadder ladder, Clock::time_point sentAt, std::optional<seconds> retryAfter) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gaveUp_) return false;
    // A wait that opened after this request left already covers its refusal.
    if (waits_ > 0 && sentAt <= opened_) return false;
    const std::size_t steps = ladder == WaitLadder::ListPage ? kListWaits.size() : kPictureWaits.size();
    if (step_ >= steps || planned_ >= kBudget) {
        gaveUp_ = true;
        open_ = false;
        changed_.notify_all();
        return false;
    }
    milliseconds wait;
    if (retryAfter && retryAfter->count() > 0) {
        wait = std::min<milliseconds>(*retryAfter, kLongestRetryAfter);
    } else if (ladder == WaitLadder::ListPage) {
        const milliseconds base = kListWaits[step_];
        std::uniform_int_distribution<long long> jitter(0, base.count() * kJitterPercent / 100);
        wait = base + milliseconds(jitter(random_));
    } else {
        wait = kPictureWaits[step_];
    }
    ++step_;
    ++waits_;
    planned_ += wait;
    const auto now = clock_.Now();
    opened_ = now;
    until_ = std::max(open_ ? until_ : now, now + wait);
    open_ = true;
    changed_.notify_all();
    return true;
}

void Backoff::Served(Clock::time_point sentAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waits_ == 0 || sentAt > opened_) step_ = 0;
}

bool Backoff::Pass(std::stop_token stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (gaveUp_) return false;
        if (stop.stop_requested()) return false;
        if (!open_) return true;
        if (ticking_) {
            // Another thread counts this wait down; it wakes us when the wait is over.
            changed_.wait(lock, stop, [&] { return gaveUp_ || !open_ || !ticking_; });
            continue;
        }
        ticking_ = true;
        bool completed = true;
        for (;;) {
            const auto now = clock_.Now();
            if (now >= until_ || gaveUp_) break;
            const auto left = std::chrono::duration_cast<milliseconds>(until_ - now);
            // Down to the next whole second first, so the countdown shows whole seconds.
            const milliseconds step =
                left % seconds(1) != milliseconds(0) ? left % seconds(1) : std::min<milliseconds>(left, seconds(1));
            lock.unlock();
            if (tick_) tick_(std::chrono::ceil<seconds>(left));
            const auto before = clock_.Now();
            completed = clock_.SleepFor(step, stop);
            const auto slept = std::chrono::duration_cast<milliseconds>(clock_.Now() - before);
            lock.lock();
            waited_ += completed ? step : std::clamp(slept, milliseconds(0), step);
            if (!completed) break;
        }
        ticking_ = false;
        if (completed && !gaveUp_) open_ = false;
        changed_.notify_all();
        lock.unlock();
        if (tick_) tick_(seconds(0));
        lock.lock();
        if (!completed) return false;
    }
}

bool Backoff::GaveUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gaveUp_;
}

int Backoff::Waits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waits_;
}

milliseconds Backoff::Waited() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waited_;
}

Clock::time_point Backoff::LastOpened() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

}  // namespace qm
