#include "net/FileUtil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace qm {

std::filesystem::path PathFromText(TextView text) {
    return std::filesystem::path(ToUtf8(text));
}

Text TextFromPath(const std::filesystem::path& path) {
    return FromUtf8(path.string());
}

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

// Unnamed files can only be given a name through /proc/self/fd (linkat with AT_EMPTY_PATH needs a
// privilege), so they are used only where that folder exists.
bool CanLinkUnnamed() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target, unsigned mode)
    : target_(std::move(target)), mode_(mode) {}

AtomicFileWriter::~AtomicFileWriter() {
    Discard();
}

bool AtomicFileWriter::Open() {
    if (fd_ >= 0) return true;
    const mode_t mode = mode_ ? mode_ : 0644;
    tmp_.clear();
    if (CanLinkUnnamed()) {
        std::filesystem::path folder = target_.parent_path();
        if (folder.empty()) folder = ".";
        fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    }
    if (fd_ < 0) {
        // No unnamed files here (or the folder is missing: the named attempt says so as well).
        tmp_ = target_;
        tmp_ += TempSuffix();
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    }
    failed_ = fd_ < 0;
    return fd_ >= 0;
}

bool AtomicFileWriter::Write(std::string_view data) {
    if (fd_ < 0 || failed_) return false;
    if (!WriteAll(fd_, data)) failed_ = true;
    return !failed_;
}

// Gives the unnamed file its final name. A new name is one link; an existing file is replaced by
// linking under a temporary name first and renaming that over it.
bool AtomicFileWriter::LinkUnnamed() {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) return false;
    tmp_ = target_;
    tmp_ += TempSuffix();
    if (::linkat(AT_FDCWD, self, AT_FDCWD, tmp_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        tmp_.clear();
        return false;
    }
    if (std::rename(tmp_.c_str(), target_.c_str()) == 0) return true;
    ::unlink(tmp_.c_str());
    return false;
}

bool AtomicFileWriter::Commit(bool durable) {
    if (fd_ < 0) return false;
    bool ok = !failed_;
    if (ok && mode_) ok = ::fchmod(fd_, mode_) == 0;
    if (ok && durable) ok = ::fsync(fd_) == 0;
    if (ok && tmp_.empty()) {
        ok = LinkUnnamed();
        if (::close(fd_) != 0) ok = false;  // an unnamed file that was not linked vanishes here
        fd_ = -1;
        return ok;
    }
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    if (ok) ok = std::rename(tmp_.c_str(), target_.c_str()) == 0;
    if (!ok && !tmp_.empty()) ::unlink(tmp_.c_str());
    return ok;
}

void AtomicFileWriter::Discard() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) ::unlink(tmp_.c_str());
}

bool WriteFileAtomic(const std::filesystem::path& target, std::string_view data, unsigned mode,
                     bool durable) {
    AtomicFileWriter file(target, mode);
    return file.Open() && file.Write(data) && file.Commit(durable);
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    std::string data;
    if (ok) {
        try {
            data.reserve(static_cast<size_t>(st.st_size));
        } catch (const std::exception&) {
            ok = false;
        }
    }
    char buffer[64 * 1024];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (ok) out = std::move(data);
    return ok;
}

FolderLock::FolderLock(const std::filesystem::path& folder) {
    const std::filesystem::path f = folder.empty() ? std::filesystem::path(".") : folder;
    fd_ = ::open(f.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace qm
