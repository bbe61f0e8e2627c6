// The login window on its own: address row and start address, resizing, closing, the modeless and
// modal modes of the Login menu, host routing, and the cookie bridge between the browser and the
// HTTP client's cookie store (seeding, page-set and page-deleted cookies, persistence).
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWebEnginePage>
#include <ctime>
#include <fstream>
#include <sstream>

#include "FileText.h"
#include "login/support/LoginTestSupport.h"
#include "net/CookieStore.h"
#include "ui/BrowserEnvironment.h"
#include "ui/CDlgWebOpen.h"
#include "ui/ComboBox2.h"
#include "ui/LoginLauncher.h"
#include "ui/support/UiTestSupport.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;
using namespace qm::logintest;

namespace {

bool Requested(const std::string& host, const std::string& path) {
    for (const auto& r : Sim().Requests())
        if (r.host == host && r.path == path) return true;
    return false;
}

std::string CookiesSentTo(const std::string& host, const std::string& path) {
    for (const auto& r : Sim().Requests())
        if (r.host == host && r.path == path) return r.cookies;
    return "<no request>";
}

const Cookie* Find(const std::vector<Cookie>& list, const std::string& name) {
    for (const Cookie& c : list)
        if (c.name == name) return &c;
    return nullptr;
}

std::string ReadFile(const QString& path) {
    return qm::test::FileText(path.toStdString());
}

}  // namespace

TEST(BrowserEnvironment, HostRulesAndRoutedAddresses) {
    EXPECT_EQ(HostResolverRules("127.0.0.1:4000"), "MAP * 127.0.0.1:4000");
    EXPECT_EQ(HostResolverRules(" a.qq.com:80:127.0.0.1:81, b.qq.com:80:127.0.0.1:82 "),
              "MAP a.qq.com 127.0.0.1:81, MAP b.qq.com 127.0.0.1:82");
    // Nothing that could leave the quoted flag or inject another one.
    EXPECT_EQ(HostResolverRules("1.2.3.4:80\" --foo"), "");
    EXPECT_EQ(HostResolverRules(""), "");

    ASSERT_TRUE(BrowserRouted());  // the test main routes to the simulator
    EXPECT_EQ(BrowserAddress("https://login.taobao.com/member/login.jhtml"),
              "http://login.taobao.com/member/login.jhtml");
    EXPECT_EQ(BrowserAddress("http://user.qzone.qq.com/12345"), "http://user.qzone.qq.com/12345");
}

TEST(LoginWindow, EmptyStartAddressShowsClipboardAndStaysBlankUntilOpen) {
    const QString text = QStringLiteral("http://user.qzone.qq.com/123456789");
    QGuiApplication::clipboard()->setText(text);
    Sim().ClearRequests();
    CDlgWebOpen dlg(QString(), nullptr, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.AddressBox()->text(), text);
    WaitUntil([] { return false; }, 1500);
    EXPECT_TRUE(dlg.Browser()->url().isEmpty() || dlg.Browser()->url().toString() == "about:blank");
    EXPECT_FALSE(Requested("user.qzone.qq.com", "/123456789"));

    QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitForPageText(dlg.Browser()->page(), QStringLiteral("QQ空间 123456789")));
    EXPECT_TRUE(Requested("user.qzone.qq.com", "/123456789"));
}

