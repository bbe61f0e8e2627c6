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
    WriteFileAtomic(PathFromText(folder + kHistoryFile), ToUtf16Le(st.task.pictures.front().Joined()));
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
