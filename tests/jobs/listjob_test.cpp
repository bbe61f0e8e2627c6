// The list job end to end against the simulator: target reduction, kinds, the mood row, the
// events and the result, stop requests and the button's start/stop logic.
#include "jobs/ListJob.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "RecordingObserver.h"
#include "TempFolder.h"
#include "WaitUntil.h"
#include "core/Settings.h"
#include "jobs/JobRunner.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "sites/QZoneMood.h"

namespace qm {
namespace {

using nlohmann::json;

// Asks the running job to stop as soon as the first album arrives, as a user pressing the button.
class StoppingObserver : public test::RecordingObserver {
public:
    JobControl* control = nullptr;
    void AlbumListed(std::size_t index, const ST_PERLISTRECORD& rec) override {
        RecordingObserver::AlbumListed(index, rec);
        if (index == 0 && control) control->RequestStop();
    }
};

class ListJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        st_.programFolder = TextFromPath(folder_) + u"/";
        LoadSettings(st_);
        CookieStore::Instance().Clear();
    }
    void TearDown() override {
        if (sim_) sim_->Stop();
        SetConnectTo("");
    }

    void Start(json scenario) {
        sim_ = std::make_unique<sim::Simulator>(std::move(scenario));
        ASSERT_NE(sim_->Start(0), 0);
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
        control_.Finish();
        control_.TryStart();
        result_ = RunListJob(ListRequest{target, static_cast<TargetKind>(kind)}, fe_, control_, st_.programFolder);
        control_.Finish();
    }
    size_t CountRequests(const std::string& part) const {
        size_t n = 0;
        for (auto& r : sim_->Requests()) n += (r.host + r.target).find(part) != std::string::npos;
        return n;
    }

    test::TempFolder temp_{"qm-listjob-"};
    const std::filesystem::path& folder_ = temp_.path();
    StoppingObserver fe_;
    SettingsStore st_;
    JobControl control_;
    ListResult result_;
    std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(ListJobTest, QZonePageAddressListsTheNumberAndAppendsTheMoodRow) {
    Start(Scenario(2, "123456"));
    Run(u"  http://user.qzone.qq.com/123456/infocenter?via=toolbar#top  ");

    const auto& recs = result_.albums;
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[2].Name, kMoodAlbumName);
    EXPECT_EQ(recs[2].CoverUrl, u"123");
    EXPECT_EQ(recs[2].PictureCount, -1);
    EXPECT_EQ(recs[2].ListParam, MoodListAddress(u"123456"));
    EXPECT_EQ(CountRequests("GetRoute?UIN=123456&"), 1u);
    EXPECT_EQ(CountRequests("fcg_list_album_v3"), 0u);  // version 2 found albums

    EXPECT_EQ(result_.target, u"http://user.qzone.qq.com/123456/infocenter?via=toolbar#top");
    EXPECT_EQ(result_.targetFolder, u"123456/");
    EXPECT_EQ(result_.targetSubFolder, u"");
    EXPECT_EQ(result_.kind, TargetKind::QZone);
    EXPECT_EQ(result_.reason, ListReason::None);
    EXPECT_TRUE(fe_.Notices().empty());

    // Started first, every album as it came (with its index), finished last.
    const auto calls = fe_.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls.front(), "list-started: ");
    EXPECT_EQ(calls[1], "album: 0 Album1");
    EXPECT_EQ(calls[3], "album: 2 " + ToUtf8(kMoodAlbumName));
    EXPECT_EQ(calls.back(), "list-finished: 3");
}

TEST_F(ListJobTest, DigitsWithLettersAndAWeiboAddressOfKindZeroAreRejected) {
    Start(Scenario(1));
    for (const Text& target : {Text(u"10001abc"), Text(u"http://t.qq.com/someone")}) {
        Run(target, 0);
        ASSERT_FALSE(fe_.Notices().empty());
        EXPECT_EQ(fe_.Notices().back().id, Notice::NumberOnly);
        EXPECT_EQ(NoticeText(fe_.Notices().back()).text, u"请直接输入QQ号进行下载");
        EXPECT_TRUE(result_.albums.empty());
        EXPECT_EQ(result_.reason, ListReason::NotANumber);
    }
    EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(ListJobTest, EmptyTargetAsksForOneAndStartsNothing) {
    Run(u"   ");
    ASSERT_EQ(fe_.Notices().size(), 1u);
    EXPECT_EQ(fe_.Notices()[0].id, Notice::EmptyTarget);
    EXPECT_FALSE(NoticeText(fe_.Notices()[0]).text.empty());
    EXPECT_EQ(result_.reason, ListReason::EmptyTarget);
    EXPECT_EQ(fe_.Of("list-started").size(), 0u);  // the window keeps its look
}

TEST_F(ListJobTest, OnlyVersion3FindsAlbums_NoMoodRow) {
    json s = Scenario(2);
    s["faults"] = {{{"match", "fcg_list_album_v2"}, {"reset", true}}};
    Start(s);
    Run(u"10001");
    ASSERT_EQ(result_.albums.size(), 2u);
    EXPECT_EQ(result_.albums[1].Name, u"Album2");
    EXPECT_TRUE(fe_.Notices().empty());
}

TEST_F(ListJobTest, NoAlbumAtAllShowsTheQZoneExplanation) {
    Start(Scenario(0));
    Run(u"10001");
    ASSERT_EQ(fe_.Notices().size(), 1u);
    EXPECT_EQ(fe_.Notices()[0].id, Notice::NoAlbums);
    EXPECT_EQ(NoticeText(fe_.Notices()[0]).text.rfind(u"没有获取到相册，原因如下：\n\n1、可能是因为空间不是公开的", 0), 0u);
    EXPECT_EQ(fe_.Notices()[0].cause, "");  // the service answered: no network cause
    EXPECT_EQ(CountRequests("fcg_list_album_v3"), 2u);  // both passes
    EXPECT_EQ(result_.targetFolder, u"10001/");
}

TEST_F(ListJobTest, AnUnreachableServiceSaysSoWithCurlsReason) {
    // Nothing listens on the routed port: the route lookup fails with the connection's reason,
    // which the notices carry beside the fixed texts.
    SetConnectTo("127.0.0.1:1");
    Run(u"10001");
    EXPECT_EQ(result_.reason, ListReason::Network);
    EXPECT_FALSE(result_.reasonText.empty());
    const auto notices = fe_.Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.front().id, Notice::RouteFailed);
    EXPECT_EQ(NoticeText(notices.front()).text, u"QQ空间相册错误1");
    EXPECT_NE(notices.front().cause.find("onnect"), std::string::npos) << notices.front().cause;
    EXPECT_EQ(notices.back().id, Notice::NoAlbums);
    EXPECT_FALSE(notices.back().cause.empty());
}

