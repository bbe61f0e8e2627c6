// Where a job's pictures go, worked out in one place: the target's base folder below the save
// folder, each album's folder below that (from the folder-name settings), and the check that every
// folder from the save folder down is a real folder there (a symbolic link planted on the way would
// carry the pictures elsewhere).
#pragma once

#include <string>

#include "download/DownloadState.h"

namespace qm {

// The save folder as typed, trimmed and ending with a separator; empty when nothing was typed.
Text SaveFolderText(const Text& typed);

// The target's base folder: the save folder, then the target's folder and sub-folder as relative
// paths (components that are empty, "." or ".." are dropped, so it never climbs out). Ends with a
// separator.
Text BaseFolderText(const Text& saveFolder, const Text& targetFolder, const Text& targetSubFolder);

// Makes `folder` below `saveFolder` (the save folder is made when missing); false with `why` set
// when a component is no folder or leads out through a symbolic link, or the system refuses.
bool MakeFolderBelow(const Text& saveFolder, const Text& folder, std::string& why);

// Sets st.task.albumFolder to the album's folder below the base folder in st.task.albumFolder,
// from the folder-name settings. Nothing is made on disk.
void PlanAlbumFolder(DownloadState& st);

// Makes the planned album folder (at the album's first picture, so an album with nothing in it
// leaves no folder) and loads its history. False with st.task.refused set when the folder would
// lead out of the save folder: nothing of the album is then queued or written.
bool MakeAlbumFolder(DownloadState& st);

}  // namespace qm
