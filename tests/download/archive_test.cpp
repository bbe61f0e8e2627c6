// The save folder's archive: what makes a picture count as saved, failures, the report, several
// threads recording at once, older and broken archive files; picture identities and digests.
#include "download/Archive.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include "FileText.h"
#include "TempFolder.h"
#include "TinyDisk.h"
#include "download/PictureIdentity.h"
#include "net/Sha256.h"
#include "net/FileUtil.h"

namespace qm::test {
namespace {

// What a download's skip decision asks: recorded as saved, and the file still in the folder.
bool IsSaved(Archive& a, int64_t album, const std::string& identity, const std::filesystem::path& folder,
             SavedPicture* record = nullptr) {
    std::optional<SavedPicture> found;
    const bool read = a.ForEachSaved(album, [&](const Archive::SavedView& v) {
        if (v.identity == identity)
            found = SavedPicture{std::string(v.identity), std::string(v.fileName), v.size, std::string(v.sha256)};
    });
    if (!read || !found || !Archive::StillInFolder(*found, folder)) return false;
    if (record) *record = *found;
    return true;
}

namespace fs = std::filesystem;

class ArchiveTest : public ::testing::Test {
protected:
    std::unique_ptr<Archive> OpenArchive() {
        ArchiveOpenError err;
        auto a = Archive::Open(dir.path(), err);
        EXPECT_TRUE(a) << DescribeArchiveError(err, dir.path() / kArchiveFileName);
        return a;
    }
    int64_t Key(Archive& a, const std::string& albumId = "V1", int32_t expected = 10) {
        return a.AlbumKey({TargetKind::QZone, "123456789"}, {albumId, "旅行", album, expected});
    }
    void Write(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(WriteFileAtomic(album / name, bytes));
    }
    std::string Bytes(const fs::path& p) { return test::FileText(p); }
    // Runs raw SQL on the archive file, as another program would.
    void RawSql(const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir.path() / kArchiveFileName).c_str(), &db), SQLITE_OK);
        char* msg = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
        sqlite3_free(msg);
        sqlite3_close(db);
    }

    TempFolder dir{"qm-archive-"};
    fs::path album = dir.path() / "123456789" / "旅行";
    void SetUp() override { fs::create_directories(album); }
};

TEST_F(ArchiveTest, SavedOnlyWhileTheFileIsThereWithItsSize) {
    {
        auto a = OpenArchive();
        const int64_t k = Key(*a);
        ASSERT_GT(k, 0);
        Write("a.jpg", "12345");
        Write("b.jpg", "123");
        a->RecordSaved(k, {"id:a", "a.jpg", 5, Sha256Hex("12345")});
        a->RecordSaved(k, {"id:b", "b.jpg", 3, Sha256Hex("123")});
        a->RecordSaved(k, {"id:evil", "../../outside.jpg", 0, ""});  // as a tampered archive could hold
        a->RecordSaved(k, {"id:link", "link.jpg", 5, ""});
        fs::create_symlink(album / "a.jpg", album / "link.jpg");
        // Recorded, never saved, then failed: the failure alone counts.
        a->RecordFailed(k, "id:c", {FailureKind::HttpStatus, 404, ""});
        a->RecordFailed(k, "id:stopped", {FailureKind::Stopped, 0, ""});
        // The extension fix renamed b.
        fs::rename(album / "b.jpg", album / "b.png");
        a->RecordFileName(k, "id:b", "b.png");
    }  // closing commits the pending batch

    auto a = OpenArchive();
    const int64_t k = Key(*a);
    SavedPicture rec;
    EXPECT_TRUE(IsSaved(*a, k, "id:a", album, &rec));
    EXPECT_EQ(rec.sha256, "5994471abb01112afcc18159f6cc74b4f511b99806da59b3caf5a9c173cacfc5");
    EXPECT_TRUE(IsSaved(*a, k, "id:b", album));
    EXPECT_FALSE(IsSaved(*a, k, "id:evil", album));
    EXPECT_FALSE(IsSaved(*a, k, "id:link", album));
    EXPECT_FALSE(IsSaved(*a, k, "id:c", album));
    EXPECT_FALSE(IsSaved(*a, Key(*a, "V2"), "id:a", album));  // another album of the same folder
    EXPECT_EQ(a->FailedIdentities(k), std::vector<std::string>{"id:c"});

    Write("a.jpg", "1234");  // changed size: fetched again
    EXPECT_FALSE(IsSaved(*a, k, "id:a", album));
    fs::remove(album / "b.png");  // deleted by the user
    EXPECT_FALSE(IsSaved(*a, k, "id:b", album));

    // A failure after a save is fetched again; a save after a failure clears it.
    Write("c.jpg", "cc");
    a->RecordSaved(k, {"id:c", "c.jpg", 2, ""});
    EXPECT_TRUE(a->FailedIdentities(k).empty());
    EXPECT_TRUE(IsSaved(*a, k, "id:c", album));
    a->RecordFailed(k, "id:c", {FailureKind::Timeout, 0, ""});
    EXPECT_FALSE(IsSaved(*a, k, "id:c", album));
    EXPECT_TRUE(a->Error().empty());
}

