// The download controller: for every chosen album, lists its pictures with the fetcher of the
// target's kind, then writes the address list or runs the download workers, then the work after
// the album; every album and picture ends with an outcome.
#include "jobs/DownloadJob.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "core/CleanFileName.h"
#include "core/ExtSettings.h"
#include "core/Prompts.h"
#include "download/AlbumJson.h"
#include "download/Archive.h"
#include "download/DownProc.h"
#include "download/PictureIdentity.h"
#include "download/Sha256.h"
#include "net/FileUtil.h"
#include "net/SafeFolder.h"
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

// The service's id of an album, from its list parameter ("…&albumid=ID&…", "albumId=ID"); a list
// parameter that is no query is the id itself (a Weibo topic); the mood pseudo-album is "mood".
Text AlbumIdOf(const ST_PERLISTRECORD& rec) {
    if (rec.CoverUrl == u"123") return u"mood";
    for (TextView key : {TextView(u"albumid="), TextView(u"albumId="), TextView(u"topicId=")}) {
        const std::size_t at = rec.ListParam.find(key);
        if (at == Text::npos) continue;
        const std::size_t start = at + key.size();
        return rec.ListParam.substr(start, rec.ListParam.find(u'&', start) - start);
    }
    return rec.ListParam;
}

// The target's number or name: its folder below the save folder without the separator.
std::string TargetNumber(const ListResult& list) {
    Text t = list.targetFolder;
    while (!t.empty() && IsSeparator(t.back())) t.pop_back();
    return ToUtf8(t);
}

// Marks what the archive lets this album skip: pictures recorded as saved whose file is there
// (unless every picture is to be fetched again), and in a retry everything that did not fail.
// Returns each picture's identity.
std::vector<std::string> MarkSkips(Archive& archive, int64_t album, const DownloadRequest& request,
                                   DownloadState& st, std::vector<SavedPicture>& known) {
    const std::size_t n = st.task.Size();
    std::vector<std::string> ids(n);
    st.skip.assign(n, DownloadState::kFetch);
    known.assign(n, SavedPicture());
    std::set<std::string> failed;
    if (request.retryFailed) {
        const auto list = archive.FailedIdentities(album);
        failed.insert(list.begin(), list.end());
    }
    const std::filesystem::path folder = PathFromText(st.task.albumFolder);
    const bool skipSaved = !request.refetch || request.retryFailed;
    const auto saved = skipSaved ? archive.SavedPictures(album) : std::unordered_map<std::string, SavedPicture>();
    for (std::size_t i = 0; i < n; ++i) {
        const PictureRef& p = st.task.pictures[i];
        ids[i] = PictureIdentity(p.main, p.photoId);
        if (!skipSaved) continue;
        const auto it = saved.find(ids[i]);
        if (it != saved.end() && Archive::StillInFolder(it->second, folder)) {
            st.skip[i] = DownloadState::kAlreadyHad;
            known[i] = it->second;
        } else if (request.retryFailed && !failed.count(ids[i])) {
            st.skip[i] = DownloadState::kNotTried;
        }
    }
    return ids;
}

// Size and digest of every picture saved by this run (empty entries for the others).
std::vector<SavedPicture> DigestSaved(const DownloadState& st, const std::vector<std::string>& ids) {
    std::vector<SavedPicture> out(st.outcomes.size());
    for (std::size_t i = 0; i < st.outcomes.size(); ++i) {
        const PictureOutcome& p = st.outcomes[i];
        if (p.status != PictureStatus::Saved) continue;
        out[i].identity = i < ids.size() ? ids[i] : std::string();
        out[i].fileName = ToUtf8(p.fileName);
        if (!Sha256File(PathFromText(st.task.albumFolder + p.fileName), out[i].sha256, out[i].size))
            out[i].sha256.clear();
    }
    return out;
}

