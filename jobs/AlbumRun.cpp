#include "jobs/AlbumRun.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <functional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/CleanFileName.h"
#include "download/AlbumFolder.h"
#include "download/DownProc.h"
#include "download/MoodRecords.h"
#include "download/PictureIdentity.h"
#include "jobs/AlbumSidecar.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "sites/Services.h"

namespace qm {

namespace {

// Hands every listed picture to the naming and the task list of the album.
class PictureCollector final : public PictureSink {
public:
    PictureCollector(DownloadState& st, std::vector<MoodPost>& posts) : st_(st), posts_(posts) {}
    bool Picture(const PictureRef& picture) override { return AddPicEntry(st_, picture); }
    bool TakePicture(PictureRef&& picture) override { return AddPicEntry(st_, std::move(picture)); }
    std::size_t Count() const override { return st_.task.Size(); }
    bool Ended() const override { return st_.albumComplete.load() || st_.stop.stop_requested(); }
    void Post(MoodPost post) override { posts_.push_back(std::move(post)); }

private:
    DownloadState& st_;
    std::vector<MoodPost>& posts_;
};

// The album's list file name: the album name as a single safe file-name component.
Text ListFileName(const Text& albumName) {
    Text name = albumName;
    CleanFileName(name, false, 0);
    return name + u".lst";
}

// Why the listing of an album ended early, from what its fetcher saw (None: it did not).
AlbumReason ListingReason(const SiteContext& ctx, const ST_PERLISTRECORD& rec) {
    switch (ctx.reason) {
        case ListReason::NoAccess:
            return (rec.PrivacyFlags & PrivacyEncrypted) ? AlbumReason::Password : AlbumReason::NoAccess;
        case ListReason::RateLimited:
            return AlbumReason::RateLimited;
        case ListReason::LoginNeeded:
            return AlbumReason::LoginNeeded;
        case ListReason::Network:
            return AlbumReason::Network;
        default:
            break;
    }
    return ctx.reasonText.empty() ? AlbumReason::None : AlbumReason::Network;
}

// The entries of a task list by identity, to match the archive's records to as they are read: an
// open-addressing table of (hash, first entry of that identity), the others of an identity listed
// twice chained through `next_`. Nothing is allocated per entry, and a record's identity is
// compared only with an entry's of the same hash.
class EntriesByIdentity {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    explicit EntriesByIdentity(const std::vector<std::string>& ids) : ids_(ids), next_(ids.size(), kNone) {
        std::size_t size = 16;
        while (size < 2 * ids.size()) size *= 2;
        slots_.assign(size, Slot{});
        mask_ = size - 1;
        for (std::size_t i = ids.size(); i-- > 0;) {
            const uint64_t hash = Hash(ids[i]);
            Slot& slot = slots_[Find(hash, ids[i])];
            next_[i] = slot.first;
            slot = Slot{hash, static_cast<uint32_t>(i)};
        }
    }

    // The first entry of `identity`, kNone when there is none; Next gives the others in list order.
    uint32_t First(std::string_view identity) const { return slots_[Find(Hash(identity), identity)].first; }
    uint32_t Next(uint32_t entry) const { return next_[entry]; }

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t first = kNone;
    };
    static uint64_t Hash(std::string_view s) { return std::hash<std::string_view>{}(s); }
    // The slot of `identity`, or the empty one where it would go (the table is at most half full).
    std::size_t Find(uint64_t hash, std::string_view identity) const {
        for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
            const Slot& s = slots_[at];
            if (s.first == kNone || (s.hash == hash && ids_[s.first] == identity)) return at;
        }
    }

