// The loopback server for tests of the HTTP client itself: it writes exactly the bytes a test
// gives it (any header spelling, lying lengths, stalls, resets and silence). It listens before its
// constructor returns. Each connection runs the test's handler on its own thread once a request
// head has arrived. Tests that need an ordinary HTTP server use LoopbackServer.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::test {

class RawServer;

class RawConn {
public:
    // The request head as received (request line and header lines, up to the blank line).
    const std::string& Request() const { return request_; }
    // The request target of the request line ("/path?query").
    std::string Target() const;
    // The value of the first header line named `name` (case-insensitive), without blanks.
    std::string Header(std::string_view name) const;

    bool Send(std::string_view bytes);
    // Sleeps, returning early when the server stops.
    void Pause(int ms);
    // Says nothing until the client gives up or the server stops.
    void Hold();
    // Ends the connection with a TCP reset instead of an orderly close.
    void Reset();
    // Keep the connection for another request after this handler returns.
    void KeepOpen() { keepOpen_ = true; }

private:
    friend class RawServer;
    RawConn(RawServer& server, int fd) : server_(server), fd_(fd) {}
    bool ReadHead();

    RawServer& server_;
    int fd_;
    std::string request_;
    std::string pending_;
    bool keepOpen_ = false;
    bool reset_ = false;
};

// A complete answer with a correct "Content-Length:" label.
std::string Answer(std::string_view body, std::string_view extraHeaders = {},
                   std::string_view statusLine = "HTTP/1.1 200 OK");

class RawServer {
public:
    using Handler = std::function<void(RawConn&)>;

    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int Port() const { return port_; }
    std::string Url(std::string_view path = "/") const;
    std::vector<std::string> Requests() const;
    int Connections() const { return connections_.load(); }
    void Stop();

    // A loopback port that nothing listens on.
    static int UnusedPort();

private:
    friend class RawConn;
    void AcceptLoop();
    void Serve(int fd);

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::vector<std::thread> connThreads_;
    std::vector<std::string> requests_;
};

}  // namespace qm::test
