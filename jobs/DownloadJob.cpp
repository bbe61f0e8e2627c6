// The download controller: for every chosen album, lists its pictures with the fetcher of the
// target's kind, then writes the address list or runs the download workers, then the work after
// the album; every album and picture ends with an outcome.
#include "jobs/DownloadJob.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "core/CleanFileName.h"
#include "core/ExtSettings.h"
#include "core/Prompts.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "sites/Fetcher.h"

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

// The album's list file name: the album name as a single safe file-name component.
Text ListFileName(const Text& albumName) {
    Text name = albumName;
    CleanFileName(name, false, 0);
    return name + u".lst";
}

// Hands every listed picture to the naming and the task list of the album.
class PictureCollector final : public PictureSink {
public:
    explicit PictureCollector(DownloadState& st) : st_(st) {}
    bool Picture(const PictureRef& picture) override { return AddPicEntry(st_, picture); }
    std::size_t Count() const override { return st_.task.Size(); }
    bool Ended() const override { return st_.albumComplete.load() || st_.stop.stop_requested(); }

private:
    DownloadState& st_;
};

// Why an album listed nothing, from what its fetcher saw.
AlbumReason EmptyReason(const SiteContext& ctx, const ST_PERLISTRECORD& rec, bool stopped) {
    if (stopped) return AlbumReason::Stopped;
    switch (ctx.reason) {
        case ListReason::NoAccess:
            return (rec.PrivacyFlags & PrivacyEncrypted) ? AlbumReason::Password : AlbumReason::NoAccess;
        case ListReason::RateLimited:
            return AlbumReason::RateLimited;
        case ListReason::Network:
            return AlbumReason::Network;
        default:
            break;
    }
    return ctx.reasonText.empty() ? AlbumReason::Empty : AlbumReason::Network;
}

// Counts the pictures' outcomes into the album's.
void Tally(const std::vector<PictureOutcome>& pictures, AlbumOutcome& album) {
    for (const PictureOutcome& p : pictures) {
        if (p.status == PictureStatus::Saved) {
            ++album.saved;
        } else if (p.status == PictureStatus::AlreadyHad) {
            ++album.alreadyHad;
        } else if (p.failure.kind == FailureKind::Stopped) {
            ++album.notTried;  // the stop came before (or while) it was tried
        } else {
            ++album.failed;
            album.failures.push_back(p);
        }
    }
}

}  // namespace

