// album.json as written picture by picture: the same bytes as the JSON library's dump of the whole
// document (the format stored files and their readers rely on), for texts of every kind, and a
// write that fails half-way leaves the old file as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "FileText.h"
#include "TempFolder.h"
#include "TinyDisk.h"
#include "download/AlbumJson.h"
#include "net/FileUtil.h"

namespace qm {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// The document as the JSON library writes it: the keys in their order, an indent of one blank, and
// what is not UTF-8 replaced.
std::string LibraryDump(const AlbumJson& a) {
    ordered_json pictures = ordered_json::array();
    for (const AlbumJsonPicture& p : a.pictures) {
        ordered_json o = {{"file", ToUtf8(p.file)},   {"title", ToUtf8(p.title)}, {"description", ToUtf8(p.description)},
                          {"main", ToUtf8(p.main)},   {"alternate", ToUtf8(p.alternate)},
                          {"shot", p.shot},           {"uploaded", p.uploaded},   {"size", p.size},
                          {"sha256", p.sha256},       {"state", p.state},         {"reason", p.reason}};
        if (p.video)
            o["video"] = {{"file", ToUtf8(p.video->file)}, {"size", p.video->size},     {"sha256", p.video->sha256},
                          {"state", p.video->state},       {"reason", p.video->reason}, {"play", ToUtf8(p.video->play)}};
        pictures.push_back(std::move(o));
    }
    ordered_json album = {{"id", ToUtf8(a.albumId)},   {"name", ToUtf8(a.name)},      {"privacy", ToUtf8(a.privacy)},
                          {"folder", ToUtf8(a.folder)}, {"expected", a.expected},      {"listed", a.listed},
                          {"saved", a.saved},           {"already_had", a.alreadyHad}, {"failed", a.failed},
                          {"not_tried", a.notTried},    {"not_listed", a.notListed},   {"complete", a.complete},
                          {"updated", a.updated}};
    if (a.videos > 0)
        album["videos"] = {{"listed", a.videos},
                           {"saved", a.videosSaved},
                           {"already_had", a.videosAlreadyHad},
                           {"failed", a.videosFailed},
                           {"not_tried", a.videosNotTried}};
    const ordered_json doc = {{"format", 1},
                              {"target", {{"kind", a.kind}, {"id", ToUtf8(a.targetId)}}},
                              {"album", std::move(album)},
                              {"pictures", std::move(pictures)}};
    return doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

// An album of every kind of entry, long enough that the writer's buffer goes to the file many times.
AlbumJson VariedAlbum() {
    AlbumJson a;
    a.kind = "qzone";
    a.targetId = u"10001";
    a.albumId = u"V1abc";
    a.name = u"旅行 \"引号\" \\ / \t";
    a.privacy = u"好友可见";
    a.folder = u"旅行";
    a.expected = 2000;
    a.listed = 1500;
    a.saved = 1000;
    a.alreadyHad = 300;
    a.failed = 150;
    a.notTried = 50;
    a.notListed = 500;
    a.videos = 3;
    a.videosSaved = 1;
    a.videosFailed = 2;
    a.updated = "2026-12-08T05:00:00Z";
    const Text loneSurrogate = Text(u"半") + char16_t(0xD800) + u"x" + char16_t(0xDC00);
    for (int i = 0; i < 1500; ++i) {
        AlbumJsonPicture p;
        const Text n = FormatText("%d", i);
        p.main = u"http://b1.photo.store.qq.com/psb?/V1abc/" + n + u"/b&bo=AAA";
        p.alternate = i % 3 ? u"http://m.qpic.cn/psb?/V1abc/" + n + u"/m" : Text();
        // Every width of UTF-8, a NUL, DEL, the escapes, and surrogates the wrong way round with a
        // high one last.
        if (i % 11 == 0)
            p.alternate = Text(u"\u00e9\u07ff\u0800\uffff") + char16_t(0) + u"\x7f\x1f\"\\/\b\f" + char16_t(0xDC00) +
                          char16_t(0xD800) + n + char16_t(0xDBFF);
        p.title = i % 7 == 0 ? loneSurrogate : u"第" + n + u"张 \U0001F600";
        p.description = i % 5 == 0 ? Text(u"第一行\r\n第二行 </script> \x01\x1f") : Text();
        p.shot = i % 2 ? "2021-11-01T22:54:34+08:00" : "";
        p.uploaded = "2021-11-02T08:00:00+08:00";
        if (i % 10 == 9) {
            p.state = "failed";
            // A server's status text may carry any byte.
            p.reason = i % 20 == 9 ? "HTTP 500 \xff\xfe bad \xe4\xb8" : "HTTP 404";
        } else {
            p.file = n + u".jpg";
            p.size = 1000u + static_cast<uint64_t>(i);
            p.sha256 = std::string(64, "0123456789abcdef"[i % 16]);
            p.state = i % 4 ? "saved" : "already_had";
        }
        if (i == 3 || i == 400 || i == 1499) {
            AlbumJsonFilm film;
            film.play = u"http://v.qq.com/play?vid=" + n;
            if (i == 3) {
                film.file = n + u".mp4";
                film.size = 300000;
                film.sha256 = std::string(64, 'f');
                film.state = "saved";
            } else {
                film.state = "failed";
                film.reason = i == 400 ? "只有在线播放地址" : "HTTP 403 \xc0\xaf";
            }
            p.video = std::move(film);
        }
        a.pictures.push_back(std::move(p));
    }
    return a;
}

// Equal texts, or where they first differ (the texts are too long for a readable diff).
::testing::AssertionResult SameText(const std::string& got, const std::string& expected) {
    if (got == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    const std::size_t from = at > 80 ? at - 80 : 0;
    return ::testing::AssertionFailure() << "first difference at byte " << at << " of " << got.size() << "/"
                                         << expected.size() << ":\n" << got.substr(from, 160) << "\n---\n"
                                         << expected.substr(from, 160);
}

TEST(AlbumJsonWriter, WritesTheLibrarysBytesForEveryKindOfText) {
    test::TempFolder dir;
    AlbumJson a = VariedAlbum();
    AlbumJson badHead = a;  // a head text that is not UTF-8 takes the library's way too
    badHead.updated = "2026-12-08\xff";
    AlbumJson empty = a;
    empty.pictures.clear();
    empty.videos = 0;
    int n = 0;
    for (const AlbumJson* album : {&a, &badHead, &empty}) {
        SCOPED_TRACE(n++);
        const std::string expected = LibraryDump(*album);
        EXPECT_TRUE(SameText(AlbumJsonText(*album), expected));

        std::string error;
        ASSERT_TRUE(WriteAlbumJson(TextFromPath(dir.path()), *album, &error)) << error;
        EXPECT_TRUE(SameText(test::FileText(dir.path() / kAlbumJsonName), expected));
        const auto held = HeldFolder::Open(dir.path());
        ASSERT_TRUE(held);
        AlbumJsonWriter writer(*held);
        ASSERT_TRUE(writer.Begin(*album));
        for (const AlbumJsonPicture& p : album->pictures) writer.Add(p);
        ASSERT_TRUE(writer.Commit(&error)) << error;
        EXPECT_TRUE(SameText(test::FileText(dir.path() / kAlbumJsonName), expected));
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"album.json"});
    }
    ASSERT_GT(AlbumJsonText(a).size(), 256u * 1024);
    // What was written reads back as it was (lone surrogates as U+FFFD).
    ASSERT_TRUE(WriteAlbumJson(TextFromPath(dir.path()), a, nullptr));
    const auto back = ReadAlbumJson(TextFromPath(dir.path()));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->pictures.size(), a.pictures.size());
    EXPECT_EQ(back->pictures[1].title, a.pictures[1].title);
    EXPECT_EQ(back->pictures[0].title, Text(u"半\uFFFDx\uFFFD"));
    ASSERT_TRUE(back->pictures[400].video);
    EXPECT_EQ(back->pictures[400].video->reason, "只有在线播放地址");
}

