// The main window's rules: settings dialogs, menu toggles, dropped paths, start-up defaults.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>

#include "core/Settings.h"
#include "TempFolder.h"
#include "support/UiTestSupport.h"
#include "ui/ComboBox2.h"
#include "ui/DlgDownSet.h"
#include "ui/DlgSaveSet.h"
#include "ui/SaveFolderRules.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;

namespace {

// Types the four values and presses "确 定"; true when the dialog accepted them.
bool TryDownSet(DownParam& p, const QString& threads, const QString& timeout, const QString& min = "0",
                const QString& max = "0") {
    CDlgDownSet dlg(p);
    dlg.ThreadEdit()->setText(threads);
    dlg.TimeoutEdit()->setText(timeout);
    dlg.MinEdit()->setText(min);
    dlg.MaxEdit()->setText(max);
    dlg.OkButton()->click();
    return dlg.result() == QDialog::Accepted;
}

uint16_t StoredFlags(const QString& programFolder) {
    QFile f(programFolder + "soft.dat");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.size(), 19808);
    const SettingsBlock b = DecodeSettingsBlock(std::string_view(bytes.constData(), bytes.size()));
    return b.profile[0].SiteFlags;
}

}  // namespace

TEST(DownloadParameterDialog, RefusesOutOfRangeValuesAndKeepsTheRecord) {
    BoxRecorder boxes;
    DownParam p{1, 2, 5, 30};
    EXPECT_FALSE(TryDownSet(p, "0", "30"));
    EXPECT_FALSE(TryDownSet(p, "16", "30"));
    EXPECT_FALSE(TryDownSet(p, "5", "9"));
    EXPECT_EQ(boxes.Texts(), QStringList({"参数错误：线程数要在 1 到 15 之间（现在是 0）",
                                          "参数错误：线程数要在 1 到 15 之间（现在是 16）",
                                          "参数错误：超时至少 10 秒（现在是 9）"}));
    EXPECT_EQ(p.ThreadCount, 5);
    EXPECT_EQ(p.TimeoutSec, 30);
    EXPECT_EQ(p.MinSizeKB, 1);

    EXPECT_TRUE(TryDownSet(p, "15", "10", "-1", "abc"));
    EXPECT_EQ(p.ThreadCount, 15);
    EXPECT_EQ(p.TimeoutSec, 10);
    EXPECT_EQ(p.MinSizeKB, 65535);  // low 16 bits of -1
    EXPECT_EQ(p.MaxSizeKB, 0);      // not a number reads as 0
    // 65537 keeps its low 16 bits (1), a valid thread count.
    EXPECT_TRUE(TryDownSet(p, "65537", "12"));
    EXPECT_EQ(p.ThreadCount, 1);
}

TEST(DownloadParameterDialog, ClosingWithoutOkStoresNothing) {
    DownParam p{0, 0, 5, 30};
    CDlgDownSet dlg(p);
    dlg.ThreadEdit()->setText("7");
    dlg.reject();
    EXPECT_EQ(p.ThreadCount, 5);
}

TEST(FileNameDialog, CutsTextsTo38CharactersAndStoresTheModes) {
    SiteProfile p;
    SetFieldText(p.NamePrefix, u"old");
    {
        CDlgSaveSet dlg(p);
        dlg.Edit(0)->setText("x");
        dlg.reject();
    }
    EXPECT_EQ(FieldText(p.NamePrefix), u"old");

    CDlgSaveSet dlg(p);
    EXPECT_EQ(dlg.Edit(0)->text(), "old");
    const QString fifty(50, QChar(u'相'));
    dlg.Edit(0)->setText(fifty);
    dlg.Edit(5)->setText("_end");
    dlg.NameModeButton(2)->setChecked(true);
    dlg.FolderModeButton(1)->setChecked(true);
    dlg.OkButton()->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(FieldText(p.NamePrefix), Text(38, u'相'));
    EXPECT_EQ(FieldText(p.FolderSuffix), u"_end");
    EXPECT_EQ(p.NameMode, 2);
    EXPECT_EQ(p.FolderMode, 1);
}

