// What the archive learns of every chosen album, through the real jobs against the simulator: a
// photo-list page that fails leaves its album incomplete with the page's reason, and refused,
// empty, stopped and list-only albums reach the report like downloaded ones, numbered as the album
// list numbers them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/support/SimSessionTest.h"
#include "app/cli/ReportTable.h"
#include "download/Archive.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class AlbumRecord : public test::SimSessionTest {
protected:
    AlbumRecord() : SimSessionTest("qm-record-", "save 保存") {}

    std::vector<AlbumReport> Report() const {
        ArchiveOpenError error;
        const auto archive = Archive::Open(save, error, /*create=*/false);
        EXPECT_TRUE(archive) << error.detail;
        return archive ? archive->Report() : std::vector<AlbumReport>();
    }
    static bool Complete(const AlbumReport& r) { return cli::ReportComplete(r); }
};

TEST_F(AlbumRecord, AFailedPageAndEveryRefusalReachTheReportWithTheirReasons) {
    // The second photo-list page of the big album answers 500.
    json scenario = {
        {"qzone",
         {{{"uin", "10020"},
           {"albums",
            {{{"id", "whole"}, {"name", "全"}, {"pictures", 3}},
             {{"id", "big"}, {"name", "大"}, {"pictures", json::array()},
              {"generate", {{"count", 600}, {"size", 60}, {"name", "p%d"}}}},
             {{"id", "shut"}, {"name", "禁"}, {"priv", 3}, {"pictures", 2}},
             {{"id", "none"}, {"name", "空"}, {"pictures", 0}},
             {{"id", "lock"}, {"name", "锁"}, {"priv", 5}, {"password", "1234"}, {"pictures", 2}}}}}}},
        {"faults", {{{"match", "topicId=big&noTopic=0&uin=&pageStart=500"}, {"status", 500}}}}};
    Start(scenario);
    ListAndDownload("10020");
    ASSERT_EQ(outcome.albums.size(), 5u);

    EXPECT_TRUE(outcome.albums[0].Complete());
    const AlbumOutcome& big = outcome.albums[1];
    EXPECT_EQ(big.listed, 500u);
    EXPECT_EQ(big.saved, 500u);  // what was listed is still fetched
    EXPECT_EQ(big.NotListed(), 100u);
    EXPECT_EQ(big.reason, AlbumReason::Network);
    EXPECT_EQ(big.reasonText, "HTTP 500");
    EXPECT_FALSE(big.Complete());
    // No history either: it would make the next run stop at the first picture.
    EXPECT_FALSE(fs::exists(save / "10020" / "大" / "pic.vyr"));
    EXPECT_EQ(outcome.albums[2].reason, AlbumReason::NoAccess);
    EXPECT_EQ(outcome.albums[3].reason, AlbumReason::Empty);
    EXPECT_EQ(outcome.albums[4].reason, AlbumReason::Password);
    EXPECT_FALSE(outcome.Complete());

    const std::vector<AlbumReport> report = Report();
    ASSERT_EQ(report.size(), 5u);
    const AlbumReason reasons[] = {AlbumReason::None, AlbumReason::Network, AlbumReason::NoAccess,
                                   AlbumReason::Empty, AlbumReason::Password};
    for (std::size_t i = 0; i < report.size(); ++i) {
        EXPECT_EQ(report[i].position, static_cast<int>(i));
        EXPECT_EQ(report[i].lastReason, reasons[i]) << i;
        EXPECT_EQ(Complete(report[i]), i == 0) << i;
    }
    EXPECT_EQ(report[1].lastReasonText, "HTTP 500");

    // The next run, with the page healed, completes the album and the report says so.
    sim->Stop();
    scenario["faults"] = json::array();
    Start(scenario);
    ListAndDownload("10020", {1});
    EXPECT_TRUE(outcome.albums.at(0).Complete());
    EXPECT_EQ(outcome.albums.at(0).alreadyHad, 500u);
    EXPECT_TRUE(Complete(Report().at(1)));
}

// Chosen and stopped before a picture was fetched, or only listed into address lists: recorded and
// incomplete; a later full run completes them, and neither a later list-only run nor a stopped one
// takes that back. Numbers follow the album list, not the order of the runs.
TEST_F(AlbumRecord, ListOnlyAndStoppedAlbumsAreRecordedWithoutUndoingAFullRun) {
    Start({{"qzone",
            {{{"uin", "10021"},
              {"albums",
               {{{"id", "a"}, {"name", "甲"}, {"pictures", 3}}, {{"id", "b"}, {"name", "乙"}, {"pictures", 2}}}}}}}});
    st.settings.profile[0].SiteFlags |= SiteFlag::ListOnly;
    ListAndDownload("10021", {1});
    std::vector<AlbumReport> report = Report();
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].position, 1);
    EXPECT_TRUE(report[0].listOnly);
    EXPECT_FALSE(Complete(report[0]));
    EXPECT_NE(cli::RenderReport(report, cli::ReportFormat::Table).find("0002  乙"), std::string::npos);

    st.settings.profile[0].SiteFlags &= static_cast<uint16_t>(~SiteFlag::ListOnly);
    ListAndDownload("10021");
    ASSERT_TRUE(outcome.Complete());
    st.settings.profile[0].SiteFlags |= SiteFlag::ListOnly;
    ListAndDownload("10021");
    st.settings.profile[0].SiteFlags &= static_cast<uint16_t>(~SiteFlag::ListOnly);

    // A run stopped as its first album starts: nothing of it is fetched, and the record stands.
    DownloadRequest request = RequestFor({0});
    JobControl control;
    control.TryStart();
    struct StopAtAlbum : test::RecordingObserver {
        JobControl* control = nullptr;
        void AlbumStarted(std::size_t p, std::size_t n, const ST_PERLISTRECORD& rec) override {
            RecordingObserver::AlbumStarted(p, n, rec);
            control->RequestStop();
        }
    } stopper;
    stopper.control = &control;
    const JobOutcome stopped = RunDownloadJob(request, stopper, control);
    ASSERT_EQ(stopped.albums.size(), 1u);
    EXPECT_EQ(stopped.albums[0].reason, AlbumReason::Stopped);

    report = Report();
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0].name, "甲");  // list order, although 乙 was recorded first
    for (const AlbumReport& r : report) {
        EXPECT_TRUE(Complete(r)) << r.name;
        EXPECT_FALSE(r.listOnly);
    }
}

}  // namespace
}  // namespace qm
