// Host names of the QQ Zone family services. Album, photo and view hosts come from the route
// answer at run time; these are the fixed ones.
#pragma once

#include <string_view>

namespace qm::hosts {

inline constexpr char16_t kRoute[] = u"route.store.qq.com";
inline constexpr char16_t kQZoneUser[] = u"user.qzone.qq.com";
inline constexpr char16_t kQZoneProxy[] = u"h5.qzone.qq.com";
inline constexpr char16_t kPhotoListDomain[] = u"plist.photo.qzone.qq.com";
inline constexpr char16_t kMood[] = u"taotao.qq.com";
inline constexpr char16_t kStatic[] = u"qzs.qq.com";
inline constexpr char16_t kGroupSite[] = u"qun.qzone.qq.com";
inline constexpr char16_t kGroupPhoto[] = u"u.photo.qzone.qq.com";
inline constexpr char16_t kWeibo[] = u"t.qq.com";
inline constexpr char16_t kWeiboApi[] = u"api.t.qq.com";
inline constexpr char16_t kLogin[] = u"xui.ptlogin2.qq.com";

}  // namespace qm::hosts

namespace qm {

// A host name as a route answer must give it (letters, digits, dots, hyphens, a port): an empty or
// odd one means the lookup did not say where the albums or photos are.
inline bool IsRouteHost(std::u16string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == u'.' || host.front() == u'-') return false;
    for (char16_t c : host)
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' ||
              c == u'-' || c == u':'))
            return false;
    return true;
}

}  // namespace qm
