// The desktop program: the main window on the current directory as program folder.
// --demo serves the built-in simulator on a free loopback port and routes every connection to it.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>

#include "net/CookieStore.h"
#include "net/URLSource2.h"
#include "app/demo/DemoService.h"
#include "qm/Version.h"
#include "ui/BrowserEnvironment.h"
#include "ui/QtTranslations.h"
#include "ui/QuillmossDlg.h"
#include "ui/ScreenshotTour.h"

int main(int argc, char** argv) {
    bool demo = false;
    QString screenshots;  // --screenshots DIR: render the main views into DIR and quit
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quillmoss " QM_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--demo") == 0) demo = true;
        if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
            screenshots = QString::fromLocal8Bit(argv[++i]);
    }

    std::unique_ptr<qm::demo::DemoService> sim;
    QString titleNote;
    if (demo) {
        std::string error;
        sim = qm::demo::DemoService::Start(error);
        if (!sim) {
            std::fprintf(stderr, "quillmoss: demo: %s\n", error.c_str());
            return 1;
        }
        // The login browser's connections go to the simulator too.
        setenv("QUILLMOSS_CONNECT_TO", sim->ConnectTo().c_str(), 1);
        titleNote =
            QStringLiteral("演示模式：内置模拟服务器 %1").arg(QString::fromStdString(sim->ConnectTo()));
    }
    qm::URLSource2Init();
    // Logins (from the login window or imported) persist in cookies.txt of the program folder.
    if (!qm::CookieStore::Instance().Open(std::filesystem::current_path()))
        std::fputs("quillmoss: cookies.txt could not be read\n", stderr);
    // The login browser's flags (host mapping, sandbox) must be set before the application starts.
    qm::ui::PrepareBrowserEnvironment();

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Quillmoss"));
    // Qt's own dialogs (file chooser, message-box buttons) speak Chinese like the rest.
    if (!qm::ui::InstallQtTranslations(app))
        std::fputs("quillmoss: Qt's Chinese translations (qtbase_zh_CN) were not found\n", stderr);
    qm::ui::WindowOptions options;
    options.titleNote = titleNote;
    if (!screenshots.isEmpty()) {
        options.splash = false;
        options.openUrl = [](const QUrl&) {};
    }
    qm::ui::CQuillmossDlg window(options);
    if (!screenshots.isEmpty()) qm::ui::StartScreenshotTour(window, screenshots, QStringLiteral("123456789"));
    const int rc = app.exec();
    sim.reset();
    return rc;
}
