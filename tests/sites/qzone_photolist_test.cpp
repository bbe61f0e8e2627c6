// QZone photo list, both interfaces, against canned photo-list answers on a loopback server: the
// addresses asked (interface choice, paging, token and login number), the view-album fallback, the
// password question, and how each picture's best and fallback addresses are chosen.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "CannedSite.h"
#include "sites/QZonePhotoList.h"
#include "sites/Token.h"

namespace qm {
namespace {

using test::CannedRequest;
using test::CannedSite;

// The canned server hangs in its stop when it never had a connection: a test that expects no
// request pings it once before it goes.
void Ping() {
    ST_URLREQUEST req(u"http://ping.example.qq.com/ping");
    ST_URLRESPONSE resp;
    FetchUrl(req, resp, 0);
}

constexpr const char* kPhotoHost = "plist.photo.example.qq.com";
constexpr const char* kViewHost = "view.photo.example.qq.com";
constexpr const char* kMissing = "\x01missing";

struct Pic {
    std::string name, desc, raw, origin, pre;
    int rawUpload = 0;
};

// One picture as the photo-list interfaces write it (slashes escaped, fields in their order).
std::string PicJson(const Pic& p) {
    auto esc = [](std::string s) {
        std::string o;
        for (char c : s) {
            if (c == '/') o += '\\';
            o += c;
        }
        return o;
    };
    std::string s =
        "{\n\"batchId\" : \"1\",\n\"desc\" : \"" + p.desc + "\",\n\"name\" : \"" + p.name + "\",\n";
    if (!p.origin.empty()) s += "\"origin_url\" : \"" + esc(p.origin) + "\",\n";
    s += "\"pre\" : \"" + esc(p.pre) + "\",\n";
    if (!p.raw.empty()) s += "\"raw\" : \"" + esc(p.raw) + "\",\n";
    s += "\"raw_upload\" : " + std::to_string(p.rawUpload) + ",\n\"width\" : 800\n}";
    return s;
}

std::string Page(const std::vector<Pic>& pics) {
    std::string s = "shine0_Callback({\"code\":0,\"data\":{\"photoList\":[";
    for (std::size_t i = 0; i < pics.size(); ++i) s += (i ? "," : "") + PicJson(pics[i]);
    return s + "],\"totalInPage\":" + std::to_string(pics.size()) + "}});";
}

std::string SimplePic(int n) {
    return PicJson({"p" + std::to_string(n), "", "", "", "http://a.qpic.cn/psb?/a/pic" + std::to_string(n)});
}

const std::string kRefusal =
    "shine0_Callback({\"code\":-10805,\"message\":\"对不起，回答错误\",\"data\":{}});";
const std::string kEmpty = "shine0_Callback({\"code\":0,\"data\":{\"photoList\":[]}});";

class PhotoList : public ::testing::Test {
protected:
    void SetUp() override {
        test::ClearCookies();
        f.ctx.target = u"12345";
        f.ctx.route.photoHost = FromUtf8(kPhotoHost);
        f.ctx.route.viewHost = FromUtf8(kViewHost);
    }
    void TearDown() override { test::ClearCookies(); }

    const ST_PERLISTRECORD& Album(uint32_t privacy, int32_t count = 10, const std::string& cover = "http://c/1.jpg") {
        ST_PERLISTRECORD rec;
        rec.Name = u"album" + FormatText("%d", ++serial);
        rec.ListParam = u"idcNum=0&hostUin=12345&albumid=V0abc";
        rec.CoverUrl = FromUtf8(cover);
        rec.PictureCount = count;
        rec.PrivacyFlags = privacy;
        return f.Use(rec);
    }
    void CreateQ2() { std::ofstream(f.dir / "Q2.txt") << "1"; }

