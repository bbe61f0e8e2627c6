// The state the main window owns and the jobs share: settings, album list, job states, target
// folders, the QZone route, the task list and the front end. The Qt window and the CLI each own
// one; fetchers and jobs receive it where the window used to be passed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/AlbumList.h"
#include "core/DownTask.h"
#include "core/ExtSettings.h"
#include "core/Frontend.h"
#include "core/SettingsBlock.h"

namespace qm {

struct QZoneRoute {
    Text photoHost;  // host of the photo-list interface
    Text viewHost;   // host of the view-album interface
};

enum ListState : uint8_t { ListIdle = 0, ListRunning = 1, ListStopRequested = 2 };
enum DownloadState : uint8_t {
    DownloadIdle = 0,
    DownloadRunning = 1,
    DownloadAlbumComplete = 2,
    DownloadStopRequested = 3,
};

struct AppState {
    explicit AppState(Frontend& fe) : frontend(&fe) {}

    Frontend* frontend;
    Text programFolder;  // ends with a separator
    Text cacheFolder;    // ends with a separator; holds the cover cache tmp/

    // Settings: the window's menus and dialogs write while jobs read; hold settingsMutex for both.
    std::mutex settingsMutex;
    SettingsBlock settings;
    // `settings` as of this state's last read or write of soft.dat (encoded): the base of a merge.
    std::string settingsBase;
    int currentSite = 0;

    ExtSettings ext;  // read by the jobs at their start, on their own thread
    AlbumList albums;

    std::atomic<uint8_t> ListJobState{ListIdle};
    std::atomic<uint8_t> DownloadJobState{DownloadIdle};
    std::atomic<uint8_t> ThumbJobState{0};
    std::atomic<uint8_t> WindowReady{0};
    std::atomic<int> QZoneKind{-1};

    // Written by the list job, read by the download job (never at the same time).
    Text TargetFolder;
    Text TargetSubFolder;
    Text WeiboId;  // the reduced Tencent Weibo id
    QZoneRoute route;

    // Download engine state (one set for the program).
    ST_DOWNTASK task;
    WorkerParams worker;
    std::atomic<uint8_t> StopFlag{0};
    std::atomic<uint8_t> Running{0};
    std::atomic<uint32_t> Finished{0};
    Text filterText;
};

}  // namespace qm

namespace qm {

// Called by the album-list fetchers once per album: appends the record and shows its row, but
// only once the window is ready.
void AddAlbum(AppState& st, const ST_PERLISTRECORD& rec);

// The settings of the current site, copied under the settings lock.
SiteProfile CurrentProfile(AppState& st);
DownParam CurrentDownParam(AppState& st);

}  // namespace qm
