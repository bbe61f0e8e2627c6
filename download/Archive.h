// The archive of a save folder: which picture of which album was saved under which file (size and
// SHA-256), which failed and why, and each album's last run. One SQLite database at the folder's
// root, shared by every target downloaded there; later runs skip what it records as saved.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/Outcome.h"
#include "net/FileUtil.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qm {

inline constexpr char kArchiveFileName[] = "quillmoss-archive.sqlite3";

// Why an archive could not be used. The file is never deleted or replaced in any of these cases.
enum class ArchiveProblem : uint8_t {
    None,
    Missing,   // no archive in the folder (only when opened without creating)
    Unusable,  // cannot be opened or written (permissions, a full disk, a symbolic link)
    Corrupt,   // not a database, or damaged
    Locked,    // another program holds it
    ReadOnly,  // it can be read but not written (its permissions, a read-only file system)
    Newer,     // written by a newer version of the program (a schema this one does not know)
};

struct ArchiveOpenError {
    ArchiveProblem problem = ArchiveProblem::None;
    std::string detail;  // SQLite's own words, or the schema number found
};

// What is wrong, for a person (Chinese, as the terminal and the window speak).
std::string DescribeArchiveError(const ArchiveOpenError& e, const std::filesystem::path& file);

struct ArchiveTarget {
    TargetKind kind = TargetKind::QZone;
    std::string number;  // QQ number, QQ group number or Weibo name (UTF-8)
};

struct ArchiveAlbum {
    std::string id;                // the service's album id (UTF-8); stable across runs
    std::string name;              // the album's name as listed (UTF-8)
    std::filesystem::path folder;  // the album folder; kept relative to the save folder
    int32_t expected = -1;         // the album table's count; -1 unknown
    int position = -1;             // its index in the target's album list; -1 unknown
};

struct SavedPicture {
    std::string identity;  // PictureIdentity()
    std::string fileName;  // final name inside the album folder (UTF-8)
    uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

// A mood post as the archive keeps it: its id, time and its moods.json record.
struct StoredPost {
    std::string id;
    int64_t time = 0;    // Unix seconds
    std::string record;  // PostRecordJson()
};

// Failed pictures of an album that share one reason.
struct FailureTally {
    FailureKind kind = FailureKind::Other;
    long httpStatus = 0;
    std::string text;
    std::size_t count = 0;
};

// What the archive knows of one album: the last run's counts and the records as they stand.
struct AlbumReport {
    int64_t key = 0;
    TargetKind kind = TargetKind::QZone;
    std::string target;
    std::string albumId;
    std::string name;
    std::filesystem::path folder;        // absolute; empty when the recorded one leads out of the save folder
    int32_t expected = -1;               // the album table's count at the last listing; -1 unknown
    int64_t listed = -1;                 // listed by the service in the last run; -1 no run finished
    std::size_t saved = 0;               // recorded as saved and still on disk with the recorded size
    std::size_t missing = 0;             // recorded as saved, but the file is gone or changed size
    std::size_t failed = 0;              // recorded as failed
    std::vector<FailureTally> failures;  // the reasons of `failed`, most frequent first
    std::size_t savedLastRun = 0;
    std::size_t alreadyHadLastRun = 0;
    AlbumReason lastReason = AlbumReason::None;
    std::string lastReasonText;
    int64_t lastRunTime = 0;  // Unix seconds; 0 before the first finished run
    bool listOnly = false;    // only the address lists were written (no run fetched the album)
    int position = -1;        // index in the target's album list when last chosen; -1 unknown
    std::size_t posts = 0;    // mood posts kept (the mood pseudo-album)

    std::size_t NotListed() const {
        return expected > 0 && listed >= 0 && expected > listed ? static_cast<std::size_t>(expected - listed)
                                                                : 0;
    }
};

// Thread-safe: one connection behind one mutex, so the workers may record from their threads.
// Writes are gathered into transactions, committed every kBatch records, at FinishAlbum, Flush and
// destruction, and by a background flusher once the oldest pending write is kBatchAge old, so a
// process killed mid-album keeps all but the last second of its records. When a statement fails after opening, the archive goes quiet:
// it records nothing more, skips nothing (SavedPictures is empty), and Error() tells why.
class Archive {
public:
    static constexpr int kSchemaVersion = 4;
    static constexpr int kBatch = 200;
    static constexpr std::chrono::milliseconds kBatchAge{750};

