// Opens the login window on an address. Modal: returns when the user closes it. Modeless: the
// window stays open beside the main window, owned by it; at most one modeless login window exists,
// and any opening (modal or not) first destroys the one that is open.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm::ui {

class CDlgWebOpen;

void OpenLoginWindow(QWidget* parent, const QString& url, bool modal);

// The modeless login window that is open, or nullptr.
CDlgWebOpen* ModelessLoginWindow();

// Called on the GUI thread with every login window just shown (a modal one from inside its own
// event loop). Lets tests and the screenshot tour drive the window; empty removes the hook.
using LoginWindowHook = std::function<void(CDlgWebOpen& window, bool modal)>;
void SetLoginWindowHook(LoginWindowHook hook);

}  // namespace qm::ui

using qm::ui::OpenLoginWindow;
