// Folder and file times. Linux keeps no settable creation time, so only the access and
// modification times are set.
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "download/DownProc.h"
#include "net/FileUtil.h"

namespace qm {

namespace {
void SetTimes(const Text& path, std::time_t when, int flags) {
    if (when <= 0) return;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, PathFromText(path).c_str(), times, flags);
}
}  // namespace

void SetFolderTime(const Text& path, std::time_t when) {
    // A folder path ends with a separator, which would make lstat follow a link at its end.
    std::string native = PathFromText(path).string();
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    struct stat sb;
    // A symbolic link in the folder's place is left alone: its target may lie anywhere.
    if (::lstat(native.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode)) return;
    if (when <= 0) return;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, native.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void SetFileTimes(const Text& path, std::time_t when) {
    struct stat sb;
    // A link is left alone: only the pictures themselves get times.
    if (::lstat(PathFromText(path).c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return;
    SetTimes(path, when, AT_SYMLINK_NOFOLLOW);
}

void SetFileTimes(const HeldFolder& folder, const Text& name, std::time_t when) {
    struct stat sb;
    const std::string native = PathFromText(name).string();
    if (when <= 0 || ::fstatat(folder.Fd(), native.c_str(), &sb, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(sb.st_mode))
        return;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(folder.Fd(), native.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace qm
