#include <cstdio>

#include "app/cli/CliOptions.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"

namespace qm::cli {

namespace {

constexpr char kMainHelp[] =
    "usage: quillmoss-cli [--demo] [--program-folder DIR] COMMAND ...\n"
    "\n"
    "Downloads whole photo albums of the QQ Zone family from the terminal.\n"
    "\n"
    "  list TARGET [--kind qzone|group|weibo] [--format table|tsv|json]\n"
    "                       list the albums of a QQ number, QQ group or Tencent Weibo page\n"
    "  download TARGET --save DIR [--kind ...] [--albums all|1,3-5] [--yes|--no]\n"
    "           [--quiet|--no-progress]\n"
    "                       list, then download the chosen albums into DIR\n"
    "  report --save DIR [--format table|tsv]\n"
    "                       how complete the albums downloaded into DIR are (no network)\n"
    "  gallery --save DIR [TARGET]\n"
    "                       write an offline gallery (HTML pages, thumbnails) of the saved albums\n"
    "  settings show | set KEY VALUE | toggle FLAG\n"
    "                       download parameters, naming rules and options (soft.dat)\n"
    "  cookies import FILE [--all-domains] | import --domain D 'name=value; ...' |\n"
    "          import --from-browser firefox [--profile PATH] | list\n"
    "                       the cookie store that requests use (cookies.txt)\n"
    "\n"
    "  --demo               use the built-in simulator instead of the real services\n"
    "  -P, --program-folder DIR\n"
    "                       keep soft.dat, cookies.txt and the cover cache in DIR\n"
    "  -V, --version        the program's name and version\n"
    "  -h, --help           this text; COMMAND --help tells more about a command\n"
    "\n"
    "Program folder: --program-folder DIR, else $QUILLMOSS_HOME, else the current directory when it\n"
    "holds soft.dat, else $XDG_CONFIG_HOME/quillmoss (~/.config/quillmoss) for the settings and\n"
    "cookies and $XDG_CACHE_HOME/quillmoss (~/.cache/quillmoss) for the cover cache.\n"
    "Exit status: 0 done, 1 failure or nothing found, 2 usage, 130 interrupted.\n";

}  // namespace

const char* MainHelp() {
    return kMainHelp;
}

int UsageError(const std::string& message, const char* usage) {
    Console::Get().Err("quillmoss-cli: " + message);
    Console::Get().Err(usage);
    return ExitUsage;
}

int RunCli(const std::vector<std::string>& words) {
    CliOptions options;
    int status = ParseCommandLine(words, options);
    if (status < 0) {
        InstallInterruptHandler();
        switch (options.command) {
            case Command::List: status = ListCommand(options.global, options.list); break;
            case Command::Download: status = DownloadCommand(options.global, options.download); break;
            case Command::Report: status = ReportCommand(options.global, options.report); break;
            case Command::Gallery: status = GalleryCommand(options.global, options.gallery); break;
            case Command::Settings: status = SettingsCommand(options.global, options.settings); break;
            case Command::Cookies: status = CookiesCommand(options.global, options.cookies); break;
            case Command::None: status = ExitUsage; break;
        }
    }
    // What went to standard output must have reached it: a full disk or a closed pipe is a failure.
    if (!Console::Get().OutFlushed() && status == ExitDone) {
        std::fputs("quillmoss-cli: cannot write to standard output\n", stderr);
        status = ExitFailure;
    }
    return status;
}

}  // namespace qm::cli
