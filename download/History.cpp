// The album's history file "pic.vyr": the address of the first picture of its last completed
// download, as UTF-16LE without byte-order mark or line end.
#include <filesystem>
#include <system_error>

#include "download/DownProc.h"
#include "download/Utf16Le.h"
#include "net/FileUtil.h"

namespace qm {

namespace {
constexpr char16_t kHistoryFile[] = u"pic.vyr";
}

void RecordHistory(DownloadState& st, const Text& folder) {
    if (st.task.pictures.empty()) return;
    const std::string bytes = ToUtf16Le(st.task.pictures.front().Joined());
    // A history that already holds these bytes is left as it is: writing it again would create,
    // flush and rename a file on every run of an album that did not change (a few milliseconds
    // each on a disk where creating a file is slow).
    std::string old;
    // Through the album folder held since it was checked, when this is that folder.
    if (st.task.folder && folder == st.task.albumFolder) {
        const std::string name = ToUtf8(kHistoryFile);
        if (ReadFileInFolder(*st.task.folder, name, old, bytes.size() + 1) && old == bytes) return;
        WriteFileAtomic(*st.task.folder, name, bytes);
        return;
    }
    const auto path = PathFromText(folder + kHistoryFile);
    if (ReadRegularFile(path, old, bytes.size() + 1, false) && old == bytes) return;
    WriteFileAtomic(path, bytes);
}

Text LoadHistory(const HeldFolder& folder) {
    std::string bytes;
    if (!ReadFileInFolder(folder, ToUtf8(kHistoryFile), bytes, 1 << 20)) return {};
    return FromUtf16Le(bytes);
}

Text LoadHistory(const Text& folder) {
    // Only a regular file is read: a link or a pipe planted under the name is no history (a pipe
    // would block the job for good).
    const auto path = PathFromText(folder + kHistoryFile);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) return {};
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return {};
    return FromUtf16Le(bytes);
}

}  // namespace qm
