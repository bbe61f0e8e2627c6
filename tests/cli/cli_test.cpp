// quillmoss-cli as a user runs it: the built binary in a scratch program folder, against the demo
// simulator (--demo) or a simulator of the test's own (QUILLMOSS_CONNECT_TO).
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "CliRunner.h"
#include "FileText.h"
#include "TempFolder.h"
#include "WaitUntil.h"
#include "sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using qm::test::CliResult;
using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);) out.push_back(line);
    return out;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(cli_.binary)) << "build the quillmoss-cli target first";
    }
    void TearDown() override {
        if (sim_) sim_->Stop();
    }

    // Runs the binary with the scratch folder as its program folder and stdin closed (no terminal
    // to ask).
    CliResult Cli(const std::vector<std::string>& args, const Env& env = {}) { return cli_.Run(args, env); }

    void StartSim(json scenario) {
        sim_ = std::make_unique<qm::sim::Simulator>(std::move(scenario));
        ASSERT_NE(sim_->Start(0), 0);
    }
    Env SimEnv() const { return {{"QUILLMOSS_CONNECT_TO", sim_->ConnectTo()}}; }

    qm::test::TempFolder dir{"qm-cli-"};
    const fs::path& dir_ = dir.path();
    qm::test::CliRunner cli_{dir.path()};
    std::unique_ptr<qm::sim::Simulator> sim_;
};

TEST_F(CliTest, ListsTheDemoTargetInEachFormat) {
    const CliResult table = Cli({"--demo", "list", "123456789"});
    ASSERT_EQ(table.code, 0) << table.err;
    const auto rows = Lines(table.out);
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[0], "序号  名称                       数量  备注");
    EXPECT_EQ(rows[1], "0001  旅行照片                     24");
    EXPECT_EQ(rows[3], "0003  好友可见                      6  好友可见");
    EXPECT_EQ(rows[5], "0005  毕业照全集                 1200");
    EXPECT_EQ(rows[9], "0009  今天的相册                   24");
    EXPECT_EQ(rows[10], "0010  说说里的图片-新增测试功能  未知");

    const CliResult tsv = Cli({"--demo", "list", "123456789", "--format", "tsv"});
    ASSERT_EQ(tsv.code, 0) << tsv.err;
    const auto t = Lines(tsv.out);
    ASSERT_EQ(t.size(), 10u);  // rows only
    EXPECT_EQ(t[1], "0002\t私密相册\t   5\t私密相册");
    EXPECT_EQ(t[3], "0004\t加密相册\t   4\t加密相册");
    EXPECT_EQ(t[6], "0007\t家庭 (1)\t   4\t");  // the second album of the same name
    EXPECT_EQ(t[9], "0010\t说说里的图片-新增测试功能\t未知\t");

    const CliResult js = Cli({"list", "--format=json", "123456789", "--demo"});
    ASSERT_EQ(js.code, 0) << js.err;
    const json arr = json::parse(js.out);
    ASSERT_EQ(arr.size(), 10u);
    EXPECT_EQ(arr[2]["序号"], "0003");
    EXPECT_EQ(arr[2]["备注"], "好友可见");
    EXPECT_EQ(arr[2]["privacyFlags"], 4);
    EXPECT_EQ(arr[4]["数量"], "1200");
    EXPECT_EQ(arr[9]["数量"], "未知");
    EXPECT_EQ(arr[9]["pictureCount"], -1);
    // Nothing went to the real services, and the program folder got its settings file.
    EXPECT_TRUE(fs::exists(dir_ / "soft.dat"));
}

