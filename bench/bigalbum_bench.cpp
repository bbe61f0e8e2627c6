// One album of many small pictures, from the simulator, at 1,000, 10,000 and 100,000 pictures: the
// listing, the download, a re-run (everything already had; the median of three), the report and the
// gallery, each timed.
// Prints per size the time of each step, the time per picture, the peak RSS of the client and the
// archive's bytes per picture; then how the time per picture at the largest size compares with the
// smallest (goal: within 1.5x), the re-run against the first run (goal <= 5 %), peak RSS (goal
// <= 200 MiB) and the archive (goal <= 300 bytes per picture).
//
//   bigalbum_bench [--sizes 1000,10000,100000] [--size BYTES] [--no-gallery] [--perf-rerun FILE]
//
// --no-gallery leaves the gallery step out (to profile the others); --perf-rerun records the client's
// re-run (and the simulator meanwhile) with `perf record --call-graph dwarf` into FILE (use it with
// one size).
// The simulator runs in this process; the client runs in a child (this program again), which reports
// its own peak RSS (VmHWM: the wait's ru_maxrss would count the simulator's memory too, as the kernel
// keeps the high-water mark of the process that was forked across the exec). The photo list's pauses between pages are counted, not slept (they are the
// service's pacing, not work): the line says how long they would have taken.
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/SilentObserver.h"
#include "net/Clock.h"
#include "core/JobControl.h"
#include "core/Settings.h"
#include "download/Archive.h"
#include "gallery/Gallery.h"
#include "jobs/DownloadJob.h"
#include "jobs/ListJob.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace fs = std::filesystem;

