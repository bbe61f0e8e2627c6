// The QZone services of the simulator: route, album lists, photo lists, moods; access and tokens;
// GBK and gzip answers.
#include <gtest/gtest.h>

#include "support/SimTestClient.h"

namespace qm::sim::test {
namespace {

std::string Gtk(const std::string& key) {
    return std::to_string(QZoneToken(key));
}

class QZoneSim : public ::testing::Test {
protected:
    void SetUp() override {
        nlohmann::json s = nlohmann::json::parse(R"({
          "accounts": [{"uin": 10001, "password": "pw1"}, {"uin": 10002, "password": "pw2"},
                       {"uin": 55555, "password": "own"}],
          "qzone": [
            {"uin": 55555, "friends": [10001], "albums": [
              {"id": "Aopen", "name": "公开/相册", "priv": 1, "pictures": 4},
              {"id": "Abig", "name": "大", "generate": {"count": 1001, "size": 300, "name": "图%d"}},
              {"id": "Apriv", "name": "私", "priv": 3, "pictures": 1},
              {"id": "Afriend", "name": "友", "priv": 4, "pictures": 1},
              {"id": "Asecret", "name": "密", "priv": 5, "password": "1234", "pictures": 1}],
             "moods": {"count": 45, "text": "心情%d", "pictures": 1}},
            {"uin": 66666, "space": "private", "route": "sz", "idcno": "", "albums": [{"id": "Bx", "name": "x", "pictures": 1}]}
          ]})");
        sim_ = std::make_unique<Simulator>(s);
        ASSERT_NE(sim_->Start(0), 0);
    }
    Reply AlbumList(const std::string& host, const std::string& cookies, const std::string& gtk,
                    const std::string& owner = "55555") {
        return Fetch(*sim_, host,
                     "/fcgi-bin/fcg_list_album_v2?hostUin=" + owner +
                         "&format=jsonp&plat=qzone&source=qzone&t=0.3%0A&g_tk=" + gtk,
                     cookies);
    }
    // The GBK variant's photo list on the route's photo host (token of skey only).
    Reply PhotoList(const std::string& album, int start, const std::string& cookies, const std::string& gtk,
                    const std::string& charset = "gbk") {
        return Fetch(
            *sim_, "xaplist.photo.qzone.qq.com",
            "/fcgi-bin/cgi_list_photo?g_tk=" + gtk +
                "&callback=shine0_Callback&mode=0&idcNum=102&hostUin=55555&topicId=" + album +
                "&noTopic=0&uin=10001&pageStart=" + std::to_string(start) +
                "&pageNum=500&singleurl=1&notice=0&appid=4&inCharset=" + charset + "&outCharset=" + charset +
                "&source=qzone&plat=qzone&outstyle=json&format=jsonp&json_esc=1&callbackFun=shine0&_=0.5%0A",
            cookies);
    }
    // The UTF-8 variant's photo list, on the user site or through the proxy (p_skey token accepted).
    Reply Utf8PhotoList(bool proxy, const std::string& album, int start, const std::string& cookies,
                        const std::string& gtk) {
        const std::string query =
            "?t=1000123&mode=0&idcNum=102&hostUin=55555&topicId=" + album +
            "&noTopic=0&uin=10001&pageStart=" + std::to_string(start) +
            "&pageNum=400&inCharset=utf-8&outCharset=utf-8&format=jsonp&callbackFun=shine0&g_tk=" + gtk;
        if (proxy) {
            return Fetch(*sim_, "h5.qzone.qq.com",
                         "/proxy/domain/plist.photo.qzone.qq.com/fcgi-bin/cgi_list_photo" + query, cookies);
        }
        return Fetch(*sim_, "user.qzone.qq.com", "/p/plist.photo/fcgi-bin/cgi_list_photo" + query, cookies);
    }
    std::string Skey(const std::string& uin) { return AccountValue(*sim_, uin, "skey"); }
    std::string Pskey(const std::string& uin) { return AccountValue(*sim_, uin, "p_skey"); }

