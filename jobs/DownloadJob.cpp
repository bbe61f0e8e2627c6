// The download controller: checks the save folder, opens its archive, then runs every chosen
// album through its pipeline (AlbumRun) one after the other.
#include "jobs/DownloadJob.h"

#include <ctime>
#include <filesystem>

#include "download/AlbumFolder.h"
#include "download/DownProc.h"
#include "jobs/AlbumRun.h"
#include "jobs/DownloadSession.h"
#include "net/FileUtil.h"

namespace qm {

namespace {

// The save folder and the target's folder below it, made and checked; false (with the notice
// given) when the job cannot start.
bool PrepareSaveFolder(DownloadSession& job, JobOutcome& outcome) {
    const ListResult& list = job.request.list;
    job.saveFolder = SaveFolderText(job.request.saveFolder);
    if (job.saveFolder.empty()) {
        job.observer.Notify(NoticeEvent{Notice::NoSaveFolder});
        outcome.error = JobError::NoSaveFolder;
        return false;
    }
    job.baseFolder = BaseFolderText(job.saveFolder, list.targetFolder, list.targetSubFolder);
    std::string why;
    if (!MakeFolderBelow(job.saveFolder, job.baseFolder, why)) {
        job.observer.Notify(NoticeEvent{Notice::SaveFolderUnusable, why});
        outcome.error = JobError::SaveFolderUnusable;
        outcome.errorText = why;
        return false;
    }
    SetFolderTime(job.baseFolder, std::time(nullptr));
    job.lastFolder = job.baseFolder;
    return true;
}

// The save folder's archive: what earlier runs saved is skipped, what this run does is recorded.
// One that cannot be used is reported, and the download goes on without skipping.
void OpenArchive(DownloadSession& job) {
    const std::filesystem::path save = PathFromText(job.saveFolder);
    ArchiveOpenError error;
    job.archive = Archive::Open(save, error);
    if (!job.archive)
        job.observer.Notify(
            NoticeEvent{Notice::ArchiveUnusable, DescribeArchiveError(error, save / kArchiveFileName)});
    Text number = job.request.list.targetFolder;
    while (!number.empty() && (number.back() == u'/' || number.back() == u'\\')) number.pop_back();
    job.archiveTarget = ArchiveTarget{job.request.list.kind, ToUtf8(number)};
}

}  // namespace

JobOutcome RunDownloadJob(const DownloadRequest& request, JobObserver& obs, JobControl& control, Clock& clock) {
    JobOutcome outcome;
    DownloadSession job(request, obs, control, clock);
    job.ext = ReadExtSettings(request.programFolder);
    if (!PrepareSaveFolder(job, outcome)) return outcome;
    OpenArchive(job);

    // Only indexes of existing records count.
    std::vector<int> selection;
    for (int index : request.albums)
        if (index >= 0 && static_cast<std::size_t>(index) < request.list.albums.size()) selection.push_back(index);
    job.chosen = selection.size();
    obs.DownloadStarted(selection.size());
    if (selection.empty()) {
        obs.Notify(NoticeEvent{Notice::NoAlbumChosen});
        outcome.error = JobError::NoAlbumChosen;
    }
    for (std::size_t i = 0; i < selection.size(); ++i) {
        // A stop pressed between two albums ends the job before the next one starts.
        if (control.StopRequested()) break;
        outcome.albums.push_back(AlbumRun(job, i + 1, selection[i]).Run());
    }

    outcome.stopped = control.StopRequested();
    outcome.lastFolder = job.lastFolder;
    const uint16_t flags = request.settings.profile.SiteFlags;
    if (job.pictureTotal > 0 && (flags & SiteFlag::OpenFolderWhenDone)) outcome.openFolder = outcome.lastFolder;
    obs.DownloadFinished(outcome);
    return outcome;
}

}  // namespace qm
