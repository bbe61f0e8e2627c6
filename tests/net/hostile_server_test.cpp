// The HTTP client against the simulator's fault knobs: compressed pictures, bodies that drip, stops.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "FileText.h"
#include "TempFolder.h"
#include "TinyDisk.h"
#include "WaitUntil.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "RawServer.h"

namespace qm {
namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

class HostileServer : public ::testing::Test {
protected:
    // `faults` may name the pictures' addresses as {big} and {small}.
    void Start(std::string faults) {
        nlohmann::json s =
            nlohmann::json::parse(R"({"qzone": [{"uin": 55555, "albums": [{"id": "A", "name": "a",
            "pictures": [{"id": "big", "size": 3000000}, {"id": "small", "size": 5000}]}]}]})");
        const sim::Simulator probe(s);
        for (const std::string id : {"big", "small"}) {
            const std::string address = probe.PictureAddress(id).substr(7);  // host + target
            for (size_t at; (at = faults.find("{" + id + "}")) != std::string::npos;)
                faults.replace(at, id.size() + 2, address);
        }
        s["faults"] = nlohmann::json::parse(faults);
        sim_ = std::make_unique<sim::Simulator>(s);
        ASSERT_NE(sim_->Start(0), 0);
        SetConnectTo(sim_->ConnectTo());
    }
    void TearDown() override { SetConnectTo(""); }

    ST_URLREQUEST Picture(const std::string& id, const std::string& file) {
        ST_URLREQUEST req(FromUtf8(sim_->PictureAddress(id)), TextFromPath(dir_.path() / file), 5000);
        return req;
    }
    std::string Saved(const std::string& file) { return test::FileText(dir_.path() / file); }

    std::unique_ptr<sim::Simulator> sim_;
    test::TempFolder dir_{"qm-hostile-"};
};

// `megabytes` MB of zeros, compressed about 1,000 times (the pictures of the simulator do not compress).
std::string ZeroBomb(size_t megabytes) {
    const std::string zeros(megabytes << 20, '\0');
    std::string bomb(compressBound(zeros.size()), '\0');
    uLongf size = bomb.size();
    if (compress2(reinterpret_cast<Bytef*>(bomb.data()), &size, reinterpret_cast<const Bytef*>(zeros.data()),
                  zeros.size(), 9) != Z_OK)
        return {};
    bomb.resize(size);
    return bomb;
}

// What the trace writes while `run` runs (the terminal program's -v).
std::string TraceOf(const std::function<void()>& run) {
    SetTraceEnabled(true);
    ::testing::internal::CaptureStderr();
    run();
    const std::string out = ::testing::internal::GetCapturedStderr();
    SetTraceEnabled(false);
    return out;
}

bool HasRawControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\n' && c != '\t') || u == 0x7F;
    });
}

// A compressed picture is limited by its inflated size; a plain one with "gzip" in some other header
// line is saved as it came.
TEST_F(HostileServer, CompressedPicturesLimitedByTheirInflatedSize) {
    const std::string bomb = ZeroBomb(50);
    ASSERT_FALSE(bomb.empty());
    qm::test::RawServer server(
        [&](qm::test::RawConn& c) { c.Send(qm::test::Answer(bomb, "Content-Encoding: gzip\r\n")); });
    ST_URLREQUEST req(FromUtf8(server.Url("/bomb.jpg")), TextFromPath(dir_.path() / "bomb.jpg"), 5000);
    req.maxKB = 1000;
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::SizeLimit);
    EXPECT_LT(resp.bodySize, 1000u * 1024);  // the compressed answer itself was within the limit
    EXPECT_TRUE(dir_.Names().empty());

    Start(
        R"([{"match": "{big}", "gzip": true}, {"match": "{small}", "header": "Vary: Accept-Encoding, gzip"}])");
    // Made before the request: under a sanitizer, making 3 MB of picture could outlast the wait.
    const std::string bigBytes = sim_->PictureBytes("big");
    ST_URLREQUEST big = Picture("big", "big.jpg");
    big.maxKB = 3000;
    big.minKB = 2900;
    EXPECT_TRUE(FetchOnce(resp, big, 0));
    EXPECT_TRUE(resp.gzip);
    EXPECT_EQ(Saved("big.jpg"), bigBytes);

    ST_URLREQUEST small = Picture("small", "small.jpg");
    EXPECT_TRUE(FetchOnce(resp, small, 0));
    EXPECT_NE(ToUtf8(resp.headers).find("Vary: Accept-Encoding, gzip"), std::string::npos);
    EXPECT_EQ(Saved("small.jpg"), sim_->PictureBytes("small"));
}

