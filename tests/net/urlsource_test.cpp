// The HTTP client against a raw loopback server that writes exactly the bytes each test gives it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "TempFolder.h"
#include "net/FileUtil.h"
#include "net/Clock.h"
#include "net/URLSource2.h"
#include "RawServer.h"
#include "FileText.h"

using namespace qm;
using qm::test::Answer;
using qm::test::RawConn;
using qm::test::RawServer;
namespace fs = std::filesystem;

namespace {

Text T(std::string_view s) {
    return FromUtf8(s);
}

ST_URLREQUEST Request(const RawServer& server, std::string_view path = "/", int waitMs = 3000) {
    ST_URLREQUEST req(T(server.Url(path)), {}, waitMs);
    return req;
}

// One temporary folder per test, named after this file.
class TempDir : public test::TempFolder {
public:
    TempDir() : TempFolder("qm-urlsource-") {}
};

}  // namespace

// Limits from an exact "Content-Length:" label are checked before the body is taken; exact sizes pass.
TEST(UrlSourceLimits, ExactLengthLabelBoundaries) {
    RawServer server([](RawConn& c) {
        const std::string t = c.Target();
        const size_t n = std::stoul(t.substr(1));
        c.Send(Answer(std::string(n, 'x')));
    });
    struct Case {
        size_t bytes;
        uint32_t minKB, maxKB;
        bool ok;
    } cases[] = {{1024, 0, 1, true},  {1025, 0, 1, false}, {1024, 1, 0, true},
                 {1023, 1, 0, false}, {2048, 1, 2, true},  {0, 0, 0, true}};
    for (const Case& k : cases) {
        ST_URLREQUEST req = Request(server, "/" + std::to_string(k.bytes));
        req.minKB = k.minKB;
        req.maxKB = k.maxKB;
        ST_URLRESPONSE resp;
        resp.body = "stale";
        EXPECT_EQ(FetchOnce(resp, req, 0), k.ok)
            << k.bytes << " bytes, min " << k.minKB << " max " << k.maxKB;
        // A refusal from the label comes before any body byte is taken.
        EXPECT_EQ(resp.body.size(), k.ok ? k.bytes : 0u) << k.bytes;
        EXPECT_EQ(resp.status, 200);
    }
}

// A lower-case label is not looked at early, but the limits still hold while and after reading.
TEST(UrlSourceLimits, LowerCaseLabelCheckedOnlyByReading) {
    RawServer server([](RawConn& c) {
        const size_t n = std::stoul(c.Target().substr(1));
        c.Send("HTTP/1.1 200 OK\r\ncontent-length: " + std::to_string(n) + "\r\n\r\n" + std::string(n, 'y'));
    });
    {
        ST_URLREQUEST req = Request(server, "/5000");
        req.maxKB = 1;
        ST_URLRESPONSE resp;
        EXPECT_FALSE(FetchOnce(resp, req, 0));
        EXPECT_GT(resp.body.size(), 1024u);  // reading began and stopped past the limit
        EXPECT_LE(resp.body.size(), 5000u);
    }
    {
        ST_URLREQUEST req = Request(server, "/1000");
        req.minKB = 1;
        ST_URLRESPONSE resp;
        EXPECT_FALSE(FetchOnce(resp, req, 0));
        EXPECT_EQ(resp.body.size(), 1000u);  // read whole, refused at the end
    }
    {
        ST_URLREQUEST req = Request(server, "/1024");
        req.minKB = 1;
        req.maxKB = 1;
        ST_URLRESPONSE resp;
        EXPECT_TRUE(FetchOnce(resp, req, 0));
    }
}

// A body without any length (ended by closing) is cut as soon as it passes the maximum.
TEST(UrlSourceLimits, UnlabelledBodyCutAtMaximum) {
    RawServer server([](RawConn& c) {
        c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        for (int i = 0; i < 50 && c.Send(std::string(1000, 'z')); ++i) c.Pause(5);
    });
    ST_URLREQUEST req = Request(server);
    req.maxKB = 2;
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_GT(resp.body.size(), 2048u);
    EXPECT_LT(resp.body.size(), 50000u);
}

