// The offline gallery without a browser: album.json read back, tolerated and refused; hostile names,
// titles and file names kept as text in the pages; thumbnails bounded, incremental, and a
// placeholder for what cannot be decoded; albums without album.json shown from their files.
#include "gallery/Gallery.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "TempFolder.h"
#include "download/AlbumJson.h"
#include "download/Archive.h"
#include "gallery/Thumbnails.h"
#include "net/FileUtil.h"
#include "sim/Simulator.h"
#include "FileText.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using gallery::ThumbName;

void Put(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}
std::string Jpeg(const std::string& id) {
    return sim::MakePictureBytes(id, 3000, "jpg");
}

// An RGB PNG of the given size (stripes), for pictures larger than a thumbnail.
std::string Png(unsigned w, unsigned h) {
    std::string raw;
    for (unsigned y = 0; y < h; ++y) {
        raw.push_back('\0');
        for (unsigned x = 0; x < w; ++x) raw += {char(x), char(y), char((x / 40) % 2 ? 200 : 30)};
    }
    uLongf len = compressBound(raw.size());
    std::string z(len, '\0');
    compress(reinterpret_cast<Bytef*>(z.data()), &len, reinterpret_cast<const Bytef*>(raw.data()),
             raw.size());
    z.resize(len);
    auto be = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        return be(uint32_t(data.size())) + body +
               be(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    };
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR", be(w) + be(h) + std::string("\x08\x02\0\0\0", 5)) + chunk("IDAT", z) +
           chunk("IEND", "");
}

// Width and height from a JPEG's start-of-frame marker.
std::pair<int, int> JpegSize(const std::string& j) {
    for (std::size_t i = 2; i + 9 < j.size();) {
        if (uint8_t(j[i]) != 0xFF) return {0, 0};
        const uint8_t m = uint8_t(j[i + 1]);
        if (m >= 0xC0 && m <= 0xC2)
            return {uint8_t(j[i + 7]) << 8 | uint8_t(j[i + 8]), uint8_t(j[i + 5]) << 8 | uint8_t(j[i + 6])};
        i += 2 + (uint8_t(j[i + 2]) << 8 | uint8_t(j[i + 3]));
    }
    return {0, 0};
}

AlbumJson Sample() {
    AlbumJson a;
    a.kind = "qzone";
    a.targetId = u"123456789";
    a.albumId = u"V12345abc";
    a.name = u"旅行照片";
    a.privacy = u"好友可见";
    a.folder = u"旅行照片";
    a.expected = 3;
    a.listed = 3;
    a.saved = 1;
    a.alreadyHad = 1;
    a.failed = 1;
    a.updated = "2026-12-07T13:00:00Z";
    a.pictures = {{u"p1.jpg", u"西湖", u"第一天\n傍晚", u"http://a/1", u"", 3000, "ab", "saved", "", {}, {}, {}},
                  {u"p2.jpg", u"断桥", u"", u"http://a/2", u"http://b/2", 3000, "", "already_had", "", {}, {}, {}},
                  {u"", u"雷峰塔", u"", u"http://a/3", u"", 0, "", "failed", "HTTP 500", {}, {}, {}}};
    return a;
}

