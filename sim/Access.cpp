#include "sim/Access.h"

#include <algorithm>

#include "sim/Simulator.h"

namespace qm::sim {

std::map<std::string, std::string> ParseCookieHeader(const std::string& header) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string::npos) end = header.size();
        std::string pair = header.substr(pos, end - pos);
        pos = end + 1;
        const size_t first = pair.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        pair.erase(0, first);
        const size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string value = pair.substr(eq + 1);
        while (!value.empty() && value.back() == ' ') value.pop_back();
        out.emplace(pair.substr(0, eq), value);  // the first of equal names wins
    }
    return out;
}

Viewer ReadViewer(const ScenarioModel& m, const std::map<std::string, std::string>& cookies) {
    Viewer v;
    auto get = [&](const char* name) {
        auto it = cookies.find(name);
        return it == cookies.end() ? std::string() : it->second;
    };
    v.uin = NormalizeUin(get("uin"));
    if (v.uin.empty()) v.uin = NormalizeUin(get("p_uin"));
    v.skey = get("skey");
    v.hasPskey = cookies.count("p_skey") != 0;
    v.pskey = get("p_skey");
    if (const Account* a = m.FindAccount(v.uin)) {
        v.loggedIn = (!v.skey.empty() && v.skey == a->skey) || (!v.pskey.empty() && v.pskey == a->pskey);
    }
    return v;
}

bool TokenMatches(const SimRequest& r, bool pskeyAlso) {
    bool ok = false;
    const unsigned long long token = ParseToken(r.Param("g_tk"), ok);
    if (!ok) return false;
    if (token == QZoneToken(r.viewer.skey)) return true;
    return pskeyAlso && r.viewer.hasPskey && token == QZoneToken(r.viewer.pskey);
}

bool IsOwner(const Owner& o, const Viewer& v) {
    return v.loggedIn && v.uin == o.uin;
}

static bool Listed(const std::vector<std::string>& list, const Viewer& v) {
    return v.loggedIn && std::find(list.begin(), list.end(), v.uin) != list.end();
}

bool MaySeeSpace(const Owner& o, const Viewer& v) {
    if (IsOwner(o, v)) return true;
    if (o.space == "private") return false;
    if (o.space == "friends") return Listed(o.friends, v);
    return true;
}

AlbumAccess CheckAlbum(const Owner& o, const Album& a, const Viewer& v, const PasswordBook& pw) {
    if (IsOwner(o, v)) return AlbumAccess::Allowed;
    if (!MaySeeSpace(o, v)) return AlbumAccess::Denied;
    switch (a.priv) {
        case 3:
            return AlbumAccess::Denied;
        case 4:
        case 6:
            return Listed(a.viewers, v) ? AlbumAccess::Allowed : AlbumAccess::Denied;
        case 5:
            return pw.Unlocked(v, a.id) ? AlbumAccess::Allowed : AlbumAccess::NeedPassword;
        default:
            return AlbumAccess::Allowed;
    }
}

}  // namespace qm::sim
