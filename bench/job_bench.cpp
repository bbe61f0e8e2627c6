// The whole download as a user runs it, next to curl on the same pictures: quillmoss-cli lists an
// album from the simulator and fetches its pictures from nginx on loopback; curl --parallel
// (15 transfers) fetches the same addresses from the same nginx. A third run of the CLI in ListOnly
// mode (the listing and the list files, no picture) is subtracted from the job's time to give the
// engine's share. Prints, per data set, the medians of every figure and their ratios to curl.
//
//   job_bench [--quick] [--runs N] [--set A|A-nogal|B-nogal] [--cli PATH] [--perf FILE]
//
// --cli times another build of quillmoss-cli; --perf records the job's runs with `perf record -g`
// into FILE, and curl's into FILE.curl (for the profiles; the figures are then perf's as well).
// Sets: A is 2,000 pictures of 200 KiB (with the gallery after the download, and without), B is
// 200 pictures of 4 MiB (without the gallery); --quick uses 200 and 20. The pictures are random
// bytes (the gallery finds them undecodable; thumbs_bench times real JPEGs). Everything is written below
// TMPDIR (default /tmp), so the figures are those of that disk. Each tool runs as a child process:
// CPU time and peak RSS come from wait4() alike, and each starts after a sync. The simulator runs in
// this process; nginx is started on 127.0.0.1 from a config in the scratch folder and stopped by its
// PID.
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
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ChildRuns.h"
#include "net/FileUtil.h"
#include "sim/Simulator.h"

namespace fs = std::filesystem;

