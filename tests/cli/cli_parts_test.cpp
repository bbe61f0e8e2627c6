// Pieces of the terminal front end that the end-to-end runs do not reach: album selections, the
// note of a numbered privacy value, the command line, the terminal's width and progress texts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "TempFolder.h"
#include "app/cli/CliPresenter.h"
#include "app/cli/TerminalText.h"
#include "app/cli/AlbumTableText.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Console.h"
#include "app/cli/FirefoxCookies.h"
#include "app/cli/Commands.h"
#include "app/cli/ReportTable.h"
#include "app/cli/TargetFile.h"
#include "net/FileUtil.h"

#include <sqlite3.h>

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

TEST(CommandLine, ValuesThatLookLikeOptionsShortFormsAndTheGlobalsAfterTheCommand) {
    CliOptions o;
    ASSERT_EQ(ParseCommandLine({"settings", "set", "FolderSuffix", "-?4"}, o), -1);
    EXPECT_EQ(o.settings.action, SettingsOptions::Action::Set);
    EXPECT_EQ(o.settings.key, "FolderSuffix");
    EXPECT_EQ(o.settings.value, "-?4");
    CliOptions n;
    ASSERT_EQ(ParseCommandLine({"settings", "set", "MinSizeKB", "-1"}, n), -1);
    EXPECT_EQ(n.settings.value, "-1");

    CliOptions l;
    ASSERT_EQ(ParseCommandLine({"list", "-k", "group", "-ftsv", "-y", "--demo", "-P", "dir", "--", "-5"}, l), -1);
    EXPECT_EQ(l.command, Command::List);
    EXPECT_EQ(l.list.target, "-5");
    EXPECT_EQ(l.list.kind, "group");
    EXPECT_EQ(l.list.format, "tsv");
    EXPECT_EQ(l.list.answer, std::optional<bool>(true));
    EXPECT_TRUE(l.global.demo);
    EXPECT_EQ(l.global.programFolder, "dir");

    CliOptions c;
    ASSERT_EQ(ParseCommandLine({"cookies", "import", "--from-browser", "firefox", "--profile", "p"}, c), -1);
    EXPECT_EQ(c.cookies.action, CookiesOptions::Action::ImportBrowser);
    EXPECT_EQ(c.cookies.profile, "p");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"list", "1", "--bogus"}, {"list", "1", "2"}, {"list", "1", "--yes", "--no"},
          {"download", "1"}, {"settings", "set", "ThreadCount"}, {"cookies", "import", "a", "--profile", "p"}, {}}) {
        CliOptions b;
        EXPECT_EQ(ParseCommandLine(bad, b), ExitUsage) << (bad.empty() ? "" : bad.back());
    }
}

TEST(TerminalWidth, ProgressLinesNeverWrapAndDumbTerminalsGetLines) {
    // A bar beside its counts, and a line of wide characters, in a 40-column terminal.
    const std::string counts = "[] 1234/5678  相册 12/34";
    const int cells = BarCells(40, static_cast<int>(counts.size()), 30);
    const std::string bar = "[" + std::string(static_cast<std::size_t>(cells), '#') + "] 1234/5678  相册 12/34";
    EXPECT_LE(static_cast<int>(bar.size()), 39);
    EXPECT_EQ(FitToColumns(bar, 40), bar);
    const std::string wide = ToUtf8(u"已获取到1200张图片信息已获取到1200张图片信息  相册 1/9");
    const std::string cut = FitToColumns(wide, 40);
    EXPECT_LE(DisplayWidth(FromUtf8(cut)), 39);
    EXPECT_EQ(wide.rfind(cut, 0), 0u);  // a prefix, cut between characters
    EXPECT_EQ(FitToColumns(ToUtf8(u"家庭家庭"), 4), ToUtf8(u"家"));

    EXPECT_EQ(ChooseProgressStyle(true, "xterm-256color", false), ProgressStyle::Bar);
    EXPECT_EQ(ChooseProgressStyle(true, "dumb", false), ProgressStyle::Lines);
    EXPECT_EQ(ChooseProgressStyle(false, "xterm", false), ProgressStyle::Lines);
    EXPECT_EQ(ChooseProgressStyle(true, "xterm", true), ProgressStyle::None);
}

