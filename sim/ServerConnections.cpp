#include "sim/ServerConnections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <functional>
#include <string>

namespace qm::sim {
namespace {

// Calls `each(fd, peerPort)` for every connected IPv4 socket of this process whose local port is
// `localPort`.
void ForEachConnection(int localPort, const std::function<bool(int, int)>& each) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (...) {
            continue;
        }
        sockaddr_in local{}, peer{};
        socklen_t len = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin_family != AF_INET)
            continue;
        if (ntohs(local.sin_port) != localPort) continue;
        len = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) continue;
        if (!each(fd, ntohs(peer.sin_port))) return;
    }
}

}  // namespace

int FindConnectionSocket(int localPort, int remotePort) {
    int found = -1;
    ForEachConnection(localPort, [&](int fd, int peerPort) {
        if (peerPort != remotePort) return true;
        found = fd;
        return false;
    });
    return found;
}

void ShutDownServerConnections(int localPort) {
    ForEachConnection(localPort, [&](int fd, int peerPort) {
        if (peerPort != localPort) (void)shutdown(fd, SHUT_RDWR);
        return true;
    });
}

}  // namespace qm::sim
