#include "ui/LoginLauncher.h"

#include <QPointer>
#include <QTimer>

#include "ui/CDlgWebOpen.h"

namespace qm::ui {

namespace {

QPointer<CDlgWebOpen> g_modeless;
LoginWindowHook g_hook;

void Announce(CDlgWebOpen* dlg, bool modal) {
    if (!g_hook) return;
    QPointer<CDlgWebOpen> guard(dlg);
    // Runs from the window's own event loop when modal, so a hook can drive and close it.
    QTimer::singleShot(0, dlg, [guard, modal] {
        if (guard && g_hook) {
            const LoginWindowHook hook = g_hook;  // the hook may replace itself
            hook(*guard, modal);
        }
    });
}

}  // namespace

void OpenLoginWindow(QWidget* parent, const QString& url, bool modal) {
    if (g_modeless) {
        CDlgWebOpen* old = g_modeless.data();
        g_modeless = nullptr;
        old->hide();
        delete old;
    }
    if (modal) {
        // Centred over the main window; lives for this call only (guarded: should the main window
        // go while it runs, it takes the dialog with it).
        QPointer<CDlgWebOpen> dlg = new CDlgWebOpen(url, parent);
        dlg->setWindowModality(Qt::ApplicationModal);
        Announce(dlg, true);
        dlg->exec();
        delete dlg.data();
        return;
    }
    auto* dlg = new CDlgWebOpen(url, parent);
    dlg->setWindowModality(Qt::NonModal);
    g_modeless = dlg;
    dlg->show();
    Announce(dlg, false);
}

CDlgWebOpen* ModelessLoginWindow() {
    return g_modeless.data();
}

void SetLoginWindowHook(LoginWindowHook hook) {
    g_hook = std::move(hook);
}

}  // namespace qm::ui