    const std::vector<std::string>& ids_;
    std::vector<uint32_t> next_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// Counts the pictures' outcomes into the album's (the films of video items apart); a failed one is
// kept with the address it came from.
void Tally(const DownloadState& st, AlbumOutcome& album) {
    const auto failed = [&](const PictureOutcome& p) {
        album.failures.push_back(p);
        if (p.index < st.task.pictures.size())
            album.failures.back().address = SourceAddress(st.task.pictures[p.index], p);
    };
    for (const PictureOutcome& p : st.outcomes) {
        if (p.film) {
            FilmCounts& f = album.films;
            if (p.status == PictureStatus::Saved) {
                ++f.saved;
            } else if (p.status == PictureStatus::AlreadyHad) {
                ++f.alreadyHad;
            } else if (p.failure.kind == FailureKind::Stopped) {
                ++f.notTried;
            } else {
                ++f.failed;
                failed(p);
            }
            continue;
        }
        if (p.status == PictureStatus::Saved) {
            ++album.saved;
        } else if (p.status == PictureStatus::AlreadyHad) {
            ++album.alreadyHad;
        } else if (p.failure.kind == FailureKind::Stopped) {
            ++album.notTried;  // the stop came before (or while) it was tried
        } else {
            ++album.failed;
            failed(p);
        }
    }
}

}  // namespace

AlbumRun::AlbumRun(DownloadSession& job, std::size_t position, int index)
    : job_(job),
      position_(position),
      rec_(job.request.list.albums[static_cast<std::size_t>(index)]),
      st_(job.observer, job.clock),
      ctx_(job.observer, job.clock) {
    album_.index = index;
    album_.name = rec_.Name;
    album_.expected = rec_.PictureCount;
}

AlbumOutcome AlbumRun::Run() {
    job_.observer.AlbumStarted(position_, job_.chosen, rec_);
    started_ = job_.clock.Now();
    PrepareFolder();
    if (List()) {
        if (job_.request.settings.profile.SiteFlags & SiteFlag::ListOnly) {
            WriteAddressLists();
        } else {
            MarkArchived();
            if (Transfer()) Finish();
        }
    }
    Exit();
    return album_;
}

// The album folder below the target's base folder, from the folder-name settings. It is made at
// the album's first picture, so an album with nothing in it leaves no folder behind.
void AlbumRun::PrepareFolder() {
    const DownloadRequest& request = job_.request;
    const DownParam& param = request.settings.down;
    st_.stop = job_.control.Token();
    st_.profile = request.settings.profile;
    st_.album = AlbumFacts{rec_, request.list.albums.size(), static_cast<uint32_t>(job_.chosen),
                           request.list.targetFolder, request.settings.site};
    st_.task.saveFolder = job_.saveFolder;
    st_.task.albumFolder = job_.baseFolder;
    PlanAlbumFolder(st_);
    st_.worker.TimeoutSec.store(param.TimeoutSec);
    st_.worker.ThreadCount.store(param.ThreadCount);
    st_.worker.MinSizeKB.store(param.MinSizeKB);
    st_.worker.MaxSizeKB.store(param.MaxSizeKB);
    st_.worker.FilmMaxMB.store(job_.ext.FilmMaxMB);
    st_.transfer = &job_.transfer;
    st_.keepShootTime = job_.ext.KeepShootTime;
    album_.folder = st_.task.albumFolder;
    // Room for the pictures the album list announced, so that the task list is not moved to ever
    // larger room as it grows (at 100,000 pictures the moves are a serial part of listing, and each
    // briefly holds the old room and the new). Only address space until filled, and bounded: the
    // count comes from the service.
    constexpr int32_t kMostReserved = 200000;
    if (rec_.PictureCount > 0) {
        const auto room = static_cast<std::size_t>(std::min(rec_.PictureCount, kMostReserved));
        st_.task.pictures.reserve(room);
        st_.task.fileNames.reserve(room);
    }
}

