// The gallery end to end: quillmoss-cli downloads two demo albums (and writes their gallery on its
// own), a hostile album and an album of 5,000 pictures are added, `gallery` runs again, and
// headless Chromium loads the pages from file://. Every link must lead to a file that exists, no
// page may ask the network for anything, planted markup must stay text, and the big album's page
// must work (how fast it is ready is a benchmark's figure). Skipped only when no chromium is
// installed.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "ChildProcess.h"
#include "CliRunner.h"
#include "TempFolder.h"
#include "download/AlbumJson.h"
#include "download/MoodsJson.h"
#include "net/FileUtil.h"
#include "sim/Simulator.h"
#include "FileText.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}
std::string PercentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

const char kPlanted[] =
    "<script>document.title='PWNED'</script><img src=x onerror=\"document.title='PWNED'\">";

class GalleryBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        chromium_ = test::FindProgram("chromium");
        if (chromium_.empty()) GTEST_SKIP() << "chromium is not installed";
        ASSERT_TRUE(fs::exists(runner_.binary)) << "build the quillmoss-cli target first";
    }

    // Runs quillmoss-cli with the scratch folder as its program folder and home.
    int Cli(const std::vector<std::string>& args) {
        auto child = runner_.Start(args, "cli-out.txt", "cli-err.txt");
        return runner_.Finish(child).code;
    }

    // Loads `url` in a fresh headless Chromium; returns the DOM after the scripts ran, and fails
    // the test when the page made any request to a network (Chromium's own background requests
    // carry no initiator and are left aside).
    std::string Dom(const std::string& url) {
        const fs::path profile = work_.path() / ("profile" + std::to_string(runs_));
        const fs::path netlog = work_.path() / ("net" + std::to_string(runs_) + ".json");
        const fs::path dom = work_.path() / ("dom" + std::to_string(runs_++) + ".html");
        test::ChildLaunch chromium;
        chromium.argv = {chromium_.string(), "--headless", "--no-sandbox", "--disable-gpu",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--no-first-run", "--user-data-dir=" + profile.string(), "--log-net-log=" + netlog.string(),
                         "--dump-dom", url};
        chromium.out = dom;
        chromium.err = "/dev/null";
        const std::optional<int> rc = test::RunChild(chromium, std::chrono::minutes(2));
        EXPECT_EQ(rc.value_or(-1), 0) << url;
        const auto log = nlohmann::json::parse(qm::test::FileText(netlog), nullptr, false);
        EXPECT_TRUE(log.is_object()) << "no network log for " << url;
        if (log.is_object()) {
            const int startJob = log.at("constants").at("logEventTypes").value("URL_REQUEST_START_JOB", -1);
            for (const auto& e : log.at("events")) {
                if (e.value("type", -2) != startJob || !e.contains("params")) continue;
                const auto& p = e.at("params");
                const std::string initiator = p.value("initiator", "not an origin");
                EXPECT_EQ(initiator, "not an origin") << url << " requested " << p.value("url", "?");
            }
        }
        return qm::test::FileText(dom);
    }

    test::TempFolder work_{"qm-gallery-"};
    test::CliRunner runner_{work_.path()};
    fs::path chromium_;
    int runs_ = 0;
};

