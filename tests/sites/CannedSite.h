// A loopback HTTP server for fetcher tests: answers every GET from a handler with canned text, a
// status, a reset or a stall, and keeps the requests it received, so tests assert the addresses a
// fetcher asked for. All traffic goes to 127.0.0.1; the host names of the requests are kept
// (connections are re-routed).
#pragma once

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <atomic>
#include <functional>
#include <map>
#include <stop_token>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "RecordingObserver.h"
#include "TempFolder.h"
#include "WaitUntil.h"
#include "net/Clock.h"
#include "download/DownProc.h"
#include "net/CookieStore.h"
#include "net/URLSource2.h"
#include "sim/ServerConnections.h"

namespace qm::test {

struct CannedRequest {
    std::string host;                            // Host header without a port
    std::string path;                            // decoded path
    std::string target;                          // path and query as sent
    std::map<std::string, std::string> headers;  // lower-case names
    std::string Param(const std::string& key) const {
        const std::string q =
            target.substr(target.find('?') == std::string::npos ? target.size() : target.find('?'));
        const std::string needle = key + "=";
        for (std::size_t pos = 0; (pos = q.find(needle, pos)) != std::string::npos; pos += needle.size()) {
            if (pos == 0 || q[pos - 1] == '?' || q[pos - 1] == '&') {
                const std::size_t start = pos + needle.size();
                return q.substr(start, q.find('&', start) - start);
            }
        }
        return "\x01missing";
    }
};

// What the canned site answers to one request: a body (the usual case, converted from a text), an
// HTTP status with a body, a connection reset before any answer, or a stall (the answer's headers,
// then silence until the client gives up or the site stops).
struct CannedReply {
    enum class Fault { None, Reset, Stall };
    CannedReply(std::string text = {}) : body(std::move(text)) {}  // NOLINT: a body is the usual reply
    CannedReply(const char* text) : body(text) {}                   // NOLINT
    // A handler that composes others and answers text takes their body.
    operator std::string() const { return body; }  // NOLINT
    static CannedReply Status(int status, std::string text = {}) {
        CannedReply r(std::move(text));
        r.status = status;
        return r;
    }
    static CannedReply Reset() {
        CannedReply r;
        r.fault = Fault::Reset;
        return r;
    }
    static CannedReply Stall() {
        CannedReply r;
        r.fault = Fault::Stall;
        return r;
    }

    std::string body;
    int status = 200;
    Fault fault = Fault::None;
};

class CannedSite {
public:
    // The handler gets the request (host, path, query) and returns the reply; an empty body is
    // sent as it is (the fetchers treat it as the end).
    using Handler = std::function<CannedReply(const CannedRequest&)>;

    explicit CannedSite(Handler handler) : handler_(std::move(handler)) {
        server_.Http().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            CannedRequest r;
            r.host = req.get_header_value("Host");
            r.host = r.host.substr(0, r.host.find(':'));
            r.path = req.path;
            r.target = req.target;
            for (const auto& [k, v] : req.headers) {
                std::string name = k;
                for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                r.headers[name] = v;
            }
            {
                std::lock_guard<std::mutex> l(mutex_);
                requests_.push_back(r);
            }
            // Pictures go out as pictures (a picture address answering text is an error page).
            const auto ends = [&r](std::string_view tail) {
                return r.path.size() >= tail.size() && r.path.compare(r.path.size() - tail.size(), tail.size(), tail) == 0;
            };
            const bool picture = ends(".jpg") || ends(".png") || ends(".gif") || ends(".bmp");
            Answer(handler_(r), picture ? "image/jpeg" : "text/plain; charset=utf-8", req, res);
        });
        server_.Http().set_keep_alive_max_count(1);  // each request on a connection of its own
        if (server_.Start() != 0) SetConnectTo(server_.ConnectTo());
    }
    ~CannedSite() {
        stopping_ = true;
        server_.Stop();
    }
    std::vector<CannedRequest> Requests() const {
        std::lock_guard<std::mutex> l(mutex_);
        return requests_;
    }

