// Resuming a large file (a film) through the simulator's film host: a transfer cut in the middle
// leaves its bytes beside the final name and nothing under it; the next fetch asks only for the
// rest and ends with the exact bytes. A server that no longer has the same file (another validator)
// or ignores Range makes the fetch start over, never splice two files together.
#include <gtest/gtest.h>

#include <filesystem>

#include "FileText.h"
#include "TempFolder.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t kFilm = 400000, kCut = 200000;

class Resume : public ::testing::Test {
protected:
    void Start(json faults) {
        json scenario = {{"qzone",
                          {{{"uin", 10001},
                            {"albums",
                             {{{"id", "Vfilm"},
                               {"pictures", {{{"id", "v1"}, {"video", {{"size", kFilm}}}}}}}}}}}},
                         {"faults", faults}};
        sim = std::make_unique<sim::Simulator>(scenario);
        ASSERT_NE(sim->Start(0), 0);
        SetConnectTo(sim->ConnectTo());
    }
    void TearDown() override {
        if (sim) sim->Stop();
        SetConnectTo("");
    }
    bool Fetch(uint8_t attempts, ST_URLRESPONSE& resp) {
        ST_URLREQUEST req(FromUtf8(sim->FilmAddress("v1")), TextFromPath(target()), 5000);
        req.headers = u"Referer: http://user.qzone.qq.com/10001";
        req.resumable = true;
        req.attempts = attempts;
        req.pauseSeconds = 0;
        return FetchUrl(req, resp, 0);
    }
    fs::path target() const { return folder.path() / "film.mp4"; }
    std::vector<sim::LoggedRequest> FilmRequests() const {
        std::vector<sim::LoggedRequest> out;
        for (const auto& r : sim->Requests())
            if (r.path.ends_with(".mp4")) out.push_back(r);
        return out;
    }

    test::TempFolder folder{"qm-resume-"};
    std::unique_ptr<sim::Simulator> sim;
};

TEST_F(Resume, CutFilmResumesFromWhatWasWritten) {
    Start({{{"match", ".mp4"}, {"truncate", kCut}, {"first", 1}}});
    ST_URLRESPONSE resp;
    EXPECT_FALSE(Fetch(1, resp));
    EXPECT_FALSE(fs::exists(target())) << "a cut film showed under its name";
    ASSERT_TRUE(fs::exists(target().string() + ".part"));
    EXPECT_EQ(fs::file_size(target().string() + ".part"), kCut);

    // The next fetch (the next run) asks only for the rest.
    ASSERT_TRUE(Fetch(1, resp)) << DescribeFailure(resp.failure);
    EXPECT_EQ(resp.resumedFrom, kCut);
    EXPECT_TRUE(resp.continued);
    EXPECT_EQ(test::FileText(target()), sim->FilmBytes("v1"));
    const auto films = FilmRequests();
    ASSERT_EQ(films.size(), 2u);
    EXPECT_EQ(films[0].headers.count("range"), 0u);
    EXPECT_EQ(films[1].headers.at("range"), "bytes=" + std::to_string(kCut) + "-");
    EXPECT_FALSE(films[1].headers.at("if-range").empty());
    EXPECT_EQ(films[1].status, 206);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"film.mp4"}) << "part or validator left behind";
}

TEST_F(Resume, SecondAttemptOfOneFetchResumes) {
    Start({{{"match", ".mp4"}, {"truncate", kCut}, {"first", 1}}});
    ST_URLRESPONSE resp;
    ASSERT_TRUE(Fetch(2, resp)) << DescribeFailure(resp.failure);
    EXPECT_EQ(resp.resumedFrom, kCut);
    EXPECT_EQ(test::FileText(target()), sim->FilmBytes("v1"));
}

TEST_F(Resume, AnotherValidatorOrAnIgnoredRangeStartsOver) {
    for (const json& second : {json{{"match", ".mp4"}, {"ignore_range", true}},
                               json{{"match", ".mp4"}, {"etag", "\"changed\""}, {"first", 1}}}) {
        SCOPED_TRACE(second.dump());
        fs::remove(target());
        json faults = {{{"match", ".mp4"}, {"truncate", kCut}, {"first", 1}}, second};
        Start(faults);
        ST_URLRESPONSE resp;
        EXPECT_FALSE(Fetch(1, resp));
        ASSERT_TRUE(Fetch(1, resp)) << DescribeFailure(resp.failure);
        EXPECT_EQ(resp.resumedFrom, kCut);
        EXPECT_FALSE(resp.continued);
        EXPECT_EQ(test::FileText(target()), sim->FilmBytes("v1"));
        EXPECT_EQ(FilmRequests().back().status, 200);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"film.mp4"});
        sim->Stop();
    }
}

}  // namespace
}  // namespace qm
