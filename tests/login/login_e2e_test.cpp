// Logging in through the login window, end to end against the simulator: before the login the
// friends-only album is refused; after logging in with the friend account in the browser (and
// closing the window) it downloads; the encrypted album's password is entered in the page the
// fetcher's modal login request opens; the login kept in cookies.txt serves a second program start.
#include <gtest/gtest.h>

#include <QAction>
#include <QDirIterator>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QWebEnginePage>
#include <fstream>
#include <sstream>

#include "CliRunner.h"
#include "FileText.h"
#include "login/support/LoginTestSupport.h"
#include "net/CookieStore.h"
#include "net/URLSource2.h"
#include "ui/CDlgWebOpen.h"
#include "ui/ComboBox2.h"
#include "ui/LoginLauncher.h"
#include "ui/MyGridCtrl.h"
#include "ui/support/UiTestSupport.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;
using namespace qm::logintest;

namespace {

const QString kTarget = QStringLiteral("123456789");

void ListTarget(CQuillmossDlg& w) {
    auto* button = qobject_cast<QPushButton*>(w.Control(Ctl::ListButton));
    w.TargetBox()->SetEditText(kTarget);
    w.OnListButton();  // the job counts as running from here on
    ASSERT_TRUE(
        WaitUntil([&] { return !w.State().listJob.Running() && button->text() == "获取相册"; }, 30000));
    // The rows follow the listed albums through the event queue.
    ASSERT_TRUE(WaitUntil([&] { return w.Grid()->RowCount() == static_cast<int>(w.State().albums.Count()); }));
}

int RowOf(CQuillmossDlg& w, const QString& name) {
    for (int r = 0; r < w.Grid()->RowCount(); ++r)
        if (w.Grid()->CellText(r, 1) == name) return r;
    return -1;
}

int CountPictures(const QString& folder) {
    int n = 0;
    QDirIterator it(folder, {"*.jpg", "*.png", "*.gif", "*.bmp"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().size() > 0) ++n;
    }
    return n;
}

// Downloads one album of the table into `save`; returns the number of pictures written there.
int DownloadAlbum(CQuillmossDlg& w, const QString& name, const QString& save) {
    const int row = RowOf(w, name);
    EXPECT_GE(row, 0) << name.toStdString();
    if (row < 0) return -1;
    auto* button = qobject_cast<QPushButton*>(w.Control(Ctl::DownloadButton));
    w.SaveBox()->SetEditText(save);
    w.Grid()->clearSelection();
    w.Grid()->selectRow(row);
    w.OnDownloadButton();  // the job counts as running from here on
    EXPECT_TRUE(
        WaitUntil([&] { return !w.State().downloadJob.Running() && button->text() == "下载"; }, 40000));
    return CountPictures(save);
}

std::string ReadFile(const QString& path) {
    return qm::test::FileText(path.toStdString());
}

}  // namespace

