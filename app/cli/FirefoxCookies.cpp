#include "app/cli/FirefoxCookies.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace qm::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFamilyDomains[] = {"qq.com", "qzone.com", "qpic.cn"};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return s;
}

// A private temporary folder that is removed with everything in it.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "quillmoss-cookies-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

std::string Column(sqlite3_stmt* st, int i) {
    const unsigned char* text = sqlite3_column_text(st, i);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

}  // namespace

bool IsFamilyDomain(const std::string& domain) {
    std::string d = Lower(domain);
    while (!d.empty() && d.front() == '.') d.erase(0, 1);
    for (const char* family : kFamilyDomains) {
        const std::string f = family;
        if (d == f || (d.size() > f.size() && d.compare(d.size() - f.size(), f.size(), f) == 0 &&
                       d[d.size() - f.size() - 1] == '.'))
            return true;
    }
    return false;
}

fs::path DefaultFirefoxProfile(const fs::path& firefoxFolder) {
    std::ifstream in(firefoxFolder / "profiles.ini");
    if (!in) return {};
    // Sections of key=value; the install's default wins, then a profile marked Default=1, then the first.
    std::vector<std::map<std::string, std::string>> sections;
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            names.push_back(line.substr(1, line.size() - 2));
            sections.emplace_back();
        } else if (!sections.empty() && line.find('=') != std::string::npos) {
            sections.back()[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    auto resolve = [&](const std::string& path, bool relative) {
        return relative ? firefoxFolder / path : fs::path(path);
    };
    for (std::size_t i = 0; i < sections.size(); ++i)
        if (names[i].rfind("Install", 0) == 0 && sections[i].count("Default"))
            return resolve(sections[i]["Default"], true);
    fs::path first;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (names[i].rfind("Profile", 0) != 0 || !sections[i].count("Path")) continue;
        const fs::path p = resolve(sections[i]["Path"], sections[i]["IsRelative"] != "0");
        if (sections[i]["Default"] == "1") return p;
        if (first.empty()) first = p;
    }
    return first;
}

bool ReadFirefoxCookies(const fs::path& cookiesFile, std::vector<Cookie>& out, std::string& error) {
    TempFolder temp;
    if (temp.path.empty()) {
        error = "无法创建临时文件夹";
        return false;
    }
    const fs::path copy = temp.path / "cookies.sqlite";
    std::error_code ec;
    if (!fs::is_regular_file(cookiesFile, ec) || !fs::copy_file(cookiesFile, copy, ec)) {
        error = "无法复制 " + cookiesFile.string() + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    // Recent changes may still sit in the write-ahead log beside the file.
    const fs::path wal = cookiesFile.string() + "-wal";
    if (fs::is_regular_file(wal, ec)) fs::copy_file(wal, temp.path / "cookies.sqlite-wal", ec);

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        error = cookiesFile.string() + " 的副本无法打开: " + sqlite3_errmsg(db);
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* st = nullptr;
    const char* sql = "SELECT host, path, name, value, expiry, isSecure, isHttpOnly FROM moz_cookies";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        error = cookiesFile.string() + " 里没有 Firefox 的 cookie: " + sqlite3_errmsg(db);
        sqlite3_close(db);
        return false;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        Cookie c;
        std::string host = Lower(Column(st, 0));
        c.hostOnly = host.empty() || host.front() != '.';
        while (!host.empty() && host.front() == '.') host.erase(0, 1);
        c.domain = host;
        c.path = Column(st, 1);
        if (c.path.empty()) c.path = "/";
        c.name = Column(st, 2);
        c.value = Column(st, 3);
        int64_t expiry = sqlite3_column_int64(st, 4);
        if (expiry > 100000000000LL) expiry /= 1000;  // newer profiles store milliseconds
        c.expires = expiry;
        c.secure = sqlite3_column_int(st, 5) != 0;
        c.httpOnly = sqlite3_column_int(st, 6) != 0;
        if (!c.name.empty() && !c.domain.empty()) out.push_back(std::move(c));
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok) error = "读取 " + cookiesFile.string() + " 出错: " + sqlite3_errmsg(db);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return ok;
}

}  // namespace qm::cli
