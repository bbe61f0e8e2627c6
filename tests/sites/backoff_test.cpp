// The job's back-off: busy answers waited out and the same page asked again, one shared wait for
// requests sent before it opened, the picture ladder and Retry-After, a budget that gives up for
// good, the refusal forms of today's services, and a stop that ends a wait at once.
#include "core/Backoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RecordingObserver.h"
#include "net/RateLimit.h"
#include "WaitUntil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "sites/Fetcher.h"

namespace qm {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class BackoffTest : public ::testing::Test {
protected:
    void Start(const std::string& faults) {
        nlohmann::json s = nlohmann::json::parse(R"({"qzone": [{"uin": 55555, "albums": [{"id": "A", "name": "a",
            "pictures": 3}]}]})");
        s["faults"] = nlohmann::json::parse(faults);
        sim = std::make_unique<sim::Simulator>(s);
        ASSERT_NE(sim->Start(0), 0);
        SetConnectTo(sim->ConnectTo());
    }
    void TearDown() override {
        if (sim) sim->Stop();
        SetConnectTo("");
    }
    // One photo-list page through the job's back-off, as the fetchers ask it.
    bool FetchPage(SiteContext& ctx) {
        ST_URLREQUEST req(
            u"http://xaplist.photo.qzone.qq.com/fcgi-bin/cgi_list_photo?g_tk=5381&hostUin=55555"
            u"&topicId=A&pageStart=0&pageNum=30&outCharset=gbk");
        req.headers = u"Accept-Encoding: gzip, deflate\r\n";
        ST_URLRESPONSE resp;
        return FetchPaced(ctx, req, resp);
    }
    std::size_t Logged(const std::string& path) {
        std::size_t n = 0;
        for (const auto& r : sim->Requests()) n += r.path == path;
        return n;
    }

    std::unique_ptr<sim::Simulator> sim;
    ManualClock clock;
    test::RecordingObserver obs;
};

// Today's busy answer (HTTP 200, code -10001) is waited out and the same page asked again; the
// countdown reaches the observer and ends with 0.
TEST_F(BackoffTest, BusyPageIsWaitedOutAndAskedAgain) {
    Start(R"([{"match": "cgi_list_photo", "rate_limit_first": 2, "busy_code": -10001}])");
    std::vector<long long> ticks;
    Backoff backoff(clock, [&](seconds left) { ticks.push_back(left.count()); }, 7);
    SiteContext ctx(obs, clock);
    ctx.backoff = &backoff;
    EXPECT_TRUE(FetchPage(ctx));
    EXPECT_EQ(Logged("/fcgi-bin/cgi_list_photo"), 3u);
    EXPECT_EQ(ctx.reason, ListReason::None);
    EXPECT_EQ(backoff.Waits(), 2);
    // 30 s and 60 s, each lengthened by at most a tenth; what was slept is what is reported.
    EXPECT_GE(clock.Slept(), seconds(90));
    EXPECT_LE(clock.Slept(), seconds(99));
    EXPECT_EQ(ctx.rateLimitWaited, clock.Slept());
    ASSERT_FALSE(ticks.empty());
    EXPECT_GE(ticks.front(), 30);
    EXPECT_EQ(ticks.back(), 0);
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), 1), 2);
}

// A list page refused forever: four waits, then the job's back-off gives up for good; later
// requests fail at once with the reason 限流 instead of starting a ladder of their own.
TEST_F(BackoffTest, GivesUpForTheWholeJob) {
    Start(R"([{"match": "cgi_list_photo", "rate_limit_first": 100, "busy_code": -10083}])");
    Backoff backoff(clock, {}, 3);
    SiteContext ctx(obs, clock);
    ctx.backoff = &backoff;
    EXPECT_FALSE(FetchPage(ctx));
    EXPECT_EQ(ctx.reason, ListReason::RateLimited);
    EXPECT_EQ(Logged("/fcgi-bin/cgi_list_photo"), 5u);  // the first try and one after each wait
    EXPECT_GE(clock.Slept(), seconds(450));
    EXPECT_LE(clock.Slept(), milliseconds(495000));

    SiteContext next(obs, clock);
    next.backoff = &backoff;
    EXPECT_FALSE(FetchPage(next));
    EXPECT_EQ(next.reason, ListReason::RateLimited);
    EXPECT_EQ(Logged("/fcgi-bin/cgi_list_photo"), 5u);
}

