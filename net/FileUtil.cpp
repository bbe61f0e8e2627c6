#include "net/FileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>

namespace qm {

std::filesystem::path PathFromText(TextView text) {
    return std::filesystem::path(ToUtf8(text));
}

Text TextFromPath(const std::filesystem::path& path) {
    return FromUtf8(path.string());
}

namespace {

constexpr char kTempPrefix[] = ".qm-";
constexpr char kTempSuffix[] = ".tmp";

// ".qm-<pid>-<n>.tmp": short whatever the target's name (a 255-byte name stays writable) and
// unique among the live processes; a clash with a dead process's leftover is skipped by O_EXCL.
std::string TempName() {
    static std::atomic<unsigned long> counter{0};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%ld-%lu%s", kTempPrefix, static_cast<long>(getpid()), counter.fetch_add(1),
                  kTempSuffix);
    return buf;
}

// The process id inside a temporary name, or 0 when `name` is not one.
long TempOwner(std::string_view name) {
    const std::string_view prefix = kTempPrefix, suffix = kTempSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
        return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) return 0;
    long pid = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (i == dash) continue;
        if (c < '0' || c > '9') return 0;
        if (i < dash && pid < 100000000) pid = pid * 10 + (c - '0');
    }
    return pid;
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

// One plain component: not empty, not "." or "..", no separator.
bool PlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

std::shared_ptr<HeldFolder> HeldFolder::Open(const std::filesystem::path& path, int* error) {
    const std::filesystem::path p = path.empty() ? std::filesystem::path(".") : path;
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errno;
        return nullptr;
    }
    return std::shared_ptr<HeldFolder>(new HeldFolder(fd, path));
}

HeldFolder::~HeldFolder() {
    ::close(fd_);
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target, unsigned mode)
    : dir_(AT_FDCWD), target_(target.string()), mode_(mode) {}

AtomicFileWriter::AtomicFileWriter(const HeldFolder& folder, std::string name, unsigned mode)
    : folder_(&folder), dir_(folder.Fd()), target_(std::move(name)), mode_(mode) {
    if (!PlainName(target_)) target_.clear();  // Open fails
}

AtomicFileWriter::~AtomicFileWriter() {
    Discard();
}

std::unique_lock<std::mutex> AtomicFileWriter::LockNames() const {
    return folder_ ? std::unique_lock<std::mutex>(folder_->NameLock()) : std::unique_lock<std::mutex>();
}

void AtomicFileWriter::TakeDigest() {
    if (!digest_ && written_ == 0) digest_ = std::make_unique<Sha256Stream>();
}

bool AtomicFileWriter::Open() {
    if (fd_ >= 0) return true;
    if (target_.empty()) {
        errno = EINVAL;
        failed_ = true;
        return false;
    }
    const mode_t mode = mode_ ? mode_ : 0644;
    std::string folder;  // with its separator; empty for the held folder or the current one
    if (dir_ == AT_FDCWD) {
        const std::size_t slash = target_.rfind('/');
        if (slash != std::string::npos) folder = target_.substr(0, slash + 1);
    }
    const std::unique_lock<std::mutex> names = LockNames();
    for (int tries = 0; tries < 100; ++tries) {
        tmp_ = folder + TempName();
        fd_ = ::openat(dir_, tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) tmp_.clear();
    failed_ = fd_ < 0;
    return fd_ >= 0;
}

bool AtomicFileWriter::Write(std::string_view data) {
    if (fd_ < 0 || failed_) return false;
    if (!WriteAll(fd_, data)) {
        failed_ = true;
        return false;
    }
    written_ += data.size();
    if (digest_) digest_->Add(data);
    return true;
}

bool AtomicFileWriter::Commit(bool durable) {
    if (fd_ < 0) return false;
    bool ok = !failed_;
    int error = 0;
    if (ok && mode_ && ::fchmod(fd_, mode_) != 0) ok = false, error = errno;
    if (ok && durable && ::fsync(fd_) != 0) ok = false, error = errno;
    if (::close(fd_) != 0 && ok) ok = false, error = errno;
    fd_ = -1;
    {
        const std::unique_lock<std::mutex> names = LockNames();
        if (ok && ::renameat(dir_, tmp_.c_str(), dir_, target_.c_str()) != 0) ok = false, error = errno;
        if (!ok) ::unlinkat(dir_, tmp_.c_str(), 0);
    }
    if (!ok) {
        errno = error ? error : EIO;
    } else if (digest_) {
        digestHex_ = digest_->FinishHex();
    }
    tmp_.clear();
    return ok;
}

void AtomicFileWriter::Discard() {
    if (fd_ < 0) return;
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) {
        const std::unique_lock<std::mutex> names = LockNames();
        ::unlinkat(dir_, tmp_.c_str(), 0);
    }
    tmp_.clear();
    errno = error;
}

