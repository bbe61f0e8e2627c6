// Stress: 15 threads fetching 1,000 pictures at once from a local server, every file byte-correct,
// cookies set by some answers landing in the shared store meanwhile, connections reused. (The
// engine's speed is download_bench's figure.)
// Run it under ThreadSanitizer with `make test-tsan` (or a -DQM_TSAN=ON build of net_parallel_fetch_test).
// A deeper accept queue than the library's default of 5, for 15 clients connecting at once.
#define CPPHTTPLIB_LISTEN_BACKLOG 64
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "FileText.h"
#include "LoopbackServer.h"
#include "TempFolder.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"

using namespace qm;
namespace fs = std::filesystem;

namespace {

constexpr int kPictures = 1000;
constexpr int kThreads = 15;

// Deterministic picture bytes: a JPEG signature, then a pseudo-random fill of a per-picture size.
std::string PictureBytes(int n) {
    const size_t size = 1500 + static_cast<size_t>(n) * 7919 % 60000;
    std::string out("\xFF\xD8\xFF\xE0", 4);
    uint32_t x = 2166136261u ^ static_cast<uint32_t>(n);
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        out.push_back(static_cast<char>(x >> 24));
    }
    return out;
}

}  // namespace

TEST(ParallelFetch, FifteenThreadsThousandPictures) {
    test::LoopbackServer loopback;
    httplib::Server& server = loopback.Http();
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(2);
    std::mutex portsMutex;
    std::set<int> clientPorts;
    std::atomic<int> withCookie{0};
    server.Get(R"(/pic/(\d+)\.jpg)", [&](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1]);
        {
            std::lock_guard lock(portsMutex);
            clientPorts.insert(req.remote_port);
        }
        if (req.has_header("Cookie") && req.get_header_value("Cookie").find("seen") != std::string::npos)
            withCookie.fetch_add(1);
        if (n % 50 == 0)
            res.set_header("Set-Cookie", "seen" + std::to_string(n % 7) + "=" + std::to_string(n) +
                                             "; Domain=pics.example.test; Max-Age=3600");
        res.set_content(PictureBytes(n), "image/jpeg");
    });
    const int port = loopback.Start();
    ASSERT_GT(port, 0);

    const test::TempFolder temp("qm-parallel-");
    const fs::path& folder = temp.path();
    fs::create_directories(folder / "pics");
    CookieStore::Instance().Clear();
    CookieStore::Instance().Open(folder);
    SetConnectTo("127.0.0.1:" + std::to_string(port));

    std::atomic<int> next{0}, failures{0}, wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            ST_URLREQUEST req({}, {}, 20000);
            req.attempts = 2;
            req.pauseSeconds = 1;
            req.maxKB = 1024;
            ST_URLRESPONSE resp;
            for (int n = next++; n < kPictures; n = next++) {
                req.url = FromUtf8("http://pics.example.test/pic/" + std::to_string(n) + ".jpg");
                req.savePath = TextFromPath(folder / "pics" / (std::to_string(n) + ".jpg"));
                if (!FetchUrl(req, resp, URLF_CACHE_WRITE | URLF_CACHE_READ)) {
                    failures++;
                    continue;
                }
                if (resp.body != PictureBytes(n)) wrong++;
            }
        });
    }
    for (auto& w : workers) w.join();
    SetConnectTo("");
    loopback.Stop();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    int correctFiles = 0;
    for (int n = 0; n < kPictures; ++n) {
        if (test::FileText(folder / "pics" / (std::to_string(n) + ".jpg")) == PictureBytes(n)) ++correctFiles;
    }
    EXPECT_EQ(correctFiles, kPictures);
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(folder / "pics")) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, static_cast<size_t>(kPictures));  // no temporary files left

    // The cookies set along the way are in the store and in the file, and were sent back.
    EXPECT_EQ(CookieStore::Instance().List().size(), 7u);
    EXPECT_GT(withCookie.load(), 0);
    CookieStore reread;
    reread.Open(folder);
    EXPECT_EQ(reread.List().size(), 7u);

    EXPECT_LT(clientPorts.size(), static_cast<size_t>(kPictures / 2));  // connections are reused
    CookieStore::Instance().Clear();
}
