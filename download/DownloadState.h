// The state of one album's download: its task list, the worker parameters, the finished counter
// and the per-picture outcomes. The download controller owns one; the fetchers never see it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "core/AlbumRecord.h"
#include "net/Clock.h"
#include "core/FilmAddress.h"
#include "core/JobObserver.h"
#include "core/NameRegistry.h"
#include "core/Outcome.h"
#include "core/PictureRef.h"
#include "core/SettingsBlock.h"
#include "net/FileUtil.h"

namespace qm {

struct ST_DOWNTASK {
    std::vector<PictureRef> pictures;
    std::vector<Text> fileNames;  // relative to albumFolder
    Text albumFolder;             // ends with a separator
    Text historyAddress;          // the album's history address, loaded at its first picture
    Text saveFolder;              // the folder nothing may be written outside of (kept by Clear)

    bool folderPlanned = false;  // albumFolder names the album's own folder (PlanAlbumFolder)
    bool folderReady = false;    // the album folder was made (at the album's first picture)
    // The album folder, held open once it was checked: every file of the album is written through
    // it, so a folder swapped for a symbolic link later cannot redirect a write. Null until made.
    std::shared_ptr<HeldFolder> folder;
    // The sweep of what crashed runs left half-written in the folder, running beside the listing
    // from the moment the folder is made (WaitForSweep ends it).
    std::future<std::size_t> sweep;
    NameRegistry names;        // fileNames, for the duplicate check
    std::string titleList;     // the title list file's bytes, written once the album is listed
    std::size_t dropped = 0;  // pictures the naming could not place, so never queued
    // Set when the album was refused as a whole (its folder leads out of the save folder); nothing
    // of it is queued or written.
    Failure refused;

    std::size_t Size() const { return pictures.size(); }
    // Entries that are the films of video items (each follows its cover's entry).
    std::size_t films = 0;
    std::size_t FilmCount() const { return films; }
    void WaitForSweep() {
        if (sweep.valid()) sweep.get();
    }
    void Clear() {
        WaitForSweep();
        pictures.clear();
        fileNames.clear();
        historyAddress.clear();
        folderPlanned = false;
        folderReady = false;
        folder.reset();
        names.Clear();
        titleList.clear();
        dropped = 0;
        films = 0;
        refused = Failure{};
    }
};

struct WorkerParams {
    std::atomic<int> ThreadCount{5};
    std::atomic<int> TimeoutSec{30};
    std::atomic<int> MinSizeKB{0};
    std::atomic<int> MaxSizeKB{0};
    std::atomic<uint32_t> FilmMaxMB{0};  // films only; 0: no limit
};

// What naming needs to know of the album and the run.
struct AlbumFacts {
    ST_PERLISTRECORD record;
    std::size_t albumCount = 0;  // records in the list
    uint32_t selected = 0;       // albums chosen for this run
    Text targetFolder;           // "?8"
    int site = 0;
};

class Transfer;

// The address a picture's bytes came from (or the last one tried): its own main or alternate address
// as `p.usedAlternate` says, which its stored outcome leaves out; a film's address, asked for right
// before its download, is the one its outcome carries.
inline const Text& SourceAddress(const PictureRef& ref, const PictureOutcome& p) {
    if (p.film || !p.address.empty()) return p.address;
    return p.usedAlternate ? ref.alternate : ref.main;
}

struct DownloadState {
    DownloadState(JobObserver& obs, Clock& c) : observer(&obs), clock(&c) {}

    JobObserver* observer;
    Clock* clock;
    std::stop_token stop;  // ends the transfers of this album
    SiteProfile profile;
    AlbumFacts album;
    ST_DOWNTASK task;
    WorkerParams worker;
    std::atomic<uint32_t> Finished{0};
    std::atomic<uint8_t> Running{0};
    // The history showed the rest of the album as downloaded: no more of it is queued.
    std::atomic<bool> albumComplete{false};
    // One per task entry, in task order; entry i is written only by the worker of picture i and
    // read once the manager has joined every worker. A picture's outcome is kept without its
    // address (SourceAddress gives it), a film's with the address it was asked for.
    std::vector<PictureOutcome> outcomes;
    // Entries not to fetch, set by the controller before the manager starts: kAlreadyHad (the
    // archive records the picture as saved and its file is there) or kNotTried (left out of a
    // retry of the failed pictures). Empty: fetch every entry.
    static constexpr uint8_t kFetch = 0, kAlreadyHad = 1, kNotTried = 2;
    std::vector<uint8_t> skip;
    // Called on the worker's thread as each fetched picture ends (saved or failed), after its
    // outcome is in `outcomes`; may be empty. The archive records the picture here, so that what
    // was saved survives a crash of the process.
    std::function<void(const PictureOutcome&)> pictureEnded;
    // Where the film of a video item is, asked right before its download (the service's addresses
    // are signed and expire). Called from the workers' threads; unset: films fail.
    std::function<FilmAddress(const PictureRef&)> lookUpFilm;
    // Milliseconds the workers spent waiting out the service's rate limit.
    std::atomic<int64_t> rateLimitWaitedMs{0};
    // A picture could not be written because the disk (or the quota) is full: no further picture
    // of the album is started, and the album ends with that reason.
    std::atomic<bool> diskFull{false};
    // The job's transfer (its pool and back-off); null: the album gets a transfer of its own.
    Transfer* transfer = nullptr;
    // A picture saved now takes its shoot time (else its upload time) as its file time.
    bool keepShootTime = false;
};

}  // namespace qm