    test::FetcherState f;
    int serial = 0;
};

TEST_F(PhotoList, GbkPagesThroughPhotoListAndChoosesAddresses) {
    test::SetTestCookies("qzone.qq.com", "uin=o0012345; skey=@key1; p_skey=pkey");
    const std::vector<Pic> first = {
        // raw present: origin_url stays unread, the fallback is still "pre" (with /a/ -> /b/)
        {"  first  ", "d1", "http://r.photo/psbe?/x/raw1", "http://o.photo/psb?/x/o/orig1",
         "http://a.qpic.cn/psb?/a/pre1"},
        // no raw: origin_url, with /o/ -> /r/ because the upload was raw
        {"", "desc2", "", "http://o.photo/psbe?/x/o/orig2", "http://a.qpic.cn/psb?/a/pre2", 1},
        // only pre: one address, no line break
        {"third", "", "", "", "http://a.qpic.cn/psb?/a/pre3"},
    };
    CannedSite site(
        [&](const CannedRequest& r) { return r.Param("pageStart") == "0" ? Page(first) : kEmpty; });
    FetchQZonePhotosGbk(f.ctx, Album(0), f.sink);

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    for (std::size_t i = 0; i < reqs.size(); ++i) {
        EXPECT_EQ(reqs[i].host, kPhotoHost);
        EXPECT_EQ(reqs[i].path, "/fcgi-bin/cgi_list_photo");
        EXPECT_EQ(reqs[i].Param("pageStart"), i == 0 ? "0" : "500");
        EXPECT_EQ(reqs[i].Param("pageNum"), "500");
        EXPECT_EQ(reqs[i].Param("topicId"), "V0abc");
        EXPECT_EQ(reqs[i].Param("albumid"), kMissing);
        EXPECT_EQ(reqs[i].Param("g_tk"), std::to_string(ComputeGTk(u"@key1")));  // skey, never p_skey
        EXPECT_EQ(reqs[i].Param("uin"), "0012345");  // the letter goes, the zeros stay
        EXPECT_EQ(reqs[i].headers.at("referer"), "http://user.qzone.qq.com/12345");
        EXPECT_EQ(reqs[i].Param("inCharset"), "gbk");
    }
    EXPECT_EQ(f.Urls(), (std::vector<std::string>{
                            "http://r.photo/psb?/x/raw1\r\nhttp://a.qpic.cn/psb?/b/pre1",
                            "http://o.photo/psb?/x/r/orig2\r\nhttp://a.qpic.cn/psb?/b/pre2",
                            "http://a.qpic.cn/psb?/b/pre3",
                        }));
    // Name first (trimmed), description when the name is empty; no extra header lines.
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"first.jpg", "desc2.jpg", "third.jpg"}));
    for (const auto& p : f.down.task.pictures) EXPECT_TRUE(p.headers.empty());
}

TEST_F(PhotoList, DescriptionFirstWhenOriginalNameModeIsNotOne) {
    f.ctx.ext.OriginalNameMode = 0;
    CannedSite site([&](const CannedRequest& r) {
        return r.Param("pageStart") == "0" ? Page({{"name1", "desc1", "", "", "http://a.qpic.cn/1"},
                                                   {"name2", "", "", "", "http://a.qpic.cn/2"}})
                                           : kEmpty;
    });
    FetchQZonePhotosGbk(f.ctx, Album(0), f.sink);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"desc1.jpg", "name2.jpg"}));
}

TEST_F(PhotoList, GbkFallsBackToViewAlbumOnceWhenPhotoListHasNoPictures) {
    CannedSite site([&](const CannedRequest& r) {
        if (r.path == "/cgi-bin/common/cgi_view_album_v2")
            return "_Callback({\"data\":[" + SimplePic(1) + "," + SimplePic(2) + "]});";
        return kEmpty;
    });
    FetchQZonePhotosGbk(f.ctx, Album(0), f.sink);
    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].path, "/fcgi-bin/cgi_list_photo");
    EXPECT_EQ(reqs[1].host, kViewHost);
    EXPECT_EQ(reqs[1].path, "/cgi-bin/common/cgi_view_album_v2");
    EXPECT_EQ(reqs[1].Param("albumId"), "V0abc");
    EXPECT_EQ(reqs[1].Param("g_tk"), "5381");  // no cookie: the token of the empty key
    EXPECT_EQ(f.Queued(), 2u);
}

TEST_F(PhotoList, GbkViewAlbumWithoutPicturesEndsTheCall) {
    CannedSite site([&](const CannedRequest&) { return kEmpty; });
    FetchQZonePhotosGbk(f.ctx, Album(0), f.sink);
    EXPECT_EQ(site.Requests().size(), 2u);  // photo list, then view album, then nothing
    EXPECT_EQ(f.Queued(), 0u);
}

TEST_F(PhotoList, GbkNonPublicAlbumUsesViewAlbumUnlessQ2Exists) {
    CannedSite site([&](const CannedRequest& r) {
        if (r.path == "/cgi-bin/common/cgi_view_album_v2")
            return Page({{"a", "", "", "", "http://a.qpic.cn/1"}});
        return kEmpty;
    });
    FetchQZonePhotosGbk(f.ctx, Album(PrivacyFriends), f.sink);
    auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 1u);  // the view-album answer ends the call: no photo-list request
    EXPECT_EQ(reqs[0].path, "/cgi-bin/common/cgi_view_album_v2");

    CreateQ2();
    FetchQZonePhotosGbk(f.ctx, Album(PrivacyFriends), f.sink);
    reqs = site.Requests();
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_EQ(reqs[1].path, "/fcgi-bin/cgi_list_photo");
}

