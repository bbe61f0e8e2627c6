#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/FirefoxCookies.h"
#include "app/cli/Session.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/TerminalSafe.h"

namespace qm::cli {

namespace {

constexpr char kCookiesUsage[] =
    "usage: quillmoss-cli cookies import FILE [--all-domains] | import --domain DOMAIN 'name=value; ...' |\n"
    "       import --from-browser firefox [--profile PATH] | list";

constexpr char kCookiesHelp[] =
    "usage: quillmoss-cli cookies import FILE [--all-domains] | import --domain DOMAIN 'name=value; ...' |\n"
    "       import --from-browser firefox [--profile PATH] | list\n"
    "\n"
    "The cookie store of the program folder (cookies.txt), which every request uses; log in with a\n"
    "browser and bring its cookies here to list private and friends-only albums.\n"
    "\n"
    "  import FILE                  a Netscape cookies.txt as browsers' export extensions write it;\n"
    "                               only cookies of the QQ Zone family (qq.com, qzone.com, qpic.cn)\n"
    "                               are taken unless --all-domains is given\n"
    "  import --from-browser firefox [--profile PATH]\n"
    "                               the QQ Zone family's cookies of Firefox's default profile (or of\n"
    "                               the profile folder or cookies.sqlite PATH), read from a copy\n"
    "  import --domain D 'a=1; b=2' cookies copied from a browser's Cookie header, for domain D\n"
    "                               and its sub-domains (e.g. qq.com)\n"
    "  list                         every stored cookie: domain, path, name, value, expiry\n"
    "\n"
    "Browser login cookies usually end with the browser session; imported ones without an expiry\n"
    "are kept for 30 days so that later runs still see them.\n"
    "Exit status: 0 done, 1 nothing imported, the file cannot be read or cookies.txt cannot be\n"
    "written, 2 usage.\n";

constexpr int64_t kImportedLifetime = 30LL * 24 * 3600;

int64_t ImportedExpiry() {
    return static_cast<int64_t>(std::time(nullptr)) + kImportedLifetime;
}

// Exit status 1 with the system's reason when cookies.txt cannot be written.
int Saved(CookieStore& store) {
    if (const auto error = store.Save()) {
        Console::Get().Err("quillmoss-cli: cannot save the cookies: " + *error);
        return ExitFailure;
    }
    return ExitDone;
}

// Says what an import kept and what it left out, and why; exit status 1 when nothing was kept.
int ReportImport(CookieStore& store, const CookieAddReport& r, std::size_t otherDomains, std::size_t expired,
                 const std::string& from) {
    if (const int exit = Saved(store); exit != ExitDone) return exit;
    const std::size_t dropped = r.tooLarge + r.overLimit + r.replaced + r.invalid + r.expired + expired + otherDomains;
    std::string note = "kept " + std::to_string(r.kept) + " of " + std::to_string(r.kept + dropped) + " cookies" +
                       from + " in " + store.FilePath().string();
    std::vector<std::string> why;
    auto say = [&why](std::size_t n, const std::string& what) {
        if (n > 0) why.push_back(std::to_string(n) + " " + what);
    };
    say(r.overLimit, "over the limits (" + std::to_string(kMaxCookiesPerDomain) + " per domain, " +
                         std::to_string(kMaxCookies) + " in all; the oldest go first)");
    say(r.tooLarge, "larger than " + std::to_string(kMaxCookieBytes) + " bytes");
    say(r.expired + expired, "expired");
    say(r.replaced, "repeated (the last one counts)");
    say(r.invalid, "without a name or domain");
    say(otherDomains, "of other domains (--all-domains takes them)");
    if (!why.empty()) {
        note += "; dropped ";
        for (std::size_t i = 0; i < why.size(); ++i) note += (i ? ", " : "") + why[i];
    }
    Console::Get().Err(note);
    return r.kept > 0 ? ExitDone : ExitFailure;
}

int ImportFile(CookieStore& store, const std::string& file, bool allDomains) {
    std::string text;
    std::error_code ec;
    if (std::filesystem::is_directory(PathFromText(FromUtf8(file)), ec)) {
        Console::Get().Err("quillmoss-cli: " + file + " is a folder, not a cookie file");
        return ExitFailure;
    }
    if (!ReadWholeFile(PathFromText(FromUtf8(file)), text)) {
        Console::Get().Err("cannot read " + file);
        return ExitFailure;
    }
    std::vector<Cookie> cookies;
    std::size_t otherDomains = 0, expired = 0;
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line = std::string_view(text).substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Cookie c;
        if (!ParseNetscapeLine(line, c)) continue;
        if (c.expires == 0) c.expires = ImportedExpiry();
        if (c.expires < now) {
            ++expired;
            continue;
        }
        if (!allDomains && !IsFamilyDomain(c.domain)) {
            ++otherDomains;
            continue;
        }
        cookies.push_back(std::move(c));
    }
    return ReportImport(store, store.AddAll(std::move(cookies)), otherDomains, expired, " from " + file);
}

int ImportPairs(CookieStore& store, const std::string& domain, const std::string& pairs) {
    std::string d = domain;
    while (!d.empty() && d.front() == '.') d.erase(0, 1);
    if (d.empty() || d.find_first_of(" \t;/=") != std::string::npos) {
        Console::Get().Err("bad domain " + domain);
        return ExitUsage;
    }
    return ReportImport(store, store.AddAll(CookiesFromHeader(pairs, d, ImportedExpiry())), 0, 0, " for " + d);
}

int ImportBrowser(CookieStore& store, const CookiesOptions& o) {
    if (o.browser != "firefox") {
        Console::Get().Err("quillmoss-cli: cookies can be read from firefox only, not " + o.browser);
        return ExitUsage;
    }
    namespace fs = std::filesystem;
    fs::path file;
    if (!o.profile.empty()) {
        file = fs::path(o.profile);
        std::error_code ec;
        if (fs::is_directory(file, ec)) file /= "cookies.sqlite";
    } else {
        const char* home = std::getenv("HOME");
        for (const char* base : {".mozilla/firefox", "snap/firefox/common/.mozilla/firefox"}) {
            const fs::path profile = DefaultFirefoxProfile(fs::path(home ? home : "") / base);
            if (!profile.empty()) {
                file = profile / "cookies.sqlite";
                break;
            }
        }
        if (file.empty()) {
            Console::Get().Err("no Firefox profile found; name one with --profile PATH");
            return ExitFailure;
        }
    }
    std::vector<Cookie> cookies;
    std::string error;
    if (!ReadFirefoxCookies(file, cookies, error)) {
        Console::Get().Err(error);
        return ExitFailure;
    }
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::vector<Cookie> taken;
    std::size_t expired = 0;
    for (Cookie& c : cookies) {
        // Other sites' cookies are not this program's business: they are not counted as dropped.
        if (!IsFamilyDomain(c.domain)) continue;
        // Session cookies of a running browser are the login; keep them as imported ones are kept.
        if (c.expires == 0) c.expires = ImportedExpiry();
        if (c.expires < now) {
            ++expired;
            continue;
        }
        taken.push_back(std::move(c));
    }
    return ReportImport(store, store.AddAll(std::move(taken)), 0, expired,
                        " of the QQ Zone family from " + file.string());
}

std::string ExpiryText(int64_t expires) {
    if (expires == 0) return "session";
    const std::time_t t = static_cast<std::time_t>(expires);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%SZ", &tm);
    return buf;
}

int List(CookieStore& store) {
    std::string out;
    for (const Cookie& c : store.List())
        out += EscapeForTerminal((c.hostOnly ? "" : ".") + c.domain) + "\t" + EscapeForTerminal(c.path) + "\t" +
               EscapeForTerminal(c.name) + "\t" + EscapeForTerminal(c.value) + "\t" + ExpiryText(c.expires) + "\n";
    Console::Get().Out(out);
    return ExitDone;
}

}  // namespace

const char* CookiesUsage() {
    return kCookiesUsage;
}

const char* CookiesHelp() {
    return kCookiesHelp;
}

int CookiesCommand(const GlobalOptions& global, const CookiesOptions& o) {
    const Text folder = ProgramFolder(global);
    if (folder.empty()) return ExitFailure;
    CookieStore& store = CookieStore::Instance();
    if (!store.Open(PathFromText(folder))) {
        Console::Get().Err("cookies.txt in the program folder cannot be read");
        return ExitFailure;
    }
    switch (o.action) {
        case CookiesOptions::Action::List: return List(store);
        case CookiesOptions::Action::ImportHeader: return ImportPairs(store, o.domain, o.header);
        case CookiesOptions::Action::ImportBrowser: return ImportBrowser(store, o);
        case CookiesOptions::Action::ImportFile: return ImportFile(store, o.file, o.allDomains);
    }
    return ExitUsage;
}

}  // namespace qm::cli