TEST_F(GalleryBrowser, PagesLinkOnlyTheirOwnFilesStayOfflineAndKeepPlantedMarkupAsText) {
    const fs::path save = work_.path() / "saved 保存";
    // Albums 1 and 6 of the demo target: 旅行照片 (24 pictures with titles) and 家庭.
    ASSERT_EQ(Cli({"--demo", "download", "123456789", "--albums", "1,6", "--yes", "--save", save.string()}), 0)
        << qm::test::FileText(work_.path() / "cli-err.txt");
    const fs::path target = save / "123456789";
    ASSERT_TRUE(fs::exists(target / "index.html")) << "no gallery after the download";
    ASSERT_TRUE(fs::exists(target / "旅行照片" / "index.html"));

    const std::string jpeg = sim::MakePictureBytes("g", 3000, "jpg");
    AlbumJson evil;
    evil.name = FromUtf8(kPlanted);
    evil.complete = false;
    evil.expected = 2;
    evil.pictures = {{u"e1.jpg",
                      FromUtf8(kPlanted),
                      FromUtf8(std::string("</script>") + kPlanted),
                      {},
                      {},
                      0,
                      "",
                      "saved",
                      "",
                      {},
                      {},
                      {}}};
    fs::create_directories(target / "evil");
    std::ofstream(target / "evil" / "e1.jpg", std::ios::binary) << jpeg;
    ASSERT_TRUE(WriteAlbumJson(TextFromPath(target / "evil"), evil, nullptr));
    // 5,000 pictures without album.json: the files themselves are the album.
    fs::create_directories(target / "big");
    for (int i = 1; i <= 5000; ++i)
        std::ofstream(target / "big" / ("IMG_" + std::to_string(i) + ".jpg"), std::ios::binary) << jpeg;

    ASSERT_EQ(Cli({"gallery", "--save", save.string(), "123456789"}), 0)
        << qm::test::FileText(work_.path() / "cli-err.txt");

    // Every address in every page is a relative one to a file that exists.
    const std::regex ref(R"re((?:href|src)="([^"]*)")re");
    int pages = 0, links = 0;
    for (const auto& e : fs::recursive_directory_iterator(target)) {
        if (e.path().filename() != "index.html") continue;
        ++pages;
        const std::string html = qm::test::FileText(e.path());
        for (auto it = std::sregex_iterator(html.begin(), html.end(), ref); it != std::sregex_iterator();
             ++it) {
            const std::string url = (*it)[1].str();
            ++links;
            ASSERT_EQ(url.find(':'), std::string::npos) << e.path() << ": " << url;
            ASSERT_NE(url.rfind("//", 0), 0u) << e.path() << ": " << url;
            EXPECT_TRUE(fs::is_regular_file(e.path().parent_path() / PercentDecode(url)))
                << e.path() << " links " << url;
        }
    }
    EXPECT_EQ(pages, 5);  // the album list and four albums
    EXPECT_GT(links, 2 * 5000);
    for (const char* asset : {"gallery.css", "gallery.js"}) {
        const std::string text = qm::test::FileText(target / asset);
        EXPECT_EQ(text.find("://"), std::string::npos) << asset;
        EXPECT_EQ(text.find("url("), std::string::npos) << asset;
        EXPECT_EQ(text.find("@import"), std::string::npos) << asset;
    }

    const std::string base = "file://" + target.string();
    const std::string list = Dom(base + "/index.html");
    EXPECT_NE(list.find("旅行照片"), std::string::npos);
    EXPECT_EQ(Count(list, "<script"), 0);
    EXPECT_EQ(list.find("PWNED</title>"), std::string::npos);
    EXPECT_EQ(list.find("<img src=\"x\""), std::string::npos);
    EXPECT_NE(list.find("&lt;script&gt;document.title='PWNED'&lt;/script&gt;"), std::string::npos);

    // Opened on its first picture: the viewer shows the planted title and description as text.
    const std::string album = Dom(base + "/evil/index.html#1");
    EXPECT_EQ(Count(album, "<script"), 2);  // the description block and gallery.js
    EXPECT_NE(album.find("data-ready="), std::string::npos) << "gallery.js did not run";
    EXPECT_NE(album.find("<div class=\"viewer\""), std::string::npos);
    EXPECT_NE(album.find("<p>&lt;/script&gt;&lt;script&gt;document.title='PWNED'"), std::string::npos);
    EXPECT_EQ(album.find("PWNED</title>"), std::string::npos);
    EXPECT_EQ(album.find("<img src=\"x\""), std::string::npos);

    // The big album's page is ready (parsed, styled, script run) and links every picture.
    const std::string big = Dom(base + "/big/index.html");
    EXPECT_TRUE(std::regex_search(big, std::regex(R"re(data-ready="\d+")re"))) << "gallery.js did not run";
    EXPECT_EQ(Count(big, "<a href=\"IMG_"), 5000);
}

// The timeline of mood posts: markup planted in a post's text, its repost, its place, a comment
// and a reply stays text, both in the posts written into the page and in those the script makes
// (a search from the address: "#q=…"), and its thumbnails lead to the pictures of the mood folder.
TEST_F(GalleryBrowser, TimelineKeepsPlantedMarkupAsTextWhereverAPostIsMade) {
    const fs::path save = work_.path() / "saved";
    const fs::path target = save / "10001";
    const fs::path mood = target / "说说";
    fs::create_directories(mood);
    std::ofstream(mood / "p1.jpg", std::ios::binary) << sim::MakePictureBytes("m", 3000, "jpg");
    std::vector<std::string> records;
    // 30 posts, so the oldest is beyond what the page holds itself; the newest and the oldest are
    // the planted ones.
    for (int i = 0; i < 30; ++i) {
        MoodPost p;
        p.id = "t" + std::to_string(i);
        p.time = 1500000000 - i * 86400 * 40;
        p.text = FromUtf8(i == 0 || i == 29 ? std::string(kPlanted) : "普通的一条 " + std::to_string(i));
        if (i == 0 || i == 29) {
            p.repost = FromUtf8(kPlanted);
            p.place.name = FromUtf8(kPlanted);
            MoodComment c{FromUtf8(kPlanted), "1", FromUtf8(kPlanted), p.time + 60, {}, {}};
            c.replies.push_back(MoodComment{u"r", "2", FromUtf8(std::string("</script>") + kPlanted), p.time + 90, {}, {}});
            p.comments.push_back(c);
            p.files.push_back(u"p1.jpg");
        }
        records.push_back(PostRecordJson(p));
    }
    ASSERT_TRUE(WriteMoodsJson(TextFromPath(mood), nullptr, MoodsJsonText("10001", "", records), nullptr));
    ASSERT_EQ(Cli({"gallery", "--save", save.string(), "10001"}), 0)
        << qm::test::FileText(work_.path() / "cli-err.txt");
    ASSERT_TRUE(fs::exists(target / "moods.html"));
    EXPECT_NE(qm::test::FileText(target / "index.html").find("href=\"moods.html\""), std::string::npos);

    const std::string base = "file://" + target.string() + "/moods.html";
    for (const std::string& url : {base, base + "#q=" + "PWNED"}) {
        const std::string dom = Dom(url);
        EXPECT_NE(dom.find("data-ready="), std::string::npos) << url << ": timeline.js did not run";
        EXPECT_EQ(Count(dom, "<script"), 2) << url;  // the data block and timeline.js
        EXPECT_EQ(dom.find("PWNED</title>"), std::string::npos) << url;
        EXPECT_EQ(dom.find("<img src=\"x\""), std::string::npos) << url;
        // Text, repost, place, comment name and text: five times per planted post; the reply once.
        EXPECT_GE(Count(dom, "&lt;script&gt;document.title='PWNED'&lt;/script&gt;"), 5) << url;
        EXPECT_NE(dom.find("&lt;/script&gt;&lt;script&gt;document.title='PWNED'"), std::string::npos) << url;
        EXPECT_NE(dom.find("<a href=\"说说/p1.jpg\">"), std::string::npos) << url;
    }
    // The search made the oldest post, which the page did not hold.
    const std::string found = Dom(base + "#q=PWNED");
    EXPECT_NE(found.find("id=\"p29\""), std::string::npos);
    EXPECT_NE(found.find("找到 2 条"), std::string::npos);
}

}  // namespace
}  // namespace qm
