#include "sim/Simulator.h"

#include <httplib.h>
#include <sys/socket.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "sim/Access.h"
#include "sim/Answer.h"
#include "sim/DemoScenario.h"
#include "sim/Encoding.h"
#include "sim/Scenario.h"
#include "sim/ServerConnections.h"
#include "sim/ServiceAnswers.h"
#include "sim/TextCache.h"

namespace qm::sim {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else if (s[i] == '+') {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

void ParseParams(const std::string& text, std::map<std::string, std::string>& out) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('&', pos);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(pos, end - pos);
        if (!pair.empty()) {
            const size_t eq = pair.find('=');
            const std::string key = PercentDecode(pair.substr(0, eq));
            const std::string value =
                eq == std::string::npos ? std::string() : PercentDecode(pair.substr(eq + 1));
            out.emplace(key, value);
        }
        pos = end + 1;
    }
}

uint64_t Mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

const char* PictureType(const std::string& format) {
    if (format == "png") return "image/png";
    if (format == "gif") return "image/gif";
    if (format == "bmp") return "image/bmp";
    return "image/jpeg";
}

}  // namespace

struct Simulator::Impl : PasswordBook {
    nlohmann::json scenario;
    ScenarioModel model;
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> listening{false};  // the server's thread has not returned yet
    std::atomic<int> port{0};
    std::atomic<bool> logging{true};

    mutable std::mutex logMu;
    std::vector<LoggedRequest> log;

    mutable std::mutex cacheMu;
    mutable std::map<std::string, std::shared_ptr<const std::string>> cache;

    // Compressed forms of large answers, by a fingerprint of the answer (see Gzip).
    mutable TextCache gzipped{size_t{64} << 20};

    mutable std::mutex pwMu;
    std::set<std::string> unlocked;

    std::mutex faultMu;
    std::vector<uint64_t> faultCounts;
    struct Bucket {
        bool started = false;
        double tokens = 0;
        std::chrono::steady_clock::time_point last;
    };
    std::vector<Bucket> buckets;  // one per fault rule, for the rate limits
    std::atomic<uint64_t> setCookieCount{0};

    static std::string PwKey(const Viewer& v, const std::string& albumId) {
        return (v.loggedIn ? v.uin + "|" + v.skey + v.pskey : std::string("anonymous")) + "|" + albumId;
    }
    bool Unlocked(const Viewer& v, const std::string& albumId) const override {
        std::lock_guard<std::mutex> lock(pwMu);
        return unlocked.count(PwKey(v, albumId)) != 0;
    }
    void Unlock(const Viewer& v, const std::string& albumId) override {
        std::lock_guard<std::mutex> lock(pwMu);
        unlocked.insert(PwKey(v, albumId));
    }

    std::shared_ptr<const std::string> Bytes(const ServedPicture& sp) const {
        std::lock_guard<std::mutex> lock(cacheMu);
        auto it = cache.find(sp.id);
        if (it != cache.end()) return it->second;
        auto bytes = std::make_shared<const std::string>(MakePictureBytes(sp.id, sp.size, sp.format));
        cache.emplace(sp.id, bytes);
        return bytes;
    }

    // A client listing an album again gets the same pages, and compressing them cost the simulator
    // more than building them. A large answer's compressed form is kept under the answer's own key
    // (`Answer::cacheKey`, with its character set) when it names one, so that the body is not even
    // read; else under its length and two independent checksums of its bytes (96 bits besides the
    // length), so that the answers themselves need not be kept.
    std::string Gzip(const std::string& body, const std::string& ownKey) const {
        constexpr size_t kLarge = 64 * 1024;
        if (body.size() < kLarge) return GzipBytes(body);
        std::string key = ownKey;
        if (key.empty()) {
            const uint64_t h = std::hash<std::string_view>()(body);
            const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
            key = std::to_string(body.size()) + ':' + std::to_string(h) + ':' + std::to_string(crc);
        }
        if (auto packed = gzipped.Find(key)) return *packed;
        auto packed = std::make_shared<const std::string>(GzipBytes(body));
        gzipped.Keep(key, packed);
        return *packed;
    }

