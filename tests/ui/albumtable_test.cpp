// The album table: cell texts, filter, search, CSV export, thumbnail mode and its stop question.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <thread>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "support/UiTestSupport.h"
#include "ui/CoverThumbnail.h"
#include "ui/CsvExport.h"
#include "ui/DlgFind.h"
#include "ui/LinkLabel.h"
#include "ui/MyGridCtrl.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;

namespace {

ST_PERLISTRECORD Album(const Text& name, int32_t count = 3, uint32_t privacy = 0, const Text& cover = {}) {
    ST_PERLISTRECORD r;
    r.Name = name;
    r.PictureCount = count;
    r.PrivacyFlags = privacy;
    r.CoverUrl = cover;
    return r;
}

// Appends records as the list job would and lets the rows arrive.
void AddAlbums(CQuillmossDlg& w, const std::vector<ST_PERLISTRECORD>& recs) {
    for (const auto& r : recs) {
        const std::size_t n = w.State().albums.AppendRecord(r);
        w.AddAlbumRow(static_cast<int>(n - 1));
    }
}

void SwitchThumbnails(CQuillmossDlg& w, bool on) {
    auto* box = qobject_cast<QCheckBox*>(w.Control(Ctl::Thumbnails));
    box->setChecked(on);
    w.OnThumbnailBox(on);
}

}  // namespace

TEST(AlbumTableCells, FormatsCountsAndPrivacy) {
    EXPECT_EQ(ListRowTexts(0, Album(u"a", -1))[2], "未知");
    EXPECT_EQ(ListRowTexts(0, Album(u"a", 7))[2], "   7");
    const auto t = ListRowTexts(41, Album(u"名字", 1234, PrivacyPrivate | PrivacyFriends));
    EXPECT_EQ(t[0], "0042");
    EXPECT_EQ(t[1], "名字");
    EXPECT_EQ(t[3], "私密相册");
    EXPECT_EQ(ListRowTexts(0, Album(u"a", 1, PrivacyEncrypted | PrivacyPrivate))[3], "加密相册");
    EXPECT_EQ(ListRowTexts(0, Album(u"a", 1, PrivacyFriends))[3], "好友可见");
    EXPECT_EQ(ListRowTexts(0, Album(u"a", 1, 0x80000000u | 77u))[3], "00000077");
    EXPECT_EQ(ListRowTexts(0, Album(u"a", 1, 0))[3], "");
}

TEST(AlbumTableRows, LongNamesAreCutInTheRecordAndRowsCarryTheAlbumIndex) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    AddAlbums(w, {Album(Text(100, u'长')), Album(u"b")});
    ASSERT_EQ(w.Grid()->RowCount(), 2);
    EXPECT_EQ(w.State().albums.Get(0)->Name, Text(80, u'长'));  // the record is cut when appended
    EXPECT_EQ(w.Grid()->CellText(0, 1), QString(80, QChar(u'长')));
    EXPECT_EQ(w.Grid()->CellData(1, 0), 1);
    w.Grid()->selectRow(1);
    EXPECT_EQ(w.Grid()->SelectedAlbums(static_cast<int>(w.State().albums.Count())), std::vector<int>({1}));
}

TEST(AlbumTableFilter, NoMatchLeavesOnlyTheHeaderAndTheNextSwitchListsAll) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    std::vector<ST_PERLISTRECORD> recs;
    for (int i = 0; i < 13; ++i) recs.push_back(Album(FormatText("album %d", i)));
    AddAlbums(w, recs);
    w.ApplyFilter("album 1");
    EXPECT_EQ(w.Grid()->RowCount(), 4);  // album 1, 10, 11, 12
    EXPECT_EQ(w.Grid()->CellData(1, 0), 10);
    EXPECT_EQ(w.Grid()->CellText(1, 0), "0002");  // rows are numbered by table row
    w.ApplyFilter("nothing like it");
    EXPECT_EQ(w.Grid()->RowCount(), 0);

    // The next mode switch lists every album: 13 cells in rows of 6, 6 and 1.
    SwitchThumbnails(w, true);
    ASSERT_TRUE(WaitUntil([&] {
        return w.State().ThumbJobState.load() == 0 && w.Grid()->RowCount() == 3 &&
               w.Grid()->CellData(2, 0) == 12;
    }));
    EXPECT_EQ(w.Grid()->CellText(2, 0), "13.album 12");
    EXPECT_EQ(w.Grid()->CellData(2, 1), -1);
    EXPECT_EQ(w.Grid()->rowHeight(0), kThumbRowHeight);
    // In thumbnail mode the selection is by cell, limited to real albums.
    w.Grid()->selectAll();
    EXPECT_EQ(w.Grid()->SelectedAlbums(static_cast<int>(w.State().albums.Count())).size(), 13u);
    EXPECT_FALSE(w.Control(Ctl::FindLink)->isEnabled());

    SwitchThumbnails(w, false);
    ASSERT_TRUE(WaitUntil([&] { return w.State().ThumbJobState.load() == 0 && w.Grid()->RowCount() == 13; }));
    EXPECT_TRUE(w.Control(Ctl::FindLink)->isEnabled());
}

