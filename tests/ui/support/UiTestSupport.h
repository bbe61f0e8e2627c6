// Helpers of the window tests: a QApplication for GTest, a window on a scratch program folder,
// recorded message boxes and an event-processing wait.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QDir>
#include <QUrl>
#include <functional>
#include <memory>
#include <mutex>

#include "TempFolder.h"
#include "WaitUntil.h"
#include "ui/MessageBox.h"
#include "ui/QuillmossDlg.h"

namespace qm::uitest {

// The shared wait, processing this thread's events between checks (the window's slots run on it);
// `ms` bounds a hang. Returns `ready()`.
inline bool WaitUntil(const std::function<bool()>& ready, int ms = 10000) {
    return test::WaitUntil(ready, std::chrono::milliseconds(ms), std::chrono::milliseconds(2),
                           [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); });
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
    test::TempFolder folder{"qm-window-"};
    const QString dirPath = QString::fromStdString(folder.path().string());
    std::unique_ptr<ui::CQuillmossDlg> window;
    QStringList opened;

    explicit WindowFixture(const QString& programSub = {},
                           const std::function<void(const QString&)>& prepare = {}) {
        const QString folder = programSub.isEmpty() ? dirPath : dirPath + '/' + programSub;
        QDir().mkpath(folder);
        if (prepare) prepare(folder);
        ui::WindowOptions o;
        o.programFolder = folder;
        o.documentsFolder = dirPath + QStringLiteral("/Documents");
        o.splash = false;
        o.showWhenReady = false;
        o.openUrl = [this](const QUrl& u) { opened << u.toString(); };
        window = std::make_unique<ui::CQuillmossDlg>(o);
        WaitUntil([this] { return window->State().WindowReady.load() == 1; });
    }
    // The fixture's temporary folder (removed when the test ends, passed or failed).
    QString Dir() const { return dirPath; }
    QString ProgramFolder() const { return QString::fromStdU16String(window->State().programFolder); }
};

}  // namespace qm::uitest
