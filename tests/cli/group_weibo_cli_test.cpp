// End to end through quillmoss-cli --demo: a QQ group album and a Tencent Weibo album are listed and
// downloaded from the built-in simulator, and every file is compared with the picture it serves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "CliRunner.h"
#include "FileText.h"
#include "TempFolder.h"
#include "net/StringCtrl.h"
#include "sim/Simulator.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class GroupWeiboCli : public ::testing::Test {
protected:
    void SetUp() override {
        // The same scenario the CLI's built-in simulator serves (pictures are deterministic).
        sim = sim::Simulator::Demo();
    }
    // Runs the CLI in the program folder; returns its exit status, stdout in `out`.
    int Cli(const std::vector<std::string>& args, std::string* out = nullptr) {
        const test::CliResult r = cli.Run(args);
        if (out) *out = r.out;
        return r.code;
    }
    // The album's picture files, without the download history and the gallery page beside them.
    static std::vector<fs::path> PictureFiles(const fs::path& folder) {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.is_regular_file() && e.path().filename() != "pic.vyr" && e.path().filename() != "index.html" &&
                e.path().filename() != "album.json")
                out.push_back(e.path());
        return out;
    }
    // Short fingerprints of contents, so a mismatch reports readably.
    static std::string Print(const std::string& bytes) {
        return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
    }
    // The file of `folder` whose name without extension is `stem` (the extension may be fixed).
    static fs::path ByStem(const fs::path& folder, const std::string& stem) {
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().stem().string() == stem) return e.path();
        return {};
    }

    test::TempFolder root{"qm-cli-gw-"};
    test::CliRunner cli{root.path(), root.path() / "prog"};
    const fs::path save = root.path() / "save";
    std::unique_ptr<sim::Simulator> sim;
};

TEST_F(GroupWeiboCli, GroupAlbumsDownloadedAsServed) {
    const auto& account = sim->Scenario().at("accounts").at(0);
    const std::string uin = std::to_string(account.at("uin").get<long long>());
    const std::string cookies =
        "uin=o00" + uin + "; skey=" + account.at("skey").get<std::string>() + "; guin=o00" + uin;
    ASSERT_EQ(Cli({"cookies", "import", "--domain", "qq.com", cookies}), 0);

    std::string table;
    ASSERT_EQ(Cli({"--demo", "list", "345678901", "--kind", "group", "--format", "tsv"}, &table), 0);
    EXPECT_NE(table.find("家庭聚会"), std::string::npos);
    EXPECT_NE(table.find("春节"), std::string::npos);

    ASSERT_EQ(
        Cli({"--demo", "download", "345678901", "--kind", "group", "--save", save.string(), "--albums", "all", "--yes"}),
        0);
    const auto& group = sim->Scenario().at("groups").at(0);
    for (const auto& album : group.at("albums")) {
        const fs::path folder = save / "345678901" / album.at("title").get<std::string>();
        ASSERT_TRUE(fs::is_directory(folder)) << folder;
        std::size_t count = 0;
        for (const auto& photo : album.at("photos")) {
            // Named after the photo's name, or its description when it has none.
            std::string stem = photo.at("name").get<std::string>();
            if (stem.empty()) stem = photo.at("desc").get<std::string>();
            const fs::path file = ByStem(folder, stem);
            ASSERT_FALSE(file.empty()) << stem;
            EXPECT_EQ(Print(qm::test::FileText(file)), Print(sim->PictureBytes(photo.at("id").get<std::string>())))
                << file;
            ++count;
        }
        EXPECT_EQ(PictureFiles(folder).size(), count);
    }
}

TEST_F(GroupWeiboCli, WeiboTypedAlbumDownloadedAsServed) {
    std::string table;
    ASSERT_EQ(Cli({"--demo", "list", "demo_weibo", "--kind", "weibo", "--format", "tsv"}, &table), 0);
    EXPECT_NE(table.find("我的照片\t未知"), std::string::npos) << table;  // a typed album's count is unknown

    ASSERT_EQ(
        Cli({"--demo", "download", "demo_weibo", "--kind", "weibo", "--save", save.string(), "--albums", "1", "--yes"}),
        0);
    const auto& album = sim->Scenario().at("weibo").at(0).at("albums").at(0);
    std::vector<std::string> expected;
    for (const auto& post : album.at("posts"))
        for (const auto& picture : post.at("pictures"))
            expected.push_back(Print(sim->PictureBytes(picture.at("id").get<std::string>())));
    std::sort(expected.begin(), expected.end());
    ASSERT_GT(expected.size(), 24u);  // more than one page of posts: the continuation tail is used

    const fs::path folder = save / "demo_weibo" / album.at("name").get<std::string>();
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    std::vector<std::string> got;
    for (const auto& file : PictureFiles(folder)) got.push_back(Print(qm::test::FileText(file)));
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    // A forward without words takes the forwarded text; a post with neither, the album's name.
    EXPECT_FALSE(ByStem(folder, "转播的原文").empty());
    EXPECT_FALSE(ByStem(folder, "我的照片").empty());
    EXPECT_FALSE(ByStem(folder, "微博第2条 httpurl.cnabc").empty());
}

}  // namespace
}  // namespace qm