// A page that never ends fails cleanly at the in-memory cap instead of exhausting memory; a label
// above the cap is refused before any byte is taken.
TEST(UrlSourceLimits, TextAnswersCappedInMemory) {
    RawServer server([](RawConn& c) {
        if (c.Target() == "/labelled") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kMaxBodyInMemory + 1) + "\r\n\r\n");
            return;
        }
        c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const std::string mib(1 << 20, 'x');
        for (uint64_t sent = 0; sent < kMaxBodyInMemory + (8 << 20) && c.Send(mib); sent += mib.size()) {
        }
    });
    ST_URLREQUEST req = Request(server, "/endless");
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::SizeLimit);
    EXPECT_LE(resp.body.size(), kMaxBodyInMemory);
    req.url = T(server.Url("/labelled"));
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.failure.kind, FailureKind::SizeLimit);
    EXPECT_TRUE(resp.body.empty());
}

// FetchUrl refuses an empty body even when the limits allow it, retries, and pauses after each try.
TEST(UrlSourceAttempts, EmptyBodyRefusedAndRetried) {
    RawServer server([](RawConn& c) { c.Send(Answer("")); });
    ST_URLREQUEST req = Request(server);
    req.attempts = 3;
    req.pauseSeconds = 0;
    ST_URLRESPONSE resp;
    EXPECT_TRUE(FetchOnce(resp, req, 0));  // one attempt by itself succeeds
    EXPECT_FALSE(FetchUrl(req, resp, 0));
    EXPECT_EQ(server.Requests().size(), 4u);

    req.attempts = 0;
    EXPECT_FALSE(FetchUrl(req, resp, 0));
    EXPECT_EQ(server.Requests().size(), 4u);  // no request at all
}

TEST(UrlSourceAttempts, SecondAttemptAccepted) {
    std::atomic<int> n{0};
    RawServer server([&](RawConn& c) { c.Send(Answer(n++ == 0 ? "" : "second")); });
    ST_URLREQUEST req = Request(server);
    req.attempts = 2;
    req.pauseSeconds = 0;
    ST_URLRESPONSE resp;
    EXPECT_TRUE(FetchUrl(req, resp, 0));
    EXPECT_EQ(resp.body, "second");
}

// A server that accepts and never answers: each attempt ends at its wait, each followed by a pause.
TEST(UrlSourceAttempts, SilentServerTimesOutTwiceWithPauses) {
    RawServer server([](RawConn& c) { c.Hold(); });
    ST_URLREQUEST req = Request(server, "/", 1000);
    req.attempts = 2;
    req.pauseSeconds = 1;
    ManualClock pauses;  // the pauses between attempts go on the request's clock
    req.clock = &pauses;
    ST_URLRESPONSE resp;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(FetchUrl(req, resp, 0));
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(pauses.Slept(), std::chrono::seconds(2));  // a pause of 1 s after each attempt
    EXPECT_GE(secs, 1.8);  // the two read waits of 1 s are real: a silent server is given its time
    EXPECT_TRUE(resp.body.empty());
}

TEST(UrlSourceAttempts, ConnectionRefused) {
    ST_URLREQUEST req(T("http://127.0.0.1:" + std::to_string(RawServer::UnusedPort()) + "/x"), {}, 2000);
    ST_URLRESPONSE resp;
    resp.headers = u"previous";
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.headers, u"previous");  // never got as far as an answer
    EXPECT_EQ(resp.status, 0);
}

// A stall after some bytes fails the fetch and keeps the partial body; an old file stays intact.
TEST(UrlSourceWaits, StallKeepsPartialBodyAndOldFile) {
    RawServer server([](RawConn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'p'));
        c.Hold();
    });
    TempDir dir;
    const fs::path file = dir.path() / "pic.jpg";
    WriteFileAtomic(file, "old picture");
    ST_URLREQUEST req = Request(server, "/", 5000);
    req.readWaitMs = 500;
    req.savePath = TextFromPath(file);
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, std::string(300, 'p'));
    EXPECT_EQ(qm::test::FileText(file), "old picture");
    EXPECT_EQ(dir.Names().size(), 1u);
}