TEST_F(ArchiveTest, ReportOfTheLastRunAndTheRecords) {
    auto a = OpenArchive();
    const int64_t k = Key(*a, "V1", 12);
    Write("1.jpg", "x");
    Write("2.jpg", "yy");
    a->RecordSaved(k, {"p1", "1.jpg", 1, ""});
    a->RecordSaved(k, {"p2", "2.jpg", 2, ""});
    a->RecordSaved(k, {"p3", "3.jpg", 3, ""});  // its file is gone
    a->RecordFailed(k, "p4", {FailureKind::HttpStatus, 404, ""});
    a->RecordFailed(k, "p5", {FailureKind::HttpStatus, 404, ""});
    a->RecordFailed(k, "p6", {FailureKind::Connection, 0, "Connection reset by peer"});
    AlbumOutcome o;
    o.expected = 12;
    o.listed = 6;
    o.saved = 1;
    o.alreadyHad = 2;
    o.failed = 3;
    a->FinishAlbum(k, o);
    Key(*a, "V2", -1);  // listed once, never finished

    const std::vector<AlbumReport> r = a->Report();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].name, "旅行");
    EXPECT_EQ(r[0].target, "123456789");
    EXPECT_EQ(r[0].folder, album);
    EXPECT_EQ(r[0].expected, 12);
    EXPECT_EQ(r[0].listed, 6);
    EXPECT_EQ(r[0].NotListed(), 6u);
    EXPECT_EQ(r[0].saved, 2u);
    EXPECT_EQ(r[0].missing, 1u);
    EXPECT_EQ(r[0].savedLastRun, 1u);
    EXPECT_EQ(r[0].alreadyHadLastRun, 2u);
    EXPECT_EQ(r[0].failed, 3u);
    ASSERT_EQ(r[0].failures.size(), 2u);
    EXPECT_EQ(r[0].failures[0].kind, FailureKind::HttpStatus);
    EXPECT_EQ(r[0].failures[0].httpStatus, 404);
    EXPECT_EQ(r[0].failures[0].count, 2u);
    EXPECT_EQ(r[0].failures[1].text, "Connection reset by peer");
    EXPECT_EQ(r[1].listed, -1);
    EXPECT_EQ(r[1].NotListed(), 0u);
}

// Fifteen workers finishing pictures at once: every record arrives, in batched transactions.
TEST_F(ArchiveTest, ManyThreadsRecordAtOnce) {
    constexpr int kThreads = 15, kEach = 134;
    {
        auto a = OpenArchive();
        const int64_t k = Key(*a);
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    const std::string id = std::to_string(t) + "/" + std::to_string(i);
                    if (i % 10 == 9) {
                        a->RecordFailed(k, id, {FailureKind::Timeout, 0, ""});
                    } else {
                        a->RecordSaved(k, {id, "f.jpg", 1, std::string(64, 'a')});
                    }
                    IsSaved(*a, k, id, album);
                }
            });
        }
        for (auto& w : workers) w.join();
    }
    auto a = OpenArchive();
    const std::vector<AlbumReport> r = a->Report();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].failed, static_cast<std::size_t>(kThreads * (kEach / 10)));
    EXPECT_EQ(r[0].missing, static_cast<std::size_t>(kThreads * kEach) - r[0].failed);
}

// An archive as the first version of the program left it is brought up to date and keeps its records.
TEST_F(ArchiveTest, OlderArchiveIsMigrated) {
    Write("old.jpg", "abc");
    RawSql(R"(
        CREATE TABLE target(id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, number TEXT NOT NULL, UNIQUE(kind, number));
        CREATE TABLE album(id INTEGER PRIMARY KEY, target INTEGER NOT NULL REFERENCES target(id),
            album_id TEXT NOT NULL, name TEXT NOT NULL, folder TEXT NOT NULL,
            expected INTEGER NOT NULL DEFAULT -1, UNIQUE(target, album_id));
        CREATE TABLE picture(album INTEGER NOT NULL REFERENCES album(id), identity TEXT NOT NULL,
            state INTEGER NOT NULL, file_name TEXT NOT NULL DEFAULT '', size INTEGER NOT NULL DEFAULT 0,
            sha256 TEXT NOT NULL DEFAULT '', failure TEXT NOT NULL DEFAULT '',
            http_status INTEGER NOT NULL DEFAULT 0, failure_text TEXT NOT NULL DEFAULT '',
            time INTEGER NOT NULL, PRIMARY KEY(album, identity)) WITHOUT ROWID;
        INSERT INTO target VALUES(1, 0, '123456789');
        INSERT INTO album VALUES(1, 1, 'V1', '旅行', '123456789/旅行', 10);
        INSERT INTO picture VALUES(1, 'id:old', 1, 'old.jpg', 3, '', '', 0, '', 1380000000);
        INSERT INTO picture VALUES(1, 'id:busy', 2, '', 0, '', 'rate-limited', 429, '', 1380000000);
        PRAGMA user_version = 1;)");

    auto a = OpenArchive();
    ASSERT_TRUE(a);
    const int64_t k = Key(*a);
    EXPECT_EQ(k, 1);
    EXPECT_TRUE(IsSaved(*a, k, "id:old", album));
    AlbumOutcome o;
    o.listed = 1;
    o.alreadyHad = 1;
    a->FinishAlbum(k, o);
    const auto r = a->Report();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].listed, 1);
    EXPECT_EQ(r[0].alreadyHadLastRun, 1u);
    // The words the first versions wrote are still read.
    ASSERT_EQ(r[0].failures.size(), 1u);
    EXPECT_EQ(r[0].failures[0].kind, FailureKind::RateLimited);
    EXPECT_TRUE(a->Error().empty());
}

