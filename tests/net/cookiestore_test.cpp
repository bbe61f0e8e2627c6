// The cookie store: Netscape lines, matching, persistence, and cookies travelling with fetches.
#include "net/CookieStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#include "TempFolder.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "net/URLSource2.h"
#include "RawServer.h"

using namespace qm;
using qm::test::Answer;
using qm::test::RawConn;
using qm::test::RawServer;
namespace fs = std::filesystem;

namespace {

const int64_t kFuture = static_cast<int64_t>(std::time(nullptr)) + 86400 * 30;

Cookie Make(std::string name, std::string value, std::string domain, bool hostOnly, std::string path = "/",
            int64_t expires = 0) {
    Cookie c;
    c.name = std::move(name);
    c.value = std::move(value);
    c.domain = std::move(domain);
    c.hostOnly = hostOnly;
    c.path = std::move(path);
    c.expires = expires;
    return c;
}

}  // namespace

TEST(CookieLines, FormatAndParseKeepEveryField) {
    Cookie host = Make("skey", "@abc", "user.qzone.qq.com", true, "/", kFuture);
    host.httpOnly = true;
    host.secure = true;
    EXPECT_EQ(FormatNetscapeLine(host),
              "#HttpOnly_user.qzone.qq.com\tFALSE\t/\tTRUE\t" + std::to_string(kFuture) + "\tskey\t@abc");
    Cookie domain = Make("uin", "o0012345", "qq.com", false, "/cgi", 0);
    EXPECT_EQ(FormatNetscapeLine(domain), ".qq.com\tTRUE\t/cgi\tFALSE\t0\tuin\to0012345");

    for (const Cookie& c : {host, domain}) {
        Cookie back;
        ASSERT_TRUE(ParseNetscapeLine(FormatNetscapeLine(c), back));
        EXPECT_EQ(back, c);
    }
    Cookie out;
    EXPECT_FALSE(ParseNetscapeLine("# a comment", out));
    EXPECT_FALSE(ParseNetscapeLine("", out));
    EXPECT_FALSE(ParseNetscapeLine("qq.com\tTRUE\t/", out));
    EXPECT_FALSE(ParseNetscapeLine(".qq.com\tTRUE\t/\tFALSE\tsoon\tname\tv", out));
    // A value may be empty; a leading dot makes a domain cookie whatever the flag says.
    ASSERT_TRUE(ParseNetscapeLine(".QQ.com\tFALSE\t/\tFALSE\t0\tempty\t\r", out));
    EXPECT_EQ(out.domain, "qq.com");
    EXPECT_FALSE(out.hostOnly);
    EXPECT_EQ(out.value, "");
}

// A file as browsers' export extensions write it: comments, #HttpOnly_ lines, CR LF, host-only lines.
TEST(CookieStoreApi, ImportBrowserExportAndHeaderText) {
    CookieStore store;
    const std::string file =
        "# Netscape HTTP Cookie File\r\n"
        "# http://curl.haxx.se/rfc/cookie_spec.html\r\n\r\n"
        ".qq.com\tTRUE\t/\tFALSE\t" +
        std::to_string(kFuture) +
        "\tuin\to0010001\r\n"
        "#HttpOnly_.qzone.qq.com\tTRUE\t/\tFALSE\t0\tp_skey\tPK\r\n"
        "user.qzone.qq.com\tFALSE\t/\tFALSE\t0\tonly\there\r\n"
        "old.qq.com\tTRUE\t/\tFALSE\t1000\tgone\tx\r\n"
        "garbage line\r\n";
    EXPECT_EQ(store.ImportNetscape(file), 4);  // the expired one is read but not kept
    const auto list = store.List();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_TRUE(list[1].httpOnly);
    EXPECT_EQ(list[1].domain, "qzone.qq.com");
    EXPECT_TRUE(list[2].hostOnly);

    EXPECT_EQ(store.ImportHeader(" skey=@k1; p_uin=o0010001 ;junk; =x", ".qq.com"), 2);
    EXPECT_EQ(store.CookieHeaderFor("http://user.qzone.qq.com/10001"),
              "uin=o0010001; p_skey=PK; only=here; skey=@k1; p_uin=o0010001");
    EXPECT_EQ(store.CookieHeaderFor("http://qun.qzone.qq.com/"),
              "uin=o0010001; p_skey=PK; skey=@k1; p_uin=o0010001");

    EXPECT_TRUE(store.Remove("skey", ".qq.com"));
    EXPECT_FALSE(store.Remove("skey", "qq.com"));
    store.Add(Make("uin", "o2", "qq.com", false, "/", kFuture));   // replaces in place
    store.Add(Make("p_skey", "", "qzone.qq.com", false, "/", 5));  // an expiry in the past deletes
    EXPECT_EQ(store.CookieHeaderFor("http://qzone.qq.com/"), "uin=o2; p_uin=o0010001");
}

