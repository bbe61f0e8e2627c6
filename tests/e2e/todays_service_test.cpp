// Today's answers end to end, through the simulator: the big picture of today's shapes saved
// byte for byte with the medium one only as the alternate, shoot times as file times (and FixOrder
// still deciding them when on), one broken picture costing nothing else, a busy album waited out,
// and a picture host that never stops refusing ending as 限流 within the job's budget.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/cli/CliPresenter.h"
#include "core/ExtSettings.h"
#include "FileText.h"
#include "download/AlbumJson.h"
#include "e2e/support/SimSessionTest.h"
#include "net/FileUtil.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// 2021-11-01 22:54:34 China time.
constexpr std::time_t kShot = 1635778474;
// 2021-10-01 08:00:00 China time.
constexpr std::time_t kExif = 1633046400;
constexpr std::time_t kUploaded = 1500000000;

json TodayScenario() {
    return json::parse(R"({"qzone": [{"uin": 10001, "albums": [{"id": "today", "name": "今天", "today": true,
        "pictures": [
          {"id": "t1", "name": "one", "shoot": "2021-11-01 22:54:34", "exif_time": "2021:11:01 22:54:30", "size": 5000},
          {"id": "t2", "name": "two", "exif_time": "2021:10:01 08:00:00", "size": 5100, "kind": "today_qpic"},
          {"id": "t3", "name": "three", "broken": true, "size": 5200},
          {"id": "t4", "name": "four", "time": 1500000000, "size": 5300},
          {"id": "t5", "size": 5400}]}]}]})");
}

std::time_t FileTime(const fs::path& p) {
    struct stat sb {};
    return ::stat(p.c_str(), &sb) == 0 ? sb.st_mtime : 0;
}

class TodaysService : public test::SimSessionTest {
protected:
    TodaysService() : SimSessionTest("qm-today-", "save") {}

    AlbumJson Sidecar() const {
        const auto j = ReadAlbumJson(outcome.albums.at(0).folder);
        EXPECT_TRUE(j.has_value());
        return j.value_or(AlbumJson{});
    }
    fs::path FileOf(const AlbumJsonPicture& p) const { return PathFromText(outcome.albums.at(0).folder + p.file); }
    std::size_t Hits(const std::string& host) const {
        std::size_t n = 0;
        for (const auto& r : sim->Requests()) n += r.host == host;
        return n;
    }
    // Lists QQ 10001 and downloads its album with the manual clock (waits take no time).
    void Download() {
        JobControl listControl;
        listControl.TryStart();
        list = RunListJob(ListRequest{u"10001", TargetKind::QZone}, fe, listControl, st.programFolder);
        ASSERT_FALSE(list.albums.empty());
        DownloadRequest request = RequestFor({0});
        JobControl control;
        control.TryStart();
        outcome = RunDownloadJob(request, fe, control, clock);
        ASSERT_EQ(outcome.albums.size(), 1u);
    }

    ManualClock clock;
};

TEST_F(TodaysService, BigPicturesByteForByteWithShootTimesAndTheBrokenOneCostsNothingElse) {
    Start(TodayScenario());
    Download();
    const AlbumOutcome& a = outcome.albums[0];
    EXPECT_EQ(a.listed, 5u);
    EXPECT_EQ(a.saved, 5u) << cli::AlbumReasonText(a);
    EXPECT_TRUE(a.Complete());

    const AlbumJson j = Sidecar();
    ASSERT_EQ(j.pictures.size(), 5u);
    const char* ids[] = {"t1", "t2", "t3", "t4", "t5"};
    for (std::size_t i = 0; i < 5; ++i) {
        const AlbumJsonPicture& p = j.pictures[i];
        // The big form was requested and saved; the medium one is only the alternate.
        EXPECT_EQ(ToUtf8(p.main), sim->PictureAddress(ids[i]));
        EXPECT_NE(p.main.find(u"/b&bo="), Text::npos);
        EXPECT_NE(p.alternate.find(u"/m&bo="), Text::npos);
        EXPECT_EQ(test::FileText(FileOf(p)), sim->PictureBytes(ids[i])) << ids[i];
    }
    // The medium form was never fetched.
    for (const auto& r : sim->Requests()) EXPECT_EQ(r.target.find("/m&bo="), std::string::npos) << r.target;
    EXPECT_GT(Hits("m.qpic.cn"), 0u);

    // rawshoottime first, then the exif time, then the upload time; all China time.
    EXPECT_EQ(FileTime(FileOf(j.pictures[0])), kShot);
    EXPECT_EQ(FileTime(FileOf(j.pictures[1])), kExif);
    EXPECT_EQ(FileTime(FileOf(j.pictures[3])), kUploaded);
    EXPECT_EQ(j.pictures[0].shot, "2021-11-01T22:54:34+08:00");
    EXPECT_EQ(j.pictures[3].shot, "");
    EXPECT_EQ(j.pictures[3].uploaded, "2017-07-14T10:40:00+08:00");
    // The topic object after the list lent the nameless last picture nothing.
    EXPECT_EQ(j.pictures[4].title.find(u"topic"), Text::npos);
    EXPECT_EQ(j.pictures[4].description.find(u"topic"), Text::npos);

    // A re-run skips the saved pictures and leaves their times alone.
    const fs::path first = FileOf(j.pictures[0]);
    fs::last_write_time(first, fs::last_write_time(first) + std::chrono::hours(5));
    const std::time_t touched = FileTime(first);
    Download();
    EXPECT_EQ(outcome.albums[0].alreadyHad, 5u);
    EXPECT_EQ(FileTime(first), touched);
    // The re-run's album.json keeps each picture's file, size and digest, from the archive.
    const AlbumJson again = Sidecar();
    ASSERT_EQ(again.pictures.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(again.pictures[i].state, "already_had");
        EXPECT_EQ(again.pictures[i].file, j.pictures[i].file);
        EXPECT_EQ(again.pictures[i].size, j.pictures[i].size);
        EXPECT_EQ(j.pictures[i].sha256.size(), 64u);
        EXPECT_EQ(again.pictures[i].sha256, j.pictures[i].sha256);
    }
}

