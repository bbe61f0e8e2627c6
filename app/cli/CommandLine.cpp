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

// `help COMMAND` is `COMMAND --help`; in `settings set KEY VALUE` everything after `set` is a
// word, even when it begins with "-".
std::vector<std::string> PrepareWords(const std::vector<std::string>& words) {
    std::vector<std::string> args = words;
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
    return args;
}

// The commands and their options, parsed into a CliOptions.
class Grammar {
public:
    explicit Grammar(CliOptions& out) : out_(out) {
        HelpFlag(&app_, mainHelp_);
        app_.add_flag("-V,--version", version_);
        app_.add_flag("--demo", out.global.demo);
        app_.add_option("-P,--program-folder", out.global.programFolder);
        app_.fallthrough();  // global options may also follow the command
        app_.require_subcommand(0, 1);
        AddList();
        AddDownload();
        AddReportAndGallery();
        AddSettings();
        AddCookies();
    }

    // ExitDone after the version or a help text, a usage error, or -1 with `out` filled in.
    int Parse(const std::vector<std::string>& args) {
        try {
            std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
            app_.parse(reversed);
        } catch (const CLI::ParseError& e) {
            // Help wins over what else is wrong on the line.
            if (!AnyHelp()) return UsageError(e.what(), UsageFor());
        }
        if (version_) {
            Console::Get().Out("quillmoss-cli " QM_VERSION "\n");
            return ExitDone;
        }
        if (const char* help = Help()) {
            Console::Get().Out(help);
            return ExitDone;
        }
        return Check();
    }

private:
    void AddList() {
        list_ = app_.add_subcommand("list");
        HelpFlag(list_, listHelp_);
        list_->add_option("TARGET", out_.list.target);
        list_->add_option("-k,--kind", out_.list.kind);
        list_->add_option("-f,--format", out_.list.format);
        listAnswer_.Add(list_);
    }

    void AddDownload() {
        CLI::App* d = download_ = app_.add_subcommand("download");
        HelpFlag(d, downloadHelp_);
        d->add_option("TARGET", out_.download.targets);
        d->add_option("-s,--save", out_.download.save);
        d->add_option("-k,--kind", out_.download.kind);
        d->add_option("-a,--albums", out_.download.albums);
        d->add_flag("-q,--quiet", out_.download.quiet);
        d->add_flag("--no-progress", out_.download.noProgress);
        d->add_flag("--no-gallery", out_.download.noGallery);
        d->add_option("-f,--format", out_.download.format);
        d->add_flag("-v,--verbose", out_.download.verbose);
        d->add_flag("--refetch", out_.download.refetch);
        d->add_flag("--retry-failed", out_.download.retryFailed);
        d->add_option("-i,--input", out_.download.input);
        d->add_option("--album-password", out_.download.albumPasswords)->allow_extra_args(false);
        downloadAnswer_.Add(d);
    }

    void AddReportAndGallery() {
        report_ = app_.add_subcommand("report");
        HelpFlag(report_, reportHelp_);
        report_->add_option("-s,--save", out_.report.save);
        report_->add_option("-f,--format", out_.report.format);

        gallery_ = app_.add_subcommand("gallery");
        HelpFlag(gallery_, galleryHelp_);
        gallery_->add_option("TARGET", out_.gallery.target);
        gallery_->add_option("-s,--save", out_.gallery.save);
    }

    void AddSettings() {
        settings_ = app_.add_subcommand("settings");
        HelpFlag(settings_, settingsHelp_);
        settings_->require_subcommand(0, 1);
        show_ = settings_->add_subcommand("show");
        set_ = settings_->add_subcommand("set");
        set_->add_option("KEY", out_.settings.key)->required();
        set_->add_option("VALUE", out_.settings.value)->required();
        toggle_ = settings_->add_subcommand("toggle");
        toggle_->add_option("FLAG", out_.settings.key)->required();
        for (CLI::App* sub : {show_, set_, toggle_}) {
            sub->set_help_flag();
            sub->add_flag("-h,--help", settingsHelp_);
        }
    }

    void AddCookies() {
        cookies_ = app_.add_subcommand("cookies");
        HelpFlag(cookies_, cookiesHelp_);
        cookies_->require_subcommand(0, 1);
        cookieList_ = cookies_->add_subcommand("list");
        import_ = cookies_->add_subcommand("import");
        import_->add_option("FILE", importWords_);
        import_->add_option("-d,--domain", out_.cookies.domain);
        import_->add_option("-b,--from-browser", out_.cookies.browser);
        import_->add_option("-p,--profile", out_.cookies.profile);
        import_->add_flag("--all-domains", out_.cookies.allDomains);
        for (CLI::App* sub : {cookieList_, import_}) {
            sub->set_help_flag();
            sub->add_flag("-h,--help", cookiesHelp_);
        }
    }

    bool AnyHelp() const {
        return listHelp_ || downloadHelp_ || reportHelp_ || galleryHelp_ || settingsHelp_ || cookiesHelp_ ||
               mainHelp_;
    }

