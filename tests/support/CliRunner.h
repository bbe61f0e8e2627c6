// quillmoss-cli as the tests run it: the built binary, never through a shell, with its program
// folder, HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME inside the test's temporary folder (so that no
// test reads or writes the developer's own settings), standard input closed, and a time limit
// after which the program is killed and the test fails.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"

namespace qm::test {

struct CliResult {
    int code = -1;  // exit status, 128 + signal when killed, -1 when it did not start or timed out
    bool timedOut = false;
    std::string out, err;
};

class CliRunner {
public:
    // `root` is the test's temporary folder; HOME is root/home, XDG_CONFIG_HOME root/home/.config
    // and XDG_CACHE_HOME root/home/.cache. The program runs in `cwd` (default: root) with
    // QUILLMOSS_HOME set to it, and with no QUILLMOSS_CONNECT_TO unless a test gives one.
    explicit CliRunner(std::filesystem::path root, std::filesystem::path cwd = {});

    // The binary to run (default: the build's quillmoss-cli).
    std::filesystem::path binary;
    // The working folder, and so the program folder.
    std::filesystem::path cwd;
    // Further environment changes applied after the defaults (nullopt removes a variable): a test
    // of the installed layout removes QUILLMOSS_HOME, a test against a simulator adds
    // QUILLMOSS_CONNECT_TO.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    // The longest a run may take before it is killed and the test fails.
    std::chrono::milliseconds limit{std::chrono::minutes(3)};

    // Runs to the end; standard output and error are captured (in files of the root folder).
    CliResult Run(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::optional<std::string>>>& extraEnv = {});
    // Starts a run in the background, output into `out` and `err` (paths relative to cwd are
    // taken in cwd); the guard kills it if the test ends first.
    ChildProcess Start(const std::vector<std::string>& args, const std::filesystem::path& out,
                       const std::filesystem::path& err,
                       const std::vector<std::pair<std::string, std::optional<std::string>>>& extraEnv = {});
    // Waits for a started run with this runner's limit; fails the test and kills it on expiry.
    CliResult Finish(ChildProcess& child, const std::filesystem::path& out = {}, const std::filesystem::path& err = {});

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Home() const { return root_ / "home"; }

private:
    ChildLaunch Spec(const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::optional<std::string>>>& extraEnv) const;
    std::filesystem::path root_;
    int runs_ = 0;
};

}  // namespace qm::test
