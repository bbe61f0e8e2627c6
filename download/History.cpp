// The album's history file "pic.vyr": the address of the first picture of its last completed
// download, as UTF-16LE without byte-order mark or line end.
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
    std::string bytes;
    if (!ReadWholeFile(PathFromText(folder + kHistoryFile), bytes)) return {};
    return FromUtf16Le(bytes);
}

}  // namespace qm