TEST(FileNameDialog, HelpLinkShowsTheEscapeList) {
    BoxRecorder boxes;
    SiteProfile p;
    CDlgSaveSet dlg(p);
    emit dlg.HelpLink()->linkActivated("#");
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("设置前后缀"));
    EXPECT_TRUE(boxes.Texts()[0].endsWith("?9:相册在列表中的序号(格式为：0001,0002,0003...)"));
}

TEST(MainWindowMenus, ToggleTwiceRestoresFlagsAndSavesEachTime) {
    WindowFixture f;
    const QString prog = f.ProgramFolder();
    const uint16_t before = StoredFlags(prog);
    QAction* fix = f.window->MenuAction(kMenuFixFormat);
    ASSERT_NE(fix, nullptr);
    EXPECT_EQ(fix->text(), "修正图片格式");
    fix->trigger();
    EXPECT_EQ(StoredFlags(prog), before ^ SiteFlag::FixFormat);  // written at once
    fix->trigger();
    EXPECT_EQ(StoredFlags(prog), before);
}

TEST(MainWindowMenus, MainAndDescriptionPicturesExcludeEachOther) {
    WindowFixture f;
    const QString prog = f.ProgramFolder();
    // The shop items are grey for the QQ Zone family, so the toggles are driven directly.
    f.window->ToggleFlag(SiteFlag::DescriptionPicturesOnly);
    EXPECT_TRUE(StoredFlags(prog) & SiteFlag::DescriptionPicturesOnly);
    f.window->ToggleFlag(SiteFlag::MainPicturesOnly);
    EXPECT_TRUE(StoredFlags(prog) & SiteFlag::MainPicturesOnly);
    EXPECT_FALSE(StoredFlags(prog) & SiteFlag::DescriptionPicturesOnly);
    f.window->ToggleFlag(SiteFlag::MainPicturesOnly);  // the checked one clears itself only
    EXPECT_FALSE(StoredFlags(prog) & (SiteFlag::MainPicturesOnly | SiteFlag::DescriptionPicturesOnly));

    // With the current site fixed at 0 the shop and Yupoo items are grey; the check marks follow.
    emit f.window->SettingsMenu()->aboutToShow();
    EXPECT_FALSE(f.window->MenuAction(kMenuMainPictures)->isEnabled());
    EXPECT_FALSE(f.window->MenuAction(kMenuLargePictures)->isEnabled());
    EXPECT_TRUE(f.window->MenuAction(kMenuOpenWhenDone)->isChecked());  // first-run default
}

TEST(MainWindowDrop, FileGivesItsFolderAndDottedFolderGivesItsParent) {
    EXPECT_EQ(DroppedSaveFolder("/data/pics/a.jpg"), "/data/pics/");
    EXPECT_EQ(DroppedSaveFolder("/data/my.album"), "/data/");
    EXPECT_EQ(DroppedSaveFolder("/data/album"), "/data/album/");
    EXPECT_EQ(DroppedSaveFolder("a.jpg"), "");

    WindowFixture f;
    f.window->DropPaths({f.Dir() + "/photos/x.png"});
    const QString expected = f.Dir() + "/photos/";
    EXPECT_EQ(f.window->SaveBox()->EditText(), expected);
    EXPECT_EQ(f.window->SaveBox()->History().last(), expected);
    // Remembered as the newest save folder and written to soft.dat.
    WindowState& st = f.window->State();
    LoadSettings(st);
    EXPECT_EQ(QString::fromStdU16String(RecentEntries(st, 1).at(0)), expected);
    // The same folder in other letter case is not added again.
    f.window->DropPaths({f.Dir().toUpper() + "/PHOTOS/"});
    EXPECT_EQ(RecentEntries(st, 1).size(), 1u);
}

