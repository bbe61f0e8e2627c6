#include "login/support/LoginTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWebEnginePage>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "net/URLSource2.h"
#include "ui/BrowserEnvironment.h"
#include "ui/support/UiTestSupport.h"

namespace qm::logintest {

namespace {
std::unique_ptr<sim::Simulator> g_sim;
}

sim::Simulator& Sim() {
    return *g_sim;
}

QVariant RunJs(QWebEnginePage* page, const QString& script, int ms) {
    auto result = std::make_shared<QVariant>();
    auto done = std::make_shared<bool>(false);
    page->runJavaScript(script, [result, done](const QVariant& v) {
        *result = v;
        *done = true;
    });
    uitest::WaitUntil([done] { return *done; }, ms);
    return *result;
}

bool WaitForPageText(QWebEnginePage* page, const QString& text, int ms) {
    return uitest::WaitUntil(
        [&] {
            const QVariant v =
                RunJs(page, QStringLiteral("document.body ? document.body.innerText : ''"), 2000);
            return v.toString().contains(text);
        },
        ms);
}

bool SubmitLoginForm(QWebEnginePage* page, const QString& uin, const QString& password, bool remember) {
    if (!WaitForPageText(page, QStringLiteral("QQ号码"))) return false;
    const QString script =
        QStringLiteral(
            "document.getElementById('u').value = '%1';"
            "document.getElementById('p').value = '%2';"
            "document.getElementById('remember').checked = %3;"
            "document.getElementById('login_button').click(); true;")
            .arg(uin, password, remember ? QStringLiteral("true") : QStringLiteral("false"));
    if (!RunJs(page, script).toBool()) return false;
    return WaitForPageText(page, QStringLiteral("登录成功"));
}

}  // namespace qm::logintest

// One simulator for the program, started before the web engine so that the browser's host mapping
// can name its port.
int main(int argc, char** argv) {
    using namespace qm;
    logintest::g_sim = sim::Simulator::Demo();
    if (logintest::g_sim->Start(0) == 0) {
        std::fputs("login tests: the simulator could not start\n", stderr);
        return 1;
    }
    setenv("QUILLMOSS_CONNECT_TO", logintest::g_sim->ConnectTo().c_str(), 1);
    SetConnectTo(logintest::g_sim->ConnectTo());
    URLSource2Init();
    ui::PrepareBrowserEnvironment();
    int rc = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        rc = RUN_ALL_TESTS();
    }
    logintest::g_sim->Stop();
    return rc;
}
