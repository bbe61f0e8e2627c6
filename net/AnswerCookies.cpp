#include "net/AnswerCookies.h"

#include <curl/curl.h>

#include <cstdlib>
#include <string>

namespace qm {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
    }
    return true;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

}  // namespace

std::optional<Cookie> CookieDeletedBy(std::string_view setCookie, std::string_view url, int64_t now) {
    // The answering host and the request's path, as curl saw them.
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return std::nullopt;
    std::string_view rest = url.substr(scheme + 3);
    const size_t hostEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, hostEnd);
    std::string_view target =
        hostEnd == std::string_view::npos ? std::string_view("/") : rest.substr(hostEnd);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[')
        authority = authority.substr(1, authority.find(']') - 1);
    else
        authority = authority.substr(0, authority.find(':'));
    std::string host = Lower(authority);
    if (!host.empty() && host.back() == '.') host.pop_back();
    if (host.empty()) return std::nullopt;

    Cookie c;
    bool hasMaxAge = false, expired = false;
    std::string_view domainAttr, pathAttr;
    for (bool first = true; !setCookie.empty(); first = false) {
        const size_t semi = setCookie.find(';');
        const std::string_view part = Trim(setCookie.substr(0, semi));
        setCookie = semi == std::string_view::npos ? std::string_view{} : setCookie.substr(semi + 1);
        const size_t eq = part.find('=');
        const std::string_view key = Trim(part.substr(0, eq));
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view{} : Trim(part.substr(eq + 1));
        if (first) {
            if (eq == std::string_view::npos || key.empty()) return std::nullopt;
            c.name = std::string(key);
        } else if (SameNoCase(key, "domain")) {
            domainAttr = value;
        } else if (SameNoCase(key, "path")) {
            pathAttr = value;
        } else if (SameNoCase(key, "max-age")) {
            // Max-Age outranks Expires; zero or a negative number deletes.
            char* end = nullptr;
            const std::string v(value);
            const long long seconds = std::strtoll(v.c_str(), &end, 10);
            if (!v.empty() && end && *end == '\0') {
                hasMaxAge = true;
                expired = seconds <= 0;
            }
        } else if (SameNoCase(key, "expires") && !hasMaxAge) {
            const time_t when = curl_getdate(std::string(value).c_str(), nullptr);
            expired = when != -1 && static_cast<int64_t>(when) <= now;
        }
    }
    if (!expired) return std::nullopt;

    if (!domainAttr.empty()) {
        while (!domainAttr.empty() && domainAttr.front() == '.') domainAttr.remove_prefix(1);
        c.domain = Lower(domainAttr);
        // A host touches only its own domain and the domains above it.
        const bool within = host == c.domain || (host.size() > c.domain.size() && host.ends_with(c.domain) &&
                                                 host[host.size() - c.domain.size() - 1] == '.');
        if (c.domain.empty() || !within) return std::nullopt;
    } else {
        c.domain = host;
        c.hostOnly = true;
    }
    if (!pathAttr.empty()) {
        c.path = std::string(pathAttr);  // kept as given, as curl stores it
    } else {
        // The request's folder, up to and including its last slash before any query.
        const std::string_view path = target.substr(0, target.find_first_of("?#"));
        const size_t slash = path.rfind('/');
        c.path = slash == std::string_view::npos ? std::string("/") : std::string(path.substr(0, slash + 1));
    }
    return c;
}

}  // namespace qm