TEST(CookieStoreApi, MatchingLikeABrowser) {
    CookieStore store;
    store.Add(Make("d", "1", "a.example.test", false));
    store.Add(Make("h", "2", "a.example.test", true));
    store.Add(Make("deep", "3", "a.example.test", false, "/cgi-bin"));
    Cookie s = Make("sec", "4", "a.example.test", false);
    s.secure = true;
    store.Add(s);

    EXPECT_EQ(store.CookieHeaderFor("http://a.example.test/"), "d=1; h=2");
    EXPECT_EQ(store.CookieHeaderFor("https://A.Example.Test:8443/cgi-bin/list?x=1"),
              "deep=3; d=1; h=2; sec=4");
    EXPECT_EQ(store.CookieHeaderFor("http://b.a.example.test/cgi-bin/"), "deep=3; d=1");
    EXPECT_EQ(store.CookieHeaderFor("http://b.a.example.test/cgi-binary"), "d=1");
    EXPECT_EQ(store.CookieHeaderFor("http://xa.example.test/"), "");
    EXPECT_EQ(store.CookieHeaderFor("http://example.test/"), "");
    EXPECT_EQ(store.CookieHeaderFor("not a url"), "");
}

// Persistent cookies go to cookies.txt (mode 0600) after every change; session cookies never do.
TEST(CookieStoreFile, PersistedAndSeenByASecondStore) {
    const qm::test::TempFolder temp("qm-cookies-");
    const fs::path& folder = temp.path();
    int notified = 0;
    {
        CookieStore store;
        EXPECT_TRUE(store.Open(folder));
        store.SetChangeListener([&] { ++notified; });
        store.Add(Make("keep", "v1", "qq.com", false, "/", kFuture));
        store.Add(Make("host", "v2", "user.qzone.qq.com", true, "/", kFuture));
        store.Add(Make("session", "v3", "qq.com", false));
        EXPECT_EQ(notified, 3);
        struct stat st {};
        ASSERT_EQ(::stat((folder / "cookies.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    std::string text;
    ASSERT_TRUE(ReadWholeFile(folder / "cookies.txt", text));
    EXPECT_NE(text.find("user.qzone.qq.com\tFALSE\t"), std::string::npos);
    EXPECT_EQ(text.find("session"), std::string::npos);

    // Another process starting in the same program folder sees them.
    EXPECT_EXIT(
        {
            CookieStore other;
            const bool ok = other.Open(folder) &&
                            other.CookieHeaderFor("http://user.qzone.qq.com/") == "keep=v1; host=v2";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");

    CookieStore second;
    EXPECT_TRUE(second.Open(folder));
    EXPECT_EQ(second.CookieHeaderFor("http://user.qzone.qq.com/"), "keep=v1; host=v2");
    EXPECT_EQ(second.CookieHeaderFor("http://sub.user.qzone.qq.com/"), "keep=v1");  // host-only stays so
    second.Remove("keep", "qq.com");
    CookieStore third;
    third.Open(folder);
    EXPECT_EQ(third.List().size(), 1u);
    size_t files = 0;
    for (auto& e : fs::directory_iterator(folder)) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);  // no temporary file left behind
}

// Bounded by domain and in all, least recently set first; a handle gets only its host's family.
TEST(CookieStoreApi, CapsAndPerHostLists) {
    CookieStore store;
    store.Add(Make("login", "1", "qq.com", false, "/", kFuture));
    for (int i = 0; i < 80; ++i)
        store.Add(Make("c" + std::to_string(i), "v", "p1.pic.test", true, "/", kFuture));
    const auto ofHost = store.ListFor("p1.pic.test");
    EXPECT_EQ(ofHost.size(), kMaxCookiesPerDomain);
    EXPECT_EQ(ofHost.front().name, "c30");                               // the 30 set first were dropped
    store.Add(Make("c30", "again", "p1.pic.test", true, "/", kFuture));  // refreshed: now the newest
    store.Add(Make("c80", "v", "p1.pic.test", true, "/", kFuture));
    EXPECT_EQ(store.ListFor("p1.pic.test").front().name, "c30");
    EXPECT_EQ(store.ListFor("p1.pic.test")[1].name, "c32");

    for (int d = 0; d < 70; ++d)
        for (int i = 0; i < 50; ++i)
            store.Add(Make("x" + std::to_string(i), "v", "h" + std::to_string(d) + ".pic.test", true, "/",
                           kFuture));
    EXPECT_EQ(store.List().size(), kMaxCookies);
    EXPECT_TRUE(store.ListFor("p1.pic.test").empty());  // the oldest domain went first
    EXPECT_EQ(store.ListFor("h69.pic.test").size(), 50u);

    CookieStore small;
    small.Add(Make("dom", "1", "qq.com", false));
    small.Add(Make("host", "2", "user.qzone.qq.com", true));
    small.Add(Make("below", "3", "a.user.qzone.qq.com", true));
    small.Add(Make("sibling", "4", "photo.qzone.qq.com", true));
    small.Add(Make("suffix", "5", "xuser.qzone.qq.com", true));
    std::vector<std::string> names;
    for (const Cookie& c : small.ListFor("USER.qzone.qq.com")) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"dom", "host", "below"}));
}

// Two stores (as two program instances) on one folder, writing at once: nothing either set is lost,
// and a removal by one is not undone by the other.
TEST(CookieStoreFile, TwoWritersMergeInsteadOfOverwriting) {
    const qm::test::TempFolder temp("qm-cookies-");
    const fs::path& folder = temp.path();
    CookieStore a, b;
    ASSERT_TRUE(a.Open(folder));
    ASSERT_TRUE(b.Open(folder));
    a.Add(Make("gone", "1", "qq.com", false, "/", kFuture));
    b.Add(Make("early", "1", "qq.com", false, "/", kFuture));
    a.Remove("gone", "qq.com");
    auto run = [](CookieStore& s, const char* tag) {
        for (int i = 0; i < 150; ++i)
            s.Add(Make(tag + std::to_string(i), "v", std::string(tag) + std::to_string(i % 5) + ".test", true,
                       "/", kFuture));
    };
    std::thread ta(run, std::ref(a), "a"), tb(run, std::ref(b), "b");
    ta.join();
    tb.join();
    EXPECT_FALSE(a.Save().has_value());  // what the pacing still holds back
    EXPECT_FALSE(b.Save().has_value());
    CookieStore third;
    ASSERT_TRUE(third.Open(folder));
    const auto all = third.List();
    EXPECT_EQ(all.size(), 301u);
    EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](const Cookie& c) { return c.name == "gone"; }));
}

