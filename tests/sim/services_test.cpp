// QQ group, Tencent Weibo and login pages of the simulator.
#include <gtest/gtest.h>

#include "support/SimTestClient.h"

namespace qm::sim::test {
namespace {

class ServicesSim : public ::testing::Test {
protected:
    void SetUp() override {
        nlohmann::json s = nlohmann::json::parse(R"({
          "accounts": [{"uin": 10001, "password": "pw1"}, {"uin": 10002, "password": "pw2"}],
          "groups": [{"id": 777777, "members": [10001], "albums": []}],
          "weibo": [{"name": "wb", "uin": 9999, "albums": []}]
        })");
        for (int i = 0; i < 70; ++i) {
            s["groups"][0]["albums"].push_back({{"id", "G" + std::to_string(i)},
                                                {"title", "群相册" + std::to_string(i)},
                                                {"createtime", "2013-10-01 12:00:00"},
                                                {"photos", i == 0 ? 520 : 1}});
        }
        for (int i = 0; i < 13; ++i) {
            nlohmann::json album = {{"name", "专辑" + std::to_string(i)},
                                    {"posts", {{"count", i == 0 ? 30 : 1}, {"text", "帖子%d"}}}};
            if (i == 0) {
                album["type"] = "1";
            } else {
                album["topicid"] = std::to_string(1000 + i);
            }
            s["weibo"][0]["albums"].push_back(album);
        }
        sim_ = std::make_unique<Simulator>(s);
        ASSERT_NE(sim_->Start(0), 0);
    }
    Reply GroupAlbums(int start, const std::string& uin) {
        const std::string cookies = uin.empty() ? "" : LoginCookies(*sim_, uin);
        const std::string gtk =
            std::to_string(QZoneToken(uin.empty() ? "" : AccountValue(*sim_, uin, "skey")));
        return Fetch(*sim_, "u.photo.qzone.qq.com",
                     "/cgi-bin/upp/qun_list_album_v2?qunId=777777&uin=" + uin + "&hostUin=" + uin +
                         "&start=" + std::to_string(start) +
                         "&num=60&userInfo=1&format=jsonp&platform=qzone&inCharset=utf-8&outCharset=utf-8&"
                         "source=jsapi&g_tk=" +
                         gtk,
                     cookies);
    }
    std::unique_ptr<Simulator> sim_;
};

TEST_F(ServicesSim, GroupAlbumsForMembersPagedBySixty) {
    Reply first = GroupAlbums(0, "10001");
    EXPECT_EQ(Count(first.body, "\"coverurl\" : \""), 60u);
    EXPECT_NE(first.body.find("createtime\" : \"2013-10-01 12:00:00\""), std::string::npos);
    EXPECT_NE(first.body.find("\"photocnt\" : 520,"), std::string::npos);
    EXPECT_NE(first.body.find("\"title\" : \"群相册0\""), std::string::npos);
    EXPECT_EQ(Count(GroupAlbums(60, "10001").body, "\"coverurl\" : \""), 10u);
    EXPECT_EQ(Count(GroupAlbums(120, "10001").body, "\"coverurl\" : \""), 0u);

    Reply anonymous = GroupAlbums(0, "");
    EXPECT_GT(anonymous.body.find("message\":\"对不起，您尚未登录"), 0u);
    EXPECT_NE(anonymous.body.find("message\":\"对不起，您尚未登录"), std::string::npos);
    Reply stranger = GroupAlbums(0, "10002");
    EXPECT_EQ(Count(stranger.body, "\"coverurl\" : \""), 0u);
}

TEST_F(ServicesSim, GroupPhotosPagedByStartAndNum) {
    const std::string gtk = std::to_string(QZoneToken(AccountValue(*sim_, "10001", "skey")));
    auto page = [&](int start) {
        return Fetch(
            *sim_, "u.photo.qzone.qq.com",
            "/cgi-bin/upp/qun_list_photo_v2?getCommentCnt=5&format=jsonp&platform=qzone&inCharset=utf-8"
            "&outCharset=utf-8&source=jsapi&qunId=777777&albumId=G0&uin=10001&g_tk=" +
                gtk + "&t=0.1%0A&start=" + std::to_string(start) + "&num=500",
            LoginCookies(*sim_, "10001"));
    };
    EXPECT_EQ(Count(page(0).body, "\"bheight\""), 500u);
    EXPECT_EQ(Count(page(500).body, "\"bheight\""), 20u);
    EXPECT_EQ(Count(page(1000).body, "\"bheight\""), 0u);
}

TEST_F(ServicesSim, WeiboPageAlbumsAndPosts) {
    Reply page = Fetch(*sim_, "t.qq.com", "/app/qzphoto/wb?preview");
    const size_t guest = page.body.find("MI.App.guest");
    ASSERT_NE(guest, std::string::npos);
    EXPECT_EQ(Between(page.body, "uin\":\"", "\"", guest), "9999");
    EXPECT_EQ(Fetch(*sim_, "t.qq.com", "/app/qzphoto/nobody?preview").body.find("MI.App.guest"),
              std::string::npos);

    auto albums = [&](int p) {
        return Fetch(*sim_, "api.t.qq.com",
                     "/asyn/gettopicalbum.php?op=1&uin=9999&page=" + std::to_string(p) +
                         "&n=12&apiType=14&apiHost=http%3A%2F%2Fapi.t.qq.com&_r=1382084292800&g_tk=77")
            .body;
    };
    const std::string a1 = albums(1);
    EXPECT_EQ(Count(a1, "\"num\""), 12u);
    EXPECT_NE(a1.find("\"num\":30,\"name\":\"\\u4e13\\u8f910\",\"type\":\"1\""), std::string::npos)
        << a1.substr(0, 200);
    EXPECT_EQ(Count(albums(2), "\"num\""), 1u);
    EXPECT_EQ(Count(albums(3), "\"num\""), 0u);

    auto posts = [&](const std::string& topic, int p) {
        return Fetch(*sim_, "api.t.qq.com",
                     "/asyn/gettopicalbum.php?op=2&uin=9999&page=" + std::to_string(p) +
                         "&n=24&topicid=" + topic + "&apiType=14&_r=1382325110273&g_tk=8170296")
            .body;
    };
    EXPECT_EQ(Count(posts("1", 1), "{\"id\":\""), 24u);
    EXPECT_EQ(Count(posts("1", 2), "{\"id\":\""), 6u);
    EXPECT_EQ(Count(posts("1001", 1), "{\"id\":\""), 1u);
    EXPECT_EQ(Count(posts("9999", 1), "{\"id\":\""), 0u);
}

TEST_F(ServicesSim, LoginSetsTheCookiesOfBothDomains) {
    Reply form =
        Fetch(*sim_, "xui.ptlogin2.qq.com", "/cgi-bin/xlogin?s_url=http%3A%2F%2Fuser.qzone.qq.com%2F");
    EXPECT_NE(form.body.find("name=\"u\""), std::string::npos);
    EXPECT_NE(form.body.find("type=\"password\" name=\"p\""), std::string::npos);
    EXPECT_NE(form.body.find("type=\"submit\""), std::string::npos);

    Reply wrong = Fetch(*sim_, "xui.ptlogin2.qq.com", "/cgi-bin/login", "", {}, "u=10001&p=bad");
    EXPECT_EQ(wrong.status, 200);
    EXPECT_EQ(wrong.headers.count("Set-Cookie"), 0u);

    Reply ok = Fetch(*sim_, "xui.ptlogin2.qq.com", "/cgi-bin/login", "", {}, "u=10001&p=pw1");
    EXPECT_EQ(ok.status, 302);
    std::multiset<std::string> cookies;
    for (auto [it, end] = ok.headers.equal_range("Set-Cookie"); it != end; ++it) cookies.insert(it->second);
    EXPECT_EQ(cookies.count("uin=o0000010001; Path=/; Domain=.qq.com"), 1u);
    EXPECT_EQ(cookies.count("pt2gguin=o0000010001; Path=/; Domain=.qq.com"), 1u);
    EXPECT_EQ(cookies.count("skey=" + AccountValue(*sim_, "10001", "skey") + "; Path=/; Domain=.qq.com"), 1u);

    const std::string next = ok.Header("Location");
    ASSERT_EQ(next.rfind("http://ptlogin2.qzone.qq.com/check_sig?", 0), 0u);
    Reply sig = FetchUrl(*sim_, next);
    EXPECT_EQ(sig.status, 200);
    EXPECT_NE(sig.body.find("logged in"), std::string::npos);
    std::multiset<std::string> qzone;
    for (auto [it, end] = sig.headers.equal_range("Set-Cookie"); it != end; ++it) qzone.insert(it->second);
    EXPECT_EQ(
        qzone.count("p_skey=" + AccountValue(*sim_, "10001", "p_skey") + "; Path=/; Domain=.qzone.qq.com"),
        1u);
    EXPECT_EQ(qzone.count("p_uin=o0000010001; Path=/; Domain=.qzone.qq.com"), 1u);
    EXPECT_EQ(FetchUrl(*sim_, next + "0").status, 403);

    // A GET submit with "remember" makes the cookies persistent.
    Reply kept = Fetch(*sim_, "xui.ptlogin2.qq.com", "/cgi-bin/login?u=10002&p=pw2&remember=1");
    EXPECT_NE(kept.Header("Set-Cookie").find("Max-Age="), std::string::npos);
}

}  // namespace
}  // namespace qm::sim::test
