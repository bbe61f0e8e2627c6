#include "ui/ScreenshotTour.h"

#include <QApplication>
#include <QCheckBox>
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