// A folder where the file should be, or a folder that cannot be written: errors, never exceptions.
TEST(CookieStoreFile, FolderInPlaceOfTheFileAndUnwritableFolder) {
    const qm::test::TempFolder temp("qm-cookies-");
    const fs::path& folder = temp.path();
    fs::create_directories(folder / "cookies.txt");
    CookieStore store;
    EXPECT_FALSE(store.Open(folder));
    EXPECT_EQ(store.ImportNetscapeFile(folder / "cookies.txt"), -1);
    std::string text;
    EXPECT_FALSE(ReadWholeFile(folder, text));
    store.Add(Make("k", "v", "qq.com", false, "/", kFuture));
    const auto error = store.Save();
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("cookies.txt"), std::string::npos);
}

// Cookies set by answers travel with later requests of the domain and its sub-domains only.
class CookieFetch : public ::testing::Test {
protected:
    void SetUp() override {
        CookieStore::Instance().Clear();
        ASSERT_TRUE(CookieStore::Instance().Open(folder_));
        server_ = std::make_unique<RawServer>([this](RawConn& c) { Handle(c); });
        SetConnectTo("127.0.0.1:" + std::to_string(server_->Port()));
    }
    void TearDown() override {
        SetConnectTo("");
        server_.reset();
        CookieStore::Instance().Clear();
    }
    void Handle(RawConn& c) {
        const std::string t = c.Target();
        std::string set;
        if (t == "/login")
            set =
                "Set-Cookie: dom=D1; Domain=a.example.test; Path=/; Max-Age=3600\r\n"
                "Set-Cookie: hostonly=H1; Path=/\r\n"
                "Set-Cookie: sess=S1; Domain=a.example.test\r\n";
        else if (t == "/logout")
            set = "Set-Cookie: dom=; Domain=a.example.test; Path=/; Max-Age=0\r\n";
        else if (t == "/deep/er/set")
            set = "Set-Cookie: deep=1; Max-Age=3600\r\nSet-Cookie: top=1; Path=/; Max-Age=3600\r\n";
        else if (t == "/deep/er/unset?x=/y/")
            set =
                "Set-Cookie: deep=; Expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"
                "Set-Cookie: top=; Domain=b.example.test; Path=/; Max-Age=0\r\n";
        else if (t == "/hop")
            return (void)c.Send(Answer(
                "", "Location: http://b.a.example.test/seen\r\nSet-Cookie: hop=1; Domain=a.example.test\r\n",
                "HTTP/1.1 302 Found"));
        c.Send(Answer("[" + c.Header("Cookie") + "]", set));
    }
    // The Cookie header the server saw, its pairs sorted (the order on the wire carries no meaning).
    std::string Fetch(const std::string& url) {
        ST_URLREQUEST req(FromUtf8(url), {}, 3000);
        ST_URLRESPONSE resp;
        EXPECT_TRUE(FetchOnce(resp, req, 0)) << url;
        std::string_view body = resp.body;
        if (body.size() < 2) return resp.body;
        body = body.substr(1, body.size() - 2);
        std::vector<std::string> pairs;
        while (!body.empty()) {
            const size_t semi = body.find("; ");
            pairs.emplace_back(body.substr(0, semi));
            body = semi == std::string_view::npos ? std::string_view{} : body.substr(semi + 2);
        }
        std::sort(pairs.begin(), pairs.end());
        std::string out = "[";
        for (const auto& p : pairs) out += (out.size() > 1 ? "; " : "") + p;
        return out + "]";
    }
    qm::test::TempFolder temp_{"qm-cookies-"};
    const fs::path& folder_ = temp_.path();
    std::unique_ptr<RawServer> server_;
};

