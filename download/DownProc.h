// The download engine: picture entries into the task list, the parallel workers, and the work
// after each album.
#pragma once

#include <ctime>
#include <thread>

#include "core/AppState.h"

namespace qm {

// Names one picture, creates the album folder with the first picture, applies the history skip
// and appends it to st.task. Called by the photo-list fetchers on the controller's thread.
void AddPicEntry(AppState& st, int albumIndex, const Text& urlText, const Text& title, const Text& headers);

// Clears StopFlag and starts DownPicFunc over st.task; false when the thread cannot start.
bool StartDownloadManager(AppState& st, std::thread& manager);
void DownPicFunc(AppState& st);

// Post-processing of the album in st.task.albumFolder.
void RecordHistory(AppState& st, const Text& folder);
void FixFormat(AppState& st);
void FixOrder(AppState& st);
// Writes the address list file of the task list (code page 936, CR LF).
bool WriteAlbumList(AppState& st, const Text& path);

// Sets a folder's access and write times (and creation time where kept); nothing when missing.
void SetFolderTime(const Text& path, std::time_t when);

}  // namespace qm
