#include "net/CookieStore.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <tuple>

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

// The index key of a domain: its labels in reverse order ("user.qzone.qq.com" -> "com.qq.qzone.user"),
// so a domain's sub-domains follow it in key order.
std::string DomainKey(std::string_view domain) {
    std::string key;
    key.reserve(domain.size());
    while (!domain.empty()) {
        const size_t dot = domain.rfind('.');
        if (!key.empty()) key += '.';
        if (dot == std::string_view::npos) {
            key += domain;
            break;
        }
        key += domain.substr(dot + 1);
        domain = domain.substr(0, dot);
    }
    return key;
}

using CookieKey = std::tuple<std::string_view, std::string_view, std::string_view>;
CookieKey KeyOf(const Cookie& c) {
    return {c.domain, c.path, c.name};
}

// Cookies of the file text that are persistent and live.
std::vector<Cookie> ParseFile(std::string_view text, int64_t now) {
    std::vector<Cookie> out;
    for (size_t pos = 0; pos < text.size();) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        Cookie c;
        if (ParseNetscapeLine(text.substr(pos, eol - pos), c) && c.expires != 0 && !Expired(c, now))
            out.push_back(std::move(c));
        pos = eol + 1;
    }
    return out;
}

// What another writer left in the file (`theirs`), with this store's changes since `base` applied:
// cookies this store set or changed replace theirs; cookies it removed go, unless the other writer
// changed them meanwhile.
std::vector<Cookie> MergeChanges(std::vector<Cookie> theirs, const std::vector<Cookie>& base,
                                 const std::vector<Cookie>& ours) {
    std::map<CookieKey, const Cookie*> baseIndex, oursIndex;
    for (const Cookie& c : base) baseIndex[KeyOf(c)] = &c;
    for (const Cookie& c : ours) oursIndex[KeyOf(c)] = &c;
    std::map<CookieKey, size_t> theirsIndex;
    for (size_t i = 0; i < theirs.size(); ++i) theirsIndex[KeyOf(theirs[i])] = i;
    std::vector<bool> dropped(theirs.size(), false);
    std::vector<Cookie> added;
    for (const Cookie& c : ours) {
        const auto b = baseIndex.find(KeyOf(c));
        if (b != baseIndex.end() && *b->second == c) continue;  // unchanged here
        const auto t = theirsIndex.find(KeyOf(c));
        if (t != theirsIndex.end())
            theirs[t->second] = c;
        else
            added.push_back(c);
    }
    for (const Cookie& b : base) {
        if (oursIndex.count(KeyOf(b))) continue;
        const auto t = theirsIndex.find(KeyOf(b));
        if (t != theirsIndex.end() && theirs[t->second] == b) dropped[t->second] = true;
    }
    std::vector<Cookie> out;
    out.reserve(theirs.size() + added.size());
    for (size_t i = 0; i < theirs.size(); ++i)
        if (!dropped[i]) out.push_back(std::move(theirs[i]));
    for (Cookie& c : added) out.push_back(std::move(c));
    return out;
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
    bool ok = true;
    std::lock_guard save(saveMutex_);
    {
        FolderLock folderLock(programFolder);
        std::error_code ec;
        const bool exists = std::filesystem::exists(file, ec) || ec;
        if (exists && !ReadWholeFile(file, text)) {
            ok = false;
            text.clear();
        }
    }
    const std::vector<Cookie> loaded = ParseFile(text, Now());
    {
        std::lock_guard lock(mutex_);
        file_ = file;
        for (const Cookie& c : loaded) {
            bool changed = false;
            AddLocked(c, changed);
        }
        ChangedLocked();
    }
    base_ = loaded;
    Trace("cookies: opened %s\n", file.c_str());
    return ok;
}

std::filesystem::path CookieStore::FilePath() const {
    std::lock_guard lock(mutex_);
    return file_;
}

CookieStore::Entry* CookieStore::FindLocked(const std::string& domain, std::string_view path,
                                            std::string_view name) {
    const auto it = domains_.find(DomainKey(domain));
    if (it == domains_.end()) return nullptr;
    for (Entry& e : it->second)
        if (e.cookie.name == name && e.cookie.path == path) return &e;
    return nullptr;
}

bool CookieStore::EraseLocked(const std::string& domain, std::string_view path, std::string_view name) {
    const auto it = domains_.find(DomainKey(domain));
    if (it == domains_.end()) return false;
    Bucket& b = it->second;
    for (size_t i = 0; i < b.size(); ++i) {
        if (b[i].cookie.name != name || b[i].cookie.path != path) continue;
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(i));
        --count_;
        if (b.empty()) domains_.erase(it);
        return true;
    }
    return false;
}