TEST_F(CliTest, ExitCodesAndUsage) {
    EXPECT_EQ(Cli({}).code, 2);
    EXPECT_EQ(Cli({"frobnicate"}).code, 2);
    EXPECT_EQ(Cli({"list"}).code, 2);
    EXPECT_EQ(Cli({"list", "1", "--format", "xml"}).code, 2);
    EXPECT_EQ(Cli({"list", "1", "--kind", "blog"}).code, 2);
    EXPECT_EQ(Cli({"list", "1", "--yes", "--no"}).code, 2);
    EXPECT_EQ(Cli({"download", "123456789"}).code, 2);  // no --save
    // Every help speaks the terminal's one language: below the usage lines no English prose (an
    // article or "Exit status" would show it), and every paragraph holds Chinese.
    for (const char* c : {"list", "download", "report", "gallery", "settings", "cookies"}) {
        const CliResult h = Cli({c, "--help"});
        EXPECT_EQ(h.code, 0) << c;
        EXPECT_NE(h.out.find("usage: quillmoss-cli"), std::string::npos) << c;
        const std::string body = h.out.substr(std::min(h.out.size(), h.out.find("\n\n")));
        for (const char* english : {" the ", "The ", " of ", "Exit status"})
            EXPECT_EQ(body.find(english), std::string::npos) << c << " --help: " << english;
        std::size_t from = 0;
        while (from < body.size()) {
            std::size_t end = body.find("\n\n", from);
            if (end == std::string::npos) end = body.size();
            const std::string paragraph = body.substr(from, end - from);
            const bool chinese = std::any_of(paragraph.begin(), paragraph.end(),
                                             [](char ch) { return static_cast<unsigned char>(ch) >= 0xE0; });
            const bool blank = paragraph.find_first_not_of('\n') == std::string::npos;
            EXPECT_TRUE(blank || chinese) << c << " --help: " << paragraph;
            from = end + 2;
        }
    }
    EXPECT_EQ(Cli({"--help"}).code, 0);

    // Nothing found: the message on stderr, an empty table, status 1.
    const CliResult letters = Cli({"--demo", "list", "12345abc"});
    EXPECT_EQ(letters.code, 1);
    EXPECT_NE(letters.err.find("请直接输入QQ号进行下载"), std::string::npos);
    EXPECT_EQ(Lines(letters.out).size(), 1u);

    // An album number outside the list is a usage error, before anything is downloaded.
    const CliResult outside = Cli({"--demo", "download", "123456789", "--save", "saved", "--albums", "2,11"});
    EXPECT_EQ(outside.code, 2);
    EXPECT_NE(outside.err.find("第 11 个相册不在列表里"), std::string::npos) << outside.err;
    EXPECT_FALSE(fs::exists(dir_ / "saved"));
}

TEST_F(CliTest, SettingsValidateLikeTheDialogsAndPersist) {
    ASSERT_EQ(Cli({"settings", "show"}).code, 0);
    const std::string before = qm::test::FileText(dir_ / "soft.dat");
    ASSERT_EQ(before.size(), 19808u);

    for (const char* bad : {"0", "16", "x"}) {
        const CliResult r = Cli({"settings", "set", "ThreadCount", bad});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_NE(r.err.find("参数错误"), std::string::npos);
    }
    EXPECT_EQ(Cli({"settings", "set", "TimeoutSec", "9"}).code, 2);
    EXPECT_EQ(qm::test::FileText(dir_ / "soft.dat"), before);  // nothing stored

    EXPECT_EQ(Cli({"settings", "set", "timeoutsec", "10"}).code, 0);
    EXPECT_EQ(Cli({"settings", "set", "MinSizeKB", "-1"}).code, 0);  // low 16 bits, as the dialog
    EXPECT_EQ(Cli({"settings", "set", "NamePrefix", std::string(50, 'p')}).code, 0);
    EXPECT_EQ(Cli({"settings", "set", "FolderMode", "2"}).code, 2);
    EXPECT_EQ(Cli({"settings", "toggle", "DescriptionPicturesOnly"}).code, 0);
    const CliResult toggled = Cli({"settings", "toggle", "MainPicturesOnly"});
    EXPECT_EQ(toggled.out, "MainPicturesOnly\ton\n");
    EXPECT_EQ(Cli({"settings", "toggle", "NoSuchFlag"}).code, 2);

    const std::string shown = Cli({"settings", "show"}).out;
    EXPECT_NE(shown.find("TimeoutSec\t10\n"), std::string::npos);
    EXPECT_NE(shown.find("MinSizeKB\t65535\n"), std::string::npos);
    EXPECT_NE(shown.find("NamePrefix\t" + std::string(38, 'p') + "\n"), std::string::npos);
    EXPECT_NE(shown.find("MainPicturesOnly\ton\n"), std::string::npos);
    EXPECT_NE(shown.find("DescriptionPicturesOnly\toff\n"), std::string::npos);
    EXPECT_NE(shown.find("OpenFolderWhenDone\ton\n"), std::string::npos);  // first-run default
}

