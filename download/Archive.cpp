#include "download/Archive.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <ctime>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "core/OutcomeWords.h"

namespace qm {

namespace {

// The schema grows by steps; each brings an archive from the version before it to its own. A new
// version appends a step (never edits an old one) and raises Archive::kSchemaVersion.
struct SchemaStep {
    int version;
    const char* sql;
};

constexpr SchemaStep kSteps[] = {
    {1, R"sql(
CREATE TABLE target(
    id INTEGER PRIMARY KEY,
    kind INTEGER NOT NULL,              -- 0 QQ Zone, 1 QQ group, 2 Tencent Weibo
    number TEXT NOT NULL,               -- QQ number, group number or Weibo name
    UNIQUE(kind, number));
CREATE TABLE album(
    id INTEGER PRIMARY KEY,
    target INTEGER NOT NULL REFERENCES target(id),
    album_id TEXT NOT NULL,             -- the service's id of the album
    name TEXT NOT NULL,
    folder TEXT NOT NULL,               -- relative to the save folder
    expected INTEGER NOT NULL DEFAULT -1,
    UNIQUE(target, album_id));
CREATE TABLE picture(
    album INTEGER NOT NULL REFERENCES album(id),
    identity TEXT NOT NULL,             -- photo id, or the address without its changing parts
    state INTEGER NOT NULL,             -- 1 saved, 2 failed
    file_name TEXT NOT NULL DEFAULT '', -- inside the album folder, after the extension fix
    size INTEGER NOT NULL DEFAULT 0,
    sha256 TEXT NOT NULL DEFAULT '',
    failure TEXT NOT NULL DEFAULT '',   -- http, timeout, size, write, connection, unsafe, rate-limited, other
    http_status INTEGER NOT NULL DEFAULT 0,
    failure_text TEXT NOT NULL DEFAULT '',
    time INTEGER NOT NULL,              -- Unix seconds of the last record
    PRIMARY KEY(album, identity)) WITHOUT ROWID;
)sql"},
    {2, R"sql(
ALTER TABLE album ADD COLUMN listed INTEGER NOT NULL DEFAULT -1;
ALTER TABLE album ADD COLUMN saved_last_run INTEGER NOT NULL DEFAULT 0;
ALTER TABLE album ADD COLUMN had_last_run INTEGER NOT NULL DEFAULT 0;
ALTER TABLE album ADD COLUMN reason TEXT NOT NULL DEFAULT '';
ALTER TABLE album ADD COLUMN reason_text TEXT NOT NULL DEFAULT '';
ALTER TABLE album ADD COLUMN run_time INTEGER NOT NULL DEFAULT 0;
)sql"},
    {3, R"sql(
ALTER TABLE album ADD COLUMN position INTEGER NOT NULL DEFAULT -1;
)sql"},
    {4, R"sql(
CREATE TABLE post(
    album INTEGER NOT NULL REFERENCES album(id),
    tid TEXT NOT NULL,                  -- the service's id of the mood post
    time INTEGER NOT NULL,              -- the post's created_time (Unix seconds)
    record TEXT NOT NULL,               -- the post as moods.json writes it
    first_seen INTEGER NOT NULL,        -- Unix seconds of the run that first saw it
    updated INTEGER NOT NULL,           -- Unix seconds of the last change of its record
    PRIMARY KEY(album, tid)) WITHOUT ROWID;
)sql"},
};
static_assert(sizeof kSteps / sizeof kSteps[0] == Archive::kSchemaVersion);

// Waits for another program's write lock: short while opening (the run goes on without the archive
// rather than hang), longer once open (another run into the same folder commits its batch).
constexpr int kOpenBusyTimeoutMs = 1000;
constexpr int kBusyTimeoutMs = 5000;

// The reason word of an album whose address lists only were written.
constexpr char kListOnlyWord[] = "list_only";

ArchiveProblem ProblemOf(int code) {
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return ArchiveProblem::Corrupt;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ArchiveProblem::Locked;
        default:
            return ArchiveProblem::Unusable;
    }
}

// A prepared statement that finalizes itself.
class Stmt {
public:
    Stmt() = default;
    Stmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK) s_ = nullptr;
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(Stmt&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Stmt& operator=(Stmt&& o) noexcept {
        std::swap(s_, o.s_);
        return *this;
    }
    explicit operator bool() const { return s_ != nullptr; }
    sqlite3_stmt* get() const { return s_; }

    // Resets and binds every argument in order (1-based).
    template <typename... A>
    Stmt& Bind(const A&... args) {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
        int i = 1;
        (BindOne(i++, args), ...);
        (void)i;
        return *this;
    }
    int Step() { return sqlite3_step(s_); }
    int64_t Int(int col) const { return sqlite3_column_int64(s_, col); }
    // The column's text as it stands in the statement: valid until the next step or reset.
    std::string_view View(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
        return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, col))) : std::string_view();
    }
    std::string Str(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, col))) : std::string();
    }

