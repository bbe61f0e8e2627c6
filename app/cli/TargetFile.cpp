#include "app/cli/TargetFile.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/StringCtrl.h"

namespace qm::cli {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

TargetFileEnd ReadTargetFile(const std::string& path, std::vector<std::string>& out, std::string& error,
                             const std::function<bool()>& interrupted) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        error = "无法读取 " + path + ": " + std::strerror(errno);
        return TargetFileEnd::CannotRead;
    }
    std::string line;
    std::size_t lineNumber = 1;
    bool overlong = false;
    // Takes one finished line; anything but Read when a bound is passed.
    auto finish = [&]() -> TargetFileEnd {
        if (overlong) {
            error = path + ": 第 " + std::to_string(lineNumber) + " 行超过 " + std::to_string(kMaxInputLine) +
                    " 字节";
            return TargetFileEnd::LineTooLong;
        }
        ++lineNumber;
        if (line.empty()) return TargetFileEnd::Read;
        const std::string target = ToUtf8(Trim(FromUtf8(line)));
        line.clear();
        if (target.empty() || target[0] == '#') return TargetFileEnd::Read;
        if (out.size() >= kMaxInputTargets) {
            error = path + ": 目标超过 " + std::to_string(kMaxInputTargets) + " 个";
            return TargetFileEnd::TooMany;
        }
        out.push_back(target);
        return TargetFileEnd::Read;
    };
    char buffer[64 * 1024];
    for (;;) {
        if (interrupted()) {
            error = "读取 " + path + " 时被中断";
            return TargetFileEnd::Interrupted;
        }
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{fd.get(), POLLIN, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            error = "无法读取 " + path + ": " + std::strerror(errno);
            return TargetFileEnd::CannotRead;
        }
        if (n == 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (const TargetFileEnd end = finish(); end != TargetFileEnd::Read) return end;
                overlong = false;
            } else if (line.size() < kMaxInputLine) {
                line += c;
            } else {
                overlong = true;
            }
        }
    }
    if (!line.empty() || overlong) return finish();
    return TargetFileEnd::Read;
}

}  // namespace qm::cli