// Folders where files should be: a clear reason and exit status 1, never an abort; nothing written
// is never reported as saved.
TEST_F(CliTest, FoldersInPlaceOfFilesGiveClearErrors) {
    fs::create_directories(dir_ / "soft.dat");
    const CliResult set = Cli({"settings", "set", "ThreadCount", "3"});
    EXPECT_EQ(set.code, 1);
    EXPECT_NE(set.err.find("quillmoss-cli: 无法保存设置: "), std::string::npos) << set.err;
    EXPECT_EQ(Cli({"settings", "toggle", "FixFormat"}).code, 1);

    fs::create_directories(dir_ / "exported");
    const CliResult folder = Cli({"cookies", "import", "exported"});
    EXPECT_EQ(folder.code, 1);
    EXPECT_NE(folder.err.find("exported 是文件夹，不是 cookie 文件"), std::string::npos) << folder.err;

    fs::create_directories(dir_ / "cookies.txt");
    const CliResult list = Cli({"cookies", "list"});
    EXPECT_EQ(list.code, 1);
    EXPECT_NE(list.err.find("程序文件夹里的 cookies.txt 无法读取"), std::string::npos);
}

TEST_F(CliTest, ImportedCookiesOpenAFriendsOnlySpace) {
    StartSim({{"accounts", {{{"uin", "20001234"}, {"password", "pw"}, {"skey", "@Fr1endKy"}}}},
              {"qzone",
               {{{"uin", "10001"},
                 {"space", "friends"},
                 {"friends", {"20001234"}},
                 {"albums", {{{"id", "f1"}, {"name", "Friends"}, {"priv", 4}, {"pictures", 2}}}}}}}});

    // Without cookies the space refuses; the login question is answered No with no terminal.
    const CliResult refused = Cli({"list", "10001"}, SimEnv());
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("加密或非公开空间，是否进行身份验证?"), std::string::npos);
    EXPECT_NE(refused.err.find("-> 否"), std::string::npos);
    EXPECT_EQ(refused.err.find("这里需要登录"), std::string::npos);

    // A browser export: session cookies, one of them marked HttpOnly.
    std::ofstream(dir_ / "export.txt") << "# Netscape HTTP Cookie File\n"
                                          ".qq.com\tTRUE\t/\tFALSE\t0\tuin\to0020001234\n"
                                          "#HttpOnly_.qq.com\tTRUE\t/\tFALSE\t0\tskey\t@Fr1endKy\n";
    const CliResult imported = Cli({"cookies", "import", "export.txt"});
    ASSERT_EQ(imported.code, 0) << imported.err;
    const std::string listed = Cli({"cookies", "list"}).out;
    EXPECT_NE(listed.find(".qq.com\t/\tskey\t@Fr1endKy\t"), std::string::npos) << listed;

    // A later run sees them: the friends-only album is listed.
    const CliResult ok = Cli({"list", "10001", "--format", "tsv"}, SimEnv());
    ASSERT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(Lines(ok.out).front(), "0001\tFriends\t   2\t好友可见");

    // The Cookie-header form does the same in a fresh program folder.
    fs::remove(dir_ / "cookies.txt");
    EXPECT_EQ(Cli({"list", "10001"}, SimEnv()).code, 1);
    EXPECT_EQ(Cli({"cookies", "import", "--domain", "qq.com", "uin=o0020001234; skey=@Fr1endKy"}).code, 0);
    EXPECT_EQ(Cli({"list", "10001"}, SimEnv()).code, 0);
    EXPECT_EQ(Cli({"cookies", "import", "missing.txt"}).code, 1);
}

