// The download controller: for every selected album, lists its pictures with the matching fetcher,
// then writes the address list or runs the download workers, then the work after the album.
#include "core/jobs/DownloadJob.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "core/CleanFileName.h"
#include "core/Prompts.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"
#include "net/SafeFolder.h"
#include "net/Trace.h"
#include "sites/QQGroup.h"
#include "sites/QZonePhotoList.h"
#include "sites/TencentWeibo.h"

namespace qm {
namespace {

constexpr char16_t kSep = static_cast<char16_t>(std::filesystem::path::preferred_separator);

bool IsSeparator(char16_t c) {
    return c == u'/' || c == kSep;
}

// A target sub-folder text as a relative path: components that are empty, "." or ".." are dropped,
// so the base folder always lies inside the save folder. Ends with a separator unless empty.
Text RelativeFolder(const Text& text) {
    Text out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = pos;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        const Text part = text.substr(pos, end - pos);
        if (!part.empty() && part != u"." && part != u"..") {
            out += part;
            out.push_back(kSep);
        }
        pos = end + 1;
    }
    return out;
}

// Sets DownloadJobState to `value` unless a stop request is pending; false when it is.
bool EnterUnlessStopped(AppState& st, uint8_t value) {
    uint8_t cur = st.DownloadJobState.load();
    while (cur != DownloadStopRequested) {
        if (st.DownloadJobState.compare_exchange_weak(cur, value)) return true;
    }
    return false;
}

bool StopRequested(const AppState& st) {
    return st.DownloadJobState.load() == DownloadStopRequested;
}

constexpr Ctl kLockedControls[] = {Ctl::SiteChoice, Ctl::ListButton, Ctl::ChooseFolder, Ctl::Target,
                                   Ctl::SaveFolder};

void SetRunningLook(Frontend& fe, bool running) {
    fe.SetControlText(Ctl::DownloadButton, running ? u"终止下载" : u"下载");
    for (Ctl c : kLockedControls) fe.EnableControl(c, !running);
}

int CurrentSite(AppState& st) {
    std::lock_guard<std::mutex> lock(st.settingsMutex);
    return st.currentSite;
}

// Fills the task list of one album with the fetcher of the current site and kind.
void ListAlbum(AppState& st, int index, const ST_PERLISTRECORD& rec) {
    if (CurrentSite(st) != 0) return;
    switch (st.QZoneKind.load()) {
        case 0: {
            // Big, unknown-size and non-public albums list better through the UTF-8 interface.
            const bool utf8First = static_cast<uint32_t>(rec.PictureCount) > 2000 || rec.PrivacyFlags != 0;
            const auto first = utf8First ? FetchQZonePhotosUtf8 : FetchQZonePhotosGbk;
            const auto second = utf8First ? FetchQZonePhotosGbk : FetchQZonePhotosUtf8;
            first(st, index);
            // The other interface only when the first gave nothing and neither a stop nor the
            // history ("album complete") ended the listing.
            if (st.task.urls.empty() && st.DownloadJobState.load() == DownloadRunning) second(st, index);
            break;
        }
        case 1:
            FetchGroupPhotos(st, index);
            break;
        case 2:
            FetchWeiboPhotos(st, index);
            break;
        default:
            break;
    }
}

// The album's list file name: the album name as a single safe file-name component.
Text ListFileName(const Text& albumName) {
    Text name = albumName;
    CleanFileName(name, false, 0);
    return name + u".lst";
}

}  // namespace

