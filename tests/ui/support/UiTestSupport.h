// Helpers of the window tests: a QApplication for GTest, a window on a scratch program folder,
// recorded message boxes and an event-processing wait.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>

#include "ui/MessageBox.h"
#include "ui/QuillmossDlg.h"

namespace qm::uitest {

// Processes events until `ready` holds or `ms` have passed; returns `ready()`.
inline bool WaitUntil(const std::function<bool()>& ready, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!ready() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return ready();
}

// Records every message box and answers questions from `answer`.
struct BoxRecorder {
    std::mutex m;
    QStringList texts;
    bool answer = false;
    BoxRecorder() {
        ui::SetMessageHook([this](ui::BoxKind, const QString& text, const QString& title) {
            std::lock_guard<std::mutex> l(m);
            texts << (title == ui::DefaultCaption() ? text : text + QStringLiteral(" [") + title + ']');
            return answer;
        });
    }
    ~BoxRecorder() { ui::SetMessageHook({}); }
    QStringList Texts() {
        std::lock_guard<std::mutex> l(m);
        return texts;
    }
};

// A ready window whose program folder is a fresh temporary folder.
struct WindowFixture {
    QTemporaryDir dir;
    std::unique_ptr<ui::CQuillmossDlg> window;
    QStringList opened;

    explicit WindowFixture(const QString& programSub = {},
                           const std::function<void(const QString&)>& prepare = {}) {
        const QString folder = programSub.isEmpty() ? dir.path() : dir.path() + '/' + programSub;
        QDir().mkpath(folder);
        if (prepare) prepare(folder);
        ui::WindowOptions o;
        o.programFolder = folder;
        o.documentsFolder = dir.path() + QStringLiteral("/Documents");
        o.splash = false;
        o.showWhenReady = false;
        o.openUrl = [this](const QUrl& u) { opened << u.toString(); };
        window = std::make_unique<ui::CQuillmossDlg>(o);
        WaitUntil([this] { return window->State().WindowReady.load() == 1; });
    }
    QString ProgramFolder() const { return QString::fromStdU16String(window->State().programFolder); }
};

}  // namespace qm::uitest