// Drops the least recently set cookie of one bucket, or of the whole store when `only` is null.
void CookieStore::DropOldestLocked(Bucket* only) {
    Bucket* from = nullptr;
    size_t at = 0;
    uint64_t oldest = UINT64_MAX;
    const auto scan = [&](Bucket& b) {
        for (size_t i = 0; i < b.size(); ++i)
            if (b[i].touched < oldest) oldest = b[i].touched, from = &b, at = i;
    };
    if (only)
        scan(*only);
    else
        for (auto& [key, b] : domains_) scan(b);
    if (!from) return;
    const std::string domain = from->at(at).cookie.domain;
    const std::string path = from->at(at).cookie.path, name = from->at(at).cookie.name;
    EraseLocked(domain, path, name);
}

bool CookieStore::AddLocked(Cookie cookie, bool& changed) {
    NormaliseDomain(cookie);
    if (cookie.name.empty() || cookie.domain.empty()) return false;
    if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) {
        Trace("cookies: %s of %s refused: %zu bytes (at most %zu)\n", cookie.name.substr(0, 64).c_str(),
              cookie.domain.c_str(), cookie.name.size() + cookie.value.size(), kMaxCookieBytes);
        return false;
    }
    if (Expired(cookie, Now())) {
        if (EraseLocked(cookie.domain, cookie.path, cookie.name)) changed = true;
        return true;
    }
    if (cookie.expires != 0 && (earliestExpiry_ == 0 || cookie.expires < earliestExpiry_))
        earliestExpiry_ = cookie.expires;
    if (Entry* e = FindLocked(cookie.domain, cookie.path, cookie.name)) {
        e->touched = ++sequence_;
        if (e->cookie == cookie) return true;
        e->cookie = std::move(cookie);
        changed = true;
        return true;
    }
    Bucket& b = domains_[DomainKey(cookie.domain)];
    const uint64_t seq = ++sequence_;
    b.push_back(Entry{std::move(cookie), seq, seq});
    ++count_;
    changed = true;
    if (b.size() > kMaxCookiesPerDomain) DropOldestLocked(&b);
    if (count_ > kMaxCookies) DropOldestLocked(nullptr);
    return true;
}

void CookieStore::DropExpiredLocked() {
    const int64_t now = Now();
    if (earliestExpiry_ == 0 || earliestExpiry_ > now) return;
    const size_t before = count_;
    int64_t earliest = 0;
    for (auto it = domains_.begin(); it != domains_.end();) {
        Bucket& b = it->second;
        std::erase_if(b, [now](const Entry& e) { return Expired(e.cookie, now); });
        for (const Entry& e : b)
            if (e.cookie.expires != 0 && (earliest == 0 || e.cookie.expires < earliest))
                earliest = e.cookie.expires;
        it = b.empty() ? domains_.erase(it) : std::next(it);
    }
    count_ = 0;
    for (const auto& [key, b] : domains_) count_ += b.size();
    earliestExpiry_ = earliest;
    if (count_ != before) ChangedLocked();
}

void CookieStore::ChangedLocked() {
    ++generation_;
}

std::optional<std::string> CookieStore::SaveHoldingSaveMutex() {
    std::filesystem::path file;
    std::vector<Cookie> ours;
    {
        std::lock_guard lock(mutex_);
        file = file_;
    }
    if (file.empty()) return std::nullopt;
    for (Cookie& c : List())
        if (c.expires != 0) ours.push_back(std::move(c));

    FolderLock folderLock(file.parent_path());
    std::string current;
    const bool exists = ReadWholeFile(file, current);
    if (!exists) current.clear();
    // The file may hold cookies other writers put there (now or before this store's last write):
    // they are kept, and only this store's own changes since then are applied.
    std::vector<Cookie> merged = MergeChanges(ParseFile(current, Now()), base_, ours);
    std::string text = kFileHeader;
    for (const Cookie& c : merged) {
        text += FormatNetscapeLine(c);
        text += '\n';
    }
    if (text != current || !exists) {
        if (!WriteFileAtomic(file, text, 0600)) {
            const std::string reason = std::strerror(errno);
            Trace("cookies: cannot write %s: %s\n", file.c_str(), reason.c_str());
            return file.string() + ": " + reason;
        }
    }
    base_ = std::move(ours);
    return std::nullopt;
}

std::optional<std::string> CookieStore::Save() {
    std::lock_guard save(saveMutex_);
    return SaveHoldingSaveMutex();
}

namespace {
constexpr auto kSaveGap = std::chrono::milliseconds(250);
}  // namespace