    const char* Help() const {
        return listHelp_       ? ListHelp()
               : downloadHelp_ ? DownloadHelp()
               : reportHelp_   ? ReportHelp()
               : galleryHelp_  ? GalleryHelp()
               : settingsHelp_ ? SettingsHelp()
               : cookiesHelp_  ? CookiesHelp()
               : mainHelp_     ? MainHelp()
                               : nullptr;
    }

    // Which command's usage line goes with an error: the deepest one given.
    const char* UsageFor() const {
        if (list_->parsed()) return ListUsage();
        if (download_->parsed()) return DownloadUsage();
        if (report_->parsed()) return ReportUsage();
        if (gallery_->parsed()) return GalleryUsage();
        if (settings_->parsed()) return SettingsUsage();
        if (cookies_->parsed()) return CookiesUsage();
        return kMainUsage;
    }

    // The command given, and what it needs that the grammar alone does not say.
    int Check() {
        if (list_->parsed()) {
            out_.command = Command::List;
            if (out_.list.target.empty()) return UsageError("list 需要一个 TARGET", ListUsage());
            if (!listAnswer_.Into(out_.list.answer)) return UsageError("--yes 和 --no 不能同时使用", ListUsage());
        } else if (download_->parsed()) {
            out_.command = Command::Download;
            if (out_.download.targets.empty() && out_.download.input.empty())
                return UsageError("download 需要一个 TARGET（或 --input FILE）", DownloadUsage());
            if (!downloadAnswer_.Into(out_.download.answer))
                return UsageError("--yes 和 --no 不能同时使用", DownloadUsage());
            if (out_.download.save.empty()) return UsageError("download 需要 --save DIR", DownloadUsage());
            if (out_.download.albums.empty()) return UsageError("--albums 需要一个值", DownloadUsage());
        } else if (report_->parsed()) {
            out_.command = Command::Report;
            if (out_.report.save.empty()) return UsageError("report 需要 --save DIR", ReportUsage());
        } else if (gallery_->parsed()) {
            out_.command = Command::Gallery;
            if (out_.gallery.save.empty()) return UsageError("gallery 需要 --save DIR", GalleryUsage());
        } else if (settings_->parsed()) {
            return CheckSettings();
        } else if (cookies_->parsed()) {
            return CheckCookies();
        } else {
            return UsageError("没有给出命令", kMainUsage);
        }
        return -1;
    }

    int CheckSettings() {
        out_.command = Command::Settings;
        if (show_->parsed()) {
            out_.settings.action = SettingsOptions::Action::Show;
        } else if (set_->parsed()) {
            out_.settings.action = SettingsOptions::Action::Set;
        } else if (toggle_->parsed()) {
            out_.settings.action = SettingsOptions::Action::Toggle;
        } else {
            return UsageError("settings 后面要跟 show、set 或 toggle", SettingsUsage());
        }
        return -1;
    }

    int CheckCookies() {
        out_.command = Command::Cookies;
        CookiesOptions& c = out_.cookies;
        if (cookieList_->parsed()) {
            c.action = CookiesOptions::Action::List;
        } else if (!import_->parsed()) {
            return UsageError("cookies 后面要跟 import 或 list", CookiesUsage());
        } else if (!c.browser.empty()) {
            c.action = CookiesOptions::Action::ImportBrowser;
            if (!importWords_.empty() || !c.domain.empty())
                return UsageError("--from-browser 不能与 FILE 或 --domain 同时使用", CookiesUsage());
        } else if (!c.domain.empty()) {
            c.action = CookiesOptions::Action::ImportHeader;
            if (importWords_.size() != 1) return UsageError("--domain 需要一段 'name=value; ...' 文字", CookiesUsage());
            c.header = importWords_[0];
        } else {
            c.action = CookiesOptions::Action::ImportFile;
            if (importWords_.size() != 1) return UsageError("cookies import 需要一个 FILE", CookiesUsage());
            c.file = importWords_[0];
        }
        if (!c.profile.empty() && c.browser.empty())
            return UsageError("--profile 要与 --from-browser 一起使用", CookiesUsage());
        return -1;
    }

    CliOptions& out_;
    CLI::App app_{"quillmoss-cli"};
    bool mainHelp_ = false, version_ = false;
    bool listHelp_ = false, downloadHelp_ = false, reportHelp_ = false, galleryHelp_ = false,
         settingsHelp_ = false, cookiesHelp_ = false;
    Answer listAnswer_, downloadAnswer_;
    CLI::App *list_ = nullptr, *download_ = nullptr, *report_ = nullptr, *gallery_ = nullptr;
    CLI::App *settings_ = nullptr, *show_ = nullptr, *set_ = nullptr, *toggle_ = nullptr;
    CLI::App *cookies_ = nullptr, *cookieList_ = nullptr, *import_ = nullptr;
    std::vector<std::string> importWords_;
};

}  // namespace

int ParseCommandLine(const std::vector<std::string>& words, CliOptions& out) {
    Grammar grammar(out);
    return grammar.Parse(PrepareWords(words));
}

}  // namespace qm::cli
