// Video items end to end against the simulator: the cover is saved as a picture and the film beside
// it (asked for through the float view right before its download), byte for byte; films the service
// cannot give fail with their reasons while their covers count as saved; a film cut in the middle
// resumes with a Range request in the next attempt.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>

#include "FileText.h"
#include "download/AlbumJson.h"
#include "e2e/support/SimSessionTest.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json VideoScenario(json pictures, json faults = json::array()) {
    return {{"qzone", {{{"uin", 10001}, {"albums", {{{"id", "Vfilm"}, {"name", "视频"}, {"pictures", pictures}}}}}}},
            {"faults", faults}};
}

class VideoE2E : public test::SimSessionTest {
protected:
    VideoE2E() : SimSessionTest("qm-video-", "save") {}
    fs::path Album() const { return save / "10001" / "视频"; }
    std::vector<sim::LoggedRequest> Requests(const std::string& pathPart) const {
        std::vector<sim::LoggedRequest> out;
        for (const auto& r : sim->Requests())
            if (r.path.find(pathPart) != std::string::npos) out.push_back(r);
        return out;
    }
    const AlbumOutcome& Only() const { return outcome.albums.at(0); }
};

TEST_F(VideoE2E, CoversAndFilmsArriveByteForByte) {
    Start(VideoScenario({{{"id", "p1"}, {"name", "照片"}},
                         {{"id", "v1"}, {"name", "生日"}, {"video", {{"size", 300000}}}},
                         {{"id", "v2"}, {"name", "生日"}, {"video", true}}}));
    ListAndDownload("10001");

    EXPECT_EQ(test::FileText(Album() / "照片.jpg"), sim->PictureBytes("p1"));
    EXPECT_EQ(test::FileText(Album() / "生日.jpg"), sim->PictureBytes("v1"));
    EXPECT_EQ(test::FileText(Album() / "生日.mp4"), sim->FilmBytes("v1"));
    EXPECT_EQ(test::FileText(Album() / "生日(1).jpg"), sim->PictureBytes("v2"));
    EXPECT_EQ(test::FileText(Album() / "生日(1).mp4"), sim->FilmBytes("v2"));
    EXPECT_TRUE(outcome.Complete());
    EXPECT_EQ(Only().listed, 3u);
    EXPECT_EQ(Only().saved, 3u);
    EXPECT_EQ(Only().films.listed, 2u);
    EXPECT_EQ(Only().films.saved, 2u);

    // The float view was asked per video, with the item's key and the QZone Referer.
    const auto views = Requests("cgi_floatview_photo_list_v2");
    ASSERT_EQ(views.size(), 2u);
    for (const auto& v : views) {
        EXPECT_NE(v.query.find("topicId=Vfilm"), std::string::npos);
        EXPECT_NE(v.query.find("hostUin=10001"), std::string::npos);
        EXPECT_EQ(v.headers.at("referer"), "http://user.qzone.qq.com/10001");
        EXPECT_EQ(v.status, 200);
    }
    // The workers run at once, so the two lookups may arrive in either order.
    EXPECT_EQ(std::count_if(views.begin(), views.end(),
                            [](const auto& v) { return v.query.find("picKey=v1") != std::string::npos; }),
              1);

    const auto meta = ReadAlbumJson(TextFromPath(Album()));
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->videos, 2u);
    EXPECT_EQ(meta->videosSaved, 2u);
    ASSERT_EQ(meta->pictures.size(), 3u);
    EXPECT_FALSE(meta->pictures[0].video);
    ASSERT_TRUE(meta->pictures[1].video);
    EXPECT_EQ(meta->pictures[1].video->file, u"生日.mp4");
    EXPECT_EQ(meta->pictures[1].video->size, 300000u);
    EXPECT_EQ(meta->pictures[1].video->sha256.size(), 64u);

    // A second run has everything: no film is asked for again.
    sim->ClearRequests();
    ListAndDownload("10001");
    EXPECT_TRUE(outcome.Complete());
    EXPECT_EQ(Only().films.alreadyHad, 2u);
    EXPECT_TRUE(Requests(".mp4").empty());
}

TEST_F(VideoE2E, FilmsThatCannotBeHadFailWithTheirReasons) {
    Start(VideoScenario({{{"id", "v2"}, {"name", "nr"}, {"video", {{"state", "not_ready"}}}},
                         {{"id", "v3"}, {"name", "so"}, {"video", {{"state", "stream_only"}}}},
                         {{"id", "v4"}, {"name", "gone"}, {"video", {{"state", "gone"}}}}}));
    ListAndDownload("10001");

    EXPECT_FALSE(outcome.Complete());
    EXPECT_EQ(Only().saved, 3u) << "every cover counts as saved";
    EXPECT_EQ(Only().films.failed, 3u);
    std::map<std::string, std::string> reasons;
    for (const PictureOutcome& p : Only().failures) reasons[ToUtf8(p.fileName)] = DescribeFailure(p.failure);
    EXPECT_EQ(reasons["nr.mp4"], "视频未就绪");
    EXPECT_EQ(reasons["so.mp4"], "只有在线播放地址");
    EXPECT_EQ(reasons["gone.mp4"], "HTTP 403");
    for (const char* name : {"nr.mp4", "so.mp4", "gone.mp4"}) EXPECT_FALSE(fs::exists(Album() / name)) << name;
    for (const char* name : {"nr.jpg", "so.jpg", "gone.jpg"}) EXPECT_TRUE(fs::exists(Album() / name)) << name;

    const auto meta = ReadAlbumJson(TextFromPath(Album()));
    ASSERT_TRUE(meta);
    ASSERT_EQ(meta->pictures.size(), 3u);
    ASSERT_TRUE(meta->pictures[1].video);
    EXPECT_EQ(meta->pictures[1].video->reason, "只有在线播放地址");
    EXPECT_EQ(ToUtf8(meta->pictures[1].video->play).rfind("http://", 0), 0u) << "the play address is kept";
    EXPECT_FALSE(meta->complete);

    // The next run asks for the films again (the covers it has).
    sim->ClearRequests();
    ListAndDownload("10001");
    EXPECT_EQ(Requests("cgi_floatview_photo_list_v2").size(), 3u);
    EXPECT_EQ(Only().alreadyHad, 3u);
}

TEST_F(VideoE2E, CutFilmResumesWithARangeRequest) {
    constexpr std::size_t kSize = 600000;
    Start(VideoScenario({{{"id", "v1"}, {"name", "长片"}, {"video", {{"size", kSize}}}}},
                        {{{"match", ".mp4"}, {"truncate", kSize / 2}, {"first", 1}}}));
    ListAndDownload("10001");

    EXPECT_TRUE(outcome.Complete());
    EXPECT_EQ(test::FileText(Album() / "长片.mp4"), sim->FilmBytes("v1"));
    const auto films = Requests(".mp4");
    ASSERT_EQ(films.size(), 2u);
    EXPECT_EQ(films[0].headers.count("range"), 0u);
    EXPECT_EQ(films[1].headers.at("range"), "bytes=" + std::to_string(kSize / 2) + "-");
    EXPECT_EQ(films[1].status, 206);
    for (const auto& e : fs::directory_iterator(Album()))
        EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace qm
