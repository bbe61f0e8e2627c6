// The process-wide cookie store shared by every fetch on every thread and by the login window.
//
// The store is the single authority for cookies. Each request of a fetch (every hop of a redirect
// too) carries the Cookie header the store gives for its address (CookieHeaderFor: host, path,
// secure and expiry rules), and what the answer set or deleted goes back into the store before the
// next hop; no curl cookie jar is ever shared between threads or seeded cookie by cookie. The
// header is built from the buckets of the host's domain family only, so its cost does not grow
// with cookies other hosts set. The store is indexed by domain and bounded:
// at most kMaxCookiesPerDomain per domain and kMaxCookies in all, the least recently set dropped
// first. Persistent cookies are kept in "cookies.txt" (Netscape format, mode 0600) in the program
// folder, rewritten atomically after changes (at most every quarter second while changes keep coming;
// Save() writes at once). Another process may share the file: each write holds
// an advisory lock on the program folder, reads the file and merges this store's own changes into
// it, so cookies the other process wrote meanwhile are kept. Session cookies (expires 0) live for
// the process only: they are never written to the file.
//
// Cookie fields are bytes as they travel in HTTP headers (UTF-8 where not ASCII).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm {

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;     // without a leading dot, lower case
    bool hostOnly = false;  // true: sent to exactly `domain`; false: also to its sub-domains
    std::string path = "/";
    int64_t expires = 0;  // seconds since 1970; 0 = session cookie
    bool secure = false;
    bool httpOnly = false;

    bool operator==(const Cookie&) const = default;
};

// One Netscape cookie-file line ("#HttpOnly_" prefix, domain, TRUE/FALSE, path, secure, expiry,
// name, value; TAB separated), and its parser. A domain with a leading dot or the flag TRUE makes
// a domain cookie; FALSE without a dot keeps it host-only. Comment and malformed lines give false.
std::string FormatNetscapeLine(const Cookie& c);
bool ParseNetscapeLine(std::string_view line, Cookie& out);

// The cookies of "name=value; name=value" (a browser's Cookie header) as domain cookies of
// `domain` with path "/"; pairs without a name are skipped.
std::vector<Cookie> CookiesFromHeader(std::string_view pairs, std::string_view domain, int64_t expires = 0);

inline constexpr size_t kMaxCookiesPerDomain = 50;
inline constexpr size_t kMaxCookies = 3000;
// A cookie whose name and value together are longer is refused (as browsers refuse it).
inline constexpr size_t kMaxCookieBytes = 4096;
// The Cookie header a request carries stays within this many bytes: past it, the least recently
// set cookies are left out of that request (servers refuse longer headers).
inline constexpr size_t kMaxCookieHeader = 8192;

// What became of the cookies handed to CookieStore::AddAll.
struct CookieAddReport {
    size_t kept = 0;        // in the store afterwards, as given
    size_t tooLarge = 0;    // name and value longer than kMaxCookieBytes
    size_t expired = 0;     // expired already (an expired cookie removes its namesake)
    size_t replaced = 0;    // a later cookie of the same batch with the same domain, path and name won
    size_t overLimit = 0;   // pushed out by the limits per domain and in all (oldest first)
    size_t invalid = 0;     // no name or no domain
};

class CookieStore {
public:
    CookieStore() = default;
    // Writes what is still waiting to be written.
    ~CookieStore();
    CookieStore(const CookieStore&) = delete;
    CookieStore& operator=(const CookieStore&) = delete;

    // The store every fetch uses.
    static CookieStore& Instance();

    // Loads "cookies.txt" from the program folder (a missing file is an empty store) and from now
    // on writes every change back to it. Returns false when an existing file cannot be read.
    bool Open(const std::filesystem::path& programFolder);
    // The file this store persists to; empty before Open.
    std::filesystem::path FilePath() const;

    // Adds or replaces the cookie with the same domain, path and name. An expiry in the past
    // removes that cookie instead. Names must not be empty; the domain is normalised. A cookie
    // larger than kMaxCookieBytes is refused.
    void Add(Cookie cookie);
    // Adds many in one change and says what became of each (an import).
    CookieAddReport AddAll(std::vector<Cookie> cookies);
    // Removes the cookie with this domain (leading dot ignored), path and name; false if absent.
    bool Remove(std::string_view name, std::string_view domain, std::string_view path = "/");
    void Clear();