// An encrypted album from the terminal: the question once (also with --no or nobody to answer),
// the password from --album-password submitted as the album's page does, a wrong one leaving the
// album incomplete.
TEST_F(CliTest, PasswordAlbumsDownloadWithAGivenPassword) {
    auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    for (const std::vector<std::string>& answer : {std::vector<std::string>{"--no"}, std::vector<std::string>{}}) {
        std::vector<std::string> args = {"--demo", "download", "123456789", "--albums", "4", "--save", "saved"};
        args.insert(args.end(), answer.begin(), answer.end());
        const CliResult declined = Cli(args);
        EXPECT_EQ(declined.code, 1);
        EXPECT_EQ(count(declined.err, "加密相册，是否输入密码？"), 1u) << declined.err;
    }
    const CliResult wrong = Cli({"--demo", "download", "123456789", "--albums", "4", "--save", "saved",
                              "--album-password", "0004=nope"});
    EXPECT_EQ(wrong.code, 1) << wrong.err;
    EXPECT_EQ(count(wrong.err, "加密相册，是否输入密码？"), 1u) << wrong.err;

    const CliResult right = Cli({"--demo", "download", "123456789", "--albums", "4", "--save", "saved",
                              "--album-password", "4=1234"});
    EXPECT_EQ(right.code, 0) << right.err;
    std::size_t pictures = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "saved" / "123456789" / "加密相册"))
        pictures += e.path().extension() == ".jpg";
    EXPECT_EQ(pictures, 4u);
    EXPECT_EQ(Cli({"download", "1", "--save", "s", "--album-password", "nopassword"}).code, 2);
}

TEST_F(CliTest, DownloadsChosenAlbumsAndSummarises) {
    const CliResult r =
        Cli({"--demo", "download", "123456789", "--albums", "1,3", "--save", "saved dir", "--no"});
    // The friends-only album cannot be reached without a login: the run is not complete.
    EXPECT_EQ(r.code, 1) << r.err;
    const fs::path album = dir_ / "saved dir" / "123456789" / "旅行照片";
    std::size_t pictures = 0;
    for (const auto& e : fs::directory_iterator(album)) pictures += e.path().extension() == ".jpg";
    EXPECT_EQ(pictures, 24u);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], "序号  名称      列出  已保存  已有  失败  原因");
    EXPECT_EQ(lines[1], "0001  旅行照片    24      24     0     0");
    EXPECT_EQ(lines[2], "0003  好友可见     0       0     0     0  无权访问");
    EXPECT_NE(r.err.find("下载完毕"), std::string::npos);

    // The same run as JSON events, one object per line.
    const CliResult js = Cli({"--demo", "download", "123456789", "--albums", "1", "--save", "json dir", "--format",
                           "json"});
    EXPECT_EQ(js.code, 0) << js.err;
    std::vector<json> events;
    for (const auto& line : Lines(js.out)) events.push_back(json::parse(line));
    ASSERT_GE(events.size(), 27u);
    EXPECT_EQ(events.front()["event"], "album_started");
    EXPECT_EQ(events[1]["event"], "picture");
    EXPECT_EQ(events[events.size() - 2]["event"], "album_finished");
    EXPECT_EQ(events[events.size() - 2]["saved"], 24);
    EXPECT_EQ(events.back()["event"], "finished");
    EXPECT_EQ(events.back()["complete"], true);
}

TEST_F(CliTest, ARerunWhosePicturesAllFailIsAFailureEvenWithTheFilesOnDisk) {
    json scenario = {{"qzone", {{{"uin", "10001"}, {"albums", {{{"id", "a"}, {"name", "A"}, {"pictures", 4}}}}}}}};
    StartSim(scenario);
    const CliResult first = Cli({"download", "10001", "--albums", "1", "--save", "saved"}, SimEnv());
    ASSERT_EQ(first.code, 0) << first.err;

    // A later run skips what the archive records as saved, and says so.
    const CliResult skip = Cli({"download", "10001", "--albums", "1", "--save", "saved"}, SimEnv());
    EXPECT_EQ(skip.code, 0) << skip.err;
    EXPECT_EQ(Lines(skip.out).at(1).rfind("0001  A        4       0     4     0", 0), 0u) << skip.out;
    sim_->Stop();

    // Every picture address now answers 500; the files of the first run are still there, and
    // every picture is asked for again.
    scenario["faults"] = {{{"match", "photo.store.qq.com"}, {"status", 500}}};
    StartSim(scenario);
    const CliResult again = Cli({"download", "10001", "--albums", "1", "--save", "saved", "--refetch"}, SimEnv());
    EXPECT_EQ(again.code, 1) << again.out << again.err;
    const auto lines = Lines(again.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("0001  A        4       0     0     4", 0), 0u) << again.out;
    EXPECT_NE(again.out.find("HTTP 500"), std::string::npos) << again.out;
}

