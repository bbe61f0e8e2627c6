#include <optional>

#include "core/Backoff.h"
#include "net/BodyText.h"
#include "net/RateLimit.h"
#include "sites/Fetcher.h"

namespace qm {

bool FetchPaced(SiteContext& ctx, ST_URLREQUEST& req, ST_URLRESPONSE& resp) {
    req.stop = ctx.stop;
    req.clock = ctx.clock;
    std::optional<Backoff> own;
    if (!ctx.backoff) own.emplace(*ctx.clock, [&ctx](std::chrono::seconds left) { ctx.observer->Waiting(left); });
    Backoff& backoff = ctx.backoff ? *ctx.backoff : *own;
    const auto waitedBefore = backoff.Waited();
    auto finish = [&](bool ok) {
        ctx.rateLimitWaited += backoff.Waited() - waitedBefore;
        return ok;
    };
    auto giveUp = [&] {
        if (backoff.GaveUp()) {
            ctx.reason = ListReason::RateLimited;
            resp.failure = FetchFailure{FailureKind::RateLimited, resp.status, "rate limited"};
        }
        return finish(false);
    };
    // The same page is asked again after each wait, at most once per step of the list ladder.
    for (std::size_t refusals = 0;; ++refusals) {
        if (!backoff.Pass(ctx.stop)) return giveUp();
        const auto sentAt = ctx.clock->Now();
        resp = ST_URLRESPONSE();
        const bool ok = FetchUrl(req, resp, 0);
        // Every page asked this way is text: inflated once here, the busy and login checks and the
        // caller's reading look at the same bytes (a gzip page was inflated three times).
        InflateBody(resp);
        if (!IsRateLimited(resp)) {
            backoff.Served(sentAt);
            if (ok && IsLoginNeeded(resp)) ctx.reason = ListReason::LoginNeeded;
            return finish(ok);
        }
        std::optional<std::chrono::seconds> retryAfter;
        if (const auto s = RetryAfterSeconds(resp.headers)) retryAfter = std::chrono::seconds(*s);
        backoff.Refused(WaitLadder::ListPage, sentAt, retryAfter);
        if (refusals >= Backoff::kListWaits.size()) {
            ctx.reason = ListReason::RateLimited;
            resp.failure = FetchFailure{FailureKind::RateLimited, resp.status, "rate limited"};
            return finish(false);
        }
    }
}

}  // namespace qm
