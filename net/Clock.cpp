#include "net/Clock.h"

#include <condition_variable>
#include <mutex>

namespace qm {
namespace {

class SteadyClock final : public Clock {
public:
    time_point Now() override { return std::chrono::steady_clock::now(); }
    bool SleepFor(std::chrono::milliseconds d, std::stop_token stop) override {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock<std::mutex> lock(m);
        // Nothing notifies the variable: the wait ends at the time-out or at the stop request.
        cv.wait_for(lock, stop, d, [] { return false; });
        return !stop.stop_requested();
    }
};

}  // namespace

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace qm