// Lists the pictures; false when the album ends here (refused, nothing listed, stopped).
bool AlbumRun::List() {
    const DownloadRequest& request = job_.request;
    ctx_.stop = job_.control.Token();
    ctx_.ext = job_.ext;
    ctx_.programFolder = request.programFolder;
    ctx_.target = request.list.target;
    Fetcher& fetcher = ServiceOf(request.list.kind).fetcher();
    fetcher.LoadState(ctx_, request.list.service.get());
    ctx_.backoff = &job_.backoff;
    PictureCollector sink(st_, posts_);
    // Only the QQ Zone family (site 0) has fetchers.
    if (request.settings.site == 0) {
        fetcher.ListPictures(ctx_, rec_, sink);
        // The transfer asks for each film right before downloading it; from here on the context
        // is only read.
        st_.lookUpFilm = [&fetcher, this](const PictureRef& item) { return fetcher.LookUpFilm(ctx_, rec_, item); };
    }
    WriteTitleList(st_.task, rec_.Name);
    // The list is complete: what its growth left spare goes back, and the title list is written.
    st_.task.pictures.shrink_to_fit();
    st_.task.fileNames.shrink_to_fit();
    std::string().swap(st_.task.titleList);
    // Naming is over: the registry of the names given goes too (the archive check after it
    // reuses its memory), and the folder's sweep, which ran beside it, is done.
    st_.task.names = NameRegistry();
    st_.task.WaitForSweep();

    album_.listed = st_.task.Size() - st_.task.FilmCount();
    album_.films.listed = st_.task.FilmCount();
    album_.upToDate = st_.albumComplete.load();
    // An album whose folder would lead out of the save folder is refused as a whole.
    if (st_.task.refused) {
        album_.reason = AlbumReason::Unwritable;
        album_.reasonText = DescribeFailure(st_.task.refused);
        album_.listed = 0;
        album_.films = FilmCounts{};
        return false;
    }
    JobControl& control = job_.control;
    const std::size_t listed = album_.listed;
    if (!job_.stopConfirmed && listed > 0 && control.StopRequested() &&
        job_.observer.Ask(QuestionEvent{Question::DownloadListedSoFar}))
        job_.stopConfirmed = true;
    if (listed == 0) {
        if (!album_.upToDate) {
            album_.reason = control.StopRequested() ? AlbumReason::Stopped : ListingReason(ctx_, rec_);
            if (album_.reason == AlbumReason::None) album_.reason = AlbumReason::Empty;
            if (album_.reason == AlbumReason::Network) album_.reasonText = ctx_.reasonText;
        }
        return false;
    }
    if (control.StopRequested() && !job_.stopConfirmed) {
        album_.reason = AlbumReason::Stopped;
        album_.notTried = listed;
        album_.films.notTried = album_.films.listed;
        return false;
    }
    // A page that failed after others were listed: the listed pictures are fetched, but the album
    // stays incomplete with the page's reason.
    if (ListingFailed()) {
        album_.reason = ListingReason(ctx_, rec_);
        if (album_.reason == AlbumReason::Network) album_.reasonText = ctx_.reasonText;
    }
    job_.pictureTotal += listed;
    job_.lastFolder = st_.task.albumFolder;
    return true;
}

bool AlbumRun::ListingFailed() const {
    return !ctx_.Stopped() && ListingReason(ctx_, rec_) != AlbumReason::None;
}