TEST(MainWindowStartup, TempProgramFolderDefaultsToDocuments) {
    WindowFixture f("Temp/prog");
    const QString expected = f.Dir() + "/Documents/Quillmoss/";
    EXPECT_EQ(f.window->SaveBox()->EditText(), expected);
    EXPECT_FALSE(QDir(expected).exists());  // made by the first download that uses it

    WindowFixture plain("work");
    EXPECT_EQ(plain.window->SaveBox()->EditText(), plain.ProgramFolder());
}

TEST(MainWindowStartup, RecentSaveFolderWinsOverTheDefault) {
    WindowFixture f("Temp/prog", [](const QString& folder) {
        SettingsBlock b;
        SetFieldText(b.RecentSavePaths[0], u"/srv/albums/");
        SetFieldText(b.RecentTargets[0], u"123456");
        QFile out(folder + "/soft.dat");
        out.open(QIODevice::WriteOnly);
        const std::string bytes = EncodeSettingsBlock(b);
        out.write(bytes.data(), static_cast<qint64>(bytes.size()));
    });
    EXPECT_EQ(f.window->SaveBox()->EditText(), "/srv/albums/");
    EXPECT_EQ(f.window->TargetBox()->History(), QStringList({"123456"}));
}

TEST(MainWindowStartup, ClipboardTextOnlyWhenShort) {
    EXPECT_EQ(ClipboardTarget(" 12345 \n"), "12345");
    EXPECT_EQ(ClipboardTarget(QString(199, 'a')), QString(199, 'a'));
    EXPECT_EQ(ClipboardTarget(QString(200, 'a')), "");
    EXPECT_EQ(ClipboardTarget("   "), "");

    QGuiApplication::clipboard()->setText(QString(250, '7'));
    {
        WindowFixture f;
        EXPECT_EQ(f.window->TargetBox()->EditText(), "");
    }
    QGuiApplication::clipboard()->setText("http://t.qq.com/someone");
    WindowFixture f;
    EXPECT_EQ(f.window->TargetBox()->EditText(), "http://t.qq.com/someone");
    // The start-up step ran the site detection on it: QZone family, Tencent Weibo kind.
    EXPECT_EQ(f.window->SiteBox()->currentIndex(), 0);
    EXPECT_EQ(f.window->KindBox()->currentIndex(), 2);
    EXPECT_EQ(f.window->SiteBox()->count(), 21);
    QGuiApplication::clipboard()->clear();
}

TEST(MainWindowStartup, KindChoiceFollowsTheSiteChoice) {
    WindowFixture f;
    EXPECT_FALSE(f.window->KindBox()->isHidden());
    EXPECT_EQ(f.window->KindBox()->itemText(1), "QQ群相册");
    f.window->SiteBox()->setCurrentIndex(3);
    EXPECT_TRUE(f.window->KindBox()->isHidden());
    f.window->SiteBox()->setCurrentIndex(0);
    EXPECT_FALSE(f.window->KindBox()->isHidden());
    EXPECT_EQ(f.window->KindBox()->currentIndex(), 0);
}

