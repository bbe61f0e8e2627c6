#include "ui/ScreenshotTour.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "ui/ComboBox2.h"
#include "ui/DlgDownSet.h"
#include "ui/DlgFind.h"
#include "ui/DlgSaveSet.h"
#include "ui/DownloadProgressBar.h"
#include "ui/DownloadResultDialog.h"
#include "ui/LoginScreenshot.h"
#include "ui/MessageBox.h"
#include "ui/MyGridCtrl.h"
#include "ui/QuillmossDlg.h"

namespace qm::ui {

namespace {

void Save(QWidget* w, const QString& dir, const QString& name) {
    const QString path = dir + QLatin1Char('/') + name;
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
}

// A download of three albums in which pictures failed and one album was out of reach.
JobOutcome SampleOutcome() {
    JobOutcome job;
    AlbumOutcome a;
    a.index = 0;
    a.name = u"旅行照片";
    a.expected = 24;
    a.listed = 24;
    a.saved = 21;
    a.failed = 3;
    a.folder = u"相册/旅行照片/";
    for (std::size_t i : {4u, 9u}) {
        PictureOutcome p;
        p.index = i;
        p.failure = Failure{FailureKind::Timeout, 0, {}};
        a.failures.push_back(p);
    }
    PictureOutcome missing;
    missing.index = 17;
    missing.failure = Failure{FailureKind::HttpStatus, 404, {}};
    a.failures.push_back(missing);
    AlbumOutcome b;
    b.index = 1;
    b.name = u"私密相册";
    b.expected = 5;
    b.reason = AlbumReason::NoAccess;
    AlbumOutcome c;
    c.index = 5;
    c.name = u"家庭";
    c.expected = 6;
    c.listed = 6;
    c.saved = 2;
    c.alreadyHad = 4;
    c.folder = u"相册/家庭/";
    job.albums = {a, b, c};
    job.lastFolder = c.folder;
    return job;
}

// The window during a download (bar beside the progress line) at the minimum and a wide size.
void SaveProgressShots(CQuillmossDlg& w, const QString& dir) {
    const QSize before = w.size();
    auto* status = qobject_cast<QLabel*>(w.Control(Ctl::Status));
    auto* progress = qobject_cast<QLabel*>(w.Control(Ctl::Progress));
    const QString statusText = status->text();
    status->setText(QStringLiteral("正在下载第2/3个图集"));
    progress->setText(QStringLiteral("已下载12/24......"));
    DownloadProgressBar* bar = w.ProgressBar();
    bar->Start(3);
    bar->SetAlbums(2, 3);  // the album in progress, as the status line says
    bar->SetPictures(12, 24);
    for (QSize size : {QSize(640, 420), QSize(1400, 900)}) {
        w.resize(size);
        QApplication::processEvents();
        Save(&w, dir, QStringLiteral("main-progress-%1x%2.png").arg(size.width()).arg(size.height()));
    }
    bar->Finish();
    progress->clear();
    status->setText(statusText);
    w.resize(before);
    QApplication::processEvents();
}

// Calls `next` once `ready` holds (checked every 50 ms, at most `limitMs`).
void WaitFor(std::function<bool()> ready, std::function<void()> next, int limitMs = 30000) {
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, ready, next, waited, limitMs] {
        *waited += 50;
        if (!ready() && *waited < limitMs) return;
        timer->stop();
        timer->deleteLater();
        next();
    });
    timer->start(50);
}

}  // namespace

void StartScreenshotTour(CQuillmossDlg& w, const QString& dir, const QString& target) {
    QDir().mkpath(dir);
    SetMessageHook([](BoxKind kind, const QString& text, const QString&) {
        std::printf("%s: %s\n", kind == BoxKind::Question ? "question" : "message", qPrintable(text));
        return false;
    });
    WindowState& st = w.State();
    WaitFor([&st] { return st.WindowReady.load() == 1; },
            [&w, &st, dir, target] {
                w.TargetBox()->SetEditText(target);
                w.OnTargetEdited(target);
                w.OnListButton();
                WaitFor([&st] { return !st.listJob.Running(); },
                        [&w, &st, dir] {
                            QTimer::singleShot(300, [&w, &st, dir] {
                                CMyGridCtrl* grid = w.Grid();
                                if (grid->RowCount() > 2) {
                                    grid->selectRow(0);
                                    grid->selectionModel()->select(
                                        grid->model()->index(2, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
                                }
                                Save(&w, dir, QStringLiteral("main-list.png"));
                                SaveProgressShots(w, dir);
                                DownloadResultDialog* result =
                                    w.ShowDownloadResult(SampleOutcome(), QStringLiteral("相册/index.html"));
                                QApplication::processEvents();
                                Save(result, dir, QStringLiteral("result-box.png"));
                                result->close();

                                QMenu* menu = w.SettingsMenu();
                                menu->popup(w.mapToGlobal(QPoint(60, 30)));
                                QTimer::singleShot(300, [&w, &st, dir, menu] {
                                    Save(menu, dir, QStringLiteral("menu-settings.png"));
                                    menu->hide();

                                    DownParam param{0, 0, 5, 30};
                                    CDlgDownSet down(param, &w);
                                    down.show();
                                    Save(&down, dir, QStringLiteral("dialog-download.png"));
                                    down.hide();
                                    SiteProfile profile;
                                    SetFieldText(profile.NameSuffix, u"_?2");
                                    CDlgSaveSet names(profile, &w);
                                    names.show();
                                    Save(&names, dir, QStringLiteral("dialog-filenames.png"));
                                    names.hide();

                                    w.OnFindLink();
                                    w.FindBar()->KeywordEdit()->setText(QStringLiteral("旅行"));
                                    QTimer::singleShot(200, [&w, &st, dir] {
                                        Save(w.FindBar(), dir, QStringLiteral("search-bar.png"));
                                        w.FindBar()->hide();
                                        auto* box = qobject_cast<QCheckBox*>(w.Control(Ctl::Thumbnails));
                                        box->setChecked(true);
                                        w.OnThumbnailBox(true);
                                        WaitFor([&st] { return st.ThumbJobState.load() == 0; },
                                                [&w, dir] {
                                                    QTimer::singleShot(500, [&w, dir] {
                                                        CMyGridCtrl* grid = w.Grid();
                                                        grid->selectionModel()->select(
                                                            grid->model()->index(0, 1),
                                                            QItemSelectionModel::Select);
                                                        Save(&w, dir, QStringLiteral("main-thumbnails.png"));
                                                        SetMessageHook({});
                                                        SaveLoginWindowShot(&w, dir,
                                                                            [] { QApplication::quit(); });
                                                    });
                                                });
                                    });
                                });
                            });
                        });
            });
}

}  // namespace qm::ui
