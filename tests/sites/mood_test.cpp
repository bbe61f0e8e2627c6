// Mood pictures: paging, pacing, the page limit and its unlock value, the token and the refusals,
// checked against canned mood-list answers on a loopback server.
#include <gtest/gtest.h>

#include "CannedSite.h"
#include "core/Prompts.h"
#include "sim/Simulator.h"
#include "sites/QZoneMood.h"
#include "sites/Token.h"

namespace qm {
namespace {

using test::CannedRequest;
using test::CannedSite;
using test::ClearCookies;

// One post as the mood list writes it; `pictures` addresses are written with escaped slashes.
std::string Post(int n, const std::string& text, int pictures) {
    std::string s = "{\"certified\":0,\"cmtnum\":" + std::to_string(n) + ",\"conlist\":[{\"con\":\"" + text +
                    "\",\"type\":2}],\"content\":\"" + text + "\",\"pic\":[";
    for (int i = 0; i < pictures; ++i) {
        if (i) s += ",";
        s += "{\"height\":800,\"pic_id\":\"p" + std::to_string(n) + "_" + std::to_string(i) +
             "\",\"smallurl\":\"http:\\/\\/m.qpic.cn\\/psb\\/a\\/post" + std::to_string(n) + "_" +
             std::to_string(i) + "\",\"width\":600}";
    }
    return s + "]}";
}

// A mood-list page: posts pos .. pos+num-1 of `total`, each with one picture.
std::string Page(int pos, int total) {
    std::string s = "_Callback({\"code\":0,\"msglist\":[";
    for (int i = pos; i < std::min(total, pos + 20); ++i) {
        if (i > pos) s += ",";
        s += Post(i, "post " + std::to_string(i), 1);
    }
    return s + "],\"total\":" + std::to_string(total) + "});";
}

class Mood : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCookies();
        f.Use(MoodRecord());
    }
    void TearDown() override {
        ClearCookies();
    }
    static ST_PERLISTRECORD MoodRecord() {
        ST_PERLISTRECORD rec;
        rec.Name = kMoodAlbumName;
        rec.ListParam = MoodListAddress(u"10001");
        rec.CoverUrl = kMoodCoverMark;
        rec.PictureCount = -1;
        return rec;
    }
    static void LogIn(const std::string& cookies) { test::SetTestCookies("qq.com", cookies); }
    static CannedSite::Handler Posts(int total) {
        return [total](const CannedRequest& r) { return Page(std::stoi(r.Param("pos")), total); };
    }

    // Lists the pictures of the album in use.
    void Fetch() { FetchMoodPictures(f.ctx, f.down.album.record, f.sink); }

    test::FetcherState f;
};

TEST(MoodAddress, ListAddressOnProxyHost) {
    EXPECT_EQ(ToUtf8(MoodListAddress(u"12345")),
              "http://h5.qzone.qq.com/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msglist_v6?uin=12345"
              "&inCharset=utf-8&outCharset=utf-8&hostUin=12345&notice=0&sort=0");
}

TEST_F(Mood, ThirtyFivePostsTwoPagesThenEnd) {
    LogIn("uin=o0010001; skey=@abc");
    CannedSite site(Posts(35));
    Fetch();

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    const unsigned gtk = ComputeGTk(u"@abc");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reqs[i].host, "h5.qzone.qq.com");
        EXPECT_EQ(reqs[i].path, "/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msglist_v6");
        EXPECT_EQ(reqs[i].target,
                  "/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msglist_v6?uin=10001&inCharset=utf-8"
                  "&outCharset=utf-8&hostUin=10001&notice=0&sort=0&pos=" +
                      std::to_string(i * 20) +
                      "&num=20&cgi_host=http%3A%2F%2Ftaotao.qq.com%2Fcgi-bin%2Femotion_cgi_msglist_v6"
                      "&code_version=1&format=jsonp&need_private_comment=1&g_tk=" +
                      std::to_string(gtk));
        EXPECT_EQ(reqs[i].headers.at("referer"), "http://qzs.qq.com/qzone/app/mood_v6/html/index.html");
    }
    // A pause after each page, the not-full second one included, and none after that.
    EXPECT_EQ(f.clock.pauses, (std::vector<unsigned>{4200, 4400}));
    ASSERT_EQ(f.Queued(), 35u);
    EXPECT_EQ(f.Urls()[0], "http://m.qpic.cn/psb/b/post0_0");
    EXPECT_EQ(f.Urls()[34], "http://m.qpic.cn/psb/b/post34_0");
    EXPECT_EQ(f.Names()[34], "post 34.jpg");
}

TEST_F(Mood, DefaultStopsAfterFivePagesWithoutFinalPause) {
    LogIn("skey=@abc");  // at the very front of the cookie text
    CannedSite site(Posts(1000));
    Fetch();
    EXPECT_EQ(site.Requests().size(), 5u);
    EXPECT_EQ(site.Requests()[4].Param("pos"), "80");
    EXPECT_EQ(f.clock.pauses, (std::vector<unsigned>{4200, 4400, 4600, 4800}));
    EXPECT_EQ(f.Queued(), 100u);
}

