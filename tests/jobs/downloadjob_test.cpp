// The download controller: save-folder checks and the base folder, the order of the two QZone
// photo-list interfaces, list files instead of downloads, a stop in the middle of a job, honest
// outcomes, and the download button's start/stop behaviour. Albums are served by a canned
// loopback site.
#include "jobs/DownloadJob.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "RecordingObserver.h"
#include "core/Prompts.h"
#include "jobs/JobRunner.h"
#include "sites/CannedSite.h"
#include "FileText.h"
#include "TempFolder.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::CannedRequest;
using test::CannedSite;

// The canned server hangs in its stop when it never had a connection: a test that expects no
// request pings it once before it goes.
void Ping() {
    ST_URLREQUEST req(u"http://ping.example.qq.com/ping");
    ST_URLRESPONSE resp;
    FetchUrl(req, resp, 0);
}

std::string PicJson(const std::string& name, const std::string& raw, const std::string& pre) {
    std::string s =
        "{\"batchId\" : \"1\",\"desc\" : \"\",\"name\" : \"" + name + "\",\"pre\" : \"" + pre + "\",";
    if (!raw.empty()) s += "\"raw\" : \"" + raw + "\",";
    return s + "\"raw_upload\" : 0,\"width\" : 1}";
}

// Album `album` (its id is the topicId): `n` pictures on the GBK interface's first page. Picture
// addresses are ".../ALBUM/I.jpg" on the raw host with a "pre" alternate.
std::string GbkPage(const std::string& album, int n) {
    std::string s = "shine0_Callback({\"data\":{\"photoList\":[";
    for (int i = 0; i < n; ++i) {
        const std::string id = album + "/" + std::to_string(i);
        s += (i ? "," : "") + PicJson("pic" + std::to_string(i), "http://raw.example.qq.com/" + id + ".jpg",
                                      "http://pre.example.qq.com/" + id + ".jpg");
    }
    return s + "]}});";
}
const std::string kNoPictures = "shine0_Callback({\"data\":{\"photoList\":[]}});";

std::string PictureBody(const std::string& path) {
    return "picture bytes of " + path;
}

// An observer that can run a hook at events (to press stop at a given moment).
class HookObserver : public test::RecordingObserver {
public:
    std::function<void(std::size_t position)> onAlbum;
    std::function<void(std::size_t done)> onPicture;
    void AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD& rec) override {
        RecordingObserver::AlbumStarted(position, count, rec);
        if (onAlbum) onAlbum(position);
    }
    void PictureFinished(const PictureOutcome& p, std::size_t done, std::size_t total) override {
        RecordingObserver::PictureFinished(p, done, total);
        if (onPicture) onPicture(done);
    }
};

class DownloadJob : public ::testing::Test {
protected:
    void SetUp() override {
        save = dir / "save 保存";
        req.programFolder = FromUtf8(dir.string() + "/");
        req.list.kind = TargetKind::QZone;
        req.list.target = u"12345";
        req.list.targetFolder = u"12345/";
        auto state = std::make_shared<ListedState>();
        state->route = {u"plist.example.qq.com", u"view.example.qq.com"};
        req.list.service = state;
        req.settings.down = DownParam{0, 0, 2, 30};
        req.saveFolder = FromUtf8(save.string());
        test::ClearCookies();
    }
    int Album(const std::string& id, int32_t count = 5, uint32_t privacy = 0) {
        ST_PERLISTRECORD rec;
        rec.Name = FromUtf8("album " + id);
        rec.ListParam = FromUtf8("idcNum=0&hostUin=12345&albumid=" + id);
        rec.CoverUrl = u"http://c/1.jpg";
        rec.PictureCount = count;
        rec.PrivacyFlags = privacy;
        rec.ListPosition = static_cast<uint32_t>(req.list.albums.size());
        req.list.albums.push_back(rec);
        return static_cast<int>(req.list.albums.size()) - 1;
    }
    fs::path AlbumDir(const std::string& id) const { return save / "12345" / ("album " + id); }
    // GBK pages with `n` pictures per album, UTF-8 pages empty, pictures served by path.
    static CannedSite::Handler Site(int n) {
        return [n](const CannedRequest& r) -> std::string {
            if (r.path == "/fcgi-bin/cgi_list_photo") {
                const std::string album = r.Param("topicId");
                return r.Param("pageStart") == "0" && r.Param("inCharset") == "gbk" ? GbkPage(album, n)
                                                                                    : kNoPictures;
            }
            if (r.path.find("cgi_list_photo") != std::string::npos) return kNoPictures;
            return PictureBody(r.path);
        };
    }
    void SetFlags(uint16_t flags) { req.settings.profile.SiteFlags = flags; }
    JobOutcome Run() {
        JobControl control;
        control.TryStart();
        return RunDownloadJob(req, fe, control);
    }

