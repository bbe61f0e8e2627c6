// QZone route lookup and album list against the simulator: the addresses sent, the answer checks,
// and the records built. Also the cookie lookup and g_tk.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <regex>

#include "RecordingObserver.h"
#include "TempFolder.h"
#include "net/Clock.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "sites/QZoneAlbumList.h"
#include "sites/Token.h"

namespace qm {
namespace {

using nlohmann::json;

TEST(Token, CookieValueFindsEveryPositionAndExactNames) {
    EXPECT_EQ(CookieValue(u"skey=@front; uin=o1", u"skey"), u"@front");  // at the very front
    EXPECT_EQ(CookieValue(u"uin=o1; skey=@mid; x=1", u"skey"), u"@mid");
    EXPECT_EQ(CookieValue(u"uin=o1; skey=@end", u"skey"), u"@end");
    EXPECT_EQ(CookieValue(u"p_skey=P; uin=o1", u"skey"), u"");  // p_skey is not skey
    EXPECT_EQ(CookieValue(u"p_skey=P; skey=S", u"p_skey"), u"P");
    EXPECT_EQ(CookieValue(u"p_skey=P; skey=S", u"skey"), u"S");
    EXPECT_EQ(CookieValue(u"", u"skey"), u"");
    EXPECT_EQ(CookieValue(u"skey=", u"skey"), u"");
}

TEST(Token, GTkHash) {
    EXPECT_EQ(ComputeGTk(u""), 5381u);
    EXPECT_EQ(ComputeGTk(u"abc"), 193485963u);
    // Long keys wrap in 32 bits and keep 31.
    const unsigned long_key = ComputeGTk(Text(200, u'z'));
    EXPECT_LT(long_key, 0x80000000u);
    EXPECT_EQ(ComputeGTk(u"@AbC9xYz"), sim::QZoneToken("@AbC9xYz"));
}

class QZoneAlbumListTest : public ::testing::Test {
protected:
    static constexpr const char* kQQ = "10001";

    void SetUp() override {
        st_.programFolder = TextFromPath(folder_) + u"/";
        st_.stop = stop_.get_token();
        CookieStore::Instance().Clear();
    }
    void TearDown() override {
        if (sim_) sim_->Stop();
        SetConnectTo("");
        CookieStore::Instance().Clear();
    }

    static json Owner(json albums) { return {{"uin", kQQ}, {"albums", std::move(albums)}}; }
    static json AlbumJ(const std::string& id, const std::string& name, int priv = 1, int pictures = 2) {
        return {{"id", id}, {"name", name}, {"priv", priv}, {"pictures", pictures}};
    }

    void Start(json scenario) {
        sim_ = std::make_unique<sim::Simulator>(std::move(scenario));
        ASSERT_NE(sim_->Start(0), 0);
        sim_->ClearRequests();
        SetConnectTo(sim_->ConnectTo());
    }
    std::vector<sim::LoggedRequest> Requests(const std::string& pathPart) const {
        std::vector<sim::LoggedRequest> out;
        for (auto& r : sim_->Requests())
            if (r.target.find(pathPart) != std::string::npos) out.push_back(r);
        return out;
    }

    std::vector<ST_PERLISTRECORD>& Recs() { return albums_.albums; }