TEST_F(CookieFetch, SetByAnswerSentToDomainAndSubDomainsOnly) {
    EXPECT_EQ(Fetch("http://a.example.test/login"), "[]");
    EXPECT_EQ(Fetch("http://a.example.test/x"), "[dom=D1; hostonly=H1; sess=S1]");
    EXPECT_EQ(Fetch("http://b.a.example.test/x"), "[dom=D1; sess=S1]");
    EXPECT_EQ(Fetch("http://xa.example.test/x"), "[]");
    EXPECT_EQ(Fetch("http://example.test/x"), "[]");
    EXPECT_EQ(ToUtf8(GetUrlCookie(u"http://b.a.example.test/any/path")), "dom=D1; sess=S1");

    // Persisted: the host-only cookie as a FALSE line, the session cookie not at all.
    std::string text;
    ASSERT_FALSE(CookieStore::Instance().Save().has_value());  // changes close together are paced
    ASSERT_TRUE(ReadWholeFile(folder_ / "cookies.txt", text));
    EXPECT_NE(text.find(".a.example.test\tTRUE\t/\tFALSE\t"), std::string::npos);
    EXPECT_EQ(text.find("hostonly"), std::string::npos);  // a session cookie
    EXPECT_EQ(text.find("sess"), std::string::npos);
    CookieStore second;
    second.Open(folder_);
    EXPECT_EQ(second.CookieHeaderFor("http://b.a.example.test/"), "dom=D1");

    // An answer that deletes a cookie removes it from the store and the file.
    Fetch("http://a.example.test/logout");
    EXPECT_EQ(Fetch("http://a.example.test/x"), "[hostonly=H1; sess=S1]");
    ASSERT_FALSE(CookieStore::Instance().Save().has_value());  // changes close together are paced
    ASSERT_TRUE(ReadWholeFile(folder_ / "cookies.txt", text));
    EXPECT_EQ(text.find("dom\t"), std::string::npos);
}

// A deleting answer names its cookie by domain, path and name: a cookie set without a Path lives
// in the request's folder and is deleted from there; a domain the host may not touch is left alone.
TEST_F(CookieFetch, DeletionsFindTheCookieTheyName) {
    Fetch("http://a.example.test/deep/er/set");
    CookieStore::Instance().Add(Make("top", "keep", "b.example.test", false));
    EXPECT_EQ(Fetch("http://a.example.test/deep/er/x"), "[deep=1; top=1]");
    EXPECT_EQ(Fetch("http://a.example.test/deep/other"), "[top=1]");
    Fetch("http://a.example.test/deep/er/unset?x=/y/");
    EXPECT_EQ(Fetch("http://a.example.test/deep/er/x"), "[top=1]");
    EXPECT_EQ(ToUtf8(GetUrlCookie(u"http://b.example.test/")), "top=keep");
}

