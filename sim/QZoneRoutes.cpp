// The addresses of QZone (the route, album lists, photo lists, album and home pages, mood posts,
// the float view) and the answers they get: the QZone row of the simulator's table of services.
#include "sim/ServiceAnswers.h"

namespace qm::sim {

static std::optional<Answer> QZoneRoute(const ScenarioModel& m, const SimRequest& r, PasswordBook& pw) {
    const std::string& h = r.host;
    const std::string& p = r.path;
    if ((h == "route.store.qq.com" && p == "/GetRoute") ||
        (h == "user.qzone.qq.com" && p == "/q/route.store/GetRoute")) {
        return RouteAnswer(m, r);
    }
    if (h == "alist.photo.qzone.qq.com" || h == "xalist.photo.qzone.qq.com") {
        if (p == "/fcgi-bin/fcg_list_album_v2") return AlbumListAnswer(m, r, false);
        if (p == "/fcgi-bin/fcg_list_album_v3") return AlbumListAnswer(m, r, true);
    }
    if ((h == "xaplist.photo.qzone.qq.com" || h == "szplist.photo.qzone.qq.com" ||
         h == "plist.photo.qzone.qq.com") &&
        p == "/fcgi-bin/cgi_list_photo") {
        return PhotoListAnswer(m, r, pw, false);
    }
    if ((h == "xaview.photo.qzone.qq.com" || h == "szview.photo.qzone.qq.com") &&
        p == "/cgi-bin/common/cgi_view_album_v2") {
        return PhotoListAnswer(m, r, pw, true);
    }
    if (h == "h5.qzone.qq.com") {
        if (p == "/proxy/domain/plist.photo.qzone.qq.com/fcgi-bin/cgi_list_photo") {
            return PhotoListAnswer(m, r, pw, false);
        }
        if (p == "/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msglist_v6") return MoodAnswer(m, r);
        if (p == "/proxy/domain/taotao.qq.com/cgi-bin/emotion_cgi_msgdetail_v6")
            return MoodDetailAnswer(m, r);
        if (p == "/proxy/domain/photo.qzone.qq.com/fcgi-bin/cgi_floatview_photo_list_v2")
            return FloatViewAnswer(m, r, pw);
    }
    if (h == "user.qzone.qq.com") {
        if (p == "/p/plist.photo/fcgi-bin/cgi_list_photo") return PhotoListAnswer(m, r, pw, false);
        // /QQ/photo/ALBUMID: the album page, where a password is entered
        const size_t photo = p.find("/photo/");
        if (photo != std::string::npos && photo > 1) {
            return AlbumPageAnswer(m, r, pw, p.substr(1, photo - 1), p.substr(photo + 7));
        }
        return HomePageAnswer(m, r);
    }
    return std::nullopt;
}

ServiceAnswers QZoneAnswers() {
    return {"qzone", &QZoneRoute, nullptr};
}

}  // namespace qm::sim