TEST_F(PhotoList, MoodPseudoAlbumIsNotTheGbkVariantsBusiness) {
    CannedSite site([&](const CannedRequest&) { return kEmpty; });
    FetchQZonePhotosGbk(f.ctx, Album(0, -1, "123"), f.sink);
    EXPECT_TRUE(site.Requests().empty());
    Ping();
}

TEST_F(PhotoList, GbkPasswordYesOpensAlbumPageAndAsksTheRefusedPageAgain) {
    CreateQ2();
    f.obs.answers = {true};
    std::atomic<bool> unlocked{false};
    f.obs.onLogin = [&](const Text&) { unlocked = true; };
    CannedSite site([&](const CannedRequest& r) {
        if (!unlocked) return kRefusal;
        return r.Param("pageStart") == "0" ? Page({{"a", "", "", "", "http://a.qpic.cn/1"}}) : kEmpty;
    });
    FetchQZonePhotosGbk(f.ctx, Album(PrivacyEncrypted), f.sink);

    EXPECT_EQ(f.obs.Of("question"), std::vector<Text>{u"加密相册，是否输入密码？"});
    EXPECT_EQ(f.obs.Of("login"), std::vector<Text>{u"http://user.qzone.qq.com/12345/photo/V0abc"});
    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    // Asking the next page would silently lose the first page's pictures.
    EXPECT_EQ(reqs[1].Param("pageStart"), "0");
    EXPECT_EQ(reqs[2].Param("pageStart"), "500");
    EXPECT_EQ(f.Queued(), 1u);
}

TEST_F(PhotoList, PasswordNoReadsRefusalAsNoPictures) {
    CreateQ2();
    f.obs.answers = {false};
    CannedSite site([&](const CannedRequest&) { return kRefusal; });
    FetchQZonePhotosGbk(f.ctx, Album(PrivacyEncrypted), f.sink);
    EXPECT_EQ(f.obs.Of("question").size(), 1u);
    EXPECT_TRUE(f.obs.Of("login").empty());
    EXPECT_EQ(site.Requests().size(), 2u);  // refusal, then the view-album fallback (refused again)
    // Only encrypted albums get the question.
    CannedSite other([&](const CannedRequest&) { return kRefusal; });
    FetchQZonePhotosGbk(f.ctx, Album(PrivacyPrivate), f.sink);
    EXPECT_EQ(f.obs.Of("question").size(), 1u);
}

TEST_F(PhotoList, StopRequestEndsListingAfterThePictureInHand) {
    f.sink.onPicture = [&] { f.stop.request_stop(); };  // the user presses stop meanwhile
    CannedSite site([&](const CannedRequest&) {
        return Page({{"a", "", "", "", "http://a.qpic.cn/1"}, {"b", "", "", "", "http://a.qpic.cn/2"}});
    });
    FetchQZonePhotosGbk(f.ctx, Album(0), f.sink);
    EXPECT_EQ(site.Requests().size(), 1u);
    EXPECT_EQ(f.Queued(), 1u);
}

TEST_F(PhotoList, Utf8PublicAlbumOnUserSiteWithoutPicturesEndsAtOnce) {
    test::SetTestCookies("qzone.qq.com", "skey=@key1; uin=o0012345");
    CannedSite site([&](const CannedRequest&) { return kEmpty; });
    FetchQZonePhotosUtf8(f.ctx, Album(0), f.sink);
    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].host, "user.qzone.qq.com");
    EXPECT_EQ(reqs[0].path, "/p/plist.photo/fcgi-bin/cgi_list_photo");
    EXPECT_EQ(reqs[0].Param("topicId"), "V0abc");
    EXPECT_EQ(reqs[0].Param("pageStart"), "0");
    EXPECT_EQ(reqs[0].Param("pageNum"), "400");
    EXPECT_EQ(reqs[0].Param("uin"), "12345");  // letter and leading zeros gone
    EXPECT_EQ(reqs[0].Param("g_tk"), std::to_string(ComputeGTk(u"@key1")));
    EXPECT_EQ(reqs[0].Param("inCharset"), "utf-8");
}