TEST_F(CookieFetch, CookiesAddedFromOutsideAreSentAndRedirectsCarryThem) {
    CookieStore::Instance().Add(Make("skey", "@K", "example.test", false));
    CookieStore::Instance().Add(Make("only", "1", "b.a.example.test", true));
    EXPECT_EQ(Fetch("http://a.example.test/x"), "[skey=@K]");
    // The cookie set by the redirecting answer is sent on the next hop and kept.
    EXPECT_EQ(Fetch("http://a.example.test/hop"), "[hop=1; only=1; skey=@K]");
    EXPECT_EQ(ToUtf8(GetUrlCookie(u"http://a.example.test/")), "skey=@K; hop=1");
}

// Cookies as large as browsers allow, one more from every answer, never make later requests too
// large to be answered: the Cookie header stays within its bound (the least recently set left out,
// said with -v), and a cookie larger than a browser takes is refused.
TEST(CookieBounds, LargeCookiesNeverPoisonLaterRequests) {
    CookieStore& store = CookieStore::Instance();
    store.Clear();
    std::atomic<size_t> longest{0};
    std::atomic<int> served{0};
    std::mutex lastMutex;
    std::string last;
    RawServer server([&](RawConn& c) {
        const std::string seen = c.Header("Cookie");
        longest = std::max(longest.load(), seen.size());
        {
            std::lock_guard lock(lastMutex);
            last = seen;
        }
        const int n = served++;
        c.Send(Answer("ok", "Set-Cookie: big" + std::to_string(n) + "=" + std::string(4000, 'v') +
                                "; Max-Age=2592000\r\n"));
    });
    SetTraceEnabled(true);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 21; ++i) {
        ST_URLREQUEST req(FromUtf8(server.Url("/p")), {}, 3000);
        ST_URLRESPONSE resp;
        ASSERT_TRUE(FetchOnce(resp, req, 0));
    }
    const std::string trace = ::testing::internal::GetCapturedStderr();
    SetTraceEnabled(false);
    EXPECT_GE(store.List().size(), 20u);  // the store keeps them; only what a request carries is bounded
    EXPECT_LE(longest.load(), kMaxCookieHeader);
    {
        std::lock_guard lock(lastMutex);
        EXPECT_NE(last.find("big19="), std::string::npos);  // the most recently set go along
        EXPECT_EQ(last.find("big0="), std::string::npos);
    }
    EXPECT_NE(trace.find("left out of the Cookie header"), std::string::npos) << trace;

    store.Clear();
    store.Add(Make("n", std::string(kMaxCookieBytes - 1, 'v'), "qq.com", false));
    store.Add(Make("nn", std::string(kMaxCookieBytes - 1, 'v'), "qq.com", false));
    ASSERT_EQ(store.List().size(), 1u);
    EXPECT_EQ(store.List()[0].name, "n");
    store.Clear();
}

// An import says what became of every cookie: kept, over the limits, too large, expired, repeated.
TEST(CookieBounds, ImportReportsWhatWasKeptAndWhy) {
    CookieStore store;
    std::vector<Cookie> batch;
    for (int i = 0; i < 60; ++i) batch.push_back(Make("c" + std::to_string(i), "v", "qq.com", false, "/", kFuture));
    batch.push_back(Make("c59", "again", "qq.com", false, "/", kFuture));  // repeats the last one
    batch.push_back(Make("huge", std::string(5000, 'v'), "qq.com", false, "/", kFuture));
    batch.push_back(Make("old", "v", "qq.com", false, "/", 1000));
    batch.push_back(Make("", "v", "qq.com", false, "/", kFuture));
    const CookieAddReport r = store.AddAll(batch);
    EXPECT_EQ(r.kept, kMaxCookiesPerDomain);
    EXPECT_EQ(r.overLimit, 60 - kMaxCookiesPerDomain);
    EXPECT_EQ(r.replaced, 1u);
    EXPECT_EQ(r.tooLarge, 1u);
    EXPECT_EQ(r.expired, 1u);
    EXPECT_EQ(r.invalid, 1u);
    EXPECT_EQ(store.List().size(), kMaxCookiesPerDomain);
    EXPECT_NE(store.CookieHeaderFor("http://qq.com/").find("c59=again"), std::string::npos);  // the last one counts
}
