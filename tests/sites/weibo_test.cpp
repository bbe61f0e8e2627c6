// Tencent Weibo topic albums against canned answers on a loopback server: the login number from
// the account page, album pages, typed albums, the continuation tail and the post-text fallbacks.
#include <gtest/gtest.h>

#include "CannedSite.h"
#include "sites/TencentWeibo.h"

namespace qm {
namespace {

using test::CannedRequest;
using test::CannedSite;

constexpr char kAccountPage[] =
    "<html><script>MI.App.user={\"uin\":\"1111\"};MI.App.guest={\"name\":\"alice\",\"uin\":\"987654\","
    "\"nick\":\"A\"};</script></html>";

// Album answers write "num" first, then the name (with \u escapes), type or topic id, and images.
constexpr char kAlbums[] =
    "{\"ret\":0,\"data\":{\"list\":["
    "{\"num\":12,\"name\":\"\\u65c5\\u884c\",\"topicid\":\"7001\",\"image\":[\"http:\\/\\/t1.qpic.cn\\/"
    "c1\"]},"
    "{\"num\":5,\"name\":\"my "
    "pictures\",\"type\":\"mypic\",\"topicid\":\"\",\"image\":[\"http:\\/\\/t1.qpic.cn\\/c2\"]},"
    "{\"num\":3,\"name\":\"\",\"topicid\":\"7003\",\"image\":[\"http:\\/\\/t1.qpic.cn\\/c3\"]}"
    "]}}";

TEST(Weibo, AlbumsFromAccountPageAndAlbumPages) {
    test::FetcherState f;
    CannedSite site([](const CannedRequest& r) -> std::string {
        if (r.host == "t.qq.com") return kAccountPage;
        return r.Param("page") == "1" ? kAlbums : "{\"ret\":0,\"data\":{\"list\":[]}}";
    });
    FetchWeiboAlbums(f.ctx, u"alice", f.albums);

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].host, "t.qq.com");
    EXPECT_EQ(reqs[0].target, "/app/qzphoto/alice?preview");
    EXPECT_EQ(reqs[1].host, "api.t.qq.com");
    const std::string prefix =
        "/asyn/gettopicalbum.php?op=1&uin=987654&page=1&n=12&apiType=14"
        "&apiHost=http%3A%2F%2Fapi.t.qq.com&_r=1382084292800&g_tk=";
    EXPECT_EQ(reqs[1].target.substr(0, prefix.size()), prefix);
    EXPECT_EQ(reqs[2].Param("page"), "2");
    EXPECT_EQ(reqs[1].headers.at("referer"), "http://api.t.qq.com/proxy.html");
    EXPECT_EQ(ToUtf8(f.ctx.route.photoHost), "987654");

    const auto& albums = f.albums.albums;
    ASSERT_EQ(albums.size(), 2u);  // the nameless album is skipped
    EXPECT_EQ(ToUtf8(albums[0].Name), "旅行");
    EXPECT_EQ(ToUtf8(albums[0].ListParam), "7001");
    EXPECT_EQ(albums[0].PictureCount, 12);
    EXPECT_EQ(ToUtf8(albums[0].CoverUrl), "http://t1.qpic.cn/c1/240");
    EXPECT_EQ(ToUtf8(albums[1].ListParam), "mypic");  // a typed album is listed by its type
    EXPECT_EQ(albums[1].PictureCount, -1);
    EXPECT_EQ(ToUtf8(albums[1].CoverUrl), "http://t1.qpic.cn/c2/240");
}

TEST(Weibo, AccountPageWithoutGuestGivesEmptyLoginNumber) {
    test::FetcherState f;
    CannedSite site([](const CannedRequest& r) -> std::string {
        if (r.host == "t.qq.com") return "<html>{\"uin\":\"1111\"}</html>";
        return "{}";
    });
    FetchWeiboAlbums(f.ctx, u"bob", f.albums);
    ASSERT_EQ(site.Requests().size(), 2u);
    EXPECT_EQ(site.Requests()[1].Param("uin"), "");
    EXPECT_EQ(f.albums.Count(), 0u);
}

