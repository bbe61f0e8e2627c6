// Picture names, album folders and the history stop of AddPicEntry.
#include <gtest/gtest.h>

#include <chrono>

#include "download/SafeName.h"
#include "download/Utf16Le.h"
#include "support/EngineFixture.h"

namespace qm::test {
namespace {

const Text kUrl = u"http://photo.example/p/";

Text Url(int i) {
    return kUrl + FormatText("%d.jpg", i);
}

class Naming : public ::testing::Test {
protected:
    void SetUp() override { album = e.Album(u"Trip"); }
    bool Add(const Text& title, const Text& url = {}) {
        return e.Add(album, url.empty() ? Url(++count) : url, title);
    }
    Engine e;
    int album = 0;
    int count = 0;
};

TEST_F(Naming, SequenceNamesNeedNoDuplicateCheck) {
    e.prof().NameMode = 1;
    Add(u"same");
    Add(u"same");
    Add(u"same");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"1.jpg", u"2.jpg", u"3.jpg"}));
    // Any mode other than description and address acts as a sequence.
    e.NextAlbum();
    e.prof().NameMode = 7;
    Add(u"x");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"1.jpg"}));
}

TEST_F(Naming, DuplicatesGetCountersIgnoringCaseAndKeepTheirExtension) {
    Add(u"beach");
    Add(u"beach");
    Add(u"beach");
    Add(u"sun.PNG");
    Add(u"sun.PNG");
    Add(u"SUN.png");
    Add(u"Beach.JPG");  // the same file name as beach.jpg on a case-blind file system
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"beach.jpg", u"beach(1).jpg", u"beach(2).jpg", u"sun.PNG",
                                            u"sun(1).PNG", u"SUN(2).png", u"Beach(3).JPG"}));
}

TEST_F(Naming, EmptyTitleUsesAlbumNameAndCleaningRules) {
    Add(u"");
    Add(u"   ");
    Add(u"a/b:c*d?e\"f<g>h|i");
    Add(u"...");
    Add(u"tab\there");
    Add(u"&lt;b&gt;");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"Trip.jpg", u"Trip(1).jpg", u"abcdefghi.jpg", u"。。。.jpg",
                                            u"tab_here.jpg", u"b.jpg"}));
}

TEST_F(Naming, EscapeCodesInNames) {
    e.Album(u"Second");
    const int third = e.Album(u"Third", u"2020-01-02");
    e.st.album.selected = 2;
    e.st.album.targetFolder = u"12345/";
    SetFieldText(e.prof().NamePrefix, u"?9_");
    SetFieldText(e.prof().NameSuffix, u"-?1-?3-?4-?5-?6-?7-?8");
    e.Add(third, Url(1), u"pic");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"0003_pic-Third-3-1-2020-01-02-2-3-12345.jpg"}));

    // ?5 is only replaced for the QQ Zone family; elsewhere the question mark is cleaned away.
    e.NextAlbum();
    e.st.album.site = 1;
    SetFieldText(e.prof().NameSuffix, u"?5");
    e.Add(third, Url(1), u"pic");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"0003_pic5.jpg"}));
}

TEST_F(Naming, SequenceCodeNeedsNoCounterUnlessTheNumberIsLost) {
    SetFieldText(e.prof().NameSuffix, u"?2");
    Add(u"t");
    Add(u"t");
    // A replacement that takes the number away again would make the second overwrite the first.
    SetFieldText(e.prof().ReplaceFrom, u"3|4");
    SetFieldText(e.prof().ReplaceTo, u"x|x");
    Add(u"t");
    Add(u"t");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"t1.jpg", u"t2.jpg", u"tx.jpg", u"tx(1).jpg"}));
}

TEST_F(Naming, ReplacePairsAndWholeText) {
    SetFieldText(e.prof().ReplaceFrom, u"ab|cd");
    SetFieldText(e.prof().ReplaceTo, u"1|2");
    Add(u"abcdab");
    // Counts of "|" differ: the whole text, bar included, is looked for.
    SetFieldText(e.prof().NamePrefix, u"ab|cd_");
    SetFieldText(e.prof().ReplaceTo, u"Z");
    Add(u"abcd");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"121.jpg", u"Z_abcd.jpg"}));
}

TEST_F(Naming, AddressModeNames) {
    e.prof().NameMode = 2;
    Add(u"t", u"http://h.example/a/b/photo.png");
    Add(u"t", u"http://h.example/main.jpg\r\nhttp://h.example/alt/alt.gif");
    Add(u"t", u"/noslash");
    Add(u"t", u"nothing");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"photo.png", u"alt.gif", u"3.jpg", u"4.jpg"}));
}

