// The desktop program: the main window, with its files where core/ProgramFolders.h says
// (--program-folder DIR, QUILLMOSS_HOME, a current directory holding soft.dat, else the XDG folders).
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
#include "core/ProgramFolders.h"
#include "qm/Version.h"
#include "ui/BrowserEnvironment.h"
#include "ui/QtTranslations.h"
#include "ui/QuillmossDlg.h"
#include "ui/ScreenshotTour.h"

int main(int argc, char** argv) {
    bool demo = false;
    QString screenshots;  // --screenshots DIR: render the main views into DIR and quit
    std::string programFolder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quillmoss " QM_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("usage: quillmoss [--demo] [--program-folder DIR] [--version]");
            return 0;
        }
        if (std::strcmp(argv[i], "--demo") == 0) demo = true;
        if (std::strcmp(argv[i], "--program-folder") == 0 && i + 1 < argc) programFolder = argv[++i];
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
    const qm::ProgramFolders folders =
        qm::ChooseProgramFolders(qm::ProgramFolderInputsFromEnvironment(programFolder));
    std::string folderError;
    if (!qm::CreateProgramFolders(folders, folderError)) {
        std::fprintf(stderr, "quillmoss: %s\n", folderError.c_str());
        return 1;
    }
    // Logins (from the login window or imported) persist in cookies.txt of the program folder.
    if (!qm::CookieStore::Instance().Open(folders.config))
        std::fputs("quillmoss: cookies.txt could not be read\n", stderr);
    // Qt WebEngine's start-up debug block is no concern of the user's terminal.
    if (qgetenv("QT_LOGGING_RULES").isEmpty()) qputenv("QT_LOGGING_RULES", "qt.webenginecontext.debug=false");
    // The login browser's flags (host mapping, sandbox) must be set before the application starts.
    qm::ui::PrepareBrowserEnvironment();

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Quillmoss"));
    // Qt's own dialogs (file chooser, message-box buttons) speak Chinese like the rest.
    if (!qm::ui::InstallQtTranslations(app))
        std::fputs("quillmoss: Qt's Chinese translations (qtbase_zh_CN) were not found\n", stderr);
    app.setApplicationVersion(QStringLiteral(QM_VERSION));
    app.setDesktopFileName(QStringLiteral("quillmoss"));
    QIcon icon;
    for (const char* size : {"48", "128", "256"})
        icon.addFile(QStringLiteral(":/icons/quillmoss-%1.png").arg(QLatin1String(size)));
    app.setWindowIcon(icon);
    qm::ui::WindowOptions options;
    options.programFolder = QString::fromStdString(folders.config.string());
    options.cacheFolder = QString::fromStdString(folders.cache.string());
    options.portable = folders.portable;
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
