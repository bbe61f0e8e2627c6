#include "net/CookieStore.h"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "net/FileUtil.h"
#include "net/Trace.h"

namespace qm {

namespace {

constexpr const char* kCookieFileName = "cookies.txt";
constexpr const char* kFileHeader =
    "# Netscape HTTP Cookie File\n# Written by Quillmoss; edit with care.\n\n";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// Normalises the domain: lower case, a leading dot turns the cookie into a domain cookie.
void NormaliseDomain(Cookie& c) {
    std::string d = LowerAscii(TrimBlanks(c.domain));
    if (!d.empty() && d.front() == '.') {
        d.erase(0, 1);
        c.hostOnly = false;
    }
    c.domain = std::move(d);
    if (c.path.empty() || c.path.front() != '/') c.path = "/";
}

bool Expired(const Cookie& c, int64_t now) {
    return c.expires != 0 && c.expires <= now;
}

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

struct UrlParts {
    bool secure = false;
    std::string host;
    std::string path;
};

bool SplitUrl(std::string_view url, UrlParts& out) {
    url = TrimBlanks(url);
    const size_t colon = url.find("://");
    if (colon == std::string_view::npos) return false;
    const std::string_view scheme = url.substr(0, colon);
    if (EqualsNoCase(scheme, "https"))
        out.secure = true;
    else if (!EqualsNoCase(scheme, "http"))
        return false;
    std::string_view rest = url.substr(colon + 3);
    const size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    std::string_view tail = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        authority = authority.substr(1, close - 1);
    } else if (const size_t portColon = authority.find(':'); portColon != std::string_view::npos) {
        authority = authority.substr(0, portColon);
    }
    if (authority.empty()) return false;
    out.host = LowerAscii(authority);
    if (!out.host.empty() && out.host.back() == '.') out.host.pop_back();
    const size_t q = tail.find_first_of("?#");
    std::string_view path = tail.substr(0, q);
    out.path = path.empty() || path.front() != '/' ? std::string("/") : std::string(path);
    return true;
}

bool DomainMatches(const Cookie& c, const std::string& host) {
    if (c.hostOnly) return host == c.domain;
    if (host == c.domain) return true;
    return host.size() > c.domain.size() &&
           host.compare(host.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
           host[host.size() - c.domain.size() - 1] == '.';
}

bool PathMatches(const Cookie& c, const std::string& path) {
    if (path == c.path) return true;
    if (path.size() < c.path.size() || path.compare(0, c.path.size(), c.path) != 0) return false;
    return c.path.back() == '/' || path[c.path.size()] == '/';
}

}  // namespace

std::string FormatNetscapeLine(const Cookie& c) {
    std::string line;
    if (c.httpOnly) line += "#HttpOnly_";
    if (!c.hostOnly) line += '.';
    line += c.domain;
    line += c.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
    line += c.path.empty() ? "/" : c.path;
    line += c.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(c.expires);
    line += '\t';
    line += c.name;
    line += '\t';
    line += c.value;
    return line;
}

bool ParseNetscapeLine(std::string_view line, Cookie& out) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    Cookie c;
    constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (line.substr(0, kHttpOnly.size()) == kHttpOnly) {
        c.httpOnly = true;
        line.remove_prefix(kHttpOnly.size());
    }
    if (line.empty() || line.front() == '#') return false;
    std::string_view fields[7];
    int n = 0;
    while (n < 6) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) break;
        fields[n++] = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    if (n < 5) return false;
    if (n == 5) {  // a cookie without a value: "…\tname" (or "…\tname\t" handled below)
        fields[5] = line;
        fields[6] = {};
    } else {
        fields[6] = line;
    }
    c.domain = std::string(TrimBlanks(fields[0]));
    const bool tailmatch = EqualsNoCase(TrimBlanks(fields[1]), "TRUE");
    c.hostOnly = !tailmatch;
    c.path = std::string(fields[2]);
    c.secure = EqualsNoCase(TrimBlanks(fields[3]), "TRUE");
    const std::string_view exp = TrimBlanks(fields[4]);
    int64_t expires = 0;
    if (!exp.empty()) {
        // Some exporters write fractional seconds; the whole part is enough.
        auto [p, ec] = std::from_chars(exp.data(), exp.data() + exp.size(), expires);
        if (ec != std::errc()) return false;
        (void)p;
        if (expires < 0) expires = 0;
    }
    c.expires = expires;
    c.name = std::string(fields[5]);
    c.value = std::string(fields[6]);
    if (c.name.empty() || c.domain.empty()) return false;
    NormaliseDomain(c);
    if (c.domain.empty()) return false;
    out = std::move(c);
    return true;
}