// A slow but steady body is never cut, even when it takes much longer than the read wait.
TEST(UrlSourceWaits, SlowSteadyBodyNotCut) {
    RawServer server([](RawConn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
        for (int i = 0; i < 10; ++i) {
            c.Pause(150);
            c.Send("s");
        }
    });
    ST_URLREQUEST req = Request(server, "/", 5000);
    req.readWaitMs = 600;
    ST_URLRESPONSE resp;
    EXPECT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, "ssssssssss");
}

// Headers that begin but never end count against the step wait.
TEST(UrlSourceWaits, HeadersThatNeverEnd) {
    RawServer server([](RawConn& c) {
        c.Send("HTTP/1.1 200 OK\r\nX-Half: ");
        c.Hold();
    });
    ST_URLREQUEST req = Request(server, "/", 700);
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
}

TEST(UrlSourceWaits, ResetMidBody) {
    RawServer server([](RawConn& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + std::string(100, 'r'));
        c.Pause(100);
        c.Reset();
    });
    ST_URLREQUEST req = Request(server);
    ST_URLRESPONSE resp;
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, std::string(100, 'r'));
}

// Error pages are text like any other answer, but never become a saved picture.
TEST(UrlSourceAnswers, NotFoundPageReturnedButNotSaved) {
    RawServer server([](RawConn& c) { c.Send(Answer("<h1>gone</h1>", {}, "HTTP/1.1 404 Not Found")); });
    ST_URLREQUEST req = Request(server);
    ST_URLRESPONSE resp;
    EXPECT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, "<h1>gone</h1>");
    EXPECT_EQ(resp.status, 404);

    TempDir dir;
    req.savePath = TextFromPath(dir.path() / "a.jpg");
    req.attempts = 2;
    req.pauseSeconds = 0;
    EXPECT_FALSE(FetchUrl(req, resp, 0));
    EXPECT_EQ(resp.body, "<h1>gone</h1>");
    EXPECT_TRUE(dir.Names().empty());
}

// Bodies are handed over as received; only the header block decides the gzip flag.
TEST(UrlSourceAnswers, CompressedBodiesNotDecoded) {
    const std::string deflated("\x78\x9c\x4b\x4c\x4a\x06\x00\x02\x4d\x01\x27", 11);
    const std::string gzipped(
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x4b\x4c\x4a\x06\x00\xc2\x41\x24\x35\x03\x00\x00\x00", 23);
    RawServer server([&](RawConn& c) {
        if (c.Target() == "/deflate")
            c.Send(Answer(deflated, "Content-Encoding: deflate\r\n"));
        else
            c.Send(Answer(gzipped, "Content-Encoding: gzip\r\n"));
    });
    ST_URLREQUEST req = Request(server, "/deflate");
    req.headers = u"Accept-Encoding: gzip, deflate";
    ST_URLRESPONSE resp;
    ASSERT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, deflated);
    EXPECT_FALSE(resp.gzip);

    req.url = T(server.Url("/gzip"));
    ASSERT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, gzipped);
    EXPECT_TRUE(resp.gzip);
    std::string inflated;
    InflateGzip(resp.body.data(), resp.body.size(), inflated);
    EXPECT_EQ(inflated, "abc");
}

// After a redirect the header block and status are those of the final answer, CR LF separated.
TEST(UrlSourceAnswers, RedirectFollowedWithFinalHeaderBlock) {
    RawServer server([](RawConn& c) {
        if (c.Target() == "/start")
            c.Send(Answer("moved", "Location: /end\r\nX-First: 1\r\n", "HTTP/1.1 302 Found"));
        else
            c.Send("HTTP/1.1 200 OK\nX-Final: yes\nContent-Length: 4\n\nDONE");  // bare LF line ends
    });
    ST_URLREQUEST req = Request(server, "/start");
    ST_URLRESPONSE resp;
    ASSERT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, "DONE");
    EXPECT_EQ(resp.status, 200);
    EXPECT_EQ(resp.headers, u"HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 4\r\n\r\n");
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[1].rfind("GET /end HTTP/1.1\r\n", 0), 0u);
}