TEST(LoginWindow, StartAddressLoadsAtOnceResizeKeepsTheRowAndOnlyTheCloseBoxCloses) {
    QGuiApplication::clipboard()->setText(QStringLiteral("not this"));
    // An https start page is reached over http on the same host while routed to the simulator.
    CDlgWebOpen dlg(QStringLiteral("https://xui.ptlogin2.qq.com/cgi-bin/xlogin"), nullptr, nullptr);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "登录成功后手动关闭对话框");
    EXPECT_EQ(dlg.AddressBox()->text(), "https://xui.ptlogin2.qq.com/cgi-bin/xlogin");
    EXPECT_EQ(dlg.OpenButton()->text(), "打开");
    EXPECT_EQ(dlg.findChild<QLabel*>()->text(), "网址：");
    EXPECT_TRUE(WaitForPageText(dlg.Browser()->page(), QStringLiteral("QQ号码")));

    for (const QSize size : {QSize(900, 700), QSize(420, 300)}) {
        dlg.resize(size);
        const QRect button = dlg.OpenButton()->geometry();
        const QRect box = dlg.AddressBox()->geometry();
        const QRect browser = dlg.Browser()->geometry();
        EXPECT_EQ(dlg.width() - button.right() - 1, 7) << size.width();
        EXPECT_EQ(button.left() - box.right() - 1, 5);
        EXPECT_EQ(browser.width(), size.width());
        EXPECT_EQ(browser.bottom() + 1, size.height());
        EXPECT_GT(browser.top(), box.bottom());
    }

    QTest::keyClick(dlg.AddressBox(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    QTest::keyClick(&dlg, Qt::Key_Escape);  // as the close box
    EXPECT_FALSE(dlg.isVisible());
}

TEST(LoginMenu, ModelessWindowsReplaceEachOtherAndTheClearedModeOpensModal) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    ASSERT_TRUE(w.LoginModeless());
    w.MenuAction(kMenuLoginWeibo)->trigger();
    CDlgWebOpen* first = ModelessLoginWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->parentWidget(), &w);
    EXPECT_EQ(first->StartAddress(), "http://t.qq.com/");
    w.MenuAction(kMenuLoginCustom)->trigger();
    EXPECT_EQ(w.findChildren<CDlgWebOpen*>().size(), 1);
    EXPECT_NE(ModelessLoginWindow(), nullptr);

    // Cleared: the next window is modal, and opening it destroys the modeless one.
    w.MenuAction(kMenuLoginMode)->trigger();
    EXPECT_FALSE(w.LoginModeless());
    struct Seen {
        bool modal = false;
        QString address;
        int windows = -1;
    };
    std::vector<Seen> seen;
    SetLoginWindowHook([&](CDlgWebOpen& dlg, bool modal) {
        seen.push_back({modal, dlg.StartAddress(), static_cast<int>(w.findChildren<CDlgWebOpen*>().size())});
        dlg.close();
    });
    w.TargetBox()->SetEditText(QStringLiteral(" 12345 "));
    w.KindBox()->setCurrentIndex(0);
    w.MenuAction(kMenuLoginQZone)->trigger();
    w.KindBox()->setCurrentIndex(1);
    w.MenuAction(kMenuLoginQZone)->trigger();
    w.KindBox()->setCurrentIndex(0);
    w.TargetBox()->SetEditText(QStringLiteral("http://user.qzone.qq.com/12345"));
    w.MenuAction(kMenuLoginQZone)->trigger();
    SetLoginWindowHook({});

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0].modal);
    EXPECT_EQ(seen[0].address, "http://user.qzone.qq.com/12345");
    EXPECT_EQ(seen[0].windows, 1);  // the modeless one is gone
    EXPECT_EQ(seen[1].address, "http://user.qzone.qq.com/");
    EXPECT_EQ(seen[2].address, "http://user.qzone.qq.com/");
    EXPECT_EQ(ModelessLoginWindow(), nullptr);
    EXPECT_TRUE(w.findChildren<CDlgWebOpen*>().empty());

    // Set again: modeless once more.
    w.MenuAction(kMenuLoginMode)->trigger();
    w.MenuAction(kMenuLoginWeibo)->trigger();
    EXPECT_NE(ModelessLoginWindow(), nullptr);
}

