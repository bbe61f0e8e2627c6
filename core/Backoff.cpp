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

Backoff::Backoff(Clock& clock, std::stop_token stop, Tick tick, uint32_t seed)
    : clock_(clock), stop_(std::move(stop)), tick_(std::move(tick)), random_(seed) {}

bool Backoff::Wait() {
    using std::chrono::milliseconds;
    if (stopped_ || gaveUp_) return false;
    if (stop_.stop_requested()) {
        stopped_ = true;
        return false;
    }
    if (waits_ >= static_cast<int>(kWaits.size())) {
        gaveUp_ = true;
        return false;
    }
    const milliseconds base = kWaits[static_cast<std::size_t>(waits_)];
    std::uniform_int_distribution<long long> jitter(0, base.count() * kJitterPercent / 100);
    milliseconds left = base + milliseconds(jitter(random_));
    ++waits_;

    while (left.count() > 0) {
        if (tick_) tick_(waits_, std::chrono::ceil<std::chrono::seconds>(left));
        // Down to the next whole second first, so the countdown shows whole seconds.
        const milliseconds step = left % std::chrono::seconds(1) != milliseconds(0)
                                      ? left % std::chrono::seconds(1)
                                      : std::min<milliseconds>(left, std::chrono::seconds(1));
        const auto before = clock_.Now();
        const bool completed = clock_.SleepFor(step, stop_);
        const auto slept = std::chrono::duration_cast<milliseconds>(clock_.Now() - before);
        waited_ += completed ? step : std::clamp(slept, milliseconds(0), step);
        if (!completed) {
            stopped_ = true;
            return false;
        }
        left -= step;
    }
    return true;
}

}  // namespace qm
