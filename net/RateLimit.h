// Recognising a service's "slow down" answer, wherever an answer can carry it.
#pragma once

#include <optional>
#include <string_view>

#include "net/URLSource2.h"

namespace qm {

// The text the services put into a refusal when requests come too fast.
inline constexpr char16_t kRateLimitText[] = u"您的操作过于频繁";

// The refusal codes and texts of the services' busy answers (HTTP 200 with a JSON body).
inline constexpr int kBusyCodes[] = {-10001, -10083};
inline constexpr const char16_t* kBusyTexts[] = {u"使用人数过多", u"用户过多"};

// Status 429 or 503; a body (gzip or not) holding the rate-limit text in UTF-8, in code page 936
// or as JSON \u escapes; or a refusal (a negative first "code") whose code is a busy code or whose
// text says the service has too many users. Bodies are looked at up to kRateLimitScanBytes.
inline constexpr std::size_t kRateLimitScanBytes = 64 * 1024;
bool IsRateLimitedAnswer(long status, std::string_view body);
bool IsRateLimited(const ST_URLRESPONSE& resp);

// A refusal that asks for a login: code -3000 (not logged in, or the login expired), or -3001
// with "needVerify" (the service wants a verification in the browser).
bool IsLoginNeededAnswer(std::string_view body);
bool IsLoginNeeded(const ST_URLRESPONSE& resp);

// The first "code" of a JSON(P) answer, when there is one.
std::optional<long> AnswerCode(std::string_view body);

// The seconds a Retry-After header of the raw header block names (capped by the caller); nothing
// when it is absent or not a number of seconds.
std::optional<long> RetryAfterSeconds(TextView headers);

}  // namespace qm