CookieStore& CookieStore::Instance() {
    static CookieStore store;
    return store;
}

bool CookieStore::Open(const std::filesystem::path& programFolder) {
    const std::filesystem::path file = programFolder / kCookieFileName;
    std::string text;
    std::error_code ec;
    const bool exists = std::filesystem::exists(file, ec);
    bool ok = true;
    if (exists && !ReadWholeFile(file, text)) ok = false;
    {
        std::lock_guard lock(mutex_);
        file_ = file;
        const int64_t now = Now();
        for (size_t pos = 0; pos < text.size();) {
            size_t eol = text.find('\n', pos);
            if (eol == std::string::npos) eol = text.size();
            Cookie c;
            // Session cookies have no business in the file; one that is there is dropped.
            if (ParseNetscapeLine(std::string_view(text).substr(pos, eol - pos), c) && c.expires != 0 &&
                !Expired(c, now)) {
                bool changed = false;
                AddLocked(std::move(c), changed);
            }
            pos = eol + 1;
        }
        ChangedLocked();
    }
    {
        std::lock_guard save(saveMutex_);
        lastWritten_ = text;
    }
    Trace("cookies: opened %s\n", file.c_str());
    return ok;
}

std::filesystem::path CookieStore::FilePath() const {
    std::lock_guard lock(mutex_);
    return file_;
}

int CookieStore::IndexOfLocked(std::string_view domain, std::string_view path, std::string_view name) const {
    for (size_t i = 0; i < cookies_.size(); ++i) {
        const Cookie& c = cookies_[i];
        if (c.name == name && c.path == path && c.domain == domain) return static_cast<int>(i);
    }
    return -1;
}

void CookieStore::AddLocked(Cookie cookie, bool& changed) {
    NormaliseDomain(cookie);
    if (cookie.name.empty() || cookie.domain.empty()) return;
    const int i = IndexOfLocked(cookie.domain, cookie.path, cookie.name);
    if (Expired(cookie, Now())) {
        if (i >= 0) {
            cookies_.erase(cookies_.begin() + i);
            changed = true;
        }
        return;
    }
    if (i >= 0) {
        if (cookies_[i] == cookie) return;
        cookies_[i] = std::move(cookie);
    } else {
        cookies_.push_back(std::move(cookie));
    }
    changed = true;
}

void CookieStore::DropExpiredLocked() {
    const int64_t now = Now();
    const auto before = cookies_.size();
    std::erase_if(cookies_, [now](const Cookie& c) { return Expired(c, now); });
    if (cookies_.size() != before) ChangedLocked();
}

void CookieStore::ChangedLocked() {
    ++generation_;
}

void CookieStore::AfterChange() {
    std::function<void()> listener;
    {
        std::lock_guard save(saveMutex_);
        std::string text;
        std::filesystem::path file;
        {
            std::lock_guard lock(mutex_);
            file = file_;
            listener = listener_;
        }
        if (!file.empty()) {
            text = kFileHeader + ExportNetscape(false);
            if (text != lastWritten_) {
                if (WriteFileAtomic(file, text, 0600))
                    lastWritten_ = std::move(text);
                else
                    Trace("cookies: cannot write %s\n", file.c_str());
            }
        }
    }
    if (listener) listener();
}

void CookieStore::Add(Cookie cookie) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        AddLocked(std::move(cookie), changed);
        if (changed) ChangedLocked();
    }
    if (changed) AfterChange();
}

bool CookieStore::Remove(std::string_view name, std::string_view domain, std::string_view path) {
    Cookie key;
    key.domain = std::string(domain);
    key.path = std::string(path);
    NormaliseDomain(key);
    {
        std::lock_guard lock(mutex_);
        const int i = IndexOfLocked(key.domain, key.path, name);
        if (i < 0) return false;
        cookies_.erase(cookies_.begin() + i);
        ChangedLocked();
    }
    AfterChange();
    return true;
}

void CookieStore::Clear() {
    {
        std::lock_guard lock(mutex_);
        if (cookies_.empty()) return;
        cookies_.clear();
        ChangedLocked();
    }
    AfterChange();
}

