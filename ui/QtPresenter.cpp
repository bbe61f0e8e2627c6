#include "ui/QtPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QThread>
#include <QUrl>

#include "core/Settings.h"
#include "texts/EventTexts.h"
#include "ui/ComboBox2.h"
#include "ui/DownloadProgressBar.h"
#include "ui/DownloadResultDialog.h"
#include "ui/LoginLauncher.h"
#include "ui/MessageBox.h"
#include "ui/MyGridCtrl.h"
#include "ui/OutcomeTexts.h"
#include "ui/QuillmossDlg.h"

namespace qm::ui {

namespace {
QString Q(const Text& t) {
    return QString::fromStdU16String(t);
}

// Controls a running download locks, and a running list job.
constexpr Ctl kDownloadLocked[] = {Ctl::SiteChoice, Ctl::ListButton, Ctl::ChooseFolder, Ctl::Target,
                                   Ctl::SaveFolder};
}  // namespace

QtPresenter::QtPresenter(CQuillmossDlg* window) : window_(window) {}

bool QtPresenter::OnGuiThread() const {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void QtPresenter::Post(std::function<void()> f) {
    if (OnGuiThread()) {
        f();
        return;
    }
    CQuillmossDlg* w = window_;
    if (!w) return;
    QMetaObject::invokeMethod(w, std::move(f), Qt::QueuedConnection);
}

void QtPresenter::Call(const std::function<void()>& f) {
    if (OnGuiThread()) {
        f();
        return;
    }
    CQuillmossDlg* w = window_;
    if (!w || closing_) return;
    QMetaObject::invokeMethod(w, f, Qt::BlockingQueuedConnection);
}

// --- controls -------------------------------------------------------------------------------------

void QtPresenter::SetControlText(Ctl id, const Text& text) {
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

void QtPresenter::EnableControl(Ctl id, bool enabled) {
    Post([this, id, enabled] {
        if (CQuillmossDlg* w = window_)
            if (QWidget* c = w->Control(id)) c->setEnabled(enabled);
    });
}

void QtPresenter::ShowControl(Ctl id, bool visible) {
    Post([this, id, visible] {
        if (CQuillmossDlg* w = window_)
            if (QWidget* c = w->Control(id)) c->setVisible(visible);
    });
}

void QtPresenter::SetCheck(Ctl id, bool checked) {
    Post([this, id, checked] {
        if (CQuillmossDlg* w = window_)
            if (auto* box = qobject_cast<QCheckBox*>(w->Control(id))) box->setChecked(checked);
    });
}

void QtPresenter::RefreshTable() {
    Post([this] {
        if (CQuillmossDlg* w = window_) w->Grid()->viewport()->update();
    });
}

// --- the list job ---------------------------------------------------------------------------------

void QtPresenter::ListStarted() {
    EnableControl(Ctl::SiteChoice, false);
    EnableControl(Ctl::DownloadButton, false);
    EnableControl(Ctl::Target, false);
    EnableControl(Ctl::Thumbnails, false);
    SetCheck(Ctl::SelectAll, false);
    SetControlText(Ctl::ListButton, u"终止获取");
    SetControlText(Ctl::AlbumGroup, u"相册列表");
    SetControlText(Ctl::Status, u"正在获取相册列表，请稍等...");
    SetControlText(Ctl::Progress, Text());
    ShowControl(Ctl::StartupNotice, false);
    EnableControl(Ctl::FindLink, false);
    EnableControl(Ctl::FilterLink, false);
    EnableControl(Ctl::ExportLink, false);
}

void QtPresenter::AlbumListed(std::size_t index, const ST_PERLISTRECORD& rec) {
    CQuillmossDlg* w = window_;
    if (!w) return;
    WindowState& st = w->State();
    // The window's list keeps the same indexes as the job's: it was emptied when the job started.
    if (st.albums.AppendListed(rec) != index + 1) return;
    w->AddAlbumRow(static_cast<int>(index));
}

void QtPresenter::ListFinished(const ListResult& result) {
    RefreshTable();
    const int n = static_cast<int>(result.albums.size());
    SetControlText(Ctl::AlbumGroup, FormatText("相册列表(共%d个)", n));
    SetControlText(Ctl::Status, FormatText("获取相册列表完成，共%d个", n));
    EnableControl(Ctl::SiteChoice, true);
    EnableControl(Ctl::DownloadButton, n > 0);
    SetControlText(Ctl::ListButton, u"获取相册");
    EnableControl(Ctl::Target, true);
    EnableControl(Ctl::Thumbnails, true);
    EnableControl(Ctl::FindLink, true);
    EnableControl(Ctl::FilterLink, true);
    EnableControl(Ctl::ExportLink, true);
    Post([this, result] {
        CQuillmossDlg* w = window_;
        if (!w) return;
        WindowState& st = w->State();
        st.list = result;
        if (!result.albums.empty() && AddRecent(st, 0, result.target)) {
            if (auto* combo = qobject_cast<CComboBox2*>(w->Control(Ctl::Target))) combo->AddHistory(Q(result.target));
            SaveSettings(st);
        }
    });
}

// --- the download job -----------------------------------------------------------------------------

void QtPresenter::SetDownloadLook(bool running) {
    SetControlText(Ctl::DownloadButton, running ? u"终止下载" : u"下载");
    for (Ctl c : kDownloadLocked) EnableControl(c, !running);
}

void QtPresenter::DownloadStarted(std::size_t albums) {
    SetDownloadLook(true);
    Post([this, albums] {
        if (CQuillmossDlg* w = window_) w->ProgressBar()->Start(static_cast<int>(albums));
    });
}

void QtPresenter::AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD&) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        albumFolder_.clear();
        lastDone_ = 0;
        total_ = 0;
    }
    SetControlText(Ctl::Status,
                   FormatText("正在下载第%d/%d个图集", static_cast<int>(position), static_cast<int>(count)));
    SetControlText(Ctl::Progress, u"......");
    Post([this, position, count] {
        if (CQuillmossDlg* w = window_) {
            // The bar names the album in progress, as the status line does.
            w->ProgressBar()->SetAlbums(static_cast<int>(position), static_cast<int>(count));
            w->ProgressBar()->SetPictures(0, 0);  // busy while listing
        }
    });
}