TEST(AlbumJsonFile, ReadsBackWhatItWroteAndToleratesOldOrPartialFiles) {
    test::TempFolder dir;
    const Text folder = TextFromPath(dir.path());
    std::string error;
    ASSERT_TRUE(WriteAlbumJson(folder, Sample(), &error)) << error;
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"album.json"});  // no temporary file left
    const auto back = ReadAlbumJson(folder);
    ASSERT_TRUE(back);
    EXPECT_EQ(AlbumJsonText(*back), AlbumJsonText(Sample()));
    EXPECT_EQ(back->pictures[0].description, u"第一天\n傍晚");
    EXPECT_EQ(back->pictures[2].reason, "HTTP 500");

    // Missing and mistyped fields keep their defaults; a picture that is no object is skipped.
    const auto partial = ParseAlbumJson(
        R"({"album":{"name":"家庭","expected":"24","saved":-3,"complete":1},"pictures":[7,{"file":"a.jpg","size":1.5}]})");
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->name, u"家庭");
    EXPECT_EQ(partial->expected, -1);
    EXPECT_EQ(partial->saved, 0u);
    EXPECT_FALSE(partial->complete);
    ASSERT_EQ(partial->pictures.size(), 1u);
    EXPECT_EQ(partial->pictures[0].file, u"a.jpg");
    EXPECT_EQ(partial->pictures[0].size, 0u);

    // Refused: no object, a newer format, truncated, absurd nesting, larger than the cap.
    for (const char* bad : {"[]", "\"x\"", R"({"format":2})", R"({"album":{"name":"x")"})
        EXPECT_FALSE(ParseAlbumJson(bad)) << bad;
    EXPECT_FALSE(ParseAlbumJson("{\"a\":" + std::string(100000, '[')));
    Put(dir.path() / "album.json", "{\"pictures\":[\"" + std::string(kAlbumJsonMaxBytes, 'x') + "\"]}");
    EXPECT_FALSE(ReadAlbumJson(folder));
}

TEST(GalleryPages, HostileTextsStayTextAndFileNamesStayFileNames) {
    test::TempFolder save;
    const fs::path album = save.path() / "t1" / "evil";
    AlbumJson a;
    a.name = u"</title><script>alert(1)</script><img src=x onerror=alert(2)>";
    a.complete = false;
    a.expected = 5;
    const Text sneaky = u"</script><script>alert(3)</script><!--\u2028\u2029 & \"'";
    a.pictures = {{u"javascript:alert(4).jpg", u"<b>bold</b>", sneaky, {}, {}, 0, "", "saved", "", {}, {}, {}},
                  {u"../../outside.jpg", u"x", u"", {}, {}, 0, "", "saved", "", {}, {}, {}},
                  {u"a#b?c%d.jpg", u"\"quoted\"", u"", {}, {}, 0, "", "saved", "", {}, {}, {}}};
    Put(album / "javascript:alert(4).jpg", Jpeg("p1"));
    Put(album / "a#b?c%d.jpg", Jpeg("p3"));
    Put(save.path() / "outside.jpg", Jpeg("p2"));
    ASSERT_TRUE(WriteAlbumJson(TextFromPath(album), a, nullptr));

    const auto report = gallery::BuildGallery(TextFromPath(save.path()), u"t1");
    ASSERT_EQ(report.targets.size(), 1u);
    EXPECT_TRUE(report.errors.empty());
    EXPECT_EQ(report.targets[0].pictures, 2u);  // the path in album.json is not followed

    for (const fs::path& page : {save.path() / "t1" / "index.html", album / "index.html"}) {
        const std::string html = qm::test::FileText(page);
        SCOPED_TRACE(page.string());
        EXPECT_EQ(html.find("<script>"), std::string::npos);
        EXPECT_EQ(html.find("<img src=x"), std::string::npos);
        EXPECT_EQ(html.find("<b>bold"), std::string::npos);
        EXPECT_EQ(html.find("</title><"), std::string::npos);
        EXPECT_NE(html.find("&lt;/title&gt;&lt;script&gt;alert(1)"), std::string::npos);
        EXPECT_NE(html.find("不完整"), std::string::npos);
        EXPECT_EQ(html.find("href=\"javascript:"), std::string::npos);
    }
    const std::string html = qm::test::FileText(album / "index.html");
    EXPECT_NE(html.find("href=\"javascript%3Aalert(4).jpg\""), std::string::npos);
    EXPECT_NE(html.find("href=\"a%23b%3Fc%25d.jpg\""), std::string::npos);
    EXPECT_NE(html.find("&quot;quoted&quot;"), std::string::npos);
    // The description block: exactly one </script> per script element, and it parses back intact.
    const std::smatch m = [&] {
        std::smatch r;
        std::regex_search(html, r,
                          std::regex(R"(<script type="application/json" id="notes">([^<]*)</script>)"));
        return r;
    }();
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m[1].str().find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(m[1].str()).at(0).get<std::string>(), ToUtf8(sneaky));
}