    // Every live cookie, in the order they were first set.
    std::vector<Cookie> List() const;
    // The live cookies a fetch from `host` may need, in the order they were first set: those of the
    // host itself and of its parent domains, and those of its sub-domains (a redirect may go there).
    std::vector<Cookie> ListFor(std::string_view host) const;
    // Writes the persistent cookies to the file now (merged with what another process wrote), unless
    // the file already holds them. Returns the system's reason when the file cannot be written.
    std::optional<std::string> Save();
    // Netscape cookie-file text of the live cookies (session cookies too when asked).
    std::string ExportNetscape(bool includeSession = true) const;
    // Imports Netscape cookie-file text as browsers' export extensions write it; returns the
    // number of cookies taken.
    int ImportNetscape(std::string_view text);
    // Imports a cookie file; -1 when it cannot be read.
    int ImportNetscapeFile(const std::filesystem::path& file);
    // Imports "name=value; name=value" as domain cookies of `domain` with path "/".
    int ImportHeader(std::string_view pairs, std::string_view domain, int64_t expires = 0);

    // "name=value; name=value" of the cookies a request to `url` would carry (host, path, secure
    // and expiry matching; longer paths first), at most kMaxCookieHeader bytes. Empty when none.
    std::string CookieHeaderFor(std::string_view url) const;

    // Called (without the store's lock held) after every change; may be called on any thread.
    void SetChangeListener(std::function<void()> listener);

    // For the HTTP client: applies what one answer's Set-Cookie lines did, in one change: first the
    // cookies they deleted (domain, path and name count), then the cookies they set.
    void ApplyAnswer(const std::vector<Cookie>& deleted, const std::vector<Cookie>& set);

    // Monotonic change counter (lets callers cache derived data).
    uint64_t Generation() const;

private:
    struct Entry {
        Cookie cookie;
        uint64_t first = 0;    // order of first setting (List order)
        uint64_t touched = 0;  // order of last setting (the smallest is dropped first)
    };
    using Bucket = std::vector<Entry>;

    void ChangedLocked();
    void AfterChange();
    Entry* FindLocked(const std::string& domain, std::string_view path, std::string_view name);
    bool EraseLocked(const std::string& domain, std::string_view path, std::string_view name);
    // False when the cookie was refused (no name or domain, too large).
    bool AddLocked(Cookie cookie, bool& changed);
    void DropOldestLocked(Bucket* only);
    void DropExpiredLocked();
    std::vector<Cookie> SortedLocked(std::vector<const Entry*>& hits) const;
    // Calls `take` with the buckets of the domain key's parent domains and of the domain itself, and
    // with those of its sub-domains when `subDomains`.
    void ForHostBucketsLocked(const std::string& key, bool subDomains,
                              const std::function<void(const Bucket&)>& take) const;
    std::optional<std::string> SaveHoldingSaveMutex();

    mutable std::mutex mutex_;
    std::map<std::string, Bucket, std::less<>> domains_;  // key: the domain's labels reversed
    size_t count_ = 0;
    uint64_t sequence_ = 0;
    int64_t earliestExpiry_ = 0;  // no cookie expires before this (0: none may)
    std::filesystem::path file_;
    uint64_t generation_ = 0;
    std::function<void()> listener_;

    // Writing the file (saveMutex_ first when both are held).
    std::mutex saveMutex_;
    std::vector<Cookie> base_;  // this store's persistent cookies as of its last read or write of the file
    // Pacing: the file is written at once after a change, but at most once per kSaveGap; changes
    // made meanwhile are written together by the flusher thread when the gap is over.
    void FlushLoop(std::stop_token stop);
    std::mutex pendingMutex_;
    std::condition_variable_any pendingCv_;
    bool saving_ = false;
    bool pending_ = false;
    std::chrono::steady_clock::time_point lastSave_{};
    std::jthread flusher_;
};

}  // namespace qm
