// Helpers of the login-window tests: one demo simulator per test program (the browser's host
// mapping is fixed when the web engine starts, so the port must be known before QApplication),
// page scripts run synchronously, and a login through the simulator's QQ login form.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>

#include "sim/Simulator.h"

class QWebEnginePage;

namespace qm::logintest {

// The simulator every test of the program talks to (started by the test main).
sim::Simulator& Sim();

// Runs `script` in the page and waits for its result (invalid QVariant after `ms`).
QVariant RunJs(QWebEnginePage* page, const QString& script, int ms = 10000);
// Waits until the page's text contains `text`.
bool WaitForPageText(QWebEnginePage* page, const QString& text, int ms = 20000);
// Fills the QQ login form shown in `page` (account, password, "下次自动登录") and submits it; true
// once the page says the login succeeded.
bool SubmitLoginForm(QWebEnginePage* page, const QString& uin, const QString& password, bool remember);

// The friend account of the demo scenario.
inline const QString kFriendUin = QStringLiteral("20001234");
inline const QString kFriendPassword = QStringLiteral("demo1234");

}  // namespace qm::logintest
