// The float-view interface of the QZone photo viewer: asked for one item of an album (`picKey`), it
// answers that item and its neighbours, and for a video item the film's state and addresses in
// `video_info`. The film host serves the films, with Range requests and a Referer check.
#include <algorithm>

#include "sim/Access.h"
#include "sim/Answer.h"
#include "sim/JsonText.h"

namespace qm::sim {
namespace {

// Items around the asked one that the answer carries as well (the viewer's strip of thumbnails).
constexpr std::size_t kNeighbours = 2;

bool FromQZonePage(const SimRequest& r) {
    auto it = r.headers.find("referer");
    if (it == r.headers.end()) return false;
    const std::string& ref = it->second;
    return ref.rfind("http://user.qzone.qq.com/", 0) == 0 || ref.rfind("https://user.qzone.qq.com/", 0) == 0;
}

Answer Refusal(const SimRequest& r, int code, const std::string& message) {
    OJson j = {{"code", code}, {"subcode", code}, {"message", message}, {"data", OJson::object()}};
    Answer a;
    a.body = Jsonp(r, WriteJson(j, JsonStyle{false, false}));
    return a;
}

OJson Item(const Album& album, const Picture& p) {
    OJson j;
    j["albumId"] = album.id;
    j["desc"] = p.desc;
    j["is_video"] = p.video;
    j["lloc"] = p.id;
    j["name"] = p.name;
    j["picKey"] = p.id;
    j["pre"] = p.pre;
    if (!p.raw.empty()) j["raw"] = p.raw;
    j["sloc"] = p.id;
    j["url"] = p.fallbackServed;
    if (p.video) {
        OJson v;
        v["cover_url"] = p.fallbackServed;
        v["duration"] = 1;
        if (p.film.state == "not_ready") {
            v["status"] = 1;  // still being transcoded
        } else {
            v["status"] = 2;
            if (p.film.state != "stream_only") v["download_url"] = p.film.download;
            v["size"] = static_cast<long long>(p.film.size);
        }
        if (p.film.state != "not_ready") v["video_url"] = p.film.play;
        v["vid"] = p.id;
        j["video_info"] = v;
    }
    return j;
}

}  // namespace

Answer FloatViewAnswer(const ScenarioModel& m, const SimRequest& r, const PasswordBook& pw) {
    if (!FromQZonePage(r)) return Refusal(r, -4002, "非法来源的请求");
    if (!TokenMatches(r, true)) return Refusal(r, -3000, "请先登录空间");
    const Owner* owner = m.FindOwner(NormalizeUin(r.Param("hostUin")));
    const Album* album = nullptr;
    if (owner)
        for (const auto& a : owner->albums)
            if (a.id == r.Param("topicId")) album = &a;
    if (!owner || !album) return Refusal(r, -10801, "相册不存在或已被删除");
    switch (CheckAlbum(*owner, *album, r.viewer, pw)) {
        case AlbumAccess::Denied:
            return Refusal(r, -10803, "主人设置了权限，您没有权限访问该相册");
        case AlbumAccess::NeedPassword:
            return Refusal(r, -10805, "对不起，该相册已加密，请输入密码后访问");
        case AlbumAccess::Allowed:
            break;
    }
    const auto& pics = album->pictures;
    const std::string key = r.Param("picKey");
    std::size_t at = pics.size();
    for (std::size_t i = 0; i < pics.size(); ++i)
        if (pics[i].id == key) at = i;
    if (at == pics.size()) return Refusal(r, -10804, "照片不存在或已被删除");
    const std::size_t first = at > kNeighbours ? at - kNeighbours : 0;
    const std::size_t end = std::min(pics.size(), at + kNeighbours + 1);
    OJson photos = OJson::array();
    for (std::size_t i = first; i < end; ++i) photos.push_back(Item(*album, pics[i]));
    OJson data;
    data["album"] = {{"id", album->id}, {"name", album->name}, {"priv", album->priv}};
    data["photos"] = photos;
    data["picPosInPage"] = static_cast<long long>(at - first);
    data["picTotal"] = static_cast<long long>(pics.size());
    OJson j = {{"code", 0}, {"data", data}, {"message", ""}, {"subcode", 0}};
    Answer a;
    a.body = Jsonp(r, "\n" + WriteJson(j, JsonStyle{true, false}) + "\n");
    return a;
}

bool FilmRequestAllowed(const SimRequest& r) {
    auto it = r.headers.find("referer");
    return it != r.headers.end() && it->second.find("qzone.qq.com") != std::string::npos;
}

}  // namespace qm::sim