TEST_F(Naming, AlbumFolderWithPrefixSuffixAndEscapes) {
    SetFieldText(e.prof().FolderPrefix, u"?9 ");
    SetFieldText(e.prof().FolderSuffix, u" (?4)");
    Add(u"a");
    Add(u"b");
    EXPECT_EQ(e.st.task.albumFolder, e.base + u"0001 Trip (1)/");
    EXPECT_TRUE(std::filesystem::is_directory(PathFromText(e.st.task.albumFolder)));
    EXPECT_EQ(e.obs.LastListed(), 2u);
}

TEST_F(Naming, NoAlbumFolderSharesBaseAndRestartsSequence) {
    e.prof().FolderMode = 1;
    e.prof().NameMode = 1;
    Add(u"a");
    Add(u"b");
    EXPECT_EQ(e.st.task.albumFolder, e.base);
    const int second = e.Album(u"Other");
    e.NextAlbum();
    e.Add(second, Url(9), u"c");
    EXPECT_EQ(e.st.task.albumFolder, e.base);
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"1.jpg"}));
}

TEST_F(Naming, LongFolderPathCutsNames) {
    e.prof().FolderMode = 1;
    Text folder = e.base + Text(200, u'f');
    folder += u"/";
    folder += Text(239 - folder.size(), u'g');
    folder += u"/";
    ASSERT_EQ(folder.size(), 240u);
    std::filesystem::create_directories(PathFromText(folder));
    e.st.task.albumFolder = folder;
    Add(u"abcdefghijklmnopqrstuvwxyz");
    Add(u"abcdefghijkl.png");  // the cut takes the extension too
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"abcdefghij.jpg", u"abcdefghij(1).jpg"}));

    // A folder path that leaves no room: the sequence number keeps names distinct.
    e.NextAlbum();
    e.st.task.albumFolder = folder + Text(12, u'h') + u"/";
    std::filesystem::create_directories(PathFromText(e.st.task.albumFolder));
    Add(u"first");
    Add(u"second");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"1.jpg", u"2.jpg"}));
}

TEST_F(Naming, LongNamesFitTheFileSystemLimit) {
    // 300 CJK characters: 900 bytes in UTF-8, far beyond the 255 bytes of one component.
    const Text title(300, u'山');
    Add(title + u".png");
    Add(title + u".png");
    ASSERT_EQ(e.Names().size(), 2u);
    for (const Text& n : e.Names()) {
        EXPECT_LE(Utf8Length(n), kMaxFileNameBytes);
        EXPECT_TRUE(WriteFileAtomic(PathFromText(e.st.task.albumFolder + n), "x"));
    }
    EXPECT_NE(e.Names()[0], e.Names()[1]);
    EXPECT_EQ(e.Names()[1].substr(e.Names()[1].size() - 7), u"(1).jpg");
}

// Uniqueness is decided on the name as it is finally stored: after the length cut, the device-name
// guard and the sequence number's removal. Each of these once let two pictures share one file.
TEST_F(Naming, FinalNamesAreUniqueAfterEveryCut) {
    e.prof().FolderMode = 1;
    Text folder = e.base + Text(246 - e.base.size(), u'f') + u"/";
    ASSERT_EQ(folder.size(), 247u);  // room for 3 characters
    std::filesystem::create_directories(PathFromText(folder));
    e.st.task.albumFolder = folder;
    Add(u"CONSOLE");
    Add(u"CONTAINER");
    Add(u"CONX");
    Add(u"concert");
    EXPECT_EQ(e.Names(), (std::vector<Text>{u"_CON.jpg", u"CON(1).jpg", u"CON(2).jpg", u"con(3).jpg"}));
}

// Thousands of pictures with one title (every untitled picture takes the album name) each get the
// next counter. How fast that is, is naming_bench's figure.
TEST_F(Naming, ManySameTitlesCountUpInOrder) {
    for (int i = 0; i < 20000; ++i) Add(u"IMG");
    ASSERT_EQ(e.Names().size(), 20000u);
    EXPECT_EQ(e.Names()[0], u"IMG.jpg");
    EXPECT_EQ(e.Names()[1], u"IMG(1).jpg");
    EXPECT_EQ(e.Names()[19999], u"IMG(19999).jpg");
}

TEST_F(Naming, HistoryStopsTheAlbum) {
    e.prof().SiteFlags = SiteFlag::SkipDownloaded;
    Add(u"a");  // creates the folder
    WriteFileAtomic(PathFromText(e.st.task.albumFolder + u"pic.vyr"), ToUtf16Le(Url(3)));
    e.NextAlbum();
    count = 0;
    EXPECT_TRUE(Add(u"p"));
    EXPECT_TRUE(Add(u"p"));
    EXPECT_FALSE(Add(u"p"));  // the known picture: the album wants no more
    EXPECT_FALSE(Add(u"p"));
    EXPECT_EQ(e.Urls(), (std::vector<Text>{Url(1), Url(2)}));
    EXPECT_TRUE(e.st.albumComplete.load());
}