TEST_F(ListJobTest, WeiboAddressTakesTheWeiboPathWithKindOneOrTwo) {
    Start({{"weibo", {{{"name", "someone"}, {"uin", "30003"}}}}});
    for (int kind : {1, 2}) {
        Run(u"http://t.qq.com/someone?preview", kind);
        const auto* state = dynamic_cast<const ListedState*>(result_.service.get());
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->weiboId, u"someone");
        EXPECT_EQ(result_.targetFolder, u"someone/");
        EXPECT_EQ(result_.kind, TargetKind::Weibo);
        EXPECT_EQ(CountRequests("route.store.qq.com"), 0u);
    }
    // Kind 2 with a bare name also goes to Weibo; kind 1 with a bare number to the QQ group.
    Run(u"someone", 2);
    EXPECT_EQ(result_.kind, TargetKind::Weibo);
    Run(u"http://qun.qzone.qq.com/group#!/445566/album?x", 1);
    EXPECT_EQ(result_.kind, TargetKind::Group);
    EXPECT_EQ(result_.targetFolder, u"445566/");
    EXPECT_EQ(NoticeText(fe_.Notices().back()).text.rfind(u"没有获取到相册，可按以下步骤操作：\n\n1、你哪个号加入了", 0), 0u);
}

TEST_F(ListJobTest, StopAfterTheFirstAlbumKeepsItAndEndsNormally) {
    Start(Scenario(5));
    fe_.control = &control_;
    Run(u"10001");
    ASSERT_EQ(result_.albums.size(), 2u);  // the first album, then the mood row of a successful version 2
    EXPECT_EQ(result_.albums[0].Name, u"Album1");
    EXPECT_EQ(result_.albums[1].Name, kMoodAlbumName);
    EXPECT_EQ(result_.reason, ListReason::Stopped);
    EXPECT_EQ(fe_.Calls().back(), "list-finished: 2");
}

// Holds the job in its first event until the test lets it go on.
class GatedObserver : public test::RecordingObserver {
public:
    std::atomic<bool> entered{false}, open{false};
    void ListStarted() override {
        RecordingObserver::ListStarted();
        entered = true;
        test::WaitUntil([this] { return open.load(); }, std::chrono::seconds(60));
    }
};

TEST_F(ListJobTest, ButtonStartsStopsAndRestartsTheJob) {
    using namespace std::chrono_literals;
    Start(Scenario(3));
    GatedObserver fe;
    JobRunner runner;
    ListResult last;
    auto press = [&] {
        return runner.PressButton(
            [&] { last = RunListJob(ListRequest{u"10001", TargetKind::QZone}, fe, runner.control, st_.programFolder); });
    };
    ASSERT_EQ(press(), JobRunner::Press::Started);
    ASSERT_TRUE(test::WaitUntil([&] { return fe.entered.load(); }, 60s));
    // Pressing again while it runs asks for a stop and starts nothing.
    EXPECT_EQ(press(), JobRunner::Press::StopRequested);
    EXPECT_TRUE(runner.control.StopRequested());
    fe.open = true;
    ASSERT_TRUE(test::WaitUntil([&] { return !runner.Running(); }, 60s));
    runner.Join();
    EXPECT_EQ(last.reason, ListReason::Stopped);

    // Once idle, the next press runs again to the full list.
    ASSERT_EQ(press(), JobRunner::Press::Started);
    ASSERT_TRUE(test::WaitUntil([&] { return !runner.Running(); }, 60s));
    runner.Join();
    EXPECT_EQ(last.albums.size(), 4u);
    EXPECT_EQ(last.reason, ListReason::None);
}

}  // namespace
}  // namespace qm
