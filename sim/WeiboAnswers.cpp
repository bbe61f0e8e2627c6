// Tencent Weibo: the account's album page and the topic-album interface (op=1 albums, op=2 posts).
#include <algorithm>

#include "sim/Answer.h"
#include "sim/JsonText.h"
#include "sim/ServiceAnswers.h"

namespace qm::sim {
namespace {

const JsonStyle kWeibo{false, true};

long long Num(const SimRequest& r, const char* key, long long def) {
    const std::string v = r.Param(key);
    if (v.empty() || v.size() > 9 ||
        !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return def;
    }
    return std::stoll(v);
}

Answer JsonAnswer(const OJson& j) {
    Answer a;
    a.contentType = "application/json; charset=utf-8";
    a.body = WriteJson(j, kWeibo);
    return a;
}

}  // namespace

Answer WeiboPageAnswer(const ScenarioModel& m, const SimRequest& r, const std::string& name) {
    (void)r;
    const WeiboAccount* w = m.FindWeiboByName(name);
    if (!w) return HtmlAnswer(200, "腾讯微博", "<p>您要访问的用户不存在</p>");
    const std::string guest = WriteJson(OJson{{"name", w->name}, {"nick", w->name}, {"uin", w->uin}}, kWeibo);
    return HtmlAnswer(200, w->name + "的相册",
                      "<div id=\"qzphoto\"></div>\n<script type=\"text/javascript\">\nMI.App.guest = " +
                          guest + ";\n</script>");
}

Answer WeiboTopicAnswer(const ScenarioModel& m, const SimRequest& r) {
    const WeiboAccount* w = m.FindWeiboByUin(NormalizeUin(r.Param("uin")));
    const long long page = std::max(1LL, Num(r, "page", 1));
    const std::string op = r.Param("op");
    OJson info = OJson::array();
    size_t total = 0, shownEnd = 0;
    if (op == "1") {
        const size_t n = static_cast<size_t>(std::clamp(Num(r, "n", 12), 1LL, 100LL));
        const size_t start = static_cast<size_t>(page - 1) * n;
        total = w ? w->albums.size() : 0;
        for (size_t i = start; w && i < total && i < start + n; ++i) {
            const WeiboAlbum& a = w->albums[i];
            OJson j;
            j["num"] = static_cast<long long>(a.PictureCount());
            j["name"] = a.name;
            j["type"] = a.type;
            j["topicid"] = a.type.empty() ? a.topicid : std::string();
            j["image"] = OJson::array({a.cover});
            j["time"] = a.posts.empty() ? 0 : a.posts.front().realtime;
            info.push_back(j);
            shownEnd = i + 1;
        }
    } else if (op == "2") {
        const std::string key = r.Param("topicid");
        const WeiboAlbum* album = nullptr;
        for (size_t i = 0; w && i < w->albums.size(); ++i) {
            const WeiboAlbum& a = w->albums[i];
            if (!key.empty() && (a.type.empty() ? a.topicid : a.type) == key) album = &a;
        }
        const size_t n = static_cast<size_t>(std::clamp(Num(r, "n", 24), 1LL, 100LL));
        const size_t start = static_cast<size_t>(page - 1) * n;
        total = album ? album->posts.size() : 0;
        for (size_t i = start; album && i < total && i < start + n; ++i) {
            const WeiboPost& p = album->posts[i];
            OJson j;
            j["id"] = p.id;
            j["content"] = p.text;
            OJson images = OJson::array();
            for (const auto& pic : p.pictures) images.push_back({{"url", pic.url}});
            j["image"] = images;
            j["realtime"] = p.realtime;
            if (!p.forward.empty()) j["source"] = {{"content", p.forward}, {"nick", "forward"}};
            info.push_back(j);
            shownEnd = i + 1;
        }
    } else {
        return JsonAnswer({{"result", -1}, {"msg", "bad op"}});
    }
    const bool more = shownEnd > 0 && shownEnd < total;
    OJson data = {{"info", info.empty() ? OJson() : info}, {"hasnext", more ? 1 : 0}, {"totalnum", total}};
    return JsonAnswer({{"result", 0}, {"msg", ""}, {"data", data}});
}

// The Weibo row of the simulator's table of services.
static std::optional<Answer> WeiboRoute(const ScenarioModel& m, const SimRequest& r, PasswordBook&) {
    if (r.host == "t.qq.com" && r.path.rfind("/app/qzphoto/", 0) == 0) return WeiboPageAnswer(m, r, r.path.substr(13));
    if (r.host != "api.t.qq.com") return std::nullopt;
    if (r.path == "/asyn/gettopicalbum.php") return WeiboTopicAnswer(m, r);
    if (r.path == "/proxy.html") return HtmlAnswer(200, "proxy", "<script>document.domain=\"qq.com\";</script>");
    return std::nullopt;
}

ServiceAnswers WeiboAnswers() {
    return {"weibo", &WeiboRoute, nullptr};
}

}  // namespace qm::sim