private:
    template <typename T>
    void BindOne(int i, const T& v) {
        if constexpr (std::is_integral_v<T>) {
            sqlite3_bind_int64(s_, i, static_cast<sqlite3_int64>(v));
        } else {
            const std::string_view text(v);
            sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
    }

    sqlite3_stmt* s_ = nullptr;
};

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// A file name read back from the archive names one plain entry of the album folder, or nothing.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The album folder a row records, made absolute under the save folder; empty when it leads out of
// it (a ".." climb, an absolute path elsewhere, or a symbolic link on the way that points outside).
std::filesystem::path WithoutTrailingSeparator(std::filesystem::path p) {
    p = p.lexically_normal();
    if (p.has_relative_path() && !p.has_filename()) p = p.parent_path();
    return p;
}

bool Inside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    const std::filesystem::path rel = path.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

std::filesystem::path FolderInside(const std::filesystem::path& root, const std::string& recorded) {
    namespace fs = std::filesystem;
    const fs::path base = WithoutTrailingSeparator(root);
    const fs::path given(recorded);
    const fs::path folder = WithoutTrailingSeparator(given.is_absolute() ? given : base / given);
    if (!Inside(folder, base)) return {};
    std::error_code ec;
    const fs::path realRoot = WithoutTrailingSeparator(fs::weakly_canonical(base, ec));
    if (ec) return {};
    const fs::path realFolder = WithoutTrailingSeparator(fs::weakly_canonical(folder, ec));
    if (ec || !Inside(realFolder, realRoot)) return {};
    return folder;
}

bool FileHasSize(const std::filesystem::path& path, uint64_t size) {
    struct stat sb;
    return ::lstat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode) &&
           static_cast<uint64_t>(sb.st_size) == size;
}

}  // namespace

struct Archive::Statements {
    explicit Statements(sqlite3* db)
        : savedList(db, "SELECT identity, file_name, size, sha256 FROM picture WHERE album=? AND state=1"),
          saved(db,
                "INSERT INTO picture(album, identity, state, file_name, size, sha256, time) "
                "VALUES(?,?,1,?,?,?,?) ON CONFLICT(album, identity) DO UPDATE SET state=1, "
                "file_name=excluded.file_name, size=excluded.size, sha256=excluded.sha256, failure='', "
                "http_status=0, failure_text='', time=excluded.time"),
          failed(db,
                 "INSERT INTO picture(album, identity, state, failure, http_status, failure_text, time) "
                 "VALUES(?,?,2,?,?,?,?) ON CONFLICT(album, identity) DO UPDATE SET state=2, "
                 "failure=excluded.failure, http_status=excluded.http_status, "
                 "failure_text=excluded.failure_text, time=excluded.time"),
          rename(db, "UPDATE picture SET file_name=? WHERE album=? AND identity=? AND state=1"),
          failedList(db, "SELECT identity FROM picture WHERE album=? AND state=2 ORDER BY time, identity"),
          postList(db, "SELECT tid, time, record FROM post WHERE album=? ORDER BY time DESC, tid DESC"),
          post(db,
               "INSERT INTO post(album, tid, time, record, first_seen, updated) VALUES(?,?,?,?,?,?) "
               "ON CONFLICT(album, tid) DO UPDATE SET time=excluded.time, record=excluded.record, "
               "updated=excluded.updated") {}

    bool Ready() const { return savedList && saved && failed && rename && failedList && postList && post; }

    Stmt savedList, saved, failed, rename, failedList, postList, post;
};