TEST(CookieBridge, BrowserIsSeededFromTheStoreAndHostOnlyStaysHostOnly) {
    CookieStore store;
    const int64_t later = std::time(nullptr) + 3600;
    store.Add({"ho", "1", "qzone.qq.com", true, "/", later});  // host-only: not for user.qzone.qq.com
    store.Add({"dc", "2", "qzone.qq.com", false, "/", later});
    store.Add({"top", "3", "user.qzone.qq.com", true, "/", 0});
    Sim().ClearRequests();
    CDlgWebOpen dlg(QStringLiteral("http://user.qzone.qq.com/123456789"), nullptr, &store);
    dlg.show();
    ASSERT_TRUE(WaitForPageText(dlg.Browser()->page(), QStringLiteral("QQ空间 123456789")));
    const std::string sent = CookiesSentTo("user.qzone.qq.com", "/123456789");
    EXPECT_NE(sent.find("dc=2"), std::string::npos) << sent;
    EXPECT_NE(sent.find("top=3"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("ho=1"), std::string::npos) << sent;
}

TEST(CookieBridge, PageCookiesReachTheStoreAtOnceArePersistedAndSurviveTheWindow) {
    const qm::test::TempFolder folder;
    const QString dirPath = QString::fromStdString(folder.path().string());
    CookieStore store;
    ASSERT_TRUE(store.Open(dirPath.toStdString()));
    const QString file = dirPath + "/cookies.txt";
    {
        CDlgWebOpen dlg(QStringLiteral("http://user.qzone.qq.com/"), nullptr, &store);
        dlg.show();
        QWebEnginePage* page = dlg.Browser()->page();
        ASSERT_TRUE(WaitForPageText(page, QStringLiteral("QQ空间")));
        RunJs(page, QStringLiteral("document.cookie = 'js=v1; path=/; max-age=3600';"
                                   "document.cookie = 'jd=v2; domain=.qq.com; path=/; max-age=3600'; true"));
        ASSERT_TRUE(WaitUntil([&] { return Find(store.List(), "js") && Find(store.List(), "jd"); }));
        const auto list = store.List();
        EXPECT_TRUE(Find(list, "js")->hostOnly);
        EXPECT_EQ(Find(list, "js")->domain, "user.qzone.qq.com");
        EXPECT_FALSE(Find(list, "jd")->hostOnly);
        EXPECT_EQ(Find(list, "jd")->domain, "qq.com");
        // The store writes its file within a moment of a change (writes of a burst are coalesced).
        EXPECT_TRUE(WaitUntil([&] {
            const std::string text = ReadFile(file);
            return text.find("user.qzone.qq.com\tFALSE\t/\tFALSE\t") != std::string::npos &&
                   text.find(".qq.com\tTRUE\t/\tFALSE\t") != std::string::npos;
        }));

        // Deleted by the page: gone from the store and the file at once.
        RunJs(page, QStringLiteral("document.cookie = 'js=; path=/; max-age=0'; true"));
        ASSERT_TRUE(WaitUntil([&] { return !Find(store.List(), "js"); }));
        EXPECT_TRUE(WaitUntil([&] { return ReadFile(file).find("\tjs\t") == std::string::npos; }));

        // The real login form: the session cookies of a login without "下次自动登录".
        dlg.Browser()->Navigate(QStringLiteral("http://xui.ptlogin2.qq.com/cgi-bin/xlogin"));
        ASSERT_TRUE(SubmitLoginForm(page, kFriendUin, kFriendPassword, false));
        ASSERT_TRUE(WaitUntil([&] { return Find(store.List(), "p_skey") != nullptr; }));
        EXPECT_EQ(Find(store.List(), "skey")->domain, "qq.com");
        EXPECT_EQ(Find(store.List(), "skey")->expires, 0);
        EXPECT_EQ(ReadFile(file).find("\tskey\t"), std::string::npos);  // session cookies stay in memory
    }
    // Closing the browser (its profile going away) takes nothing from the store.
    WaitUntil([] { return false; }, 500);
    EXPECT_NE(Find(store.List(), "jd"), nullptr);
    EXPECT_NE(Find(store.List(), "skey"), nullptr);
}
