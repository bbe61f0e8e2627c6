// What the benchmarks that time whole programs share: a child process timed with wait4() (wall
// time and CPU time alike for every tool) and its peak RSS read from /proc while it runs, a free
// loopback port, and nginx serving a scratch folder on 127.0.0.1 (started from a config written
// there, stopped by its PID).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace qm::bench {

struct ChildResult {
    double wall = 0, cpu = 0, rssMiB = 0;
    double userCpu = 0;  // the part of `cpu` spent outside the kernel
    int files = 0;
    bool ok = true;  // the child exited with status 0
};

inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool CanConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Starts `args` (the program looked up in PATH) with `env` added to the environment; `quiet` sends
// its output to /dev/null.
inline pid_t Spawn(const std::vector<std::string>& args, bool quiet,
                   const std::vector<std::string>& env = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (quiet) {
            std::FILE* null = std::fopen("/dev/null", "w");
            if (null) {
                ::dup2(fileno(null), 1);
                ::dup2(fileno(null), 2);
            }
        }
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    return pid;
}

// The process's peak resident set (VmHWM) in KiB; 0 once it is gone. `forked` tells whether it is
// still this program's forked copy (before its exec, or a child that never execs).
inline long PeakRssKiB(pid_t pid, bool& forked) {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (error) return 0;
    forked = exe == std::filesystem::read_symlink("/proc/self/exe", error);
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// Waits for a child and returns its wall time (from `start`), CPU time and peak RSS. The peak RSS
// of a child that runs another program is sampled every 10 ms from /proc after its exec (the peak
// only grows, so the last sample holds it but for the last moments): wait4's ru_maxrss would also
// count the memory of this process, which the forked child held until its exec. A child that runs
// on in this program's copy keeps wait4's figure, which counts that copy.
inline ChildResult Reap(pid_t pid, std::chrono::steady_clock::time_point start) {
    int status = 0;
    rusage ru{};
    long peakKiB = 0;
    while (::wait4(pid, &status, WNOHANG, &ru) == 0) {
        bool forked = true;
        const long kib = PeakRssKiB(pid, forked);
        if (!forked) peakKiB = std::max(peakKiB, kib);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (peakKiB == 0) peakKiB = ru.ru_maxrss;
    ChildResult r;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.userCpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6;
    r.cpu = r.userCpu + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    r.rssMiB = peakKiB / 1024.0;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!r.ok) std::fprintf(stderr, "  child exit status %d\n", status);
    return r;
}

// Files of exactly `size` bytes anywhere below `dir`.
inline int CountFiles(const std::filesystem::path& dir, std::size_t size) {
    int n = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && it->file_size(ec) == size) ++n;
    return n;
}

// nginx serving `scratch`/www on 127.0.0.1:port, with `http` and `server` lines added to its
// config. Its workers run as an unprivileged user: the files must be readable by others.
class Nginx {
public:
    Nginx(const std::filesystem::path& scratch, const std::string& http, const std::string& server)
        : port_(FreePort()) {
        const std::string t = scratch.string();
        {
            std::ofstream conf(scratch / "nginx.conf");
            conf << "daemon off;\nworker_processes 1;\npid " << t << "/nginx.pid;\nerror_log " << t
                 << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n access_log off;\n sendfile "
                    "on;\n"
                 << " keepalive_requests 100000;\n"
                 << http << " client_body_temp_path " << t << "/body;\n proxy_temp_path " << t
                 << "/proxy;\n fastcgi_temp_path " << t << "/fcgi;\n uwsgi_temp_path " << t
                 << "/uwsgi;\n scgi_temp_path " << t << "/scgi;\n server {\n"
                 << "  listen 127.0.0.1:" << port_ << ";\n  root " << t << "/www;\n"
                 << server << " }\n}\n";
        }
        pid_ = Spawn({"nginx", "-p", t, "-c", (scratch / "nginx.conf").string(), "-e",
                      (scratch / "error.log").string()},
                     false);
        for (int i = 0; i < 200 && !CanConnect(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (!CanConnect(port_)) {
            std::fprintf(stderr, "nginx did not start\n");
            Stop();
        }
    }
    ~Nginx() { Stop(); }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGQUIT);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    int port_;
    pid_t pid_ = -1;
};

}  // namespace qm::bench
