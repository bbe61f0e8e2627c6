// quillmoss-cli as an installed program: a copied binary in an empty folder (the demo scenario is
// built in; the files go to the XDG folders), write errors on standard output, and cookie imports
// that keep only the QQ Zone family's cookies (from a file, and from a Firefox cookies.sqlite).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliRunner.h"
#include "FileText.h"
#include "TempFolder.h"

namespace {

namespace fs = std::filesystem;

class InstalledCli : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "work");
        fs::copy_file(fs::path(QM_BIN_DIR) / "quillmoss-cli", root_ / "bin" / "quillmoss-cli");
        cli_.binary = root_ / "bin" / "quillmoss-cli";
        // No program-folder variables: the installed layout finds its folders from HOME alone.
        cli_.env = {{"QUILLMOSS_HOME", std::nullopt}, {"XDG_CONFIG_HOME", std::nullopt}, {"XDG_CACHE_HOME", std::nullopt}};
    }
    // Runs the copied binary in work/ with HOME=home/; standard output goes to work/out.txt unless
    // `redirect` names another file.
    int Cli(const std::vector<std::string>& args, const fs::path& out = "out.txt") {
        auto child = cli_.Start(args, out, "err.txt");
        return cli_.Finish(child).code;
    }
    std::string Out() { return qm::test::FileText(root_ / "work/out.txt"); }
    std::string Err() { return qm::test::FileText(root_ / "work/err.txt"); }
    fs::path Config() const { return root_ / "home/.config/quillmoss"; }

    qm::test::TempFolder folder_{"qm-cli-install-"};
    const fs::path& root_ = folder_.path();
    qm::test::CliRunner cli_{root_, root_ / "work"};
};

