// QQ group albums and photos against canned answers on a loopback server: the login number from
// the guin cookie, album paging, creation times, address choice and names.
#include <gtest/gtest.h>

#include "CannedSite.h"
#include "sites/QQGroup.h"
#include "sites/Token.h"

namespace qm {
namespace {

using test::CannedRequest;
using test::CannedSite;

std::string Album(int n, const std::string& title, const std::string& created) {
    return "{\"coverurl\" : \"http:\\/\\/qungz.photo.store.qq.com\\/cover" + std::to_string(n) +
           "\\/200\",\n\"createtime\" : \"" + created + "\",\n\"id\" : \"A" + std::to_string(n) +
           "\",\n\"photocnt\" : " + std::to_string(n * 3) + ",\n\"title\" : \"" + title + "\"\n}";
}

std::string AlbumPage(int from, int count) {
    std::string s = "_Callback({\"code\" : 0,\"data\" : {\"album\" : [";
    for (int i = from; i < from + count; ++i) {
        if (i > from) s += ",";
        s += Album(i, "album " + std::to_string(i), "2013-10-18 12:30:05");
    }
    return s + "]}});";
}

class Group : public ::testing::Test {
protected:
    void SetUp() override { test::ClearCookies(); }
    void TearDown() override { test::ClearCookies(); }
    test::FetcherState f;
};

TEST_F(Group, AlbumsFromOnePageWithLoginNumberAndCreationTime) {
    test::SetTestCookies("qq.com", "guin=o0012345; skey=@grp");
    CannedSite site([](const CannedRequest& r) {
        if (r.Param("start") != "0") return std::string("_Callback({\"code\" : 0,\"data\" : {}});");
        return "_Callback({\"code\" : 0,\"data\" : {\"album\" : [" +
               Album(1, "家庭聚会", "2013-10-18 12:30:05") + "," + Album(2, "", "2014-01-01 00:00:00") + "," +
               Album(3, "出游", "") + "]}});";
    });
    FetchGroupAlbums(f.ctx, u"778899", f.albums);

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    const unsigned gtk = ComputeGTk(u"@grp");
    EXPECT_EQ(reqs[0].host, "u.photo.qzone.qq.com");
    // Exactly one leading zero is dropped from the guin value.
    EXPECT_EQ(reqs[0].target,
              "/cgi-bin/upp/qun_list_album_v2?qunId=778899&uin=012345&hostUin=012345&start=0"
              "&num=60&userInfo=1&format=jsonp&platform=qzone&inCharset=utf-8&outCharset=utf-8"
              "&source=jsapi&g_tk=" +
                  std::to_string(gtk));
    EXPECT_EQ(reqs[1].Param("start"), "60");
    EXPECT_EQ(ToUtf8(f.ctx.route.photoHost), "012345");

    const auto& albums = f.albums.albums;
    ASSERT_EQ(albums.size(), 2u);  // the untitled album is skipped
    EXPECT_EQ(ToUtf8(albums[0].Name), "家庭聚会");
    EXPECT_EQ(ToUtf8(albums[0].ExtraText1), "2013-10-18 12：30：05");
    EXPECT_EQ(ToUtf8(albums[0].CoverUrl), "http://qungz.photo.store.qq.com/cover1/200");
    EXPECT_EQ(ToUtf8(albums[0].ListParam), "qunId=778899&albumId=A1&uin=012345&g_tk=" + std::to_string(gtk));
    EXPECT_EQ(albums[0].PictureCount, 3);
    EXPECT_EQ(albums[0].PrivacyFlags, 0u);
    EXPECT_EQ(ToUtf8(albums[1].Name), "出游");
    EXPECT_EQ(albums[1].ExtraText1, u"");
    EXPECT_EQ(albums[1].PictureCount, 9);
}

TEST_F(Group, GuinWithoutLeadingZeroKeepsDigits) {
    test::SetTestCookies("qq.com", "skey=@grp; guin=o912345");
    CannedSite site([](const CannedRequest&) { return std::string(); });
    FetchGroupAlbums(f.ctx, u"778899", f.albums);
    ASSERT_EQ(site.Requests().size(), 1u);  // an empty body ends the fetch
    EXPECT_EQ(site.Requests()[0].Param("uin"), "912345");
}

TEST_F(Group, ExactlySixtyAlbumsNeedsSecondPage) {
    test::SetTestCookies("qq.com", "guin=o10001; skey=@grp");
    CannedSite site([](const CannedRequest& r) {
        return r.Param("start") == "0" ? AlbumPage(0, 60) : std::string("_Callback({\"code\" : 0});");
    });
    FetchGroupAlbums(f.ctx, u"5566", f.albums);
    ASSERT_EQ(site.Requests().size(), 2u);
    EXPECT_EQ(site.Requests()[1].Param("start"), "60");
    EXPECT_EQ(f.albums.Count(), 60u);
}

TEST_F(Group, NotLoggedInEndsFetchAndStopEndsAfterCurrentAlbum) {
    test::SetTestCookies("qq.com", "guin=o10001; skey=@grp");
    {
        CannedSite site([](const CannedRequest&) {
            return std::string("_Callback({\"code\":-3000,\"message\":\"对不起，您尚未登录\"});") +
                   Album(1, "x", "");
        });
        FetchGroupAlbums(f.ctx, u"5566", f.albums);
        EXPECT_EQ(site.Requests().size(), 1u);
        EXPECT_EQ(f.albums.Count(), 0u);
        EXPECT_EQ(f.ctx.reason, ListReason::LoginNeeded);
    }
    {
        // The user presses stop while the first album is being added.
        class StoppingSink final : public AlbumSink {
        public:
            explicit StoppingSink(test::FetcherState& f) : f_(f) {}
            void Album(const ST_PERLISTRECORD& rec) override {
                f_.albums.Album(rec);
                f_.stop.request_stop();
            }
            std::size_t Count() const override { return f_.albums.Count(); }

        private:
            test::FetcherState& f_;
        } stopping(f);
        CannedSite site([](const CannedRequest&) { return AlbumPage(0, 60); });
        FetchGroupAlbums(f.ctx, u"5566", stopping);
        EXPECT_EQ(site.Requests().size(), 1u);
        EXPECT_EQ(f.albums.Count(), 1u);
    }
}

std::string Photo(const std::string& fields) {
    return "{\"bheight\" : 600,\n" + fields + "\n}";
}

TEST_F(Group, PhotoAddressChoiceAndNames) {
    ST_PERLISTRECORD rec;
    rec.Name = u"家庭聚会";
    rec.ListParam = u"qunId=778899&albumId=A1&uin=12345&g_tk=42";
    f.Use(rec);
    CannedSite site([](const CannedRequest& r) {
        if (r.Param("start") != "0") return std::string("_Callback({\"data\" : {\"photos\" : []}});");
        return "_Callback({\"data\" : {\"photos\" : [" +
               Photo(
                   "\"rawurl\" : \"http:\\/\\/r.qpic.cn\\/raw\\/200\\/one\", \"hdurl\" : "
                   "\"http:\\/\\/h\\/x\","
                   " \"name\" : \"  first  \", \"desc\" : \"d1\"") +
               "," +
               Photo(
                   "\"rawurl\" : \"\", \"hdurl\" : \"http:\\/\\/h.qpic.cn\\/hd\\/200?two\", \"name\" : \"\", "
                   "\"desc\" : \"second desc\"") +
               "," + Photo("\"burl\" : \"http:\\/\\/b.qpic.cn\\/b\\/200\", \"name\" : \"third\"") + "," +
               Photo("\"burl\" : \"http:\\/\\/b.qpic.cn\\/c\\/200?four\", \"name\" : \"fourth\"") + "]}});";
    });
    FetchGroupPhotos(f.ctx, rec, f.sink);

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].host, "u.photo.qzone.qq.com");
    EXPECT_EQ(reqs[0].path, "/cgi-bin/upp/qun_list_photo_v2");
    const std::string prefix =
        "/cgi-bin/upp/qun_list_photo_v2?getCommentCnt=5&format=jsonp&platform=qzone&inCharset=utf-8"
        "&outCharset=utf-8&source=jsapi&qunId=778899&albumId=A1&uin=12345&g_tk=42&t=";
    EXPECT_EQ(reqs[0].target.substr(0, prefix.size()), prefix);
    EXPECT_NE(reqs[0].target.find("&start=0&num=500"), std::string::npos);
    EXPECT_NE(reqs[1].target.find("&start=500&num=500"), std::string::npos);