// List-only mode: the album's address lists instead of its pictures.
bool AlbumRun::WriteAddressLists() {
    album_.listOnly = true;
    const Text listPath = st_.task.albumFolder + ListFileName(rec_.Name);
    // No download follows: the films' addresses are asked for now, so the lists hold them. A film
    // the service gives no file of is a failed film of the album, with its reason.
    for (std::size_t i = 0; i < st_.task.pictures.size(); ++i) {
        PictureRef& entry = st_.task.pictures[i];
        if (!entry.film || job_.control.StopRequested()) continue;
        const FilmAddress film = st_.lookUpFilm ? st_.lookUpFilm(entry) : FilmAddress{};
        if (film.state == FilmState::Ready) {
            entry.main = film.download;
            entry.headers = film.headers;
            continue;
        }
        PictureOutcome lost;
        lost.index = i;
        lost.film = true;
        lost.filmPlay = film.play;
        if (i < st_.task.fileNames.size()) lost.fileName = st_.task.fileNames[i];
        lost.failure = film.state == FilmState::NotReady     ? Failure{FailureKind::FilmNotReady, 0, {}}
                       : film.state == FilmState::StreamOnly ? Failure{FailureKind::FilmStreamOnly, 0, {}}
                                                             : film.failure;
        album_.failures.push_back(std::move(lost));
        ++album_.films.failed;
    }
    std::vector<UnlistedEntry> unlisted;
    const bool written = WriteAlbumList(st_, listPath, &unlisted) && WriteAria2List(st_.task, listPath);
    // A picture whose address may not be listed is a failed picture of the album.
    for (const UnlistedEntry& u : unlisted) {
        PictureOutcome lost;
        lost.index = u.index;
        lost.address = st_.task.pictures[u.index].main;
        if (u.index < st_.task.fileNames.size()) lost.fileName = st_.task.fileNames[u.index];
        lost.failure = Failure{FailureKind::Unsafe, 0, "address not listed: " + u.reason};
        album_.failures.push_back(std::move(lost));
    }
    album_.failed = unlisted.size();
    if (written) return true;
    Trace("list file not written for album %d\n", album_.index);
    album_.reason = AlbumReason::Unwritable;
    album_.reasonText = "the address list could not be written";
    return false;
}

// What the archive lets this album skip: pictures recorded as saved whose file is there (unless
// every picture is to be fetched again), and in a retry everything that did not fail.
void AlbumRun::MarkArchived() {
    const std::size_t n = st_.task.Size();
    ids_.resize(n);
    for (std::size_t i = 0; i < n; ++i) ids_[i] = EntryIdentity(st_.task.pictures[i]);
    if (ArchiveKey() == 0) return;
    // Each picture is recorded as its worker ends it (saved with its name, size and digest, failed
    // with its reason); the archive commits at least every second, so a run killed mid-album
    // keeps what it saved.
    st_.pictureEnded = [archive = job_.archive.get(), key = archiveKey_, &ids = ids_](const PictureOutcome& p) {
        if (p.index >= ids.size()) return;
        if (p.status == PictureStatus::Saved && !p.sha256.empty())
            archive->RecordSaved(key, SavedPicture{ids[p.index], ToUtf8(p.fileName), p.bytes, p.sha256});
        else if (p.status == PictureStatus::Failed)
            archive->RecordFailed(key, ids[p.index], p.failure);
    };
    const DownloadRequest& request = job_.request;
    st_.skip.assign(n, DownloadState::kFetch);
    known_.assign(n, SavedPicture());
    std::set<std::string> failed;
    if (request.retryFailed) {
        const auto list = job_.archive->FailedIdentities(archiveKey_);
        failed.insert(list.begin(), list.end());
    }
    const bool skipSaved = !request.refetch || request.retryFailed;
    if (!skipSaved) return;
    // The archive's records are matched to the task list as they are read, and a record found is
    // kept only in its entries' `known_`: no second copy of the album's records.
    const EntriesByIdentity entries(ids_);
    std::vector<bool> recorded(n, false);
    const bool read = job_.archive->ForEachSaved(archiveKey_, [&](const Archive::SavedView& v) {
        for (uint32_t i = entries.First(v.identity); i != EntriesByIdentity::kNone; i = entries.Next(i)) {
            SavedPicture& k = known_[i];
            k.fileName.assign(v.fileName);
            k.size = v.size;
            k.sha256.assign(v.sha256);
            recorded[i] = true;
        }
    });
    // An archive that failed part way skips nothing.
    if (!read) known_.assign(n, SavedPicture());
    const std::filesystem::path folder = PathFromText(st_.task.albumFolder);
    const HeldFolder* held = st_.task.folder.get();
    // Whether each recorded file is still there: one stat each, independent of one another, so a
    // large album's are shared between two threads (at 100,000 pictures they are the largest part
    // of a re-run).
    std::vector<uint8_t> present(n, 0);
    const auto check = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (recorded[i])
                present[i] = held ? Archive::StillInFolder(known_[i], *held) : Archive::StillInFolder(known_[i], folder);
        }
    };
    constexpr std::size_t kShared = 32;  // fewer are not worth a thread
    if (read) {
        std::thread other;
        if (n >= kShared) {
            try {
                other = std::thread(check, n / 2, n);
            } catch (const std::system_error&) {  // no thread to be had: this one checks them all
            }
        }
        check(0, other.joinable() ? n / 2 : n);
        if (other.joinable()) other.join();
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (present[i]) {
            st_.skip[i] = DownloadState::kAlreadyHad;
            continue;
        }
        if (recorded[i]) known_[i] = SavedPicture();
        if (request.retryFailed && !failed.count(ids_[i])) st_.skip[i] = DownloadState::kNotTried;
    }
}