    HookObserver fe;
    DownloadRequest req;
    test::TempFolder temp{"qm-jobs-"};
    const fs::path& dir = temp.path();
    fs::path save;
};

TEST_F(DownloadJob, SaveFolderChecks) {
    req.saveFolder = u"   ";
    JobOutcome o = Run();
    EXPECT_EQ(fe.Of("message"), std::vector<Text>{u"请先设置保存路径"});
    EXPECT_EQ(o.error, JobError::NoSaveFolder);
    EXPECT_TRUE(fe.Of("download-started").empty());  // the running look never came

    std::ofstream(dir / "file") << "x";  // a file where a folder is needed
    req.saveFolder = FromUtf8((dir / "file").string());
    o = Run();
    EXPECT_EQ(fe.Of("message").back(), u"请检测设置的保存路径是否有误");
    EXPECT_EQ(o.error, JobError::SaveFolderUnusable);
    EXPECT_FALSE(o.errorText.empty());  // the system's reason
    EXPECT_FALSE(o.Complete());
}

TEST_F(DownloadJob, NoSelectionCreatesBaseFolderAndEndsWithPrompt) {
    req.list.targetSubFolder = u"sub/";
    Album("a");
    const JobOutcome o = Run();
    // save folder (no trailing separator typed) + target + sub-folder
    EXPECT_TRUE(fs::is_directory(save / "12345" / "sub"));
    EXPECT_EQ(o.lastFolder, FromUtf8((save / "12345" / "sub").string() + "/"));
    EXPECT_EQ(fe.Of("message"), std::vector<Text>{PromptSelectAlbums()});
    EXPECT_EQ(o.error, JobError::NoAlbumChosen);
    EXPECT_EQ(fe.Calls().back(), "download-finished: ");
}

TEST_F(DownloadJob, TargetFolderCannotClimbOutOfTheSaveFolder) {
    req.list.targetFolder = u"../../";
    req.list.targetSubFolder = u"./x/../";
    const JobOutcome o = Run();
    EXPECT_EQ(o.lastFolder, FromUtf8(save.string() + "/x/"));
    EXPECT_TRUE(fs::is_directory(save / "x"));
}

TEST_F(DownloadJob, UnknownBigOrNonPublicAlbumsTryTheUtf8InterfaceFirst) {
    req.albums = {Album("normal"), Album("unknown", -1), Album("big", 2001), Album("private", 5, PrivacyPrivate),
                  Album("edge", 2000)};
    SetFlags(SiteFlag::ListOnly);
    CannedSite site(Site(1));
    Run();

    std::map<std::string, std::vector<std::string>> order;  // album -> interfaces in request order
    for (const auto& r : site.Requests()) {
        if (r.path.find("cgi_list_photo") == std::string::npos &&
            r.path.find("cgi_view_album") == std::string::npos)
            continue;
        const std::string album =
            r.Param("topicId") != "\x01missing" ? r.Param("topicId") : r.Param("albumId");
        order[album].push_back(r.Param("inCharset") == "gbk" ? "gbk" : "utf8");
    }
    // The GBK interface lists the picture (and asks one more page): the UTF-8 one is never asked.
    EXPECT_EQ(order["normal"], (std::vector<std::string>{"gbk", "gbk"}));
    EXPECT_EQ(order["edge"], (std::vector<std::string>{"gbk", "gbk"}));
    // UTF-8 first; it finds nothing here, so the GBK interface follows.
    EXPECT_EQ(order["unknown"], (std::vector<std::string>{"utf8", "gbk", "gbk"}));
    EXPECT_EQ(order["big"], (std::vector<std::string>{"utf8", "gbk", "gbk"}));
    EXPECT_EQ(order["private"], (std::vector<std::string>{"utf8", "gbk"}));  // then the view-album interface
    EXPECT_EQ(fe.Of("album-started").front(), u"1/5 album normal");
}