TEST_F(Mood, UnlockValueReadsEveryPage) {
    LogIn("uin=o10001; skey=@abc");
    f.ctx.ext.MoodDownloadMode = kMoodUnlockValue;
    CannedSite site(Posts(130));
    Fetch();
    EXPECT_EQ(site.Requests().size(), 7u);
    EXPECT_EQ(f.clock.pauses.size(), 7u);
    EXPECT_EQ(f.clock.pauses.back(), (7u + 20u) * 200u);
    EXPECT_EQ(f.Queued(), 130u);

    // Any other value keeps the limit.
    f.Use(MoodRecord());
    f.ctx.ext.MoodDownloadMode = kMoodUnlockValue - 1;
    CannedSite again(Posts(130));
    Fetch();
    EXPECT_EQ(again.Requests().size(), 5u);
}

TEST_F(Mood, PostWithoutTextGivesEmptyTitles) {
    LogIn("skey=@abc; p_skey=PS");
    CannedSite site([](const CannedRequest&) {
        std::string noText =
            "{\"certified\":0,\"conlist\":null,\"pic\":[{\"pic_id\":\"x\",\"smallurl\":\"http:\\/\\/"
            "m.qpic.cn\\/x\\/a\\/bare\"}]}";
        return "_Callback({\"msglist\":[" + Post(1, "晴天", 2) + "," + noText + "]});";
    });
    Fetch();
    // p_skey takes precedence over skey.
    ASSERT_EQ(site.Requests().size(), 1u);
    EXPECT_EQ(site.Requests()[0].Param("g_tk"), std::to_string(ComputeGTk(u"PS")));
    // Every /a/ becomes /b/; an empty title falls back to the album name in the file name.
    EXPECT_EQ(f.Urls(),
              (std::vector<std::string>{"http://m.qpic.cn/psb/b/post1_0", "http://m.qpic.cn/psb/b/post1_1",
                                        "http://m.qpic.cn/x/b/bare"}));
    EXPECT_EQ(f.Names(),
              (std::vector<std::string>{"晴天.jpg", "晴天(1).jpg", "说说里的图片-新增测试功能.jpg"}));
}

// The token follows the cookies page by page (a login in between counts), and an empty p_skey counts
// as the photo list counts it: its token is 5381, no login.
TEST_F(Mood, TokenReadForEveryPageAndAnEmptyPSkeyAsThePhotoList) {
    LogIn("skey=@abc; p_skey=PS1");
    f.clock.onPause = [] { test::SetTestCookies("qq.com", "p_skey=PS2"); };
    CannedSite site(Posts(30));
    Fetch();
    f.clock.onPause = nullptr;
    ASSERT_EQ(site.Requests().size(), 2u);
    EXPECT_EQ(site.Requests()[0].Param("g_tk"), std::to_string(ComputeGTk(u"PS1")));
    EXPECT_EQ(site.Requests()[1].Param("g_tk"), std::to_string(ComputeGTk(u"PS2")));

    ClearCookies();
    LogIn("skey=@abc; p_skey=");
    f.down.task.Clear();
    CannedSite again(Posts(30));
    Fetch();
    EXPECT_TRUE(again.Requests().empty());
    ASSERT_EQ(f.obs.Notices().size(), 1u);
    EXPECT_EQ(f.obs.Notices()[0].id, Notice::MoodLogin);
}

TEST_F(Mood, NotLoggedInShowsReminderAndSendsNothing) {
    LogIn("uin=o0010001; pt2gguin=o0010001");
    CannedSite site(Posts(35));
    Fetch();
    EXPECT_TRUE(site.Requests().empty());
    ASSERT_EQ(f.obs.Of("message").size(), 1u);
    EXPECT_EQ(f.obs.Of("message")[0], PromptMoodLogin());
    EXPECT_EQ(f.obs.Notices()[0].id, Notice::MoodLogin);
    EXPECT_EQ(f.ctx.reason, ListReason::LoginNeeded);
    EXPECT_EQ(f.Queued(), 0u);
}

TEST_F(Mood, RefusalShowsServerMessage) {
    LogIn("skey=@abc");
    CannedSite site([](const CannedRequest&) {
        return std::string(
            "_Callback({\"code\":-3000,\"subcode\":-4001,\"message\":\"请先登录空间\",\"data\":[]});");
    });
    Fetch();
    EXPECT_EQ(site.Requests().size(), 1u);
    ASSERT_EQ(f.obs.Of("message").size(), 1u);
    EXPECT_EQ(ToUtf8(f.obs.Of("message")[0]), "请先登录空间");
    EXPECT_TRUE(f.clock.pauses.empty());
}

TEST_F(Mood, StopDuringPauseSendsNoFurtherPage) {
    LogIn("skey=@abc");
    f.clock.onPause = [this] { f.stop.request_stop(); };
    CannedSite site(Posts(60));
    Fetch();
    EXPECT_EQ(site.Requests().size(), 1u);
    EXPECT_EQ(f.Queued(), 20u);
}