bool AlbumRun::Transfer() {
    const std::size_t listed = album_.listed;
    job_.observer.TransferStarted(st_.task.Size(), st_.task.albumFolder);
    // After "download what is listed" the transfers get a token that the earlier stop request does
    // not hold; a second stop ends them.
    if (job_.stopConfirmed) st_.stop = job_.control.RenewToken();
    if (TransferPictures(st_)) return true;
    job_.observer.Notify(NoticeEvent{Notice::ThreadFailed});
    album_.reason = AlbumReason::Unwritable;
    album_.reasonText = "cannot start the download";
    album_.notTried = listed;
    album_.films.notTried = album_.films.listed;
    return false;
}

// The work after the transfer: the history, the format fix and file times, then the digests, the
// archive and album.json from the pictures' outcomes.
void AlbumRun::Finish() {
    transferred_ = true;
    std::vector<PictureOutcome>& outcomes = st_.outcomes;
    for (std::size_t k = 0; k < known_.size() && k < outcomes.size(); ++k)
        if (outcomes[k].status == PictureStatus::AlreadyHad && !known_[k].fileName.empty())
            outcomes[k].fileName = FromUtf8(known_[k].fileName);
    album_.rateLimitWaited = std::chrono::milliseconds(st_.rateLimitWaitedMs.load()) + ctx_.rateLimitWaited;
    Tally(st_, album_);
    // The job's back-off gave up on some of its pictures: the service is limiting us.
    for (const PictureOutcome& f : album_.failures)
        if (f.failure.kind == FailureKind::RateLimited) album_.reason = AlbumReason::RateLimited;
    // A full disk ended the album: that is its reason, in the system's words.
    if (st_.diskFull.load() && album_.reason == AlbumReason::None) {
        album_.reason = AlbumReason::Unwritable;
        for (const PictureOutcome& p : album_.failures)
            if (p.failure.kind == FailureKind::DiskFull) {
                album_.reasonText = DescribeFailure(p.failure);
                break;
            }
    }
    // Pictures the naming could not place were listed but never queued: they failed.
    const std::size_t listed = album_.listed;
    for (std::size_t k = 0; k < st_.task.dropped; ++k) {
        PictureOutcome lost;
        lost.index = listed + k;
        lost.failure = Failure{FailureKind::Unsafe, 0, "no safe file name"};
        album_.failures.push_back(lost);
    }
    album_.failed += st_.task.dropped;
    album_.listed += st_.task.dropped;

    // The history records the newest picture only when every picture is in the folder and the
    // whole album was listed, so that what is missing is fetched again by the next run.
    const uint16_t flags = st_.profile.SiteFlags;
    if (AllPicturesSaved(st_) && album_.reason == AlbumReason::None) RecordHistory(st_, st_.task.albumFolder);
    if (flags & SiteFlag::FixFormat) {
        FixFormat(st_);
        for (std::size_t k = 0; k < outcomes.size() && k < st_.task.fileNames.size(); ++k) {
            if (outcomes[k].status != PictureStatus::Saved || outcomes[k].fileName == st_.task.fileNames[k]) continue;
            outcomes[k].fileName = st_.task.fileNames[k];
            if (ArchiveKey() != 0 && k < ids_.size())
                job_.archive->RecordFileName(archiveKey_, ids_[k], ToUtf8(outcomes[k].fileName));
        }
        for (PictureOutcome& f : album_.failures)
            if (f.index < st_.task.fileNames.size()) f.fileName = st_.task.fileNames[f.index];
    }
    if (flags & SiteFlag::FixOrder) FixOrder(st_);
    const ListResult& list = job_.request.list;
    const SidecarFacts facts{ServiceOf(list.kind).word, FromUtf8(job_.archiveTarget.number), AlbumIdOf(rec_), &rec_};
    WriteAlbumSidecar(facts, st_, album_, known_);
}