    // The token bucket of fault rule `i`: true when a token was there (and is taken). Called with
    // faultMu held.
    bool TakeToken(size_t i, const FaultRule& f) {
        const auto now = std::chrono::steady_clock::now();
        Bucket& b = buckets[i];
        if (!b.started) {
            b.started = true;
            b.tokens = f.burst;
            b.last = now;
        }
        const double elapsed = std::chrono::duration<double>(now - b.last).count();
        b.tokens = std::min(f.burst, b.tokens + elapsed * f.ratePerSecond);
        b.last = now;
        if (b.tokens < 1.0) return false;
        b.tokens -= 1.0;
        return true;
    }

    // Sleeps up to `ms`, waking early when the simulator stops.
    void Pause(long long ms) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stopping && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::shared_ptr<const std::string> Film(const ServedFilm& f) const {
        std::lock_guard<std::mutex> lock(cacheMu);
        const std::string key = f.id + "/film";
        auto it = cache.find(key);
        if (it != cache.end()) return it->second;
        auto bytes = std::make_shared<const std::string>(MakeFilmBytes(f.id, f.size));
        cache.emplace(key, bytes);
        return bytes;
    }

    Answer FilmAnswer(const SimRequest& r, const ServedFilm& f) const {
        if (!FilmRequestAllowed(r)) return HtmlAnswer(403, "403 Forbidden", "<h1>403 Forbidden</h1>");
        if (f.status != 200) {
            const std::string s = std::to_string(f.status);
            return HtmlAnswer(f.status, s, "<h1>" + s + "</h1>");
        }
        Answer a;
        a.contentType = "video/mp4";
        a.shared = Film(f);
        a.compressible = false;
        a.ranged = true;
        char tag[40];
        std::snprintf(tag, sizeof tag, "\"%016llx-%zx\"",
                      static_cast<unsigned long long>(Mix(std::hash<std::string>()(f.id))), f.size);
        a.etag = tag;
        a.headers.emplace_back("Accept-Ranges", "bytes");
        a.headers.emplace_back("Last-Modified", "Mon, 07 Oct 2013 08:00:00 GMT");
        return a;
    }

    Answer Route(SimRequest& r);
    void Handle(const httplib::Request& req, httplib::Response& res);
};

Answer Simulator::Impl::Route(SimRequest& r) {
    const std::string& h = r.host;
    const std::string& p = r.path;
    if (auto it = model.servedByAddress.find(h + r.target); it != model.servedByAddress.end()) {
        Answer a;
        a.contentType = PictureType(it->second.format);
        a.body = *Bytes(it->second);
        a.compressible = false;
        return a;
    }
    if (auto it = model.filmsByPath.find(h + p); it != model.filmsByPath.end()) return FilmAnswer(r, it->second);
    for (const ServiceAnswers& service : ServiceTable()) {
        if (auto answer = service.answer(model, r, *this)) return std::move(*answer);
    }
    return NotFoundAnswer();
}