// Cut posts: the full text of each is asked of the detail interface by its tid, one request at a
// time after a pause like the list's first; a detail that fails leaves the list's text, marked cut.
TEST_F(Mood, CutPostsGetTheirFullTextFromTheDetailOneAtATime) {
    LogIn("uin=o0010001; skey=@abc");
    CannedSite site([](const CannedRequest& r) -> std::string {
        if (r.path.find("emotion_cgi_msgdetail_v6") != std::string::npos) {
            if (r.Param("tid") != "t1") return "_Callback({\"code\":-4009,\"message\":\"gone\"});";
            return "_Callback({\"code\":0,\"commentlist\":[{\"content\":\"c\",\"create_time\":\"1500000100\","
                   "\"list_3\":[{\"content\":\"r\",\"name\":\"n2\",\"uin\":2}],\"name\":\"n1\",\"uin\":1}],"
                   "\"content\":\"1234567890 full\",\"tid\":\"t1\"});";
        }
        auto post = [](const std::string& tid, const std::string& text, bool cut) {
            return "{\"certified\":0,\"cmtnum\":0,\"conlist\":[{\"con\":\"" + text + "\"}],\"content\":\"" + text +
                   "\",\"created_time\":1500000000" + (cut ? ",\"has_more_con\":1" : "") + ",\"tid\":\"" + tid + "\"}";
        };
        return "_Callback({\"code\":0,\"msglist\":[" + post("t0", "short", false) + "," + post("t1", "1234567890", true) +
               "," + post("t2", "abcdefghij", true) + "]});";
    });
    Fetch();

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[1].path, "/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msgdetail_v6");
    EXPECT_EQ(reqs[1].Param("tid"), "t1");
    EXPECT_EQ(reqs[2].Param("tid"), "t2");
    EXPECT_EQ(reqs[1].headers.at("referer"), "http://qzs.qq.com/qzone/app/mood_v6/html/index.html");
    EXPECT_EQ(f.clock.pauses, (std::vector<unsigned>{4200, 4200, 4200}));
    const auto& posts = f.sink.posts;
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_EQ(ToUtf8(posts[1].text), "1234567890 full");
    EXPECT_FALSE(posts[1].textCut);
    ASSERT_EQ(posts[1].comments.size(), 1u);  // the detail's comments, replies and all
    EXPECT_EQ(posts[1].comments[0].time, 1500000100);
    ASSERT_EQ(posts[1].comments[0].replies.size(), 1u);
    EXPECT_EQ(posts[1].comments[0].replies[0].uin, "2");
    EXPECT_EQ(ToUtf8(posts[2].text), "abcdefghij");
    EXPECT_TRUE(posts[2].textCut);
}

// The demo scenario's owner has 35 mood posts: two pages, every picture at the address served; then
// the full text of its one cut post, after the pause of the first page.
TEST_F(Mood, DemoSimulatorServesTwoPages) {
    auto sim = sim::Simulator::Demo();
    ASSERT_NE(sim->Start(0), 0);
    SetConnectTo(sim->ConnectTo());
    const auto& account = sim->Scenario().at("accounts").at(0);
    const std::string pskey = account.at("p_skey").get<std::string>();
    LogIn("uin=o00" + std::to_string(account.at("uin").get<long long>()) + "; p_skey=" + pskey);
    ST_PERLISTRECORD rec = MoodRecord();
    rec.ListParam = MoodListAddress(u"123456789");
    FetchMoodPictures(f.ctx, f.Use(rec), f.sink);

    std::vector<std::string> targets, details;
    for (const auto& r : sim->Requests()) {
        if (r.path.find("emotion_cgi_msglist_v6") != std::string::npos) targets.push_back(r.target);
        if (r.path.find("emotion_cgi_msgdetail_v6") != std::string::npos) details.push_back(r.target);
    }
    sim->Stop();
    ASSERT_EQ(targets.size(), 2u);
    const std::string gtk = "&g_tk=" + std::to_string(ComputeGTk(FromUtf8(pskey)));
    EXPECT_NE(targets[0].find("hostUin=123456789&notice=0&sort=0&pos=0&num=20&cgi_host="), std::string::npos);
    EXPECT_NE(targets[1].find("&pos=20&num=20&"), std::string::npos);
    EXPECT_EQ(targets[1].substr(targets[1].size() - gtk.size()), gtk);
    EXPECT_EQ(f.clock.pauses, (std::vector<unsigned>{4200, 4400, 4200}));
    ASSERT_EQ(details.size(), 1u);
    EXPECT_NE(details[0].find("uin=123456789&inCharset=utf-8&outCharset=utf-8&hostUin=123456789&notice=0&sort=0&tid="),
              std::string::npos)
        << details[0];
    EXPECT_EQ(details[0].substr(details[0].size() - gtk.size()), gtk);

    std::vector<std::string> expected;
    for (const auto& mood : sim->Scenario().at("qzone").at(0).at("moods"))
        for (const auto& picture : mood.at("pictures")) {
            const std::string address = sim->PictureAddress(picture.at("id").get<std::string>());
            expected.push_back(address.rfind("http://", 0) == 0 ? address : "http://" + address);
        }
    EXPECT_EQ(f.Urls(), expected);
}

}  // namespace
}  // namespace qm
