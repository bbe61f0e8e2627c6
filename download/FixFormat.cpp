// Giving each downloaded picture the extension its first bytes call for.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "download/DownProc.h"
#include "net/FileUtil.h"

namespace qm {

namespace {

// The extension for the content signature in `b` (7 bytes, missing ones 0), or null.
const char16_t* ExtensionFor(const unsigned char* b) {
    if (b[0] == 0xFF && b[1] == 0xD8) return u".jpg";
    if (b[0] == 0x89 && b[1] == 0x50) return u".png";
    if (b[0] == 0x47 && b[1] == 0x49 && b[2] == 0x46) return u".gif";
    if (b[0] == 0x42 && b[1] == 0x4D) return u".bmp";
    if (b[0] == 0x00 && b[1] == 0x00) {
        if (b[3] == 0 && b[4] == 0 && (b[2] == 0x02 || b[2] == 0x10)) return u".tga";
        if (b[2] == 0x01 && b[3] == 0 && b[4] == 0x01) return u".ico";
        if (b[2] == 0x02 && b[3] == 0 && b[4] == 0x01) return u".cur";
    }
    if (b[0] == 0x4D && b[1] == 0x4D) return u".tiff";
    if (b[0] == 0x49 && b[1] == 0x49) return u".tiff";
    return nullptr;
}

// Every path below is relative to the folder `dir` (AT_FDCWD: the current one).

// Renames without ever replacing an existing file.
bool RenameNoReplace(int dir, const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // File systems without renameat2 support: a hard link fails on an existing name.
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return false;
    ::unlinkat(dir, from.c_str(), 0);
    return true;
}

// True when both paths are regular files (not links) with the same bytes.
bool SameContent(int dir, const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::fstatat(dir, a.c_str(), &sa, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(dir, b.c_str(), &sb, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size) return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return false;  // one file, two names
    const int fa = ::openat(dir, a.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const int fb = fa < 0 ? -1 : ::openat(dir, b.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    bool same = fa >= 0 && fb >= 0;
    char ba[65536], bb[65536];
    while (same) {
        const ssize_t na = ::read(fa, ba, sizeof ba);
        if (na < 0 && errno == EINTR) continue;
        if (na <= 0) {
            same = na == 0;
            break;
        }
        std::size_t got = 0;
        while (got < static_cast<std::size_t>(na)) {
            const ssize_t nb = ::read(fb, bb + got, static_cast<std::size_t>(na) - got);
            if (nb < 0 && errno == EINTR) continue;
            if (nb <= 0) break;
            got += static_cast<std::size_t>(nb);
        }
        same = got == static_cast<std::size_t>(na) && std::memcmp(ba, bb, got) == 0;
    }
    if (fa >= 0) ::close(fa);
    if (fb >= 0) ::close(fb);
    return same;
}

// FixPictureFormat for a path relative to `dir`.
bool FixAt(int dir, Text& path) {
    const std::string native = PathFromText(path).string();
    struct stat sb;
    if (::fstatat(dir, native.c_str(), &sb, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(sb.st_mode)) return false;

    // Only the file name's own extension counts, never a dot in a folder name.
    const std::size_t slash = path.rfind(u'/');
    const std::size_t dot = path.rfind(u'.');
    const bool hasExt = dot != Text::npos && (slash == Text::npos || dot > slash);
    const Text base = hasExt ? path.substr(0, dot) : path;
    const Text current = hasExt ? path.substr(dot) : Text();

    const int fd = ::openat(dir, native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    unsigned char head[7] = {};
    std::size_t got = 0;
    while (got < sizeof head) {
        const ssize_t n = ::read(fd, head + got, sizeof head - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);

    const char16_t* found = ExtensionFor(head);
    const Text ext = found ? Text(found) : current;
    if (ext == current) return true;  // already right: nothing to rename

    const Text renamed = base + ext;
    const std::string target = PathFromText(renamed).string();
    if (!RenameNoReplace(dir, native, target)) {
        // The corrected name is taken. A picture downloaded again is the same bytes as the one
        // corrected last time: the new copy goes. Different bytes keep both files.
        if (errno != EEXIST || !SameContent(dir, native, target) || ::unlinkat(dir, native.c_str(), 0) != 0)
            return false;
    }
    path = renamed;
    return true;
}

}  // namespace

bool FixPictureFormat(Text& path) {
    return FixAt(AT_FDCWD, path);
}

void FixFormat(DownloadState& st) {
    ST_DOWNTASK& task = st.task;
    for (Text& name : task.fileNames) {
        // Through the album folder held since it was checked, when it was made.
        if (task.folder) {
            FixAt(task.folder->Fd(), name);
            continue;
        }
        Text path = task.albumFolder + name;
        FixPictureFormat(path);
        const std::size_t slash = path.rfind(u'/');
        name = slash == Text::npos ? path : path.substr(slash + 1);
    }
}

}  // namespace qm
