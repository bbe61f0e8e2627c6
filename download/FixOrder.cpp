// Falling file times in list order: the first picture gets the current time, each following one
// a minute less, so a folder sorted by date shows the album's order.
#include "download/DownProc.h"

namespace qm {

void FixOrder(DownloadState& st) {
    std::time_t t = std::time(nullptr);
    for (const Text& name : st.task.fileNames) {
        if (st.task.folder)
            SetFileTimes(*st.task.folder, name, t);
        else
            SetFileTimes(st.task.albumFolder + name, t);
        t -= 60;  // also for a missing file, so the others keep their places
    }
}

}  // namespace qm
