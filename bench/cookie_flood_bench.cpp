// Pictures whose answers each set a new persistent cookie, against the same run without cookies.
// 4,000 pictures from the simulator (qzone-sim, started next to this program) through the download
// engine with the cookie store opened in a program folder, as the front ends run it.
//
//   cookie_flood_bench [--count N]
//
// Prints one line per run and the ratio, whose goal is at most 1.5.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/EngineChild.h"
#include "core/JobObserver.h"
#include "download/DownProc.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace fs = std::filesystem;

namespace {


struct Run {
    double wall = 0, cpu = 0;
    int files = 0;
    size_t cookies = 0;
};

nlohmann::json Scenario(int count, bool cookies) {
    nlohmann::json s = nlohmann::json::parse(R"({"qzone": [{"uin": 55555, "albums": [{"id": "F", "name": "f",
        "generate": {"count": 1, "size": 4000}}]}]})");
    s["qzone"][0]["albums"][0]["generate"]["count"] = count;
    if (cookies)
        s["faults"] = nlohmann::json::parse(R"([{"match": "photo.store.qq.com", "set_cookie": true}])");
    return s;
}

// Starts qzone-sim on a free port; returns its PID and port.
pid_t StartSim(const fs::path& exeDir, const fs::path& scenario, int& port) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        const std::string exe = (exeDir / "qzone-sim").string(), file = scenario.string();
        ::execl(exe.c_str(), exe.c_str(), "--scenario", file.c_str(), "--port", "0",
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(out[1]);
    std::FILE* f = ::fdopen(out[0], "r");
    char line[128] = {0};
    port = 0;
    if (f && std::fgets(line, sizeof line, f)) std::sscanf(line, "listening 127.0.0.1:%d", &port);
    return pid;
}

Run Download(const fs::path& exeDir, const fs::path& tmp, int count, bool cookies) {
    const fs::path scenario = tmp / (cookies ? "with.json" : "without.json");
    nlohmann::json s = Scenario(count, cookies);
    std::ofstream(scenario) << s.dump();
    const qm::sim::Simulator model(s);  // addresses only; never started
    const fs::path program = tmp / (cookies ? "program-with" : "program-without");
    const fs::path out = tmp / (cookies ? "out-with" : "out-without");
    fs::create_directories(program);
    fs::create_directories(out);

    int port = 0;
    const pid_t sim = StartSim(exeDir, scenario, port);
    Run r;
    if (sim <= 0 || port == 0) {
        std::fprintf(stderr, "qzone-sim did not start\n");
        return r;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        qm::URLSource2Init();
        qm::SetConnectTo("127.0.0.1:" + std::to_string(port));
        qm::CookieStore::Instance().Open(program);
        std::vector<std::string> addresses;
        for (int i = 1; i <= count; ++i) addresses.push_back(model.PictureAddress("F_g" + std::to_string(i)));
        qm::bench::DownloadAndExit(addresses, out, 1);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    for (const auto& e : fs::directory_iterator(out)) r.files += e.is_regular_file() ? 1 : 0;
    qm::CookieStore stored;
    stored.Open(program);
    r.cookies = stored.List().size();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 4000;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
    const fs::path exeDir = fs::canonical("/proc/self/exe").parent_path();
    // TMPDIR picks the file system (a tmpfs leaves out ext4's cost of creating many files).
    std::string pattern = (fs::temp_directory_path() / "qm-cookie-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const fs::path tmp = pattern;

    // Three runs of each, interleaved (without, with, with, without, without, with), each in a fresh
    // folder: the file system slows down the creation of files after many deletions, so a fixed
    // order would favour one side. The median run of each counts.
    auto fresh = [&](bool cookies) {
        fs::remove_all(tmp / (cookies ? "out-with" : "out-without"));
        fs::remove_all(tmp / (cookies ? "program-with" : "program-without"));
        return Download(exeDir, tmp, count, cookies);
    };
    std::vector<Run> withouts, withs;
    for (const bool cookies : {false, true, true, false, false, true})
        (cookies ? withs : withouts).push_back(fresh(cookies));
    const auto median = [](std::vector<Run> runs) {
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.wall < b.wall; });
        return runs[runs.size() / 2];
    };
    const Run without = median(withouts);
    const Run with = median(withs);
    fs::remove_all(tmp);
    std::printf("cookie-flood without %d pictures: wall %.2f s, CPU %.2f s, files %d, cookies kept %zu\n",
                count, without.wall, without.cpu, without.files, without.cookies);
    std::printf("cookie-flood with %d pictures: wall %.2f s, CPU %.2f s, files %d, cookies kept %zu\n", count,
                with.wall, with.cpu, with.files, with.cookies);
    const double ratio = without.wall > 0 ? with.wall / without.wall : 0;
    std::printf("cookie-flood ratio: %.2f (goal <= 1.50)\n", ratio);
    return without.files == count && with.files == count && ratio <= 1.5 ? 0 : 1;
}
