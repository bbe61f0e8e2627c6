// Fault knobs and the request log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "support/SimTestClient.h"

namespace qm::sim::test {
namespace {

std::unique_ptr<Simulator> Start(const std::string& faults) {
    nlohmann::json s = nlohmann::json::parse(R"({"qzone": [{"uin": 55555, "albums": [{"id": "A", "name": "a",
        "pictures": [{"id": "p1", "size": 5000}]}]}]})");
    s["faults"] = nlohmann::json::parse(faults);
    auto sim = std::make_unique<Simulator>(s);
    EXPECT_NE(sim->Start(0), 0);
    return sim;
}

const char* kAlbums = "/fcgi-bin/fcg_list_album_v2?hostUin=55555&format=jsonp&g_tk=5381";

// Sends a raw request and reads until the server closes: what a client sees on the wire.
std::string RawExchange(int port, const std::string& host, const std::string& target, bool& reset) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return "";
    const std::string req = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    (void)send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string out;
    char buf[4096];
    reset = false;
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == ECONNRESET) reset = true;
        break;
    }
    close(fd);
    return out;
}

TEST(SimFaults, StatusAndRateLimitForTheFirstRequests) {
    auto sim = Start(R"([{"match": "fcg_list_album_v2", "rate_limit_first": 2},
                         {"match": "GetRoute", "status": 503}])");
    for (int i = 0; i < 2; ++i) {
        Reply r = Fetch(*sim, "xalist.photo.qzone.qq.com", kAlbums);
        const std::string msg = Between(r.body, "\"msg\" : \"", "\"");
        // Shown by the client only when the text does not start the message.
        EXPECT_GT(msg.find(ToGbk("您的操作过于频繁")), 0u);
        EXPECT_NE(msg.find(ToGbk("您的操作过于频繁")), std::string::npos);
    }
    EXPECT_EQ(Count(Fetch(*sim, "xalist.photo.qzone.qq.com", kAlbums).body, "\"id\" : \""), 1u);
    EXPECT_EQ(Fetch(*sim, "route.store.qq.com", "/GetRoute?UIN=55555&version=2&type=json").status, 503);
}

TEST(SimFaults, BrokenBodies) {
    auto sim = Start(R"([{"match": "/r/", "truncate": 100},
                         {"match": "fcg_list_album_v2", "content_length": 100000},
                         {"match": "xaplist", "corrupt_gzip": true},
                         {"match": "GetRoute", "reset": true}])");
    const std::string picture = sim->PictureAddress("p1");
    ASSERT_NE(picture.find("/r/"), std::string::npos);
    bool reset = false;
    const std::string host = picture.substr(7, picture.find('/', 7) - 7);
    const std::string target = picture.substr(7 + host.size());

    std::string cut = RawExchange(sim->Port(), host, target, reset);
    EXPECT_NE(cut.find("Content-Length: 5000"), std::string::npos);
    EXPECT_EQ(cut.size() - cut.find("\r\n\r\n") - 4, 100u);
    EXPECT_EQ(FetchUrl(*sim, picture).status, -1);

    std::string lying = RawExchange(sim->Port(), "xalist.photo.qzone.qq.com", kAlbums, reset);
    EXPECT_NE(lying.find("Content-Length: 100000"), std::string::npos);
    EXPECT_LT(lying.size(), 100000u);

    Reply gz = Fetch(*sim, "xaplist.photo.qzone.qq.com",
                     "/fcgi-bin/cgi_list_photo?hostUin=55555&topicId=A&g_tk=5381");
    EXPECT_EQ(gz.Header("Content-Encoding"), "gzip");
    EXPECT_EQ(Gunzip(gz.body), "<inflate failed>");

    std::string none = RawExchange(sim->Port(), "route.store.qq.com", "/GetRoute?UIN=1", reset);
    EXPECT_TRUE(reset);
    EXPECT_EQ(none.find("idcno"), std::string::npos);
}

TEST(SimFaults, StallKeepsThePartialBody) {
    auto sim = Start(R"([{"match": "GetRoute", "stall_after": 10, "stall_ms": 200}])");
    bool reset = false;
    const std::string got = RawExchange(sim->Port(), "route.store.qq.com", "/GetRoute?UIN=55555", reset);
    ASSERT_NE(got.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4), "{\"idcno\":\"");
}

TEST(SimFaults, GzipPicturesCookiesExtraHeaderAndDrip) {
    auto sim =
        Start(R"([{"match": "/r/", "gzip": true, "set_cookie": true, "header": "Vary: Accept-Encoding, gzip"},
                         {"match": "GetRoute", "drip_ms": 5}])");
    const std::string picture = sim->PictureAddress("p1");
    Reply a = FetchUrl(*sim, picture), b = FetchUrl(*sim, picture);
    EXPECT_EQ(a.Header("Content-Encoding"), "gzip");
    EXPECT_EQ(a.Header("Vary"), "Accept-Encoding, gzip");
    EXPECT_EQ(Gunzip(a.body), sim->PictureBytes("p1"));
    EXPECT_EQ(a.Header("Set-Cookie"), "sim1=1; Max-Age=86400; Path=/");
    EXPECT_EQ(b.Header("Set-Cookie"), "sim2=2; Max-Age=86400; Path=/");

    const auto start = std::chrono::steady_clock::now();
    Reply drip = Fetch(*sim, "route.store.qq.com", "/GetRoute?UIN=55555");
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    ASSERT_GT(drip.body.size(), 10u);
    EXPECT_GE(ms, static_cast<long long>(drip.body.size() - 1) * 5);
}

TEST(SimFaults, ProbabilityIsSeededAndRepeatable) {
    auto pattern = [] {
        auto sim = Start(R"([{"match": "GetRoute", "status": 500, "probability": 0.3, "seed": 42}])");
        std::string fired;
        for (int i = 0; i < 100; ++i) {
            fired += Fetch(*sim, "route.store.qq.com", "/GetRoute?UIN=55555").status == 500 ? '1' : '0';
        }
        return fired;
    };
    const std::string first = pattern();
    EXPECT_EQ(first, pattern());
    const size_t n = Count(first, "1");
    EXPECT_GT(n, 15u);
    EXPECT_LT(n, 45u);
}

TEST(SimLog, RecordsTheRequestAsSent) {
    auto sim = Start("[]");
    Fetch(*sim, "xalist.photo.qzone.qq.com:80",
          "/fcgi-bin/fcg_list_album_v2?hostUin=55555&t=0.5%0A&g_tk=5381", "uin=o0000055555; skey=@abc",
          {{"Referer", "http://user.qzone.qq.com/55555"}});
    Fetch(*sim, "nowhere.example", "/x");
    const auto log = sim->Requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].host, "xalist.photo.qzone.qq.com");
    EXPECT_EQ(log[0].target, "/fcgi-bin/fcg_list_album_v2?hostUin=55555&t=0.5%0A&g_tk=5381");
    EXPECT_EQ(log[0].path, "/fcgi-bin/fcg_list_album_v2");
    EXPECT_EQ(log[0].query, "hostUin=55555&t=0.5%0A&g_tk=5381");
    EXPECT_EQ(log[0].cookies, "uin=o0000055555; skey=@abc");
    EXPECT_EQ(log[0].headers.at("referer"), "http://user.qzone.qq.com/55555");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[1].status, 404);
    sim->ClearRequests();
    EXPECT_TRUE(sim->Requests().empty());
}

}  // namespace
}  // namespace qm::sim::test