void Simulator::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
    SimRequest r;
    r.method = req.method;
    r.host = Lower(req.get_header_value("Host"));
    if (const size_t colon = r.host.rfind(':');
        colon != std::string::npos && r.host.find(']') == std::string::npos) {
        r.host.erase(colon);
    }
    r.target = req.target;
    // A request through a proxy names the whole address ("absolute form"); its host is the one that
    // counts, so download managers can reach the simulator as their HTTP proxy.
    if (r.target.rfind("http://", 0) == 0) {
        const size_t slash = r.target.find_first_of("/?", 7);
        r.host = Lower(r.target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7));
        if (const size_t colon = r.host.rfind(':'); colon != std::string::npos) r.host.erase(colon);
        r.target = slash == std::string::npos ? "/" : r.target.substr(slash);
        if (r.target[0] == '?') r.target.insert(0, "/");
    }
    const size_t q = r.target.find('?');
    r.path = r.target.substr(0, q);
    r.query = q == std::string::npos ? std::string() : r.target.substr(q + 1);
    ParseParams(r.query, r.params);
    if (req.method == "POST" &&
        req.get_header_value("Content-Type").find("application/x-www-form-urlencoded") != std::string::npos) {
        ParseParams(req.body, r.params);
    }
    for (const auto& [name, value] : req.headers) r.headers.emplace(Lower(name), value);
    const std::string cookieHeader = req.get_header_value("Cookie");
    r.cookies = ParseCookieHeader(cookieHeader);
    r.viewer = ReadViewer(model, r.cookies);

    size_t logIndex = 0;
    const bool logged = logging;
    if (logged) {
        LoggedRequest lr{r.method, r.host, r.target, r.path, r.query, r.headers, cookieHeader, 0};
        std::lock_guard<std::mutex> lock(logMu);
        logIndex = log.size();
        log.push_back(std::move(lr));
    }

    // Faults that fire for this request.
    std::vector<const FaultRule*> fired;
    bool rateLimited = false;
    int busyCode = 0;
    bool bucketEmpty = false;
    long long retryAfter = -1;
    {
        const std::string key = r.host + r.target;
        std::lock_guard<std::mutex> lock(faultMu);
        for (size_t i = 0; i < model.faults.size(); ++i) {
            const FaultRule& f = model.faults[i];
            if (!f.match.empty() && key.find(f.match) == std::string::npos) continue;
            const uint64_t n = ++faultCounts[i];
            if (f.first >= 0 && n > static_cast<uint64_t>(f.first)) continue;
            if (f.probability < 1.0) {
                const double x =
                    static_cast<double>(Mix(f.seed * 0x100000001B3ULL ^ n) >> 11) / 9007199254740992.0;
                if (x >= f.probability) continue;
            }
            if (f.rateLimitFirst > 0 && n <= static_cast<uint64_t>(f.rateLimitFirst)) {
                rateLimited = true;
                if (f.busyCode != 0) busyCode = f.busyCode;
            }
            if (f.ratePerSecond > 0 && !TakeToken(i, f)) {
                bucketEmpty = true;
                retryAfter = f.retryAfter;
            }
            fired.push_back(&f);
        }
    }
    long long delay = 0, stallAfter = -1, stallMs = 0, truncate = -1, claimed = -1, dripMs = -1;
    int status = 0;
    const std::string* fixedBody = nullptr;
    bool reset = false, corrupt = false, gzipAlways = false, ignoreRange = false;
    std::string etag;
    std::vector<std::pair<std::string, std::string>> extraHeaders;
    for (const FaultRule* f : fired) {
        if (f->dripMs >= 0) dripMs = f->dripMs;
        gzipAlways = gzipAlways || f->gzip;
        if (!f->header.empty()) {
            const size_t colon = f->header.find(':');
            const size_t value = f->header.find_first_not_of(' ', colon + 1);
            extraHeaders.emplace_back(f->header.substr(0, colon),
                                      value == std::string::npos ? std::string() : f->header.substr(value));
        }
        if (f->setCookie) {
            const uint64_t n = setCookieCount.fetch_add(1) + 1;
            extraHeaders.emplace_back("Set-Cookie", "sim" + std::to_string(n) + "=" + std::to_string(n) +
                                                        "; Max-Age=86400; Path=/");
        }
        delay = std::max(delay, f->delayMs);
        if (f->stallAfter >= 0) stallAfter = f->stallAfter, stallMs = f->stallMs;
        if (f->truncate >= 0) truncate = f->truncate;
        if (f->contentLength >= 0) claimed = f->contentLength;
        if (f->status != 0) status = f->status;
        if (f->body) fixedBody = &*f->body;
        reset = reset || f->reset;
        corrupt = corrupt || f->corruptGzip;
        ignoreRange = ignoreRange || f->ignoreRange;
        if (!f->etag.empty()) etag = f->etag;
    }
    if (delay > 0) Pause(delay);

    Answer a;
    if (bucketEmpty) {
        a = HtmlAnswer(429, "429 Too Many Requests", "<h1>429 Too Many Requests</h1>");
        a.compressible = false;
        if (retryAfter >= 0) a.headers.emplace_back("Retry-After", std::to_string(retryAfter));
    } else if (status != 0) {
        a = HtmlAnswer(status, std::to_string(status), "<h1>" + std::to_string(status) + "</h1>");
    } else if (rateLimited && busyCode != 0) {
        a = BusyAnswer(r, busyCode);
    } else if (rateLimited) {
        a = RateLimitAnswer(model, r);
    } else if (fixedBody) {
        a.body = *fixedBody;
    } else {
        a = Route(r);
    }

    // The first album-list interface answers in GBK unless the request names another character set.
    const std::string charset = Lower(r.Param("outCharset"));
    const bool gbk = charset == "gbk" || (charset.empty() && r.path == "/fcgi-bin/fcg_list_album_v2");
    if (gbk && a.compressible) {
        a.body = Utf8ToGbk(a.body);
        if (const size_t cs = a.contentType.find("charset=utf-8"); cs != std::string::npos) {
            a.contentType.replace(cs, 13, "charset=gbk");
        }
    }
    const std::string accept = Lower(req.get_header_value("Accept-Encoding"));
    if (corrupt) {
        a.body = CorruptGzipBytes(a.body);
        a.headers.emplace_back("Content-Encoding", "gzip");
    } else if (!a.body.empty() &&
               (gzipAlways || (a.compressible && accept.find("gzip") != std::string::npos))) {
        a.body = Gzip(a.body, a.cacheKey.empty() ? std::string() : a.cacheKey + (gbk ? "\x1fgbk" : "\x1futf-8"));
        a.headers.emplace_back("Content-Encoding", "gzip");
    }

    // A film asked from an offset: the library serves the asked range of a body of known length
    // (absolute offsets reach the provider below). A Range the film host does not honour (the
    // fault, or an If-Range naming another validator) gets the whole film, sent chunked so that no
    // range is applied.
    bool wholeFilm = false;
    if (a.ranged) {
        if (!etag.empty()) a.etag = etag;
        const bool wantsRange = !req.get_header_value("Range").empty();
        const std::string ifRange = req.get_header_value("If-Range");
        std::string modified;
        for (const auto& [name, value] : a.headers)
            if (name == "Last-Modified") modified = value;
        const bool honour = !ignoreRange && (ifRange.empty() || ifRange == a.etag || ifRange == modified);
        if (wantsRange && honour) a.status = 206;
        wholeFilm = wantsRange && !honour;
    }

    if (logged) {
        std::lock_guard<std::mutex> lock(logMu);
        // ClearRequests() may have run meanwhile.
        if (logIndex < log.size() && log[logIndex].target == r.target)
            log[logIndex].status = reset ? -1 : a.status;
    }
    if (reset) {
        const int fd = FindConnectionSocket(req.local_port, req.remote_port);
        if (fd >= 0) {
            sockaddr unspec{};
            unspec.sa_family = AF_UNSPEC;
            // Disconnecting an established TCP socket sends a reset; the server's later writes fail.
            (void)connect(fd, &unspec, sizeof unspec);
        }
    }

    res.status = a.status;
    for (const auto& [name, value] : a.headers) res.headers.emplace(name, value);
    for (const auto& [name, value] : extraHeaders) res.headers.emplace(name, value);
    auto body = a.shared ? a.shared : std::make_shared<const std::string>(std::move(a.body));
    if (a.ranged) {
        res.set_header("ETag", a.etag);
        if (wholeFilm) {
            const size_t limit = truncate >= 0 ? std::min(body->size(), static_cast<size_t>(truncate)) : body->size();
            res.set_header("Connection", "close");
            res.set_chunked_content_provider(a.contentType, [this, body, limit](size_t offset, httplib::DataSink& sink) {
                if (offset >= limit || stopping) return false;
                const size_t end = std::min(limit, offset + 256 * 1024);
                if (!sink.write(body->data() + offset, end - offset)) return false;
                if (end == body->size()) sink.done();
                return true;
            });
            return;
        }
    }
    const size_t size = body->size();
    const size_t sendLimit = truncate >= 0 ? std::min(size, static_cast<size_t>(truncate)) : size;
    const size_t length = claimed >= 0 ? static_cast<size_t>(claimed) : size;
    if (claimed >= 0 || truncate >= 0 || stallAfter >= 0 || reset || dripMs >= 0)
        res.set_header("Connection", "close");
    if (length == 0) {
        res.set_header("Content-Type", a.contentType);
        return;
    }
    if (dripMs >= 0) {
        res.set_content_provider(
            length, a.contentType,
            [this, body, sendLimit, dripMs](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= sendLimit) return false;
                if (offset > 0) Pause(dripMs);
                if (stopping) return false;
                return sink.write(body->data() + offset, 1);
            });
        return;
    }
    res.set_content_provider(length, a.contentType,
                             [this, body, sendLimit, length, stallAfter, stallMs](size_t offset, size_t want,
                                                                                  httplib::DataSink& sink) {
                                 if (stallAfter >= 0 && offset >= static_cast<size_t>(stallAfter)) {
                                     Pause(stallMs);
                                     return false;
                                 }
                                 if (offset >= sendLimit)
                                     return false;  // truncated, or a Content-Length above the body
                                 size_t end = std::min(sendLimit, offset + want);
                                 if (stallAfter >= 0) end = std::min(end, static_cast<size_t>(stallAfter));
                                 // A Content-Length below the body: the rest goes out anyway, past the
                                 // announced end.
                                 if (end >= length && length < sendLimit) end = sendLimit;
                                 if (end <= offset) {
                                     Pause(stallMs);
                                     return false;
                                 }
                                 return sink.write(body->data() + offset, end - offset);
                             });
}

