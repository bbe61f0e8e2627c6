// A video album in the offline gallery: its tile carries the play mark and names the film, and the
// large view plays the film from file:// in headless Chromium (the <video> element gets its
// metadata). Skipped only when no chromium is installed.
#include <gtest/gtest.h>

#include <fstream>

#include "ChildProcess.h"
#include "FileText.h"
#include "e2e/support/SimSessionTest.h"
#include "gallery/Gallery.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class VideoGallery : public test::SimSessionTest {
protected:
    VideoGallery() : SimSessionTest("qm-video-gallery-", "save") {}
};

TEST_F(VideoGallery, LargeViewPlaysTheFilm) {
    Start({{"qzone",
            {{{"uin", 10001},
              {"albums",
               {{{"id", "Vfilm"},
                 {"name", "视频"},
                 {"pictures", {{{"id", "p1"}, {"name", "照片"}}, {{"id", "v1"}, {"name", "生日"}, {"video", true}}}}}}}}}}});
    ListAndDownload("10001");
    ASSERT_TRUE(outcome.Complete());
    const gallery::GalleryReport report = gallery::BuildGallery(TextFromPath(save), u"10001");
    ASSERT_TRUE(report.errors.empty());

    const fs::path album = save / "10001" / "视频";
    const std::string page = test::FileText(album / "index.html");
    EXPECT_NE(page.find("<a class=\"video\" href=\"生日.jpg\" data-film=\"生日.mp4\""), std::string::npos) << page;
    EXPECT_NE(page.find("media-src 'self' file:"), std::string::npos);

    const fs::path chromium = test::FindProgram("chromium");
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
    // A page beside the gallery opens the album's second tile (the video) in the large view and
    // writes the <video> element's readyState into its own title once the metadata arrived.
    const fs::path harness = root / "harness.html";
    std::ofstream(harness) << "<!DOCTYPE html><title>none</title><iframe id=f src=\"save/10001/%E8%A7%86%E9%A2%91/"
                              "index.html#2\"></iframe><script>\n"
                              "var t0 = Date.now();\n"
                              "(function poll() {\n"
                              "  var d = document.getElementById('f').contentDocument;\n"
                              "  var v = d && d.querySelector('.viewer video');\n"
                              "  if (v) document.title = 'video ' + v.readyState + ' ' + (v.hidden ? 'hidden' : 'shown') +\n"
                              "    ' ' + decodeURIComponent(v.getAttribute('src') || '');\n"
                              "  if (!v || v.readyState < 1) { if (Date.now() - t0 < 20000) setTimeout(poll, 50); }\n"
                              "})();\n</script>\n";
    const fs::path dom = root / "dom.html";
    test::ChildLaunch load;
    load.argv = {chromium.string(), "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--allow-file-access-from-files", "--autoplay-policy=no-user-gesture-required",
                 "--virtual-time-budget=20000", "--user-data-dir=" + (root / "profile").string(), "--dump-dom",
                 "file://" + harness.string()};
    load.out = dom;
    load.err = "/dev/null";
    ASSERT_EQ(test::RunChild(load, std::chrono::minutes(2)).value_or(-1), 0);
    const std::string text = test::FileText(dom);
    const std::size_t at = text.find("<title>video ");
    ASSERT_NE(at, std::string::npos) << text;
    const int readyState = text[at + 13] - '0';
    EXPECT_GE(readyState, 1) << text.substr(at, 80);
    EXPECT_NE(text.find("shown 生日.mp4</title>"), std::string::npos) << text.substr(at, 80);
}

}  // namespace
}  // namespace qm
