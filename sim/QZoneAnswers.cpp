// The QZone services: route lookup, album lists, photo lists, the view-album interface, the album
// page where a password is entered, the user's home page and the mood-post list.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "sim/Access.h"
#include "sim/Answer.h"
#include "sim/JsonText.h"

namespace qm::sim {
namespace {

const JsonStyle kPretty{true, false};
const JsonStyle kCompact{false, false};

std::string PrettyJsonp(const SimRequest& r, const OJson& j) {
    return Jsonp(r, "\n" + WriteJson(j, kPretty) + "\n");
}

Answer JsonpAnswer(const SimRequest& r, const OJson& j, bool pretty) {
    Answer a;
    a.body = pretty ? PrettyJsonp(r, j) : Jsonp(r, WriteJson(j, kCompact));
    return a;
}

long long ParamNumber(const SimRequest& r, const char* key, long long def) {
    const std::string v = r.Param(key);
    if (v.empty() || v.size() > 12) return def;
    long long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return def;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string TimeText(long long t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// The services write their times as China time (UTC+8) without a zone.
std::string ChinaTimeText(long long t) {
    return TimeText(t + 8 * 3600);
}

// A pretty refusal of the album list: the "msg" text is what the client shows or acts on.
Answer AlbumListRefusal(const SimRequest& r, int code, const std::string& msg) {
    OJson j = {{"code", code}, {"message", msg}, {"msg", msg}, {"subcode", code}};
    return JsonpAnswer(r, j, true);
}

// A compact refusal of the photo lists; "message":"对不起… marks a password album.
Answer PhotoRefusal(const SimRequest& r, int code, const std::string& message) {
    OJson j = {{"code", code}, {"subcode", code}, {"message", message}, {"data", OJson::object()}};
    return JsonpAnswer(r, j, false);
}

// The pictures of one photo-list page, printed as the pretty writer prints the "photoList" array
// (at depth 2 of the answer). Written directly: building a JSON object for each of 500 pictures
// took most of a page's time, and the simulator shares the processor with the client it serves.
std::string PhotoListText(const Owner& o, const std::vector<Picture>& pics, size_t start, size_t end) {
    const std::string itemIndent(9, ' '), keyIndent(12, ' ');
    std::string out = "[\n";
    out.reserve((end - start) * 1100);
    for (size_t i = start; i < end; ++i) {
        const Picture& p = pics[i];
        if (i > start) out += ",\n";
        out += itemIndent;
        out += "{\n";
        bool first = true;
        const auto field = [&](const char* key, const std::string& rendered) {
            if (!first) out += ",\n";
            first = false;
            out += keyIndent;
            out += '"';
            out += key;
            out += "\" : ";
            out += rendered;
        };
        const auto text = [&](const char* key, const std::string& value) { field(key, JsonQuote(value)); };
        const auto number = [&](const char* key, long long value) { field(key, std::to_string(value)); };
        const auto flag = [&](const char* key, bool value) { field(key, value ? "true" : "false"); };
        text("batchId", std::to_string(p.time * 1000 + static_cast<long long>(i % 1000)));
        number("browser", 0);
        text("cameratype", " ");
        flag("cp_flag", false);
        number("cp_x", 0);
        number("cp_y", 0);
        if (p.broken)
            field("desc", "\"" + p.desc + " \"broken {[ \x01\"");  // an unescaped quote, brackets, a control byte
        else
            text("desc", p.desc);
        if (!p.exifTime.empty()) {
            field("exif", "{\n" + keyIndent + "   \"exposureTime\" : \"1/50\",\n" + keyIndent + "   \"fnumber\" : \"1.8\",\n" +
                              keyIndent + "   \"originalTime\" : " + JsonQuote(p.exifTime) + "\n" + keyIndent + "}");
        }
        number("forum", 0);
        number("height", 600);
        if (p.today) field("id", "4294967295");
        flag("is_video", p.video);
        text("lloc", p.id);
        number("modifytime", p.time);
        text("name", p.name);
        if (p.today) number("origin", 0);
        if (p.today)
            text("origin_url", "");
        else if (!p.originUrl.empty())
            text("origin_url", p.originUrl);
        text("owner", o.uin);
        text("ownername", o.uin);
        number("phototype", p.format == "gif" ? 2 : p.format == "png" ? 3 : 1);
        text("pre", p.pre);
        if (p.today)
            text("raw", "");
        else if (!p.raw.empty())
            text("raw", p.raw);
        number("raw_upload", p.rawUpload);
        if (p.shoot.empty())
            number("rawshoottime", 0);
        else
            text("rawshoottime", p.shoot);
        text("sloc", p.id);
        text("uploadtime", ChinaTimeText(p.time));
        text("url", p.today ? p.bigUrl : p.fallbackServed);
        number("width", 800);
        out += '\n';
        out += itemIndent;
        out += '}';
    }
    out += "\n      ]";
    return out;
}

struct Found {
    const Owner* owner = nullptr;
    const Album* album = nullptr;
};

Found FindAlbum(const ScenarioModel& m, const SimRequest& r) {
    Found f;
    f.owner = m.FindOwner(NormalizeUin(r.Param("hostUin")));
    if (!f.owner) return f;
    std::string id = r.Param("topicId");
    if (id.empty()) id = r.Param("albumId");
    if (id.empty()) id = r.Param("albumid");
    for (const auto& a : f.owner->albums) {
        if (a.id == id) f.album = &a;
    }
    return f;
}

}  // namespace

Answer RouteAnswer(const ScenarioModel& m, const SimRequest& r) {
    const Owner* o = m.FindOwner(NormalizeUin(r.Param("UIN")));
    const std::string def = o ? o->route : "xa";
    const std::string idc = o ? o->idcno : "102";
    std::string body = "{";
    if (!idc.empty()) body += "\"idcno\":\"" + idc + "\",";
    body += "\"default\":\"" + def + "\",";
    body +=
        "\"sz\":{\"nu\":\"szview.photo.qzone.qq.com\",\"p\":\"sznewp.photo.qzone.qq.com\","
        "\"s\":\"szstatic.photo.qzone.qq.com\"},";
    body +=
        "\"xa\":{\"nu\":\"xaview.photo.qzone.qq.com\",\"p\":\"xanewp.photo.qzone.qq.com\","
        "\"s\":\"xastatic.photo.qzone.qq.com\"}}";
    Answer a;
    a.body = body;
    return a;
}

Answer AlbumListAnswer(const ScenarioModel& m, const SimRequest& r, bool v3) {
    if (!TokenMatches(r, false)) return AlbumListRefusal(r, -3000, "对不起，您的登录态已失效，请重新登录");
    const Owner* o = m.FindOwner(NormalizeUin(r.Param("hostUin")));
    OJson list = OJson::array();
    if (o) {
        if (!MaySeeSpace(*o, r.viewer))
            return AlbumListRefusal(r, -4009, "对不起，主人设置了访问权限，您无权访问");
        for (const auto& a : o->albums) {
            OJson j;
            j["allowAccess"] = 1;
            j["anonymity"] = 0;
            j["bitmap"] = "10000000";
            j["classid"] = 100;
            j["comment"] = 0;
            j["createtime"] = a.createtime;
            j["desc"] = a.desc;
            j["handset"] = 0;
            j["id"] = a.id;
            j["lastuploadtime"] = a.createtime + 3600;
            j["modifytime"] = a.createtime + 3600;
            j["name"] = a.name;
            j["order"] = 0;
            j["pre"] = a.cover;
            j["priv"] = a.priv;
            j["total"] = static_cast<long long>(a.pictures.size());
            j["viewtype"] = 0;
            list.push_back(j);
        }
    }
    OJson data;
    data[v3 ? "albumListModeSort" : "albumList"] = list;
    data["albumsInUser"] = static_cast<long long>(list.size());
    data["hostTerm"] = 0;
    data["mode"] = v3 ? 2 : 1;
    OJson j = {{"code", 0}, {"data", data}, {"message", ""}, {"subcode", 0}};
    return JsonpAnswer(r, j, true);
}

Answer PhotoListAnswer(const ScenarioModel& m, const SimRequest& r, const PasswordBook& pw, bool viewAlbum) {
    // Interfaces reached through the QZone user site or the proxy accept a token of p_skey as well.
    const bool pskeyAlso = r.host != "xaplist.photo.qzone.qq.com" && r.host != "szplist.photo.qzone.qq.com" &&
                           r.host != "plist.photo.qzone.qq.com" && !viewAlbum;
    if (!TokenMatches(r, pskeyAlso)) return PhotoRefusal(r, -3000, "请先登录空间");
    Found f = FindAlbum(m, r);
    if (!f.owner || !f.album) return PhotoRefusal(r, -10801, "相册不存在或已被删除");
    switch (CheckAlbum(*f.owner, *f.album, r.viewer, pw)) {
        case AlbumAccess::Denied:
            return PhotoRefusal(r, -10803, "主人设置了权限，您没有权限访问该相册");
        case AlbumAccess::NeedPassword:
            return PhotoRefusal(r, -10805, "对不起，该相册已加密，请输入密码后访问");
        case AlbumAccess::Allowed:
            break;
    }
    const auto& pics = f.album->pictures;
    size_t start = 0, count = pics.size();
    if (!viewAlbum) {
        start = static_cast<size_t>(std::max(0LL, ParamNumber(r, "pageStart", 0)));
        count = static_cast<size_t>(std::clamp(ParamNumber(r, "pageNum", 500), 1LL, 1000LL));
    }
    const size_t end = std::min(pics.size(), start + count);
    // A page is the same text whenever it is asked by the same callback: built once, then kept.
    const std::string key = f.owner->uin + '\x1f' + f.album->id + '\x1f' + std::to_string(start) + '\x1f' +
                            std::to_string(end) + '\x1f' + (viewAlbum ? "view" : "list") + '\x1f' + CallbackName(r);
    if (auto kept = m.listPages->Find(key)) {
        Answer a;
        a.body = *kept;
        a.cacheKey = "photoList\x1f" + key;
        return a;
    }
    // The pictures are printed separately and put in place of a marker string.
    static const std::string kMarker = "\x01photoList\x01";
    OJson album = {{"createtime", f.album->createtime},
                   {"desc", f.album->desc},
                   {"id", f.album->id},
                   {"name", f.album->name},
                   {"priv", f.album->priv}};
    OJson data;
    data["album"] = album;
    data["limit"] = 0;
    data["photoList"] = start < end ? OJson(kMarker) : OJson();
    if (f.album->topic) {
        // Today's answers follow the list with the album's own object: its name, desc, pre and url
        // must not be read as the last picture's.
        data["topic"] = {{"bitmap", "10000000"},
                         {"desc", "topic of " + f.album->id},
                         {"id", f.album->id},
                         {"name", "topic name " + f.album->name},
                         {"pre", f.album->cover + "/topic/a/pre"},
                         {"url", f.album->cover + "/topic/b/url"}};
    }
    data["t"] = std::to_string(pics.size());
    data["totalInAlbum"] = static_cast<long long>(pics.size());
    data["totalInPage"] = static_cast<long long>(start < end ? end - start : 0);
    OJson j = {{"code", 0}, {"data", data}, {"message", ""}, {"subcode", 0}};
    Answer a = JsonpAnswer(r, j, true);
    if (start < end) {
        const std::string quoted = JsonQuote(kMarker);
        const size_t at = a.body.find(quoted);
        if (at != std::string::npos) a.body.replace(at, quoted.size(), PhotoListText(*f.owner, pics, start, end));
    }
    m.listPages->Keep(key, std::make_shared<const std::string>(a.body));
    a.cacheKey = "photoList\x1f" + key;
    return a;
}

Answer AlbumPageAnswer(const ScenarioModel& m, const SimRequest& r, PasswordBook& pw, const std::string& uin,
                       const std::string& albumId) {
    const Owner* o = m.FindOwner(NormalizeUin(uin));
    const Album* album = nullptr;
    if (o) {
        for (const auto& a : o->albums) {
            if (a.id == albumId) album = &a;
        }
    }
    if (!album) return HtmlAnswer(404, "相册不存在", "<p>相册不存在或已被删除</p>");
    const std::string title = album->name.empty() ? album->id : album->name;
    if (album->priv != 5) {
        return HtmlAnswer(200, title,
                          "<h1>" + HtmlEscape(title) + "</h1><p>共 " +
                              std::to_string(album->pictures.size()) + " 张照片</p>");
    }
    const std::string form =
        "<form method=\"post\" action=\"/" + o->uin + "/photo/" + album->id +
        "\">\n<label>相册密码 <input type=\"password\" name=\"password\" id=\"password\"></label>\n"
        "<button type=\"submit\" id=\"submit\">确定</button>\n</form>";
    if (r.params.count("password")) {
        if (r.Param("password") == album->password) {
            pw.Unlock(r.viewer, album->id);
            return HtmlAnswer(
                200, title,
                "<h1>" + HtmlEscape(title) + "</h1><p id=\"result\">密码正确，可以访问该相册了</p>");
        }
        return HtmlAnswer(
            200, title,
            "<h1>" + HtmlEscape(title) + "</h1><p id=\"result\">密码错误，请重新输入</p>\n" + form);
    }
    if (pw.Unlocked(r.viewer, album->id)) {
        return HtmlAnswer(
            200, title, "<h1>" + HtmlEscape(title) + "</h1><p id=\"result\">密码正确，可以访问该相册了</p>");
    }
    return HtmlAnswer(200, title,
                      "<h1>" + HtmlEscape(title) + "</h1><p>该相册已加密，请输入密码</p>\n" + form);
}

Answer HomePageAnswer(const ScenarioModel& m, const SimRequest& r) {
    std::string uin = r.path.size() > 1 ? NormalizeUin(r.path.substr(1)) : std::string();
    std::string who = r.viewer.loggedIn ? "<p id=\"viewer\">已登录：" + r.viewer.uin + "</p>"
                                        : "<p id=\"viewer\">未登录</p>";
    std::string login =
        "<p><a href=\"http://xui.ptlogin2.qq.com/cgi-bin/xlogin?s_url=http%3A%2F%2Fuser.qzone.qq.com%2F" +
        uin + "\">登录</a></p>";
    if (!uin.empty() && !m.FindOwner(uin))
        return HtmlAnswer(404, "QQ空间", "<p>空间不存在</p>" + who + login);
    return HtmlAnswer(200, uin.empty() ? "QQ空间" : uin + "的QQ空间",
                      "<h1>QQ空间 " + HtmlEscape(uin) + "</h1>" + who + login);
}

namespace {

// The first `n` characters of UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t n) {
    size_t i = 0;
    for (size_t count = 0; i < text.size() && count < n; ++count) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text.substr(0, i);
}

OJson CommentJson(const MoodComment& c, size_t number, bool withReplies) {
    OJson j;
    j["content"] = c.text;
    j["createTime"] = TimeText(c.time);
    j["create_time"] = c.time;
    if (withReplies && !c.replies.empty()) {
        OJson replies = OJson::array();
        size_t k = 0;
        for (const MoodComment& r : c.replies) replies.push_back(CommentJson(r, ++k, false));
        j["list_3"] = replies;
    }
    j["name"] = c.name;
    j["tid"] = static_cast<long long>(number);
    j["uin"] = c.uin;
    return j;
}

// One post with the fields of the mood list (keys in the service's alphabetical order); the text
// cut to `cut` characters when the list shortens it, whole for the detail answer.
OJson PostJson(const Owner& o, const Mood& md, bool whole) {
    const bool cut = !whole && md.cut > 0 && FirstCharacters(md.text, md.cut).size() < md.text.size();
    const std::string text = cut ? FirstCharacters(md.text, md.cut) : md.text;
    size_t comments = 0;
    for (const MoodComment& c : md.comments) comments += 1 + c.replies.size();
    OJson post;
    post["certified"] = 0;
    post["cmtnum"] = static_cast<long long>(comments);
    if (md.comments.empty()) {
        post["commentlist"] = nullptr;
    } else {
        OJson list = OJson::array();
        size_t k = 0;
        for (const MoodComment& c : md.comments) list.push_back(CommentJson(c, ++k, true));
        post["commentlist"] = list;
    }
    post["conlist"] = text.empty() ? OJson() : OJson::array({{{"con", text}, {"type", 2}}});
    post["content"] = text;
    post["createTime"] = TimeText(md.createtime);
    post["created_time"] = md.createtime;
    post["fwdnum"] = md.forwards;
    if (cut) post["has_more_con"] = 1;
    post["lbs"] = {{"id", ""}, {"idname", md.placeIdname}, {"name", md.placeName}, {"pos_x", md.placeX},
                   {"pos_y", md.placeY}};
    post["name"] = o.uin;
    if (!md.pictures.empty()) {
        OJson pics = OJson::array();
        for (const auto& p : md.pictures) {
            pics.push_back({{"height", 600},
                            {"pic_id", p.id},
                            {"pictype", 1},
                            {"smallurl", p.smallurl},
                            {"url1", p.smallurl},
                            {"width", 800}});
        }
        post["pic"] = pics;
        post["pictotal"] = static_cast<long long>(md.pictures.size());
    }
    post["right"] = md.right;
    if (!md.forward.empty()) post["rt_con"] = {{"content", md.forward}};
    post["secret"] = md.secret;
    post["tid"] = md.tid;
    post["uin"] = o.uin;
    return post;
}

// The owner whose moods a request asks for, after the login and token checks; `refusal` is set
// when the request is refused.
const Owner* MoodOwner(const ScenarioModel& m, const SimRequest& r, std::string& refusal) {
    if (!TokenMatches(r, true) || !r.viewer.loggedIn) {
        refusal = "请先登录空间";
        return nullptr;
    }
    const Owner* o = m.FindOwner(NormalizeUin(r.Param("uin")));
    if (!o) o = m.FindOwner(NormalizeUin(r.Param("hostUin")));
    if (o && !MaySeeSpace(*o, r.viewer)) {
        refusal = "对不起,主人设置了保密,您没有权限查看";
        return nullptr;
    }
    return o;
}

Answer MoodRefusal(const SimRequest& r, const std::string& message) {
    OJson j = {{"code", -3000}, {"message", message}, {"subcode", -4001}};
    return JsonpAnswer(r, j, false);
}

}  // namespace

Answer MoodAnswer(const ScenarioModel& m, const SimRequest& r) {
    std::string refusal;
    const Owner* o = MoodOwner(m, r, refusal);
    if (!refusal.empty()) return MoodRefusal(r, refusal);
    const size_t pos = static_cast<size_t>(ParamNumber(r, "pos", 0));
    const size_t num = static_cast<size_t>(std::clamp(ParamNumber(r, "num", 20), 1LL, 40LL));
    OJson list = OJson::array();
    size_t total = o ? o->moods.size() : 0;
    for (size_t i = pos; o && i < total && i < pos + num; ++i) list.push_back(PostJson(*o, o->moods[i], false));
    OJson j;
    j["cmtnum"] = 0;
    j["code"] = 0;
    j["logininfo"] = {{"name", r.viewer.uin}, {"uin", r.viewer.uin}};
    j["message"] = "";
    j["msglist"] = list.empty() ? OJson() : list;
    j["num"] = static_cast<long long>(list.size());
    j["total"] = static_cast<long long>(total);
    j["subcode"] = 0;
    return JsonpAnswer(r, j, false);
}

Answer MoodDetailAnswer(const ScenarioModel& m, const SimRequest& r) {
    std::string refusal;
    const Owner* o = MoodOwner(m, r, refusal);
    if (!refusal.empty()) return MoodRefusal(r, refusal);
    const std::string tid = r.Param("tid");
    const Mood* found = nullptr;
    for (size_t i = 0; o && !found && i < o->moods.size(); ++i)
        if (o->moods[i].tid == tid) found = &o->moods[i];
    if (!found) {
        OJson j = {{"code", -4009}, {"message", "说说不存在"}, {"subcode", -4009}};
        return JsonpAnswer(r, j, false);
    }
    // The detail carries the post's fields at its top level, beside the answer's own.
    OJson j = PostJson(*o, *found, true);
    j["code"] = 0;
    j["message"] = "";
    j["subcode"] = 0;
    return JsonpAnswer(r, j, false);
}

}  // namespace qm::sim
