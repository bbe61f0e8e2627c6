// Host names of the QQ Zone family services. Album, photo and view hosts come from the route
// answer at run time; these are the fixed ones.
#pragma once

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