std::vector<Cookie> CookieStore::List() const {
    std::lock_guard lock(mutex_);
    const int64_t now = Now();
    std::vector<Cookie> out;
    out.reserve(cookies_.size());
    for (const Cookie& c : cookies_)
        if (!Expired(c, now)) out.push_back(c);
    return out;
}

std::string CookieStore::ExportNetscape(bool includeSession) const {
    std::string out;
    for (const Cookie& c : List()) {
        if (!includeSession && c.expires == 0) continue;
        out += FormatNetscapeLine(c);
        out += '\n';
    }
    return out;
}

int CookieStore::ImportNetscape(std::string_view text) {
    int count = 0;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        for (size_t pos = 0; pos < text.size();) {
            size_t eol = text.find('\n', pos);
            if (eol == std::string_view::npos) eol = text.size();
            Cookie c;
            if (ParseNetscapeLine(text.substr(pos, eol - pos), c)) {
                AddLocked(std::move(c), changed);
                ++count;
            }
            pos = eol + 1;
        }
        if (changed) ChangedLocked();
    }
    if (changed) AfterChange();
    return count;
}

int CookieStore::ImportNetscapeFile(const std::filesystem::path& file) {
    std::string text;
    if (!ReadWholeFile(file, text)) return -1;
    return ImportNetscape(text);
}

int CookieStore::ImportHeader(std::string_view pairs, std::string_view domain, int64_t expires) {
    int count = 0;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        while (!pairs.empty()) {
            const size_t semi = pairs.find(';');
            std::string_view pair = TrimBlanks(pairs.substr(0, semi));
            pairs = semi == std::string_view::npos ? std::string_view{} : pairs.substr(semi + 1);
            const size_t eq = pair.find('=');
            if (eq == std::string_view::npos) continue;
            Cookie c;
            c.name = std::string(TrimBlanks(pair.substr(0, eq)));
            c.value = std::string(TrimBlanks(pair.substr(eq + 1)));
            if (c.name.empty()) continue;
            c.domain = std::string(domain);
            c.hostOnly = false;
            c.expires = expires;
            AddLocked(std::move(c), changed);
            ++count;
        }
        if (changed) ChangedLocked();
    }
    if (changed) AfterChange();
    return count;
}

std::string CookieStore::CookieHeaderFor(std::string_view url) const {
    UrlParts parts;
    if (!SplitUrl(url, parts)) return {};
    std::vector<const Cookie*> hits;
    const int64_t now = Now();
    std::lock_guard lock(mutex_);
    for (const Cookie& c : cookies_) {
        if (Expired(c, now) || (c.secure && !parts.secure)) continue;
        if (DomainMatches(c, parts.host) && PathMatches(c, parts.path)) hits.push_back(&c);
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Cookie* a, const Cookie* b) { return a->path.size() > b->path.size(); });
    std::string out;
    for (const Cookie* c : hits) {
        if (!out.empty()) out += "; ";
        out += c->name;
        out += '=';
        out += c->value;
    }
    return out;
}

void CookieStore::SetChangeListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void CookieStore::MergeFetchResult(const std::vector<Cookie>& before, const std::vector<Cookie>& after,
                                   const std::vector<std::string>& setNames) {
    const auto named = [&](const Cookie& c) {
        return std::find(setNames.begin(), setNames.end(), c.name) != setNames.end();
    };
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        for (const Cookie& c : after) {
            if (!named(c)) continue;
            const auto it = std::find_if(before.begin(), before.end(), [&](const Cookie& b) {
                return b.name == c.name && b.path == c.path && b.domain == c.domain;
            });
            if (it != before.end() && *it == c) continue;
            AddLocked(c, changed);
        }
        for (const Cookie& b : before) {
            if (!named(b)) continue;
            const bool kept = std::any_of(after.begin(), after.end(), [&](const Cookie& c) {
                return b.name == c.name && b.path == c.path && b.domain == c.domain;
            });
            if (kept) continue;
            const int i = IndexOfLocked(b.domain, b.path, b.name);
            // Only what this fetch started from is removed; a newer value set meanwhile stays.
            if (i >= 0 && cookies_[i] == b) {
                cookies_.erase(cookies_.begin() + i);
                changed = true;
            }
        }
        if (changed) ChangedLocked();
        DropExpiredLocked();
    }
    if (changed) AfterChange();
}

uint64_t CookieStore::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

}  // namespace qm
