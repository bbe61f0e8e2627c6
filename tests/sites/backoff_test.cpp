// Rate-limit back-off against the simulator's rate-limit knob: the same request again after each
// wait, four waits at most, a countdown, and a stop that ends a wait at once.
#include "core/Backoff.h"

#include <gtest/gtest.h>

#include <thread>

#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "net/RateLimit.h"

namespace qm {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class BackoffTest : public ::testing::Test {
protected:
    void Start(const std::string& faults) {
        nlohmann::json s =
            nlohmann::json::parse(R"({"qzone": [{"uin": 55555, "albums": [{"id": "A", "name": "a",
            "pictures": 3}]}], "weibo": [{"name": "w", "uin": 987654321,
            "albums": [{"name": "t", "topicid": "1", "posts": 1}]}]})");
        s["faults"] = nlohmann::json::parse(faults);
        sim = std::make_unique<sim::Simulator>(s);
        ASSERT_NE(sim->Start(0), 0);
        SetConnectTo(sim->ConnectTo());
    }
    void TearDown() override {
        if (sim) sim->Stop();
        SetConnectTo("");
    }
    // One photo-list request as the fetchers send it (gzip allowed); true when rate-limited.
    bool FetchPhotos() {
        ST_URLREQUEST req(
            u"http://xaplist.photo.qzone.qq.com/fcgi-bin/cgi_list_photo?g_tk=5381&hostUin=55555"
            u"&topicId=A&pageStart=0&pageNum=30&outCharset=gbk");
        req.headers = u"Accept-Encoding: gzip, deflate\r\n";
        ST_URLRESPONSE resp;
        FetchUrl(req, resp, 0);
        ++requests;
        return IsRateLimited(resp);
    }
    std::size_t Logged(const std::string& path) {
        std::size_t n = 0;
        for (const auto& r : sim->Requests()) n += r.path == path;
        return n;
    }

    std::unique_ptr<sim::Simulator> sim;
    ManualClock clock;
    int requests = 0;
};

TEST_F(BackoffTest, WaitsThenTheSameRequestSucceeds) {
    Start(R"([{"match": "cgi_list_photo", "rate_limit_first": 2}])");
    std::vector<std::pair<int, long long>> ticks;
    Backoff b(
        clock, {}, [&](int wait, seconds left) { ticks.emplace_back(wait, left.count()); }, 7);
    EXPECT_TRUE(RetryWhileRateLimited(b, [&] { return FetchPhotos(); }));
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(Logged("/fcgi-bin/cgi_list_photo"), 3u);
    EXPECT_EQ(b.Waits(), 2);
    EXPECT_FALSE(b.GaveUp());
    // 30 s and 60 s, each lengthened by at most a tenth; what was slept is what is reported.
    EXPECT_GE(clock.Slept(), seconds(90));
    EXPECT_LE(clock.Slept(), seconds(99));
    EXPECT_EQ(b.Waited(), clock.Slept());
    // A countdown of whole seconds per wait, down to 1.
    ASSERT_FALSE(ticks.empty());
    EXPECT_GE(ticks.front().second, 30);
    EXPECT_LE(ticks.front().second, 33);
    EXPECT_EQ(ticks.back(), std::make_pair(2, 1LL));
    EXPECT_EQ(std::count_if(ticks.begin(), ticks.end(), [](auto& t) { return t.second == 1; }), 2);
}

TEST_F(BackoffTest, GivesUpAfterTheFourthWait) {
    Start(R"([{"match": "cgi_list_photo", "status": 429, "first": 100}])");
    Backoff b(clock, {});
    EXPECT_FALSE(RetryWhileRateLimited(b, [&] { return FetchPhotos(); }));
    EXPECT_TRUE(b.GaveUp());
    EXPECT_EQ(requests, 5);  // the first try and one after each wait
    EXPECT_GE(clock.Slept(), seconds(450));
    EXPECT_LE(clock.Slept(), milliseconds(495000));
    EXPECT_FALSE(b.Wait());  // stays given up
    EXPECT_EQ(requests, 5);
}

// The refusal in every form an answer carries it: GBK and gzip (above), UTF-8, \u escapes, 503.
TEST_F(BackoffTest, RecognisesTheRefusalWhereverItComes) {
    Start(R"([{"match": "gettopicalbum", "rate_limit_first": 1}, {"match": "GetRoute", "status": 503}])");
    ST_URLRESPONSE resp;
    ST_URLREQUEST weibo(u"http://api.t.qq.com/asyn/gettopicalbum.php?op=1&u=987654321&page=1&n=10");
    FetchUrl(weibo, resp, 0);
    EXPECT_TRUE(IsRateLimited(resp));
    FetchUrl(weibo, resp, 0);
    EXPECT_FALSE(IsRateLimited(resp));
    ST_URLREQUEST route(u"http://route.store.qq.com/GetRoute?UIN=55555");
    FetchUrl(route, resp, 0);
    EXPECT_TRUE(IsRateLimited(resp));
    EXPECT_TRUE(IsRateLimitedAnswer(200, "{\"msg\":\"对不起，您的操作过于频繁\"}"));
    EXPECT_FALSE(IsRateLimitedAnswer(200, "{\"msg\":\"对不起，您的操作\"}"));
}

TEST(Backoff, AStopEndsTheWaitAtOnce) {
    std::stop_source stop;
    Backoff b(SystemClock(), stop.get_token());
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(50));
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(b.Wait());
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(2));
    EXPECT_TRUE(b.Stopped());
    EXPECT_FALSE(b.GaveUp());
    EXPECT_LT(b.Waited(), seconds(2));
}

}  // namespace
}  // namespace qm