// A body that drips one byte every 200 ms never trips the stall wait; the attempt's deadline ends
// it (the whole body would take 1000 s), and a stop ends it and the attempts left. Both are timed
// from the moment that should end them, against five times what they may take.
TEST_F(HostileServer, DripCutByTheDeadlineAndByAStop) {
    Start(R"([{"match": "{small}", "drip_ms": 200}])");
    ST_URLREQUEST req = Picture("small", "small.jpg");
    req.readWaitMs = 3000;
    req.attemptDeadlineMs = 1000;
    ST_URLRESPONSE resp;
    auto start = SteadyClock::now();
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::Timeout);
    EXPECT_GT(resp.bodySize, 0u);
    EXPECT_LT(resp.bodySize, 5000u);
    EXPECT_LT(SecondsSince(start), 5.0);

    std::stop_source stop;
    req.attemptDeadlineMs = 0;
    req.attempts = 3;
    req.pauseSeconds = 5;
    req.stop = stop.get_token();
    sim_->ClearRequests();
    SteadyClock::time_point stopped{};
    std::thread user([&] {
        // Once the drip has begun (the picture was asked for), the user stops.
        test::WaitUntil([&] { return !sim_->Requests().empty(); }, std::chrono::seconds(60));
        stopped = SteadyClock::now();
        stop.request_stop();
    });
    EXPECT_FALSE(FetchUrl(req, resp, 0));
    const auto ended = SteadyClock::now();
    user.join();
    const double secs = std::chrono::duration<double>(ended - stopped).count();
    EXPECT_EQ(resp.failure.kind, FailureKind::Stopped);
    EXPECT_LT(secs, 5.0);  // timed from the stop: one second is normal, five allowed under load
    EXPECT_EQ(sim_->Requests().size(), 1u);  // no further attempt
    EXPECT_TRUE(dir_.Names().empty());
    EXPECT_EQ(PictureAttemptDeadlineMs(30), 120000);
    EXPECT_EQ(PictureAttemptDeadlineMs(10), 60000);
}

// With no size limit set (the default), a gzip bomb is still cut: by the ratio to its compressed
// size and an absolute ceiling. Nothing is left on disk, and the reason says why.
TEST_F(HostileServer, GzipBombCutWithoutASizeLimit) {
    const std::string bomb = ZeroBomb(64);
    ASSERT_FALSE(bomb.empty());
    qm::test::RawServer server(
        [&](qm::test::RawConn& c) { c.Send(qm::test::Answer(bomb, "Content-Encoding: gzip\r\n")); });
    ST_URLREQUEST req(FromUtf8(server.Url("/bomb.jpg")), TextFromPath(dir_.path() / "bomb.jpg"), 5000);
    ASSERT_EQ(req.maxKB, 0u);
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::SizeLimit);
    EXPECT_NE(resp.failure.text.find("inflates beyond 16 MiB"), std::string::npos) << resp.failure.text;
    EXPECT_TRUE(dir_.Names().empty());
    // The bound: 100 times the compressed size, at least 16 MiB, at most 256 MiB.
    EXPECT_EQ(InflatedPictureBound(1000), uint64_t{16} << 20);
    EXPECT_EQ(InflatedPictureBound(1u << 20), uint64_t{100} << 20);
    EXPECT_EQ(InflatedPictureBound(uint64_t{64} << 20), uint64_t{256} << 20);
}