    test::TempFolder temp_{"qm-albumlist-"};
    const std::filesystem::path& folder_ = temp_.path();
    test::RecordingObserver obs_;
    ManualClock clock_;
    std::stop_source stop_;
    SiteContext st_{obs_, clock_};
    test::RecordingAlbums albums_;
    std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(QZoneAlbumListTest, Version2ReadsAlbumsWithoutLoginAndSendsTheExactAddress) {
    json owner = Owner({AlbumJ("a1", "Open", 1, 3), AlbumJ("a2", "", 1), AlbumJ("a3", "Private", 35),
                        AlbumJ("a4", "Friends", 56), AlbumJ("a5", "Locked", 5)});
    owner["idcno"] = "";  // no data-centre number in the route answer
    Start({{"qzone", {owner}}});
    FetchQZoneAlbumsV2(st_, u"10001", albums_);

    // The nameless album is skipped and the ones after it still read.
    const auto recs = Recs();
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0].Name, u"Open");
    EXPECT_EQ(recs[0].PictureCount, 3);
    EXPECT_EQ(recs[0].PrivacyFlags, 0u);
    EXPECT_EQ(recs[0].ListParam, u"idcNum=0&hostUin=10001&albumid=a1");
    EXPECT_EQ(recs[0].CoverUrl.find(u"\\/"), Text::npos);
    EXPECT_EQ(recs[0].CoverUrl.rfind(u"http://", 0), 0u);
    EXPECT_EQ(recs[1].Name, u"Private");
    EXPECT_EQ(recs[1].PrivacyFlags, 2u);  // "35": the 3 test comes first
    EXPECT_EQ(recs[2].PrivacyFlags, 4u);  // "56": the 6 test before the 5 test
    EXPECT_EQ(recs[3].PrivacyFlags, 1u);
    EXPECT_TRUE(obs_.Of("message").empty());

    const auto route = Requests("GetRoute");
    ASSERT_EQ(route.size(), 1u);
    EXPECT_EQ(route[0].host, "route.store.qq.com");
    EXPECT_EQ(route[0].target, "/GetRoute?UIN=10001&version=2&type=json");
    EXPECT_EQ(route[0].headers.at("referer"), "http://user.qzone.qq.com/10001");
    EXPECT_EQ(route[0].headers.at("accept-encoding"), "gzip, deflate");

    const auto list = Requests("fcg_list_album_v2");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].host, "xalist.photo.qzone.qq.com");  // "xanewp" of the default entry replaced
    // No skey cookie: g_tk 5381 is still sent; the cache-buster's line feed goes out encoded.
    EXPECT_TRUE(std::regex_match(
        list[0].target, std::regex(R"(/fcgi-bin/fcg_list_album_v2\?hostUin=10001&format=jsonp&plat=qzone)"
                                   R"(&source=qzone&t=[01]\.\d{16}%0A&g_tk=5381)")))
        << list[0].target;
    EXPECT_EQ(st_.route.photoHost, u"xaplist.photo.qzone.qq.com");
    EXPECT_EQ(st_.route.viewHost, u"xaview.photo.qzone.qq.com");
}

TEST_F(QZoneAlbumListTest, TokenComesFromTheSkeyCookie) {
    Start({{"accounts", {{{"uin", "20002"}, {"password", "pw"}, {"skey", "@Zx81kQ"}}}},
           {"qzone", {Owner({AlbumJ("a1", "One")})}}});
    CookieStore::Instance().ImportHeader("uin=o0020002; skey=@Zx81kQ; p_skey=ignored", "qq.com");
    FetchQZoneAlbumsV2(st_, u"10001", albums_);
    const auto list = Requests("fcg_list_album_v2");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_NE(list[0].target.find("&g_tk=" + std::to_string(ComputeGTk(u"@Zx81kQ"))), std::string::npos);
    EXPECT_EQ(Recs().size(), 1u);
}

TEST_F(QZoneAlbumListTest, RouteFallsBackToTheUserSiteThenGivesUp) {
    Start({{"qzone", {Owner({AlbumJ("a1", "One")})}},
           {"faults", {{{"match", "route.store.qq.com"}, {"reset", true}}}}});
    FetchQZoneAlbumsV2(st_, u"10001", albums_);
    auto fallback = Requests("/q/route.store/GetRoute");
    ASSERT_EQ(fallback.size(), 1u);
    EXPECT_EQ(fallback[0].host, "user.qzone.qq.com");
    EXPECT_EQ(fallback[0].target, "/q/route.store/GetRoute?UIN=10001&type=json&version=2");
    EXPECT_EQ(Recs().size(), 1u);

    sim_->Stop();
    Start(
        {{"qzone", {Owner({AlbumJ("a1", "One")})}}, {"faults", {{{"match", "GetRoute"}, {"reset", true}}}}});
    Recs().clear();
    FetchQZoneAlbumsV3(st_, u"10001", albums_);
    EXPECT_EQ(obs_.Of("message"), std::vector<Text>{u"QQ空间相册错误1"});
    // The network's reason travels with the notice and the context.
    ASSERT_EQ(obs_.Notices().size(), 1u);
    EXPECT_EQ(obs_.Notices()[0].id, Notice::RouteFailed);
    EXPECT_FALSE(obs_.Notices()[0].cause.empty());
    EXPECT_EQ(st_.reason, ListReason::Network);
    EXPECT_EQ(st_.reasonText, obs_.Notices()[0].cause);
    EXPECT_TRUE(Requests("fcg_list_album").empty());
    EXPECT_EQ(Recs().size(), 0u);
}