namespace {

// Steady time, and pauses that return at once while adding up what they would have slept.
class CountingClock final : public qm::Clock {
public:
    time_point Now() override { return std::chrono::steady_clock::now() + std::chrono::milliseconds(slept_.load()); }
    bool SleepFor(std::chrono::milliseconds d, std::stop_token stop) override {
        if (stop.stop_requested()) return false;
        slept_ += d.count();
        return true;
    }
    double SleptSeconds() const { return slept_.load() / 1000.0; }

private:
    std::atomic<int64_t> slept_{0};
};

// This process's peak resident memory in KiB (VmHWM, since its exec); 0 unknown.
long PeakRssKiB() {
    std::FILE* in = std::fopen("/proc/self/status", "r");
    if (!in) return 0;
    long kib = 0;
    char line[256];
    while (std::fgets(line, sizeof line, in))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    std::fclose(in);
    return kib;
}

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// `perf record` of this process and its parent (the simulator's side) into `file`, started and given
// a moment to attach; 0 when it cannot start.
pid_t StartPerf(const std::string& file) {
    const std::string self = std::to_string(::getpid()) + "," + std::to_string(::getppid());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("perf", "perf", "record", "-q", "--call-graph", "dwarf,16384", "-F", "499", "-p", self.c_str(), "-o",
                 file.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    if (pid > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
    return pid > 0 ? pid : 0;
}

void StopPerf(pid_t perf) {
    if (perf <= 0) return;
    ::kill(perf, SIGINT);
    int status = 0;
    ::waitpid(perf, &status, 0);
}

// The client's side for one album size; prints one "child ..." line of figures.
int Child(int count, int port, const fs::path& dir, bool withGallery, const std::string& perfFile) {
    mallopt(M_ARENA_MAX, 2);  // as quillmoss-cli runs (app/cli_main.cpp)
    qm::URLSource2Init();
    qm::SetConnectTo("127.0.0.1:" + std::to_string(port));
    fs::create_directories(dir / "prog");
    qm::SettingsStore settings;
    settings.programFolder = qm::TextFromPath(dir / "prog") + u"/";
    qm::LoadSettings(settings);
    qm::bench::SilentObserver obs;
    CountingClock clock;
    const fs::path save = dir / "save";

    auto list = [&] {
        qm::JobControl control;
        control.TryStart();
        return qm::RunListJob(qm::ListRequest{u"10001", qm::TargetKind::QZone}, obs, control, settings.programFolder,
                              clock);
    };
    auto download = [&](const qm::ListResult& l) {
        qm::DownloadRequest request;
        request.list = l;
        request.albums = {0};
        request.saveFolder = qm::TextFromPath(save);
        request.settings = settings.Snapshot();
        request.settings.down.ThreadCount = 15;
        request.programFolder = settings.programFolder;
        qm::JobControl control;
        control.TryStart();
        return qm::RunDownloadJob(request, obs, control, clock);
    };

    auto t = std::chrono::steady_clock::now();
    const qm::ListResult albums = list();
    const double listTime = Since(t);
    t = std::chrono::steady_clock::now();
    const qm::JobOutcome first = download(albums);
    const double downloadTime = Since(t);
    const double pauses = clock.SleptSeconds();
    // The first run's files reach the disk before the re-run starts, as they have long since when a
    // user runs an album again: otherwise the re-run's few flushes (the archive, album.json) queue
    // behind hundreds of megabytes still being written back, and time the disk instead.
    ::sync();
    // The re-run three times, its median taken: each finds the same saved pictures and does the same
    // work, and one that a stray flush of the machine held up does not stand for all.
    const pid_t perf = perfFile.empty() ? 0 : StartPerf(perfFile);
    std::vector<double> reruns;
    bool againRight = true;
    for (int r = 0; r < (perf ? 1 : 3); ++r) {
        t = std::chrono::steady_clock::now();
        const qm::JobOutcome again = download(list());
        reruns.push_back(Since(t));
        againRight = againRight && !again.albums.empty() &&
                     again.albums[0].alreadyHad == static_cast<std::size_t>(count);
    }
    StopPerf(perf);
    std::sort(reruns.begin(), reruns.end());
    const double rerunTime = reruns[reruns.size() / 2];

    t = std::chrono::steady_clock::now();
    qm::ArchiveOpenError error;
    std::size_t reported = 0;
    if (auto archive = qm::Archive::Open(save, error, false))
        for (const qm::AlbumReport& a : archive->Report()) reported += a.saved;
    const double reportTime = Since(t);

    t = std::chrono::steady_clock::now();
    qm::gallery::GalleryReport gallery;
    if (withGallery)
        gallery = qm::gallery::BuildGallery(qm::TextFromPath(save), u"");
    else
        gallery.thumbs.kept = static_cast<std::size_t>(count);
    const double galleryTime = Since(t);

    uint64_t archiveBytes = 0;
    for (const char* tail : {"", "-wal"}) {
        std::error_code ec;
        const auto n = fs::file_size(save / (std::string(qm::kArchiveFileName) + tail), ec);
        if (!ec) archiveBytes += n;
    }
    const bool right = !first.albums.empty() && first.albums[0].saved == static_cast<std::size_t>(count) &&
                       againRight &&
                       reported == static_cast<std::size_t>(count) &&
                       gallery.thumbs.made + gallery.thumbs.kept + gallery.thumbs.failed == static_cast<std::size_t>(count);
    std::printf("child %d %.3f %.3f %.3f %.3f %.3f %.1f %llu %d %ld\n", count, listTime, downloadTime, rerunTime,
                reportTime, galleryTime, pauses, static_cast<unsigned long long>(archiveBytes), right ? 1 : 0,
                PeakRssKiB());
    return right ? 0 : 1;
}

struct Figures {
    int count = 0;
    double list = 0, download = 0, rerun = 0, report = 0, gallery = 0, pauses = 0, rssMiB = 0;
    unsigned long long archive = 0;
    bool right = false;
    double Total() const { return list + download + rerun + report + gallery; }
};

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "--child") == 0)
        return Child(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], std::strcmp(argv[5], "1") == 0,
                     argc == 7 ? argv[6] : "");

    std::vector<int> sizes = {1000, 10000, 100000};
    int pictureBytes = 2000;
    bool withGallery = true;
    std::string perfFile;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-gallery") == 0) withGallery = false;
        if (std::strcmp(argv[i], "--perf-rerun") == 0 && i + 1 < argc) perfFile = fs::absolute(argv[++i]).string();
        if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
            sizes.clear();
            std::stringstream ss(argv[++i]);
            for (std::string n; std::getline(ss, n, ',');) sizes.push_back(std::max(1, std::atoi(n.c_str())));
        }
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) pictureBytes = std::max(1, std::atoi(argv[++i]));
    }
    std::string pattern = (fs::temp_directory_path() / "qm-bigalbum-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const fs::path tmp = pattern;

    std::vector<Figures> all;
    bool allRight = true;
    for (int count : sizes) {
        qm::sim::Simulator sim(nlohmann::json{
            {"qzone", nlohmann::json::array({{{"uin", "10001"},
                                              {"albums", nlohmann::json::array({{{"id", "big"},
                                                                                 {"name", "Big"},
                                                                                 {"pictures", count},
                                                                                 {"size", pictureBytes}}})}}})}});
        sim.SetLogging(false);
        const int port = sim.Start(0);
        if (port == 0) return 1;
        const fs::path dir = tmp / std::to_string(count);
        fs::create_directories(dir);
        const std::string out = (dir / "child.txt").string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!std::freopen(out.c_str(), "w", stdout)) std::_Exit(1);
            ::execl("/proc/self/exe", argv[0], "--child", std::to_string(count).c_str(), std::to_string(port).c_str(),
                    dir.c_str(), withGallery ? "1" : "0", perfFile.empty() ? nullptr : perfFile.c_str(),
                    static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        sim.Stop();
        Figures f;
        f.count = count;
        int right = 0;
        long peakKiB = 0;
        std::FILE* in = std::fopen(out.c_str(), "r");
        if (!in || std::fscanf(in, "child %*d %lf %lf %lf %lf %lf %lf %llu %d %ld", &f.list, &f.download, &f.rerun,
                               &f.report, &f.gallery, &f.pauses, &f.archive, &right, &peakKiB) != 9)
            right = 0;
        f.rssMiB = peakKiB / 1024.0;
        if (in) std::fclose(in);
        f.right = right == 1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        allRight = allRight && f.right;
        std::printf(
            "bigalbum %d pictures of %d bytes: list %.2f s, download %.2f s, re-run %.2f s (%.1f %% of the first), "
            "report %.2f s, gallery %.2f s; %.3f ms per picture; peak RSS %.1f MiB; archive %.0f bytes per picture; "
            "list pauses %.0f s (counted, not slept)%s\n",
            count, pictureBytes, f.list, f.download, f.rerun, 100.0 * f.rerun / (f.list + f.download), f.report,
            f.gallery, 1000.0 * f.Total() / count, f.rssMiB, double(f.archive) / count, f.pauses,
            f.right ? "" : " WRONG COUNTS");
        std::fflush(stdout);
        all.push_back(f);
    }
    if (all.size() >= 2) {
        const Figures &small = all.front(), &big = all.back();
        double rerunShare = 0, rss = 0, archive = 0;
        for (const Figures& f : all) {
            rerunShare = std::max(rerunShare, f.rerun / (f.list + f.download));
            rss = std::max(rss, f.rssMiB);
            archive = std::max(archive, double(f.archive) / f.count);
        }
        std::printf(
            "bigalbum summary: time per picture at %d is %.2fx that at %d (goal <= 1.5); re-run at most %.1f %% of the "
            "first (goal <= 5 %%); peak RSS at most %.1f MiB (goal <= 200); archive at most %.0f bytes per picture "
            "(goal <= 300)\n",
            big.count, (big.Total() / big.count) / (small.Total() / small.count), small.count, 100.0 * rerunShare, rss,
            archive);
    }
    // Removed only at the end: files deleted just before a run make the file system's inode
    // allocator skip over the freed inodes for every new file, a cost that would land on the next size.
    std::error_code ec;
    fs::remove_all(tmp, ec);
    return allRight ? 0 : 1;
}
