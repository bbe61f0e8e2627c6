// Films: one large film streamed to disk against the same server's large pictures, and a film cut
// at half its length resumed. Each transfer runs in a forked child, so its peak RSS and wall time
// are its own; the simulator (in this process) serves both.
//   film_bench [--quick]     (quick: a 50 MiB film and 12 pictures of 4 MiB)
// Prints:
//   film-vs-pictures: film S MiB in W s (F MB/s), pictures N x 4 MiB in W s (P MB/s), ratio R; film peak RSS M MiB
//   film-resume: cut at C of S bytes; second request Range bytes=C- answered 206; file identical: yes
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/EngineChild.h"
#include "net/FileUtil.h"
#include "net/Sha256.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Result {
    double wall = 0, rssMiB = 0;
    double ownMiB = 0;  // the child's own peak: its high-water mark less what it shared at the fork
    bool ok = false;
};

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:").
long StatusKiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long v = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, std::strlen(field)) == 0) v = std::atol(line + std::strlen(field));
    std::fclose(f);
    return v;
}

template <typename F>
Result InChild(F&& work) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const long before = StatusKiB("VmRSS:");
        const bool ok = work();
        const long own = StatusKiB("VmHWM:") - before;
        (void)!::write(fds[1], &own, sizeof own);
        std::_Exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    long own = 0;
    (void)!::read(fds[0], &own, sizeof own);
    ::close(fds[0]);
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    Result r;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.rssMiB = ru.ru_maxrss / 1024.0;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.ownMiB = own / 1024.0;
    return r;
}

bool FetchFilm(const std::string& address, const fs::path& target, uint8_t attempts) {
    qm::ST_URLREQUEST req(qm::FromUtf8(address), qm::TextFromPath(target), 20000);
    req.headers = u"Referer: http://user.qzone.qq.com/10001";
    req.resumable = true;
    req.attempts = attempts;
    req.pauseSeconds = 0;
    qm::ST_URLRESPONSE resp;
    return qm::FetchUrl(req, resp, 0);
}

json Scenario(std::size_t filmBytes, int pictures, json faults) {
    json pics = json::array();
    for (int i = 0; i < pictures; ++i)
        pics.push_back({{"id", "big" + std::to_string(i)}, {"kind", "raw"}, {"size", 4 << 20}});
    pics.push_back({{"id", "film"}, {"video", {{"size", filmBytes}}}});
    return {{"qzone", {{{"uin", 10001}, {"albums", {{{"id", "Vbench"}, {"pictures", pics}}}}}}}, {"faults", faults}};
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::size_t filmBytes = std::size_t{quick ? 50u : 200u} << 20;
    const int pictures = quick ? 12 : 50;
    const fs::path work = fs::temp_directory_path() / ("qm-film-bench-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "pictures");
    qm::URLSource2Init();

    {
        qm::sim::Simulator sim(Scenario(filmBytes, pictures, json::array()));
        sim.SetLogging(false);
        if (sim.Start(0) == 0) return 1;
        qm::SetConnectTo(sim.ConnectTo());
        // Made before the clock starts, as the download bench's server holds its bytes ready.
        (void)sim.FilmBytes("film");
        std::vector<std::string> addresses;
        for (int i = 0; i < pictures; ++i) {
            (void)sim.PictureBytes("big" + std::to_string(i));
            addresses.push_back(sim.PictureAddress("big" + std::to_string(i)));
        }
        const Result pics = InChild([&] {
            qm::bench::DownloadAndExit(addresses, work / "pictures", 0);
            return true;
        });
        const std::string film = sim.FilmAddress("film");
        const Result f = InChild([&] { return FetchFilm(film, work / "film.mp4", 1); });
        const double mb = filmBytes / 1e6, pmb = pictures * double(4 << 20) / 1e6;
        std::printf(
            "film-vs-pictures: film %zu MiB in %.2f s (%.0f MB/s), pictures %d x 4 MiB in %.2f s (%.0f MB/s), ratio "
            "%.2f; film peak RSS %.1f MiB (the transfer's own; %.1f MiB with what the fork shared)%s\n",
            filmBytes >> 20, f.wall, mb / f.wall, pictures, pics.wall, pmb / pics.wall, (mb / f.wall) / (pmb / pics.wall),
            f.ownMiB, f.rssMiB, f.ok && pics.ok ? "" : " (a transfer failed)");
        std::error_code ec;
        if (fs::file_size(work / "film.mp4", ec) != filmBytes) std::printf("  film size wrong\n");
        sim.Stop();
    }
    {
        const std::size_t cut = filmBytes / 2;
        qm::sim::Simulator sim(Scenario(filmBytes, 0, {{{"match", ".mp4"}, {"truncate", cut}, {"first", 1}}}));
        if (sim.Start(0) == 0) return 1;
        qm::SetConnectTo(sim.ConnectTo());
        const std::string expected = qm::Sha256Hex(sim.FilmBytes("film"));
        const Result r = InChild([&] { return FetchFilm(sim.FilmAddress("film"), work / "cut.mp4", 2); });
        std::string range = "none";
        int status = 0;
        int filmRequests = 0;
        for (const auto& q : sim.Requests()) {
            if (q.path.find(".mp4") == std::string::npos) continue;
            ++filmRequests;
            if (auto it = q.headers.find("range"); it != q.headers.end()) {
                range = it->second;
                status = q.status;
            }
        }
        std::string digest;
        uint64_t size = 0;
        qm::Sha256File(work / "cut.mp4", digest, size);
        std::printf("film-resume: cut at %zu of %zu bytes; %d film requests; second asked Range %s, answered %d; "
                    "file identical: %s%s\n",
                    cut, filmBytes, filmRequests, range.c_str(), status, digest == expected ? "yes" : "no",
                    r.ok ? "" : " (the fetch failed)");
        sim.Stop();
    }
    qm::SetConnectTo("");
    fs::remove_all(work);
    return 0;
}
