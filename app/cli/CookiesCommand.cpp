#include <ctime>
#include <filesystem>

#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Session.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"

namespace qm::cli {

namespace {

constexpr char kCookiesUsage[] =
    "usage: quillmoss-cli cookies import FILE | import --domain DOMAIN 'name=value; ...' | list";

constexpr char kCookiesHelp[] =
    "usage: quillmoss-cli cookies import FILE | import --domain DOMAIN 'name=value; ...' | list\n"
    "\n"
    "The cookie store of the program folder (cookies.txt in the current directory), which every\n"
    "request uses; log in with a browser and bring its cookies here to list private and\n"
    "friends-only albums.\n"
    "\n"
    "  import FILE                  a Netscape cookies.txt as browsers' export extensions write it\n"
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

int ImportFile(CookieStore& store, const std::string& file) {
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
    int taken = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Cookie c;
        if (!ParseNetscapeLine(line, c)) continue;
        if (c.expires == 0) c.expires = ImportedExpiry();
        if (c.expires < static_cast<int64_t>(std::time(nullptr))) continue;  // already expired
        store.Add(std::move(c));
        ++taken;
    }
    if (const int exit = Saved(store); exit != ExitDone) return exit;
    Console::Get().Err("imported " + std::to_string(taken) + " cookies into " + store.FilePath().string());
    return taken > 0 ? ExitDone : ExitFailure;
}

int ImportPairs(CookieStore& store, const std::string& domain, const std::string& pairs) {
    std::string d = domain;
    while (!d.empty() && d.front() == '.') d.erase(0, 1);
    if (d.empty() || d.find_first_of(" \t;/=") != std::string::npos) {
        Console::Get().Err("bad domain " + domain);
        return ExitUsage;
    }
    const int taken = store.ImportHeader(pairs, d, ImportedExpiry());
    if (const int exit = Saved(store); exit != ExitDone) return exit;
    Console::Get().Err("imported " + std::to_string(taken) + " cookies for " + d + " into " +
                       store.FilePath().string());
    return taken > 0 ? ExitDone : ExitFailure;
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
        out += (c.hostOnly ? "" : ".") + c.domain + "\t" + c.path + "\t" + c.name + "\t" + c.value + "\t" +
               ExpiryText(c.expires) + "\n";
    Console::Get().Out(out);
    return ExitDone;
}

}  // namespace

int CookiesCommand(const std::vector<std::string>& words) {
    Args a;
    std::string err;
    if (!ParseArgs(words, {"--domain"}, {"--help", "-h"}, a, err)) return UsageError(err, kCookiesUsage);
    if (a.Has("--help") || a.Has("-h")) {
        Console::Get().Out(kCookiesHelp);
        return ExitDone;
    }
    const auto& w = a.positional;
    const std::string* domain = a.Value("--domain");
    const bool list = w.size() == 1 && w[0] == "list" && !domain;
    const bool import = w.size() == 2 && w[0] == "import";
    if (!list && !import) return UsageError("bad cookies command", kCookiesUsage);

    CookieStore& store = CookieStore::Instance();
    if (!store.Open(PathFromText(ProgramFolder()))) {
        Console::Get().Err("cookies.txt in the current directory cannot be read");
        return ExitFailure;
    }
    if (list) return List(store);
    if (domain) return ImportPairs(store, *domain, w[1]);
    return ImportFile(store, w[1]);
}

}  // namespace qm::cli