// Damaged, newer, locked or absent archives are refused with their reason and never touched.
TEST_F(ArchiveTest, UnusableArchivesAreLeftAlone) {
    const fs::path file = dir.path() / kArchiveFileName;
    ArchiveOpenError err;
    EXPECT_FALSE(Archive::Open(dir.path(), err, /*create=*/false));
    EXPECT_EQ(err.problem, ArchiveProblem::Missing);
    EXPECT_FALSE(fs::exists(file));

    const std::string garbage(8192, 'x');
    ASSERT_TRUE(WriteFileAtomic(file, garbage));
    EXPECT_FALSE(Archive::Open(dir.path(), err));
    EXPECT_EQ(err.problem, ArchiveProblem::Corrupt);
    EXPECT_NE(DescribeArchiveError(err, file).find("已损坏"), std::string::npos);
    EXPECT_EQ(Bytes(file), garbage);
    fs::remove(file);

    RawSql("CREATE TABLE future(x); PRAGMA user_version = 99;");
    EXPECT_FALSE(Archive::Open(dir.path(), err));
    EXPECT_EQ(err.problem, ArchiveProblem::Newer);
    EXPECT_EQ(err.detail, "99");

    RawSql("PRAGMA user_version = 0; DROP TABLE future;");
    { OpenArchive(); }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(Archive::Open(dir.path(), err));
    EXPECT_EQ(err.problem, ArchiveProblem::Locked);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(fs::exists(file));
}

// An archive that cannot be written (a read-only folder or file system) is refused for a download
// and said as such, never used quietly: it would record nothing and skip nothing.
TEST_F(ArchiveTest, ReadOnlyArchiveIsSaidForADownload) {
    { OpenArchive(); }
    const int status = RunOnReadOnlyFolder(dir.path(), [&] {
        ArchiveOpenError err;
        if (Archive::Open(dir.path(), err)) return 1;
        if (err.problem != ArchiveProblem::ReadOnly) return 2;
        if (DescribeArchiveError(err, dir.path() / kArchiveFileName).find("无法写入") == std::string::npos)
            return 3;
        return 0;
    });
    if (status == kNoTinyDisk) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(OpenArchive());  // writable again outside
}

TEST(PictureIdentity, KeepsWhatNamesThePictureAndDropsWhatChanges) {
    // The path-like query of a QQ picture address is the picture itself.
    const std::string a =
        PictureIdentity(u"http://b1.photo.store.qq.com/psb?/V11abc/XyZ/r/dGFn&bo=AAA&t=5&vuin=20001234");
    EXPECT_EQ(a, "b1.photo.store.qq.com/psb?/V11abc/XyZ/r/dGFn&bo=AAA");
    EXPECT_EQ(PictureIdentity(u"HTTPS://B1.photo.store.qq.com/psb?/V11abc/XyZ/r/dGFn&bo=AAA&_=99#top"), a);
    EXPECT_NE(PictureIdentity(u"http://b1.photo.store.qq.com/psb?/V11abc/XyZ/r/dGFo&bo=AAA"), a);
    EXPECT_EQ(PictureIdentity(u"http://p.qpic.cn/qunphoto/ab/cd/800?pt=1&tm=17"),
              "p.qpic.cn/qunphoto/ab/cd/800?pt=1");
    EXPECT_EQ(PictureIdentity(u"http://t1.qpic.cn/mblogpic/abc/2000", u"photo 7"), "id:photo 7");
}

TEST(Sha256, KnownDigestsAndFilesInPieces) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    TempFolder dir{"qm-sha-"};
    std::string big(200 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
    ASSERT_TRUE(WriteFileAtomic(dir.path() / "big", big));
    std::string hex;
    uint64_t size = 0;
    ASSERT_TRUE(Sha256File(dir.path() / "big", hex, size));
    EXPECT_EQ(size, big.size());
    EXPECT_EQ(hex, Sha256Hex(big));
    EXPECT_FALSE(Sha256File(dir.path() / "none", hex, size));
}

}  // namespace
}  // namespace qm::test