// Albums whose long names agree in their first 80 characters each get a folder of their own, with
// every picture of theirs intact, also after the terminal's cut of names to 80 characters.
TEST_F(CliTest, SameLongAlbumNamesKeepTheirOwnFolders) {
    std::string mountains;
    for (int i = 0; i < 85; ++i) mountains += "山";
    json albums = json::array();
    int n = 0;
    for (const std::string& name : {mountains, mountains, mountains, std::string(79, 'a'),
                                    std::string(79, 'a'), std::string(79, 'a')}) {
        const std::string id = "long" + std::to_string(n++);
        albums.push_back({{"id", id}, {"name", name}, {"pictures", 2}});
    }
    StartSim({{"qzone", {{{"uin", "10001"}, {"albums", albums}}}}});
    const CliResult r = Cli({"download", "10001", "--albums", "1-6", "--save", "saved"}, SimEnv());
    ASSERT_EQ(r.code, 0) << r.err;

    std::set<std::string> folders, pictures;
    for (const auto& e : fs::directory_iterator(dir_ / "saved" / "10001")) {
        if (!e.is_directory() || e.path().filename().string().front() == '.') continue;  // the gallery's own
        folders.insert(e.path().filename().string());
        for (const auto& f : fs::directory_iterator(e.path()))
            if (f.path().extension() == ".jpg") pictures.insert(qm::test::FileText(f.path()));
    }
    EXPECT_EQ(folders.size(), 6u);
    std::set<std::string> served;
    for (int a = 0; a < 6; ++a)
        for (int p = 1; p <= 2; ++p)
            served.insert(sim_->PictureBytes("long" + std::to_string(a) + "_" + std::to_string(p)));
    EXPECT_EQ(pictures, served);
}

bool FileSays(const fs::path& file, const std::string& text) {
    return qm::test::WaitUntil(
        [&] { return qm::test::FileText(file).find(text) != std::string::npos; }, std::chrono::seconds(60));
}

