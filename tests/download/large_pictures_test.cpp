// Workers with pictures large enough to be written to their files as they arrive: the alternate
// address is still chosen by the size of the first answer, not by what stayed in memory.
#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <mutex>
#include <thread>

#include "LoopbackServer.h"
#include "support/EngineFixture.h"

namespace qm::test {
namespace {

std::string Big(char fill) {
    std::string s(1536 * 1024, fill);
    s[0] = '\xFF';
    s[1] = '\xD8';
    return s;
}

TEST(LargePictures, AlternateOnlyWhenTheFirstAnswerWasEmpty) {
    LoopbackServer server;
    httplib::Server& svr = server.Http();
    svr.new_task_queue = [] { return new httplib::ThreadPool(8); };
    std::mutex m;
    std::map<std::string, int> hits;
    svr.Get(R"(/.*)", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> l(m);
            ++hits[req.path];
        }
        if (req.path == "/empty") return res.set_content("", "image/jpeg");
        res.set_content(Big(req.path.find("alt") != std::string::npos ? 'a' : 'm'), "image/jpeg");
    });
    ASSERT_NE(server.Start(), 0);
    const Text base = FromUtf8(server.Url(""));

    Engine e;
    auto queue = [&](const Text& entry, const Text& name) { e.Queue(entry, name); };
    queue(base + u"/main/1\r\n" + base + u"/alt/1", u"1.jpg");
    queue(base + u"/main/2\r\n" + base + u"/x.topit.me/alt/2", u"2.jpg");
    queue(base + u"/empty\r\n" + base + u"/alt/3", u"3.jpg");
    e.st.worker.ThreadCount.store(3);
    std::thread manager;
    ASSERT_TRUE(StartDownloadManager(e.st, manager));
    manager.join();
    server.Stop();

    auto saved = [&](const Text& name) { return FileText(PathFromText(e.base + name)); };
    EXPECT_TRUE(saved(u"1.jpg") == Big('m'));
    EXPECT_TRUE(saved(u"2.jpg") == Big('m'));
    EXPECT_TRUE(saved(u"3.jpg") == Big('a'));
    EXPECT_EQ(hits["/alt/1"], 0);
    EXPECT_EQ(hits["/x.topit.me/alt/2"], 0);
    EXPECT_EQ(hits["/alt/3"], 1);
    EXPECT_EQ(e.st.Finished.load(), 3u);
    ASSERT_EQ(e.st.outcomes.size(), 3u);
    EXPECT_FALSE(e.st.outcomes[0].usedAlternate);
    EXPECT_FALSE(e.st.outcomes[1].usedAlternate);
    EXPECT_TRUE(e.st.outcomes[2].usedAlternate);
    // The report names the address the bytes came from.
    const auto reported = e.obs.Pictures();
    ASSERT_EQ(reported.size(), 3u);
    for (const PictureOutcome& p : reported)
        EXPECT_EQ(p.address, base + (p.index == 2 ? u"/alt/3" : p.index == 1 ? u"/main/2" : u"/main/1"));
    for (const PictureOutcome& o : e.st.outcomes) {
        EXPECT_EQ(o.status, PictureStatus::Saved);
        EXPECT_EQ(o.bytes, Big('m').size());
    }
}

}  // namespace
}  // namespace qm::test
