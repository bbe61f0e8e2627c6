#include "core/Backoff.h"
#include "net/RateLimit.h"
#include "sites/Fetcher.h"

namespace qm {

bool FetchPaced(SiteContext& ctx, ST_URLREQUEST& req, ST_URLRESPONSE& resp) {
    req.stop = ctx.stop;
    req.clock = ctx.clock;
    Backoff backoff(*ctx.clock, ctx.stop,
                    [&ctx](int, std::chrono::seconds left) { ctx.observer->Waiting(left); });
    for (;;) {
        const bool ok = FetchUrl(req, resp, 0);
        if (!IsRateLimited(resp)) {
            if (backoff.Waits() > 0) ctx.observer->Waiting(std::chrono::seconds(0));
            ctx.rateLimitWaited += backoff.Waited();
            return ok;
        }
        if (!backoff.Wait()) {
            ctx.observer->Waiting(std::chrono::seconds(0));
            ctx.rateLimitWaited += backoff.Waited();
            if (backoff.GaveUp()) {
                ctx.reason = ListReason::RateLimited;
                resp.failure = FetchFailure{FailureKind::RateLimited, resp.status, "rate limited"};
            }
            return false;
        }
    }
}

}  // namespace qm
