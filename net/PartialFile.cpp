#include "net/PartialFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace qm {

namespace {

// A validator longer than this is no validator a server sends; the tag file is never read further.
constexpr std::size_t kMaxValidator = 512;

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The value of the first header line named `name` (with its colon), blanks trimmed; empty if none.
std::string_view HeaderValue(std::string_view block, std::string_view name) {
    while (!block.empty()) {
        const std::size_t eol = block.find("\r\n");
        std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view{} : block.substr(eol + 2);
        if (!StartsNoCase(line, name)) continue;
        line.remove_prefix(name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        return line;
    }
    return {};
}

bool Printable(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

std::string ValidatorOf(std::string_view headerBlock) {
    std::string_view v = HeaderValue(headerBlock, "etag:");
    if (!v.empty() && StartsNoCase(v, "w/")) v = {};
    if (v.empty()) v = HeaderValue(headerBlock, "last-modified:");
    if (v.empty() || v.size() > kMaxValidator || !Printable(v)) return {};
    return std::string(v);
}

bool ContentRangeStart(std::string_view headerBlock, uint64_t& first) {
    std::string_view v = HeaderValue(headerBlock, "content-range:");
    if (!StartsNoCase(v, "bytes ")) return false;
    v.remove_prefix(6);
    uint64_t n = 0;
    std::size_t i = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        if (n > (UINT64_MAX - 9) / 10) return false;
        n = n * 10 + static_cast<uint64_t>(v[i] - '0');
    }
    if (i == 0 || i >= v.size() || v[i] != '-') return false;
    first = n;
    return true;
}

PartialFile::PartialFile(std::filesystem::path target)
    : target_(target.string()), part_(target_ + ".part"), tag_(target_ + ".part.tag") {}

PartialFile::PartialFile(std::shared_ptr<const HeldFolder> folder, std::string name)
    : folder_(std::move(folder)), target_(std::move(name)), part_(target_ + ".part"), tag_(target_ + ".part.tag") {}

int PartialFile::Dir() const {
    return folder_ ? folder_->Fd() : AT_FDCWD;
}

PartialFile::~PartialFile() {
    Close();
}

void PartialFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

uint64_t PartialFile::Resumable(std::string& validator) const {
    validator.clear();
    struct stat st {};
    if (::fstatat(Dir(), part_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return 0;
    const int fd = ::openat(Dir(), tag_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    char buf[kMaxValidator + 1];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0 || static_cast<std::size_t>(n) > kMaxValidator) return 0;
    const std::string_view text(buf, static_cast<std::size_t>(n));
    if (!Printable(text)) return 0;
    validator.assign(text);
    return static_cast<uint64_t>(st.st_size);
}

bool PartialFile::Begin(uint64_t offset, const std::string& validator) {
    Close();
    failed_ = false;
    // The part is never a link: a planted symbolic link cannot carry the bytes elsewhere.
    fd_ = ::openat(Dir(), part_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) ||
        (offset > 0 && static_cast<uint64_t>(st.st_size) != offset) ||
        ::ftruncate(fd_, static_cast<off_t>(offset)) != 0) {
        Close();
        return false;
    }
    // The digest covers the whole file: the bytes kept from before are read into it first.
    hash_ = std::make_unique<Sha256Stream>();
    digest_.clear();
    std::string buf(256 * 1024, '\0');
    for (uint64_t at = 0; at < offset;) {
        const ssize_t n = ::pread(fd_, buf.data(), buf.size(), static_cast<off_t>(at));
        if (n <= 0) {
            Close();
            return false;
        }
        hash_->Add(std::string_view(buf.data(), static_cast<std::size_t>(n)));
        at += static_cast<uint64_t>(n);
    }
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        Close();
        return false;
    }
    size_ = offset;
    keepable_ = !validator.empty();
    ::unlinkat(Dir(), tag_.c_str(), 0);
    if (keepable_) {
        const int tag = ::openat(Dir(), tag_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        keepable_ = tag >= 0 && ::write(tag, validator.data(), validator.size()) ==
                                    static_cast<ssize_t>(validator.size());
        if (tag >= 0) ::close(tag);
    }
    return true;
}

bool PartialFile::Write(std::string_view data) {
    if (fd_ < 0 || failed_) return false;
    while (!data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            return false;
        }
        if (hash_) hash_->Add(data.substr(0, static_cast<std::size_t>(n)));
        data.remove_prefix(static_cast<std::size_t>(n));
        size_ += static_cast<uint64_t>(n);
    }
    return true;
}

bool PartialFile::Commit() {
    if (fd_ < 0 || failed_) return false;
    Close();
    if (::renameat(Dir(), part_.c_str(), Dir(), target_.c_str()) != 0) return false;
    ::unlinkat(Dir(), tag_.c_str(), 0);
    if (hash_) digest_ = hash_->FinishHex();
    return true;
}

void PartialFile::Abandon() {
    Close();
    if (keepable_ && !failed_ && size_ > 0) return;
    Discard();
}

void PartialFile::Discard() {
    Close();
    ::unlinkat(Dir(), part_.c_str(), 0);
    ::unlinkat(Dir(), tag_.c_str(), 0);
}

}  // namespace qm
