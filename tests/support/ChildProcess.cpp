#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

extern char** environ;

namespace qm::test {

namespace {

// The environment of the test with the launch's environment changes applied, as NAME=VALUE lines.
std::vector<std::string> ChildEnvironment(const ChildLaunch& launch) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : launch.env) {
        if (value)
            vars[name] = *value;
        else
            vars.erase(name);
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
    return out;
}

// Opens `path` for a redirection in the parent, so that an output file is already created and
// emptied when the child has been started (a test reading it never sees an earlier run's text).
// A relative path is taken in the child's working folder. -1 for an empty path (the test's own
// stream stays) or an error.
int OpenForChild(const ChildLaunch& launch, const std::filesystem::path& path, int flags) {
    if (path.empty()) return -1;
    const std::filesystem::path full = path.is_absolute() || launch.cwd.empty() ? path : launch.cwd / path;
    return ::open(full.c_str(), flags | O_CLOEXEC, 0644);
}

// Puts `fd` on `target` in the child without close-on-exec (only async-signal-safe calls).
bool Onto(int fd, int target) {
    return fd == target ? ::fcntl(fd, F_SETFD, 0) == 0 : ::dup2(fd, target) >= 0;
}

}  // namespace

ChildProcess::ChildProcess(const ChildLaunch& launch) {
    if (launch.argv.empty()) return;
    // Everything the child needs is prepared before the fork: after it, only exec-safe calls.
    std::vector<std::string> envText = ChildEnvironment(launch);
    std::vector<char*> envp, argv;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = launch.argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string cwd = launch.cwd.string();
    const int in = OpenForChild(launch, launch.in, O_RDONLY);
    const int out = launch.pipeOut ? -1 : OpenForChild(launch, launch.out, O_WRONLY | O_CREAT | O_TRUNC);
    const int err = OpenForChild(launch, launch.err, O_WRONLY | O_CREAT | O_TRUNC);
    auto closeAll = [&] {
        for (int fd : {in, out, err})
            if (fd >= 0) ::close(fd);
    };
    if ((!launch.in.empty() && in < 0) || (!launch.pipeOut && !launch.out.empty() && out < 0) ||
        (!launch.err.empty() && err < 0)) {
        closeAll();
        return;
    }
    int pipeFds[2] = {-1, -1};
    if (launch.pipeOut && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        closeAll();
        return;
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        // dup2 gives the standard streams without close-on-exec; everything else closes at exec.
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        if (in >= 0 && !Onto(in, 0)) ::_exit(126);
        if (launch.pipeOut ? !Onto(pipeFds[1], 1) : (out >= 0 && !Onto(out, 1))) ::_exit(126);
        if (err >= 0 && !Onto(err, 2)) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    closeAll();
    if (launch.pipeOut) {
        ::close(pipeFds[1]);
        if (pid > 0)
            outFd_ = pipeFds[0];
        else
            ::close(pipeFds[0]);
    }
    pid_ = pid;
}

ChildProcess ChildProcess::Adopt(pid_t forked) {
    ChildProcess child;
    child.pid_ = forked;
    return child;
}

ChildProcess::~ChildProcess() {
    Kill();
    if (outFd_ >= 0) ::close(outFd_);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept {
    *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Kill();
        if (outFd_ >= 0) ::close(outFd_);
        pid_ = std::exchange(other.pid_, -1);
        outFd_ = std::exchange(other.outFd_, -1);
        status_ = std::exchange(other.status_, std::nullopt);
        pending_ = std::move(other.pending_);
    }
    return *this;
}

bool ChildProcess::Signal(int sig) {
    return pid_ > 0 && !status_ && ::kill(pid_, sig) == 0;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return std::nullopt;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!status_) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (r < 0 && errno != EINTR) {
            status_ = -1;  // not our child any more: nothing to wait for
            break;
        }
        if (std::chrono::steady_clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

void ChildProcess::Kill() {
    if (pid_ <= 0 || status_) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
    if (outFd_ < 0) return std::nullopt;
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{outFd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buf[4096];
        const ssize_t n = ::read(outFd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;  // the child closed its output
        pending_.append(buf, static_cast<std::size_t>(n));
    }
}

std::filesystem::path FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t from = 0; from <= dirs.size();) {
        std::size_t end = dirs.find(':', from);
        if (end == std::string::npos) end = dirs.size();
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(from, end - from)) / name;
        if (end > from && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        from = end + 1;
    }
    return {};
}

std::optional<int> RunChild(const ChildLaunch& launch, std::chrono::milliseconds limit) {
    ChildProcess child(launch);
    if (!child.Started()) return std::nullopt;
    return child.Wait(limit);  // the guard kills a child still running
}

}  // namespace qm::test
