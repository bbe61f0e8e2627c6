// The cookies an answer deletes.
//
// Each fetch hands curl's cookie engine an empty jar, so what an answer's Set-Cookie lines set comes
// back parsed by curl (domain, public-suffix and date rules included). A line that deletes a cookie
// (Max-Age of zero or less, or an Expires date in the past) leaves nothing in that jar; the cookie
// it names is worked out here the way curl names stored cookies, so the store can drop it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/CookieStore.h"

namespace qm {

// The cookie (domain, path and name) a Set-Cookie line received from `url` deletes; nothing when
// the line sets a cookie, is malformed, or names a domain the answering host may not touch.
// `setCookie` is the header's value (what follows "Set-Cookie:"); `now` is seconds since 1970.
std::optional<Cookie> CookieDeletedBy(std::string_view setCookie, std::string_view url, int64_t now);

}  // namespace qm