    std::unique_ptr<Simulator> sim_;
};

TEST(QZoneToken, HashesTheKey) {
    EXPECT_EQ(QZoneToken(""), 5381u);
    EXPECT_EQ(QZoneToken("abc"), 193485963u);
}

TEST_F(QZoneSim, RouteAnswersOnBothPathsWithTheOwnersDefaultEntry) {
    for (const auto& [host, target] :
         {std::pair<std::string, std::string>{"route.store.qq.com",
                                              "/GetRoute?UIN=55555&version=2&type=json"},
          {"user.qzone.qq.com", "/q/route.store/GetRoute?UIN=o055555&type=json&version=2"}}) {
        Reply r = Fetch(*sim_, host, target);
        ASSERT_EQ(r.status, 200) << host;
        EXPECT_EQ(Between(r.body, "idcno\":\"", ","), "102\"");
        EXPECT_EQ(Between(r.body, "default\":\"", "\""), "xa");
        const size_t entry = r.body.find("xa\":", r.body.find("default\":\"xa\"") + 13);
        EXPECT_EQ(Between(r.body, "\"nu\":\"", "\"", entry), "xaview.photo.qzone.qq.com");
        EXPECT_EQ(Between(r.body, "\"p\":\"", "\"", entry), "xanewp.photo.qzone.qq.com");
        EXPECT_EQ(Between(r.body, "\"s\":\"", "\"", entry), "xastatic.photo.qzone.qq.com");
    }
    Reply other = Fetch(*sim_, "route.store.qq.com", "/GetRoute?UIN=66666&version=2&type=json");
    EXPECT_EQ(other.body.find("idcno"), std::string::npos);
    EXPECT_NE(other.body.find("\"default\":\"sz\""), std::string::npos);
}

TEST_F(QZoneSim, AlbumListsArePrettyJsonpWithEscapedSlashes) {
    Reply v2 = AlbumList("xalist.photo.qzone.qq.com", "", "5381");
    ASSERT_EQ(v2.status, 200);
    EXPECT_EQ(v2.body.rfind("_Callback(", 0), 0u);
    EXPECT_EQ(Count(v2.body, "\"id\" : \""), 5u);
    // Without outCharset the first album-list interface answers in GBK.
    EXPECT_NE(v2.body.find(ToGbk("\"name\" : \"公开\\/相册\"")), std::string::npos);
    EXPECT_NE(v2.body.find("\"priv\" : 5,"), std::string::npos);
    EXPECT_NE(v2.body.find("\"total\" : 1001,"), std::string::npos);
    EXPECT_NE(v2.body.find("\"pre\" : \"http:\\/\\/"), std::string::npos);
    EXPECT_EQ(v2.body.find("\"msg\" : \""), std::string::npos);

    Reply v3 = Fetch(*sim_, "alist.photo.qzone.qq.com",
                     "/fcgi-bin/fcg_list_album_v3?g_tk=5381&callback=shine1_Callback&hostUin=55555&appid=4"
                     "&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&format=jsonp&idcNum=102&"
                     "callbackFun=shine1&_=0.1%0A");
    EXPECT_EQ(v3.body.rfind("shine1_Callback(", 0), 0u);
    EXPECT_EQ(Count(v3.body, "\"id\" : \""), 5u);
    EXPECT_NE(v3.body.find("\"name\" : \"公开\\/相册\""), std::string::npos);

    // Only the album hosts the route names serve album lists.
    EXPECT_EQ(AlbumList("route.store.qq.com", "", "5381").status, 404);
}

TEST_F(QZoneSim, AlbumListRefusesWrongTokensAndClosedSpaces) {
    Reply wrong = AlbumList("xalist.photo.qzone.qq.com", LoginCookies(*sim_, "10001"), "5381");
    EXPECT_NE(wrong.body.find("\"msg\" : \""), std::string::npos);
    EXPECT_EQ(Count(wrong.body, "\"id\" : \""), 0u);
    // The album list checks skey, not p_skey.
    Reply pskey = AlbumList("xalist.photo.qzone.qq.com", LoginCookies(*sim_, "10001"), Gtk(Pskey("10001")));
    EXPECT_NE(pskey.body.find("\"msg\" : \""), std::string::npos);

    Reply closed = AlbumList("xalist.photo.qzone.qq.com", "", "5381", "66666");
    EXPECT_NE(closed.body.find("\"msg\" : \""), std::string::npos);
    // A forged uin cookie without the login's key is not the owner.
    Reply forged =
        AlbumList("xalist.photo.qzone.qq.com", "uin=o0000066666; skey=@forged", Gtk("@forged"), "66666");
    EXPECT_NE(forged.body.find("\"msg\" : \""), std::string::npos);
}

TEST_F(QZoneSim, PhotoListPagesByPageStartAndPageNum) {
    const std::string cookies = LoginCookies(*sim_, "10001");
    const std::string gtk = Gtk(Skey("10001"));
    EXPECT_EQ(Count(PhotoList("Abig", 0, cookies, gtk).body, "\"batchId\""), 500u);
    EXPECT_EQ(Count(PhotoList("Abig", 500, cookies, gtk).body, "\"batchId\""), 500u);
    Reply last = PhotoList("Abig", 1000, cookies, gtk);
    EXPECT_EQ(Count(last.body, "\"batchId\""), 1u);
    EXPECT_NE(last.body.find(ToGbk("\"name\" : \"图1001\"")), std::string::npos);
    EXPECT_EQ(Count(PhotoList("Abig", 1500, cookies, gtk).body, "\"batchId\""), 0u);
    // A page asked again is built once and kept: the same bytes, and each range its own.
    const std::string second = PhotoList("Abig", 500, cookies, gtk).body;
    EXPECT_EQ(PhotoList("Abig", 500, cookies, gtk).body, second);
    EXPECT_NE(PhotoList("Abig", 0, cookies, gtk).body, second);

    for (bool proxy : {false, true}) {
        EXPECT_EQ(Count(Utf8PhotoList(proxy, "Abig", 800, cookies, Gtk(Pskey("10001"))).body, "\"batchId\""),
                  201u);
        EXPECT_EQ(Count(Utf8PhotoList(proxy, "Abig", 0, cookies, Gtk(Skey("10001"))).body, "\"batchId\""),
                  400u);
    }
}

TEST_F(QZoneSim, PhotoListChecksTheTokenOfItsInterface) {
    const std::string cookies = LoginCookies(*sim_, "10001");
    // The photo host takes the skey token only; a p_skey token is refused.
    EXPECT_EQ(Count(PhotoList("Aopen", 0, cookies, Gtk(Pskey("10001"))).body, "\"batchId\""), 0u);
    EXPECT_EQ(Count(PhotoList("Aopen", 0, cookies, "12345").body, "\"batchId\""), 0u);
    EXPECT_EQ(Count(PhotoList("Aopen", 0, "", "5381").body, "\"batchId\""), 4u);
    EXPECT_EQ(Count(Utf8PhotoList(true, "Aopen", 0, cookies, "5381").body, "\"batchId\""), 0u);
}

TEST_F(QZoneSim, PrivacyDecidesWhoSeesAnAlbum) {
    auto seen = [&](const std::string& album, const std::string& uin) {
        const std::string cookies = uin.empty() ? "" : LoginCookies(*sim_, uin);
        const std::string gtk = uin.empty() ? "5381" : Gtk(Skey(uin));
        return Count(PhotoList(album, 0, cookies, gtk).body, "\"batchId\"") > 0;
    };
    EXPECT_FALSE(seen("Apriv", ""));
    EXPECT_FALSE(seen("Apriv", "10001"));
    EXPECT_TRUE(seen("Apriv", "55555"));
    EXPECT_TRUE(seen("Afriend", "10001"));
    EXPECT_FALSE(seen("Afriend", "10002"));
    EXPECT_FALSE(seen("Afriend", ""));
    EXPECT_FALSE(seen("Nosuch", "55555"));
}

TEST_F(QZoneSim, PasswordAlbumOpensForTheLoginThatEnteredThePassword) {
    const std::string cookies = LoginCookies(*sim_, "10002");
    const std::string gtk = Gtk(Skey("10002"));
    Reply refused = PhotoList("Asecret", 0, cookies, gtk);
    EXPECT_NE(refused.body.find(ToGbk("\"message\":\"对不起")), std::string::npos);

    Reply page = Fetch(*sim_, "user.qzone.qq.com", "/55555/photo/Asecret", cookies);
    EXPECT_NE(page.body.find("name=\"password\""), std::string::npos);
    Reply wrong = Fetch(*sim_, "user.qzone.qq.com", "/55555/photo/Asecret", cookies, {}, "password=0000");
    EXPECT_NE(wrong.body.find("密码错误"), std::string::npos);
    EXPECT_EQ(Count(PhotoList("Asecret", 0, cookies, gtk).body, "\"batchId\""), 0u);

    Fetch(*sim_, "user.qzone.qq.com", "/55555/photo/Asecret", cookies, {}, "password=1234");
    EXPECT_EQ(Count(PhotoList("Asecret", 0, cookies, gtk).body, "\"batchId\""), 1u);
    // Another login still gets the refusal.
    EXPECT_EQ(
        Count(PhotoList("Asecret", 0, LoginCookies(*sim_, "10001"), Gtk(Skey("10001"))).body, "\"batchId\""),
        0u);
    sim_->ResetPasswords();
    EXPECT_EQ(Count(PhotoList("Asecret", 0, cookies, gtk).body, "\"batchId\""), 0u);
}

TEST_F(QZoneSim, ViewAlbumAnswersAllPicturesInGbk) {
    Reply r = Fetch(
        *sim_, "xaview.photo.qzone.qq.com",
        "/cgi-bin/common/cgi_view_album_v2?inCharset=gbk&outCharset=gbk&format=jsonp&plat=qzone&source=qzone"
        "&idcNum=102&hostUin=55555&albumId=Abig&t=0.2%0A&g_tk=5381&uin=0");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(Count(r.body, "\"batchId\""), 1001u);
    EXPECT_NE(r.body.find(ToGbk("\"name\" : \"图77\"")), std::string::npos);
    EXPECT_EQ(r.body.find("图77"), std::string::npos);
    EXPECT_NE(r.Header("Content-Type").find("gbk"), std::string::npos);
}

TEST_F(QZoneSim, GzipOnlyWhenTheRequestAcceptsIt) {
    const std::string target = "/fcgi-bin/fcg_list_album_v2?hostUin=55555&format=jsonp&g_tk=5381";
    Reply plain = Fetch(*sim_, "xalist.photo.qzone.qq.com", target);
    EXPECT_EQ(plain.Header("Content-Encoding"), "");
    Reply zipped =
        Fetch(*sim_, "xalist.photo.qzone.qq.com", target, "", {{"Accept-Encoding", "gzip, deflate"}});
    EXPECT_EQ(zipped.Header("Content-Encoding"), "gzip");
    EXPECT_EQ(Gunzip(zipped.body), plain.body);

    Reply gbk = PhotoList("Aopen", 0, "", "5381");
    Reply gbkZipped =
        Fetch(*sim_, "xaplist.photo.qzone.qq.com",
              "/fcgi-bin/cgi_list_photo?g_tk=5381&hostUin=55555&topicId=Aopen&pageStart=0&pageNum=500"
              "&inCharset=gbk&outCharset=gbk&callback=shine0_Callback&mode=0&idcNum=102&noTopic=0&uin=10001"
              "&singleurl=1&notice=0&appid=4&source=qzone&plat=qzone&outstyle=json&format=jsonp&json_esc=1"
              "&callbackFun=shine0&_=0.5%0A",
              "", {{"Accept-Encoding", "gzip"}});
    EXPECT_EQ(Count(Gunzip(gbkZipped.body), "\"batchId\""), 4u);
}

TEST_F(QZoneSim, MoodsPageByPosAndNumAndNeedALogin) {
    const std::string cookies = LoginCookies(*sim_, "10001");
    auto page = [&](int pos, const std::string& gtk, const std::string& c) {
        return Fetch(*sim_, "h5.qzone.qq.com",
                     "/proxy/domain/taotao.qq.com/cgi-bin/"
                     "emotion_cgi_msglist_v6?uin=55555&inCharset=utf-8&outCharset=utf-8"
                     "&hostUin=55555&notice=0&sort=0&pos=" +
                         std::to_string(pos) +
                         "&num=20&cgi_host=http%3A%2F%2Ftaotao.qq.com%2Fcgi-bin%2Femotion_cgi_msglist_v6&"
                         "code_version=1"
                         "&format=jsonp&need_private_comment=1&g_tk=" +
                         gtk,
                     c);
    };
    Reply first = page(0, Gtk(Pskey("10001")), cookies);
    EXPECT_EQ(Count(first.body, "\"certified\""), 20u);
    EXPECT_NE(first.body.find("\"content\":\"心情1\""), std::string::npos);
    EXPECT_NE(first.body.find("\"smallurl\":\"http:\\/\\/"), std::string::npos);
    EXPECT_EQ(Count(page(20, Gtk(Skey("10001")), cookies).body, "\"certified\""), 20u);
    EXPECT_EQ(Count(page(40, Gtk(Pskey("10001")), cookies).body, "\"certified\""), 5u);

    Reply anonymous = page(0, "5381", "");
    EXPECT_NE(anonymous.body.find("\"code\":-3000"), std::string::npos);
    EXPECT_NE(anonymous.body.find("\"message\":\""), std::string::npos);
    EXPECT_EQ(Count(anonymous.body, "\"certified\""), 0u);
    EXPECT_NE(page(0, "1", cookies).body.find("\"code\":-3000"), std::string::npos);
}

}  // namespace
}  // namespace qm::sim::test
