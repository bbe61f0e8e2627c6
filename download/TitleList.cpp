// The album's title list "<album name>.txt": UTF-16LE with byte-order mark, one CR LF-terminated
// line per queued picture. The lines gather in memory while the album is listed; the file is
// written once, through a temporary one, when the listing is over.
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "download/Utf16Le.h"
#include "net/FileUtil.h"

namespace qm {

void AppendTitleLine(ST_DOWNTASK& task, const Text& title) {
    if (task.titleList.empty()) task.titleList = "\xFF\xFE";
    task.titleList += ToUtf16Le(title);
    task.titleList += ToUtf16Le(u"\r\n");
}

bool WriteTitleList(const ST_DOWNTASK& task, const Text& albumName) {
    if (task.titleList.empty() || task.refused) return false;
    const Text fileName = FitFileName(albumName + u".txt");
    if (!IsSafeComponent(fileName)) return false;
    if (task.folder) return WriteFileAtomic(*task.folder, ToUtf8(fileName), task.titleList);
    return WriteFileAtomic(PathFromText(task.albumFolder + fileName), task.titleList);
}

}  // namespace qm