// What goes on the wire: the agent value, the caller's header lines, and an encoded address.
TEST(UrlSourceRequest, WireFormOfTheRequest) {
    std::string target, agent, referer, accept;
    RawServer server([&](RawConn& c) {
        target = c.Target();
        agent = c.Header("User-Agent");
        referer = c.Header("Referer");
        accept = c.Header("Accept-Encoding");
        c.Send(Answer("ok"));
    });
    ST_URLREQUEST req(T(server.Url("/list a?t=相册&r=0.25\n")), {}, 3000);
    req.headers = u"Accept-Encoding: gzip, deflate\r\nReferer: http://user.qzone.qq.com/10001\r\n";
    ST_URLRESPONSE resp;
    ASSERT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(target, "/list%20a?t=%E7%9B%B8%E5%86%8C&r=0.25%0A");
    EXPECT_EQ(agent, kUserAgent);
    EXPECT_EQ(agent.find("User-Agent"), std::string::npos);
    EXPECT_EQ(referer, "http://user.qzone.qq.com/10001");
    EXPECT_EQ(accept, "gzip, deflate");

    req.url = u"ftp://127.0.0.1/x";
    EXPECT_FALSE(FetchOnce(resp, req, 0));
    req.url = u"not an address";
    EXPECT_FALSE(FetchOnce(resp, req, 0));
}

// Saving: a deep path of more than 260 characters is written whole; no temporary file remains.
TEST(UrlSourceSave, LongPathWritten) {
    const std::string body(70000, 'j');
    RawServer server([&](RawConn& c) { c.Send(Answer(body)); });
    TempDir dir;
    fs::path folder = dir.path();
    while (folder.string().size() < 300) folder /= std::string(60, 'd');
    fs::create_directories(folder);
    const fs::path file = folder / (std::string(100, 'f') + ".jpg");
    ASSERT_GT(file.string().size(), 260u);
    ST_URLREQUEST req = Request(server);
    req.savePath = TextFromPath(file);
    ST_URLRESPONSE resp;
    ASSERT_TRUE(FetchUrl(req, resp, 3));
    EXPECT_EQ(qm::test::FileText(file), body);
    EXPECT_EQ(resp.body, body);
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(folder)) entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1u);
}

// A picture that cannot be written is a failed fetch; the client never creates folders.
TEST(UrlSourceSave, UnwritableTargetFails) {
    RawServer server([](RawConn& c) { c.Send(Answer("picture")); });
    TempDir dir;
    ST_URLREQUEST req = Request(server);
    req.attempts = 1;
    req.pauseSeconds = 0;
    ST_URLRESPONSE resp;
    req.savePath = TextFromPath(dir.path() / "missing" / "a.jpg");
    EXPECT_FALSE(FetchUrl(req, resp, 3));
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));
    WriteFileAtomic(dir.path() / "plainfile", "x");
    req.savePath = TextFromPath(dir.path() / "plainfile" / "a.jpg");
    EXPECT_FALSE(FetchUrl(req, resp, 3));
    EXPECT_EQ(resp.body, "picture");  // the body stays in the response
}

TEST(UrlSourceConnectTo, RoutesNamedHostsAndKeepsTheHostHeader) {
    std::string host;
    RawServer server([&](RawConn& c) {
        host = c.Header("Host");
        c.Send(Answer("routed"));
    });
    ST_URLRESPONSE resp;
    ST_URLREQUEST req(u"http://photo.example.test/p.jpg", {}, 3000);

    SetConnectTo("127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(host, "photo.example.test");

    // The list form: only the named host is routed, first match wins.
    SetConnectTo("other.example.test:80:127.0.0.1:1, photo.example.test:80:127.0.0.1:" +
                 std::to_string(server.Port()) + ",photo.example.test:80:127.0.0.1:2");
    EXPECT_TRUE(FetchOnce(resp, req, 0));
    EXPECT_EQ(resp.body, "routed");
    SetConnectTo("");
}