// Records every picture's end in the archive: saved ones with their final name, size and digest;
// failed ones with their reason (a stop is not a failure).
void RecordPictures(Archive& archive, int64_t album, const DownloadState& st, const std::vector<std::string>& ids,
                    const std::vector<SavedPicture>& digests) {
    for (std::size_t i = 0; i < st.outcomes.size() && i < ids.size(); ++i) {
        const PictureOutcome& p = st.outcomes[i];
        if (p.status == PictureStatus::Saved && i < digests.size() && !digests[i].sha256.empty())
            archive.RecordSaved(album, digests[i]);
        else if (p.status == PictureStatus::Failed && p.failure.kind != FailureKind::Stopped)
            archive.RecordFailed(album, ids[i], p.failure);
    }
}

const char* KindWord(TargetKind kind) {
    switch (kind) {
        case TargetKind::Group:
            return "group";
        case TargetKind::Weibo:
            return "weibo";
        case TargetKind::QZone:
            break;
    }
    return "qzone";
}

// The album table's note for the privacy flags.
Text PrivacyText(uint32_t flags) {
    if (flags & PrivacyNumber) return FormatText("%08u", flags & 0x7FFFFFFFu);
    if (flags & PrivacyEncrypted) return u"加密相册";
    if (flags & PrivacyPrivate) return u"私密相册";
    if (flags & PrivacyFriends) return u"好友可见";
    return {};
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// album.json beside the pictures: the album, its counts, and every listed picture with its title,
// description, addresses, size and digest. Written again by every run, so a resumed album's file
// describes the album as it now stands.
void WriteSidecar(const ListResult& list, const ST_PERLISTRECORD& rec, const DownloadState& st,
                  const AlbumOutcome& album, const std::vector<SavedPicture>& known,
                  const std::vector<SavedPicture>& digests) {
    AlbumJson j;
    j.kind = KindWord(list.kind);
    j.targetId = FromUtf8(TargetNumber(list));
    j.albumId = AlbumIdOf(rec);
    j.name = rec.Name;
    j.privacy = PrivacyText(rec.PrivacyFlags);
    Text folder = st.task.albumFolder;
    while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
    j.folder = TextFromPath(PathFromText(folder).filename());
    j.expected = rec.PictureCount;
    j.listed = album.listed;
    j.saved = album.saved;
    j.alreadyHad = album.alreadyHad;
    j.failed = album.failed;
    j.notTried = album.notTried;
    j.notListed = album.NotListed();
    j.complete = album.Complete();
    j.updated = UtcNow();
    for (std::size_t i = 0; i < st.outcomes.size() && i < st.task.pictures.size(); ++i) {
        const PictureOutcome& p = st.outcomes[i];
        const PictureRef& ref = st.task.pictures[i];
        AlbumJsonPicture pic;
        pic.title = ref.title;
        pic.description = ref.description;
        pic.main = ref.main;
        pic.alternate = ref.alternate;
        if (p.status == PictureStatus::Saved) {
            pic.state = "saved";
            pic.file = p.fileName;
            if (i < digests.size()) {
                pic.size = digests[i].size;
                pic.sha256 = digests[i].sha256;
            }
        } else if (p.status == PictureStatus::AlreadyHad) {
            pic.state = "already_had";
            pic.file = p.fileName;
            if (i < known.size()) {
                pic.size = known[i].size;
                pic.sha256 = known[i].sha256;
            }
        } else {
            pic.state = "failed";
            pic.reason = DescribeFailure(p.failure);
        }
        j.pictures.push_back(std::move(pic));
    }
    std::string error;
    if (!WriteAlbumJson(st.task.albumFolder, j, &error)) Trace("album.json not written: %s\n", error.c_str());
}

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

    // The save folder is the user's; below it no folder may lead elsewhere through a symbolic link.
    std::error_code ec;
    std::filesystem::create_directories(PathFromText(save), ec);
    std::string why;
    if (!MakeFolderInside(PathFromText(save), PathFromText(base).lexically_relative(PathFromText(save)), why)) {
        const std::string reason = why.empty() ? (ec ? ec.message() : "not a folder") : why;
        obs.Notify(NoticeEvent{Notice::SaveFolderUnusable, u"请检测设置的保存路径是否有误", {}, reason});
        outcome.error = JobError::SaveFolderUnusable;
        outcome.errorText = reason;
        return outcome;
    }
    SetFolderTime(base, std::time(nullptr));
    outcome.lastFolder = base;

    // The save folder's archive: what earlier runs saved is skipped, what this run does is recorded.
    // One that cannot be used is reported, and the download goes on without skipping.
    ArchiveOpenError archiveError;
    std::unique_ptr<Archive> archive = Archive::Open(PathFromText(save), archiveError);
    if (!archive) {
        obs.Notify(NoticeEvent{Notice::ArchiveUnusable, u"下载记录无法使用，本次下载不会跳过已下载的图片", {},
                               DescribeArchiveError(archiveError, PathFromText(save) / kArchiveFileName)});
    }
    const ArchiveTarget archiveTarget{list.kind, TargetNumber(list)};

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
        st.task.saveFolder = save;
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
        WriteTitleList(st.task, rec.Name);

        AlbumOutcome album;
        album.index = index;
        album.name = rec.Name;
        album.expected = rec.PictureCount;
        album.listed = st.task.Size();
        album.folder = st.task.albumFolder;
        album.upToDate = st.albumComplete.load();

        // An album whose folder would lead out of the save folder is refused as a whole.
        if (st.task.refused) {
            album.reason = AlbumReason::Unwritable;
            album.reasonText = DescribeFailure(st.task.refused);
            album.listed = 0;
            outcome.albums.push_back(album);
            obs.AlbumFinished(outcome.albums.back(), 0);
            continue;
        }
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

        int64_t albumKey = 0;
        std::vector<std::string> ids;
        std::vector<SavedPicture> known;
        if (archive) {
            albumKey = archive->AlbumKey(archiveTarget, ArchiveAlbum{ToUtf8(AlbumIdOf(rec)), ToUtf8(rec.Name),
                                                                     PathFromText(st.task.albumFolder),
                                                                     rec.PictureCount});
            if (albumKey != 0) ids = MarkSkips(*archive, albumKey, request, st, known);
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
        for (std::size_t k = 0; k < known.size() && k < st.outcomes.size(); ++k)
            if (st.outcomes[k].status == PictureStatus::AlreadyHad && !known[k].fileName.empty())
                st.outcomes[k].fileName = FromUtf8(known[k].fileName);
        album.rateLimitWaited = std::chrono::milliseconds(st.rateLimitWaitedMs.load()) + ctx.rateLimitWaited;
        Tally(st.outcomes, album);
        // Pictures the naming could not place were listed but never queued: they failed.
        for (std::size_t k = 0; k < st.task.dropped; ++k) {
            PictureOutcome lost;
            lost.index = listed + k;
            lost.failure = Failure{FailureKind::Unsafe, 0, "no safe file name"};
            album.failures.push_back(lost);
        }
        album.failed += st.task.dropped;
        album.listed += st.task.dropped;
        if (AllPicturesSaved(st.task)) RecordHistory(st, st.task.albumFolder);
        if (profile.SiteFlags & SiteFlag::FixFormat) {
            FixFormat(st);
            for (std::size_t k = 0; k < st.outcomes.size() && k < st.task.fileNames.size(); ++k)
                if (st.outcomes[k].status == PictureStatus::Saved) st.outcomes[k].fileName = st.task.fileNames[k];
            for (PictureOutcome& f : album.failures)
                if (f.index < st.task.fileNames.size()) f.fileName = st.task.fileNames[f.index];
        }
        if (profile.SiteFlags & SiteFlag::FixOrder) FixOrder(st);
        if (ids.empty())
            for (const PictureRef& p : st.task.pictures) ids.push_back(PictureIdentity(p.main, p.photoId));
        const std::vector<SavedPicture> digests = DigestSaved(st, ids);
        if (archive && albumKey != 0) {
            RecordPictures(*archive, albumKey, st, ids, digests);
            archive->FinishAlbum(albumKey, album);
        }
        WriteSidecar(list, rec, st, album, known, digests);

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
