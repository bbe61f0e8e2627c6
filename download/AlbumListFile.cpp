// The address list of an album for an external download manager: every address of the task list
// in code page 936, one per CR LF-terminated line (an entry with an alternate address gives two).
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"

namespace qm {

bool WriteAlbumList(DownloadState& st, const Text& path) {
    std::string content;
    for (const PictureRef& picture : st.task.pictures) {
        const Text url = picture.Joined();
        content += TextToGbk(url);
        content += "\r\n";
    }
    // A long album name must not make the file name too long for the file system.
    const std::size_t slash = path.rfind(u'/');
    const Text folder = slash == Text::npos ? Text() : path.substr(0, slash + 1);
    const Text fileName =
        FitFileName(slash == Text::npos ? TextView(path) : TextView(path).substr(slash + 1));
    if (!IsSafeComponent(fileName)) return false;
    return WriteFileAtomic(PathFromText(folder + fileName), content);
}

}  // namespace qm