TEST_F(DownloadJob, ListOnlyWritesOneListFilePerAlbumAndFetchesNoPicture) {
    req.albums = {Album("x1"), Album("x2")};
    SetFlags(SiteFlag::ListOnly | SiteFlag::OpenFolderWhenDone);
    CannedSite site(Site(2));
    const JobOutcome o = Run();

    for (const char* id : {"x1", "x2"}) {
        const std::string a = id;
        EXPECT_EQ(qm::test::FileText(AlbumDir(a) / ("album " + a + ".lst")),
                  "http://raw.example.qq.com/" + a + "/0.jpg\r\nhttp://pre.example.qq.com/" + a +
                      "/0.jpg\r\n" + "http://raw.example.qq.com/" + a +
                      "/1.jpg\r\nhttp://pre.example.qq.com/" + a + "/1.jpg\r\n");
        EXPECT_FALSE(fs::exists(AlbumDir(a) / "pic0.jpg"));
    }
    for (const auto& r : site.Requests()) EXPECT_EQ(r.path.find(".jpg"), std::string::npos) << r.path;
    EXPECT_TRUE(o.Complete());  // list files written is what ListOnly promises
    EXPECT_EQ(o.openFolder, FromUtf8(AlbumDir("x2").string() + "/"));
}

TEST_F(DownloadJob, DownloadsAlbumsAndRecordsHistory) {
    req.albums = {Album("a"), Album("b")};
    CannedSite site(Site(3));
    const JobOutcome o = Run();
    for (const char* id : {"a", "b"}) {
        for (int i = 0; i < 3; ++i) {
            const fs::path file = AlbumDir(id) / ("pic" + std::to_string(i) + ".jpg");
            EXPECT_EQ(qm::test::FileText(file), PictureBody("/" + std::string(id) + "/" + std::to_string(i) + ".jpg"));
        }
        EXPECT_TRUE(fs::exists(AlbumDir(id) / "pic.vyr"));
    }
    ASSERT_EQ(o.albums.size(), 2u);
    EXPECT_EQ(o.albums[0].saved, 3u);
    EXPECT_EQ(o.albums[0].expected, 5);
    EXPECT_EQ(o.albums[0].NotListed(), 2u);  // the table said 5, the service listed 3
    EXPECT_TRUE(o.Complete());
    EXPECT_TRUE(o.openFolder.empty());  // OpenFolderWhenDone is off
}

TEST_F(DownloadJob, FailuresAreReportedWithReasonsAndNoHistoryIsWritten) {
    // Every picture answers an empty body on both addresses, into a folder that already holds
    // the files of an earlier run: nothing is "saved", every picture failed with its reason.
    req.albums = {Album("a")};
    fs::create_directories(AlbumDir("a"));
    for (int i = 0; i < 3; ++i) std::ofstream(AlbumDir("a") / ("pic" + std::to_string(i) + ".jpg")) << "old";
    CannedSite site([](const CannedRequest& r) -> test::CannedReply {
        if (r.path.find(".jpg") != std::string::npos) return std::string();
        return Site(3)(r);
    });
    const JobOutcome o = Run();
    ASSERT_EQ(o.albums.size(), 1u);
    const AlbumOutcome& a = o.albums[0];
    EXPECT_EQ(a.listed, 3u);
    EXPECT_EQ(a.saved, 0u);
    EXPECT_EQ(a.failed, 3u);
    ASSERT_EQ(a.failures.size(), 3u);
    EXPECT_EQ(a.failures[0].failure.kind, FailureKind::Connection);
    EXPECT_EQ(a.failures[0].failure.text, "empty answer");
    EXPECT_TRUE(a.failures[0].usedAlternate);  // the alternate was asked after the main failed
    EXPECT_EQ(qm::test::FileText(AlbumDir("a") / "pic0.jpg"), "old");
    EXPECT_FALSE(fs::exists(AlbumDir("a") / "pic.vyr"));
    EXPECT_FALSE(o.Complete());
}

