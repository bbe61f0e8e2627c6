// The album's title list "<album name>.txt": UTF-16LE with byte-order mark, one CR LF-terminated
// line per queued picture. Every line rewrites the file through a temporary one, so the list on
// disk is always whole.
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "download/Utf16Le.h"
#include "net/FileUtil.h"

namespace qm {

void AppendTitleLine(const Text& folder, const Text& albumName, const Text& title, bool first) {
    const Text fileName = FitFileName(albumName + u".txt");
    if (!IsSafeComponent(fileName)) return;
    const auto path = PathFromText(folder + fileName);
    std::string content;
    if (first) {
        content = "\xFF\xFE";
    } else if (!ReadWholeFile(path, content)) {
        return;  // the file is gone: the line is lost, as when it cannot be opened
    }
    content += ToUtf16Le(title);
    content += ToUtf16Le(u"\r\n");
    WriteFileAtomic(path, content);
}

}  // namespace qm