// A route answer that names no album host (an error page with status 200) is a failed route
// lookup, said as such: no request goes to an empty host ("http:///fcgi-bin/...").
TEST_F(QZoneAlbumListTest, RouteAnswerWithoutHostsIsAFailedLookup) {
    Start({{"qzone", {Owner({AlbumJ("a1", "One")})}},
           {"faults", {{{"match", "GetRoute"}, {"body", "<html>系统繁忙</html>"}}}}});
    FetchQZoneAlbumsV3(st_, u"10001", albums_);
    EXPECT_EQ(Recs().size(), 0u);
    EXPECT_TRUE(Requests("fcg_list_album").empty());
    EXPECT_EQ(st_.reason, ListReason::Network);
    EXPECT_EQ(st_.reasonText, "the route lookup failed: its answer names no album host");
}

TEST_F(QZoneAlbumListTest, Version3SecondPassUsesTheFirstRouteEntryAndDataCentre102) {
    json owner = Owner({AlbumJ("a1", "One"), AlbumJ("a2", "Two")});
    owner["idcno"] = "7";
    Start(
        {{"qzone", {owner}}, {"faults", {{{"match", "fcg_list_album_v3"}, {"reset", true}, {"first", 1}}}}});
    FetchQZoneAlbumsV3(st_, u"10001", albums_);

    const auto list = Requests("fcg_list_album_v3");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].host, "xalist.photo.qzone.qq.com");
    EXPECT_NE(list[0].target.find("&idcNum=7&"), std::string::npos);
    EXPECT_EQ(list[1].host, "alist.photo.qzone.qq.com");  // first entry "sz": sznewp -> alist
    EXPECT_NE(list[1].target.find("&idcNum=102&"), std::string::npos);
    EXPECT_TRUE(std::regex_match(
        list[1].target,
        std::regex(R"(/fcgi-bin/fcg_list_album_v3\?g_tk=5381&callback=shine1_Callback&hostUin=10001)"
                   R"(&appid=4&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&format=jsonp)"
                   R"(&notice=0&filter=1&handset=4&pageNumModeSort=40&pageNumModeClass=10)"
                   R"(&needUserInfo=1&idcNum=102&callbackFun=shine1&_=[01]\.\d{16}%0A)")))
        << list[1].target;
    EXPECT_EQ(list[1].headers.count("referer"), 1u);
    EXPECT_EQ(st_.route.photoHost, u"szplist.photo.qzone.qq.com");
    const auto recs = Recs();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1].ListParam, u"idcNum=102&hostUin=10001&albumid=a2");
}

TEST_F(QZoneAlbumListTest, Version3FirstPassWithAlbumsEndsTheFetch) {
    Start({{"qzone", {Owner({AlbumJ("a1", "One")})}}});
    FetchQZoneAlbumsV3(st_, u"10001", albums_);
    EXPECT_EQ(Requests("fcg_list_album_v3").size(), 1u);
    EXPECT_EQ(Recs().size(), 1u);
}

