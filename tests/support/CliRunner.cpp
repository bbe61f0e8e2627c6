#include "CliRunner.h"

#include <gtest/gtest.h>

#include "FileText.h"

namespace qm::test {

namespace fs = std::filesystem;

CliRunner::CliRunner(fs::path root, fs::path workDir)
    : binary(fs::path(QM_BIN_DIR) / "quillmoss-cli"), cwd(workDir.empty() ? root : std::move(workDir)),
      root_(std::move(root)) {}

ChildLaunch CliRunner::Spec(const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::optional<std::string>>>& extraEnv) const {
    fs::create_directories(Home());
    fs::create_directories(cwd);
    ChildLaunch launch;
    launch.argv.push_back(binary.string());
    launch.argv.insert(launch.argv.end(), args.begin(), args.end());
    launch.cwd = cwd;
    launch.env = {{"QUILLMOSS_HOME", cwd.string()},
                {"HOME", Home().string()},
                {"XDG_CONFIG_HOME", (Home() / ".config").string()},
                {"XDG_CACHE_HOME", (Home() / ".cache").string()},
                {"QUILLMOSS_CONNECT_TO", std::nullopt}};
    launch.env.insert(launch.env.end(), env.begin(), env.end());
    launch.env.insert(launch.env.end(), extraEnv.begin(), extraEnv.end());
    return launch;
}

CliResult CliRunner::Run(const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::optional<std::string>>>& extraEnv) {
    const int n = runs_++;
    const fs::path captures = root_ / ".cli-output";
    fs::create_directories(captures);
    const fs::path out = captures / ("out-" + std::to_string(n)), err = captures / ("err-" + std::to_string(n));
    ChildProcess child = Start(args, out, err, extraEnv);
    return Finish(child, out, err);
}

ChildProcess CliRunner::Start(const std::vector<std::string>& args, const fs::path& out, const fs::path& err,
                              const std::vector<std::pair<std::string, std::optional<std::string>>>& extraEnv) {
    ChildLaunch launch = Spec(args, extraEnv);
    launch.out = out.is_absolute() ? out : cwd / out;
    launch.err = err.is_absolute() ? err : cwd / err;
    ChildProcess child(launch);
    EXPECT_TRUE(child.Started()) << "cannot start " << binary;
    return child;
}

CliResult CliRunner::Finish(ChildProcess& child, const fs::path& out, const fs::path& err) {
    CliResult r;
    const std::optional<int> code = child.Wait(limit);
    if (!code) {
        r.timedOut = true;
        child.Kill();
        ADD_FAILURE() << binary.filename() << " did not end within " << limit.count() << " ms; killed";
    } else {
        r.code = *code;
    }
    if (!out.empty()) {
        const fs::path o = out.is_absolute() ? out : cwd / out;
        r.out = FileText(o);
        if (o.parent_path().filename() == ".cli-output") fs::remove(o);
    }
    if (!err.empty()) {
        const fs::path e = err.is_absolute() ? err : cwd / err;
        r.err = FileText(e);
        if (e.parent_path().filename() == ".cli-output") fs::remove(e);
    }
    return r;
}

}  // namespace qm::test