// The one exit: every chosen album reaches the archive, with this run's counts when its pictures
// were fetched, else with the reason it ended (one the history showed as up to date keeps what the
// archive knows); then the album's end is reported.
void AlbumRun::Exit() {
    KeepPosts();
    if (ArchiveKey() != 0) {
        if (transferred_)
            job_.archive->FinishAlbum(archiveKey_, album_);
        else if (!album_.upToDate)
            job_.archive->RecordUnfinished(archiveKey_, album_);
    }
    unsigned seconds = 0;
    if (transferred_)
        seconds = static_cast<unsigned>(
            std::chrono::duration_cast<std::chrono::seconds>(job_.clock.Now() - started_).count());
    job_.observer.AlbumFinished(album_, seconds);
}

// The words of the mood posts listed (nothing for other albums): each with its saved pictures'
// names, into the archive and moods.json beside the pictures. An album of posts without a single
// picture gets its folder here.
void AlbumRun::KeepPosts() {
    if (posts_.empty()) return;
    if (!st_.task.folderReady) {
        st_.task.folderReady = true;
        MakeAlbumFolder(st_);
    }
    if (st_.task.refused) {
        album_.posts.listed = posts_.size();
        album_.posts.error = DescribeFailure(st_.task.refused);
        return;
    }
    // An album of words alone: nothing was listed to fetch, and that is no fault of the listing.
    if (album_.listed == 0 && album_.reason == AlbumReason::Empty) album_.reason = AlbumReason::None;
    MoodRecordJob run;
    run.posts = std::move(posts_);
    run.task = &st_.task;
    run.outcomes = &st_.outcomes;
    run.archive = ArchiveKey() != 0 ? job_.archive.get() : nullptr;
    run.albumKey = archiveKey_;
    run.targetId = job_.archiveTarget.number;
    run.folder = st_.task.albumFolder;
    run.held = st_.task.folder;
    album_.posts = RecordMoodPosts(std::move(run), job_.observer);
}

int64_t AlbumRun::ArchiveKey() {
    if (archiveKey_ != 0 || !job_.archive) return archiveKey_;
    archiveKey_ = job_.archive->AlbumKey(
        job_.archiveTarget, ArchiveAlbum{ToUtf8(AlbumIdOf(rec_)), ToUtf8(rec_.Name), PathFromText(st_.task.albumFolder),
                                         rec_.PictureCount, album_.index});
    // An archive that stopped taking writes (a full disk, permissions changed meanwhile) is said
    // once, and the job goes on without it.
    if (archiveKey_ == 0 && !job_.archive->Error().empty()) {
        job_.observer.Notify(NoticeEvent{Notice::ArchiveUnusable, job_.archive->Error()});
        job_.archive.reset();
    }
    return archiveKey_;
}

}  // namespace qm