// A filter in force is visible and can be lifted; the chosen albums survive it, and an empty
// keyword (Return in an empty box) neither filters nor clears the choice.
TEST(AlbumTableFilter, IsShownKeepsTheChoiceAndCanBeLifted) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    AddAlbums(w, {Album(u"家庭"), Album(u"旅行"), Album(u"家人"), Album(u"风景")});
    auto* group = qobject_cast<QGroupBox*>(w.Control(Ctl::AlbumGroup));
    auto* link = static_cast<LinkLabel*>(w.Control(Ctl::FilterLink));
    w.Grid()->SelectAlbums({1, 2});

    w.ApplyFilter("");
    EXPECT_EQ(w.Grid()->RowCount(), 4);
    EXPECT_EQ(w.Grid()->SelectedAlbums(4), std::vector<int>({1, 2}));

    w.ApplyFilter("家");
    EXPECT_EQ(w.Grid()->RowCount(), 2);
    EXPECT_EQ(w.ActiveFilter(), "家");
    EXPECT_EQ(group->title(), "相册列表(共4个，筛选“家”，显示2个)");
    EXPECT_EQ(link->Caption(), "取消筛选");
    EXPECT_EQ(w.Grid()->SelectedAlbums(4), std::vector<int>({2}));  // 旅行 is out of sight

    w.OnFilterLink();  // "取消筛选"
    EXPECT_EQ(w.Grid()->RowCount(), 4);
    EXPECT_EQ(group->title(), "相册列表(共4个)");
    EXPECT_EQ(link->Caption(), "筛选");
    EXPECT_EQ(w.Grid()->SelectedAlbums(4), std::vector<int>({2}));
}

// The albums chosen in the list stay chosen in the thumbnail view, and the other way round.
TEST(AlbumTableThumbnails, SwitchingCarriesTheChoice) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    std::vector<ST_PERLISTRECORD> recs;
    for (int i = 0; i < 8; ++i) recs.push_back(Album(FormatText("album %d", i)));
    AddAlbums(w, recs);
    w.Grid()->SelectAlbums({0, 6});
    SwitchThumbnails(w, true);
    ASSERT_TRUE(WaitUntil([&] { return w.State().ThumbJobState.load() == 0 && w.Grid()->SelectedAlbums(8).size() == 2; }));
    EXPECT_EQ(w.Grid()->SelectedAlbums(8), std::vector<int>({0, 6}));
    w.Grid()->SelectAlbums({3});
    SwitchThumbnails(w, false);
    ASSERT_TRUE(WaitUntil([&] { return w.State().ThumbJobState.load() == 0 && w.Grid()->RowCount() == 8; }));
    WaitUntil([&] { return w.Grid()->SelectedAlbums(8) == std::vector<int>({3}); }, 2000);
    EXPECT_EQ(w.Grid()->SelectedAlbums(8), std::vector<int>({3}));
}