TEST(WindowPresenter, JobEventsBecomeTheWindowsTextsAndEnabling) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    QtPresenter& p = w.Presenter();
    auto text = [&](Ctl id) {
        QWidget* c = w.Control(id);
        if (auto* b = qobject_cast<QPushButton*>(c)) return b->text();
        if (auto* g = qobject_cast<QGroupBox*>(c)) return g->title();
        return qobject_cast<QLabel*>(c)->text();
    };

    p.ListStarted();
    EXPECT_EQ(text(Ctl::ListButton), "终止获取");
    EXPECT_EQ(text(Ctl::Status), "正在获取相册列表，请稍等...");
    EXPECT_FALSE(w.Control(Ctl::DownloadButton)->isEnabled());
    EXPECT_FALSE(w.Control(Ctl::ExportLink)->isEnabled());
    ListResult r;
    r.albums.resize(3);
    p.ListFinished(r);
    EXPECT_EQ(text(Ctl::AlbumGroup), "相册列表(共3个)");
    EXPECT_EQ(text(Ctl::Status), "获取相册列表完成，共3个");
    EXPECT_EQ(text(Ctl::ListButton), "获取相册");
    EXPECT_TRUE(w.Control(Ctl::DownloadButton)->isEnabled());

    p.DownloadStarted(2);
    EXPECT_EQ(text(Ctl::DownloadButton), "终止下载");
    EXPECT_FALSE(w.Control(Ctl::Target)->isEnabled());
    p.AlbumStarted(1, 2, ST_PERLISTRECORD());
    EXPECT_EQ(text(Ctl::Status), "正在下载第1/2个图集");
    EXPECT_EQ(text(Ctl::Progress), "......");
    p.PicturesListed(7);
    EXPECT_EQ(text(Ctl::Progress), "已获取到7张图片信息");
    p.TransferStarted(7, u"/tmp/album/");
    EXPECT_EQ(text(Ctl::Progress), "已开始下载图片");
    EXPECT_EQ(p.CurrentAlbumFolder(), u"/tmp/album/");
    p.PictureFinished(PictureOutcome(), 3, 7);
    p.PictureFinished(PictureOutcome(), 2, 7);  // a late report never moves the count back
    EXPECT_EQ(text(Ctl::Progress), "已下载3/7......");
    p.AlbumFinished(AlbumOutcome(), 1);
    EXPECT_TRUE(p.CurrentAlbumFolder().empty());
    p.DownloadFinished(JobOutcome());
    EXPECT_EQ(text(Ctl::Status), "下载完毕");
    EXPECT_EQ(text(Ctl::Progress), "");
    EXPECT_EQ(text(Ctl::DownloadButton), "下载");
    EXPECT_TRUE(w.Control(Ctl::Target)->isEnabled());
}

// An address or folder that nothing on the desktop can open is named in a message, with an
// offer to copy it.
TEST(WindowOpen, FailedOpenSaysSoAndOffersToCopyThePath) {
    const qm::test::TempFolder folder;
    const QString dirPath = QString::fromStdString(folder.path().string());
    WindowOptions o;
    o.programFolder = dirPath;
    o.documentsFolder = dirPath + "/Documents";
    o.splash = false;
    o.showWhenReady = false;
    QStringList tried;
    o.desktopOpen = [&](const QUrl& u) {
        tried << u.toString();
        return false;
    };
    CQuillmossDlg w(o);
    BoxRecorder boxes;
    boxes.answer = true;
    w.OpenUrl(QUrl::fromLocalFile(dirPath + "/saved/123456789"));
    ASSERT_EQ(tried.size(), 1);
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].contains(dirPath + "/saved/123456789"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), dirPath + "/saved/123456789");
}

// Services this version does not fetch say so (their logins are grey), instead of an empty list;
// the menus have mnemonics; an empty table is not exported; the keyboard starts in the target box.
TEST(MainWindowSmallThings, UnsupportedServicesMenusExportAndFocus) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    BoxRecorder boxes;
    w.SiteBox()->setCurrentIndex(3);
    w.OnListButton();
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("此版本不支持“" + w.SiteBox()->itemText(3) + "”"));
    EXPECT_FALSE(w.State().listJob.Running());
    EXPECT_FALSE(w.MenuAction(32789)->isEnabled());  // 百度
    EXPECT_TRUE(w.MenuAction(kMenuLoginQZone)->isEnabled());
    EXPECT_FALSE(w.MenuAction(kMenuImportStart)->isEnabled());
    EXPECT_TRUE(w.MenuAction(kMenuExportList)->isEnabled());
    for (QAction* menu : w.menuBar()->actions()) EXPECT_TRUE(menu->text().contains('&')) << menu->text().toStdString();

    w.OnExportLink();
    EXPECT_EQ(boxes.Texts().last(), "相册列表是空的，没有可导出的内容");

    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(focus == w.TargetBox() || focus == w.TargetBox()->lineEdit());
}
