// The work after an album: extension fix, falling times, history, address list files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "download/Utf16Le.h"
#include "support/EngineFixture.h"

namespace qm::test {
namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest";
const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0", 4) + "jfif";
const std::string kGif = "GIF89a....";

class PostProcess : public ::testing::Test {
protected:
    // Queues a picture whose file already holds `content` (empty: no file).
    void Picture(const Text& name, const std::string& content) {
        e.Queue(u"http://h/" + name, name);
        if (!content.empty()) WriteFileAtomic(PathFromText(e.base + name), content);
    }
    bool Exists(const Text& name) { return std::filesystem::exists(PathFromText(e.base + name)); }
    Engine e;
};

TEST_F(PostProcess, FixFormatRenamesByContent) {
    Picture(u"a.jpg", kPng);
    Picture(u"b.jpg", "plain text, no picture");
    Picture(u"c.gif", "x");  // one byte: nothing matches
    Picture(u"d.PNG", kJpeg);
    Picture(u"missing.jpg", "");
    Picture(u"e.bmp", kGif);
    FixFormat(e.st);
    EXPECT_EQ(e.st.task.fileNames,
              (std::vector<Text>{u"a.png", u"b.jpg", u"c.gif", u"d.jpg", u"missing.jpg", u"e.gif"}));
    EXPECT_EQ(FileText(PathFromText(e.base + u"a.png")), kPng);
    EXPECT_FALSE(Exists(u"a.jpg"));
    EXPECT_TRUE(Exists(u"b.jpg"));
}

TEST_F(PostProcess, FixFormatNeverReplacesAnExistingFile) {
    Picture(u"x.jpg", kPng);
    WriteFileAtomic(PathFromText(e.base + u"x.png"), "another picture");
    FixFormat(e.st);
    EXPECT_EQ(e.st.task.fileNames, (std::vector<Text>{u"x.jpg"}));
    EXPECT_EQ(FileText(PathFromText(e.base + u"x.png")), "another picture");
    EXPECT_EQ(FileText(PathFromText(e.base + u"x.jpg")), kPng);
}

// A picture downloaded again arrives under its first name; its corrected twin from last time is
// the same picture, so the new copy goes. A different picture under the corrected name stays.
TEST_F(PostProcess, FixFormatDropsANewCopyOfTheSamePicture) {
    Picture(u"p1.jpg", kPng);
    WriteFileAtomic(PathFromText(e.base + u"p1.png"), kPng);
    Picture(u"p2.jpg", kPng);
    WriteFileAtomic(PathFromText(e.base + u"p2.png"), kPng + "other");
    FixFormat(e.st);
    EXPECT_EQ(e.st.task.fileNames, (std::vector<Text>{u"p1.png", u"p2.jpg"}));
    EXPECT_FALSE(Exists(u"p1.jpg"));
    EXPECT_EQ(FileText(PathFromText(e.base + u"p1.png")), kPng);
    EXPECT_EQ(FileText(PathFromText(e.base + u"p2.jpg")), kPng);
    EXPECT_EQ(FileText(PathFromText(e.base + u"p2.png")), kPng + "other");
}

TEST_F(PostProcess, SignatureTable) {
    struct Case {
        std::string bytes;
        Text ext;
    } cases[] = {
        {std::string("\x00\x00\x02\x00\x00", 5), u".tga"},
        {std::string("\x00\x00\x10\x00\x00", 5), u".tga"},
        {std::string("\x00\x00\x01\x00\x01", 5), u".ico"},
        {std::string("\x00\x00\x02\x00\x01", 5), u".cur"},
        {"MM\x00*", u".tiff"},
        {"II*\x00", u".tiff"},
        {"BMxx", u".bmp"},
        {"GIx", u".dat"},
        {std::string("\x00\x00\x03\x00\x00", 5), u".dat"},
    };
    int i = 0;
    for (const auto& c : cases) {
        Text path = e.base + FormatText("f%d.dat", i++);
        WriteFileAtomic(PathFromText(path), c.bytes);
        EXPECT_TRUE(FixPictureFormat(path));
        EXPECT_EQ(path.substr(path.size() - c.ext.size()), c.ext) << i;
        EXPECT_TRUE(std::filesystem::exists(PathFromText(path)));
    }
    Text missing = e.base + u"none.jpg";
    EXPECT_FALSE(FixPictureFormat(missing));
    EXPECT_EQ(missing, e.base + u"none.jpg");
}

TEST_F(PostProcess, FixOrderGivesFallingTimes) {
    for (int i = 0; i < 5; ++i) Picture(FormatText("%d.jpg", i), "data");
    e.st.task.fileNames.insert(e.st.task.fileNames.begin() + 2, u"gone.jpg");  // keeps its minute
    const std::time_t before = std::time(nullptr);
    FixOrder(e.st);
    const std::time_t after = std::time(nullptr);
    const int minutes[] = {0, 1, 3, 4, 5};
    for (int i = 0; i < 5; ++i) {
        struct stat sb {};
        ASSERT_EQ(::stat(PathFromText(e.base + FormatText("%d.jpg", i)).c_str(), &sb), 0);
        EXPECT_GE(sb.st_mtime, before - 60 * minutes[i]);
        EXPECT_LE(sb.st_mtime, after - 60 * minutes[i]);
    }
}

TEST_F(PostProcess, HistoryIsUtf16WithoutMark) {
    const Text address = u"http://h/相册/1.jpg\r\nhttp://h/alt.jpg";
    e.Queue(address, u"a.jpg");
    RecordHistory(e.st, e.base);
    EXPECT_EQ(FileText(PathFromText(e.base + u"pic.vyr")), ToUtf16Le(address));
    EXPECT_EQ(LoadHistory(e.base), address);
    EXPECT_EQ(LoadHistory(e.base + u"nowhere/"), u"");
    // A history that only begins with the same bytes is no match: it is replaced, not kept.
    WriteFileAtomic(PathFromText(e.base + u"pic.vyr"), ToUtf16Le(address + u"x"));
    RecordHistory(e.st, e.base);
    EXPECT_EQ(LoadHistory(e.base), address);
}

// The same album downloaded again with SkipDownloaded: nothing new, then only the new pictures.
TEST_F(PostProcess, SkipDownloadedAcrossRuns) {
    e.prof().SiteFlags = SiteFlag::SkipDownloaded;
    const int album = e.Album(u"A");
    auto run = [&](const std::vector<int>& site) {
        e.NextAlbum();
        for (int p : site)
            if (!e.Add(album, FormatText("http://h/%d.jpg", p), u"t")) break;
        if (e.st.task.Size() > 0) RecordHistory(e.st, e.st.task.albumFolder);
        return e.st.task.Size();
    };
    EXPECT_EQ(run({3, 2, 1}), 3u);
    EXPECT_EQ(run({3, 2, 1}), 0u);
    EXPECT_EQ(run({5, 4, 3, 2, 1}), 2u);
    EXPECT_EQ(LoadHistory(e.st.task.albumFolder), u"http://h/5.jpg");
}

TEST_F(PostProcess, AlbumListFileInGbkWithCrLf) {
    for (const Text& address : {Text(u"http://h/1.jpg"), Text(u"http://h/主.jpg\r\nhttp://h/alt.jpg"),
                                Text(u"http://h/€\U0001F600")})
        e.Queue(address, u"x.jpg");
    const Text path = e.base + u"相册.lst";
    ASSERT_TRUE(WriteAlbumList(e.st, path));
    EXPECT_EQ(FileText(PathFromText(path)),
              "http://h/1.jpg\r\nhttp://h/\xD6\xF7.jpg\r\nhttp://h/alt.jpg\r\nhttp://h/\x80?\r\n");
    EXPECT_FALSE(WriteAlbumList(e.st, e.base + u"no/such/folder.lst"));
}

// Mirrors on one line, the options indented below; nothing from a server can start a line of its own.
TEST_F(PostProcess, Aria2InputFileBesideTheList) {
    e.st.task.pictures = {
        PictureRef{u"http://h/a b.jpg", u"http://h/alt.jpg", {}, {}, u"Referer: http://user.qzone.qq.com/1\r\nX-A: 1", {}},
        PictureRef{u"http://h/2.jpg", {}, {}, {}, {}, {}},
        PictureRef{u"http://h/3.jpg", u"http://h/x\n dir=/etc", {}, {}, {}, {}},
        PictureRef{u"http://h/4.jpg", {}, {}, {}, u"Referer: x\ty", {}}};
    e.st.task.fileNames = {u"主.jpg", u"2.jpg", u"3.jpg", u"4.jpg"};
    const Text list = e.base + u"相册.lst";
    ASSERT_TRUE(WriteAria2List(e.st.task, list));
    std::string dir = e.dir.path().lexically_normal().string();
    if (dir.back() == '/') dir.pop_back();
    EXPECT_EQ(FileText(PathFromText(e.base + u"相册.aria2.txt")),
              "http://h/a%20b.jpg\thttp://h/alt.jpg\n out=主.jpg\n dir=" + dir +
                  "\n header=Referer: http://user.qzone.qq.com/1\n header=X-A: 1\n"
                  "http://h/2.jpg\n out=2.jpg\n dir=" +
                  dir +
                  "\n"
                  "http://h/3.jpg\thttp://h/x%0A%20dir=/etc\n out=3.jpg\n dir=" +
                  dir +
                  "\n"
                  "http://h/4.jpg\n out=4.jpg\n dir=" +
                  dir + "\n");
    // A long album name still gives a file name the file system takes.
    const Text longList = e.base + Text(200, u'长') + u".lst";
    ASSERT_TRUE(WriteAria2List(e.st.task, longList));
    EXPECT_TRUE(std::filesystem::exists(PathFromText(Aria2ListPath(longList))));
}

// A server's address can neither add lines to a list file nor point a download manager at a local
// file or another protocol: control characters are encoded, non-http addresses left out (an entry
// without any address is named with the reason), in both list files alike.
TEST_F(PostProcess, ListFilesHoldOneHttpAddressPerLine) {
    e.st.task.pictures = {
        PictureRef{u"http://h/1.jpg\n dir=/outside\n out=../x.jpg", {}, {}, {}, {}, {}},
        PictureRef{u"file:///etc/passwd", u"http://h/alt\u2028.jpg", {}, {}, {}, {}},
        PictureRef{u"javascript:alert(1)", u"ftp://h/2.jpg", {}, {}, {}, {}},
        PictureRef{u"gopher://h/3", {}, {}, {}, {}, {}},
        PictureRef{u"http://h\n/4.jpg", u"HTTPS://h/\x85\x1b[2J.jpg", {}, {}, {}, {}}};
    e.st.task.fileNames = {u"1.jpg", u"2.jpg", u"3.jpg", u"4.jpg", u"5.jpg"};
    const Text list = e.base + u"相册.lst";
    std::vector<UnlistedEntry> unlisted;
    ASSERT_TRUE(WriteAlbumList(e.st, list, &unlisted));
    EXPECT_EQ(FileText(PathFromText(list)),
              "http://h/1.jpg%0A dir=/outside%0A out=../x.jpg\r\n"
              "http://h/alt%E2%80%A8.jpg\r\n"
              "HTTPS://h/%C2%85%1B[2J.jpg\r\n");
    ASSERT_EQ(unlisted.size(), 2u);
    EXPECT_EQ(unlisted[0].index, 2u);
    EXPECT_EQ(unlisted[0].reason, "not an http address");
    EXPECT_EQ(unlisted[1].index, 3u);

    ASSERT_TRUE(WriteAria2List(e.st.task, list));
    const std::string aria2 = FileText(PathFromText(Aria2ListPath(list)));
    std::vector<std::string> addressLines;
    for (size_t pos = 0; pos < aria2.size();) {
        const size_t end = aria2.find('\n', pos);
        const std::string line = aria2.substr(pos, end - pos);
        if (!line.empty() && line[0] != ' ') addressLines.push_back(line);
        pos = end + 1;
    }
    EXPECT_EQ(addressLines, (std::vector<std::string>{"http://h/1.jpg%0A%20dir=/outside%0A%20out=../x.jpg",
                                                      "http://h/alt%E2%80%A8.jpg", "HTTPS://h/%C2%85%1B[2J.jpg"}));
    EXPECT_EQ(aria2.find("\n out=../"), std::string::npos);
    EXPECT_EQ(aria2.find("\n dir=/outside"), std::string::npos);
}

}  // namespace
}  // namespace qm::test
