// The HTTP client against the simulator's fault knobs: compressed pictures, bodies that drip, stops.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <thread>

#include "TempFolder.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "support/RawServer.h"

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
    std::string Saved(const std::string& file) {
        std::string bytes;
        ReadWholeFile(dir_.path() / file, bytes);
        return bytes;
    }

    std::unique_ptr<sim::Simulator> sim_;
    test::TempFolder dir_{"qm-hostile-"};
};

// A compressed picture is limited by its inflated size; a plain one with "gzip" in some other header
// line is saved as it came.
TEST_F(HostileServer, CompressedPicturesLimitedByTheirInflatedSize) {
    // 50 MB of zeros, about 50 KB compressed (the pictures of the simulator do not compress).
    std::string bomb(compressBound(50u << 20), '\0');
    {
        const std::string zeros(50u << 20, '\0');
        uLongf size = bomb.size();
        ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(bomb.data()), &size,
                            reinterpret_cast<const Bytef*>(zeros.data()), zeros.size(), 9),
                  Z_OK);
        bomb.resize(size);
    }
    qmtest::RawServer server(
        [&](qmtest::RawConn& c) { c.Send(qmtest::Answer(bomb, "Content-Encoding: gzip\r\n")); });
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

// A body that drips one byte a second never trips the stall wait; the attempt's deadline ends it,
// and a stop ends it (and the attempts left) within a second.
TEST_F(HostileServer, DripCutByTheDeadlineAndByAStop) {
    Start(R"([{"match": "{small}", "drip_ms": 1000}])");
    ST_URLREQUEST req = Picture("small", "small.jpg");
    req.readWaitMs = 3000;
    req.attemptDeadlineMs = 2500;
    ST_URLRESPONSE resp;
    auto start = SteadyClock::now();
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::Timeout);
    EXPECT_GT(resp.bodySize, 0u);
    EXPECT_LT(SecondsSince(start), 4.0);

    std::stop_source stop;
    req.attemptDeadlineMs = 0;
    req.attempts = 3;
    req.pauseSeconds = 5;
    req.stop = stop.get_token();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        stop.request_stop();
    });
    start = SteadyClock::now();
    EXPECT_FALSE(FetchUrl(req, resp, 0));
    const double secs = SecondsSince(start);
    stopper.join();
    EXPECT_EQ(resp.failure.kind, FailureKind::Stopped);
    EXPECT_LT(secs, 2.5);
    EXPECT_TRUE(dir_.Names().empty());
    EXPECT_EQ(PictureAttemptDeadlineMs(30), 120000);
    EXPECT_EQ(PictureAttemptDeadlineMs(10), 60000);
}

}  // namespace
}  // namespace qm
