// The offline gallery's big album: an album folder of 5,000 pictures gets its page, and headless
// Chromium opens it from file://. Prints the milliseconds until the page is ready (parsed, styled,
// its script run: the page's own data-ready mark), the median of three loads, against a goal of one
// second. Without chromium it says so and succeeds.
//
//   gallery_ready_bench [--count N]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gallery/Gallery.h"
#include "net/FileUtil.h"
#include "sim/Simulator.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The page's data-ready mark after one fresh headless load; -1 when it did not come.
int ReadyMs(const fs::path& work, const std::string& url, int run) {
    const fs::path profile = work / ("profile" + std::to_string(run));
    const fs::path dom = work / ("dom" + std::to_string(run) + ".html");
    const std::string cmd = "timeout 120 chromium --headless --no-sandbox --disable-gpu "
                            "--disable-background-networking --disable-component-update --disable-sync "
                            "--no-first-run --user-data-dir=" +
                            Quote(profile.string()) + " --dump-dom " + Quote(url) + " >" + Quote(dom.string()) +
                            " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return -1;
    std::ifstream in(dom, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string html = text.str();
    std::smatch m;
    if (!std::regex_search(html, m, std::regex(R"re(data-ready="(\d+)")re"))) return -1;
    return std::stoi(m[1].str());
}

}  // namespace

int main(int argc, char** argv) {
    int count = 5000;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
        std::printf("gallery: skipped (chromium is not installed)\n");
        return 0;
    }

    char pattern[] = "/tmp/qm-gallery-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path work = pattern;
    const fs::path album = work / "save" / "10001" / "big";
    fs::create_directories(album);
    const std::string jpeg = qm::sim::MakePictureBytes("g", 3000, "jpg");
    for (int i = 1; i <= count; ++i)
        std::ofstream(album / ("IMG_" + std::to_string(i) + ".jpg"), std::ios::binary) << jpeg;
    const auto report = qm::gallery::BuildGallery(qm::TextFromPath(work / "save"), u"10001");

    std::vector<int> ms;
    for (int run = 0; run < 3; ++run) ms.push_back(ReadyMs(work, "file://" + (album / "index.html").string(), run));
    std::sort(ms.begin(), ms.end());
    const int median = ms[1];
    std::printf("gallery: %d-picture page ready in %d ms (median of 3; goal < 1000 ms)%s\n", count, median,
                report.errors.empty() && median >= 0 ? "" : " FAILED");
    std::error_code ec;
    fs::remove_all(work, ec);
    return report.errors.empty() && median >= 0 && median < 1000 ? 0 : 1;
}