// A picture the thumbnailer cannot read (a BMP here) is shown from its own file, which a browser
// may well display; the pictures the album lists but did not save are named with their reason.
TEST(GalleryPages, UnreadablePicturesShowTheOriginalAndMissingOnesAreNamed) {
    test::TempFolder save;
    const fs::path album = save.path() / "t1" / "bmp";
    AlbumJson a;
    a.name = u"位图";
    a.pictures = {{u"old.bmp", u"老照片", u"", {}, {}, 0, "", "saved", "", {}, {}, {}},
                  {u"", u"没下完", u"", u"http://a.qpic.cn/x", {}, 0, "", "failed", "HTTP 500", {}, {}, {}}};
    Put(album / "old.bmp", "BM" + std::string(60, '\x01'));
    ASSERT_TRUE(WriteAlbumJson(TextFromPath(album), a, nullptr));
    ASSERT_EQ(gallery::BuildGallery(TextFromPath(save.path()), u"t1").targets.size(), 1u);

    const std::string page = qm::test::FileText(album / "index.html");
    EXPECT_NE(page.find("src=\"old.bmp\""), std::string::npos) << page;
    EXPECT_NE(page.find("没有保存的图片 1 张"), std::string::npos);
    EXPECT_NE(page.find("没下完：HTTP 500"), std::string::npos);
    const std::string list = qm::test::FileText(save.path() / "t1" / "index.html");
    EXPECT_NE(list.find("src=\"bmp/old.bmp\""), std::string::npos) << list;
}

TEST(Thumbnails, BoundedIncrementalAndAPlaceholderForWhatCannotBeDecoded) {
    test::TempFolder dir;
    Put(dir.path() / "wide.png", Png(1200, 500));
    Put(dir.path() / "small.jpg", Jpeg("s"));
    Put(dir.path() / "broken.jpg", Jpeg("b").substr(0, 40));
    Put(dir.path() / "text.jpg", "<html>not a picture</html>");
    const std::vector<std::string> files = {"wide.png", "small.jpg", "broken.jpg", "text.jpg", "gone.jpg"};
    const fs::path thumbs = dir.path() / gallery::kThumbFolder;

    std::vector<gallery::ThumbState> states;
    auto c = gallery::UpdateThumbnails(dir.path(), files, &states, 2);
    EXPECT_EQ(c.made, 2u);
    EXPECT_EQ(c.failed, 3u);
    EXPECT_EQ(states[2], gallery::ThumbState::Failed);
    EXPECT_EQ(JpegSize(qm::test::FileText(thumbs / ThumbName("wide.png"))), std::make_pair(320, 133));
    EXPECT_EQ(JpegSize(qm::test::FileText(thumbs / ThumbName("small.jpg"))), JpegSize(Jpeg("s")));  // never enlarged

    // Nothing is decoded again; a picture that changed (or was replaced by a good one) is.
    c = gallery::UpdateThumbnails(dir.path(), files, nullptr, 2);
    EXPECT_EQ(c.made, 0u);
    EXPECT_EQ(c.kept, 2u);
    Put(dir.path() / "text.jpg", Jpeg("t"));
    fs::last_write_time(dir.path() / "text.jpg", fs::file_time_type::clock::now() + std::chrono::seconds(5));
    c = gallery::UpdateThumbnails(dir.path(), files, &states, 1);
    EXPECT_EQ(c.made, 1u);
    EXPECT_EQ(states[3], gallery::ThumbState::Made);
    // Still undecodable: broken.jpg stays on the list; text.jpg, decoded now, is off it.
    const std::string undecodable = qm::test::FileText(thumbs / "undecodable.txt");
    EXPECT_NE(undecodable.find(" broken.jpg\n"), std::string::npos);
    EXPECT_EQ(undecodable.find("text.jpg"), std::string::npos);
}

