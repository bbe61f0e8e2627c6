// The QQ group photo service: album list and photo list of a group, for its members only.
#include <algorithm>

#include "sim/Access.h"
#include "sim/Answer.h"
#include "sim/JsonText.h"
#include "sim/ServiceAnswers.h"

namespace qm::sim {
namespace {

long long Num(const SimRequest& r, const char* key, long long def) {
    const std::string v = r.Param(key);
    if (v.empty() || v.size() > 12 ||
        !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return def;
    }
    return std::stoll(v);
}

// Refusals are compact: "message":"对不起，您尚未登录" is what a client looks for.
Answer Refuse(const SimRequest& r, int code, const std::string& message) {
    OJson j = {{"code", code}, {"subcode", code}, {"message", message}, {"data", OJson::object()}};
    Answer a;
    a.body = Jsonp(r, WriteJson(j, {false, false}));
    return a;
}

// Checks login, token and membership; on success sets `group`.
bool Admit(const ScenarioModel& m, const SimRequest& r, const Group*& group, Answer& refusal) {
    if (!r.viewer.loggedIn || !TokenMatches(r, false)) {
        refusal = Refuse(r, -3000, "对不起，您尚未登录");
        return false;
    }
    group = m.FindGroup(NormalizeUin(r.Param("qunId")));
    if (!group) {
        refusal = Refuse(r, -10001, "对不起，该群不存在");
        return false;
    }
    if (std::find(group->members.begin(), group->members.end(), r.viewer.uin) == group->members.end()) {
        refusal = Refuse(r, -10002, "对不起，您不是该群成员，无权查看群相册");
        return false;
    }
    return true;
}

Answer Pretty(const SimRequest& r, const OJson& data) {
    OJson j = {{"code", 0}, {"data", data}, {"message", ""}, {"subcode", 0}};
    Answer a;
    a.body = Jsonp(r, "\n" + WriteJson(j, {true, false}) + "\n");
    return a;
}

}  // namespace

Answer GroupAlbumsAnswer(const ScenarioModel& m, const SimRequest& r) {
    const Group* g = nullptr;
    Answer refusal;
    if (!Admit(m, r, g, refusal)) return refusal;
    const size_t start = static_cast<size_t>(Num(r, "start", 0));
    const size_t num = static_cast<size_t>(std::clamp(Num(r, "num", 60), 1LL, 100LL));
    OJson list = OJson::array();
    for (size_t i = start; i < g->albums.size() && i < start + num; ++i) {
        const GroupAlbum& a = g->albums[i];
        OJson j;
        j["coverurl"] = a.cover;
        j["createtime"] = a.createtime;
        j["desc"] = a.desc;
        j["id"] = a.id;
        j["photocnt"] = static_cast<long long>(a.photos.size());
        j["title"] = a.title;
        list.push_back(j);
    }
    OJson data;
    data["album"] = list.empty() ? OJson() : list;
    data["qunName"] = g->name;
    data["total"] = static_cast<long long>(g->albums.size());
    return Pretty(r, data);
}

Answer GroupPhotosAnswer(const ScenarioModel& m, const SimRequest& r) {
    const Group* g = nullptr;
    Answer refusal;
    if (!Admit(m, r, g, refusal)) return refusal;
    const GroupAlbum* album = nullptr;
    for (const auto& a : g->albums) {
        if (a.id == r.Param("albumId")) album = &a;
    }
    if (!album) return Refuse(r, -10003, "对不起，该相册不存在");
    const size_t start = static_cast<size_t>(Num(r, "start", 0));
    const size_t num = static_cast<size_t>(std::clamp(Num(r, "num", 500), 1LL, 1000LL));
    OJson list = OJson::array();
    for (size_t i = start; i < album->photos.size() && i < start + num; ++i) {
        const Picture& p = album->photos[i];
        OJson j;
        j["bheight"] = 600;
        j["burl"] = p.burl;
        j["bwidth"] = 800;
        j["desc"] = p.desc;
        j["hdurl"] = p.hdurl;
        j["lloc"] = p.id;
        j["name"] = p.name;
        j["rawurl"] = p.rawurl;
        j["uploader"] = g->members.empty() ? std::string() : g->members.front();
        list.push_back(j);
    }
    OJson data;
    data["albumId"] = album->id;
    data["photos"] = list.empty() ? OJson() : list;
    data["total"] = static_cast<long long>(album->photos.size());
    return Pretty(r, data);
}

// The group row of the simulator's table of services.
static std::optional<Answer> GroupRoute(const ScenarioModel& m, const SimRequest& r, PasswordBook&) {
    if (r.host != "u.photo.qzone.qq.com") return std::nullopt;
    if (r.path == "/cgi-bin/upp/qun_list_album_v2") return GroupAlbumsAnswer(m, r);
    if (r.path == "/cgi-bin/upp/qun_list_photo_v2") return GroupPhotosAnswer(m, r);
    return std::nullopt;
}

ServiceAnswers GroupAnswers() {
    return {"groups", &GroupRoute, nullptr};
}

}  // namespace qm::sim
