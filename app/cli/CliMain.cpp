#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "qm/Version.h"

namespace qm::cli {

namespace {

constexpr char kMainHelp[] =
    "usage: quillmoss-cli [--demo] COMMAND ...\n"
    "\n"
    "Downloads whole photo albums of the QQ Zone family from the terminal.\n"
    "\n"
    "  list TARGET [--kind qzone|group|weibo] [--format table|tsv|json]\n"
    "                       list the albums of a QQ number, QQ group or Tencent Weibo page\n"
    "  download TARGET --save DIR [--kind ...] [--albums all|1,3-5] [--yes|--no]\n"
    "                       list, then download the chosen albums into DIR\n"
    "  report --save DIR [--format table|tsv]\n"
    "                       how complete the albums downloaded into DIR are (no network)\n"
    "  gallery --save DIR [TARGET]\n"
    "                       write an offline gallery (HTML pages, thumbnails) of the saved albums\n"
    "  settings show | set KEY VALUE | toggle FLAG\n"
    "                       download parameters, naming rules and options (soft.dat)\n"
    "  cookies import FILE | import --domain D 'name=value; ...' | list\n"
    "                       the cookie store that requests use (cookies.txt)\n"
    "\n"
    "  --demo               use the built-in simulator instead of the real services\n"
    "  --help               this text; COMMAND --help tells more about a command\n"
    "\n"
    "The program folder is the current directory. Exit status: 0 done, 1 failure or nothing\n"
    "found, 2 usage, 130 interrupted.\n";

constexpr char kMainUsage[] =
    "usage: quillmoss-cli [--demo] list|download|report|gallery|settings|cookies ... (--help for more)";

}  // namespace

int UsageError(const std::string& message, const char* usage) {
    Console::Get().Err("quillmoss-cli: " + message);
    Console::Get().Err(usage);
    return ExitUsage;
}

int RunCli(const std::vector<std::string>& words) {
    bool demo = false;
    std::size_t i = 0;
    for (; i < words.size(); ++i) {
        if (words[i] == "--demo") {
            demo = true;
        } else if (words[i] == "--version") {
            Console::Get().Out("quillmoss-cli " QM_VERSION "\n");
            return ExitDone;
        } else if (words[i] == "--help" || words[i] == "-h" || words[i] == "help") {
            if (words[i] == "help" && i + 1 < words.size()) {
                std::vector<std::string> rest{words[i + 1], "--help"};
                return RunCli(rest);
            }
            Console::Get().Out(kMainHelp);
            return ExitDone;
        } else {
            break;
        }
    }
    if (i >= words.size()) return UsageError("no command given", kMainUsage);
    const std::string& command = words[i];
    const std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
    InstallInterruptHandler();
    if (command == "list") return ListCommand(rest, demo);
    if (command == "download") return DownloadCommand(rest, demo);
    if (command == "report") return ReportCommand(rest);
    if (command == "gallery") return GalleryCommand(rest);
    if (command == "settings") return SettingsCommand(rest);
    if (command == "cookies") return CookiesCommand(rest);
    return UsageError("unknown command " + command, kMainUsage);
}

}  // namespace qm::cli