Simulator::Simulator(nlohmann::json scenario) : impl_(std::make_unique<Impl>()) {
    impl_->scenario = std::move(scenario);
    impl_->model = BuildScenario(impl_->scenario);
    impl_->faultCounts.assign(impl_->model.faults.size(), 0);
    impl_->buckets.assign(impl_->model.faults.size(), Impl::Bucket());
}

std::unique_ptr<Simulator> Simulator::FromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read scenario file " + path);
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error("scenario file " + path + " is not valid JSON: " + e.what());
    }
    try {
        return std::make_unique<Simulator>(std::move(json));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(path + ": scenario: " + e.what());
    }
}

std::unique_ptr<Simulator> Simulator::Demo() {
    return std::make_unique<Simulator>(DemoScenario());
}

Simulator::~Simulator() {
    Stop();
}

int Simulator::Start(int port) {
    if (impl_->port != 0) return impl_->port;
    Impl* impl = impl_.get();
    impl->stopping = false;
    impl->server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    impl->server.set_keep_alive_max_count(100000);
    // An idle kept-alive connection holds a server thread; Stop() shuts such connections down.
    impl->server.set_keep_alive_timeout(1);
    impl->server.set_tcp_nodelay(true);  // headers and body go out in separate writes
    auto handler = [impl](const httplib::Request& req, httplib::Response& res) { impl->Handle(req, res); };
    impl->server.Get(".*", handler);
    impl->server.Post(".*", handler);
    int bound = 0;
    if (port == 0) {
        bound = impl->server.bind_to_any_port("127.0.0.1");
    } else if (impl->server.bind_to_port("127.0.0.1", port)) {
        bound = port;
    }
    if (bound <= 0) return 0;
    impl->port = bound;
    impl->listening = true;
    impl->thread = std::thread([impl] {
        impl->server.listen_after_bind();
        impl->listening = false;
    });
    // Wait until the accept loop runs: a stop() before that would be missed and Stop() would hang.
    for (int i = 0; i < 5000 && !impl->server.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return bound;
}

void Simulator::Stop() {
    if (impl_->port == 0) return;
    impl_->stopping = true;
    // A stop() before the accept loop runs would be missed and leave the loop running.
    while (impl_->listening && !impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    impl_->server.stop();
    // The accept loop has ended; its threads still serve the connections they hold. Shut those
    // down until the loop's thread has joined them all: an idle keep-alive connection then ends at
    // once, and a stalled or dripping answer (which watches `stopping`) is cut.
    while (impl_->listening) {
        ShutDownServerConnections(impl_->port);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->port = 0;
}

int Simulator::Port() const {
    return impl_->port;
}

std::string Simulator::ConnectTo() const {
    return "127.0.0.1:" + std::to_string(impl_->port.load());
}

std::vector<LoggedRequest> Simulator::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->logMu);
    return impl_->log;
}

void Simulator::ClearRequests() {
    std::lock_guard<std::mutex> lock(impl_->logMu);
    impl_->log.clear();
}

std::string Simulator::PictureBytes(const std::string& pictureId) const {
    auto it = impl_->model.servedById.find(pictureId);
    if (it == impl_->model.servedById.end()) return std::string();
    return *impl_->Bytes(it->second);
}

std::string Simulator::FilmBytes(const std::string& pictureId) const {
    for (const auto& [path, film] : impl_->model.filmsByPath)
        if (film.id == pictureId) return *impl_->Film(film);
    return std::string();
}

std::string Simulator::FilmAddress(const std::string& pictureId) const {
    for (const auto& [path, film] : impl_->model.filmsByPath)
        if (film.id == pictureId) return film.address;
    return std::string();
}

std::string Simulator::PictureAddress(const std::string& pictureId) const {
    auto it = impl_->model.addressById.find(pictureId);
    return it == impl_->model.addressById.end() ? std::string() : it->second;
}

void Simulator::SetLogging(bool on) {
    impl_->logging = on;
}

void Simulator::ResetPasswords() {
    std::lock_guard<std::mutex> lock(impl_->pwMu);
    impl_->unlocked.clear();
}

const nlohmann::json& Simulator::Scenario() const {
    return impl_->scenario;
}

}  // namespace qm::sim
