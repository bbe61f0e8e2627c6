#include "ui/BrowserEnvironment.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QUrl>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qm::ui {

namespace {

bool g_routed = false;

std::vector<std::string> SplitOn(std::string_view text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(sep, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

// Host names, ports and addresses only: anything else could break out of the flag's quotes.
bool Plain(const std::string& s) {
    if (s.empty()) return false;
    for (const char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '-' || c == '_' || c == '*' || c == ':' || c == '[' || c == ']';
        if (!ok) return false;
    }
    return true;
}

std::string Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return std::string(s);
}

void AppendFlag(std::string& flags, const std::string& flag) {
    if (flags.find(flag.substr(0, flag.find('='))) != std::string::npos) return;  // the caller's own wins
    if (!flags.empty()) flags += ' ';
    flags += flag;
}

}  // namespace

std::string HostResolverRules(const std::string& connectTo) {
    const std::string routes = Trimmed(connectTo);
    if (routes.empty()) return {};
    std::string rules;
    for (const std::string& raw : SplitOn(routes, ',')) {
        const std::string entry = Trimmed(raw);
        const std::vector<std::string> f = SplitOn(entry, ':');
        std::string rule;
        if (f.size() == 2 && Plain(f[0]) && Plain(f[1])) {
            rule = "MAP * " + f[0] + ":" + f[1];
        } else if (f.size() == 4 && Plain(f[0]) && Plain(f[2]) && Plain(f[3])) {
            rule = "MAP " + f[0] + " " + f[2] + ":" + f[3];
        }
        if (rule.empty()) continue;
        if (!rules.empty()) rules += ", ";
        rules += rule;
    }
    return rules;
}

void PrepareBrowserEnvironment() {
    std::string flags;
    if (const char* old = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS")) flags = old;

    const char* connect = std::getenv("QUILLMOSS_CONNECT_TO");
    const std::string rules = HostResolverRules(connect ? connect : "");
    g_routed = !rules.empty();
    // The rule list holds blanks: it must stay one argument, so it is quoted.
    if (g_routed) AppendFlag(flags, "--host-resolver-rules=\"" + rules + "\"");

    AppendFlag(flags, "--disable-background-networking");
    AppendFlag(flags, "--disable-component-update");
    AppendFlag(flags, "--disable-domain-reliability");
    AppendFlag(flags, "--disable-breakpad");
    AppendFlag(flags, "--no-pings");
    AppendFlag(flags, "--safebrowsing-disable-auto-update");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::string_view(platform).starts_with("offscreen")) AppendFlag(flags, "--disable-gpu");
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);

    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

bool BrowserRouted() {
    return g_routed;
}

QString BrowserAddress(const QString& url) {
    if (!g_routed) return url;
    const QString trimmed = url.trimmed();
    if (trimmed.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive))
        return QStringLiteral("http://") + trimmed.mid(8);
    return url;
}

}  // namespace qm::ui