TEST_F(QZoneAlbumListTest, RateLimitIsWaitedOutThenShownAsIs) {
    // Two refusals: the same request is asked again after 30 s and 60 s (and a little jitter), then
    // the album comes.
    Start({{"qzone", {Owner({AlbumJ("a1", "One")})}},
           {"faults", {{{"match", "fcg_list_album"}, {"rate_limit_first", 2}}}}});
    FetchQZoneAlbumsV3(st_, u"10001", albums_);
    EXPECT_EQ(Requests("fcg_list_album_v3").size(), 3u);
    EXPECT_EQ(Recs().size(), 1u);
    EXPECT_TRUE(obs_.Notices().empty());
    EXPECT_GE(clock_.Slept(), std::chrono::seconds(90));
    EXPECT_LE(clock_.Slept(), std::chrono::seconds(99));
    EXPECT_EQ(st_.rateLimitWaited, clock_.Slept());
    EXPECT_EQ(obs_.Of("waiting").back(), u"0");  // the countdown ends
}

TEST_F(QZoneAlbumListTest, RateLimitGivesUpAfterFourWaitsAndShowsTheTextAsIs) {
    Start({{"qzone", {Owner({AlbumJ("a1", "One")})}},
           {"faults", {{{"match", "fcg_list_album"}, {"rate_limit_first", 5}}}}});
    // Five refusals: four waits, then the service's message; version 3 makes no second pass.
    FetchQZoneAlbumsV3(st_, u"10001", albums_);
    EXPECT_EQ(Requests("fcg_list_album_v3").size(), 5u);
    EXPECT_GE(clock_.Slept(), std::chrono::seconds(450));
    EXPECT_EQ(obs_.Of("message"), std::vector<Text>{u"对不起，您的操作过于频繁，请稍后再试"});
    EXPECT_EQ(obs_.Notices()[0].id, Notice::RateLimited);
    EXPECT_EQ(st_.reason, ListReason::RateLimited);
    EXPECT_TRUE(obs_.Of("question").empty());
    EXPECT_EQ(Recs().size(), 0u);
}

TEST_F(QZoneAlbumListTest, ClosedSpaceAsksForLoginAndYesOpensTheHomeAddress) {
    json owner = Owner({AlbumJ("a1", "One")});
    owner["space"] = "private";
    Start({{"qzone", {owner}}});

    obs_.answers = {true};
    FetchQZoneAlbumsV2(st_, u"10001", albums_);
    EXPECT_EQ(obs_.Of("question"),
              std::vector<Text>{u"加密或非公开空间，是否进行身份验证?\n(验证成功后请重新获取相册列表)"});
    EXPECT_EQ(obs_.Questions(), std::vector<Question>{Question::VerifyAccess});
    EXPECT_EQ(st_.reason, ListReason::NoAccess);
    EXPECT_EQ(obs_.Of("login"), std::vector<Text>{u"http://user.qzone.qq.com/10001"});
    EXPECT_EQ(Recs().size(), 0u);

    obs_.answers = {false};
    FetchQZoneAlbumsV3(st_, u"10001", albums_);
    EXPECT_EQ(obs_.Of("question").size(), 2u);
    EXPECT_EQ(obs_.Of("login").size(), 1u);  // No: no login window
    EXPECT_EQ(Requests("fcg_list_album_v3").size(), 1u);
    EXPECT_EQ(Recs().size(), 0u);
}

TEST_F(QZoneAlbumListTest, StopRequestEndsAfterTheCurrentAlbum) {
    Start({{"qzone", {Owner({AlbumJ("a1", "One"), AlbumJ("a2", "Two"), AlbumJ("a3", "Three")})}}});
    // The user presses stop while the first album is being added.
    class StoppingSink final : public AlbumSink {
    public:
        StoppingSink(test::RecordingAlbums& inner, std::stop_source& stop) : inner_(inner), stop_(stop) {}
        void Album(const ST_PERLISTRECORD& rec) override {
            inner_.Album(rec);
            stop_.request_stop();
        }
        std::size_t Count() const override { return inner_.Count(); }

    private:
        test::RecordingAlbums& inner_;
        std::stop_source& stop_;
    } stopping(albums_, stop_);
    FetchQZoneAlbumsV2(st_, u"10001", stopping);
    const auto recs = Recs();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].Name, u"One");
}

}  // namespace
}  // namespace qm