// The thumbnail grid has as many columns as its width holds (at least one); cells, selection and
// focus follow the album, not the cell position, across every resize.
TEST(AlbumTableThumbnails, ColumnsFollowTheWidthAndTheChoiceStays) {
    CMyGridCtrl g;
    g.ResetTable(true);
    EXPECT_EQ(g.Model().columnCount(), kDefaultThumbsPerRow);  // never shown: no width of its own
    for (int i = 0; i < 13; ++i) g.SetThumbCell(i, Album(FormatText("album %d", i)), -1);
    g.SelectAlbums({2, 9});
    g.setCurrentIndex(g.model()->index(9 / kDefaultThumbsPerRow, 9 % kDefaultThumbsPerRow));
    g.SelectAlbums({2, 9});
    g.show();
    const int cell = kThumbWidth + 2 * kCellMargin;
    EXPECT_EQ(CMyGridCtrl::ThumbsPerRowFor(0), 1);
    EXPECT_EQ(CMyGridCtrl::ThumbsPerRowFor(3 * cell + cell / 2), 3);

    struct Case {
        int width, columns;
    };
    // The view's width less its frame and a scroll bar still holds the columns named.
    for (const Case c : {Case{3 * cell + 40, 3}, Case{12 * cell + 40, 12}, Case{cell / 2, 1}, Case{5 * cell + 40, 5}}) {
        SCOPED_TRACE(c.width);
        g.resize(c.width, 4 * kThumbRowHeight);
        ASSERT_TRUE(WaitUntil([&] { return g.Model().columnCount() == c.columns; }, 2000))
            << g.Model().columnCount() << " columns in " << g.viewport()->width();
        EXPECT_EQ(g.Model().columnCount(), CMyGridCtrl::ThumbsPerRowFor(g.viewport()->width()));
        EXPECT_EQ(g.RowCount(), (13 + c.columns - 1) / c.columns);
        for (int album = 0; album < 13; ++album) {
            EXPECT_EQ(g.CellData(album / c.columns, album % c.columns), album);
            EXPECT_EQ(g.CellText(album / c.columns, album % c.columns), ThumbCaption(album, FormatText("album %d", album)));
        }
        if (13 % c.columns) {
            EXPECT_EQ(g.CellData(g.RowCount() - 1, 13 % c.columns), -1);
        }
        EXPECT_EQ(g.SelectedAlbums(13), std::vector<int>({2, 9}));
        EXPECT_EQ(g.CellData(g.currentIndex().row(), g.currentIndex().column()), 9);
        for (int col = 0; col < c.columns; ++col) EXPECT_EQ(g.columnWidth(col), cell);
    }
    // A click picks the album under the pointer at the new layout (5 columns: album 7 is row 1,
    // column 2), and a cover arriving late lands in its album's cell.
    QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.visualRect(g.model()->index(1, 2)).center());
    EXPECT_EQ(g.SelectedAlbums(13), std::vector<int>({7}));
    g.SetThumbCell(13, Album(u"late"), -1);
    EXPECT_EQ(g.CellData(2, 3), 13);
    EXPECT_EQ(g.RowCount(), 3);
    g.SetThumbCell(16, Album(u"later"), -1);
    EXPECT_EQ(g.RowCount(), 4);
    EXPECT_EQ(g.CellData(3, 0), -1);  // the gap before it stays empty
    EXPECT_EQ(g.CellData(3, 1), 16);
    g.selectAll();
    EXPECT_EQ(g.SelectedAlbums(17), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16}));
}

// 查找 and 筛选 open with the keyboard in their keyword box.
TEST(AlbumTableSearch, BarsOpenWithTheKeyboardInTheKeyword) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.OnFindLink();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == w.FindBar()->KeywordEdit(); }, 2000));
    QTest::keyClicks(QApplication::focusWidget(), "abc");
    EXPECT_EQ(w.FindBar()->KeywordEdit()->text(), "abc");

    CDlgFind filter(CDlgFind::Mode::Filter, &w);
    filter.show();
    filter.activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == filter.KeywordEdit(); }, 2000));
}

TEST(AlbumTableSearch, ForwardWrapsAndWholeCellRefusesPartialMatches) {
    BoxRecorder boxes;
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    AddAlbums(w, {Album(u"Beach"), Album(u"city"), Album(u"mountains"), Album(u"beach day")});
    CMyGridCtrl* g = w.Grid();
    g->setCurrentIndex(g->model()->index(3, 0));                  // the last row has the focus
    EXPECT_FALSE(g->FindInTable(3, "beach", true, true, false));  // nothing after the last row
    w.OnFindLink();
    w.FindBar()->KeywordEdit()->setText("  beach ");
    EXPECT_TRUE(w.SearchNext(true));  // wraps to the first album row
    EXPECT_EQ(g->FocusRow(), 0);
    EXPECT_TRUE(w.SearchNext(true));
    EXPECT_EQ(g->FocusRow(), 3);
    EXPECT_TRUE(w.SearchNext(false));
    EXPECT_EQ(g->FocusRow(), 0);

    w.FindBar()->CaseBox()->setChecked(true);  // "Beach" no longer matches "beach"
    EXPECT_TRUE(w.SearchNext(true));
    EXPECT_EQ(g->FocusRow(), 3);
    w.FindBar()->CaseBox()->setChecked(false);
    w.FindBar()->WholeBox()->setChecked(true);
    w.FindBar()->KeywordEdit()->setText("mountain");
    EXPECT_FALSE(w.SearchNext(true));
    w.FindBar()->KeywordEdit()->setText("MOUNTAINS");
    EXPECT_TRUE(w.SearchNext(true));
    EXPECT_EQ(g->FocusRow(), 2);

    w.FindBar()->KeywordEdit()->setText("   ");
    EXPECT_FALSE(w.SearchNext(true));
    EXPECT_EQ(boxes.Texts(), QStringList({"关键字不能为空"}));
}

