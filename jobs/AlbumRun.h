// One chosen album on its way through the download, in named stages:
//
//   PrepareFolder  where the album's pictures will go (made at its first picture)
//   List           the fetcher of the target's kind lists the pictures
//   MarkArchived   what the save folder's archive records as saved is not fetched again
//   Transfer       the pictures are fetched into the album folder
//   Finish         history, format fix, file times, digests, archive and album.json
//   KeepPosts      the mood pseudo-album's posts, with their pictures' files, into the archive
//                  and moods.json (on every way out, so words listed are never lost)
//
// A stage that ends the album (nothing listed, a refusal, a stop, the address lists written
// instead) goes straight to the one exit, which records the album in the archive and reports
// AlbumFinished. The picture outcomes are the only record of what was saved.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "core/Outcome.h"
#include "download/DownloadState.h"
#include "jobs/DownloadSession.h"
#include "sites/Fetcher.h"

namespace qm {

class AlbumRun {
public:
    // Album `index` of the list, the `position`-th (1-based) of the chosen ones.
    AlbumRun(DownloadSession& job, std::size_t position, int index);
    AlbumRun(const AlbumRun&) = delete;
    AlbumRun& operator=(const AlbumRun&) = delete;

    // Runs the stages and returns the album's outcome (also reported as AlbumFinished).
    AlbumOutcome Run();

private:
    void PrepareFolder();
    bool List();
    bool WriteAddressLists();
    void MarkArchived();
    bool Transfer();
    void Finish();
    void KeepPosts();
    void Exit();

    bool ListingFailed() const;
    int64_t ArchiveKey();

    DownloadSession& job_;
    const std::size_t position_;
    const ST_PERLISTRECORD& rec_;
    DownloadState st_;
    SiteContext ctx_;
    AlbumOutcome album_;
    int64_t archiveKey_ = 0;
    bool transferred_ = false;  // the transfer ran (its time is reported)
    std::vector<std::string> ids_;        // each picture's identity in the archive
    std::vector<SavedPicture> known_;     // what the archive knew of the pictures already had
    std::vector<MoodPost> posts_;         // the mood posts listed (the mood pseudo-album only)
    std::chrono::steady_clock::time_point started_;
};

}  // namespace qm
