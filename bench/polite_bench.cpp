// A picture host that limits its clients: 1,200 pictures, each answered 50 ms late, from a host
// that serves at most 40 pictures a second (a token bucket of 5) and answers 429 beyond that,
// once naming "Retry-After: 1" and once naming nothing. Prints, per case, the whole download's wall
// time against the ideal (count / rate) and the share of picture requests refused.
//
//   polite_bench [--count N] [--threads T] [--rate R] [--burst B]
//
// Goal: within 1.15 x the ideal, with at most 3 % of the picture requests refused.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <unistd.h>

#include "bench/SilentObserver.h"
#include "net/Clock.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace {

struct Outcome {
    double wall = 0;
    std::size_t saved = 0, requests = 0, refused = 0;
};

Outcome Run(int count, int threads, double rate, double burst, long retryAfter) {
    using nlohmann::json;
    json fault = {{"match", "photogz.photo.store.qq.com/psc"},
                  {"delay_ms", 50},
                  {"rate_per_second", rate},
                  {"burst", burst},
                  {"retry_after", retryAfter}};
    json album = {{"id", "polite"}, {"name", "Polite"}, {"today", true}, {"pictures", count}, {"size", 4096}};
    json owner = {{"uin", "10001"}, {"albums", json::array({album})}};
    json scenario = {{"qzone", json::array({owner})}, {"faults", json::array({fault})}};
    qm::sim::Simulator sim(scenario);
    for (int i = 1; i <= count; ++i) (void)sim.PictureBytes("polite_" + std::to_string(i));
    if (sim.Start(0) == 0) std::exit(1);
    qm::SetConnectTo(sim.ConnectTo());

    std::string pattern = (std::filesystem::temp_directory_path() / "qm-polite-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::exit(1);
    const std::filesystem::path dir = pattern;

    qm::bench::SilentObserver observer;
    qm::DownloadState st(observer, qm::SystemClock());
    st.task.albumFolder = qm::TextFromPath(dir) + u"/";
    for (int i = 1; i <= count; ++i) {
        qm::PictureRef picture;
        picture.main = qm::FromUtf8(sim.PictureAddress("polite_" + std::to_string(i)));
        st.task.pictures.push_back(std::move(picture));
        st.task.fileNames.push_back(qm::FromUtf8("p" + std::to_string(i) + ".jpg"));
    }
    st.worker.ThreadCount.store(threads);
    st.worker.TimeoutSec.store(30);

    const auto start = std::chrono::steady_clock::now();
    qm::DownPicFunc(st);
    Outcome out;
    out.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const qm::PictureOutcome& p : st.outcomes) out.saved += p.status == qm::PictureStatus::Saved;
    for (const auto& r : sim.Requests()) {
        if (r.host != "photogz.photo.store.qq.com") continue;
        ++out.requests;
        out.refused += r.status == 429;
    }
    sim.Stop();
    qm::SetConnectTo("");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1200, threads = 5;
    double rate = 40, burst = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0) count = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--threads") == 0) threads = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rate") == 0) rate = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--burst") == 0) burst = std::atof(argv[++i]);
    }
    qm::URLSource2Init();
    const double ideal = count / rate;
    int status = 0;
    for (long retryAfter : {1L, -1L}) {
        const Outcome o = Run(count, threads, rate, burst, retryAfter);
        const double ratio = o.wall / ideal;
        const double share = o.requests ? 100.0 * static_cast<double>(o.refused) / static_cast<double>(o.requests) : 0;
        std::printf("polite %s: %zu of %d pictures, %d threads, wall %.2f s, ideal %.2f s, ratio %.2f, refused %zu of %zu requests (%.1f %%)\n",
                    retryAfter >= 0 ? "retry-after" : "no-retry-after", o.saved, count, threads, o.wall, ideal, ratio,
                    o.refused, o.requests, share);
        if (ratio > 1.15 || share > 3.0 || o.saved != static_cast<std::size_t>(count)) status = 1;
    }
    return status;
}
