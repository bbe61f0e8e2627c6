#include "ui/MessageBox.h"

#include <QMessageBox>
#include <mutex>

namespace qm::ui {

namespace {
std::mutex g_hookMutex;
MessageHook g_hook;

MessageHook CurrentHook() {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return g_hook;
}
}  // namespace

void SetMessageHook(MessageHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

QString DefaultCaption() {
    return QStringLiteral("Quillmoss");
}

void ShowMessageBox(QWidget* parent, const QString& text, const QString& title) {
    const QString caption = title.isEmpty() ? DefaultCaption() : title;
    if (auto hook = CurrentHook()) {
        hook(BoxKind::Message, text, caption);
        return;
    }
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool AskYesNoBox(QWidget* parent, const QString& text, const QString& title) {
    const QString caption = title.isEmpty() ? DefaultCaption() : title;
    if (auto hook = CurrentHook()) return hook(BoxKind::Question, text, caption);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace qm::ui
