// The download controller: save-folder checks and the base folder, the order of the two QZone
// photo-list interfaces, list files instead of downloads, a stop in the middle of a job, and the
// download button's start/stop behaviour. Albums are served by a canned loopback site.
#include "core/jobs/DownloadJob.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/Prompts.h"
#include "sites/CannedSite.h"

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

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A front end that can run a hook when a control text is set (to press stop at a given moment).
class HookFrontend : public test::RecordingFrontend {
public:
    std::function<void(Ctl, const Text&)> onText;
    void SetControlText(Ctl id, const Text& text) override {
        RecordingFrontend::SetControlText(id, text);
        if (onText) onText(id, text);
    }
};

class DownloadJob : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir = fs::temp_directory_path() /
              ("qm-jobs-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::create_directories(dir);
        save = dir / "save 保存";
        st.programFolder = FromUtf8(dir.string() + "/");
        st.WindowReady = 1;
        st.QZoneKind = 0;
        st.TargetFolder = u"12345/";
        st.route.photoHost = u"plist.example.qq.com";
        st.route.viewHost = u"view.example.qq.com";
        st.settings.down[0] = DownParam{0, 0, 2, 30};
        fe.texts[Ctl::SaveFolder] = FromUtf8(save.string());
        fe.texts[Ctl::Target] = u"12345";
        test::ClearCookies();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    int Album(const std::string& id, int32_t count = 5, uint32_t privacy = 0) {
        ST_PERLISTRECORD rec;
        rec.Name = FromUtf8("album " + id);
        rec.ListParam = FromUtf8("idcNum=0&hostUin=12345&albumid=" + id);
        rec.CoverUrl = u"http://c/1.jpg";
        rec.PictureCount = count;
        rec.PrivacyFlags = privacy;
        return static_cast<int>(st.albums.AppendRecord(rec)) - 1;
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
    void SetFlags(uint16_t flags) { st.settings.profile[0].SiteFlags = flags; }

    HookFrontend fe;
    AppState st{fe};
    fs::path dir, save;
};

TEST_F(DownloadJob, SaveFolderChecks) {
    fe.texts[Ctl::SaveFolder] = u"   ";
    DownloadFunc(st);
    EXPECT_EQ(fe.Of("message"), std::vector<Text>{u"请先设置保存路径"});
    EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
    EXPECT_TRUE(fe.Of("text 1005").empty());  // the running look never came

    std::ofstream(dir / "file") << "x";  // a file where a folder is needed
    fe.texts[Ctl::SaveFolder] = FromUtf8((dir / "file").string());
    DownloadFunc(st);
    EXPECT_EQ(fe.Of("message").back(), u"请检测设置的保存路径是否有误");
    EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
}

TEST_F(DownloadJob, NoSelectionCreatesBaseFolderAndEndsWithPrompt) {
    st.TargetSubFolder = u"sub/";
    Album("a");
    DownloadFunc(st);
    // save folder (no trailing separator typed) + target + sub-folder
    EXPECT_TRUE(fs::is_directory(save / "12345" / "sub"));
    EXPECT_EQ(st.task.albumFolder, FromUtf8((save / "12345" / "sub").string() + "/"));
    EXPECT_EQ(fe.Of("message"), std::vector<Text>{PromptSelectAlbums()});
    EXPECT_EQ(st.albums.SelectedCount.load(), 0u);
    EXPECT_EQ(fe.Of("text 1005"), (std::vector<Text>{u"终止下载", u"下载"}));
    EXPECT_EQ(fe.Shown(Ctl::Status), u"下载完毕");
    EXPECT_EQ(fe.Shown(Ctl::Progress), u"");
    EXPECT_EQ(fe.Of("enable 1000"), (std::vector<Text>{u"0", u"1"}));
    EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
}

TEST_F(DownloadJob, TargetFolderCannotClimbOutOfTheSaveFolder) {
    st.TargetFolder = u"../../";
    st.TargetSubFolder = u"./x/../";
    DownloadFunc(st);
    EXPECT_EQ(st.task.albumFolder, FromUtf8(save.string() + "/x/"));
    EXPECT_TRUE(fs::is_directory(save / "x"));
}

TEST_F(DownloadJob, UnknownBigOrNonPublicAlbumsTryTheUtf8InterfaceFirst) {
    fe.selection = {Album("normal"), Album("unknown", -1), Album("big", 2001),
                    Album("private", 5, PrivacyPrivate), Album("edge", 2000)};
    SetFlags(SiteFlag::ListOnly);
    CannedSite site(Site(1));
    DownloadFunc(st);

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
    EXPECT_EQ(fe.Of("text 1009").front(), u"正在下载第1/5个图集");
}

TEST_F(DownloadJob, ListOnlyWritesOneListFilePerAlbumAndFetchesNoPicture) {
    fe.selection = {Album("x1"), Album("x2")};
    SetFlags(SiteFlag::ListOnly | SiteFlag::OpenFolderWhenDone);
    CannedSite site(Site(2));
    DownloadFunc(st);

    for (const char* id : {"x1", "x2"}) {
        const std::string a = id;
        EXPECT_EQ(ReadFile(AlbumDir(a) / ("album " + a + ".lst")),
                  "http://raw.example.qq.com/" + a + "/0.jpg\r\nhttp://pre.example.qq.com/" + a +
                      "/0.jpg\r\n" + "http://raw.example.qq.com/" + a +
                      "/1.jpg\r\nhttp://pre.example.qq.com/" + a + "/1.jpg\r\n");
        EXPECT_FALSE(fs::exists(AlbumDir(a) / "pic0.jpg"));
    }
    for (const auto& r : site.Requests()) EXPECT_EQ(r.path.find(".jpg"), std::string::npos) << r.path;
    EXPECT_EQ(fe.Shown(Ctl::Status), u"下载完毕");
    EXPECT_EQ(fe.Of("open"), std::vector<Text>{FromUtf8(AlbumDir("x2").string() + "/")});
}

TEST_F(DownloadJob, DownloadsAlbumsAndRecordsHistory) {
    fe.selection = {Album("a"), Album("b")};
    CannedSite site(Site(3));
    DownloadFunc(st);
    for (const char* id : {"a", "b"}) {
        for (int i = 0; i < 3; ++i) {
            const fs::path file = AlbumDir(id) / ("pic" + std::to_string(i) + ".jpg");
            EXPECT_EQ(ReadFile(file), PictureBody("/" + std::string(id) + "/" + std::to_string(i) + ".jpg"));
        }
        EXPECT_TRUE(fs::exists(AlbumDir(id) / "pic.vyr"));
    }
    EXPECT_TRUE(fe.Of("open").empty());  // OpenFolderWhenDone is off
    EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
}

TEST_F(DownloadJob, StopInThirdOfFiveAlbumsLeavesTheRestUntouched) {
    std::vector<int> sel;
    for (const char* id : {"a1", "a2", "a3", "a4", "a5"}) sel.push_back(Album(id));
    fe.selection = sel;
    // One worker: the stop comes while the second picture of album 3 is fetched, so the third
    // must never start.
    st.settings.down[0].ThreadCount = 1;
    std::thread job;
    std::atomic<bool> inThird{false};
    fe.onText = [&](Ctl id, const Text& text) {
        if (id == Ctl::Status) inThird = text == u"正在下载第3/5个图集";
        if (id == Ctl::Progress && inThird && text.rfind(u"已下载", 0) == 0) PressDownloadButton(st, job);
    };
    CannedSite site([](const CannedRequest& r) { return Site(r.Param("topicId") == "a3" ? 3 : 1)(r); });
    ASSERT_TRUE(PressDownloadButton(st, job));
    job.join();

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
    EXPECT_EQ(fe.Shown(Ctl::Status), u"下载完毕");
    EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
}

TEST_F(DownloadJob, StopWhileListingAsksBeforeDownloadingWhatWasListed) {
    fe.selection = {Album("a"), Album("b")};
    std::thread job;
    std::atomic<bool> pressed{false};
    CannedSite site([&](const CannedRequest& r) -> std::string {
        if (r.path == "/fcgi-bin/cgi_list_photo" && !pressed.exchange(true)) {
            PressDownloadButton(st, job);  // stop while album a is being listed
        }
        return Site(3)(r);
    });
    fe.answers = {true};
    ASSERT_TRUE(PressDownloadButton(st, job));
    job.join();
    EXPECT_EQ(fe.Of("question"), std::vector<Text>{PromptDownloadListedSoFar()});
    EXPECT_TRUE(fs::exists(AlbumDir("a") / "pic0.jpg"));  // the one listed picture, on Yes
    EXPECT_FALSE(fs::exists(AlbumDir("a") / "pic.vyr"));
    EXPECT_FALSE(fs::exists(AlbumDir("b")));
}

TEST_F(DownloadJob, ButtonStopsARunningJobAndNeverLosesTheRequest) {
    st.DownloadJobState = DownloadRunning;
    std::thread none;
    EXPECT_FALSE(PressDownloadButton(st, none));
    EXPECT_EQ(st.DownloadJobState.load(), DownloadStopRequested);
    EXPECT_EQ(st.StopFlag.load(), 1);
    EXPECT_FALSE(none.joinable());

    // A stop that arrives before the job reaches its first album is honoured there.
    fe.selection = {Album("a")};
    CannedSite site(Site(1));
    DownloadFunc(st);
    EXPECT_TRUE(fe.Of("text 1009").size() == 1u);  // only "下载完毕"; no album started
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
    Ping();
}

}  // namespace
}  // namespace qm