TEST(GalleryBuild, AlbumsWithoutAlbumJsonComeFromTheirFilesAndOnlyOurTargetsAreTouched) {
    test::TempFolder save;
    const fs::path target = save.path() / "123456789";
    for (const char* f : {"p10.jpg", "p9.jpg", "p1.jpg", "notes.txt", ".hidden.jpg"})
        Put(target / "家庭" / f, Jpeg(f));
    Put(target / "家庭" / "pic.vyr", "x");
    Put(save.path() / "My Pictures" / "holiday" / "a.jpg", Jpeg("mine"));  // not saved by us

    const auto report = gallery::BuildGallery(TextFromPath(save.path()), u"");
    ASSERT_EQ(report.targets.size(), 1u);
    EXPECT_EQ(report.targets[0].index, gallery::GalleryIndexPath(TextFromPath(save.path()), u"123456789"));
    EXPECT_FALSE(fs::exists(save.path() / "My Pictures" / "index.html"));
    const std::string html = qm::test::FileText(target / "家庭" / "index.html");
    const auto p1 = html.find("href=\"p1.jpg\""), p9 = html.find("href=\"p9.jpg\""),
               p10 = html.find("href=\"p10.jpg\"");
    ASSERT_NE(p10, std::string::npos);
    EXPECT_LT(p1, p9);
    EXPECT_LT(p9, p10);
    EXPECT_EQ(html.find("notes.txt"), std::string::npos);
    EXPECT_EQ(html.find("hidden"), std::string::npos);
    EXPECT_EQ(html.find("不完整"), std::string::npos);  // unknown, not incomplete
    // A ".." target never climbs out of the save folder.
    EXPECT_TRUE(gallery::BuildGallery(TextFromPath(target), u"../123456789").targets.empty());
}

// The target page lists the albums as the service does (the archive keeps their places), not by
// name; a folder the archive does not know follows, by name; chosen albums without pictures are named.
TEST(GalleryBuild, AlbumsFollowTheServicesOrderAndTheUnsavedAreNamed) {
    test::TempFolder save;
    const fs::path target = save.path() / "123456789";
    for (const char* album : {"a 旅行", "b 家庭", "c 朋友", "d 自己的"}) {
        Put(target / album / "1.jpg", Jpeg(album));
        Put(target / album / "pic.vyr", "x");
    }
    {
        ArchiveOpenError error;
        const auto archive = Archive::Open(save.path(), error);
        ASSERT_TRUE(archive) << DescribeArchiveError(error, save.path() / kArchiveFileName);
        const ArchiveTarget t{TargetKind::QZone, "123456789"};
        int position = 0;
        for (const char* album : {"c 朋友", "a 旅行", "e <加密>", "b 家庭"})
            ASSERT_GT(archive->AlbumKey(t, ArchiveAlbum{album, album, target / album, 1, position++}), 0);
        archive->Flush();
    }
    ASSERT_EQ(gallery::BuildGallery(TextFromPath(save.path()), u"123456789").targets.size(), 1u);
    const std::string html = qm::test::FileText(target / "index.html");
    std::vector<std::size_t> at;
    for (const char* album : {"c 朋友", "a 旅行", "b 家庭", "d 自己的"}) {
        at.push_back(html.find(std::string("<b>") + album + "</b>"));
        ASSERT_NE(at.back(), std::string::npos) << album;
    }
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << html;
    // A chosen album that left no pictures is named below the albums, with its number and reason.
    const auto gone = html.find("没有备份的相册 1 个");
    ASSERT_NE(gone, std::string::npos) << html;
    EXPECT_GT(gone, at.back());
    EXPECT_NE(html.find("<li>0003 <b>e &lt;加密&gt;</b>：未完成过一次下载</li>"), std::string::npos) << html;
}

}  // namespace
}  // namespace qm