private:
    void Answer(const CannedReply& reply, const char* contentType, const httplib::Request& req,
                httplib::Response& res) {
        res.status = reply.status;
        switch (reply.fault) {
            case CannedReply::Fault::None:
                res.set_content(reply.body, contentType);
                return;
            case CannedReply::Fault::Reset: {
                // Disconnecting the accepted socket sends a TCP reset; nothing of the answer goes out.
                const int fd = sim::FindConnectionSocket(req.local_port, req.remote_port);
                if (fd >= 0) {
                    sockaddr unspec{};
                    unspec.sa_family = AF_UNSPEC;
                    (void)::connect(fd, &unspec, sizeof unspec);
                }
                res.set_header("Connection", "close");
                return;
            }
            case CannedReply::Fault::Stall:
                // The headers promise a body that never comes; the client's read wait or stop ends it.
                res.set_content_provider(
                    1000, "text/plain; charset=utf-8", [this](std::size_t, std::size_t, httplib::DataSink&) {
                        WaitUntil([this] { return stopping_.load(); }, std::chrono::minutes(2), std::chrono::milliseconds(10));
                        return false;
                    });
                return;
        }
    }

    Handler handler_;
    std::atomic<bool> stopping_{false};
    LoopbackServer server_;
    mutable std::mutex mutex_;
    std::vector<CannedRequest> requests_;
};

// The login cookies a user would have after logging in (domain cookies of `domain`).
inline void SetTestCookies(const std::string& domain, const std::string& pairs) {
    CookieStore::Instance().ImportHeader(pairs, domain);
}
inline void ClearCookies() {
    CookieStore::Instance().Clear();
}

// A clock that records every pause a fetcher takes (and takes none); `onPause` runs at each.
class PauseClock final : public Clock {
public:
    time_point Now() override { return manual_.Now(); }
    bool SleepFor(std::chrono::milliseconds d, std::stop_token stop = {}) override {
        pauses.push_back(static_cast<unsigned>(d.count()));
        if (onPause) onPause();
        return manual_.SleepFor(d, stop);
    }
    std::chrono::milliseconds Slept() const { return manual_.Slept(); }

    std::vector<unsigned> pauses;  // milliseconds, in order
    std::function<void()> onPause;

private:
    ManualClock manual_;
};

// Names and queues every picture a fetcher hands over, as the download job does; `onPicture` runs
// after each (a test may press stop there).
class NamingSink final : public PictureSink {
public:
    explicit NamingSink(DownloadState& st) : st_(st) {}
    bool Picture(const PictureRef& picture) override {
        const bool more = AddPicEntry(st_, picture);
        if (onPicture) onPicture();
        return more;
    }
    std::size_t Count() const override { return st_.task.Size(); }
    bool Ended() const override { return st_.albumComplete.load() || st_.stop.stop_requested(); }
    void Post(MoodPost post) override { posts.push_back(std::move(post)); }

    std::function<void()> onPicture;
    std::vector<MoodPost> posts;  // the mood posts handed over, in order

private:
    DownloadState& st_;
};

// A fetcher's context with a recording observer and a pause-recording clock, and a download state
// for one album folder in a fresh temporary directory: pictures named after their titles
// (NameMode 0) straight into that folder (FolderMode 1).
struct FetcherState {
    RecordingObserver obs;
    PauseClock clock;
    std::stop_source stop;  // the user's stop button
    SiteContext ctx{obs, clock};
    DownloadState down{obs, clock};
    NamingSink sink{down};
    RecordingAlbums albums;
    TempFolder temp{"qm-sites-"};
    const std::filesystem::path& dir = temp.path();

    FetcherState() {
        ctx.programFolder = FromUtf8(dir.string() + "/");
        ctx.stop = stop.get_token();
        down.stop = stop.get_token();
        down.profile.NameMode = 0;
        down.profile.FolderMode = 1;
        down.task.albumFolder = FromUtf8(dir.string() + "/");
    }
    // Makes `rec` the album being listed (its name is the fallback picture name); the task list
    // starts empty.
    const ST_PERLISTRECORD& Use(const ST_PERLISTRECORD& rec) {
        down.task.Clear();
        down.albumComplete = false;
        down.album.record = rec;
        down.album.albumCount = 1;
        return down.album.record;
    }
    std::vector<std::string> Urls() const {
        std::vector<std::string> out;
        for (const auto& p : down.task.pictures) out.push_back(ToUtf8(p.Joined()));
        return out;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& n : down.task.fileNames) out.push_back(ToUtf8(n));
        return out;
    }
    std::size_t Queued() const { return down.task.Size(); }
};

}  // namespace qm::test