void DownloadFunc(AppState& st) {
    Frontend& fe = *st.frontend;
    st.ext = ReadExtSettings(st.programFolder);

    Text save = Trim(fe.ControlText(Ctl::SaveFolder));
    if (save.empty()) {
        fe.ShowMessage(u"请先设置保存路径");
        st.DownloadJobState.store(DownloadIdle);
        return;
    }
    if (!IsSeparator(save.back())) save.push_back(kSep);
    const Text base = save + RelativeFolder(st.TargetFolder) + RelativeFolder(st.TargetSubFolder);

    // The save folder is the user's; below it no folder may lead elsewhere through a symbolic link.
    std::error_code ec;
    std::filesystem::create_directories(PathFromText(save), ec);
    std::string why;
    if (!MakeFolderInside(PathFromText(save), PathFromText(base).lexically_relative(PathFromText(save)),
                          why)) {
        Trace("base folder refused: %s\n", why.c_str());
        fe.ShowMessage(u"请检测设置的保存路径是否有误");
        st.DownloadJobState.store(DownloadIdle);
        return;
    }
    SetFolderTime(base, std::time(nullptr));

    EnterUnlessStopped(st, DownloadRunning);
    SetRunningLook(fe, true);

    st.task.Clear();
    st.task.albumFolder = base;
    st.task.saveFolder = save;
    const DownParam param = CurrentDownParam(st);
    st.worker.TimeoutSec.store(param.TimeoutSec);
    st.worker.ThreadCount.store(param.ThreadCount);
    st.worker.MinSizeKB.store(param.MinSizeKB);
    st.worker.MaxSizeKB.store(param.MaxSizeKB);

    // Only indexes of existing records count.
    std::vector<int> selection;
    const std::size_t recordCount = st.albums.Count();
    for (int index : fe.SelectedAlbums())
        if (index >= 0 && static_cast<std::size_t>(index) < recordCount) selection.push_back(index);
    st.albums.SelectedCount.store(static_cast<uint32_t>(selection.size()));

    uint64_t pictureTotal = 0;
    if (selection.empty()) fe.ShowMessage(PromptSelectAlbums());

    bool stopConfirmed = false;
    for (std::size_t i = 0; i < selection.size(); ++i) {
        // The check for a stop and the running state of the next album go together, so that a
        // stop pressed in between is never overwritten. After a stop the task keeps the folder of
        // the album just processed, which is the one reported and opened.
        if (!EnterUnlessStopped(st, DownloadRunning)) break;
        st.task.Clear();
        st.task.albumFolder = base;
        fe.SetControlText(Ctl::Status, FormatText("正在下载第%d/%d个图集", static_cast<int>(i + 1),
                                                  static_cast<int>(selection.size())));
        fe.SetControlText(Ctl::Progress, u"......");

        const int index = selection[i];
        const std::optional<ST_PERLISTRECORD> rec = st.albums.Get(static_cast<std::size_t>(index));
        if (!rec) continue;
        ListAlbum(st, index, *rec);
        WriteTitleList(st.task, rec->Name);

        const std::size_t listed = st.task.urls.size();
        if (!stopConfirmed && listed > 0 && StopRequested(st) && fe.AskYesNo(PromptDownloadListedSoFar()))
            stopConfirmed = true;
        if (listed == 0 || (StopRequested(st) && !stopConfirmed)) continue;

        pictureTotal += listed;
        const SiteProfile profile = CurrentProfile(st);
        if (profile.SiteFlags & SiteFlag::ListOnly) {
            if (!WriteAlbumList(st, st.task.albumFolder + ListFileName(rec->Name)) ||
                !WriteAria2List(st.task, st.task.albumFolder + ListFileName(rec->Name)))
                Trace("list file not written for album %d\n", index);
            continue;
        }

        fe.SetControlText(Ctl::Progress, u"已开始下载图片");
        std::thread manager;
        if (!StartDownloadManager(st, manager)) {
            fe.ShowMessage(u"Create thread:DownPicFunc failed.");
            continue;
        }
        if (manager.joinable()) manager.join();
        // The history marks the album as done: only when every picture of it is on disk.
        if (!StopRequested(st) && AllPicturesSaved(st.task)) RecordHistory(st, st.task.albumFolder);
        if (profile.SiteFlags & SiteFlag::FixFormat) FixFormat(st);
        if (profile.SiteFlags & SiteFlag::FixOrder) FixOrder(st);
    }

    SetRunningLook(fe, false);
    fe.SetControlText(Ctl::Status, u"下载完毕");
    fe.SetControlText(Ctl::Progress, Text());
    if (pictureTotal > 0 && (CurrentProfile(st).SiteFlags & SiteFlag::OpenFolderWhenDone))
        fe.OpenFolder(st.task.albumFolder);
    // Idle last: the button handler joins a finished job thread only once the state reads idle,
    // and the front-end calls above may need that thread's partner to answer.
    st.DownloadJobState.store(DownloadIdle);
}

bool PressDownloadButton(AppState& st, std::thread& thread) {
    uint8_t cur = st.DownloadJobState.load();
    while (cur != DownloadIdle) {
        if (st.DownloadJobState.compare_exchange_weak(cur, DownloadStopRequested)) {
            st.StopFlag.store(1);
            return false;
        }
    }
    if (thread.joinable()) thread.join();
    st.DownloadJobState.store(DownloadRunning);
    try {
        thread = std::thread([&st] { DownloadFunc(st); });
    } catch (const std::system_error&) {
        st.frontend->ShowMessage(u"Create thread:GetListFunc failed.");
        st.DownloadJobState.store(DownloadIdle);
        return false;
    }
    return true;
}

}  // namespace qm