std::string DescribeArchiveError(const ArchiveOpenError& e, const std::filesystem::path& file) {
    const std::string name = file.string();
    switch (e.problem) {
        case ArchiveProblem::None:
            return {};
        case ArchiveProblem::Missing:
            return "没有下载记录 " + name + "（还没有下载到这个文件夹）";
        case ArchiveProblem::Corrupt:
            return "下载记录 " + name + " 已损坏（" + e.detail + "）";
        case ArchiveProblem::Locked:
            return "下载记录 " + name + " 正被另一个程序使用（" + e.detail + "）";
        case ArchiveProblem::ReadOnly:
            return "下载记录 " + name + " 无法写入（" + e.detail + "）";
        case ArchiveProblem::Newer:
            return "下载记录 " + name + " 是本程序的较新版本写的（格式版本 " + e.detail + "）";
        case ArchiveProblem::Unusable:
            return "下载记录 " + name + " 无法使用（" + e.detail + "）";
    }
    return {};
}

std::unique_ptr<Archive> Archive::Open(const std::filesystem::path& saveFolder, ArchiveOpenError& error,
                                       bool create) {
    error = {};
    const std::filesystem::path file = saveFolder / kArchiveFileName;
    struct stat sb;
    if (::lstat(file.c_str(), &sb) != 0) {
        if (!create) {
            error = {ArchiveProblem::Missing, {}};
            return nullptr;
        }
    } else if (S_ISLNK(sb.st_mode) || !S_ISREG(sb.st_mode)) {
        error = {ArchiveProblem::Unusable, "not a plain file"};
        return nullptr;
    }

    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX |
                      SQLITE_OPEN_NOFOLLOW;
    int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    auto fail = [&](int code, std::string detail) -> std::unique_ptr<Archive> {
        error = {ProblemOf(code), detail.empty() ? std::string(sqlite3_errstr(code)) : std::move(detail)};
        sqlite3_close(db);
        return nullptr;
    };
    if (rc != SQLITE_OK) return fail(rc, db ? sqlite3_errmsg(db) : "");
    // SQLite opens a file it may not write read-only without a word; a download would then record
    // nothing and skip nothing next time. Said here, as for a locked archive.
    if (create && sqlite3_db_readonly(db, "main") == 1) {
        error = {ArchiveProblem::ReadOnly, ::access(file.c_str(), W_OK) != 0 ? std::strerror(errno) : "read-only"};
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, kOpenBusyTimeoutMs);

    // The first statement that reads the file: a file that is not a database fails here.
    {
        Stmt wal(db, "PRAGMA journal_mode=WAL");
        if (!wal) return fail(sqlite3_errcode(db), sqlite3_errmsg(db));
        rc = wal.Bind().Step();
        if (rc != SQLITE_ROW) return fail(rc, sqlite3_errmsg(db));
        if (wal.Str(0) != "wal") return fail(SQLITE_CANTOPEN, "write-ahead log not available");
    }
    // WAL commits need no flush to the disk; a power loss may lose the last commits, never the
    // database. A lost record only means the picture is fetched again.
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    {
        Stmt check(db, "PRAGMA quick_check(1)");
        if (!check) return fail(sqlite3_errcode(db), sqlite3_errmsg(db));
        rc = check.Bind().Step();
        if (rc != SQLITE_ROW) return fail(rc, sqlite3_errmsg(db));
        if (check.Str(0) != "ok") return fail(SQLITE_CORRUPT, check.Str(0));
    }

    rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return fail(rc, sqlite3_errmsg(db));
    int version = 0;
    {
        Stmt v(db, "PRAGMA user_version");
        if (v && v.Bind().Step() == SQLITE_ROW) version = static_cast<int>(v.Int(0));
    }
    if (version > kSchemaVersion) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        error = {ArchiveProblem::Newer, std::to_string(version)};
        sqlite3_close(db);
        return nullptr;
    }
    for (const SchemaStep& step : kSteps) {
        if (step.version <= version) continue;
        rc = sqlite3_exec(db, step.sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            const std::string set = "PRAGMA user_version=" + std::to_string(step.version);
            rc = sqlite3_exec(db, set.c_str(), nullptr, nullptr, nullptr);
        }
        if (rc != SQLITE_OK) {
            std::string detail = sqlite3_errmsg(db);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            // A schema step that does not apply means the file holds something else.
            return fail(rc == SQLITE_ERROR ? SQLITE_CORRUPT : rc,
                        "schema " + std::to_string(step.version) + ": " + detail);
        }
    }
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        std::string detail = sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return fail(rc, detail);
    }

    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::unique_ptr<Archive> a(new Archive(db, saveFolder, file));
    if (!a->stmt_->Ready()) {
        error = {ArchiveProblem::Corrupt, sqlite3_errmsg(db)};
        return nullptr;  // the destructor closes the connection
    }
    return a;
}