void CookieStore::AfterChange() {
    // A burst of changes (an answer per picture setting a cookie) must not become a burst of file
    // writes: a change within kSaveGap of the last write, or while another thread writes, is left
    // to the flusher thread, which writes all such changes together once the gap is over.
    bool write = false;
    {
        std::lock_guard lock(pendingMutex_);
        pending_ = true;
        if (!saving_ && std::chrono::steady_clock::now() - lastSave_ >= kSaveGap) {
            saving_ = true;
            pending_ = false;
            write = true;
        } else if (!flusher_.joinable()) {
            flusher_ = std::jthread([this](std::stop_token stop) { FlushLoop(stop); });
        }
    }
    if (write) {
        (void)Save();
        std::lock_guard lock(pendingMutex_);
        saving_ = false;
        lastSave_ = std::chrono::steady_clock::now();
    }
    pendingCv_.notify_all();
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    if (listener) listener();
}

void CookieStore::FlushLoop(std::stop_token stop) {
    std::unique_lock lock(pendingMutex_);
    while (!stop.stop_requested()) {
        if (!pendingCv_.wait(lock, stop, [this] { return pending_ && !saving_; })) break;
        const auto due = lastSave_ + kSaveGap;
        if (std::chrono::steady_clock::now() < due) {
            pendingCv_.wait_until(lock, stop, due, [] { return false; });
            continue;
        }
        saving_ = true;
        pending_ = false;
        lock.unlock();
        (void)Save();
        lock.lock();
        saving_ = false;
        lastSave_ = std::chrono::steady_clock::now();
    }
}

CookieStore::~CookieStore() {
    if (flusher_.joinable()) {
        flusher_.request_stop();
        flusher_.join();
    }
    bool pending = false;
    {
        std::lock_guard lock(pendingMutex_);
        pending = pending_;
    }
    if (pending) (void)Save();
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
        if (!EraseLocked(key.domain, key.path, name)) return false;
        ChangedLocked();
    }
    AfterChange();
    return true;
}

void CookieStore::Clear() {
    {
        std::lock_guard lock(mutex_);
        if (domains_.empty()) return;
        domains_.clear();
        count_ = 0;
        earliestExpiry_ = 0;
        ChangedLocked();
    }
    AfterChange();
}

std::vector<Cookie> CookieStore::SortedLocked(std::vector<const Entry*>& hits) const {
    std::sort(hits.begin(), hits.end(), [](const Entry* a, const Entry* b) { return a->first < b->first; });
    std::vector<Cookie> out;
    out.reserve(hits.size());
    for (const Entry* e : hits) out.push_back(e->cookie);
    return out;
}

std::vector<Cookie> CookieStore::List() const {
    std::lock_guard lock(mutex_);
    const int64_t now = Now();
    std::vector<const Entry*> hits;
    hits.reserve(count_);
    for (const auto& [key, b] : domains_)
        for (const Entry& e : b)
            if (!Expired(e.cookie, now)) hits.push_back(&e);
    return SortedLocked(hits);
}

void CookieStore::ForHostBucketsLocked(const std::string& key, bool subDomains,
                                       const std::function<void(const Bucket&)>& take) const {
    // Parent domains: the key's prefixes that end at a label boundary.
    for (size_t dot = key.find('.'); dot != std::string::npos; dot = key.find('.', dot + 1))
        if (const auto it = domains_.find(std::string_view(key).substr(0, dot)); it != domains_.end())
            take(it->second);
    // The host itself and, when asked, its sub-domains: the keys that start with the host's key.
    for (auto it = domains_.lower_bound(key); it != domains_.end(); ++it) {
        const std::string& k = it->first;
        if (k.compare(0, key.size(), key) != 0) break;
        if (k.size() == key.size())
            take(it->second);
        else if (subDomains && k[key.size()] == '.')
            take(it->second);
        else if (!subDomains)
            break;
    }
}

