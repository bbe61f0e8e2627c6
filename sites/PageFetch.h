// Small helpers shared by the mood, QQ group and Tencent Weibo fetchers: one text request, the
// numbers cut out of answers, and the process clock some of the interfaces want in their queries.
#pragma once

#include <chrono>
#include <cstdint>

#include "net/BodyText.h"
#include "net/StringCtrl.h"
#include "net/Trace.h"
#include "net/URLSource2.h"
#include "sites/Fetcher.h"

namespace qm::pagefetch {

// Performs one GET with the given header lines and returns the body as text (flags of
// GetBodyText); empty when the request failed or the body is empty.
inline Text FetchText(const Text& url, const Text& headers, unsigned bodyFlags) {
    ST_URLREQUEST req;
    req.url = url;
    req.headers = headers;
    ST_URLRESPONSE resp;
    if (!FetchUrl(req, resp, 0)) {
        if (TraceEnabled()) Trace("fetch failed: %s\n", ToUtf8(url).c_str());
        return {};
    }
    return GetBodyText(resp, bodyFlags);
}

// A list page answered with an error status (400 and above) is a failed page, not a page without
// entries: its body is an error page, and reading it as the end of the list would pass an album
// off as complete.
inline bool FailedPage(ST_URLRESPONSE& resp) {
    if (resp.status < 400) return false;
    if (!resp.failure) resp.failure = FetchFailure{FailureKind::HttpStatus, resp.status, {}};
    return true;
}

// The same, stopped with the job, and noting a failed page (a network failure or an error status)
// as the context's reason.
template <typename Context>
Text FetchText(Context& ctx, const Text& url, const Text& headers, unsigned bodyFlags) {
    ST_URLREQUEST req;
    req.url = url;
    req.headers = headers;
    ST_URLRESPONSE resp;
    if (!FetchPaced(ctx, req, resp) || FailedPage(resp)) {
        if (TraceEnabled()) Trace("fetch failed: %s\n", ToUtf8(url).c_str());
        if (!ctx.Stopped() && ctx.reasonText.empty()) ctx.reasonText = DescribeFailure(resp.failure);
        return {};
    }
    return GetBodyText(resp, bodyFlags);
}

// Decimal value at the start of a field text: leading blanks skipped, an optional sign, then the
// digits up to the first other character. No digits give 0; values beyond 32 bits are clamped.
inline int32_t LeadingInt(TextView text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > INT32_MAX) {
            value = INT32_MAX;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// Milliseconds since the process started (the "process clock" some queries carry).
inline const std::chrono::steady_clock::time_point kProcessStart = std::chrono::steady_clock::now();
inline unsigned ProcessClockMs() {
    const auto elapsed = std::chrono::steady_clock::now() - kProcessStart;
    return static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// True when `marker` occurs in `text` at a position after its first character.
inline bool ContainsAfterFirst(TextView text, TextView marker) {
    const auto pos = text.find(marker);
    return pos != TextView::npos && pos > 0;
}

}  // namespace qm::pagefetch