TEST_F(InstalledCli, DemoFromACopiedBinaryKeepsItsFilesInTheConfigFolder) {
    ASSERT_EQ(Cli({"--demo", "list", "123456789"}), 0) << Err();
    EXPECT_NE(Out().find("毕业照全集"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(Config() / "soft.dat"));
    for (const auto& e : fs::directory_iterator(root_ / "work"))  // only the redirections
        EXPECT_TRUE(e.path().filename() == "out.txt" || e.path().filename() == "err.txt") << e.path();

    // A current directory that holds soft.dat is a portable program folder, as before.
    fs::copy_file(Config() / "soft.dat", root_ / "work/soft.dat");
    ASSERT_EQ(Cli({"settings", "set", "FolderSuffix", "-?4"}), 0) << Err();
    EXPECT_NE(qm::test::FileText(root_ / "work/soft.dat"), qm::test::FileText(Config() / "soft.dat"));
    ASSERT_EQ(Cli({"settings", "show"}), 0);
    EXPECT_NE(Out().find("FolderSuffix\t-?4\n"), std::string::npos);
}

TEST_F(InstalledCli, AFullStandardOutputIsAFailure) {
    EXPECT_EQ(Cli({"--demo", "list", "123456789"}, "/dev/full"), 1);
    EXPECT_NE(Err().find("cannot write to standard output"), std::string::npos);
    EXPECT_EQ(Cli({"settings", "show"}, "/dev/full"), 1);
}

TEST_F(InstalledCli, CookieImportsKeepTheFamilyDomainsOnly) {
    const std::string far = "2147483647";
    std::ofstream(root_ / "work/export.txt") << ".qq.com\tTRUE\t/\tFALSE\t" << far << "\tuin\to123\n"
                                             << "#HttpOnly_user.qzone.qq.com\tFALSE\t/\tFALSE\t" << far
                                             << "\tp_skey\tk\n"
                                             << ".example.com\tTRUE\t/\tFALSE\t" << far << "\ttrack\t1\n"
                                             << "evilqq.com\tFALSE\t/\tFALSE\t" << far << "\tx\t1\n"
                                             << ".qq.com\tTRUE\t/\tFALSE\t" << far << "\tesc\tv\x1b]0;t\x07\n";
    ASSERT_EQ(Cli({"cookies", "import", "export.txt"}), 0) << Err();
    EXPECT_NE(Err().find("export.txt 里的 5 个 cookie 保留了 3 个"), std::string::npos) << Err();
    EXPECT_NE(Err().find("其他域名的（--all-domains 会取它们） 2 个"), std::string::npos) << Err();
    // A value from an imported file is listed escaped: no escape sequence reaches the terminal.
    ASSERT_EQ(Cli({"cookies", "list"}), 0);
    EXPECT_NE(Out().find("\tesc\tv\\x1b]0;t\\x07\t"), std::string::npos) << Out();
    EXPECT_EQ(Out().find('\x1b'), std::string::npos);
    const std::string kept = qm::test::FileText(Config() / "cookies.txt");
    EXPECT_NE(kept.find("p_skey"), std::string::npos);
    EXPECT_EQ(kept.find("example.com"), std::string::npos);
    EXPECT_EQ(kept.find("evilqq"), std::string::npos);
    ASSERT_EQ(Cli({"cookies", "import", "export.txt", "--all-domains"}), 0);
    EXPECT_NE(qm::test::FileText(Config() / "cookies.txt").find("example.com"), std::string::npos);

    // A Firefox profile: cookies.sqlite with a session login cookie, an expired one (expiry in
    // milliseconds as newer profiles write it) and another site's.
    const fs::path profile = root_ / "home/.mozilla/firefox/abcd.default-release";
    fs::create_directories(profile);
    std::ofstream(root_ / "home/.mozilla/firefox/profiles.ini")
        << "[Profile0]\nName=default\nIsRelative=1\nPath=other.default\n\n"
        << "[Install4F96D1932A9F858E]\nDefault=abcd.default-release\nLocked=1\n";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((profile / "cookies.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT, name TEXT, "
                           "value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime "
                           "INTEGER, isSecure INTEGER, isHttpOnly INTEGER);"
                           "INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure, isHttpOnly) VALUES "
                           "('skey', '@Ab', '.qq.com', '/', 0, 0, 1),"
                           "('pt4_token', 't', 'ptlogin2.qzone.qq.com', '/', 4102444800, 1, 0),"
                           "('old', 'o', '.qq.com', '/', 1000000000000, 0, 0),"
                           "('ad', 'a', '.example.net', '/', 4102444800, 0, 0);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_EQ(Cli({"cookies", "import", "--from-browser", "firefox"}), 0) << Err();
    EXPECT_NE(Err().find("里QQ空间一族的 3 个 cookie 保留了 2 个"), std::string::npos) << Err();
    EXPECT_NE(Err().find("已过期的 1 个"), std::string::npos) << Err();
    ASSERT_EQ(Cli({"cookies", "list"}), 0);
    EXPECT_NE(Out().find(".qq.com\t/\tskey\t@Ab"), std::string::npos) << Out();
    EXPECT_NE(Out().find("ptlogin2.qzone.qq.com\t/\tpt4_token\tt\t2100-01-01"), std::string::npos) << Out();
    EXPECT_EQ(Out().find("example.net"), std::string::npos);
    EXPECT_EQ(Out().find("\told\t"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(profile / "cookies.sqlite"));  // the browser's file is untouched
    EXPECT_FALSE(fs::exists(profile / "cookies.sqlite-journal"));

    EXPECT_EQ(Cli({"cookies", "import", "--from-browser", "firefox", "--profile", (root_ / "none").string()}), 1);
    EXPECT_EQ(Cli({"cookies", "import", "--from-browser", "chrome"}), 2);
}

}  // namespace

// Every long option a command's --help names is offered by the bash and zsh completions.
TEST_F(InstalledCli, CompletionsOfferEveryOptionOfTheHelp) {
    const fs::path data = fs::path(QM_DEMO_SCENARIO).parent_path().parent_path().parent_path() / "data/completion";
    const std::string bash = qm::test::FileText(data / "quillmoss-cli.bash");
    const std::string zsh = qm::test::FileText(data / "_quillmoss-cli");
    ASSERT_FALSE(bash.empty());
    ASSERT_FALSE(zsh.empty());
    for (const char* command : {"list", "download", "report", "gallery", "cookies"}) {
        ASSERT_EQ(Cli({command, "--help"}), 0) << command;
        const std::string help = Out();
        const std::string usage = help.substr(0, help.find("\n\n"));
        for (std::size_t at = usage.find("--"); at != std::string::npos; at = usage.find("--", at + 2)) {
            std::size_t end = at + 2;
            while (end < usage.size() && (std::isalnum(static_cast<unsigned char>(usage[end])) || usage[end] == '-')) ++end;
            const std::string option = usage.substr(at, end - at);
            if (option == "--") continue;
            EXPECT_NE(bash.find(option), std::string::npos) << command << " " << option << " (bash)";
            EXPECT_NE(zsh.find(option), std::string::npos) << command << " " << option << " (zsh)";
        }
    }
}
