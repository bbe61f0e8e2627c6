// The download manager of one album: hands the album to the job's transfer (a fixed pool with the
// shared back-off), or to a transfer of its own when the album runs alone.
#include <optional>
#include <system_error>

#include "core/Backoff.h"
#include "download/DownProc.h"
#include "download/Transfer.h"

namespace qm {

void DownPicFunc(DownloadState& st) {
    if (st.transfer) {
        st.transfer->Run(st);
        return;
    }
    Backoff backoff(*st.clock, [&st](std::chrono::seconds left) { st.observer->Waiting(left); });
    Transfer transfer(*st.clock, backoff);
    transfer.Run(st);
}

bool AllPicturesSaved(const DownloadState& st) {
    const ST_DOWNTASK& task = st.task;
    if (task.refused || task.dropped > 0 || st.outcomes.size() != task.pictures.size()) return false;
    for (const PictureOutcome& o : st.outcomes)
        if (o.status == PictureStatus::Failed) return false;
    return true;
}

bool TransferPictures(DownloadState& st) {
    std::thread manager;
    if (!StartDownloadManager(st, manager)) return false;
    if (manager.joinable()) manager.join();
    return true;
}

bool StartDownloadManager(DownloadState& st, std::thread& manager) {
    try {
        manager = std::thread([&st] { DownPicFunc(st); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace qm