JobOutcome RunDownloadJob(const DownloadRequest& request, JobObserver& obs, JobControl& control, Clock& clock) {
    JobOutcome outcome;
    const ListResult& list = request.list;
    const ExtSettings ext = ReadExtSettings(request.programFolder);

    Text save = Trim(request.saveFolder);
    if (save.empty()) {
        obs.Notify(NoticeEvent{Notice::NoSaveFolder, u"请先设置保存路径", {}, {}});
        outcome.error = JobError::NoSaveFolder;
        return outcome;
    }
    if (!IsSeparator(save.back())) save.push_back(kSep);
    const Text base = save + RelativeFolder(list.targetFolder) + RelativeFolder(list.targetSubFolder);

    std::error_code ec;
    std::filesystem::create_directories(PathFromText(base), ec);
    if (ec || !std::filesystem::is_directory(PathFromText(base), ec)) {
        const std::string reason = ec ? ec.message() : "not a folder";
        obs.Notify(NoticeEvent{Notice::SaveFolderUnusable, u"请检测设置的保存路径是否有误", {}, reason});
        outcome.error = JobError::SaveFolderUnusable;
        outcome.errorText = reason;
        return outcome;
    }
    SetFolderTime(base, std::time(nullptr));
    outcome.lastFolder = base;

    // Only indexes of existing records count.
    std::vector<int> selection;
    for (int index : request.albums)
        if (index >= 0 && static_cast<std::size_t>(index) < list.albums.size()) selection.push_back(index);

    obs.DownloadStarted(selection.size());
    if (selection.empty()) {
        obs.Notify(NoticeEvent{Notice::NoAlbumChosen, PromptSelectAlbums(), {}, {}});
        outcome.error = JobError::NoAlbumChosen;
    }

    const SiteProfile& profile = request.settings.profile;
    const DownParam& param = request.settings.down;
    std::size_t pictureTotal = 0;
    bool stopConfirmed = false;
    for (std::size_t i = 0; i < selection.size(); ++i) {
        // A stop pressed between two albums ends the job before the next one starts.
        if (control.StopRequested()) break;
        const int index = selection[i];
        const ST_PERLISTRECORD& rec = list.albums[static_cast<std::size_t>(index)];
        obs.AlbumStarted(i + 1, selection.size(), rec);
        const auto started = std::chrono::steady_clock::now();

        DownloadState st(obs, clock);
        st.stop = control.Token();
        st.profile = profile;
        st.album = AlbumFacts{rec, list.albums.size(), static_cast<uint32_t>(selection.size()), list.targetFolder,
                              request.settings.site};
        st.task.albumFolder = base;
        st.worker.TimeoutSec.store(param.TimeoutSec);
        st.worker.ThreadCount.store(param.ThreadCount);
        st.worker.MinSizeKB.store(param.MinSizeKB);
        st.worker.MaxSizeKB.store(param.MaxSizeKB);

        SiteContext ctx(obs, clock);
        ctx.stop = control.Token();
        ctx.ext = ext;
        ctx.programFolder = request.programFolder;
        ctx.target = list.target;
        ctx.route = list.route;
        ctx.weiboId = list.weiboId;
        PictureCollector sink(st);
        // Only the QQ Zone family (site 0) has fetchers.
        if (request.settings.site == 0) FetcherFor(list.kind).ListPictures(ctx, rec, sink);

        AlbumOutcome album;
        album.index = index;
        album.name = rec.Name;
        album.expected = rec.PictureCount;
        album.listed = st.task.Size();
        album.folder = st.task.albumFolder;
        album.upToDate = st.albumComplete.load();

        const std::size_t listed = album.listed;
        if (!stopConfirmed && listed > 0 && control.StopRequested() &&
            obs.Ask(QuestionEvent{Question::DownloadListedSoFar, PromptDownloadListedSoFar(), {}}))
            stopConfirmed = true;

        if (listed == 0) {
            if (!album.upToDate) {
                album.reason = EmptyReason(ctx, rec, control.StopRequested());
                if (album.reason == AlbumReason::Network) album.reasonText = ctx.reasonText;
            }
            outcome.albums.push_back(album);
            obs.AlbumFinished(outcome.albums.back(), 0);
            continue;
        }
        if (control.StopRequested() && !stopConfirmed) {
            album.reason = AlbumReason::Stopped;
            album.notTried = listed;
            outcome.albums.push_back(album);
            obs.AlbumFinished(outcome.albums.back(), 0);
            continue;
        }

        pictureTotal += listed;
        outcome.lastFolder = st.task.albumFolder;
        if (profile.SiteFlags & SiteFlag::ListOnly) {
            album.listOnly = true;
            const Text listPath = st.task.albumFolder + ListFileName(rec.Name);
            if (!WriteAlbumList(st, listPath) || !WriteAria2List(st.task, listPath)) {
                Trace("list file not written for album %d\n", index);
                album.reason = AlbumReason::Unwritable;
                album.reasonText = "the address list could not be written";
            }
            outcome.albums.push_back(album);
            obs.AlbumFinished(outcome.albums.back(), 0);
            continue;
        }

        obs.TransferStarted(listed, st.task.albumFolder);
        // After "download what is listed" the transfers get a token that the earlier stop
        // request does not hold; a second stop ends them.
        if (stopConfirmed) st.stop = control.RenewToken();
        std::thread manager;
        if (!StartDownloadManager(st, manager)) {
            obs.Notify(NoticeEvent{Notice::ThreadFailed, u"Create thread:DownPicFunc failed.", {}, {}});
            album.reason = AlbumReason::Unwritable;
            album.reasonText = "cannot start the download";
            album.notTried = listed;
            outcome.albums.push_back(album);
            obs.AlbumFinished(outcome.albums.back(), 0);
            continue;
        }
        if (manager.joinable()) manager.join();

        // The history records the newest picture only when every picture is in the folder, so
        // that a failed one is fetched again by the next run.
        Tally(st.outcomes, album);
        if (album.failed == 0 && album.notTried == 0) RecordHistory(st, st.task.albumFolder);
        if (profile.SiteFlags & SiteFlag::FixFormat) {
            FixFormat(st);
            for (std::size_t k = 0; k < st.outcomes.size() && k < st.task.fileNames.size(); ++k)
                st.outcomes[k].fileName = st.task.fileNames[k];
            for (PictureOutcome& f : album.failures)
                if (f.index < st.task.fileNames.size()) f.fileName = st.task.fileNames[f.index];
        }
        if (profile.SiteFlags & SiteFlag::FixOrder) FixOrder(st);

        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
        outcome.albums.push_back(album);
        obs.AlbumFinished(outcome.albums.back(), static_cast<unsigned>(seconds));
    }

    outcome.stopped = control.StopRequested();
    if (pictureTotal > 0 && (profile.SiteFlags & SiteFlag::OpenFolderWhenDone)) outcome.openFolder = outcome.lastFolder;
    obs.DownloadFinished(outcome);
    return outcome;
}

}  // namespace qm
