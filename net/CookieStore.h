// The process-wide cookie store shared by every fetch on every thread and by the login window.
//
// The store is the single authority for cookies. Each fetch hands a copy of the cookies to its own
// curl handle (curl applies domain, path, secure and expiry rules per request, redirects included)
// and gives back what the answers set or removed; so no curl cookie jar is ever touched by two
// threads at once. Persistent cookies are kept in "cookies.txt" (Netscape format, mode 0600) in the
// program folder, rewritten atomically after every change. Session cookies (expires 0) live for
// the process only: they are never written to the file.
//
// Cookie fields are bytes as they travel in HTTP headers (UTF-8 where not ASCII).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
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

class CookieStore {
public:
    CookieStore() = default;
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
    // removes that cookie instead. Names must not be empty; the domain is normalised.
    void Add(Cookie cookie);
    // Removes the cookie with this domain (leading dot ignored), path and name; false if absent.
    bool Remove(std::string_view name, std::string_view domain, std::string_view path = "/");
    void Clear();

    // Every live cookie, in the order they were first set.
    std::vector<Cookie> List() const;
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
    // and expiry matching; longer paths first). Empty when none.
    std::string CookieHeaderFor(std::string_view url) const;

    // Called (without the store's lock held) after every change; may be called on any thread.
    void SetChangeListener(std::function<void()> listener);

    // For the HTTP client: applies what one fetch's answers did to the cookies it started with.
    // Only cookies named in the answers' Set-Cookie lines (`setNames`) are considered: those in
    // `after` that differ from `before` are added or replaced; those of `before` missing from
    // `after` were deleted by the answer and are removed, unless another thread changed them.
    void MergeFetchResult(const std::vector<Cookie>& before, const std::vector<Cookie>& after,
                          const std::vector<std::string>& setNames);

    // Monotonic change counter (lets callers cache derived data).
    uint64_t Generation() const;

private:
    void ChangedLocked();
    void AfterChange();
    int IndexOfLocked(std::string_view domain, std::string_view path, std::string_view name) const;
    void AddLocked(Cookie cookie, bool& changed);
    void DropExpiredLocked();

    mutable std::mutex mutex_;
    std::vector<Cookie> cookies_;
    std::filesystem::path file_;
    uint64_t generation_ = 0;
    std::string lastWritten_;
    std::function<void()> listener_;
    std::mutex saveMutex_;
};

}  // namespace qm
