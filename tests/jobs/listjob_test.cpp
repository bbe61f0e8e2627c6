// The list job end to end against the simulator: target reduction, kinds, the mood row, the
// running look and its end, recent targets, stop requests and the button's start/stop logic.
#include "core/jobs/ListJob.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>

#include "RecordingFrontend.h"
#include "core/AppState.h"
#include "core/Settings.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "sites/QZoneMood.h"

namespace qm {
namespace {

using nlohmann::json;

// Asks the running job to stop as soon as the first album arrives, as a user pressing the button.
class StoppingFrontend : public test::RecordingFrontend {
public:
    AppState* st = nullptr;
    void AlbumAdded(int index) override {
        RecordingFrontend::AlbumAdded(index);
        if (index == 0 && st) st->ListJobState = ListStopRequested;
    }
};

class ListJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("qm_listjob_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        st_.programFolder = TextFromPath(folder_) + u"/";
        LoadSettings(st_);
        st_.WindowReady = 1;
        CookieStore::Instance().Clear();
    }
    void TearDown() override {
        if (sim_) sim_->Stop();
        SetConnectTo("");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    void Start(json scenario) {
        sim_ = std::make_unique<sim::Simulator>(std::move(scenario));
        ASSERT_NE(sim_->Start(0), 0);
        // One answered request shows the server's loop is running, so that Stop() can end it.
        httplib::Client probe("127.0.0.1", sim_->Port());
        probe.Get("/");
        sim_->ClearRequests();
        SetConnectTo(sim_->ConnectTo());
    }
    static json Scenario(int albums, const std::string& qq = "10001") {
        json list = json::array();
        for (int i = 1; i <= albums; ++i)
            list.push_back(
                {{"id", "a" + std::to_string(i)}, {"name", "Album" + std::to_string(i)}, {"pictures", 1}});
        return {{"qzone", {{{"uin", qq}, {"albums", list}}}}};
    }
    // Runs the job on this thread, as the button would on its own.
    void Run(const std::u16string& target, int kind = 0) {
        fe_.texts[Ctl::Target] = target;
        fe_.kind = kind;
        st_.ListJobState = ListRunning;
        st_.QZoneKind = -1;
        GetListFunc(st_);
    }
    size_t CountRequests(const std::string& part) const {
        size_t n = 0;
        for (auto& r : sim_->Requests()) n += (r.host + r.target).find(part) != std::string::npos;
        return n;
    }

    std::filesystem::path folder_;
    StoppingFrontend fe_;
    AppState st_{fe_};
    std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(ListJobTest, QZonePageAddressListsTheNumberAndAppendsTheMoodRow) {
    Start(Scenario(2, "123456"));
    Run(u"  http://user.qzone.qq.com/123456/infocenter?via=toolbar#top  ");

    const auto recs = st_.albums.Snapshot();
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[2].Name, kMoodAlbumName);
    EXPECT_EQ(recs[2].CoverUrl, u"123");
    EXPECT_EQ(recs[2].PictureCount, -1);
    EXPECT_EQ(recs[2].ListParam, MoodListAddress(u"123456"));
    EXPECT_EQ(CountRequests("GetRoute?UIN=123456&"), 1u);
    EXPECT_EQ(CountRequests("fcg_list_album_v3"), 0u);  // version 2 found albums

    EXPECT_EQ(st_.TargetFolder, u"123456/");
    EXPECT_EQ(st_.TargetSubFolder, u"");
    EXPECT_EQ(st_.QZoneKind.load(), 0);
    EXPECT_EQ(st_.ListJobState.load(), ListIdle);
    EXPECT_EQ(fe_.Shown(Ctl::AlbumGroup), u"相册列表(共3个)");
    EXPECT_EQ(fe_.Shown(Ctl::Status), u"获取相册列表完成，共3个");
    EXPECT_EQ(fe_.Shown(Ctl::ListButton), u"获取相册");
    EXPECT_TRUE(fe_.Of("message").empty());

    // The running look came first, then the end with the download button enabled.
    const auto calls = fe_.Calls();
    auto at = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) - calls.begin(); };
    EXPECT_LT(at("text 1004: 终止获取"), at("album: 0"));
    EXPECT_LT(at("text 1009: 正在获取相册列表，请稍等..."), at("album: 0"));
    EXPECT_LT(at("enable 1005: 0"), at("enable 1005: 1"));
    EXPECT_LT(at("album: 2"), at("refresh: "));
    EXPECT_NE(at("check 1012: 0"), static_cast<long>(calls.size()));
    EXPECT_NE(at("show 1013: 0"), static_cast<long>(calls.size()));

    // The trimmed target is remembered, shown in the box history and saved.
    EXPECT_EQ(fe_.Of("history 1001"),
              std::vector<Text>{u"http://user.qzone.qq.com/123456/infocenter?via=toolbar#top"});
    EXPECT_EQ(RecentEntries(st_, 0).front(), u"http://user.qzone.qq.com/123456/infocenter?via=toolbar#top");
}