TEST_F(Naming, TitleListFileIsWrittenOnceTheAlbumIsListed) {
    e.prof().SiteFlags = SiteFlag::TitleListFile;
    Add(u"一");
    Add(u"");
    Add(u"three/3");
    const auto file = PathFromText(e.st.task.albumFolder + u"Trip.txt");
    EXPECT_FALSE(std::filesystem::exists(file));  // no rewrite of the whole file per picture
    ASSERT_TRUE(WriteTitleList(e.st.task, u"Trip"));
    EXPECT_EQ(FileText(file), "\xFF\xFE" + ToUtf16Le(u"一\r\n\r\nthree/3\r\n"));
    // The next download of the album starts the list afresh.
    e.NextAlbum();
    Add(u"again");
    ASSERT_TRUE(WriteTitleList(e.st.task, u"Trip"));
    EXPECT_EQ(FileText(file), "\xFF\xFE" + ToUtf16Le(u"again\r\n"));
}

// Hostile album names and titles under a save folder with blanks and CJK characters: every name
// stays one harmless component inside the save folder, and every file can be written and read.
TEST(NamingHostile, NothingLeavesTheSaveFolder) {
    Engine e(" 保存 目录 ");
    const std::vector<Text> hostile = {u"../../x",
                                       u"/etc/passwd",
                                       u"C:\\Windows\\x",
                                       u"CON",
                                       Text(300, u'画'),
                                       u"a\x01\x1F\x7F\r\nb",
                                       u"....",
                                       u"..",
                                       u".",
                                       u"\\\\server\\share",
                                       u"%2e%2e%2fx",
                                       u"&#39;..&#39;/y"};
    e.prof().SiteFlags = SiteFlag::TitleListFile;
    for (uint8_t mode : {0, 2}) {
        e.prof().NameMode = mode;
        for (const Text& albumName : hostile) {
            const int album = e.Album(albumName);
            e.NextAlbum();
            for (const Text& title : hostile) e.Add(album, u"http://h/" + title, title);
            WriteTitleList(e.st.task, e.st.album.record.Name);
            ASSERT_EQ(e.st.task.fileNames.size(), hostile.size());
            const auto folder = PathFromText(e.st.task.albumFolder);
            EXPECT_TRUE(IsInsideFolder(e.dir.path(), std::filesystem::weakly_canonical(folder)));
            for (const Text& name : e.st.task.fileNames) {
                EXPECT_TRUE(IsSafeComponent(name)) << ToUtf8(name);
                const auto file = PathFromText(e.st.task.albumFolder + name);
                ASSERT_TRUE(WriteFileAtomic(file, "data")) << file;
                EXPECT_EQ(FileText(file), "data");
            }
        }
    }
    // Everything written is below the save folder, and nothing climbed up next to it.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(e.dir.path()))
        EXPECT_TRUE(IsInsideFolder(e.dir.path(), std::filesystem::weakly_canonical(entry.path())));
    EXPECT_FALSE(std::filesystem::exists(e.dir.path().parent_path() / "x"));
}

TEST(SafeName, ComponentsAndFolders) {
    EXPECT_TRUE(IsInsideFolder("/a/b/", "/a/b/c.jpg"));
    EXPECT_TRUE(IsInsideFolder("/a/b", "/a/b/c/d"));
    EXPECT_FALSE(IsInsideFolder("/a/b/", "/a/b/../c.jpg"));
    EXPECT_FALSE(IsInsideFolder("/a/b/", "/a/b/"));
    EXPECT_FALSE(IsInsideFolder("/a/b/", "/a/bc/x"));
    EXPECT_FALSE(IsInsideFolder("/a/b/", "/etc/passwd"));
    EXPECT_FALSE(IsSafeComponent(u".."));
    EXPECT_FALSE(IsSafeComponent(u"a/b"));
    EXPECT_FALSE(IsSafeComponent(Text(u"a\0b", 3)));
    // Cutting never splits a surrogate pair.
    const Text emoji = u"a\U0001F600";
    EXPECT_EQ(CutToUnits(emoji, 2), u"a");
    EXPECT_EQ(CutToUtf8Bytes(emoji, 4), u"a");
    EXPECT_EQ(CutToUtf8Bytes(emoji, 5), emoji);
    EXPECT_EQ(FitFileName(Text(100, u'山') + u".txt", 40), Text(12, u'山') + u".txt");
}

}  // namespace
}  // namespace qm::test
