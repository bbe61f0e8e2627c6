// The command line on CLI11: commands, options, short forms, `--` and per-command help. The help
// and usage texts are the commands' own (Commands.h), so that every message stays as documented.
#include <CLI/CLI.hpp>

#include "app/cli/CliOptions.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "qm/Version.h"

namespace qm::cli {

namespace {

constexpr char kMainUsage[] =
    "usage: quillmoss-cli [--demo] [--program-folder DIR] list|download|report|gallery|settings|cookies ... "
    "(--help for more)";

// --yes / --no into an optional answer; both is a usage error.
struct Answer {
    bool yes = false, no = false;
    void Add(CLI::App* app) {
        app->add_flag("-y,--yes", yes);
        app->add_flag("-n,--no", no);
    }
    bool Into(std::optional<bool>& answer) const {
        if (yes && no) return false;
        if (yes) answer = true;
        if (no) answer = false;
        return true;
    }
};

// A help flag whose text is the command's own.
bool* HelpFlag(CLI::App* app, bool& flag) {
    app->set_help_flag();
    app->add_flag("-h,--help", flag);
    return &flag;
}

}  // namespace

int ParseCommandLine(const std::vector<std::string>& words, CliOptions& out) {
    // `settings set KEY VALUE`: everything after `set` is a word, even when it begins with "-".
    std::vector<std::string> args = words;
    // `help COMMAND` is `COMMAND --help`.
    if (!args.empty() && args[0] == "help") {
        args.erase(args.begin());
        args.push_back("--help");
    }
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "settings") continue;
        if (args[i + 1] == "set" && i + 2 < args.size() && args[i + 2] != "--help" && args[i + 2] != "-h" &&
            args[i + 2] != "--")
            args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 2, "--");
        break;
    }

    CLI::App app{"quillmoss-cli"};
    bool mainHelp = false, version = false;
    HelpFlag(&app, mainHelp);
    app.add_flag("-V,--version", version);
    app.add_flag("--demo", out.global.demo);
    app.add_option("-P,--program-folder", out.global.programFolder);
    app.fallthrough();  // global options may also follow the command
    app.require_subcommand(0, 1);

    bool listHelp = false, downloadHelp = false, reportHelp = false, galleryHelp = false, settingsHelp = false,
         cookiesHelp = false;
    Answer listAnswer, downloadAnswer;

    CLI::App* list = app.add_subcommand("list");
    HelpFlag(list, listHelp);
    list->add_option("TARGET", out.list.target);
    list->add_option("-k,--kind", out.list.kind);
    list->add_option("-f,--format", out.list.format);
    listAnswer.Add(list);

    CLI::App* download = app.add_subcommand("download");
    HelpFlag(download, downloadHelp);
    download->add_option("TARGET", out.download.targets);
    download->add_option("-s,--save", out.download.save);
    download->add_option("-k,--kind", out.download.kind);
    download->add_option("-a,--albums", out.download.albums);
    download->add_flag("-q,--quiet", out.download.quiet);
    download->add_flag("--no-progress", out.download.noProgress);
    download->add_flag("--no-gallery", out.download.noGallery);
    download->add_option("-f,--format", out.download.format);
    download->add_flag("-v,--verbose", out.download.verbose);
    download->add_flag("--refetch", out.download.refetch);
    download->add_flag("--retry-failed", out.download.retryFailed);
    download->add_option("-i,--input", out.download.input);
    download->add_option("--album-password", out.download.albumPasswords)->allow_extra_args(false);
    downloadAnswer.Add(download);

    CLI::App* report = app.add_subcommand("report");
    HelpFlag(report, reportHelp);
    report->add_option("-s,--save", out.report.save);
    report->add_option("-f,--format", out.report.format);

    CLI::App* gallery = app.add_subcommand("gallery");
    HelpFlag(gallery, galleryHelp);
    gallery->add_option("TARGET", out.gallery.target);
    gallery->add_option("-s,--save", out.gallery.save);

    CLI::App* settings = app.add_subcommand("settings");
    HelpFlag(settings, settingsHelp);
    settings->require_subcommand(0, 1);
    CLI::App* show = settings->add_subcommand("show");
    CLI::App* set = settings->add_subcommand("set");
    set->add_option("KEY", out.settings.key)->required();
    set->add_option("VALUE", out.settings.value)->required();
    CLI::App* toggle = settings->add_subcommand("toggle");
    toggle->add_option("FLAG", out.settings.key)->required();
    for (CLI::App* sub : {show, set, toggle}) {
        sub->set_help_flag();
        sub->add_flag("-h,--help", settingsHelp);
    }

    CLI::App* cookies = app.add_subcommand("cookies");
    HelpFlag(cookies, cookiesHelp);
    cookies->require_subcommand(0, 1);
    CLI::App* cookieList = cookies->add_subcommand("list");
    CLI::App* import = cookies->add_subcommand("import");
    std::vector<std::string> importWords;
    import->add_option("FILE", importWords);
    import->add_option("-d,--domain", out.cookies.domain);
    import->add_option("-b,--from-browser", out.cookies.browser);
    import->add_option("-p,--profile", out.cookies.profile);
    import->add_flag("--all-domains", out.cookies.allDomains);
    for (CLI::App* sub : {cookieList, import}) {
        sub->set_help_flag();
        sub->add_flag("-h,--help", cookiesHelp);
    }

    // Which command's usage line goes with an error: the deepest one given.
    auto usageFor = [&]() -> const char* {
        if (list->parsed()) return ListUsage();
        if (download->parsed()) return DownloadUsage();
        if (report->parsed()) return ReportUsage();
        if (gallery->parsed()) return GalleryUsage();
        if (settings->parsed()) return SettingsUsage();
        if (cookies->parsed()) return CookiesUsage();
        return kMainUsage;
    };

    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        if (listHelp || downloadHelp || reportHelp || galleryHelp || settingsHelp || cookiesHelp || mainHelp) {
            // Help wins over what else is wrong on the line.
        } else {
            return UsageError(e.what(), usageFor());
        }
    }
    if (version) {
        Console::Get().Out("quillmoss-cli " QM_VERSION "\n");
        return ExitDone;
    }
    const char* help = listHelp       ? ListHelp()
                       : downloadHelp ? DownloadHelp()
                       : reportHelp   ? ReportHelp()
                       : galleryHelp  ? GalleryHelp()
                       : settingsHelp ? SettingsHelp()
                       : cookiesHelp  ? CookiesHelp()
                       : mainHelp     ? MainHelp()
                                      : nullptr;
    if (help) {
        Console::Get().Out(help);
        return ExitDone;
    }

    if (list->parsed()) {
        out.command = Command::List;
        if (out.list.target.empty()) return UsageError("list 需要一个 TARGET", ListUsage());
        if (!listAnswer.Into(out.list.answer)) return UsageError("--yes 和 --no 不能同时使用", ListUsage());
    } else if (download->parsed()) {
        out.command = Command::Download;
        if (out.download.targets.empty() && out.download.input.empty())
            return UsageError("download 需要一个 TARGET（或 --input FILE）", DownloadUsage());
        if (!downloadAnswer.Into(out.download.answer))
            return UsageError("--yes 和 --no 不能同时使用", DownloadUsage());
        if (out.download.save.empty()) return UsageError("download 需要 --save DIR", DownloadUsage());
        if (out.download.albums.empty()) return UsageError("--albums 需要一个值", DownloadUsage());
    } else if (report->parsed()) {
        out.command = Command::Report;
        if (out.report.save.empty()) return UsageError("report 需要 --save DIR", ReportUsage());
    } else if (gallery->parsed()) {
        out.command = Command::Gallery;
        if (out.gallery.save.empty()) return UsageError("gallery 需要 --save DIR", GalleryUsage());
    } else if (settings->parsed()) {
        out.command = Command::Settings;
        if (show->parsed()) {
            out.settings.action = SettingsOptions::Action::Show;
        } else if (set->parsed()) {
            out.settings.action = SettingsOptions::Action::Set;
        } else if (toggle->parsed()) {
            out.settings.action = SettingsOptions::Action::Toggle;
        } else {
            return UsageError("settings 后面要跟 show、set 或 toggle", SettingsUsage());
        }
    } else if (cookies->parsed()) {
        out.command = Command::Cookies;
        CookiesOptions& c = out.cookies;
        if (cookieList->parsed()) {
            c.action = CookiesOptions::Action::List;
        } else if (!import->parsed()) {
            return UsageError("cookies 后面要跟 import 或 list", CookiesUsage());
        } else if (!c.browser.empty()) {
            c.action = CookiesOptions::Action::ImportBrowser;
            if (!importWords.empty() || !c.domain.empty())
                return UsageError("--from-browser 不能与 FILE 或 --domain 同时使用", CookiesUsage());
        } else if (!c.domain.empty()) {
            c.action = CookiesOptions::Action::ImportHeader;
            if (importWords.size() != 1) return UsageError("--domain 需要一段 'name=value; ...' 文字", CookiesUsage());
            c.header = importWords[0];
        } else {
            c.action = CookiesOptions::Action::ImportFile;
            if (importWords.size() != 1) return UsageError("cookies import 需要一个 FILE", CookiesUsage());
            c.file = importWords[0];
        }
        if (!c.profile.empty() && c.browser.empty())
            return UsageError("--profile 要与 --from-browser 一起使用", CookiesUsage());
    } else {
        return UsageError("没有给出命令", kMainUsage);
    }
    return -1;
}

}  // namespace qm::cli
