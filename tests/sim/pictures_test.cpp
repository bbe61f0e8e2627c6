// Picture bytes and picture addresses: every picture is served only at the address a client derives
// from the published one with the services' replacements, with deterministic bytes of its format.
#include <gtest/gtest.h>

#include "support/SimTestClient.h"

namespace qm::sim::test {
namespace {

TEST(PictureBytes, RealSignaturesExactSizesDeterministic) {
    const std::pair<const char*, std::string> signatures[] = {
        {"jpg", "\xFF\xD8\xFF"}, {"png", "\x89PNG\r\n\x1a\n"}, {"gif", "GIF89a"}, {"bmp", "BM"}};
    for (const auto& [format, magic] : signatures) {
        for (size_t size : {600u, 4096u, 65539u, 200000u}) {
            const std::string a = MakePictureBytes("pic-1", size, format);
            EXPECT_EQ(a.size(), size) << format;
            EXPECT_EQ(a.compare(0, magic.size(), magic), 0) << format;
            EXPECT_EQ(a, MakePictureBytes("pic-1", size, format));
            EXPECT_NE(a, MakePictureBytes("pic-2", size, format));
        }
    }
    // JPEG ends with its end marker, PNG with IEND, GIF with its trailer: the padding sits inside.
    EXPECT_EQ(MakePictureBytes("x", 5000, "jpg").substr(4998), "\xFF\xD9");
    EXPECT_EQ(MakePictureBytes("x", 5000, "png").substr(5000 - 8, 4), "IEND");
    EXPECT_EQ(MakePictureBytes("x", 5000, "gif").back(), ';');
}

class PictureSim : public ::testing::Test {
protected:
    void SetUp() override {
        nlohmann::json s = nlohmann::json::parse(R"({
          "accounts": [{"uin": 10001, "password": "pw1"}],
          "qzone": [{"uin": 55555, "albums": [{"id": "A", "name": "a", "pictures": [
              {"id": "raw1", "kind": "raw", "format": "jpg", "size": 1234},
              {"id": "orig1", "kind": "origin", "raw_upload": 1, "format": "png", "size": 2345},
              {"id": "orig0", "kind": "origin", "raw_upload": 0, "format": "gif", "size": 999},
              {"id": "pre1", "kind": "pre", "format": "bmp", "size": 1500}]}],
             "moods": [{"text": "m", "pictures": 1}]}],
          "groups": [{"id": 777777, "members": [10001], "albums": [{"id": "G", "title": "g", "photos": [
              {"id": "g_raw", "kind": "rawurl"}, {"id": "g_hd", "kind": "hdurl"}, {"id": "g_b", "kind": "burl"}]}]}],
          "weibo": [{"name": "wb", "uin": 9999, "albums": [{"name": "w", "topicid": "5", "posts": [{"text": "t", "pictures": 1}]}]}]
        })");
        sim_ = std::make_unique<Simulator>(s);
        ASSERT_NE(sim_->Start(0), 0);
        photoList_ =
            Fetch(*sim_, "plist.photo.qzone.qq.com",
                  "/fcgi-bin/cgi_list_photo?g_tk=5381&hostUin=55555&topicId=A&pageStart=0&pageNum=500")
                .body;
    }
    // The piece of the photo list that belongs to a picture (from its "batchId" to the next one).
    std::string Piece(const std::string& id) {
        const size_t at = photoList_.find("\"lloc\" : \"" + id + "\"");
        const size_t start = photoList_.rfind("\"batchId\"", at);
        return photoList_.substr(start, photoList_.find("\"batchId\"", at) - start);
    }
    void ExpectServed(const std::string& url, const std::string& id) {
        Reply r = FetchUrl(*sim_, url);
        EXPECT_EQ(r.status, 200) << url;
        EXPECT_EQ(r.body, sim_->PictureBytes(id)) << url;
    }
    void ExpectNotServed(const std::string& url) { EXPECT_EQ(FetchUrl(*sim_, url).status, 404) << url; }
    static std::string Unescape(const std::string& s) { return ReplaceAll(s, "\\/", "/"); }

