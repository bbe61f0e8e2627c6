// What the transfer learns from a limiting host, on a made-up time line: halve on the refusal that
// opens a wait (fewer when the burst was mostly refused), pace below the rate served, grow back
// under the pace, and never above the user's thread count.
#include "download/TransferPace.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using std::chrono::milliseconds;

TEST(TransferPace, SettlesBelowTheRateServed) {
    TransferPace p;
    p.SetCeiling(8);
    Clock::time_point t{};
    const auto serve = [&](int perSecond, milliseconds span) {
        for (auto end = t + span; t < end; t += milliseconds(1000 / perSecond)) p.Served(t, t);
    };
    // Unlimited until the host refuses: no pace, every thread.
    serve(40, milliseconds(3000));
    EXPECT_EQ(p.Limit(), 8);
    EXPECT_EQ(p.Pace(), 0);

    // A refusal after seconds of serving 40 a second: half at once, paced a little below that rate.
    p.Refused(t, t, true);
    EXPECT_EQ(p.Limit(), 4);
    EXPECT_GT(p.Pace(), 34.0);
    EXPECT_LT(p.Pace(), 40.0);
    // Refusals of requests in flight join that wait and change nothing.
    p.Refused(t, t - milliseconds(10), false);
    EXPECT_EQ(p.Limit(), 4);

    // Back after the wait: under the pace it grows back to the ceiling, the pace holds.
    t += milliseconds(2000);
    p.Resumed(t);
    const double pace = p.Pace();
    serve(38, milliseconds(5000));
    EXPECT_EQ(p.Limit(), 8);
    EXPECT_DOUBLE_EQ(p.Pace(), pace);
    // The starts follow the pace.
    const auto first = p.NextStart(t);
    const auto second = p.NextStart(t);
    EXPECT_NEAR(std::chrono::duration<double>(second - first).count(), 1.0 / pace, 1e-6);
}

TEST(TransferPace, AMostlyRefusedBurstKeepsOnlyItsServedShare) {
    TransferPace p;
    p.SetCeiling(15);
    Clock::time_point t{};
    for (int i = 0; i < 5; ++i) p.Served(t + milliseconds(50), t);
    p.Refused(t + milliseconds(50), t, true);
    for (int i = 0; i < 9; ++i) p.Refused(t + milliseconds(50), t, false);
    EXPECT_EQ(p.Limit(), 7);  // halved at once
    p.Resumed(t + milliseconds(2050));
    EXPECT_EQ(p.Limit(), 5);  // a third of the 15 was served
    EXPECT_EQ(p.Pace(), 0);   // a burst this short says nothing of the rate
}

}  // namespace
}  // namespace qm
