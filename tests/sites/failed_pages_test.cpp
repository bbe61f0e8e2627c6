// A page of a picture list that fails (an error status, a reset connection) is not the end of the
// album: every paging fetcher keeps the pictures of the pages before it and reports the failure, so
// that the album is never taken for complete. A stop during a stalled page ends the listing without
// waiting out the stall, and a stop is no failure.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "CannedSite.h"
#include "sites/QQGroup.h"
#include "sites/QZoneMood.h"
#include "sites/QZonePhotoList.h"
#include "sites/TencentWeibo.h"

namespace qm {
namespace {

using test::CannedReply;
using test::CannedRequest;
using test::CannedSite;

// One service's paging: the first page's answer (with `kFirstPage` pictures), the request that asks
// for the second page, and the call that lists an album.
struct Paging {
    const char* name;
    std::function<std::string()> firstPage;
    std::function<bool(const CannedRequest&)> isFirstPage;
    std::function<void(test::FetcherState&)> list;
};

constexpr int kFirstPage = 20;

std::string QZonePhotoPage() {
    std::string s = "shine0_Callback({\"code\":0,\"data\":{\"photoList\":[";
    for (int i = 0; i < kFirstPage; ++i)
        s += std::string(i ? "," : "") + "{\n\"batchId\" : \"1\",\n\"desc\" : \"\",\n\"name\" : \"p" +
             std::to_string(i) + "\",\n\"pre\" : \"http:\\/\\/a.qpic.cn\\/psb?\\/a\\/pic" + std::to_string(i) +
             "\",\n\"raw_upload\" : 0,\n\"width\" : 800\n}";
    return s + "],\"totalInPage\":" + std::to_string(kFirstPage) + "}});";
}

ST_PERLISTRECORD QZoneAlbum(test::FetcherState& f) {
    f.ctx.target = u"12345";
    f.ctx.route.photoHost = u"plist.photo.example.qq.com";
    f.ctx.route.viewHost = u"view.photo.example.qq.com";
    ST_PERLISTRECORD rec;
    rec.Name = u"album";
    rec.ListParam = u"idcNum=0&hostUin=12345&albumid=V0abc";
    rec.CoverUrl = u"http://c/1.jpg";
    rec.PictureCount = 2 * kFirstPage;
    return f.Use(rec);
}

std::string MoodPage() {  // a full page of posts, one picture each
    std::string s = "_Callback({\"code\":0,\"msglist\":[";
    for (int i = 0; i < kFirstPage; ++i)
        s += std::string(i ? "," : "") + "{\"certified\":0,\"content\":\"post " + std::to_string(i) +
             "\",\"pic\":[{\"pic_id\":\"p" + std::to_string(i) + "\",\"smallurl\":\"http:\\/\\/m.qpic.cn\\/psb\\/a\\/post" +
             std::to_string(i) + "\"}]}";
    return s + "],\"total\":100});";
}

std::string GroupPage() {
    std::string s = "_Callback({\"data\" : {\"photos\" : [";
    for (int i = 0; i < kFirstPage; ++i)
        s += std::string(i ? "," : "") + "{\"bheight\" : 600,\n\"rawurl\" : \"http:\\/\\/r.qpic.cn\\/raw\\/p" +
             std::to_string(i) + "\", \"name\" : \"n" + std::to_string(i) + "\"\n}";
    return s + "]}});";
}

std::string WeiboPage() {
    std::string s = "{\"data\":{\"info\":[";
    for (int i = 0; i < kFirstPage; ++i)
        s += std::string(i ? "," : "") + "{\"id\":\"" + std::to_string(i) + "\",\"content\":\"w" + std::to_string(i) +
             "\",\"realtime\":13820000" + std::to_string(10 + i) +
             ",\"source\":{\"content\":\"\",\"nick\":\"x\"},\"image\":[{\"url\":\"http:\\/\\/t2.qpic.cn\\/mblogpic\\/" +
             std::to_string(i) + "\",\"w\":1}]}";
    return s + "]}}";
}

const std::vector<Paging>& Services() {
    static const std::vector<Paging> services = {
        {"QZone photo list (GBK)", QZonePhotoPage,
         [](const CannedRequest& r) { return r.Param("pageStart") == "0"; },
         [](test::FetcherState& f) { FetchQZonePhotosGbk(f.ctx, QZoneAlbum(f), f.sink); }},
        {"QZone photo list (UTF-8)", QZonePhotoPage,
         [](const CannedRequest& r) { return r.Param("pageStart") == "0"; },
         [](test::FetcherState& f) { FetchQZonePhotosUtf8(f.ctx, QZoneAlbum(f), f.sink); }},
        {"moods", MoodPage, [](const CannedRequest& r) { return r.Param("pos") == "0"; },
         [](test::FetcherState& f) {
             test::SetTestCookies("qq.com", "uin=o0010001; skey=@abc");
             ST_PERLISTRECORD rec;
             rec.Name = kMoodAlbumName;
             rec.ListParam = MoodListAddress(u"10001");
             rec.CoverUrl = kMoodCoverMark;
             rec.PictureCount = -1;
             f.ctx.ext.MoodDownloadMode = kMoodUnlockValue;
             FetchMoodPictures(f.ctx, f.Use(rec), f.sink);
         }},
        {"QQ group", GroupPage, [](const CannedRequest& r) { return r.Param("start") == "0"; },
         [](test::FetcherState& f) {
             ST_PERLISTRECORD rec;
             rec.Name = u"group album";
             rec.ListParam = u"qunId=778899&albumId=A1&uin=12345&g_tk=42";
             FetchGroupPhotos(f.ctx, f.Use(rec), f.sink);
         }},
        {"Tencent Weibo", WeiboPage, [](const CannedRequest& r) { return r.Param("page") == "1"; },
         [](test::FetcherState& f) {
             f.ctx.route.photoHost = u"987654";
             f.ctx.weiboId = u"alice";
             ST_PERLISTRECORD rec;
             rec.Name = u"weibo album";
             rec.ListParam = u"7001";
             FetchWeiboPhotos(f.ctx, f.Use(rec), f.sink);
         }},
    };
    return services;
}

class FailedPage : public ::testing::Test {
protected:
    void SetUp() override { test::ClearCookies(); }
    void TearDown() override { test::ClearCookies(); }
};

TEST_F(FailedPage, IsReportedAndKeepsTheEarlierPages) {
    const std::vector<std::pair<std::string, CannedReply>> faults = {
        {"HTTP 500", CannedReply::Status(500, "<html>server error</html>")},
        {"HTTP 404", CannedReply::Status(404, "")},
        {"reset", CannedReply::Reset()},
    };
    for (const Paging& service : Services()) {
        for (const auto& item : faults) {
            const std::string& what = item.first;
            const CannedReply& fault = item.second;
            SCOPED_TRACE(std::string(service.name) + ", second page: " + what);
            test::FetcherState f;
            CannedSite site([&](const CannedRequest& r) {
                return service.isFirstPage(r) ? CannedReply(service.firstPage()) : fault;
            });
            service.list(f);
            EXPECT_EQ(f.Queued(), static_cast<std::size_t>(kFirstPage));
            ASSERT_GE(site.Requests().size(), 2u);  // the second page was asked for
            EXPECT_FALSE(f.ctx.reasonText.empty()) << "the failed page went unreported";
            if (fault.status >= 400) {
                EXPECT_EQ(f.ctx.reasonText, what);
            }
            test::ClearCookies();
        }
    }
}

// The stall holds the second page until the site goes; the user's stop must end the listing long
// before any read wait would (a stop ends a transfer within a second: five are allowed).
TEST_F(FailedPage, AStopEndsAStalledPageAndIsNoFailure) {
    for (const Paging& service : Services()) {
        SCOPED_TRACE(service.name);
        test::FetcherState f;
        CannedSite site([&](const CannedRequest& r) {
            return service.isFirstPage(r) ? CannedReply(service.firstPage()) : CannedReply::Stall();
        });
        std::chrono::steady_clock::time_point stopped{};
        std::thread user([&] {
            test::WaitUntil([&] { return site.Requests().size() >= 2; }, std::chrono::seconds(60));
            stopped = std::chrono::steady_clock::now();
            f.stop.request_stop();
        });
        service.list(f);
        const auto ended = std::chrono::steady_clock::now();
        user.join();
        EXPECT_LT(ended - stopped, std::chrono::seconds(5));
        EXPECT_EQ(f.Queued(), static_cast<std::size_t>(kFirstPage));
        EXPECT_TRUE(f.ctx.reasonText.empty()) << f.ctx.reasonText;
        test::ClearCookies();
    }
}

}  // namespace
}  // namespace qm
