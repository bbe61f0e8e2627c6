// What the main window keeps besides its widgets: the settings (with their own lock), the album
// list the table shows, the last list result, the two jobs, and the thumbnail switch's state.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/AlbumList.h"
#include "core/JobRequests.h"
#include "core/SettingsStore.h"
#include "jobs/JobRunner.h"

namespace qm::ui {

// Controls of the main window, by their numbers.
enum class Ctl : int {
    SaveFolder = 1000,     // editable combo: save folder
    Target = 1001,         // editable combo: target
    SiteChoice = 1002,     // drop-down: site
    AlbumTable = 1003,
    ListButton = 1004,     // "获取相册" / "终止获取"
    DownloadButton = 1005, // "下载" / "终止下载"
    Progress = 1006,       // progress line
    ChooseFolder = 1007,   // "设置"
    OpenFolder = 1008,     // "打开"
    Status = 1009,         // job status line
    AlbumGroup = 1011,     // "相册列表" group box
    SelectAll = 1012,      // check box "全选"
    StartupNotice = 1013,
    Thumbnails = 1014,     // check box "预览图"
    UpdateLink = 1030,
    BottomNotice = 1031,
    HomeLink = 1032,
    FindLink = 1034,
    KindChoice = 1035,     // "QQ空间相册" / "QQ群相册" / "腾讯微博相册"
    FilterLink = 1036,
    ExportLink = 1037,
};

struct WindowState : SettingsStore {
    // The records the table shows. The list job's presenter appends (from the job thread); the
    // table and the mode switch read copies.
    AlbumList albums;
    // The last list result (GUI thread only): what a download works on.
    ListResult list;

    JobRunner listJob;
    JobRunner downloadJob;

    std::atomic<uint8_t> ThumbJobState{0};  // 0 idle, 1 running, 2 stop requested
    std::atomic<uint8_t> WindowReady{0};
    Text filterText;  // GUI thread only
};

}  // namespace qm::ui