    // Opens the archive of `saveFolder`, creating it when `create` (else Missing), and brings an
    // older schema up to date. Null with `error` set when it cannot be used; with `create` (a
    // download, which records what it saves) an archive that cannot be written is ReadOnly.
    static std::unique_ptr<Archive> Open(const std::filesystem::path& saveFolder, ArchiveOpenError& error,
                                         bool create = true);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const std::filesystem::path& File() const { return file_; }

    // The album's key (created or brought up to date: name, folder, expected count); 0 when the
    // archive has gone quiet.
    int64_t AlbumKey(const ArchiveTarget& target, const ArchiveAlbum& album);

    // Every picture of the album recorded as saved, handed to `each` one by one as they are read in
    // one look-up (a re-run checks thousands at once), nothing gathered: the views hold only during
    // the call, and `each` must not call the archive. False when the look-up failed part way (the
    // archive then goes quiet): what was handed is to be dropped. Whether each file is still there
    // is StillInFolder's question.
    struct SavedView {
        std::string_view identity, fileName;
        uint64_t size = 0;
        std::string_view sha256;
    };
    bool ForEachSaved(int64_t album, const std::function<void(const SavedView&)>& each);
    // True when the recorded file is in `folder` with the recorded size (a symbolic link or a name
    // that is not one plain component never counts).
    static bool StillInFolder(const SavedPicture& picture, const std::filesystem::path& folder);
    // The same inside a held folder: one name looked up, not the whole path (a re-run asks this
    // for every picture of the album).
    static bool StillInFolder(const SavedPicture& picture, const HeldFolder& folder);
    void RecordSaved(int64_t album, const SavedPicture& picture);
    // After the extension fix renamed a saved picture's file.
    void RecordFileName(int64_t album, const std::string& identity, const std::string& fileName);
    // Marks the picture failed (a saved record too: its file is fetched again next time). A stop is
    // not a failure and is not recorded.
    void RecordFailed(int64_t album, const std::string& identity, const Failure& failure);
    std::vector<std::string> FailedIdentities(int64_t album);
    // The album's mood posts, newest first.
    std::vector<StoredPost> Posts(int64_t album);
    // Adds a post or replaces its record.
    void RecordPost(int64_t album, const StoredPost& post);
    // Stores the run's counts of the album (listed, saved now, already had, its reason) and commits.
    void FinishAlbum(int64_t album, const AlbumOutcome& outcome);
    // Notes why a run ended the album before fetching any of it (refused, nothing listed, stopped,
    // only its address lists written), unless an earlier run did fetch it: what that run left
    // stands.
    void RecordUnfinished(int64_t album, const AlbumOutcome& outcome);
    // Commits what is pending.
    void Flush();

    // Every album, grouped by target in the order they were first recorded, each target's albums
    // in list order.
    std::vector<AlbumReport> Report();

    // Empty while all is well; otherwise what made the archive go quiet.
    std::string Error() const;

private:
    Archive(sqlite3* db, std::filesystem::path root, std::filesystem::path file);
    struct Statements;

    bool ExecLocked(const char* sql);
    bool BeginWriteLocked();
    void CommitLocked();
    void FailLocked(const char* what);
    void StartFlusherLocked();
    bool Usable() const { return db_ && error_.empty(); }

    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<Statements> stmt_;
    std::filesystem::path root_;
    std::filesystem::path file_;
    std::string error_;
    bool inTransaction_ = false;
    int pending_ = 0;
    std::chrono::steady_clock::time_point transactionStart_{};
    std::condition_variable_any flusherWake_;
    std::jthread flusher_;  // started with the first write; stopped before the connection closes
};

}  // namespace qm
