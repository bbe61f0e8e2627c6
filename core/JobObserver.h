// What the jobs tell whoever shows them, as typed events, and the questions they ask. The window's
// presenter turns these into its status lines, captions and message boxes; the terminal's into its
// bar, summary and exit status; tests record them. Job threads call every method; an observer
// marshals to its own thread as it needs. Notify, Ask and RequestLogin block the job thread until
// the answer is there.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "core/AlbumRecord.h"
#include "core/MoodPost.h"
#include "core/Outcome.h"

namespace qm {

struct ListResult;

// The messages a job raises, as ids with their data; the presenters word them.
enum class Notice : uint8_t {
    EmptyTarget,
    NumberOnly,          // a QZone target that is not a QQ number
    NoAlbums,            // nothing listed (the text depends on the kind)
    RouteFailed,         // the route lookup got no answer; `cause` holds the network's reason
    RateLimited,         // the service's own rate-limit text
    ServiceMessage,      // another refusal text of the service
    MoodLogin,           // mood pictures need a login first
    NoSaveFolder,
    SaveFolderUnusable,  // `cause` holds the system's reason
    NoAlbumChosen,
    ThreadFailed,
    OutOfMemory,
    ArchiveUnusable,     // the save folder's archive cannot be used; `cause` says why
};

struct NoticeEvent {
    Notice id;
    std::string cause{};                  // UTF-8 detail (a network or system reason), may be empty
    Text serviceText{};                   // RateLimited, ServiceMessage: the service's own words
    TargetKind kind = TargetKind::QZone;  // NoAlbums: the kind of target that has none
};

enum class Question : uint8_t {
    VerifyAccess,         // a non-public space: open the login window?
    AlbumPassword,        // an encrypted album: enter its password?
    DownloadListedSoFar,  // a stop came while listing: download what is listed?
};

// What a run did with one mood post.
enum class PostChange : uint8_t { Added, Refreshed, Unchanged };

struct PostEvent {
    std::string id;
    int64_t time = 0;  // Unix seconds
    PostChange change = PostChange::Added;
    std::size_t pictures = 0;  // its saved picture files
    std::size_t comments = 0;  // comments and replies
    bool textCut = false;      // its full text could not be had
};

struct QuestionEvent {
    Question id;
};

// The answer to an encrypted album's question: whether to go on, and the password when the
// front end has it (else the album's page is opened for the user to enter it there).
struct PasswordAnswer {
    bool enter = false;
    std::optional<Text> password;
};

class JobObserver {
public:
    virtual ~JobObserver() = default;

    // --- the list job
    virtual void ListStarted() {}
    // Record `index` of the list was appended (its name already cleaned and unique).
    virtual void AlbumListed(std::size_t index, const ST_PERLISTRECORD& rec) {
        (void)index;
        (void)rec;
    }
    virtual void ListFinished(const ListResult& result) { (void)result; }

    // --- the download job
    virtual void DownloadStarted(std::size_t albums) { (void)albums; }
    // Album `position` (1-based) of `count` chosen ones begins (listing its pictures first).
    virtual void AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD& rec) {
        (void)position;
        (void)count;
        (void)rec;
    }
    // `count` pictures of the album are listed so far.
    virtual void PicturesListed(std::size_t count) { (void)count; }
    // The transfer of the album's `total` listed pictures into `folder` begins.
    virtual void TransferStarted(std::size_t total, const Text& folder) {
        (void)total;
        (void)folder;
    }
    // One picture ended; `done` of `total` have ended so far.
    virtual void PictureFinished(const PictureOutcome& picture, std::size_t done, std::size_t total) {
        (void)picture;
        (void)done;
        (void)total;
    }
    // One mood post was recorded (after the album's pictures, before AlbumFinished).
    virtual void PostRecorded(const PostEvent& post) { (void)post; }
    virtual void AlbumFinished(const AlbumOutcome& album, unsigned seconds) {
        (void)album;
        (void)seconds;
    }
    virtual void DownloadFinished(const JobOutcome& outcome) { (void)outcome; }
    // A rate-limit back-off is waiting; `left` counts down to zero.
    virtual void Waiting(std::chrono::seconds left) { (void)left; }

    // --- messages, questions and logins
    virtual void Notify(const NoticeEvent& notice) = 0;
    virtual bool Ask(const QuestionEvent& question) = 0;
    // Opens the login window on `url`; returns when it is closed.
    virtual void RequestLogin(const Text& url) = 0;
    // An encrypted album (asked once per album): by default the question, and on Yes the login
    // window on the album's page `pageUrl`, where the user types the password. A front end that
    // can take the password itself returns it; the fetcher then submits it as that page does.
    virtual PasswordAnswer AskAlbumPassword(const QuestionEvent& question, const ST_PERLISTRECORD& album,
                                            const Text& pageUrl) {
        (void)album;
        if (!Ask(question)) return {};
        RequestLogin(pageUrl);
        return {true, std::nullopt};
    }
};

}  // namespace qm