    // rawurl, then hdurl, then burl + /800; /200/ and /200? rewritten.
    EXPECT_EQ(f.Urls(),
              (std::vector<std::string>{"http://r.qpic.cn/raw/one", "http://h.qpic.cn/hd/800?two",
                                        "http://b.qpic.cn/b/800", "http://b.qpic.cn/c/800?four/800"}));
    // The name is preferred (trimmed), the description when there is no name.
    EXPECT_EQ(f.Names(),
              (std::vector<std::string>{"first.jpg", "second desc.jpg", "third.jpg", "fourth.jpg"}));
}

TEST_F(Group, DescriptionFirstWhenOriginalNameModeIsNotOne) {
    f.ctx.ext.OriginalNameMode = 0;
    ST_PERLISTRECORD rec;
    rec.Name = u"a";
    rec.ListParam = u"qunId=1&albumId=A&uin=2&g_tk=3";
    f.Use(rec);
    CannedSite site([](const CannedRequest& r) {
        if (r.Param("start") != "0") return std::string();
        return "[" + Photo("\"rawurl\" : \"http:\\/\\/r\\/1\", \"name\" : \"nm\", \"desc\" : \"ds\"") + "," +
               Photo("\"rawurl\" : \"http:\\/\\/r\\/2\", \"name\" : \"only name\", \"desc\" : \"\"") + "]";
    });
    FetchGroupPhotos(f.ctx, rec, f.sink);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"ds.jpg", "only name.jpg"}));
}

}  // namespace
}  // namespace qm
