#include "ui/LoginLauncher.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm::ui {

namespace {

// A stand-in for the browser login window: shows the address to log in at and closes by hand.
QDialog* MakeLoginDialog(QWidget* parent, const QString& url) {
    auto* dlg = new QDialog(parent);
    dlg->setWindowTitle(QStringLiteral("登录成功后手动关闭对话框"));
    auto* layout = new QVBoxLayout(dlg);
    auto* label = new QLabel(QStringLiteral("网址：") + url, dlg);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* close = new QPushButton(QStringLiteral("关闭"), dlg);
    QObject::connect(close, &QPushButton::clicked, dlg, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
    dlg->resize(480, 160);
    return dlg;
}

QPointer<QDialog> g_modeless;

}  // namespace

void OpenLoginWindow(QWidget* parent, const QString& url, bool modal) {
    if (g_modeless) {
        g_modeless->close();
        delete g_modeless.data();
    }
    if (modal) {
        QDialog* dlg = MakeLoginDialog(nullptr, url);
        dlg->exec();
        delete dlg;
        return;
    }
    g_modeless = MakeLoginDialog(parent, url);
    g_modeless->setAttribute(Qt::WA_DeleteOnClose);
    g_modeless->show();
}

}  // namespace qm::ui
