// The qzone-sim executable and scenario files.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "ChildProcess.h"
#include "TempFolder.h"
#include "support/SimTestClient.h"

namespace qm::sim::test {
namespace {

using namespace std::chrono_literals;

qm::test::ChildProcess Spawn(const std::vector<std::string>& args) {
    qm::test::ChildLaunch launch;
    launch.argv = args;
    launch.pipeOut = true;
    return qm::test::ChildProcess(launch);
}

TEST(QZoneSimProgram, PrintsItsPortFirstAndStopsOnSigterm) {
    auto child = Spawn({QM_BIN_DIR "/qzone-sim", "--scenario", QM_DEMO_SCENARIO, "--port", "0"});
    ASSERT_TRUE(child.Started());
    const std::optional<std::string> first = child.ReadLine(60s);
    ASSERT_TRUE(first.has_value()) << "no first line";
    ASSERT_EQ(first->rfind("listening 127.0.0.1:", 0), 0u) << *first;
    const int port = std::stoi(first->substr(20));
    EXPECT_GT(port, 0);

    httplib::Client cli("127.0.0.1", port);
    auto res = cli.Get("/GetRoute?UIN=123456789&version=2&type=json", {{"Host", "route.store.qq.com"}});
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("\"default\":\""), std::string::npos);

    ASSERT_TRUE(child.Signal(SIGTERM));
    EXPECT_EQ(child.Wait(60s), 0);
}

TEST(QZoneSimProgram, RefusesBadArgumentsAndFiles) {
    auto usage = Spawn({QM_BIN_DIR "/qzone-sim", "--port", "0"});
    EXPECT_EQ(usage.Wait(60s), 2);
    auto missing = Spawn({QM_BIN_DIR "/qzone-sim", "--scenario", "/nonexistent/scenario.json"});
    EXPECT_EQ(missing.Wait(60s), 1);
}

TEST(ScenarioFiles, BadFilesGiveClearErrors) {
    const qm::test::TempFolder folder("qm-sim-test-");
    const auto& dir = folder.path();
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
