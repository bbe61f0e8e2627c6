#include "net/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace qm {

std::filesystem::path PathFromText(TextView text) { return std::filesystem::path(ToUtf8(text)); }

Text TextFromPath(const std::filesystem::path& path) { return FromUtf8(path.string()); }

namespace {
std::string TempSuffix() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    char buf[64];
    std::snprintf(buf, sizeof buf, ".%d.%u.%llx.tmp", static_cast<int>(getpid()), counter.fetch_add(1),
                  static_cast<unsigned long long>(now));
    return buf;
}

bool WriteAll(int fd, std::string_view data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

bool WriteFileAtomic(const std::filesystem::path& target, std::string_view data, unsigned mode) {
    std::filesystem::path tmp = target;
    tmp += TempSuffix();
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode ? mode : 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data);
    if (ok && mode) ok = ::fchmod(fd, mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = std::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace qm