// An error page with status 200 is not a picture: nothing is saved, the reason names its type, and
// -v shows its first bytes escaped. A long one is not read to its end.
TEST_F(HostileServer, TextPageForAPictureFails) {
    const std::string page = "<html>\x1b]0;owned\x07请稍后再试</html>";
    qm::test::RawServer server([&](qm::test::RawConn& c) {
        if (c.Target() == "/page.jpg")
            c.Send(qm::test::Answer(page, "Content-Type: text/html; charset=utf-8\r\n"));
        else
            c.Send(qm::test::Answer(std::string(4u << 20, 'x'), "Content-Type: Text/Plain\r\n"));
    });
    ST_URLREQUEST req(FromUtf8(server.Url("/page.jpg")), TextFromPath(dir_.path() / "page.jpg"), 5000);
    ST_URLRESPONSE resp;
    const std::string trace = TraceOf([&] { EXPECT_FALSE(FetchOnce(resp, req, 0)); });
    EXPECT_EQ(resp.failure.kind, FailureKind::NotAPicture);
    EXPECT_EQ(resp.failure.text, "the answer is text/html, not a picture");
    EXPECT_NE(trace.find("<html>\\x1b]0;owned\\x07请稍后再试</html>"), std::string::npos) << trace;
    EXPECT_FALSE(HasRawControl(trace));

    ST_URLREQUEST big(FromUtf8(server.Url("/big.jpg")), TextFromPath(dir_.path() / "big.jpg"), 5000);
    EXPECT_FALSE(FetchOnce(resp, big, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::NotAPicture);
    EXPECT_EQ(resp.failure.text, "the answer is text/plain, not a picture");
    EXPECT_LT(resp.bodySize, 4u << 20);
    EXPECT_TRUE(dir_.Names().empty());
}

// A text answer (an album list) that drips a byte every 50 ms never trips the read wait; its own
// overall deadline (six read waits) cuts it.
TEST_F(HostileServer, DrippedTextAnswerCutByItsDeadline) {
    qm::test::RawServer server([](qm::test::RawConn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        for (int i = 0; i < 1000 && c.Send("x"); ++i) c.Pause(50);
    });
    // The read wait is twelve drips long, so a loaded machine (a sanitizer build beside other
    // work once missed a window of three) still sees a steady body; the deadline is 3.6 s, the
    // drip would last 50 s.
    ST_URLREQUEST req(FromUtf8(server.Url("/list")), {}, 5000);
    req.readWaitMs = 600;
    ST_URLRESPONSE resp;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::Timeout);
    EXPECT_EQ(resp.failure.text, "attempt took longer than its deadline");
    EXPECT_LT(SecondsSince(start), 20.0);
    EXPECT_EQ(TextAnswerDeadlineMs(20000), 120000);
}

// -v shows a redirect's Location and every other server text escaped: no escape sequence, bell or
// bidirectional control reaches the terminal.
TEST_F(HostileServer, TraceEscapesWhatServersWrite) {
    qm::test::RawServer server([](qm::test::RawConn& c) {
        if (c.Target() == "/go")
            c.Send("HTTP/1.1 302 Found\r\nLocation: /next\xe2\x80\xae\xc2\x9b[2J\r\nContent-Length: 0\r\n\r\n");
        else
            c.Send(qm::test::Answer("ok"));
    });
    ST_URLREQUEST req(FromUtf8(server.Url("/go")), {}, 5000);
    ST_URLRESPONSE resp;
    const std::string trace = TraceOf([&] { FetchOnce(resp, req, 0); });
    EXPECT_NE(trace.find("redirect\t"), std::string::npos) << trace;
    EXPECT_FALSE(HasRawControl(trace)) << trace;
    EXPECT_EQ(trace.find("\xe2\x80\xae"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("\xc2\x9b"), std::string::npos) << trace;

    const std::string line = TraceOf([] { Trace("redirect\t%s\n", "http://h/\x1b]0;t\x07\xc2\x9b\xe2\x80\xae\xe2\x80\xa8\x9b"); });
    EXPECT_EQ(line, "redirect\thttp://h/\\x1b]0;t\\x07\\x9b\\u202e\\u2028\\x9b\n");
}

// A full disk: the picture fails with the system's words and its own kind (the download engine
// ends the album on it), whether the body was kept in memory or streamed, and nothing is left.
TEST_F(HostileServer, FullDiskIsItsOwnFailure) {
    qm::test::RawServer server([](qm::test::RawConn& c) {
        c.Send(qm::test::Answer(std::string(c.Target() == "/small.jpg" ? 100000 : 3000000, 'p')));
    });
    const std::filesystem::path folder = dir_.path();
    const int status = test::RunOnTinyDisk(folder, 64 * 1024, [&] {
        for (const char* name : {"small.jpg", "large.jpg"}) {
            ST_URLREQUEST req(FromUtf8(server.Url(std::string("/") + name)), TextFromPath(folder / name), 5000);
            ST_URLRESPONSE resp;
            if (FetchOnce(resp, req, 0)) return 1;
            if (resp.failure.kind != FailureKind::DiskFull) return 2;
            if (DescribeFailure(resp.failure) != "No space left on device") return 3;
            std::error_code ec;
            if (!std::filesystem::is_empty(folder, ec) || ec) return 4;
        }
        return 0;
    });
    if (status == test::kNoTinyDisk) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace qm
