// An HTTP server on 127.0.0.1 for tests: the test adds its handlers to Http(), Start() binds a free
// port and returns once the server accepts connections (or fails the test after a limit), and the
// destructor stops it at once (idle kept-alive connections are shut down) and joins its thread.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace qm::test {

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& Http() { return server_; }
    // Binds a free loopback port and serves in a thread; the port, or 0 (and a test failure) when
    // it did not come up within `limit`.
    int Start(std::chrono::milliseconds limit = std::chrono::seconds(10));
    void Stop();
    int Port() const { return port_; }
    // "127.0.0.1:PORT", for SetConnectTo and QUILLMOSS_CONNECT_TO.
    std::string ConnectTo() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path = "/") const { return "http://" + ConnectTo() + path; }

private:
    httplib::Server server_;
    std::thread thread_;
    std::atomic<bool> listening_{false};
    int port_ = 0;
};

}  // namespace qm::test
