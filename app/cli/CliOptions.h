// What the command line asked for, one struct per command. Adding an option is one field here and
// one line in CommandLine.cpp; the commands validate values (kinds, formats, selections) themselves
// so that their messages stay theirs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm::cli {

struct GlobalOptions {
    bool demo = false;           // --demo: the built-in simulator instead of the real services
    std::string programFolder;   // --program-folder DIR (empty: see core/ProgramFolders.h)
};

struct ListOptions {
    std::string target;
    std::string kind;             // --kind (empty: the address decides)
    std::string format = "table"; // --format
    std::optional<bool> answer;   // --yes / --no
};

struct DownloadOptions {
    std::vector<std::string> targets;
    std::string save;             // --save DIR
    std::string kind;             // --kind
    std::string albums = "all";   // --albums
    std::optional<bool> answer;   // --yes / --no
    bool quiet = false;           // --quiet: no progress, the summary only
    bool noProgress = false;      // --no-progress: messages, but no progress bar or lines
    bool noGallery = false;       // --no-gallery: no offline gallery at the end
    std::string format = "table"; // --format table|json
    bool verbose = false;         // -v, --verbose: the request trace on stderr
    bool refetch = false;         // --refetch: fetch again what the archive records as saved
    bool retryFailed = false;     // --retry-failed: only what the archive records as failed
    std::string input;            // --input FILE: more targets, one per line
    std::vector<std::string> albumPasswords;  // --album-password ID=PASSWORD, repeatable
};

struct ReportOptions {
    std::string save;              // --save DIR
    std::string format = "table";  // --format
};

struct GalleryOptions {
    std::string save;              // --save DIR
    std::string target;            // one target folder (empty: every one)
};

struct SettingsOptions {
    enum class Action { Show, Set, Toggle } action = Action::Show;
    std::string key, value;       // set KEY VALUE, toggle KEY
};

struct CookiesOptions {
    enum class Action { List, ImportFile, ImportHeader, ImportBrowser } action = Action::List;
    std::string file;             // import FILE
    std::string domain, header;   // import --domain D 'a=1; b=2'
    std::string browser, profile; // import --from-browser NAME [--profile PATH]
    bool allDomains = false;      // import FILE --all-domains
};

enum class Command { None, List, Download, Report, Gallery, Settings, Cookies };

struct CliOptions {
    GlobalOptions global;
    Command command = Command::None;
    ListOptions list;
    DownloadOptions download;
    ReportOptions report;
    GalleryOptions gallery;
    SettingsOptions settings;
    CookiesOptions cookies;
};

// Parses argv (without the program name). Returns -1 when a command should run, else the exit
// status after printing what was asked (--help, --version) or the usage error.
int ParseCommandLine(const std::vector<std::string>& words, CliOptions& out);

}  // namespace qm::cli