TEST(CookieDomains, OnlyTheFamilyAndItsSubDomains) {
    for (const char* d : {"qq.com", ".qq.com", "user.qzone.qq.com", "QZone.QQ.com", "qzone.com", "a.qpic.cn"})
        EXPECT_TRUE(IsFamilyDomain(d)) << d;
    for (const char* d : {"evilqq.com", "qq.com.example.net", "example.com", "", "com"})
        EXPECT_FALSE(IsFamilyDomain(d)) << d;
}

// True when the bytes hold something a terminal acts on or that reorders its line: C0 but tab and
// line feed, DEL, C1 (as UTF-8 or a lone byte), U+2028/9, the bidirectional controls.
bool ActsOnTerminal(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F) return true;
        if (c >= 0x80 && c <= 0x9F && (i == 0 || static_cast<unsigned char>(s[i - 1]) < 0x80)) return true;
        if (s.substr(i, 3) == "\xe2\x80\xa8" || s.substr(i, 3) == "\xe2\x80\xae") return true;
    }
    return false;
}

TEST(TerminalText, ServerBytesNeverDriveTheTerminal) {
    // An escape sequence, a bell, a C1 control and a line feed in a name come out as visible escapes.
    EXPECT_EQ(EscapeControls(Text(u"a\x1b[2Jb\x07" u"c\x9b" u"d\ne")), "a\\x1b[2Jb\\x07c\\x9bd\\ne");
    EXPECT_EQ(EscapeControls(Text(u"旅行照片")), "旅行照片");
    EXPECT_EQ(EscapeControls(Text(u"x\u2028y\u202Ez\u2066")), "x\\u2028y\\u202ez\\u2066");
    EXPECT_EQ(EscapeControls(std::string_view("a\x9b[2J")), "a\\x9b[2J");  // a lone byte, not UTF-8

    // Every format of the album list, the chosen-album lines among them (the table on stderr).
    ST_PERLISTRECORD r;
    r.Name = u"旅行\x85\u2028\u202Egpj.exe\x1b]0;t\x07";
    r.PictureCount = 2;
    for (ListFormat f : {ListFormat::Table, ListFormat::Tsv, ListFormat::Json}) {
        const std::string out = RenderAlbums({r}, f);
        EXPECT_FALSE(ActsOnTerminal(out)) << out;
    }
    EXPECT_NE(RenderAlbums({r}, ListFormat::Table).find("旅行\\x85\\u2028\\u202egpj.exe\\x1b]0;t\\x07"),
              std::string::npos);
    // JSON stays valid and gives the name back as the server wrote it.
    const auto list = nlohmann::json::parse(RenderAlbums({r}, ListFormat::Json));
    EXPECT_EQ(list[0]["名称"].get<std::string>(), ToUtf8(r.Name));

    // The download's JSON events: a file name the server chose.
    CliPresenter fe;
    fe.JsonEvents(true);
    PictureOutcome p;
    p.fileName = u"\u202Egpj.jpg\x9b";
    p.status = PictureStatus::Saved;
    ::testing::internal::CaptureStdout();
    fe.PictureFinished(p, 1, 1);
    const std::string event = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ActsOnTerminal(event)) << event;
    EXPECT_EQ(nlohmann::json::parse(event)["file"].get<std::string>(), ToUtf8(p.fileName));
}