TEST(AlbumTableExport, QuotesCommasAndWritesGbkLines) {
    const std::vector<std::vector<QString>> rows = {
        {"0001", "a,b", "   3", "", "", ""},
        {"0002", "say \"hi\" it's", "未知", "私密相册", "", ""},
    };
    std::string expected = "0001,a','b,   3,,,,\r\n";
    expected += "0002,say \"\"hi\"\" its,";
    expected += "\xce\xb4\xd6\xaa,\xcb\xbd\xc3\xdc\xcf\xe0\xb2\xe1,,,\r\n";  // 未知 私密相册 in GBK
    EXPECT_EQ(BuildCsv(rows), expected);

    const qm::test::TempFolder folder;
    const QString dirPath = QString::fromStdString(folder.path().string());
    const QString path = WithCsvSuffix(dirPath + "/albums");
    EXPECT_TRUE(path.endsWith("albums.csv"));
    EXPECT_EQ(WithCsvSuffix("x.txt"), "x.txt");
    ASSERT_TRUE(WriteCsv(path, rows));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), expected);
    EXPECT_EQ(QDir(dirPath).entryList(QDir::Files), QStringList({"albums.csv"}));  // no temporary left
}

TEST(AlbumTableThumbnails, CoversAreStretchedToTheCellSize) {
    QImage wide(400, 100, QImage::Format_ARGB32);
    wide.fill(Qt::red);
    const QImage t = ScaleCover(wide);
    EXPECT_EQ(t.size(), QSize(kThumbWidth, kThumbHeight));
    EXPECT_EQ(t.format(), QImage::Format_RGB888);
    EXPECT_TRUE(LoadCover(u"/nonexistent/", 0, u"123").isNull());  // the mood album has no cover
}

TEST(AlbumTableThumbnails, SecondClickAnsweredYesStopsTheCoverLoading) {
    // Covers come slowly from a loopback server.
    qm::test::LoopbackServer server;
    std::atomic<int> served{0};
    QImage png(20, 20, QImage::Format_RGB32);
    png.fill(Qt::blue);
    QByteArray bytes;
    {
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        png.save(&buf, "PNG");
    }
    server.Http().Get(R"(/cover/(\d+)\.png)", [&](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ++served;
        res.set_content(bytes.toStdString(), "image/png");
    });
    const int port = server.Start();

    BoxRecorder boxes;
    boxes.answer = true;
    {
        WindowFixture f;
        CQuillmossDlg& w = *f.window;
        std::vector<ST_PERLISTRECORD> recs;
        for (int i = 0; i < 30; ++i)
            recs.push_back(
                Album(FormatText("a%d", i), 1, 0, FormatText("http://127.0.0.1:%d/cover/%d.png", port, i)));
        AddAlbums(w, recs);
        auto* box = qobject_cast<QCheckBox*>(w.Control(Ctl::Thumbnails));
        SwitchThumbnails(w, true);
        ASSERT_TRUE(WaitUntil([&] { return served.load() >= 2; }));
        // The second click asks; the box keeps its state; Yes stops the switch.
        box->setChecked(false);
        w.OnThumbnailBox(false);
        EXPECT_TRUE(box->isChecked());
        EXPECT_EQ(boxes.Texts(), QStringList({"模式转换未完成,是否中断? [提示]"}));
        ASSERT_TRUE(WaitUntil([&] { return w.State().ThumbJobState.load() == 0; }));
        EXPECT_LT(served.load(), 30);
        EXPECT_TRUE(w.ThumbnailMode());
        // The covers that arrived are in the cells (through the event queue) and saved as
        // tmp/<index>.jpg.
        EXPECT_TRUE(WaitUntil([&] { return w.Grid()->RowCount() >= 1 && w.Grid()->Model().Cell(0, 0).image >= 0; }));
        EXPECT_TRUE(QFile::exists(f.ProgramFolder() + "tmp/0.jpg"));
        EXPECT_EQ(w.State().albums.Get(0)->ThumbIndex, 0);
    }
    server.Stop();  // before the counters its handler uses go
}
