// Download engine throughput against a local nginx, next to curl --parallel and aria2c on the same
// list. Prints wall seconds, CPU seconds, peak RSS, MB/s and pictures/s per tool and data set.
//
//   download_bench [--quick] [--runs N] [--tool engine|curl|aria2c] [--set small|large]
//
// --tool and --set narrow the run to one tool or one data set (for profiling, e.g. under perf).
//
// Each tool runs in its own child process, so CPU time and peak RSS come from wait4() alike.
// nginx is started from a config written into a temporary folder, on 127.0.0.1 only, and
// stopped by its PID at the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ChildRuns.h"
#include "bench/EngineChild.h"
#include "net/Clock.h"
#include "core/JobObserver.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"

namespace fs = std::filesystem;

namespace {

// The engine's observer with nothing to show: the bench measures the transfers alone.

struct DataSet {
    std::string name;
    int count;
    std::size_t size;
};

using Result = qm::bench::ChildResult;
using qm::bench::CountFiles;
using qm::bench::Reap;
using qm::bench::Spawn;

// Every run writes into a folder of its own that stays until the end. Files deleted just before a
// run would make the file system's inode allocator skip over thousands of recently freed inodes
// for each new file, a cost that would land on whichever tool happens to run next.
void ResetDir(const fs::path& dir) {
    fs::create_directories(dir);
}

std::string Url(int port, const DataSet& ds, int i) {
    return "http://127.0.0.1:" + std::to_string(port) + "/" + ds.name + "/p" + std::to_string(i) + ".jpg";
}

Result RunEngine(int port, const DataSet& ds, const fs::path& out) {
    ResetDir(out);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        qm::URLSource2Init();
        std::vector<std::string> addresses;
        for (int i = 0; i < ds.count; ++i) addresses.push_back(Url(port, ds, i));
        qm::bench::DownloadAndExit(addresses, out, 0);
    }
    Result r = Reap(pid, start);
    r.files = CountFiles(out, ds.size);
    return r;
}

// Times a download program run as a child and counts the whole pictures it left in `out`.
Result TimeTool(const std::vector<std::string>& args, const DataSet& ds, const fs::path& out) {
    const auto start = std::chrono::steady_clock::now();
    Result r = Reap(Spawn(args, true), start);
    r.files = CountFiles(out, ds.size);
    return r;
}

Result RunCurl(int port, const DataSet& ds, const fs::path& out, const fs::path& tmp) {
    ResetDir(out);
    const fs::path cfg = tmp / ("curl-" + ds.name + ".cfg");
    {
        std::ofstream f(cfg);
        for (int i = 0; i < ds.count; ++i)
            f << "url = \"" << Url(port, ds, i) << "\"\noutput = \""
              << (out / ("p" + std::to_string(i) + ".jpg")).string() << "\"\n";
    }
    return TimeTool({"curl", "--parallel", "--parallel-max", "15", "-s", "-K", cfg.string()}, ds, out);
}

Result RunAria(int port, const DataSet& ds, const fs::path& out, const fs::path& tmp) {
    ResetDir(out);
    const fs::path list = tmp / ("aria-" + ds.name + ".txt");
    {
        std::ofstream f(list);
        for (int i = 0; i < ds.count; ++i) f << Url(port, ds, i) << "\n  out=p" << i << ".jpg\n";
    }
    return TimeTool({"aria2c", "-j15", "-i", list.string(), "-d", out.string(), "--quiet=true",
                     "--allow-overwrite=true", "--auto-file-renaming=false", "--file-allocation=none",
                     "--console-log-level=error"},
                    ds, out);
}

void Print(const char* tool, const DataSet& ds, const Result& r) {
    const double mb = static_cast<double>(ds.count) * ds.size / 1e6;
    std::printf("%-8s %-14s %8.2f %8.2f %10.1f %9.1f %10.1f %6d/%d\n", tool, ds.name.c_str(), r.wall, r.cpu,
                r.rssMiB, mb / r.wall, ds.count / r.wall, r.files, ds.count);
}

Result Median(std::vector<Result> rs) {
    std::sort(rs.begin(), rs.end(), [](const Result& a, const Result& b) { return a.wall < b.wall; });
    return rs[rs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int runs = 3;
    std::string onlyTool, onlySet;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--tool") == 0 && i + 1 < argc) onlyTool = argv[++i];
        if (std::strcmp(argv[i], "--set") == 0 && i + 1 < argc) onlySet = argv[++i];
    }
    std::vector<DataSet> sets = {{"2000x200KiB", 2000, 200 * 1024}, {"200x4MiB", 200, 4 * 1024 * 1024}};
    if (quick) sets = {{"200x200KiB", 200, 200 * 1024}, {"20x4MiB", 20, 4 * 1024 * 1024}};
    if (onlySet == "small") sets.pop_back();
    if (onlySet == "large") sets.erase(sets.begin());
    const auto wanted = [&](const char* tool) { return onlyTool.empty() || onlyTool == tool; };

    char pattern[] = "/tmp/qm-download-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path tmp = pattern;
    // nginx's workers run as an unprivileged user: they must be able to read the pictures.
    fs::permissions(tmp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);

    // Pictures: random bytes, so nothing on the way can shrink them.
    std::mt19937_64 rng(42);
    for (const auto& ds : sets) {
        fs::create_directories(tmp / "www" / ds.name);
        std::string data(ds.size, '\0');
        for (int i = 0; i < ds.count; ++i) {
            for (std::size_t k = 0; k + 8 <= data.size(); k += 8) {
                const uint64_t v = rng();
                std::memcpy(&data[k], &v, 8);
            }
            std::ofstream(tmp / "www" / ds.name / ("p" + std::to_string(i) + ".jpg"), std::ios::binary)
                << data;
        }
    }

    qm::bench::Nginx nginx(tmp, " types { image/jpeg jpg; }\n", "");
    if (!nginx.Running()) {
        fs::remove_all(tmp);
        return 1;
    }
    const int port = nginx.Port();

    std::printf("median of %d run(s); nginx on 127.0.0.1:%d, 15 parallel transfers\n", runs, port);
    std::printf("%-8s %-14s %8s %8s %10s %9s %10s %s\n", "tool", "set", "wall s", "CPU s", "RSS MiB", "MB/s",
                "pics/s", "files");
    for (const auto& ds : sets) {
        std::vector<Result> engine, curl, aria;
        for (int r = 0; r < runs; ++r) {
            const std::string tail = "-" + ds.name + "-" + std::to_string(r);
            if (wanted("engine")) engine.push_back(RunEngine(port, ds, tmp / ("out-engine" + tail)));
            if (wanted("curl")) curl.push_back(RunCurl(port, ds, tmp / ("out-curl" + tail), tmp));
            if (wanted("aria2c")) aria.push_back(RunAria(port, ds, tmp / ("out-aria" + tail), tmp));
        }
        if (!engine.empty()) Print("engine", ds, Median(engine));
        if (!curl.empty()) Print("curl", ds, Median(curl));
        if (!aria.empty()) Print("aria2c", ds, Median(aria));
        if (engine.empty() || curl.empty()) continue;
        const Result e = Median(engine), c = Median(curl);
        const double rssGoal = 64.0 + 15.0 * ds.size / (1024.0 * 1024.0);
        std::printf(
            "  engine/curl: wall %.2fx (goal <= 1.10), CPU %.2fx (goal <= 1.20); RSS %.1f MiB (goal <= "
            "%.1f)\n",
            e.wall / c.wall, e.cpu / c.cpu, e.rssMiB, rssGoal);
    }

    nginx.Stop();
    fs::remove_all(tmp);
    return 0;
}