    std::unique_ptr<Simulator> sim_;
    std::string photoList_;
};

TEST_F(PictureSim, QZonePicturesOnlyAtTheDerivedAddress) {
    const std::string raw = Unescape(Between(Piece("raw1"), "\"raw\" : \"", "\""));
    ASSERT_NE(raw.find("/psbe?/"), std::string::npos);
    ExpectServed(ReplaceAll(raw, "/psbe?/", "/psb?/"), "raw1");
    ExpectNotServed(raw);
    EXPECT_EQ(sim_->PictureBytes("raw1").size(), 1234u);

    const std::string pre = Unescape(Between(Piece("raw1"), "\"pre\" : \"", "\""));
    ExpectServed(ReplaceAll(pre, "/a/", "/b/"), "raw1");  // the fallback address
    ExpectNotServed(pre);

    const std::string orig1 =
        ReplaceAll(Unescape(Between(Piece("orig1"), "\"origin_url\" : \"", "\"")), "/psbe?/", "/psb?/");
    ASSERT_NE(orig1.find("/o/"), std::string::npos);
    ExpectServed(ReplaceAll(orig1, "/o/", "/r/"), "orig1");
    ExpectNotServed(orig1);
    EXPECT_EQ(sim_->PictureAddress("orig1"), ReplaceAll(orig1, "/o/", "/r/"));

    // Without the raw-upload mark the origin address keeps its /o/.
    const std::string orig0 =
        ReplaceAll(Unescape(Between(Piece("orig0"), "\"origin_url\" : \"", "\"")), "/psbe?/", "/psb?/");
    ExpectServed(orig0, "orig0");
    ExpectNotServed(ReplaceAll(orig0, "/o/", "/r/"));

    EXPECT_EQ(Piece("pre1").find("\"raw\" : \""), std::string::npos);
    EXPECT_EQ(Piece("pre1").find("\"origin_url\" : \""), std::string::npos);
    ExpectServed(ReplaceAll(Unescape(Between(Piece("pre1"), "\"pre\" : \"", "\"")), "/a/", "/b/"), "pre1");
    EXPECT_EQ(sim_->PictureBytes("pre1").substr(0, 2), "BM");
}

TEST_F(PictureSim, CoversMoodGroupAndWeiboPictures) {
    const std::string albums =
        Fetch(*sim_, "xalist.photo.qzone.qq.com", "/fcgi-bin/fcg_list_album_v2?hostUin=55555&g_tk=5381").body;
    const std::string cover = Unescape(Between(albums, "\"pre\" : \"", "\""));
    Reply c = FetchUrl(*sim_, cover);
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(c.body.substr(0, 3), "\xFF\xD8\xFF");

    const std::string login = LoginCookies(*sim_, "10001");
    const std::string moods =
        Fetch(*sim_, "h5.qzone.qq.com",
              "/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msglist_v6?uin=55555&pos=0&num=20&g_tk=" +
                  std::to_string(QZoneToken(AccountValue(*sim_, "10001", "p_skey"))),
              login)
            .body;
    const std::string small = Unescape(Between(moods, "smallurl\":\"", "\""));
    ExpectServed(ReplaceAll(small, "/a/", "/b/"), "55555_mood1_1");
    ExpectNotServed(small);

    const std::string photos =
        Fetch(*sim_, "u.photo.qzone.qq.com",
              "/cgi-bin/upp/qun_list_photo_v2?qunId=777777&albumId=G&uin=10001&g_tk=" +
                  std::to_string(QZoneToken(AccountValue(*sim_, "10001", "skey"))) + "&start=0&num=500",
              login)
            .body;
    auto derive = [&](size_t piece) {
        size_t at = 0;
        for (size_t k = 0; k <= piece; ++k) at = photos.find("\"bheight\"", at + 1);
        std::string url = Between(photos, "\"rawurl\" : \"", "\"", at);
        if (url.empty()) url = Between(photos, "\"hdurl\" : \"", "\"", at);
        if (url.empty()) url = Between(photos, "\"burl\" : \"", "\"", at) + "/800";
        return ReplaceAll(ReplaceAll(Unescape(url), "/200/", "/"), "/200?", "/800?");
    };
    const char* ids[] = {"g_raw", "g_hd", "g_b"};
    for (size_t i = 0; i < 3; ++i) ExpectServed(derive(i), ids[i]);
    ExpectNotServed(Unescape(Between(photos, "\"rawurl\" : \"", "\"")));
    ExpectNotServed(Unescape(Between(photos, "\"burl\" : \"", "\"")));

    const std::string posts =
        Fetch(*sim_, "api.t.qq.com", "/asyn/gettopicalbum.php?op=2&uin=9999&page=1&n=24&topicid=5").body;
    const std::string url = Unescape(Between(posts, "{\"url\":\"", "\""));
    ExpectServed(url + "/2000", "wb_5_1_1");
    ExpectNotServed(url);
    const std::string albumsW =
        Fetch(*sim_, "api.t.qq.com", "/asyn/gettopicalbum.php?op=1&uin=9999&page=1&n=12").body;
    EXPECT_EQ(FetchUrl(*sim_, Unescape(Between(albumsW, "image\":[\"", "\"")) + "/240").status, 200);
}

}  // namespace
}  // namespace qm::sim::test
