// The seam between the jobs and whatever shows them: the Qt window, the terminal, or a recording
// fake in tests. Job threads call these; an implementation marshals to its own thread as needed.
// Modal calls (ShowMessage, AskYesNo, RequestLogin) block the calling thread until answered.
#pragma once

#include <vector>

#include "net/StringCtrl.h"

namespace qm {

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

class Frontend {
public:
    virtual ~Frontend() = default;

    // Modal message box; title empty means the program's default caption.
    virtual void ShowMessage(const Text& text, const Text& title = {}) = 0;
    // Yes/No question; true for Yes.
    virtual bool AskYesNo(const Text& text, const Text& title = {}) = 0;
    // Opens the login window on `url` and returns when it is closed (0x59E).
    virtual void RequestLogin(const Text& url) = 0;

    virtual void SetControlText(Ctl id, const Text& text) = 0;
    virtual void EnableControl(Ctl id, bool enabled) = 0;
    virtual void ShowControl(Ctl id, bool visible) = 0;
    virtual void SetCheck(Ctl id, bool checked) = 0;
    // Current text of an edit or combo box (target, save folder).
    virtual Text ControlText(Ctl id) = 0;

    // The kind choice (1035): whether it is shown and its selection (0, 1, 2).
    virtual bool KindChoiceVisible() = 0;
    virtual int KindChoice() = 0;

    // A record was appended at `index` (AddAlbumRow); RefreshTable after the list job.
    virtual void AlbumAdded(int index) = 0;
    virtual void RefreshTable() = 0;
    // Record indexes of the selected albums, in the table's order.
    virtual std::vector<int> SelectedAlbums() = 0;
    // A text was remembered in a recent list (0 targets, 1 save folders): add it to the box history.
    virtual void AddHistory(Ctl box, const Text& text) = 0;

    // End of one album's download (0x59D): elapsed seconds and the picture total.
    virtual void AlbumDownloaded(unsigned seconds, unsigned pictures) = 0;
    // Open a folder in the system's file browser.
    virtual void OpenFolder(const Text& path) = 0;
};

}  // namespace qm