TEST_F(TodaysService, FixOrderAndTheSwitchDecideTheTimes) {
    Start(TodayScenario());
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        st.settings.profile[0].SiteFlags |= SiteFlag::FixOrder;
    }
    Download();
    const AlbumJson j = Sidecar();
    const std::time_t now = std::time(nullptr);
    // FixOrder gives the first picture the time of the run and each next one a minute less.
    EXPECT_NEAR(static_cast<double>(FileTime(FileOf(j.pictures[0]))), static_cast<double>(now), 120.0);
    EXPECT_EQ(FileTime(FileOf(j.pictures[0])) - FileTime(FileOf(j.pictures[1])), 60);

    // Switched off (in the extension settings file), and without FixOrder: the time of the download.
    ASSERT_FALSE(WriteExtSetting(st.programFolder, kDownloadSection, kKeepShootTimeKey, u"0"));
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        st.settings.profile[0].SiteFlags &= static_cast<uint16_t>(~SiteFlag::FixOrder);
    }
    fs::remove_all(save);
    Download();
    const AlbumJson again = Sidecar();
    EXPECT_NEAR(static_cast<double>(FileTime(FileOf(again.pictures[0]))), static_cast<double>(std::time(nullptr)),
                120.0);
}

// The photo list answers the busy refusal first and the picture host refuses a few pictures: both
// are waited out (the countdown reaches the observer) and every picture arrives.
TEST_F(TodaysService, ABusyAlbumIsWaitedOutAndDownloaded) {
    json s = TodayScenario();
    s["faults"] = json::parse(R"([{"match": "cgi_list_photo", "rate_limit_first": 1, "busy_code": -10001},
        {"match": "photogz.photo.store.qq.com", "status": 429, "first": 3, "header": "Retry-After: 3"}])");
    Start(s);
    Download();
    const AlbumOutcome& a = outcome.albums[0];
    EXPECT_EQ(a.saved, 5u) << cli::AlbumReasonText(a);
    EXPECT_TRUE(a.Complete());
    EXPECT_EQ(a.reason, AlbumReason::None);
    // One list wait (at least 30 s) and one shared picture wait of the named 3 s.
    EXPECT_GE(a.rateLimitWaited, std::chrono::seconds(33));
    EXPECT_LT(a.rateLimitWaited, std::chrono::seconds(45));
    EXPECT_FALSE(fe.Of("waiting").empty());
}

// A picture host that refuses forever: the job's back-off gives up within its budget, and the album
// says 限流, not 无权访问 or an empty reason.
TEST_F(TodaysService, AnExhaustedWaitReportsRateLimited) {
    json s = TodayScenario();
    s["faults"] = json::parse(R"([{"match": "store.qq.com/psc", "status": 429},
                                  {"match": "m.qpic.cn", "status": 429}])");
    Start(s);
    Download();
    const AlbumOutcome& a = outcome.albums[0];
    EXPECT_EQ(a.saved, 0u);
    EXPECT_EQ(a.failed, 5u);
    EXPECT_EQ(a.reason, AlbumReason::RateLimited);
    for (const PictureOutcome& p : a.failures) EXPECT_EQ(p.failure.kind, FailureKind::RateLimited);
    EXPECT_NE(cli::AlbumReasonText(a).find("限流"), std::string::npos);
    EXPECT_LE(a.rateLimitWaited, Backoff::kBudget);
    // A bounded number of requests: no ladder per picture, no alternate after the back-off gave up.
    EXPECT_LE(Hits("photogz.photo.store.qq.com") + Hits("m.qpic.cn"), 5u + Backoff::kPictureWaits.size() * 5);
}

}  // namespace
}  // namespace qm
