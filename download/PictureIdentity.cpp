#include "download/PictureIdentity.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace qm {

namespace {

// Parameter names whose values change from one listing to the next for the same picture.
constexpr std::array<std::string_view, 22> kVolatileNames = {
    "_",  "t",     "tm",   "ts",  "time", "timestamp", "r",       "rand", "random", "rnd", "nocache",
    "cb", "token", "g_tk", "sig", "sign", "signature", "expires", "vuin", "uin",    "rf",  "sce"};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return s;
}

bool IsVolatile(std::string_view param) {
    const std::size_t eq = param.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string name = Lower(std::string(param.substr(0, eq)));
    return std::find(kVolatileNames.begin(), kVolatileNames.end(), name) != kVolatileNames.end();
}

}  // namespace

std::string PictureIdentity(TextView mainAddress, TextView photoId) {
    const std::string id = ToUtf8(Trim(photoId));
    if (!id.empty()) return "id:" + id;

    std::string a = ToUtf8(Trim(mainAddress));
    if (const std::size_t hash = a.find('#'); hash != std::string::npos) a.resize(hash);
    std::size_t start = 0;
    if (const std::size_t scheme = a.find("://"); scheme != std::string::npos && scheme < 8)
        start = scheme + 3;
    std::size_t hostEnd = a.find_first_of("/?", start);
    if (hostEnd == std::string::npos) hostEnd = a.size();
    std::string out = Lower(a.substr(start, hostEnd - start));

    const std::size_t q = a.find('?', hostEnd);
    out += a.substr(hostEnd, (q == std::string::npos ? a.size() : q) - hostEnd);
    if (q == std::string::npos) return out;

    std::string kept;
    std::string_view query = std::string_view(a).substr(q + 1);
    while (true) {
        const std::size_t amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        if (!part.empty() && !IsVolatile(part)) {
            if (!kept.empty()) kept += '&';
            kept += part;
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    if (!kept.empty()) out += "?" + kept;
    return out;
}

std::string EntryIdentity(const PictureRef& entry) {
    const std::string item = PictureIdentity(entry.main, entry.photoId);
    return entry.film ? "film:" + item : item;
}

}  // namespace qm
