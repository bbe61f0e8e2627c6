#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include "WaitUntil.h"
#include "sim/ServerConnections.h"

namespace qm::test {

LoopbackServer::LoopbackServer() = default;

LoopbackServer::~LoopbackServer() {
    Stop();
}

int LoopbackServer::Start(std::chrono::milliseconds limit) {
    if (port_ != 0) return port_;
    const int port = server_.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        ADD_FAILURE() << "cannot bind a loopback port";
        return 0;
    }
    port_ = port;
    listening_ = true;
    thread_ = std::thread([this] {
        server_.listen_after_bind();
        listening_ = false;
    });
    // A stop before the accept loop runs would be missed and leave the thread listening.
    if (!WaitUntil([this] { return server_.is_running(); }, limit, std::chrono::milliseconds(1))) {
        ADD_FAILURE() << "the loopback server did not start within " << limit.count() << " ms";
    }
    return port_;
}

void LoopbackServer::Stop() {
    if (!thread_.joinable()) return;
    // A stop before the accept loop runs is missed: wait for the loop first. If it never came up,
    // the thread is left to the process's end rather than hanging the test.
    if (!WaitUntil([this] { return server_.is_running() || !listening_; }, std::chrono::seconds(10),
                   std::chrono::milliseconds(1))) {
        thread_.detach();
        port_ = 0;
        return;
    }
    server_.stop();
    // No connection is accepted any more; the server's threads still hold those they serve, and
    // an idle kept-alive one would hold its thread until the keep-alive wait ends. Shut them down
    // until the loop's thread has joined every one.
    while (listening_) {
        sim::ShutDownServerConnections(port_);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    thread_.join();
    port_ = 0;
}

}  // namespace qm::test
