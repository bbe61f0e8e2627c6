// The HTTP client through which every page, list and picture is fetched (libcurl underneath).
// One process-wide cookie store is shared by every fetch on every thread (see CookieStore.h).
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "net/FetchFailure.h"
#include "net/StringCtrl.h"

namespace qm {

// The browser identity sent as the User-Agent value.
inline constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/31.0.1650.64 "
    "Safari/537.36";

enum FetchFlags : unsigned { URLF_CACHE_WRITE = 0x01, URLF_CACHE_READ = 0x02 };

struct ST_URLREQUEST {
    Text url;
    Text verb = u"GET";
    Text headers;   // extra request header lines, CR LF separated
    Text savePath;  // empty: keep the body in memory
    int32_t readWaitMs;
    int32_t stepWaitMs;
    uint32_t minKB = 0;
    uint32_t maxKB = 0;
    uint8_t attempts = 1;
    uint8_t pauseSeconds = 1;
    // A stop request ends the transfer (and the pauses between attempts) at once.
    std::stop_token stop;

    explicit ST_URLREQUEST(Text u = {}, Text save = {}, int32_t waitMs = 20000)
        : url(std::move(u)), savePath(std::move(save)), readWaitMs(waitMs), stepWaitMs(waitMs) {}
};

struct ST_URLRESPONSE {
    Text headers;      // raw header block of the final answer, CR LF separated
    std::string body;  // as received (still compressed when gzip is set)
    bool gzip = false;
    long status = 0;  // HTTP status of the final answer, 0 when none arrived
    // Body bytes received by the last attempt. Equal to body.size(), except for a large picture
    // saved with `savePath`: its bytes go straight into the file and `body` stays empty.
    uint64_t bodySize = 0;
    // Why the last attempt gave no usable answer (kind None when it did).
    FetchFailure failure;
};

// Must run once in main() before any thread starts (curl_global_init and the shared handles).
// Also called by the first fetch, so it may be left out where no other thread fetches yet.
void URLSource2Init();

// Routes connections while keeping host names (and so cookie domains) intact. `routes` is either
// "HOST:PORT" (every connection goes there) or a comma-separated list of curl CONNECT_TO entries
// "host:port:to-host:to-port" (first match wins); empty turns routing off. At start-up the
// environment variable QUILLMOSS_CONNECT_TO is read the same way.
void SetConnectTo(const std::string& routes);

bool FetchUrl(ST_URLREQUEST& req, ST_URLRESPONSE& resp, unsigned flags);
// The address as it goes on the wire (UTF-8): control characters, blanks and non-ASCII characters
// after the host are percent-encoded (a trailing line feed becomes %0A); everything else is kept.
std::string WireUrl(TextView url);
bool FetchOnce(ST_URLRESPONSE& resp, ST_URLREQUEST& req, unsigned flags);
// "name=value; name=value" of the cookies a request to the address would carry.
Text GetUrlCookie(TextView url);
// Appends the inflated bytes of a gzip or zlib stream to `out` (which must start empty).
bool InflateGzip(const char* data, size_t length, std::string& out);

}  // namespace qm
