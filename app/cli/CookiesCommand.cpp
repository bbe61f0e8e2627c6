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
    "程序文件夹里的 cookie 库（cookies.txt），每个请求都用它；要列出私密和好友可见的相册，先在\n"
    "浏览器里登录，再把它的 cookie 导入这里。\n"
    "\n"
    "  import FILE                  浏览器的导出扩展写出的 Netscape cookies.txt；只取QQ空间一族\n"
    "                               （qq.com、qzone.com、qpic.cn）的 cookie，给了 --all-domains\n"
    "                               则全部都取\n"
    "  import --from-browser firefox [--profile PATH]\n"
    "                               Firefox 默认配置（或配置文件夹、cookies.sqlite 文件 PATH）里\n"
    "                               QQ空间一族的 cookie，从它的副本读取\n"
    "  import --domain D 'a=1; b=2' 从浏览器的 Cookie 请求头复制来的 cookie，用于域名 D 及其\n"
    "                               子域名（例如 qq.com）\n"
    "  list                         列出每个保存的 cookie：域名、路径、名称、值、过期时间\n"
    "\n"
    "浏览器的登录 cookie 通常在浏览器关闭时失效；导入的 cookie 没有过期时间的保留 30 天，\n"
    "以后运行时仍然有效。\n"
    "退出状态：0 完成，1 什么也没导入、文件无法读取或 cookies.txt 无法写入，2 用法错误。\n";

constexpr int64_t kImportedLifetime = 30LL * 24 * 3600;

int64_t ImportedExpiry() {
    return static_cast<int64_t>(std::time(nullptr)) + kImportedLifetime;
}

// Exit status 1 with the system's reason when cookies.txt cannot be written.
int Saved(CookieStore& store) {
    if (const auto error = store.Save()) {
        Console::Get().Err("quillmoss-cli: 无法保存 cookie: " + *error);
        return ExitFailure;
    }
    return ExitDone;
}

// Says what an import kept and what it left out, and why; exit status 1 when nothing was kept.
int ReportImport(CookieStore& store, const CookieAddReport& r, std::size_t otherDomains, std::size_t expired,
                 const std::string& from) {
    if (const int exit = Saved(store); exit != ExitDone) return exit;
    const std::size_t dropped = r.tooLarge + r.overLimit + r.replaced + r.invalid + r.expired + expired + otherDomains;
    std::string note = from + "的 " + std::to_string(r.kept + dropped) + " 个 cookie 保留了 " +
                       std::to_string(r.kept) + " 个，存入 " + store.FilePath().string();
    std::vector<std::string> why;
    auto say = [&why](std::size_t n, const std::string& what) {
        if (n > 0) why.push_back(what + " " + std::to_string(n) + " 个");
    };
    say(r.overLimit, "超出上限（每个域名 " + std::to_string(kMaxCookiesPerDomain) + " 个，一共 " +
                         std::to_string(kMaxCookies) + " 个；最旧的先去掉）的");
    say(r.tooLarge, "大于 " + std::to_string(kMaxCookieBytes) + " 字节的");
    say(r.expired + expired, "已过期的");
    say(r.replaced, "重复的（以最后一个为准）");
    say(r.invalid, "没有名称或域名的");
    say(otherDomains, "其他域名的（--all-domains 会取它们）");
    if (!why.empty()) {
        note += "；去掉了";
        for (std::size_t i = 0; i < why.size(); ++i) note += (i ? "，" : "") + why[i];
    }
    Console::Get().Err(note);
    return r.kept > 0 ? ExitDone : ExitFailure;
}

int ImportFile(CookieStore& store, const std::string& file, bool allDomains) {
    std::string text;
    std::error_code ec;
    if (std::filesystem::is_directory(PathFromText(FromUtf8(file)), ec)) {
        Console::Get().Err("quillmoss-cli: " + file + " 是文件夹，不是 cookie 文件");
        return ExitFailure;
    }
    if (!ReadWholeFile(PathFromText(FromUtf8(file)), text)) {
        Console::Get().Err("quillmoss-cli: 无法读取 " + file);
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
    return ReportImport(store, store.AddAll(std::move(cookies)), otherDomains, expired, file + " 里");
}

int ImportPairs(CookieStore& store, const std::string& domain, const std::string& pairs) {
    std::string d = domain;
    while (!d.empty() && d.front() == '.') d.erase(0, 1);
    if (d.empty() || d.find_first_of(" \t;/=") != std::string::npos) {
        Console::Get().Err("quillmoss-cli: 域名不对: " + domain);
        return ExitUsage;
    }
    return ReportImport(store, store.AddAll(CookiesFromHeader(pairs, d, ImportedExpiry())), 0, 0, "域名 " + d + " ");
}

int ImportBrowser(CookieStore& store, const CookiesOptions& o) {
    if (o.browser != "firefox") {
        Console::Get().Err("quillmoss-cli: 只能从 firefox 读取 cookie，不能从 " + o.browser);
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
            Console::Get().Err("quillmoss-cli: 没有找到 Firefox 的配置；请用 --profile PATH 指定");
            return ExitFailure;
        }
    }
    std::vector<Cookie> cookies;
    std::string error;
    if (!ReadFirefoxCookies(file, cookies, error)) {
        Console::Get().Err("quillmoss-cli: " + error);
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
                        file.string() + " 里QQ空间一族");
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
        Console::Get().Err("quillmoss-cli: 程序文件夹里的 cookies.txt 无法读取");
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