Archive::Archive(sqlite3* db, std::filesystem::path root, std::filesystem::path file)
    : db_(db), stmt_(std::make_unique<Statements>(db)), root_(std::move(root)), file_(std::move(file)) {}

Archive::~Archive() {
    if (flusher_.joinable()) {
        flusher_.request_stop();
        flusher_.join();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CommitLocked();
    }
    stmt_.reset();  // statements go before the connection
    sqlite3_close(db_);
}

std::string Archive::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void Archive::FailLocked(const char* what) {
    if (!error_.empty()) return;
    error_ = std::string(what) + ": " + sqlite3_errmsg(db_);
    if (inTransaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    inTransaction_ = false;
    pending_ = 0;
}

bool Archive::ExecLocked(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    FailLocked(sql);
    return false;
}

bool Archive::BeginWriteLocked() {
    if (!Usable()) return false;
    if (inTransaction_) return true;
    if (!ExecLocked("BEGIN IMMEDIATE")) return false;
    inTransaction_ = true;
    pending_ = 0;
    transactionStart_ = std::chrono::steady_clock::now();
    StartFlusherLocked();
    return true;
}

// Commits a transaction once it is kBatchAge old, whether or not more writes come: the last
// pictures before a long pause (a slow picture, the album's end) reach the disk all the same.
void Archive::StartFlusherLocked() {
    if (flusher_.joinable()) return;
    try {
        flusher_ = std::jthread([this](std::stop_token stop) {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!stop.stop_requested()) {
                flusherWake_.wait_for(lock, stop, kBatchAge / 3, [] { return false; });
                if (inTransaction_ && std::chrono::steady_clock::now() - transactionStart_ >= kBatchAge)
                    CommitLocked();
            }
        });
    } catch (const std::system_error&) {
        // No thread: the writes still commit with the next record past the age, and at the end.
    }
}

void Archive::CommitLocked() {
    if (!inTransaction_ || !Usable()) return;
    if (ExecLocked("COMMIT")) {
        inTransaction_ = false;
        pending_ = 0;
    }
}

void Archive::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    CommitLocked();
}

int64_t Archive::AlbumKey(const ArchiveTarget& target, const ArchiveAlbum& album) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return 0;
    std::filesystem::path folder = album.folder.lexically_normal();
    const std::filesystem::path rel = folder.lexically_relative(root_.lexically_normal());
    if (!rel.empty() && *rel.begin() != "..") folder = rel;
    const int kind = static_cast<int>(target.kind);

    Stmt addTarget(db_, "INSERT INTO target(kind, number) VALUES(?,?) ON CONFLICT DO NOTHING");
    Stmt findTarget(db_, "SELECT id FROM target WHERE kind=? AND number=?");
    Stmt addAlbum(db_,
                  "INSERT INTO album(target, album_id, name, folder, expected, position) VALUES(?,?,?,?,?,?) "
                  "ON CONFLICT(target, album_id) DO UPDATE SET name=excluded.name, folder=excluded.folder, "
                  "expected=excluded.expected, position=excluded.position");
    Stmt findAlbum(db_, "SELECT id FROM album WHERE target=? AND album_id=?");
    if (!addTarget || !findTarget || !addAlbum || !findAlbum) {
        FailLocked("album key");
        return 0;
    }
    if (addTarget.Bind(kind, target.number).Step() != SQLITE_DONE ||
        findTarget.Bind(kind, target.number).Step() != SQLITE_ROW) {
        FailLocked("target");
        return 0;
    }
    const int64_t targetId = findTarget.Int(0);
    if (addAlbum.Bind(targetId, album.id, album.name, folder.string(), album.expected, album.position).Step() !=
            SQLITE_DONE ||
        findAlbum.Bind(targetId, album.id).Step() != SQLITE_ROW) {
        FailLocked("album");
        return 0;
    }
    const int64_t key = findAlbum.Int(0);
    CommitLocked();
    return Usable() ? key : 0;
}