// A page answered with success that is no photo list (a busy page of the service) cuts the listing:
// the album is incomplete with that reason, and one whose first page is such shows it, not "empty".
TEST_F(DownloadJob, APageThatIsNoListIsAFailureOfTheAlbum) {
    req.albums = {Album("cut", 700), Album("busy")};
    CannedSite site([](const CannedRequest& r) -> std::string {
        if (r.path == "/fcgi-bin/cgi_list_photo" && (r.Param("pageStart") != "0" || r.Param("topicId") == "busy"))
            return "<html>系统繁忙</html>";
        return Site(3)(r);
    });
    const JobOutcome o = Run();
    ASSERT_EQ(o.albums.size(), 2u);
    EXPECT_EQ(o.albums[0].saved, 3u);
    EXPECT_EQ(o.albums[0].reason, AlbumReason::Network);
    EXPECT_EQ(o.albums[0].reasonText, "the answer is not a photo list");
    EXPECT_FALSE(o.albums[0].Complete());
    EXPECT_EQ(o.albums[1].listed, 0u);
    EXPECT_EQ(o.albums[1].reason, AlbumReason::Network);
}

TEST_F(DownloadJob, StopInThirdOfFiveAlbumsLeavesTheRestUntouched) {
    std::vector<int> sel;
    for (const char* id : {"a1", "a2", "a3", "a4", "a5"}) sel.push_back(Album(id));
    req.albums = sel;
    // One worker: the stop comes when the first picture of album 3 has ended, so its third
    // picture and the later albums must never start.
    req.settings.down.ThreadCount = 1;
    JobRunner runner;
    std::atomic<bool> inThird{false};
    fe.onAlbum = [&](std::size_t position) { inThird = position == 3; };
    fe.onPicture = [&](std::size_t done) {
        if (inThird && done == 1) runner.control.RequestStop();
    };
    CannedSite site([](const CannedRequest& r) { return Site(r.Param("topicId") == "a3" ? 3 : 1)(r); });
    JobOutcome o;
    ASSERT_EQ(runner.PressButton([&] { o = RunDownloadJob(req, fe, runner.control); }), JobRunner::Press::Started);
    runner.Join();

    EXPECT_TRUE(fs::exists(AlbumDir("a1") / "pic.vyr"));
    EXPECT_TRUE(fs::exists(AlbumDir("a2") / "pic.vyr"));
    EXPECT_TRUE(fs::exists(AlbumDir("a3") / "pic0.jpg"));
    EXPECT_FALSE(fs::exists(AlbumDir("a3") / "pic2.jpg"));  // no further picture after the stop
    EXPECT_FALSE(fs::exists(AlbumDir("a3") / "pic.vyr"));
    EXPECT_FALSE(fs::exists(AlbumDir("a4")));
    EXPECT_FALSE(fs::exists(AlbumDir("a5")));
    for (const auto& r : site.Requests()) {
        EXPECT_NE(r.Param("topicId"), "a4");
        EXPECT_NE(r.Param("topicId"), "a5");
    }
    EXPECT_TRUE(o.stopped);
    ASSERT_EQ(o.albums.size(), 3u);
    EXPECT_EQ(o.albums[2].saved + o.albums[2].notTried + o.albums[2].failed, 3u);
    EXPECT_GE(o.albums[2].notTried, 1u);
    // The folder reported after a stop is the album that was being fetched.
    EXPECT_EQ(o.lastFolder, FromUtf8(AlbumDir("a3").string() + "/"));
}

