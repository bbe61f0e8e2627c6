// A re-run over a complete album: the second download of a 2,000-picture album into the same save
// folder lists it again, finds every picture in the archive and fetches nothing. Prints both wall
// times and their ratio (goal: the re-run under 10 % of the first run).
//
//   rerun_bench [--count N] [--size KIB]
//
// The pictures are 200 KiB each by default, the album the download benchmark uses; the simulator
// makes their bytes before the clock starts, so the first run times the client, not the maker of
// fake pictures. The re-run is timed three times and its median counts.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/SilentObserver.h"
#include "core/JobControl.h"
#include "core/JobObserver.h"
#include "core/Settings.h"
#include "jobs/DownloadJob.h"
#include "jobs/ListJob.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

int main(int argc, char** argv) {
    int count = 2000, sizeKiB = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) sizeKiB = std::max(1, std::atoi(argv[++i]));
    }

    // TMPDIR picks the file system.
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-rerun-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const std::filesystem::path dir = pattern;
    std::filesystem::create_directories(dir / "prog");

    qm::URLSource2Init();
    qm::sim::Simulator sim(nlohmann::json{
        {"qzone",
         {{{"uin", "10001"},
           {"albums", {{{"id", "big"}, {"name", "Big"}, {"pictures", count}, {"size", sizeKiB * 1024}}}}}}}});
    for (int i = 1; i <= count; ++i) (void)sim.PictureBytes("big_" + std::to_string(i));
    if (sim.Start(0) == 0) return 1;
    qm::SetConnectTo(sim.ConnectTo());

    qm::SettingsStore st;
    st.programFolder = qm::TextFromPath(dir / "prog") + u"/";
    qm::LoadSettings(st);
    qm::bench::SilentObserver obs;

    auto run = [&](qm::JobOutcome& outcome) {
        const auto start = std::chrono::steady_clock::now();
        qm::JobControl listing;
        listing.TryStart();
        const qm::ListResult list =
            qm::RunListJob(qm::ListRequest{u"10001", qm::TargetKind::QZone}, obs, listing, st.programFolder);
        qm::DownloadRequest request;
        request.list = list;
        request.albums = {0};
        request.saveFolder = qm::TextFromPath(dir / "save");
        request.settings = st.Snapshot();
        request.settings.down.ThreadCount = 15;
        request.programFolder = st.programFolder;
        qm::JobControl control;
        control.TryStart();
        outcome = qm::RunDownloadJob(request, obs, control);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    qm::JobOutcome first, second;
    const double a = run(first);
    std::vector<double> reruns;
    bool allHad = true;
    for (int k = 0; k < 3; ++k) {
        reruns.push_back(run(second));
        allHad = allHad && !second.albums.empty() && second.albums[0].alreadyHad == static_cast<std::size_t>(count) &&
                 second.albums[0].saved == 0;
    }
    std::sort(reruns.begin(), reruns.end());
    const double b = reruns[1];
    sim.Stop();
    qm::SetConnectTo("");

    const bool right =
        !first.albums.empty() && first.albums[0].saved == static_cast<std::size_t>(count) && allHad;
    std::printf(
        "rerun: %d pictures of %d KiB, first run %.3f s, re-run %.3f s (median of 3; %.1f %% of the first; goal "
        "< 10 %%)%s\n",
        count, sizeKiB, a, b, a > 0 ? 100.0 * b / a : 0.0, right ? "" : " WRONG COUNTS");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return right ? 0 : 1;
}