void QtPresenter::PicturesListed(std::size_t count) {
    SetControlText(Ctl::Progress, u"已获取到" + FormatText("%d", static_cast<int>(count)) + u"张图片信息");
}

void QtPresenter::TransferStarted(std::size_t total, const Text& folder) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        albumFolder_ = folder;
        total_ = total;
    }
    SetControlText(Ctl::Progress, u"已开始下载图片");
    Post([this, total] {
        if (CQuillmossDlg* w = window_) w->ProgressBar()->SetPictures(0, static_cast<int>(total));
    });
}

void QtPresenter::PictureFinished(const PictureOutcome&, std::size_t done, std::size_t total) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (done <= lastDone_) return;  // workers may report out of order; the count only grows
        lastDone_ = done;
        total_ = total;
        if (progressQueued_) return;  // the queued update will read this count
        progressQueued_ = true;
    }
    Post([this] { ShowPictureProgress(); });
}

void QtPresenter::ShowPictureProgress() {
    std::size_t done = 0, total = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        progressQueued_ = false;
        done = lastDone_;
        total = total_;
    }
    CQuillmossDlg* w = window_;
    if (!w || done == 0) return;  // a new album began since the update was queued
    if (auto* line = qobject_cast<QLabel*>(w->Control(Ctl::Progress)))
        line->setText(QStringLiteral("已下载%1/%2......").arg(done).arg(total));
    w->ProgressBar()->SetPictures(static_cast<int>(done), static_cast<int>(total));
}

void QtPresenter::AlbumFinished(const AlbumOutcome&, unsigned) {
    std::lock_guard<std::mutex> lock(mutex_);
    albumFolder_.clear();
}

void QtPresenter::DownloadFinished(const JobOutcome& outcome) {
    SetDownloadLook(false);
    SetControlText(Ctl::Progress, Text());
    Post([this, outcome] {
        CQuillmossDlg* w = window_;
        if (!w) return;
        w->ProgressBar()->Finish();
        // Read here, on the GUI thread: a stop pressed before this update ran was pressed while
        // the window still showed the download running.
        if (auto* status = qobject_cast<QLabel*>(w->Control(Ctl::Status)))
            status->setText(FinishedStatus(outcome, stopPressed_.load()));
        if (closing_) return;
        w->DownloadEnded(outcome);
    });
}

void QtPresenter::Waiting(std::chrono::seconds left) {
    SetControlText(Ctl::Status, left.count() > 0
                                    ? FormatText("服务正在限流，等待 %d 秒后继续", static_cast<int>(left.count()))
                                    : Text());
}

Text QtPresenter::CurrentAlbumFolder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return albumFolder_;
}

// --- messages, questions, logins ------------------------------------------------------------------

void QtPresenter::Notify(const NoticeEvent& n) {
    if (closing_) return;
    const ShownText shown = NoticeText(n);
    Call([&] { ShowMessageBox(window_, Q(shown.text), Q(shown.title)); });
}

bool QtPresenter::Ask(const QuestionEvent& q) {
    bool answer = false;
    if (closing_) return false;
    const ShownText shown = QuestionText(q);
    Call([&] { answer = AskYesNoBox(window_, Q(shown.text), Q(shown.title)); });
    return answer;
}

void QtPresenter::RequestLogin(const Text& url) {
    if (closing_) return;
    // A fetcher's login request always opens the modal window; the job waits until it closes.
    Call([&] { OpenLoginWindow(window_, Q(url), true); });
}

}  // namespace qm::ui