std::vector<Cookie> CookieStore::ListFor(std::string_view host) const {
    std::string h = LowerAscii(TrimBlanks(host));
    if (!h.empty() && h.back() == '.') h.pop_back();
    const int64_t now = Now();
    std::vector<const Entry*> hits;
    std::lock_guard lock(mutex_);
    ForHostBucketsLocked(DomainKey(h), true, [&](const Bucket& b) {
        for (const Entry& e : b)
            if (!Expired(e.cookie, now)) hits.push_back(&e);
    });
    return SortedLocked(hits);
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

CookieAddReport CookieStore::AddAll(std::vector<Cookie> cookies) {
    CookieAddReport report;
    bool changed = false;
    const int64_t now = Now();
    {
        std::lock_guard lock(mutex_);
        // The last cookie of the batch for each domain, path and name is the one that counts.
        std::map<std::tuple<std::string, std::string, std::string>, size_t> last;
        for (size_t i = 0; i < cookies.size(); ++i) {
            Cookie& c = cookies[i];
            NormaliseDomain(c);
            if (c.name.empty() || c.domain.empty()) {
                ++report.invalid;
            } else if (c.name.size() + c.value.size() > kMaxCookieBytes) {
                ++report.tooLarge;
            } else if (Expired(c, now)) {
                ++report.expired;
                AddLocked(c, changed);  // removes its namesake
                last.erase({c.domain, c.path, c.name});
            } else {
                AddLocked(c, changed);
                const auto [it, fresh] = last.try_emplace({c.domain, c.path, c.name}, i);
                if (!fresh) {
                    ++report.replaced;
                    it->second = i;
                }
            }
        }
        for (const auto& [key, i] : last) {
            const Entry* e = FindLocked(std::get<0>(key), std::get<1>(key), std::get<2>(key));
            if (e && e->cookie == cookies[i])
                ++report.kept;
            else
                ++report.overLimit;
        }
        if (changed) ChangedLocked();
    }
    if (changed) AfterChange();
    return report;
}

int CookieStore::ImportNetscapeFile(const std::filesystem::path& file) {
    std::string text;
    if (!ReadWholeFile(file, text)) return -1;
    return ImportNetscape(text);
}

std::vector<Cookie> CookiesFromHeader(std::string_view pairs, std::string_view domain, int64_t expires) {
    std::vector<Cookie> out;
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
        out.push_back(std::move(c));
    }
    return out;
}

int CookieStore::ImportHeader(std::string_view pairs, std::string_view domain, int64_t expires) {
    std::vector<Cookie> cookies = CookiesFromHeader(pairs, domain, expires);
    const int count = static_cast<int>(cookies.size());
    AddAll(std::move(cookies));
    return count;
}

std::string CookieStore::CookieHeaderFor(std::string_view url) const {
    UrlParts parts;
    if (!SplitUrl(url, parts)) return {};
    const std::string key = DomainKey(parts.host);
    const int64_t now = Now();
    // Every request asks this, so the matching cookies are picked out under the lock without copies.
    std::vector<const Entry*> hits;
    std::lock_guard lock(mutex_);
    // The host's own bucket and those of its parent domains.
    ForHostBucketsLocked(key, false, [&](const Bucket& b) {
        for (const Entry& e : b) {
            const Cookie& c = e.cookie;
            if (Expired(c, now) || (c.secure && !parts.secure)) continue;
            if (DomainMatches(c, parts.host) && PathMatches(c, parts.path)) hits.push_back(&e);
        }
    });
    // Longer paths first; among equal paths, the order they were first set.
    std::sort(hits.begin(), hits.end(), [](const Entry* a, const Entry* b) {
        if (a->cookie.path.size() != b->cookie.path.size())
            return a->cookie.path.size() > b->cookie.path.size();
        return a->first < b->first;
    });
    // A header past kMaxCookieHeader leaves out the least recently set cookies until it fits.
    size_t length = 0;
    for (const Entry* e : hits) length += (length ? 2 : 0) + e->cookie.name.size() + 1 + e->cookie.value.size();
    if (length > kMaxCookieHeader) {
        std::vector<const Entry*> byAge = hits;
        std::sort(byAge.begin(), byAge.end(), [](const Entry* a, const Entry* b) { return a->touched < b->touched; });
        std::vector<const Entry*> dropped;
        for (const Entry* e : byAge) {
            if (length <= kMaxCookieHeader) break;
            length -= std::min(length, e->cookie.name.size() + 1 + e->cookie.value.size() + 2);
            dropped.push_back(e);
        }
        std::erase_if(hits, [&](const Entry* e) {
            return std::find(dropped.begin(), dropped.end(), e) != dropped.end();
        });
        Trace("cookies: %zu of %zu left out of the Cookie header for %s (at most %zu bytes)\n", dropped.size(),
              dropped.size() + hits.size(), parts.host.c_str(), kMaxCookieHeader);
    }
    std::string out;
    for (const Entry* e : hits) {
        if (!out.empty()) out += "; ";
        out += e->cookie.name;
        out += '=';
        out += e->cookie.value;
    }
    return out;
}

void CookieStore::SetChangeListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void CookieStore::ApplyAnswer(const std::vector<Cookie>& deleted, const std::vector<Cookie>& set) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        for (const Cookie& d : deleted) {
            Cookie key = d;
            NormaliseDomain(key);
            if (EraseLocked(key.domain, key.path, key.name)) changed = true;
        }
        for (const Cookie& c : set) AddLocked(c, changed);
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
