// The qzone-sim executable and scenario files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/SimTestClient.h"

namespace qm::sim::test {
namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    c.out = fdopen(fds[0], "r");
    return c;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QZoneSimProgram, PrintsItsPortFirstAndStopsOnSigterm) {
    Child c = Spawn({QM_BIN_DIR "/qzone-sim", "--scenario", QM_DEMO_SCENARIO, "--port", "0"});
    ASSERT_GT(c.pid, 0);
    char line[128] = {0};
    ASSERT_NE(std::fgets(line, sizeof line, c.out), nullptr);
    const std::string first = line;
    ASSERT_EQ(first.rfind("listening 127.0.0.1:", 0), 0u) << first;
    const int port = std::stoi(first.substr(20));
    EXPECT_GT(port, 0);

    httplib::Client cli("127.0.0.1", port);
    auto res = cli.Get("/GetRoute?UIN=123456789&version=2&type=json", {{"Host", "route.store.qq.com"}});
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("\"default\":\""), std::string::npos);

    kill(c.pid, SIGTERM);
    EXPECT_EQ(Wait(c.pid), 0);
    std::fclose(c.out);
}

TEST(QZoneSimProgram, RefusesBadArgumentsAndFiles) {
    Child usage = Spawn({QM_BIN_DIR "/qzone-sim", "--port", "0"});
    EXPECT_EQ(Wait(usage.pid), 2);
    std::fclose(usage.out);
    Child missing = Spawn({QM_BIN_DIR "/qzone-sim", "--scenario", "/nonexistent/scenario.json"});
    EXPECT_EQ(Wait(missing.pid), 1);
    std::fclose(missing.out);
}

TEST(ScenarioFiles, BadFilesGiveClearErrors) {
    const auto dir = std::filesystem::temp_directory_path() / ("qm_sim_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    };
    auto message = [](const std::string& path) {
        try {
            Simulator::FromFile(path);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message((dir / "absent.json").string()).find("cannot read"), std::string::npos);
    EXPECT_NE(message(write("broken.json", "{\"qzone\": [")).find("not valid JSON"), std::string::npos);
    EXPECT_NE(message(write("uin.json", R"({"qzone": [{"uin": "abc"}]})")).find("qzone[0]"),
              std::string::npos);
    EXPECT_NE(message(write("dup.json", R"({"qzone": [{"uin": 12345, "albums": [{"id": "A", "pictures": 1},
              {"id": "B", "pictures": [{"id": "A_1"}]}]}]})"))
                  .find("used twice"),
              std::string::npos);
    EXPECT_NE(message(write("path.json", R"({"qzone": [{"uin": 12345, "albums": [{"id": "../x"}]}]})"))
                  .find("albums[0]"),
              std::string::npos);
    EXPECT_NE(message(write("prob.json", R"({"faults": [{"probability": 2}]})")).find("probability"),
              std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(ScenarioFiles, DemoScenarioHasWhatTheDemoNeeds) {
    auto sim = Simulator::Demo();
    const auto& owner = sim->Scenario().at("qzone").at(0);
    EXPECT_GE(owner.at("albums").size(), 8u);
    EXPECT_EQ(owner.at("moods").size(), 35u);
    size_t biggest = 0;
    std::set<std::string> names;
    size_t repeated = 0;
    for (const auto& a : owner.at("albums")) {
        biggest = std::max(biggest, a.at("pictures").size());
        if (!names.insert(a.at("name").get<std::string>()).second) ++repeated;
    }
    EXPECT_EQ(biggest, 1200u);
    EXPECT_EQ(repeated, 1u);
    EXPECT_FALSE(sim->Scenario().at("groups").empty());
    EXPECT_FALSE(sim->Scenario().at("weibo").empty());
    EXPECT_FALSE(sim->Scenario().at("accounts").empty());
}

}  // namespace
}  // namespace qm::sim::test