bool Archive::ForEachSaved(int64_t album, const std::function<void(const SavedView&)>& each) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return true;
    Stmt& s = stmt_->savedList;
    s.Bind(album);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW)
        each(SavedView{s.View(0), s.View(1), static_cast<uint64_t>(s.Int(2)), s.View(3)});
    sqlite3_reset(s.get());
    if (rc == SQLITE_DONE) return true;
    FailLocked("look-up");
    return false;
}

bool Archive::StillInFolder(const SavedPicture& picture, const std::filesystem::path& folder) {
    return IsPlainName(picture.fileName) && FileHasSize(folder / picture.fileName, picture.size);
}

bool Archive::StillInFolder(const SavedPicture& picture, const HeldFolder& folder) {
    struct stat sb;
    return IsPlainName(picture.fileName) &&
           ::fstatat(folder.Fd(), picture.fileName.c_str(), &sb, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(sb.st_mode) &&
           static_cast<uint64_t>(sb.st_size) == picture.size;
}

void Archive::RecordSaved(int64_t album, const SavedPicture& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return;
    Stmt& s = stmt_->saved;
    if (s.Bind(album, p.identity, p.fileName, p.size, p.sha256, Now()).Step() != SQLITE_DONE) {
        FailLocked("record saved");
        return;
    }
    sqlite3_reset(s.get());
    if (++pending_ >= kBatch || std::chrono::steady_clock::now() - transactionStart_ >= kBatchAge)
        CommitLocked();
}

void Archive::RecordFileName(int64_t album, const std::string& identity, const std::string& fileName) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return;
    Stmt& s = stmt_->rename;
    if (s.Bind(fileName, album, identity).Step() != SQLITE_DONE) {
        FailLocked("record file name");
        return;
    }
    sqlite3_reset(s.get());
    ++pending_;
}

void Archive::RecordFailed(int64_t album, const std::string& identity, const Failure& failure) {
    if (failure.kind == FailureKind::None || failure.kind == FailureKind::Stopped) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return;
    Stmt& s = stmt_->failed;
    if (s.Bind(album, identity, FailureKindWord(failure.kind), failure.httpStatus, failure.text, Now()).Step() !=
        SQLITE_DONE) {
        FailLocked("record failed");
        return;
    }
    sqlite3_reset(s.get());
    if (++pending_ >= kBatch || std::chrono::steady_clock::now() - transactionStart_ >= kBatchAge)
        CommitLocked();
}

std::vector<std::string> Archive::FailedIdentities(int64_t album) {
    std::vector<std::string> out;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return out;
    Stmt& s = stmt_->failedList;
    s.Bind(album);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) out.push_back(s.Str(0));
    if (rc != SQLITE_DONE) FailLocked("failed pictures");
    sqlite3_reset(s.get());
    return out;
}

std::vector<StoredPost> Archive::Posts(int64_t album) {
    std::vector<StoredPost> out;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Usable()) return out;
    Stmt& s = stmt_->postList;
    s.Bind(album);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) out.push_back(StoredPost{s.Str(0), s.Int(1), s.Str(2)});
    if (rc != SQLITE_DONE) {
        FailLocked("posts");
        out.clear();
    }
    sqlite3_reset(s.get());
    return out;
}

void Archive::RecordPost(int64_t album, const StoredPost& post) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return;
    Stmt& s = stmt_->post;
    const int64_t now = Now();
    if (s.Bind(album, post.id, post.time, post.record, now, now).Step() != SQLITE_DONE) {
        FailLocked("record post");
        return;
    }
    sqlite3_reset(s.get());
    if (++pending_ >= kBatch || std::chrono::steady_clock::now() - transactionStart_ >= kBatchAge)
        CommitLocked();
}

void Archive::FinishAlbum(int64_t album, const AlbumOutcome& o) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return;
    Stmt s(
        db_,
        "UPDATE album SET listed=?, saved_last_run=?, had_last_run=?, reason=?, reason_text=?, run_time=?, "
        "expected=CASE WHEN ?>=0 THEN ? ELSE expected END WHERE id=?");
    if (!s || s.Bind(static_cast<int64_t>(o.listed), static_cast<int64_t>(o.saved),
                     static_cast<int64_t>(o.alreadyHad), AlbumReasonWord(o.reason), o.reasonText, Now(),
                     o.expected, o.expected, album)
                      .Step() != SQLITE_DONE) {
        FailLocked("album run");
        return;
    }
    CommitLocked();
}