namespace {

struct Set {
    std::string key;       // A, Agallery, B
    std::string album;     // the scenario's album id
    int albumNumber;       // its number in the album list
    int count;
    std::size_t size;
    bool gallery;
};

using Result = qm::bench::ChildResult;
using qm::bench::CountFiles;

// Every run starts on a settled disk: what earlier runs wrote is flushed first (not timed), so that
// no tool's flushes or file creations wait behind another run's write-back.
Result Run(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    return qm::bench::Reap(qm::bench::Spawn(args, true, env), start);
}

double MedianOf(std::vector<Result> rs, double Result::*field) {
    std::vector<double> v;
    for (const Result& r : rs) v.push_back(r.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Result Median(const std::vector<Result>& rs) {
    Result m;
    m.wall = MedianOf(rs, &Result::wall);
    m.cpu = MedianOf(rs, &Result::cpu);
    m.userCpu = MedianOf(rs, &Result::userCpu);
    m.rssMiB = MedianOf(rs, &Result::rssMiB);
    m.files = rs.back().files;
    for (const Result& r : rs) m.ok = m.ok && r.ok;
    return m;
}

void Print(const char* tool, const Set& s, const Result& r) {
    std::printf("%-9s %-9s %8.2f %8.2f %8.2f %8.2f %8.1f %6d/%d%s\n", tool, s.key.c_str(), r.wall, r.cpu, r.userCpu,
                r.cpu - r.userCpu, r.rssMiB, r.files, s.count, r.ok ? "" : " FAILED");
}

// Writes every picture of the two albums where nginx serves it ("http://HOST/psb?/T1/T2/r/T3" is
// the file www/psb/T1/T2/r/T3), and returns the picture hosts; `addresses` gets each album's
// addresses. Random bytes, so nothing on the way can shrink them (and no gallery can decode them).
bool MakePictures(const qm::sim::Simulator& sim, const fs::path& tmp, int countA, int countB,
                  std::vector<std::string>& hosts, std::vector<std::vector<std::string>>& addresses) {
    std::mt19937_64 rng(42);
    addresses.assign(2, {});
    for (int a = 0; a < 2; ++a) {
        const std::string album = a == 0 ? "setA" : "setB";
        const int count = a == 0 ? countA : countB;
        const std::size_t size = a == 0 ? 200 * 1024 : 4 * 1024 * 1024;
        for (int i = 1; i <= count; ++i) {
            const std::string id = album + "_" + std::to_string(i);
            const std::string address = sim.PictureAddress(id);
            const std::size_t hostEnd = address.find('/', 7);
            const std::string host = address.substr(7, hostEnd - 7);
            std::string path = address.substr(hostEnd);
            path.erase(path.find('?'), 1);
            if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
            const fs::path file = tmp / "www" / fs::path(path).relative_path();
            fs::create_directories(file.parent_path());
            std::string bytes(size, '\0');
            for (std::size_t k = 0; k + 8 <= size; k += 8) {
                const uint64_t v = rng();
                std::memcpy(&bytes[k], &v, 8);
            }
            if (bytes.size() != size || !qm::WriteFileAtomic(file, bytes, 0, false)) {
                std::fprintf(stderr, "job_bench: cannot make %s\n", file.c_str());
                return false;
            }
            addresses[static_cast<std::size_t>(a)].push_back(address);
        }
    }
    for (const fs::path& p : fs::recursive_directory_iterator(tmp / "www"))
        if (fs::is_directory(p)) fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    return true;
}

// What the runs of every set share.
struct Bench {
    fs::path tmp, cli;
    std::string perfFile;
    int port = 0, runs = 3;
    std::vector<std::string> env;
    int runNumber = 0;
};

// The runs of one set (curl, the list-only CLI, the CLI's download), their medians printed; false
// when a run failed or a count is wrong. `wall` gets the job's median wall time. With `timeGallery`
// the gallery command also runs on each download, and `galleryWall` gets its median wall time: the
// gallery's cost measured on the very folder, rather than as the difference of two downloads whose
// file creation swings with the disk's state.
bool RunSet(Bench& b, const Set& s, const std::vector<std::string>& list, double& wall, bool timeGallery,
            double& galleryWall) {
    const fs::path cfg = b.tmp / ("curl-" + s.key + ".cfg");
    std::vector<Result> job, listOnly, curl, gallery;
    for (int r = 0; r < b.runs; ++r) {
        const std::string tail = s.key + "-" + std::to_string(b.runNumber++);
        {
            const fs::path out = b.tmp / ("out-curl-" + tail);
            fs::create_directories(out);
            std::ofstream f(cfg);
            for (std::size_t i = 0; i < list.size(); ++i)
                f << "url = \"" << list[i] << "\"\noutput = \"" << (out / ("p" + std::to_string(i) + ".jpg")).string()
                  << "\"\n";
            f.close();
            std::vector<std::string> args;
            if (!b.perfFile.empty()) args = {"perf", "record", "-g", "-q", "-o", b.perfFile + ".curl", "--"};
            args.insert(args.end(), {"curl", "--parallel", "--parallel-max", "15", "-s", "--connect-to",
                                     "::127.0.0.1:" + std::to_string(b.port), "-K", cfg.string()});
            Result c = Run(args, b.env);
            c.files = CountFiles(out, s.size);
            curl.push_back(c);
        }
        {
            const fs::path out = b.tmp / ("out-list-" + tail);
            listOnly.push_back(Run({b.cli.string(), "-P", (b.tmp / "prog-list").string(), "download", "10001", "--save",
                                    out.string(), "--albums", std::to_string(s.albumNumber), "--yes", "--quiet",
                                    "--no-gallery"},
                                   b.env));
        }
        {
            const fs::path out = b.tmp / ("out-job-" + tail);
            std::vector<std::string> args;
            if (!b.perfFile.empty()) args = {"perf", "record", "-g", "-q", "-o", b.perfFile, "--"};
            args.insert(args.end(), {b.cli.string(), "-P", (b.tmp / "prog").string(), "download", "10001", "--save",
                                     out.string(), "--albums", std::to_string(s.albumNumber), "--yes", "--quiet"});
            if (!s.gallery) args.push_back("--no-gallery");
            Result j = Run(args, b.env);
            j.files = CountFiles(out, s.size);
            job.push_back(j);
            if (timeGallery)
                gallery.push_back(Run({b.cli.string(), "-P", (b.tmp / "prog").string(), "gallery", "--save",
                                       out.string(), "10001"},
                                      b.env));
        }
    }
    const Result j = Median(job), l = Median(listOnly), c = Median(curl);
    wall = j.wall;
    galleryWall = gallery.empty() ? -1 : Median(gallery).wall;
    Print("job", s, j);
    Print("list-only", s, l);
    Print("curl", s, c);
    const bool right = j.ok && l.ok && c.ok && j.files == s.count && c.files == s.count;
    // The CPU split: on a disk where creating a file is slow (an ext4 without a journal skips every
    // inode freed in the last minute, and looks each one up, on every creation) the kernel's share
    // of both tools swings with what the machine deleted just before, so the user part is the
    // steadier comparison of the two programs' own work.
    std::printf("job-vs-curl %s %dx%zuKiB%s: engine/curl %.2fx, job/curl %.2fx, CPU/curl %.2fx (user %.2fx, kernel "
                "%.2fx), peak RSS %.1f MiB (goals: engine <= 0.90x, CPU <= 1.00x%s)%s\n",
                s.key.c_str(), s.count, s.size / 1024, s.gallery ? " gallery" : " no-gallery",
                (j.wall - l.wall) / c.wall, j.wall / c.wall, j.cpu / c.cpu, j.userCpu / c.userCpu,
                (j.cpu - j.userCpu) / (c.cpu - c.userCpu), j.rssMiB,
                s.gallery ? "" : ", RSS <= 24 MiB", right ? "" : " WRONG COUNTS");
    return right;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    Bench b;
    std::string onlySet, cliPath;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cli") == 0 && i + 1 < argc) cliPath = argv[++i];
        if (std::strcmp(argv[i], "--perf") == 0 && i + 1 < argc) b.perfFile = argv[++i];
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) b.runs = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--set") == 0 && i + 1 < argc) onlySet = argv[++i];
    }
    const int countA = quick ? 200 : 2000, countB = quick ? 20 : 200;
    std::vector<Set> sets = {{"A", "setA", 1, countA, 200 * 1024, true},
                             {"A-nogal", "setA", 1, countA, 200 * 1024, false},
                             {"B-nogal", "setB", 2, countB, 4 * 1024 * 1024, false}};
    if (!onlySet.empty())
        sets.erase(std::remove_if(sets.begin(), sets.end(), [&](const Set& s) { return s.key != onlySet; }),
                   sets.end());

    const fs::path self = fs::read_symlink("/proc/self/exe");
    b.cli = cliPath.empty() ? self.parent_path() / "quillmoss-cli" : fs::absolute(cliPath);
    if (!fs::exists(b.cli)) {
        std::fprintf(stderr, "job_bench: %s is missing (build quillmoss-cli)\n", b.cli.c_str());
        return 1;
    }
    std::string pattern = (fs::temp_directory_path() / "qm-job-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    b.tmp = pattern;
    const fs::path& tmp = b.tmp;
    // nginx's workers run as an unprivileged user: they must be able to read the pictures.
    fs::permissions(tmp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);

    nlohmann::json albums = nlohmann::json::array();
    albums.push_back({{"id", "setA"}, {"name", "A"}, {"pictures", countA}, {"size", 200 * 1024}});
    albums.push_back({{"id", "setB"}, {"name", "B"}, {"pictures", countB}, {"size", 4 * 1024 * 1024}});
    nlohmann::json owner = {{"uin", "10001"}, {"albums", albums}};
    qm::sim::Simulator sim(nlohmann::json{{"qzone", nlohmann::json::array({owner})}});
    sim.SetLogging(false);
    if (sim.Start(0) == 0) return 1;

    std::vector<std::string> hosts;
    std::vector<std::vector<std::string>> addresses;
    if (!MakePictures(sim, tmp, countA, countB, hosts, addresses)) return 1;

    qm::bench::Nginx nginx(tmp, " default_type image/jpeg;\n", "  location = /psb { try_files /psb$args =404; }\n");
    const auto cleanup = [&] {
        nginx.Stop();
        sim.Stop();
        std::error_code ec;
        fs::remove_all(tmp, ec);
    };
    if (!nginx.Running()) {
        cleanup();
        return 1;
    }
    b.port = nginx.Port();

    // Picture hosts go to nginx, everything else to the simulator.
    std::string routes;
    for (const std::string& h : hosts) routes += h + ":80:127.0.0.1:" + std::to_string(b.port) + ",";
    routes += "::127.0.0.1:" + std::to_string(sim.Port());
    b.env = {"QUILLMOSS_CONNECT_TO=" + routes, "HOME=" + (tmp / "home").string(),
             "XDG_CONFIG_HOME=" + (tmp / "home/.config").string(), "XDG_CACHE_HOME=" + (tmp / "home/.cache").string()};
    fs::create_directories(tmp / "home");
    // Two program folders: the ordinary one and one in ListOnly mode; 15 transfers in both.
    for (const char* prog : {"prog", "prog-list"}) {
        fs::create_directories(tmp / prog);
        Run({b.cli.string(), "-P", (tmp / prog).string(), "settings", "set", "ThreadCount", "15"}, b.env);
    }
    Run({b.cli.string(), "-P", (tmp / "prog-list").string(), "settings", "toggle", "ListOnly"}, b.env);

    std::printf("median of %d run(s); quillmoss-cli from the simulator, pictures from nginx on 127.0.0.1:%d; "
                "curl --parallel --parallel-max 15; scratch folder on %s\n",
                b.runs, b.port, tmp.parent_path().c_str());
    std::printf("%-9s %-9s %8s %8s %8s %8s %8s %s\n", "tool", "set", "wall s", "CPU s", "user s", "kernel s", "RSS MiB",
                "files");
    bool allOk = true;
    double download = -1, gallery = -1;
    for (const Set& s : sets) {
        double wall = 0, galleryWall = -1;
        const bool timeGallery = s.key == "A-nogal";
        allOk = RunSet(b, s, addresses[s.album == "setA" ? 0 : 1], wall, timeGallery, galleryWall) && allOk;
        if (timeGallery) {
            download = wall;
            gallery = galleryWall;
        }
    }
    if (download > 0 && gallery >= 0)
        std::printf("gallery after the download of set A: %.2f s, %.1f %% of the download (goal <= 10 %%; the gallery "
                    "command on each download without it, median of %d)\n",
                    gallery, 100.0 * gallery / download, b.runs);
    cleanup();
    return allOk ? 0 : 1;
}