TEST_F(DownloadJob, StopWhileListingAsksBeforeDownloadingWhatWasListed) {
    req.albums = {Album("a"), Album("b")};
    JobRunner runner;
    std::atomic<bool> pressed{false};
    // The stop comes while the second page of album a is asked for: the first page's pictures
    // are listed, the rest of the listing is cut short.
    CannedSite site([&](const CannedRequest& r) -> test::CannedReply {
        if (r.path == "/fcgi-bin/cgi_list_photo" && r.Param("pageStart") != "0" && !pressed.exchange(true))
            runner.control.RequestStop();
        return Site(3)(r);
    });
    fe.answers = {true};
    JobOutcome o;
    ASSERT_EQ(runner.PressButton([&] { o = RunDownloadJob(req, fe, runner.control); }), JobRunner::Press::Started);
    runner.Join();
    EXPECT_EQ(fe.Of("question"), std::vector<Text>{PromptDownloadListedSoFar()});
    EXPECT_TRUE(fs::exists(AlbumDir("a") / "pic0.jpg"));  // the listed pictures, on Yes
    EXPECT_TRUE(fs::exists(AlbumDir("a") / "pic2.jpg"));
    EXPECT_FALSE(fs::exists(AlbumDir("b")));
}

// The album folder is checked once and then held open: a folder swapped for a symbolic link in the
// middle of the download (renamed away, a link to another folder put at its name) cannot redirect a
// picture, album.json or pic.vyr there. Everything lands in the folder that was checked.
TEST_F(DownloadJob, AFolderSwappedForALinkMidRunCannotRedirectAnyWrite) {
    req.albums = {Album("a")};
    req.settings.down.ThreadCount = 1;
    SetFlags(SiteFlag::FixFormat | SiteFlag::FixOrder);  // the work after the album as well
    const fs::path moved = dir / "moved", outside = dir / "outside";
    fs::create_directories(outside);
    std::atomic<bool> swapped{false};
    fe.onPicture = [&](std::size_t done) {
        if (done != 2 || swapped.exchange(true)) return;
        fs::rename(AlbumDir("a"), moved);
        fs::create_directory_symlink(outside, AlbumDir("a"));
    };
    CannedSite site(Site(6));
    JobControl control;
    control.TryStart();
    ManualClock clock;  // the single worker's pause between pictures passes at once
    const JobOutcome o = RunDownloadJob(req, fe, control, clock);

    ASSERT_TRUE(swapped);
    EXPECT_TRUE(fs::is_empty(outside));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(qm::test::FileText(moved / ("pic" + std::to_string(i) + ".jpg")),
                  PictureBody("/a/" + std::to_string(i) + ".jpg"));
    EXPECT_TRUE(fs::exists(moved / "album.json"));
    EXPECT_TRUE(fs::exists(moved / "pic.vyr"));
    // The falling times of FixOrder reached the pictures where they are.
    EXPECT_GT(fs::last_write_time(moved / "pic0.jpg"), fs::last_write_time(moved / "pic5.jpg"));
    ASSERT_EQ(o.albums.size(), 1u);
    EXPECT_EQ(o.albums[0].saved, 6u);
}

TEST_F(DownloadJob, AStopBeforeTheFirstAlbumIsHonouredThere) {
    req.albums = {Album("a")};
    CannedSite site(Site(1));
    JobControl control;
    control.TryStart();
    control.RequestStop();
    const JobOutcome o = RunDownloadJob(req, fe, control);
    EXPECT_TRUE(fe.Of("album-started").empty());
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_TRUE(o.stopped);
    EXPECT_FALSE(o.Complete());
    Ping();
}

}  // namespace
}  // namespace qm