// One run covers the proxy address, p_skey at the front, the password round and the pacing.
TEST_F(PhotoList, Utf8EncryptedAlbumPasswordRoundAndPacing) {
    test::SetTestCookies("qzone.qq.com", "p_skey=front; skey=@key1; uin=o0012345");
    f.obs.answers = {true};
    std::atomic<bool> unlocked{false};
    f.obs.onLogin = [&](const Text&) { unlocked = true; };
    CannedSite site([&](const CannedRequest& r) {
        if (!unlocked) return kRefusal;
        return r.Param("pageStart") == "0" ? Page({{"a", "", "", "", "http://a.qpic.cn/1"}}) : kEmpty;
    });
    std::vector<std::size_t> requestsBeforePause;
    f.clock.onPause = [&] { requestsBeforePause.push_back(site.Requests().size()); };
    FetchQZonePhotosUtf8(f.ctx, Album(PrivacyEncrypted), f.sink);

    const auto reqs = site.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    for (const auto& r : reqs) {
        EXPECT_EQ(r.host, "h5.qzone.qq.com");
        EXPECT_EQ(r.path, "/proxy/domain/plist.photo.qzone.qq.com/fcgi-bin/cgi_list_photo");
        EXPECT_EQ(r.Param("g_tk"), std::to_string(ComputeGTk(u"front")));
    }
    EXPECT_EQ(f.obs.Of("login"), std::vector<Text>{u"http://user.qzone.qq.com/12345/photo/V0abc"});
    EXPECT_EQ(reqs[0].Param("pageStart"), "0");
    EXPECT_EQ(reqs[1].Param("pageStart"), "0");  // the same page again after the password
    EXPECT_EQ(reqs[2].Param("pageStart"), "400");
    // The request counter keeps counting: t grows by a million per request.
    EXPECT_GE(std::stoll(reqs[1].Param("t")) - std::stoll(reqs[0].Param("t")), 1000000);
    // 3 s after the password, 4.2 s after the first page of pictures, none after the last page.
    EXPECT_EQ(f.clock.pauses, (std::vector<unsigned>{3000, 4200}));
    EXPECT_EQ(requestsBeforePause, (std::vector<std::size_t>{1, 2}));
    ASSERT_EQ(f.Queued(), 1u);
    EXPECT_EQ(f.down.task.pictures[0].headers, u"Referer: http://user.qzone.qq.com/12345");
}

// The pause after each page grows with the page number until it reaches 10 s and is held there, so
// the pauses of a long album grow with its pages, not with their square.
TEST_F(PhotoList, Utf8PagePausesGrowToTenSecondsAndStayThere) {
    CannedSite site([&](const CannedRequest& r) {
        const int start = std::stoi(r.Param("pageStart"));
        if (start >= 35 * 400) return kEmpty;
        const std::string n = std::to_string(start / 400);
        return Page({{"p" + n, "", "", "", "http://a.qpic.cn/psb?/a/pic" + n}});
    });
    FetchQZonePhotosUtf8(f.ctx, Album(0, -1), f.sink);
    std::vector<unsigned> expected;
    for (unsigned page = 1; page <= 35; ++page) expected.push_back(std::min(page + 20, 50u) * 200);
    EXPECT_EQ(f.clock.pauses, expected);
    ASSERT_EQ(f.Queued(), 35u);
    // Every picture of the album carries its Referer, held once for all of them (an album of
    // 100,000 pictures would otherwise hold 100,000 copies).
    for (const PictureRef& p : f.down.task.pictures) {
        EXPECT_EQ(p.headers, u"Referer: http://user.qzone.qq.com/12345");
        EXPECT_EQ(&p.headers.Get(), &f.down.task.pictures[0].headers.Get());
    }
}

// A page of many pictures is read on a second thread while the first one names them: every picture
// is queued once and in page order, and a stop in the middle of the page ends the album at the
// picture in hand, with the reader stopped.
TEST_F(PhotoList, Utf8LongPageQueuedInOrderAndStoppedMidway) {
    std::vector<Pic> pics;
    for (int i = 0; i < 400; ++i) {
        const std::string n = std::to_string(i);
        pics.push_back({"p" + n, "", "", "", "http://a.qpic.cn/psb?/a/pic" + n});
    }
    CannedSite site([&](const CannedRequest& r) { return r.Param("pageStart") == "0" ? Page(pics) : kEmpty; });
    FetchQZonePhotosUtf8(f.ctx, Album(0, -1), f.sink);
    ASSERT_EQ(f.Queued(), 400u);
    for (std::size_t i = 0; i < 400; ++i) {
        const PictureRef& p = f.down.task.pictures[i];
        EXPECT_EQ(p.title, FromUtf8("p" + std::to_string(i)));
        EXPECT_TRUE(p.main.ends_with(FromUtf8("/pic" + std::to_string(i)))) << ToUtf8(p.main);
    }

    test::FetcherState g;
    g.ctx.target = u"12345";
    int named = 0;
    g.sink.onPicture = [&] {
        if (++named == 100) g.stop.request_stop();
    };
    ST_PERLISTRECORD rec;
    rec.ListParam = u"idcNum=0&hostUin=12345&albumid=V0abc";
    rec.PictureCount = -1;
    const std::size_t asked = site.Requests().size();
    FetchQZonePhotosUtf8(g.ctx, g.Use(rec), g.sink);
    EXPECT_EQ(g.Queued(), 100u);
    EXPECT_EQ(site.Requests().size(), asked + 1);
}

}  // namespace
}  // namespace qm