// Refusals of requests sent before a wait opened join it; the picture ladder starts at 2 s and
// doubles while refusals go on, starts again after a served answer, and obeys Retry-After (at most
// 10 minutes).
TEST(SharedBackoff, OneWaitForRequestsSentBeforeIt) {
    ManualClock clock;
    Backoff b(clock);
    const auto t0 = clock.Now();
    EXPECT_TRUE(b.Refused(WaitLadder::Picture, t0));
    EXPECT_FALSE(b.Refused(WaitLadder::Picture, t0));  // in flight when the wait opened
    EXPECT_TRUE(b.Pass({}));
    EXPECT_EQ(clock.Slept(), seconds(2));
    EXPECT_TRUE(b.Refused(WaitLadder::Picture, clock.Now()));
    EXPECT_TRUE(b.Pass({}));
    EXPECT_EQ(clock.Slept(), seconds(6));  // 2 + 4
    b.Served(clock.Now());
    EXPECT_TRUE(b.Refused(WaitLadder::Picture, clock.Now()));
    EXPECT_TRUE(b.Pass({}));
    EXPECT_EQ(clock.Slept(), seconds(8));  // from 2 s again
    EXPECT_TRUE(b.Refused(WaitLadder::Picture, clock.Now(), seconds(5)));
    EXPECT_TRUE(b.Pass({}));
    EXPECT_EQ(clock.Slept(), seconds(13));
    b.Served(clock.Now());
    EXPECT_TRUE(b.Refused(WaitLadder::Picture, clock.Now(), seconds(86400)));
    EXPECT_TRUE(b.Pass({}));
    EXPECT_EQ(clock.Slept(), seconds(613));
    EXPECT_FALSE(b.GaveUp());
}

// Many threads waiting on one open wait: one counts down, all pass once, nobody waits twice.
TEST(SharedBackoff, ThreadsShareTheWait) {
    ManualClock clock;
    std::atomic<int> ticks{0};
    Backoff b(clock, [&](seconds left) { ticks += left.count() > 0; });
    ASSERT_TRUE(b.Refused(WaitLadder::Picture, clock.Now()));
    std::vector<std::thread> threads;
    std::atomic<int> passed{0};
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { passed += b.Pass({}); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(passed.load(), 8);
    EXPECT_EQ(clock.Slept(), seconds(2));
    EXPECT_EQ(ticks.load(), 2);
}

TEST(RefusalForms, BusyAndLoginAnswersOfTodaysServices) {
    EXPECT_TRUE(IsRateLimitedAnswer(
        200, R"(_Callback({"code":-10001,"subcode":-1,"message":"抱歉，当前使用相册服务的用户过多，请您稍后再试。"}))"));
    EXPECT_TRUE(IsRateLimitedAnswer(200, R"({"code":-10083,"subcode":-1998,"message":"x"})"));
    EXPECT_TRUE(IsRateLimitedAnswer(200, R"({"code" : -5, "message" : "使用人数过多，请稍后再试"})"));
    EXPECT_TRUE(IsRateLimitedAnswer(200, "{\"msg\":\"对不起，您的操作过于频繁\"}"));
    EXPECT_TRUE(IsRateLimitedAnswer(429, ""));
    // A page that merely describes a picture with those words is no refusal.
    EXPECT_FALSE(IsRateLimitedAnswer(200, R"({"code":0,"data":{"desc":"用户过多的一天"}})"));
    EXPECT_FALSE(IsRateLimitedAnswer(200, R"({"code":-10801,"message":"相册不存在"})"));

    EXPECT_TRUE(IsLoginNeededAnswer(R"({"code":-3000,"message":"请先登录空间"})"));
    EXPECT_TRUE(IsLoginNeededAnswer(R"({"code":-3001,"subcode":-3001,"data":{"needVerify":1}})"));
    EXPECT_FALSE(IsLoginNeededAnswer(R"({"code":-3001,"message":"x"})"));
    EXPECT_FALSE(IsLoginNeededAnswer(R"({"code":0,"desc":"-3000"})"));

    EXPECT_EQ(RetryAfterSeconds(u"HTTP/1.1 429 Too Many\r\nretry-after:  7\r\nX: y\r\n"), 7);
    EXPECT_FALSE(RetryAfterSeconds(u"HTTP/1.1 429\r\nRetry-After: Wed, 21 Oct 2015 07:28:00 GMT\r\n"));
    EXPECT_FALSE(RetryAfterSeconds(u"HTTP/1.1 429\r\n"));
}

// A stop during a wait (the first list wait is 30 s at least) ends it at once: timed from the
// stop, with room to spare for a loaded machine.
TEST(SharedBackoff, AStopEndsTheWaitAtOnce) {
    std::stop_source stop;
    std::atomic<bool> waiting{false};
    Backoff b(SystemClock(), [&](seconds left) {
        if (left > seconds(0)) waiting = true;
    });
    ASSERT_TRUE(b.Refused(WaitLadder::ListPage, SystemClock().Now()));
    std::atomic<bool> passed{true};
    std::thread waiter([&] { passed = b.Pass(stop.get_token()); });
    const bool began = test::WaitUntil([&] { return waiting.load(); }, seconds(60));
    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    waiter.join();
    EXPECT_TRUE(began) << "the wait never began";
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, seconds(5));
    EXPECT_FALSE(passed.load());
    EXPECT_FALSE(b.GaveUp());
    EXPECT_LT(b.Waited(), Backoff::kListWaits[0]);
}

}  // namespace
}  // namespace qm