// Read picture by picture, the file gives what the whole read gives; a file cut short is refused
// by both, after the streamed read handed out the pictures before the cut.
TEST(AlbumJsonReader, PictureByPictureGivesWhatTheWholeReadGives) {
    test::TempFolder dir;
    const Text folder = TextFromPath(dir.path());
    ASSERT_TRUE(WriteAlbumJson(folder, VariedAlbum(), nullptr));
    const auto whole = ReadAlbumJson(folder);
    ASSERT_TRUE(whole);
    AlbumJson streamed;
    std::vector<AlbumJsonPicture> pictures;
    ASSERT_TRUE(ReadAlbumJson(folder, streamed, [&](AlbumJsonPicture& p) { pictures.push_back(p); }));
    EXPECT_TRUE(streamed.pictures.empty());
    streamed.pictures = pictures;
    EXPECT_TRUE(SameText(AlbumJsonText(streamed), AlbumJsonText(*whole)));

    const std::string text = test::FileText(dir.path() / kAlbumJsonName);
    std::ofstream(dir.path() / kAlbumJsonName, std::ios::binary | std::ios::trunc) << text.substr(0, text.size() / 2);
    std::size_t handed = 0;
    AlbumJson cut;
    EXPECT_FALSE(ReadAlbumJson(folder, cut, [&](AlbumJsonPicture&) { ++handed; }));
    EXPECT_GT(handed, 0u);
    EXPECT_FALSE(ReadAlbumJson(folder));

    // Small enough to be read, but with more entries than any album holds: refused once the count
    // passes the cap, not kept entry by entry.
    std::string many = "{\"format\":1,\"pictures\":[{}";
    for (std::size_t i = 0; i < kAlbumJsonMaxPictures; ++i) many += ",{}";
    std::ofstream(dir.path() / kAlbumJsonName, std::ios::binary | std::ios::trunc) << many << "]}";
    handed = 0;
    AlbumJson crowded;
    EXPECT_FALSE(ReadAlbumJson(folder, crowded, [&](AlbumJsonPicture&) { ++handed; }));
    EXPECT_EQ(handed, kAlbumJsonMaxPictures);
}

TEST(AlbumJsonWriter, AFullDiskHalfWayLeavesTheOldFile) {
    test::TempFolder dir;
    const int status = test::RunOnTinyDisk(dir.path(), 64 * 1024, [&] {
        AlbumJson old;
        old.name = u"旧的";
        if (!WriteAlbumJson(TextFromPath(dir.path()), old, nullptr)) return 1;
        const std::string before = test::FileText(dir.path() / kAlbumJsonName);
        std::string error;
        if (WriteAlbumJson(TextFromPath(dir.path()), VariedAlbum(), &error)) return 2;
        if (error.empty()) return 3;
        if (test::FileText(dir.path() / kAlbumJsonName) != before) return 4;
        if (dir.Names() != std::vector<std::string>{"album.json"}) return 5;  // no temporary left
        return 0;
    });
    if (status == test::kNoTinyDisk) GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace qm
