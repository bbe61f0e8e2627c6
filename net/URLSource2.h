// The HTTP client through which every page, list and picture is fetched (libcurl underneath).
// One process-wide cookie store is shared by every fetch on every thread (see CookieStore.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

#include "net/Clock.h"
#include "net/FetchFailure.h"
#include "net/StringCtrl.h"

namespace qm {

class HeldFolder;

// The browser identity sent as the User-Agent value.
inline constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/31.0.1650.64 "
    "Safari/537.36";

enum FetchFlags : unsigned { URLF_CACHE_WRITE = 0x01, URLF_CACHE_READ = 0x02 };

// The most body bytes kept in memory for one answer (pages, lists, compressed pictures). A longer
// answer fails the fetch as too large; a picture saved to a file is not kept in memory and has no
// such cap (its own MinSizeKB / MaxSizeKB apply).
inline constexpr uint64_t kMaxBodyInMemory = uint64_t{64} << 20;

// The overall time one picture attempt may take: the time-out times 4, at least 60 s.
inline int32_t PictureAttemptDeadlineMs(int timeoutSec) {
    const int64_t ms = int64_t{timeoutSec} * 4000;
    return static_cast<int32_t>(ms < 60000 ? 60000 : (ms > INT32_MAX ? INT32_MAX : ms));
}

// The whole time a text answer (a page, a list) may take when the request sets no deadline of its
// own: six read waits. A dripped answer that never stalls long enough to trip the read wait is cut.
inline int32_t TextAnswerDeadlineMs(int32_t readWaitMs) {
    const int64_t ms = int64_t{readWaitMs} * 6;
    return static_cast<int32_t>(ms < 1000 ? 1000 : (ms > INT32_MAX ? INT32_MAX : ms));
}

// A compressed picture may inflate to at most kMaxInflateRatio times its compressed size (never
// less than kMinInflateAllowance) and never to more than kMaxInflatedPicture, whatever MaxSizeKB
// says: a small answer must not fill the disk (a gzip bomb inflates about 1,000 times).
inline constexpr uint64_t kMaxInflateRatio = 100;
inline constexpr uint64_t kMinInflateAllowance = uint64_t{16} << 20;
inline constexpr uint64_t kMaxInflatedPicture = uint64_t{256} << 20;
inline uint64_t InflatedPictureBound(uint64_t compressedBytes) {
    const uint64_t byRatio = compressedBytes > kMaxInflatedPicture / kMaxInflateRatio
                                 ? kMaxInflatedPicture
                                 : compressedBytes * kMaxInflateRatio;
    return std::min(kMaxInflatedPicture, std::max(kMinInflateAllowance, byRatio));
}

struct ST_URLREQUEST {
    Text url;
    Text verb = u"GET";
    Text headers;   // extra request header lines, CR LF separated
    std::string body;  // sent as the request body (a POST of a form); empty: none
    Text savePath;  // empty: keep the body in memory
    // When set, the body is saved as the file `saveName` (one plain component) inside this folder,
    // written through its descriptor; savePath then only names the file in messages.
    std::shared_ptr<const HeldFolder> saveFolder;
    std::string saveName;
    int32_t readWaitMs;
    int32_t stepWaitMs;
    uint32_t minKB = 0;
    uint32_t maxKB = 0;
    uint8_t attempts = 1;
    uint8_t pauseSeconds = 1;
    // The whole time one attempt may take, in ms; 0: no overall limit for a picture saved to a file
    // (the waits above still hold), TextAnswerDeadlineMs for an answer kept in memory.
    int32_t attemptDeadlineMs = 0;
    // A requested stop ends the transfer within a second and leaves no further attempt or pause.
    std::stop_token stop;
    // Times the pauses between attempts; null: the system clock.
    Clock* clock = nullptr;
    // Large files (films): the bytes go into "<savePath>.part" as they arrive and stay there when
    // the transfer breaks or is stopped; the next fetch asks only for the rest (Range, with
    // If-Range naming the validator of the first answer) and starts over when the server sends the
    // whole file, another validator or a range that does not continue the part (see PartialFile.h).
    bool resumable = false;

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
    // A saved body: the file's size and its SHA-256 digest (lower-case hex), taken while it was written.
    uint64_t savedBytes = 0;
    std::string sha256;
    // Why the last attempt gave no usable answer (kind None when it did).
    FetchFailure failure;
    // A resumable fetch: the offset the last attempt asked the server to continue from (0: it asked
    // for the whole file), and whether the answer did continue there.
    uint64_t resumedFrom = 0;
    bool continued = false;
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
// Appends the inflated bytes of a gzip or zlib stream to `out` (which must start empty); false when
// the stream is damaged or inflates to more than kMaxBodyInMemory (out then holds what came before).
bool InflateGzip(const char* data, size_t length, std::string& out);
// Whether `data` opens with the gzip stream's magic bytes.
inline bool IsGzipStream(std::string_view data) {
    return data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1F && static_cast<unsigned char>(data[1]) == 0x8B;
}

enum class InflateEnd { Complete, Damaged, TooLarge, SinkFailed };
// Inflates a gzip or zlib stream piece by piece into `sink` (pieces of at most 64 KiB; memory stays
// that small whatever the stream holds). Stops at once, with TooLarge, when more than `limit`
// bytes would come out; `produced` counts the bytes handed to the sink.
InflateEnd InflateGzipTo(std::string_view data, uint64_t limit,
                         const std::function<bool(std::string_view)>& sink, uint64_t& produced);

}  // namespace qm