// Whether the process has not ended yet (a zombie has ended; it is only not reaped).
bool StillRunning(pid_t pid) {
    const std::string stat = qm::test::FileText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Pictures of an album recorded as saved in the archive of `save` (read-only: the run writing it
// may still be going).
std::size_t SavedInArchive(const fs::path& save) {
    sqlite3* db = nullptr;
    std::size_t n = 0;
    const std::string file = (save / "quillmoss-archive.sqlite3").string();
    if (fs::exists(file) && sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM picture WHERE state=1", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = static_cast<std::size_t>(sqlite3_column_int64(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

// A run killed outright (SIGKILL) in the middle of an album keeps what it saved: the archive
// records each picture as it lands and commits within a second, so the re-run asks only for the
// pictures it does not record, and removes what the killed run left half-written.
TEST_F(CliTest, ARunKilledMidAlbumKeepsItsRecordsAndTheRerunFetchesOnlyTheRest) {
    constexpr std::size_t kPictures = 300;
    StartSim({{"qzone", {{{"uin", "10001"}, {"albums", {{{"id", "big"}, {"name", "Big"}, {"pictures", kPictures}}}}}}},
              {"faults", {{{"match", "r.photo.store.qq.com"}, {"delay_ms", 20}}}}});
    ASSERT_EQ(Cli({"settings", "set", "ThreadCount", "2"}).code, 0);
    const fs::path save = dir_ / "saved";
    const std::vector<std::string> args = {"download", "10001", "--albums", "1", "--save", "saved", "--no-gallery"};

    auto run = cli_.Start(args, "out.txt", "err.txt", SimEnv());
    const bool some = qm::test::WaitUntil([&] { return SavedInArchive(save) >= 20; }, std::chrono::seconds(60),
                                          std::chrono::milliseconds(25));
    ASSERT_TRUE(run.Signal(SIGKILL));
    EXPECT_EQ(cli_.Finish(run).code, 128 + SIGKILL);
    ASSERT_TRUE(some) << "the archive recorded nothing while the run went on";
    const std::size_t kept = SavedInArchive(save);
    ASSERT_LT(kept, kPictures) << "the run ended before it was killed";

    sim_->ClearRequests();
    const CliResult again = Cli(args, SimEnv());
    EXPECT_EQ(again.code, 0) << again.err;
    std::size_t fetched = 0;
    for (const auto& r : sim_->Requests()) fetched += r.host == "r.photo.store.qq.com";
    EXPECT_EQ(fetched, kPictures - kept);
    for (const auto& e : fs::directory_iterator(save / "10001" / "Big"))
        EXPECT_NE(e.path().filename().string().rfind(".qm-", 0), 0u) << "left over: " << e.path();
}

TEST_F(CliTest, CtrlCStopsAfterThePicturesInProgressAndASecondQuits) {
    StartSim({{"qzone",
               {{{"uin", "10001"},
                 {"albums",
                  {{{"id", "slow"}, {"name", "Slow"}, {"pictures", 12}},
                   {{"id", "next"}, {"name", "Next"}, {"pictures", 2}}}}}}},
              {"faults", {{{"match", "r.photo.store.qq.com"}, {"delay_ms", 400}}}}});
    ASSERT_EQ(Cli({"settings", "set", "ThreadCount", "2"}).code, 0);

    auto run = cli_.Start({"download", "10001", "--albums", "1,2", "--save", "saved"}, "out.txt", "err.txt", SimEnv());
    ASSERT_TRUE(FileSays(dir_ / "err.txt", "已开始下载图片"));
    // Ctrl-C once the first pictures are on their way (each answer is held back 400 ms).
    auto pictureRequests = [&] {
        std::size_t n = 0;
        for (const auto& r : sim_->Requests()) n += (r.host + r.target).find("r.photo.store.qq.com") != std::string::npos;
        return n;
    };
    ASSERT_TRUE(qm::test::WaitUntil([&] { return pictureRequests() >= 1; }, std::chrono::seconds(60)));
    ASSERT_TRUE(run.Signal(SIGINT));
    const CliResult stopped = cli_.Finish(run);
    EXPECT_EQ(stopped.code, 130);
    const std::string err = qm::test::FileText(dir_ / "err.txt");
    EXPECT_NE(err.find("正在终止：等正在下载的图片结束"), std::string::npos);
    EXPECT_NE(err.find("下载完毕"), std::string::npos);  // the job ended through its last step
    // The folder reported is the target's, which holds every album of the run.
    EXPECT_NE(err.find("保存在: saved/10001/\n"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir_ / "saved" / "10001" / "Next"));

    // Whatever is on disk is a whole picture of the album; the rest was never started.
    std::set<std::string> pictures;
    for (int i = 1; i <= 12; ++i) pictures.insert(sim_->PictureBytes("slow_" + std::to_string(i)));
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "saved")) {
        if (!e.is_regular_file() || e.path().filename() == "pic.vyr" ||
            e.path().filename().string().rfind("quillmoss-archive", 0) == 0 || e.path().filename() == "album.json" ||
            e.path().extension() == ".html" || e.path().extension() == ".css" || e.path().extension() == ".js" ||
            e.path().string().find("/.thumbs/") != std::string::npos)
            continue;
        ++files;
        EXPECT_EQ(pictures.count(qm::test::FileText(e.path())), 1u) << e.path();
    }
    EXPECT_LT(files, 12u);

    // Two presses end the program.
    // (It leaves its threads behind on purpose; a ThreadSanitizer build must not count that.)
    // Files of its own: the first run's err.txt would say "已开始下载图片" before this one starts.
    auto again = cli_.Start({"download", "10001", "--save", "saved2"}, "out2.txt", "err2.txt",
                            {{"QUILLMOSS_CONNECT_TO", sim_->ConnectTo()}, {"TSAN_OPTIONS", "report_thread_leaks=0"}});
    ASSERT_TRUE(FileSays(dir_ / "err2.txt", "已开始下载图片"));
    ASSERT_TRUE(again.Signal(SIGINT));
    // The second press once the first was taken (signals sent back to back would merge into one):
    // the run says it is stopping, and while its pictures in progress end, the press quits at once.
    ASSERT_TRUE(FileSays(dir_ / "err2.txt", "正在终止"));
    // The run may wind down before the second press arrives (a stop ends the transfers at once);
    // when it was still running, the press ends it there.
    const bool running = StillRunning(again.Pid());
    again.Signal(SIGINT);
    EXPECT_EQ(cli_.Finish(again).code, 130);
    if (running) {
        EXPECT_NE(qm::test::FileText(dir_ / "err2.txt").find("\ninterrupted\n"), std::string::npos)
            << qm::test::FileText(dir_ / "err2.txt");
    }
}

}  // namespace
