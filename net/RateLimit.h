// Recognising a service's "slow down" answer, wherever an answer can carry it.
#pragma once

#include <string_view>

#include "net/URLSource2.h"

namespace qm {

// The text the services put into a refusal when requests come too fast.
inline constexpr char16_t kRateLimitText[] = u"您的操作过于频繁";

// Status 429 or 503, or a body (gzip or not) holding the rate-limit text in UTF-8, in code page 936
// or as JSON \u escapes. Bodies are looked at up to kRateLimitScanBytes.
inline constexpr std::size_t kRateLimitScanBytes = 64 * 1024;
bool IsRateLimitedAnswer(long status, std::string_view body);
bool IsRateLimited(const ST_URLRESPONSE& resp);

}  // namespace qm