TEST(LoginEndToEnd, FriendsOnlyAlbumAfterLoggingInThroughTheWindowAndAfterARestart) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    const QString folder = f.ProgramFolder();
    CookieStore& store = CookieStore::Instance();
    store.Clear();
    ASSERT_TRUE(store.Open(folder.toStdString()));
    BoxRecorder boxes;
    boxes.answer = false;

    // Not logged in: the album is listed but its pictures are refused.
    ListTarget(w);
    ASSERT_GE(RowOf(w, "好友可见"), 0);
    EXPECT_EQ(DownloadAlbum(w, "好友可见", f.Dir() + "/before/"), 0);

    // Log in in the modeless window the Login menu opens on the target's QZone page.
    w.KindBox()->setCurrentIndex(0);
    w.MenuAction(kMenuLoginQZone)->trigger();
    CDlgWebOpen* dlg = ModelessLoginWindow();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->StartAddress(), "http://user.qzone.qq.com/123456789");
    QWebEnginePage* page = dlg->Browser()->page();
    ASSERT_TRUE(WaitForPageText(page, QStringLiteral("未登录")));
    RunJs(page, QStringLiteral("document.querySelector('a').click(); true"));
    ASSERT_TRUE(SubmitLoginForm(page, kFriendUin, kFriendPassword, true));
    // While the window is still open, a fetch already carries the login.
    ASSERT_TRUE(WaitUntil([] {
        const Text c = GetUrlCookie(u"http://user.qzone.qq.com/123456789");
        return c.find(u"p_skey=") != Text::npos && c.find(u"skey=") != Text::npos;
    }));
    dlg->close();

    ListTarget(w);
    EXPECT_EQ(DownloadAlbum(w, "好友可见", f.Dir() + "/after/"), 6);

    // The persistent login is in cookies.txt; a fresh store loading it has it too.
    const std::string file = ReadFile(folder + "/cookies.txt");
    EXPECT_NE(file.find(".qq.com\tTRUE\t/\tFALSE\t"), std::string::npos) << file;
    EXPECT_NE(file.find("\tskey\t"), std::string::npos) << file;
    EXPECT_NE(file.find("\tp_skey\t"), std::string::npos) << file;
    CookieStore fresh;
    ASSERT_TRUE(fresh.Open(folder.toStdString()));
    EXPECT_NE(fresh.CookieHeaderFor("http://user.qzone.qq.com/").find("p_skey="), std::string::npos);

    // A second program start on the same program folder downloads the album without a new login.
    const QString cli = QStringLiteral(QM_BIN_DIR "/quillmoss-cli");
    if (!QFileInfo::exists(cli)) GTEST_SKIP() << "quillmoss-cli is not built";
    qm::test::CliRunner runner(f.Dir().toStdString(), folder.toStdString());
    runner.env = {{"QUILLMOSS_CONNECT_TO", Sim().ConnectTo()}};
    const QString save = f.Dir() + "/restart/";
    const qm::test::CliResult run = runner.Run({"download", kTarget.toStdString(), "--save", save.toStdString(),
                                                "--albums", std::to_string(RowOf(w, "好友可见") + 1), "--no"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(CountPictures(save), 6);
}

TEST(LoginEndToEnd, EncryptedAlbumPasswordEnteredInTheModalWindowThenTheDownloadGoesOn) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    CookieStore& store = CookieStore::Instance();
    store.Clear();
    ASSERT_TRUE(store.Open(f.ProgramFolder().toStdString()));
    Sim().ResetPasswords();

    // Log in first (the password is remembered per login), this time in a window that is closed
    // before the download starts.
    {
        CDlgWebOpen login(QStringLiteral("http://xui.ptlogin2.qq.com/cgi-bin/xlogin"), &w);
        login.show();
        ASSERT_TRUE(SubmitLoginForm(login.Browser()->page(), kFriendUin, kFriendPassword, false));
        ASSERT_TRUE(WaitUntil(
            [&] { return store.CookieHeaderFor("http://qq.com/").find("skey=") != std::string::npos; }));
    }

    BoxRecorder boxes;
    boxes.answer = true;  // "加密相册，是否输入密码？" Yes
    QString opened;
    bool modal = false, entered = false;
    SetLoginWindowHook([&](CDlgWebOpen& dlg, bool isModal) {
        opened = dlg.StartAddress();
        modal = isModal;
        QWebEnginePage* page = dlg.Browser()->page();
        if (WaitForPageText(page, QStringLiteral("请输入密码"))) {
            RunJs(page, QStringLiteral("document.getElementById('password').value = '1234';"
                                       "document.getElementById('submit').click(); true"));
            entered = WaitForPageText(page, QStringLiteral("密码正确"));
        }
        dlg.close();  // the job thread waits until here
    });
    ListTarget(w);
    const int pictures = DownloadAlbum(w, "加密相册", f.Dir() + "/secret/");
    SetLoginWindowHook({});

    EXPECT_TRUE(boxes.Texts().contains("加密相册，是否输入密码？ [提示]"))
        << boxes.Texts().join('|').toStdString();
    EXPECT_TRUE(modal);
    EXPECT_EQ(opened, "http://user.qzone.qq.com/123456789/photo/V11secret");
    EXPECT_TRUE(entered);
    EXPECT_EQ(pictures, 4);
}
