// Saving large pictures: the body goes into a temporary file as it arrives and is put under its name
// only when the whole answer was accepted. Whatever fails on the way leaves neither the picture nor
// a temporary file, and an old file of the same name keeps its content.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "RawServer.h"
#include "FileText.h"

using namespace qm;
using qm::test::Answer;
using qm::test::RawConn;
using qm::test::RawServer;
namespace fs = std::filesystem;

namespace {

// One temporary folder per test, named after this file.
class Folder : public test::TempFolder {
public:
    Folder() : TempFolder("qm-streamed-") {}
};

// Bytes that no step on the way could shrink or mistake for text.
std::string Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

std::string Gzip(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Chunked(const std::string& body) {
    std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += 50000) {
        const std::string piece = body.substr(at, 50000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

ST_URLREQUEST SaveRequest(const RawServer& server, const fs::path& file, std::string_view path = "/") {
    ST_URLREQUEST req(FromUtf8(server.Url(path)), {}, 3000);
    req.savePath = TextFromPath(file);
    req.pauseSeconds = 0;
    return req;
}

}  // namespace

// Large pictures, with or without a length label, arrive whole in the file; the response counts
// their bytes without holding them, and no temporary file remains.
TEST(StreamedSave, LargePicturesSavedWhole) {
    const std::string picture = Noise(3 * 1024 * 1024 + 17, 1);
    RawServer server(
        [&](RawConn& c) { c.Send(c.Target() == "/chunked" ? Chunked(picture) : Answer(picture)); });
    for (const char* path : {"/labelled", "/chunked"}) {
        Folder dir;
        const fs::path file = dir.path() / "pic.jpg";
        ST_URLREQUEST req = SaveRequest(server, file, path);
        req.maxKB = 4096;
        ST_URLRESPONSE resp;
        ASSERT_TRUE(FetchUrl(req, resp, 3)) << path;
        EXPECT_TRUE(qm::test::FileText(file) == picture) << path;
        EXPECT_EQ(resp.bodySize, picture.size()) << path;
        EXPECT_TRUE(resp.body.empty()) << path;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"pic.jpg"}) << path;
    }
}

// Every way a large answer can fail midway leaves the old picture as it was and no temporary file.
TEST(StreamedSave, FailureMidwayLeavesOldFileAndNoTemporary) {
    const std::string picture = Noise(2 * 1024 * 1024, 2);
    RawServer server([&](RawConn& c) {
        const std::string t = c.Target();
        if (t == "/reset") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(picture.size()) + "\r\n\r\n" +
                   picture.substr(0, 700 * 1024));
            c.Pause(100);
            c.Reset();
        } else if (t == "/stall") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(picture.size()) + "\r\n\r\n" +
                   picture.substr(0, 700 * 1024));
            c.Hold();
        } else if (t == "/short-close") {
            // A label that promises more than the connection delivers before it closes.
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(picture.size()) +
                   "\r\nConnection: close\r\n\r\n" + picture.substr(0, 900 * 1024));
        } else {
            c.Send(Chunked(picture));  // no label: only the limits while reading can stop it
        }
    });
    struct Case {
        const char* path;
        uint32_t minKB, maxKB;
    } cases[] = {{"/reset", 0, 0},
                 {"/stall", 0, 0},
                 {"/short-close", 0, 0},
                 {"/over-max", 0, 1024},
                 {"/under-min", 4096, 0}};
    for (const Case& k : cases) {
        Folder dir;
        const fs::path file = dir.path() / "pic.jpg";
        WriteFileAtomic(file, "old picture");
        ST_URLREQUEST req = SaveRequest(server, file, k.path);
        req.readWaitMs = 500;
        req.minKB = k.minKB;
        req.maxKB = k.maxKB;
        ST_URLRESPONSE resp;
        EXPECT_FALSE(FetchOnce(resp, req, 3)) << k.path;
        EXPECT_GT(resp.bodySize, 128u * 1024) << k.path;  // far enough to have been streaming
        EXPECT_EQ(qm::test::FileText(file), "old picture") << k.path;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"pic.jpg"}) << k.path;
    }
}

// Answers that must not become a picture are kept in memory for the caller and never saved: an
// error page, however large; a compressed picture is inflated first; an empty body writes nothing.
TEST(StreamedSave, AnswersKeptInMemory) {
    const std::string page = Noise(400 * 1024, 3);
    const std::string picture = Noise(600 * 1024, 4);
    const std::string packed = Gzip(picture);
    RawServer server([&](RawConn& c) {
        const std::string t = c.Target();
        if (t == "/error")
            c.Send(Answer(page, {}, "HTTP/1.1 500 Internal Server Error"));
        else if (t == "/gzip")
            c.Send(Answer(packed, "Content-Encoding: gzip\r\n"));
        else
            c.Send(Answer(""));
    });

    Folder dir;
    const fs::path file = dir.path() / "pic.jpg";
    ST_URLRESPONSE resp;
    ST_URLREQUEST req = SaveRequest(server, file, "/error");
    EXPECT_FALSE(FetchOnce(resp, req, 3));
    EXPECT_TRUE(resp.body == page);
    EXPECT_TRUE(dir.Names().empty());

    req = SaveRequest(server, file, "/gzip");
    ASSERT_TRUE(FetchOnce(resp, req, 3));
    EXPECT_TRUE(resp.gzip);
    EXPECT_TRUE(qm::test::FileText(file) == picture);
    EXPECT_EQ(resp.bodySize, packed.size());
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"pic.jpg"});

    // An empty answer neither creates a picture nor empties the one already there.
    req = SaveRequest(server, file, "/empty");
    EXPECT_FALSE(FetchOnce(resp, req, 3));
    EXPECT_EQ(resp.bodySize, 0u);
    EXPECT_TRUE(qm::test::FileText(file) == picture);
    fs::remove(file);
    req.attempts = 2;
    EXPECT_FALSE(FetchUrl(req, resp, 3));
    EXPECT_TRUE(dir.Names().empty());
}