// --input is read as a stream within bounds: comments and blanks skipped, a line or a count past
// the bound refused with where it is, and a Ctrl-C ends a read that waits on a silent pipe.
TEST(TargetFile, BoundedStreamThatACtrlCEnds) {
    qm::test::TempFolder dir{"qm-input-"};
    const std::filesystem::path file = dir.path() / "targets.txt";
    auto never = [] { return false; };
    std::vector<std::string> targets;
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(file, "# mine\n 123456789 \r\n\n345678901\nhttp://t.qq.com/x"));
    EXPECT_EQ(ReadTargetFile(file.string(), targets, error, never), TargetFileEnd::Read);
    EXPECT_EQ(targets, (std::vector<std::string>{"123456789", "345678901", "http://t.qq.com/x"}));

    targets.clear();
    ASSERT_TRUE(WriteFileAtomic(file, "1\n2\n" + std::string(kMaxInputLine + 1, '9') + "\n3\n"));
    EXPECT_EQ(ReadTargetFile(file.string(), targets, error, never), TargetFileEnd::LineTooLong);
    EXPECT_NE(error.find("第 3 行"), std::string::npos) << error;

    std::string many;
    for (size_t i = 0; i <= kMaxInputTargets; ++i) many += std::to_string(100000 + i) + "\n";
    ASSERT_TRUE(WriteFileAtomic(file, many));
    targets.clear();
    EXPECT_EQ(ReadTargetFile(file.string(), targets, error, never), TargetFileEnd::TooMany);
    EXPECT_EQ(targets.size(), kMaxInputTargets);

    // A pipe whose writer says nothing: the read waits until the interruption is seen.
    const std::filesystem::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR);  // keeps the pipe open without writing
    ASSERT_GE(writer, 0);
    int asked = 0;
    targets.clear();
    EXPECT_EQ(ReadTargetFile(fifo.string(), targets, error, [&] { return ++asked > 3; }), TargetFileEnd::Interrupted);
    ::close(writer);
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
              "0001  旅行     5     2       1     1       3  连接失败（reset\\x1b[2J） ×1\n"
              "\n"
              "QQ群 345678901\n"
              "序号  名称  应有  列出  已保存  失败  未列出  原因\n"
              "0001  班级  未知     3       0     0       0\n");

    const std::string save = dir.path().string();
    EXPECT_EQ(RunCli({"report", "--save", save}), ExitFailure);

    // A row whose folder climbs out of the save folder (a planted or damaged archive): nothing
    // outside is looked at, and the report says so. The file outside has the recorded name and size.
    const std::filesystem::path outside = dir.path().parent_path() / (dir.path().filename().string() + "-outside");
    std::filesystem::create_directories(outside);
    ASSERT_TRUE(WriteFileAtomic(outside / "1.jpg", "abc"));
    {
        ArchiveOpenError err;
        auto a = Archive::Open(dir.path(), err);
        ASSERT_TRUE(a);
        const int64_t k = a->AlbumKey({TargetKind::QZone, "123456789"}, {"evil", "外面", dir.path() / "x", 1});
        a->RecordSaved(k, {"p9", "1.jpg", 3, ""});
        AlbumOutcome o;
        o.listed = 1;
        o.saved = 1;
        a->FinishAlbum(k, o);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / kArchiveFileName).c_str(), &db), SQLITE_OK);
    const std::string climb = "UPDATE album SET folder='../" + outside.filename().string() + "' WHERE album_id='evil'";
    ASSERT_EQ(sqlite3_exec(db, climb.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ArchiveOpenError reopen;
    const auto reports = Archive::Open(dir.path(), reopen)->Report();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(reports[1].folder.empty());
    EXPECT_EQ(reports[1].saved, 0u);
    EXPECT_FALSE(ReportComplete(reports[1]));
    EXPECT_NE(ReportReason(reports[1]).find("记录的文件夹不在保存文件夹内"), std::string::npos);
    std::filesystem::remove_all(outside);
    EXPECT_EQ(RunCli({"report", "--save", (dir.path() / "none").string()}), ExitFailure);
    EXPECT_EQ(RunCli({"report"}), ExitUsage);
}

}  // namespace
}  // namespace qm::cli
