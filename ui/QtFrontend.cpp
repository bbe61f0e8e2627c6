#include "ui/QtFrontend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QThread>
#include <QUrl>

#include "ui/ComboBox2.h"
#include "ui/LoginLauncher.h"
#include "ui/MessageBox.h"
#include "ui/MyGridCtrl.h"
#include "ui/QuillmossDlg.h"

namespace qm::ui {

namespace {
QString Q(const Text& t) {
    return QString::fromStdU16String(t);
}
}  // namespace

QtFrontend::QtFrontend(CQuillmossDlg* window) : window_(window) {}

bool QtFrontend::OnGuiThread() const {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void QtFrontend::Post(std::function<void()> f) {
    if (OnGuiThread()) {
        f();
        return;
    }
    CQuillmossDlg* w = window_;
    if (!w) return;
    QMetaObject::invokeMethod(w, std::move(f), Qt::QueuedConnection);
}

void QtFrontend::Call(const std::function<void()>& f) {
    if (OnGuiThread()) {
        f();
        return;
    }
    CQuillmossDlg* w = window_;
    if (!w || closing_) return;
    QMetaObject::invokeMethod(w, f, Qt::BlockingQueuedConnection);
}

void QtFrontend::ShowMessage(const Text& text, const Text& title) {
    if (closing_) return;
    Call([&] { ShowMessageBox(window_, Q(text), Q(title)); });
}

bool QtFrontend::AskYesNo(const Text& text, const Text& title) {
    bool answer = false;
    if (closing_) return false;
    Call([&] { answer = AskYesNoBox(window_, Q(text), Q(title)); });
    return answer;
}

void QtFrontend::RequestLogin(const Text& url) {
    if (closing_) return;
    // A fetcher's login request always opens the modal window; the job waits until it closes.
    Call([&] { OpenLoginWindow(window_, Q(url), true); });
}

void QtFrontend::SetControlText(Ctl id, const Text& text) {
    if (id == Ctl::Target || id == Ctl::SaveFolder) MirrorText(id, text);
    Post([this, id, text] {
        CQuillmossDlg* w = window_;
        if (!w) return;
        QWidget* c = w->Control(id);
        const QString s = Q(text);
        if (auto* combo = qobject_cast<CComboBox2*>(c))
            combo->SetEditText(s);
        else if (auto* button = qobject_cast<QAbstractButton*>(c))
            button->setText(s);
        else if (auto* group = qobject_cast<QGroupBox*>(c))
            group->setTitle(s);
        else if (auto* label = qobject_cast<QLabel*>(c))
            label->setText(s);
    });
}

void QtFrontend::EnableControl(Ctl id, bool enabled) {
    Post([this, id, enabled] {
        if (CQuillmossDlg* w = window_)
            if (QWidget* c = w->Control(id)) c->setEnabled(enabled);
    });
}

void QtFrontend::ShowControl(Ctl id, bool visible) {
    Post([this, id, visible] {
        if (CQuillmossDlg* w = window_)
            if (QWidget* c = w->Control(id)) c->setVisible(visible);
    });
}

void QtFrontend::SetCheck(Ctl id, bool checked) {
    Post([this, id, checked] {
        if (CQuillmossDlg* w = window_)
            if (auto* box = qobject_cast<QCheckBox*>(w->Control(id))) box->setChecked(checked);
    });
}

Text QtFrontend::ControlText(Ctl id) {
    std::lock_guard<std::mutex> lock(textMutex_);
    auto it = texts_.find(id);
    return it == texts_.end() ? Text() : it->second;
}

bool QtFrontend::KindChoiceVisible() {
    return kindVisible_.load();
}

int QtFrontend::KindChoice() {
    return kind_.load();
}

void QtFrontend::AlbumAdded(int index) {
    if (CQuillmossDlg* w = window_) w->AddAlbumRow(index);
}

void QtFrontend::RefreshTable() {
    Post([this] {
        if (CQuillmossDlg* w = window_) w->Grid()->viewport()->update();
    });
}

std::vector<int> QtFrontend::SelectedAlbums() {
    std::vector<int> out;
    Call([&] {
        if (CQuillmossDlg* w = window_)
            out = w->Grid()->SelectedAlbums(static_cast<int>(w->State().albums.Count()));
    });
    return out;
}

void QtFrontend::AddHistory(Ctl box, const Text& text) {
    Post([this, box, text] {
        if (CQuillmossDlg* w = window_)
            if (auto* combo = qobject_cast<CComboBox2*>(w->Control(box))) combo->AddHistory(Q(text));
    });
}

void QtFrontend::AlbumDownloaded(unsigned, unsigned) {}

void QtFrontend::OpenFolder(const Text& path) {
    Post([this, path] { window_->OpenUrl(QUrl::fromLocalFile(Q(path))); });
}

void QtFrontend::MirrorText(Ctl id, const Text& text) {
    std::lock_guard<std::mutex> lock(textMutex_);
    texts_[id] = text;
}

void QtFrontend::MirrorKind(bool visible, int kind) {
    kindVisible_ = visible;
    kind_ = kind;
}

}  // namespace qm::ui