// The writer behind every save: nothing shows under the final name before Commit, an abandoned
// writer removes its temporary file, and a commit replaces the old file (with or without a flush).
TEST(AtomicFileWriter, CommitOrNothing) {
    Folder dir;
    const fs::path file = dir.path() / "data.bin";
    WriteFileAtomic(file, "old");
    {
        AtomicFileWriter w(file);
        ASSERT_TRUE(w.Open());
        ASSERT_TRUE(w.Write("half of it"));
        EXPECT_EQ(qm::test::FileText(file), "old");
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"data.bin"});
    EXPECT_EQ(qm::test::FileText(file), "old");

    for (bool durable : {false, true}) {
        AtomicFileWriter w(file, 0600);
        ASSERT_TRUE(w.Open());
        ASSERT_TRUE(w.Write("new ") && w.Write(durable ? "durable" : "quick"));
        ASSERT_TRUE(w.Commit(durable));
        EXPECT_EQ(qm::test::FileText(file), durable ? "new durable" : "new quick");
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"data.bin"});
    }

    // A new name, and a folder that does not exist: nothing can be opened, written or committed.
    const fs::path fresh = dir.path() / "fresh.bin";
    ASSERT_TRUE(WriteFileAtomic(fresh, "first", 0, false));
    EXPECT_EQ(qm::test::FileText(fresh), "first");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"data.bin", "fresh.bin"}));
    AtomicFileWriter missing(dir.path() / "no" / "x.bin");
    EXPECT_FALSE(missing.Open());
    EXPECT_FALSE(missing.Write("x"));
    EXPECT_FALSE(missing.Commit(false));
    EXPECT_FALSE(fs::exists(dir.path() / "no"));
}

// Writes through a held folder: the digest is of exactly the bytes written, a name that is not one
// plain component is refused, and of the temporaries in the folder only those of processes no
// longer running are removed (a second download into the same folder keeps its own).
TEST(AtomicFileWriter, HeldFolderDigestAndLeftovers) {
    Folder dir;
    const auto folder = HeldFolder::Open(dir.path());
    ASSERT_TRUE(folder);
    AtomicFileWriter w(*folder, "p.jpg");
    w.TakeDigest();
    ASSERT_TRUE(w.Open() && w.Write("ab") && w.Write("c") && w.Commit(false));
    EXPECT_EQ(w.DigestHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(w.Written(), 3u);
    EXPECT_EQ(qm::test::FileText(dir.path() / "p.jpg"), "abc");
    for (const char* bad : {"../x.jpg", "a/b.jpg", "", ".."}) {
        AtomicFileWriter refused(*folder, bad);
        EXPECT_FALSE(refused.Open()) << bad;
    }

    const std::string dead = ".qm-99999999-3.tmp";
    const std::string live = ".qm-" + std::to_string(::getppid()) + "-1.tmp";
    const std::string own = ".qm-" + std::to_string(::getpid()) + "-900.tmp";
    for (const std::string& n : {dead, live, own, std::string(".qm-x-1.tmp"), std::string("a.qm-1-1.tmp")})
        WriteFileAtomic(dir.path() / n, "half");
    EXPECT_EQ(RemoveLeftoverTemporaries(*folder), 1u);
    EXPECT_FALSE(fs::exists(dir.path() / dead));
    EXPECT_TRUE(fs::exists(dir.path() / live));
    EXPECT_TRUE(fs::exists(dir.path() / own));
    EXPECT_TRUE(fs::exists(dir.path() / ".qm-x-1.tmp"));
}

// The writers of one album share its held folder from several threads, and take turns on its names:
// whichever way each writer ends (committed, discarded, dropped), every committed file holds its own
// bytes and digest, and no temporary file is left behind.
TEST(AtomicFileWriter, ManyThreadsShareOneHeldFolder) {
    Folder dir;
    const auto folder = HeldFolder::Open(dir.path());
    ASSERT_TRUE(folder);
    constexpr int kThreads = 6, kFiles = 40;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFiles; ++i) {
                const std::string name = std::to_string(t) + "-" + std::to_string(i) + ".jpg";
                const std::string bytes =
                    Noise(1000 + 37 * static_cast<size_t>(i), static_cast<unsigned>(t * 100 + i));
                AtomicFileWriter w(*folder, name);
                w.TakeDigest();
                if (!w.Open() || !w.Write(bytes)) ++failures[static_cast<size_t>(t)];
                if (i % 3 == 1) {
                    w.Discard();
                } else if (i % 3 == 0) {
                    if (!w.Commit(false) || w.DigestHex() != Sha256Hex(bytes))
                        ++failures[static_cast<size_t>(t)];
                }  // else dropped: the destructor removes the temporary file
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    std::size_t files = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        ASSERT_FALSE(IsTemporaryName(name)) << name;
        const int t = std::stoi(name.substr(0, name.find('-')));
        const int i = std::stoi(name.substr(name.find('-') + 1));
        EXPECT_EQ(i % 3, 0) << name;
        EXPECT_EQ(qm::test::FileText(e.path()),
                  Noise(1000 + 37 * static_cast<size_t>(i), static_cast<unsigned>(t * 100 + i)));
        ++files;
    }
    EXPECT_EQ(files, static_cast<std::size_t>(kThreads * ((kFiles + 2) / 3)));
}
