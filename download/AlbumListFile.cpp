// The address list of an album for an external download manager: every address of the task list
// in code page 936, one per CR LF-terminated line (an entry with an alternate address gives two).
// Only http addresses go in, and none holds a control character (see ListAddress.h).
#include "download/DownProc.h"
#include "download/ListAddress.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/Trace.h"

namespace qm {

bool WriteAlbumList(DownloadState& st, const Text& path, std::vector<UnlistedEntry>* unlisted) {
    std::string content;
    for (std::size_t i = 0; i < st.task.pictures.size(); ++i) {
        const PictureRef& picture = st.task.pictures[i];
        if (picture.film && picture.main.empty()) continue;  // a film the service gives no file of
        std::string why, alternateWhy;
        const Text main = ListableAddress(picture.main, why);
        const Text alternate = picture.alternate.empty() ? Text() : ListableAddress(picture.alternate, alternateWhy);
        if (!main.empty()) {
            content += TextToGbk(main);
            content += "\r\n";
        } else {
            Trace("address list: address of entry %zu left out: %s\n", i, why.c_str());
        }
        if (!alternate.empty()) {
            content += TextToGbk(alternate);
            content += "\r\n";
        } else if (!alternateWhy.empty()) {
            Trace("address list: alternate of entry %zu left out: %s\n", i, alternateWhy.c_str());
        }
        if (main.empty() && alternate.empty() && unlisted) unlisted->push_back(UnlistedEntry{i, why});
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
