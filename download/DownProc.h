// The download engine: picture entries into the task list, the parallel workers, and the work
// after each album.
#pragma once

#include <cstddef>
#include <ctime>
#include <thread>
#include <vector>

#include "download/DownloadState.h"

namespace qm {

// Names one picture, creates the album folder with the first picture, applies the history skip
// and appends it to st.task. Called for every listed picture on the controller's thread; false
// when the album wants no more pictures (the history reached the known ones).
bool AddPicEntry(DownloadState& st, PictureRef picture);

// Starts DownPicFunc over st.task (ended early by st.stop); false when the thread cannot start.
// DownPicFunc runs the album through st.transfer (the job's), or through a transfer of its own,
// and returns only after every worker has ended, so joining `manager` means st.task is no longer
// read by anyone. Every picture tried ends with its outcome in st.outcomes and one increment of
// st.Finished.
bool StartDownloadManager(DownloadState& st, std::thread& manager);
// Transfers every entry of st.task and returns when all have ended (st.outcomes then holds one
// outcome per entry); false when the transfer cannot start. The album pipeline's one call.
bool TransferPictures(DownloadState& st);
void DownPicFunc(DownloadState& st);
// Fetches the film entry `entry` as `fileName` in the album folder: asks st.lookUpFilm where it is,
// then downloads it with resume. Fills `out` (saved with size and digest, or failed with the
// reason: not ready, stream only, the status).
void FetchFilm(DownloadState& st, const PictureRef& entry, const Text& fileName, PictureOutcome& out);

// Post-processing of the album in st.task.albumFolder.
void RecordHistory(DownloadState& st, const Text& folder);
// The content of "pic.vyr" in `folder` (UTF-16LE), or empty.
Text LoadHistory(const Text& folder);
Text LoadHistory(const HeldFolder& folder);
void FixFormat(DownloadState& st);
// Gives the file at `path` the extension its content calls for; `path` changes to the new name
// on success. An existing file of the new name is never replaced.
bool FixPictureFormat(Text& path);
void FixOrder(DownloadState& st);
// Sets a file's access and write times; nothing when it is missing or `when` is not positive.
void SetFileTimes(const Text& path, std::time_t when);
// The same for the file `name` of a held folder.
void SetFileTimes(const HeldFolder& folder, const Text& name, std::time_t when);
// Adds "title\r\n" to the album's title list in `task` (UTF-16LE; the first line brings the BOM).
void AppendTitleLine(ST_DOWNTASK& task, const Text& title);
// Writes the gathered title list to "<albumFolder><albumName>.txt" in one atomic step; false when
// there is none or it cannot be written.
bool WriteTitleList(const ST_DOWNTASK& task, const Text& albumName);
// True when every picture queued for the album ended saved or already had, by its outcome, and
// none was left out by the naming or a refusal. Pictures the history skipped were never queued.
bool AllPicturesSaved(const DownloadState& st);
// A picture of the task list that the list files leave out, and why.
struct UnlistedEntry {
    std::size_t index = 0;
    std::string reason;
};
// Writes the address list file of the task list (code page 936, CR LF). Addresses go in as
// ListableAddress gives them; one it refuses is left out (with a trace line), and a picture left
// without any address is named in `unlisted`.
bool WriteAlbumList(DownloadState& st, const Text& path, std::vector<UnlistedEntry>* unlisted = nullptr);
// Beside the address list at `listPath` ("<album>.lst"), writes "<album>.aria2.txt": the task list
// as an aria2c input file (UTF-8; addresses as they go on the wire, main and alternate as mirrors;
// out=, dir= with the absolute album folder, header= per request header line). The same addresses
// as in the address list are left out.
bool WriteAria2List(const ST_DOWNTASK& task, const Text& listPath);
// The same from entries, whatever the task list looks like; `albumFolder` is where the files go.
struct Aria2Entry {
    TextView main, alternate;  // alternate may be empty
    TextView fileName;         // inside the album folder
    TextView headers;          // request header lines, CR LF separated; may be empty
};
bool WriteAria2Entries(const std::vector<Aria2Entry>& entries, const Text& albumFolder, const Text& listPath);
Text Aria2ListPath(const Text& listPath);

// Sets a folder's access and write times (and creation time where kept); nothing when missing.
void SetFolderTime(const Text& path, std::time_t when);

}  // namespace qm