std::string Post(const std::string& id, const std::string& content, const std::string& realtime,
                 const std::string& forwarded, int pictures) {
    std::string s = "{\"id\":\"" + id + "\",\"content\":\"" + content + "\",\"realtime\":" + realtime +
                    ",\"source\":{\"content\":\"" + forwarded + "\",\"nick\":\"x\"},\"image\":[";
    for (int i = 0; i < pictures; ++i)
        s += std::string(i ? "," : "") + "{\"url\":\"http:\\/\\/t2.qpic.cn\\/mblogpic\\/" + id + "_" +
             std::to_string(i) + "\",\"w\":1}";
    return s + "]}";
}

TEST(Weibo, PhotoPagesTailAndNames) {
    test::FetcherState f;
    f.ctx.route.photoHost = u"987654";
    f.ctx.weiboId = u"alice";
    ST_PERLISTRECORD rec;
    rec.Name = u"旅行";
    rec.ListParam = u"mypic";
    f.Use(rec);

    CannedSite site([](const CannedRequest& r) -> std::string {
        if (r.Param("page") == "1")
            return "{\"data\":{\"info\":[" +
                   Post("1", "Hi <a href=\\\"x\\\">#trip#<\\/a> \\u4e2d", "1382000001", "", 2) + "," +
                   Post("2", "", "1382000002", "forwarded words", 1) + "," +
                   Post("3", "", "1382000003", "", 1) + "]}}";
        if (r.Param("page") == "2")
            return "{\"data\":{\"info\":[" + Post("4", "last", "1382000004", "", 1) + "]}}";
        return "{\"data\":{}}";
    });
    FetchWeiboPhotos(f.ctx, rec, f.sink);

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].host, "api.t.qq.com");
    EXPECT_EQ(reqs[0].target,
              "/asyn/gettopicalbum.php?op=2&uin=987654&page=1&n=24&topicid=mypic&apiType=14"
              "&apiHost=http%3A%2F%2Fapi.t.qq.com&_r=1382325110273&g_tk=8170296");
    // From page 2 on, the tail of the previous page's last post.
    const std::string page2 =
        "/asyn/gettopicalbum.php?op=2&uin=987654&page=2&n=24&topicid=mypic&apiType=14"
        "&apiHost=http%3A%2F%2Fapi.t.qq.com&_r=1382325110273&g_tk=8170296&time=1382000003&r=";
    EXPECT_EQ(reqs[1].target.substr(0, page2.size()), page2);
    EXPECT_EQ(reqs[1].target.substr(reqs[1].target.size() - 8), "&u=alice");
    EXPECT_EQ(reqs[2].Param("time"), "1382000004");

    EXPECT_EQ(f.Urls(), (std::vector<std::string>{
                            "http://t2.qpic.cn/mblogpic/1_0/2000", "http://t2.qpic.cn/mblogpic/1_1/2000",
                            "http://t2.qpic.cn/mblogpic/2_0/2000", "http://t2.qpic.cn/mblogpic/3_0/2000",
                            "http://t2.qpic.cn/mblogpic/4_0/2000"}));
    // Tags stripped and escapes decoded; then the forwarded text; then the album name.
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"Hi #trip# 中.jpg", "Hi #trip# 中(1).jpg",
                                                   "forwarded words.jpg", "旅行.jpg", "last.jpg"}));
}

TEST(Weibo, StopAfterPictureEndsCall) {
    test::FetcherState f;
    ST_PERLISTRECORD rec;
    rec.Name = u"a";
    rec.ListParam = u"7001";
    f.Use(rec);
    f.sink.onPicture = [&f] { f.stop.request_stop(); };
    CannedSite site([](const CannedRequest&) -> std::string {
        return "{\"info\":[" + Post("1", "x", "1", "", 3) + "]}";
    });
    FetchWeiboPhotos(f.ctx, rec, f.sink);
    EXPECT_EQ(site.Requests().size(), 1u);
    EXPECT_EQ(f.Queued(), 1u);
}

}  // namespace
}  // namespace qm
