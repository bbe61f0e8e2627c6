// The aria2c input file of ListOnly mode, fetched by the real aria2c (the simulator as its HTTP
// proxy, so the file's addresses are used exactly as written), gives the very files of a normal
// download.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ChildProcess.h"
#include "e2e/support/SimSessionTest.h"
#include "FileText.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Picture files below `root` by relative path (the program's side files left out).
std::map<std::string, std::string> Pictures(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || e.path().filename() == "pic.vyr" || ext == ".txt" || ext == ".lst" ||
            e.path().filename().string().rfind("quillmoss-archive.sqlite3", 0) == 0 ||
            e.path().filename() == "album.json")
            continue;
        out[fs::relative(e.path(), root).string()] = qm::test::FileText(e.path());
    }
    return out;
}

class Aria2E2E : public test::SimSessionTest {
protected:
    Aria2E2E() : SimSessionTest("qm-aria2-", "save 保存") {}
};

TEST_F(Aria2E2E, InputFileFetchedByAria2GivesTheSameFiles) {
    const fs::path aria2c = qm::test::FindProgram("aria2c");
    if (aria2c.empty()) GTEST_SKIP() << "aria2c is not installed";
    std::ifstream in(std::string(QM_TEST_DATA) + "/download_e2e.json");
    Start(nlohmann::json::parse(in));
    uint16_t& flags = st.settings.profile[0].SiteFlags;
    flags &= static_cast<uint16_t>(~(SiteFlag::FixFormat | SiteFlag::ListOnly));

    ListAndDownload("10001");
    const auto normal = Pictures(save);
    ASSERT_EQ(normal.size(), 8u);
    fs::rename(save, root / "normal");

    // The same albums again, in ListOnly mode.
    flags |= SiteFlag::ListOnly;
    ListAndDownload("10001");
    ASSERT_TRUE(Pictures(save).empty());
    std::vector<fs::path> inputs;
    for (const auto& e : fs::recursive_directory_iterator(save))
        if (e.path().filename().string().ends_with(".aria2.txt")) inputs.push_back(e.path());
    ASSERT_EQ(inputs.size(), 2u);
    for (const fs::path& input : inputs) {
        qm::test::ChildLaunch fetch;
        fetch.argv = {aria2c.string(), "-q", "--summary-interval=0", "--auto-file-renaming=false", "--max-tries=2",
                      "--all-proxy=http://" + sim->ConnectTo(), "-i", input.string()};
        fetch.out = fetch.err = "/dev/null";
        ASSERT_EQ(qm::test::RunChild(fetch, std::chrono::minutes(2)).value_or(-1), 0) << input;
    }
    EXPECT_EQ(Pictures(save), normal);
}

}  // namespace
}  // namespace qm