TEST_F(ListJobTest, DigitsWithLettersAndAWeiboAddressOfKindZeroAreRejected) {
    Start(Scenario(1));
    for (const Text& target : {Text(u"10001abc"), Text(u"http://t.qq.com/someone")}) {
        Run(target, 0);
        EXPECT_EQ(fe_.Of("message").back(), u"请直接输入QQ号进行下载");
        EXPECT_EQ(st_.albums.Count(), 0u);
        EXPECT_EQ(fe_.Shown(Ctl::AlbumGroup), u"相册列表(共0个)");
        EXPECT_EQ(st_.ListJobState.load(), ListIdle);
    }
    EXPECT_TRUE(sim_->Requests().empty());
    EXPECT_TRUE(fe_.Of("history 1001").empty());  // nothing found: nothing remembered
}

TEST_F(ListJobTest, EmptyTargetAsksForOneAndChangesNoControl) {
    Run(u"   ");
    ASSERT_EQ(fe_.Of("message").size(), 1u);
    EXPECT_FALSE(fe_.Of("message")[0].empty());
    EXPECT_TRUE(fe_.Of("text 1004").empty());
    EXPECT_EQ(st_.ListJobState.load(), ListIdle);
}

TEST_F(ListJobTest, OnlyVersion3FindsAlbums_NoMoodRow) {
    json s = Scenario(2);
    s["faults"] = {{{"match", "fcg_list_album_v2"}, {"reset", true}}};
    Start(s);
    Run(u"10001");
    const auto recs = st_.albums.Snapshot();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1].Name, u"Album2");
    EXPECT_EQ(fe_.Shown(Ctl::AlbumGroup), u"相册列表(共2个)");
    EXPECT_TRUE(fe_.Of("message").empty());
}

TEST_F(ListJobTest, NoAlbumAtAllShowsTheQZoneExplanation) {
    json s = Scenario(0);
    Start(s);
    Run(u"10001");
    ASSERT_EQ(fe_.Of("message").size(), 1u);
    EXPECT_EQ(fe_.Of("message")[0].rfind(u"没有获取到相册，原因如下：\n\n1、可能是因为空间不是公开的", 0),
              0u);
    EXPECT_EQ(CountRequests("fcg_list_album_v3"), 2u);  // both passes
    EXPECT_EQ(fe_.Of("enable 1005").back(), u"0");
    EXPECT_EQ(st_.TargetFolder, u"10001/");
}

TEST_F(ListJobTest, WeiboAddressTakesTheWeiboPathWithKindOneOrTwo) {
    Start({{"weibo", {{{"name", "someone"}, {"uin", "30003"}}}}});
    for (int kind : {1, 2}) {
        Run(u"http://t.qq.com/someone?preview", kind);
        EXPECT_EQ(st_.WeiboId, u"someone");
        EXPECT_EQ(st_.TargetFolder, u"someone/");
        EXPECT_EQ(st_.QZoneKind.load(), 2);
        EXPECT_EQ(CountRequests("route.store.qq.com"), 0u);
    }
    // Kind 2 with a bare name also goes to Weibo; kind 1 with a bare number to the QQ group.
    Run(u"someone", 2);
    EXPECT_EQ(st_.QZoneKind.load(), 2);
    Run(u"http://qun.qzone.qq.com/group#!/445566/album?x", 1);
    EXPECT_EQ(st_.QZoneKind.load(), 1);
    EXPECT_EQ(st_.TargetFolder, u"445566/");
    EXPECT_EQ(fe_.Of("message").back().rfind(u"没有获取到相册，可按以下步骤操作：\n\n1、你哪个号加入了", 0),
              0u);
}

TEST_F(ListJobTest, StopAfterTheFirstAlbumKeepsItAndEndsNormally) {
    Start(Scenario(5));
    fe_.st = &st_;
    Run(u"10001");
    const auto recs = st_.albums.Snapshot();
    ASSERT_EQ(recs.size(), 2u);  // the first album, then the mood row of a successful version 2
    EXPECT_EQ(recs[0].Name, u"Album1");
    EXPECT_EQ(recs[1].Name, kMoodAlbumName);
    EXPECT_EQ(st_.ListJobState.load(), ListIdle);
    EXPECT_EQ(fe_.Shown(Ctl::Status), u"获取相册列表完成，共2个");
    EXPECT_EQ(fe_.Shown(Ctl::ListButton), u"获取相册");
}

TEST_F(ListJobTest, ButtonStartsStopsAndRestartsTheJob) {
    Start(Scenario(3));
    fe_.texts[Ctl::Target] = u"10001";
    std::thread job;

    st_.WindowReady = 0;
    EXPECT_FALSE(PressListButton(st_, job));  // not ready yet
    EXPECT_FALSE(job.joinable());
    st_.WindowReady = 1;

    ASSERT_TRUE(PressListButton(st_, job));
    // Pressing again while running asks for a stop and starts nothing.
    const uint8_t state = st_.ListJobState.load();
    EXPECT_FALSE(PressListButton(st_, job));
    if (state != ListIdle) {
        EXPECT_NE(st_.ListJobState.load(), ListRunning);
    }
    while (st_.ListJobState.load() != ListIdle) std::this_thread::sleep_for(std::chrono::milliseconds(10));

    // Once idle, the next press clears the old list and runs again to the full list.
    ASSERT_TRUE(PressListButton(st_, job));
    while (st_.ListJobState.load() != ListIdle) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    job.join();
    EXPECT_EQ(st_.albums.Count(), 4u);
}

}  // namespace
}  // namespace qm
