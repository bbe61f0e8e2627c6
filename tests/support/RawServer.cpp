#include "RawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace qm::test {

namespace {

// Waits up to `ms` for the socket to become readable; false on time-out.
bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string RawConn::Target() const {
    const size_t a = request_.find(' ');
    if (a == std::string::npos) return {};
    const size_t b = request_.find(' ', a + 1);
    return request_.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
}

std::string RawConn::Header(std::string_view name) const {
    size_t pos = request_.find("\r\n");
    while (pos != std::string::npos && pos + 2 < request_.size()) {
        const size_t start = pos + 2;
        const size_t end = request_.find("\r\n", start);
        const std::string_view line(request_.data() + start,
                                    (end == std::string::npos ? request_.size() : end) - start);
        if (line.size() > name.size() && line[name.size()] == ':') {
            bool same = true;
            for (size_t i = 0; i < name.size() && same; ++i) same = Lower(line[i]) == Lower(name[i]);
            if (same) {
                std::string_view v = line.substr(name.size() + 1);
                while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
                return std::string(v);
            }
        }
        pos = end;
    }
    return {};
}

bool RawConn::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void RawConn::Pause(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!server_.stop_.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void RawConn::Hold() {
    char buf[4096];
    while (!server_.stop_.load()) {
        if (!WaitReadable(fd_, 50)) continue;
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return;  // the client closed
    }
}

void RawConn::Reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    reset_ = true;
}

bool RawConn::ReadHead() {
    request_.clear();
    char buf[4096];
    while (!server_.stop_.load()) {
        const size_t end = pending_.find("\r\n\r\n");
        if (end != std::string::npos) {
            request_ = pending_.substr(0, end + 4);
            pending_.erase(0, end + 4);
            return true;
        }
        if (!WaitReadable(fd_, 50)) continue;
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
    }
    return false;
}

std::string Answer(std::string_view body, std::string_view extraHeaders, std::string_view statusLine) {
    std::string out(statusLine);
    out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    out += extraHeaders;
    out += "\r\n";
    out += body;
    return out;
}

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listenFd_, 64);
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawServer::~RawServer() {
    Stop();
}

std::string RawServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> RawServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RawServer::Stop() {
    if (stop_.exchange(true)) return;
    if (acceptThread_.joinable()) acceptThread_.join();
    ::close(listenFd_);
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connThreads_);
    }
    for (auto& t : threads) t.join();
}

int RawServer::UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);  // bound but never listening, and now released
    return ntohs(addr.sin_port);
}

void RawServer::AcceptLoop() {
    while (!stop_.load()) {
        if (!WaitReadable(listenFd_, 50)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        connections_.fetch_add(1);
        std::lock_guard lock(mutex_);
        connThreads_.emplace_back([this, fd] { Serve(fd); });
    }
}

void RawServer::Serve(int fd) {
    RawConn conn(*this, fd);
    while (conn.ReadHead()) {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(conn.Request());
        }
        conn.keepOpen_ = false;
        handler_(conn);
        if (!conn.keepOpen_ || conn.reset_) break;
    }
    if (!conn.reset_) ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

}  // namespace qm::test
