// Folder and file times. Linux keeps no settable creation time, so only the access and
// modification times are set.
#include <fcntl.h>
#include <sys/stat.h>

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
    struct stat sb;
    if (::stat(PathFromText(path).c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode)) return;
    SetTimes(path, when, 0);
}

void SetFileTimes(const Text& path, std::time_t when) {
    struct stat sb;
    // A link is left alone: only the pictures themselves get times.
    if (::lstat(PathFromText(path).c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return;
    SetTimes(path, when, AT_SYMLINK_NOFOLLOW);
}

}  // namespace qm
