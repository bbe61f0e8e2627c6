// Pieces of the terminal front end that the end-to-end runs do not reach: album selections, the
// note of a numbered privacy value, argument words and progress texts.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "app/cli/CliPresenter.h"
#include "app/cli/TerminalText.h"
#include "app/cli/AlbumTableText.h"
#include "app/cli/Args.h"
#include "app/cli/Commands.h"
#include "app/cli/ReportTable.h"
#include "net/FileUtil.h"

namespace qm::cli {
namespace {

TEST(AlbumSelection, AllListsAndRanges) {
    std::vector<int> out;
    std::string err;
    ASSERT_TRUE(ParseAlbumSelection("all", 3, out, err));
    EXPECT_EQ(out, (std::vector<int>{0, 1, 2}));
    ASSERT_TRUE(ParseAlbumSelection("5,1,3-4,3", 5, out, err));
    EXPECT_EQ(out, (std::vector<int>{0, 2, 3, 4}));  // table order, each once
    for (const char* bad : {"", "0", "6", "3-1", "1,,2", "a", "1-", "-2", "2-99999999999", "1;2"})
        EXPECT_FALSE(ParseAlbumSelection(bad, 5, out, err)) << bad;
}

TEST(AlbumCells, NotesAndCounts) {
    EXPECT_EQ(PrivacyNote(0), u"");
    EXPECT_EQ(PrivacyNote(PrivacyEncrypted | PrivacyPrivate), u"加密相册");  // first bit wins
    EXPECT_EQ(PrivacyNote(PrivacyPrivate | PrivacyFriends), u"私密相册");
    EXPECT_EQ(PrivacyNote(0x80000000u | 1234u), u"00001234");  // a number, not bits
    ST_PERLISTRECORD r;
    r.PictureCount = 12345;
    EXPECT_EQ(CellsOf(r, 7).count, u"12345");
    EXPECT_EQ(CellsOf(r, 7).number, u"0007");
    r.PictureCount = -1;
    EXPECT_EQ(CellsOf(r, 10000).count, u"未知");
    EXPECT_EQ(CellsOf(r, 10000).number, u"10000");
}

TEST(AlbumCells, TsvRowsNeverSplit) {
    ST_PERLISTRECORD r;
    r.Name = u"a\tb\nc";
    r.PictureCount = 1;
    EXPECT_EQ(RenderAlbums({r}, ListFormat::Tsv), "0001\ta b c\t   1\t\n");
    EXPECT_EQ(RenderAlbums({}, ListFormat::Json), "[]\n");
    EXPECT_EQ(DisplayWidth(u"ab家庭"), 6);
}

TEST(ArgsWords, ValuesFlagsAndNegativeNumbers) {
    Args a;
    std::string err;
    ASSERT_TRUE(ParseArgs({"set", "MinSizeKB", "-1", "--kind=group", "--format", "tsv", "--yes", "--", "--x"},
                          {"--kind", "--format"}, {"--yes"}, a, err));
    EXPECT_EQ(a.positional, (std::vector<std::string>{"set", "MinSizeKB", "-1", "--x"}));
    EXPECT_EQ(*a.Value("--kind"), "group");
    EXPECT_EQ(*a.Value("--format"), "tsv");
    EXPECT_TRUE(a.Has("--yes"));
    Args b;
    EXPECT_FALSE(ParseArgs({"--format"}, {"--format"}, {}, b, err));
    EXPECT_FALSE(ParseArgs({"--yes=1"}, {}, {"--yes"}, b, err));
    EXPECT_FALSE(ParseArgs({"-q"}, {}, {}, b, err));
}

TEST(TerminalText, ServerBytesNeverDriveTheTerminal) {
    // An escape sequence, a bell, a C1 control and a line feed in a name come out as visible escapes.
    EXPECT_EQ(EscapeControls(Text(u"a\x1b[2Jb\x07" u"c\x9b" u"d\ne")), "a\\x1b[2Jb\\x07c\\x9bd\\ne");
    EXPECT_EQ(EscapeControls(Text(u"旅行照片")), "旅行照片");
}

TEST(Summary, OneAlignedTableWithReasonsAndTheFailedPictures) {
    ListResult list;
    ST_PERLISTRECORD a, b;
    a.Name = u"旅行照片";
    b.Name = u"x\x1b]0;pwned\x07";
    list.albums = {a, b};
    JobOutcome o;
    AlbumOutcome one;
    one.index = 0;
    one.name = a.Name;
    one.listed = 3;
    one.saved = 2;
    one.failed = 1;
    PictureOutcome p;
    p.fileName = u"p3.jpg";
    p.failure = Failure{FailureKind::HttpStatus, 500, {}};
    one.failures = {p};
    AlbumOutcome two;
    two.index = 1;
    two.name = b.Name;
    two.reason = AlbumReason::NoAccess;
    o.albums = {one, two};

    const std::string text = RenderSummary(list, o);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    const auto nl = text.find('\n');
    EXPECT_EQ(text.rfind("序号  名称  ", 0), 0u) << text;
    EXPECT_NE(text.substr(0, nl).find("  列出  已保存  已有  失败  原因"), std::string::npos) << text;
    EXPECT_NE(text.find("3       2     0     1  1 张失败\n"), std::string::npos) << text;
    EXPECT_NE(text.find("无权访问"), std::string::npos);
    EXPECT_NE(text.find("旅行照片/p3.jpg: HTTP 500"), std::string::npos) << text;
}

TEST(Kinds, WordsAndAddresses) {
    int kind = -1;
    const std::string group = "group";
    EXPECT_TRUE(ResolveKind(&group, u"http://t.qq.com/x", kind));
    EXPECT_EQ(kind, 1);
    EXPECT_TRUE(ResolveKind(nullptr, u"http://t.qq.com/someone", kind));
    EXPECT_EQ(kind, 2);
    EXPECT_TRUE(ResolveKind(nullptr, u"http://qun.qzone.qq.com/group#!/12345/album", kind));
    EXPECT_EQ(kind, 1);
    EXPECT_TRUE(ResolveKind(nullptr, u"123456789", kind));
    EXPECT_EQ(kind, 0);
    const std::string blog = "blog";
    EXPECT_FALSE(ResolveKind(&blog, u"1", kind));
}

// The report of a save folder's archive: one aligned table per target, reasons escaped, and the
// exit status that says whether every album is complete.
TEST(ReportCommand, TablesPerTargetFromTheArchiveAlone) {
    qm::test::TempFolder dir{"qm-report-"};
    const std::filesystem::path album = dir.path() / "123456789" / "旅行";
    std::filesystem::create_directories(album);
    ASSERT_TRUE(WriteFileAtomic(album / "1.jpg", "abc"));
    {
        ArchiveOpenError err;
        auto a = Archive::Open(dir.path(), err);
        ASSERT_TRUE(a);
        const int64_t k = a->AlbumKey({TargetKind::QZone, "123456789"}, {"V1", "旅行", album, 5});
        a->RecordSaved(k, {"p1", "1.jpg", 3, ""});
        a->RecordFailed(k, "p2", {FailureKind::Connection, 0, "reset\x1b[2J"});
        AlbumOutcome o;
        o.expected = 5;
        o.listed = 2;
        o.saved = 1;
        o.failed = 1;
        a->FinishAlbum(k, o);
        const int64_t g =
            a->AlbumKey({TargetKind::Group, "345678901"}, {"qun1", "班级", dir.path() / "g", -1});
        o = {};
        o.listed = 3;
        o.alreadyHad = 3;
        a->FinishAlbum(g, o);  // its pictures were never recorded: not complete
    }
    ArchiveOpenError openError;
    const std::string table =
        RenderReport(Archive::Open(dir.path(), openError)->Report(), ReportFormat::Table);
    EXPECT_EQ(table,
              "QQ空间 123456789\n"
              "序号  名称  应有  列出  已保存  失败  未列出  原因\n"
              "0001  旅行     5     2       1     1       3  连接失败（reset\\x1B[2J） ×1\n"
              "\n"
              "QQ群 345678901\n"
              "序号  名称  应有  列出  已保存  失败  未列出  原因\n"
              "0001  班级  未知     3       0     0       0\n");

    const std::string save = dir.path().string();
    EXPECT_EQ(RunCli({"report", "--save", save}), ExitFailure);
    EXPECT_EQ(RunCli({"report", "--save", (dir.path() / "none").string()}), ExitFailure);
    EXPECT_EQ(RunCli({"report"}), ExitUsage);
}

}  // namespace
}  // namespace qm::cli