void Archive::RecordUnfinished(int64_t album, const AlbumOutcome& o) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!BeginWriteLocked()) return;
    const char* word = o.listOnly && o.reason == AlbumReason::None ? kListOnlyWord : AlbumReasonWord(o.reason);
    Stmt s(db_,
           "UPDATE album SET reason=?, reason_text=?, run_time=?, "
           "expected=CASE WHEN ?>=0 THEN ? ELSE expected END WHERE id=? AND listed<0");
    if (!s || s.Bind(word, o.reasonText, Now(), o.expected, o.expected, album).Step() != SQLITE_DONE) {
        FailLocked("album run");
        return;
    }
    CommitLocked();
}

std::vector<AlbumReport> Archive::Report() {
    std::vector<AlbumReport> out;
    std::vector<std::vector<std::pair<std::string, uint64_t>>> files;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Usable()) return out;
        Stmt albums(db_,
                    "SELECT a.id, t.kind, t.number, a.album_id, a.name, a.folder, a.expected, a.listed, "
                    "a.saved_last_run, a.had_last_run, a.reason, a.reason_text, a.run_time, a.position "
                    "FROM album a JOIN target t ON a.target=t.id ORDER BY t.id, a.position < 0, a.position, a.id");
        Stmt saved(db_, "SELECT file_name, size FROM picture WHERE album=? AND state=1");
        Stmt posts(db_, "SELECT COUNT(*) FROM post WHERE album=?");
        Stmt failures(
            db_,
            "SELECT failure, http_status, failure_text, COUNT(*) FROM picture WHERE album=? AND state=2 "
            "GROUP BY failure, http_status, failure_text ORDER BY 4 DESC, 1, 2, 3");
        if (!albums || !saved || !failures || !posts) {
            FailLocked("report");
            return out;
        }
        albums.Bind();
        while (albums.Step() == SQLITE_ROW) {
            AlbumReport r;
            r.key = albums.Int(0);
            r.kind = static_cast<TargetKind>(albums.Int(1));
            r.target = albums.Str(2);
            r.albumId = albums.Str(3);
            r.name = albums.Str(4);
            r.folder = FolderInside(root_, albums.Str(5));
            r.expected = static_cast<int32_t>(albums.Int(6));
            r.listed = albums.Int(7);
            r.savedLastRun = static_cast<std::size_t>(albums.Int(8));
            r.alreadyHadLastRun = static_cast<std::size_t>(albums.Int(9));
            r.listOnly = albums.Str(10) == kListOnlyWord;
            r.lastReason = AlbumReasonFromWord(albums.Str(10));
            r.lastReasonText = albums.Str(11);
            r.lastRunTime = albums.Int(12);
            r.position = static_cast<int>(albums.Int(13));

            std::vector<std::pair<std::string, uint64_t>> names;
            saved.Bind(r.key);
            while (saved.Step() == SQLITE_ROW)
                names.emplace_back(saved.Str(0), static_cast<uint64_t>(saved.Int(1)));
            failures.Bind(r.key);
            while (failures.Step() == SQLITE_ROW) {
                FailureTally t{FailureKindFromWord(failures.Str(0)), static_cast<long>(failures.Int(1)),
                               failures.Str(2), static_cast<std::size_t>(failures.Int(3))};
                r.failed += t.count;
                r.failures.push_back(std::move(t));
            }
            if (posts.Bind(r.key).Step() == SQLITE_ROW) r.posts = static_cast<std::size_t>(posts.Int(0));
            out.push_back(std::move(r));
            files.push_back(std::move(names));
        }
    }
    // The disk is looked at without holding the lock, and only inside the save folder.
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i].folder.empty()) continue;  // recorded outside the save folder: not looked at
        for (const auto& [name, size] : files[i]) {
            if (IsPlainName(name) && FileHasSize(out[i].folder / name, size)) {
                ++out[i].saved;
            } else {
                ++out[i].missing;
            }
        }
    }
    return out;
}

}  // namespace qm
