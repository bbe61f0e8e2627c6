// What a job reports: the kind of target, and the outcome of every picture, album and job as data.
// Front ends draw their texts and exit statuses from these; nobody parses a message.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net/FetchFailure.h"
#include "net/StringCtrl.h"

namespace qm {

// Which service of the QQ Zone family a target names: the stored number of a row of the service
// table in sites/ (0/1/2 in the settings and the window). A new service takes the next number in
// its row; these names are for the code that must tell the first three apart.
enum class TargetKind : int { QZone = 0, Group = 1, Weibo = 2 };

// Why a fetch or a picture failed (kind, HTTP status, the system's or curl's words).
using Failure = FetchFailure;

enum class PictureStatus : uint8_t { Saved, AlreadyHad, Failed };

struct PictureOutcome {
    std::size_t index = 0;     // position in the album's picture list
    Text address;              // the address the bytes came from (or the last one tried)
    bool usedAlternate = false;
    Text fileName;             // final name, relative to the album folder (after FixFormat)
    uint64_t bytes = 0;           // a saved picture's file size
    std::string sha256;           // a saved picture's digest (lower-case hex), taken as it was written
    bool film = false;         // the film of a video item (its cover is the entry before it)
    Text filmPlay;             // a film's online play address, when the service named one
    PictureStatus status = PictureStatus::Failed;
    Failure failure;           // set when status is Failed
};

// The films of an album's video items, counted apart from the pictures (a video item's cover is a
// picture).
struct FilmCounts {
    std::size_t listed = 0;
    std::size_t saved = 0;
    std::size_t alreadyHad = 0;
    std::size_t failed = 0;
    std::size_t notTried = 0;
    bool Complete() const { return saved + alreadyHad == listed; }
};

// Why an album delivered nothing (or not everything).
enum class AlbumReason : uint8_t {
    None,
    NoAccess,
    Password,  // not given or refused
    Empty,
    RateLimited,
    Network,   // `reasonText` holds the cause
    Stopped,
    Unwritable,  // the album folder could not be made (or is unsafe); `reasonText` says why
    LoginNeeded,  // the service asked for a login or a verification
};

// What became of the mood posts of the mood pseudo-album in one run (all zero for other albums).
struct PostTally {
    std::size_t listed = 0;     // posts the service listed in this run
    std::size_t added = 0;      // new to the archive
    std::size_t refreshed = 0;  // known before, with new comments, counts or text
    std::size_t kept = 0;       // the posts moods.json holds now (earlier runs' included)
    std::size_t cutTexts = 0;   // long posts whose full text could not be fetched
    bool written = false;       // moods.json was written
    std::string error;          // why moods.json could not be written
};

struct AlbumOutcome {
    int index = -1;             // record index in the list result
    Text name;
    int32_t expected = -1;      // the table's count; -1 unknown
    std::size_t listed = 0;
    std::size_t saved = 0;
    std::size_t alreadyHad = 0;
    std::size_t failed = 0;
    std::size_t notTried = 0;
    FilmCounts films;           // the films of the video items (not in the counts above)
    Text folder;                // the album folder (ends with a separator)
    bool listOnly = false;      // address lists written instead of downloading
    AlbumReason reason = AlbumReason::None;
    std::string reasonText;     // UTF-8 detail for Network / Unwritable
    bool upToDate = false;      // the history showed every listed picture as fetched before
    std::chrono::milliseconds rateLimitWaited{0};
    std::vector<PictureOutcome> failures;  // every failed picture, in list order (not the untried)
    PostTally posts;            // the mood pseudo-album's posts

    bool HasPosts() const { return posts.listed > 0 || posts.kept > 0; }

    // Every listed picture saved or already had (or, in ListOnly mode, the list files written with
    // every picture's address in them).
    bool Complete() const {
        if (reason != AlbumReason::None) return false;
        if (posts.listed > 0 && !posts.written) return false;  // the posts' words were not kept
        if (listOnly) return listed > 0 && failed == 0 && films.failed == 0;
        if (!films.Complete()) return false;
        if (upToDate && failed == 0 && notTried == 0) return true;
        // Mood posts without a single picture: complete once their words are kept.
        if (listed == 0 && posts.listed > 0) return true;
        return listed > 0 && saved + alreadyHad == listed;
    }
    // Pictures the album table announced that the service did not list.
    std::size_t NotListed() const {
        return expected > 0 && static_cast<std::size_t>(expected) > listed
                   ? static_cast<std::size_t>(expected) - listed
                   : 0;
    }
};

enum class JobError : uint8_t { None, NoSaveFolder, SaveFolderUnusable, NoAlbumChosen };

struct JobOutcome {
    std::vector<AlbumOutcome> albums;
    bool stopped = false;
    JobError error = JobError::None;
    std::string errorText;  // the system's reason for an unusable save folder
    Text lastFolder;        // the folder of the last album processed
    Text openFolder;        // set when the folder should be opened now (the option, and pictures)

    bool Complete() const {
        if (error != JobError::None || stopped || albums.empty()) return false;
        for (const AlbumOutcome& a : albums)
            if (!a.Complete()) return false;
        return true;
    }
};

}  // namespace qm