bool WriteFileAtomic(const std::filesystem::path& target, std::string_view data, unsigned mode,
                     bool durable) {
    AtomicFileWriter file(target, mode);
    return file.Open() && file.Write(data) && file.Commit(durable);
}

bool WriteFileAtomic(const HeldFolder& folder, const std::string& name, std::string_view data, unsigned mode,
                     bool durable) {
    AtomicFileWriter file(folder, name, mode);
    return file.Open() && file.Write(data) && file.Commit(durable);
}

bool IsTemporaryName(std::string_view name) {
    return TempOwner(name) > 0;
}

std::size_t RemoveLeftoverTemporaries(const HeldFolder& folder) {
    const int fd = ::openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    const long self = static_cast<long>(getpid());
    std::size_t removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const long owner = TempOwner(e->d_name);
        if (owner <= 0 || owner == self) continue;
        // A writer of another live process (a second download into the same folder) keeps its file.
        if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM) continue;
        if (::unlinkat(folder.Fd(), e->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool RenameInFolder(const HeldFolder& folder, const std::string& from, const std::string& to, bool replace) {
    if (!PlainName(from) || !PlainName(to)) {
        errno = EINVAL;
        return false;
    }
    if (replace) return ::renameat(folder.Fd(), from.c_str(), folder.Fd(), to.c_str()) == 0;
    if (::renameat2(folder.Fd(), from.c_str(), folder.Fd(), to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without RENAME_NOREPLACE: a hard link refuses an existing name as well.
    if (::linkat(folder.Fd(), from.c_str(), folder.Fd(), to.c_str(), 0) != 0) return false;
    ::unlinkat(folder.Fd(), from.c_str(), 0);
    return true;
}

namespace {
// Reads an open file to its end and closes it. `regularOnly`: anything but a plain file is refused
// (else only a folder is). More than `maxBytes` is refused, whatever the file claimed its size was.
bool ReadFd(int fd, std::string& out, uint64_t maxBytes, bool regularOnly) {
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && (regularOnly ? S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) &&
              static_cast<uint64_t>(st.st_size) <= maxBytes;
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
        if (data.size() + static_cast<size_t>(n) > maxBytes) ok = false;
        else data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (ok) out = std::move(data);
    return ok;
}
}  // namespace

bool ReadFileInFolder(const HeldFolder& folder, const std::string& name, std::string& out, uint64_t maxBytes) {
    if (!PlainName(name)) return false;
    // O_NONBLOCK: a pipe planted under the name must not block the open; ReadFd refuses it.
    const int fd = ::openat(folder.Fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    return ReadFd(fd, out, maxBytes, true);
}

bool ReadRegularFile(const std::filesystem::path& path, std::string& out, uint64_t maxBytes, bool followLink) {
    // O_NONBLOCK: a pipe planted under the name must not block the open; ReadFd refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) return false;
    return ReadFd(fd, out, maxBytes, true);
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    return ReadFd(fd, out, std::numeric_limits<uint64_t>::max(), false);
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
