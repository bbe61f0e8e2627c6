#include "sim/Scenario.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "sim/ServiceAnswers.h"

namespace qm::sim {
namespace {

using nlohmann::json;

uint64_t Hash(const std::string& text) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    return h ^ (h >> 32);
}

std::string Hex16(const std::string& seed) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(Hash(seed)));
    return buf;
}

std::string Token(const std::string& seed, size_t length, const char* alphabet) {
    const std::string chars = alphabet;
    std::string out;
    uint64_t h = Hash(seed);
    for (size_t i = 0; i < length; ++i) {
        if (i % 8 == 0) h = Hash(seed + "#" + std::to_string(i));
        out += chars[h % chars.size()];
        h /= chars.size();
    }
    return out;
}

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
    throw std::runtime_error("scenario: " + where + ": " + what);
}

// A value that scenario files may write as a number or as a string.
std::string Text(const json& j, const char* key, const std::string& def = "") {
    if (!j.is_object() || !j.contains(key) || j.at(key).is_null()) return def;
    const json& v = j.at(key);
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    if (v.is_number_unsigned()) return std::to_string(v.get<unsigned long long>());
    if (v.is_boolean()) return v.get<bool>() ? "1" : "0";
    return v.dump();
}

long long Number(const json& j, const char* key, long long def, const std::string& where) {
    if (!j.is_object() || !j.contains(key) || j.at(key).is_null()) return def;
    const json& v = j.at(key);
    if (v.is_number()) return v.get<long long>();
    if (v.is_string()) {
        try {
            return std::stoll(v.get<std::string>());
        } catch (...) {
        }
    }
    Bad(where, std::string("\"") + key + "\" must be a number");
}

std::string Uin(const json& j, const char* key, const std::string& where) {
    std::string uin = NormalizeUin(Text(j, key));
    if (uin.empty()) Bad(where, std::string("\"") + key + "\" must be a QQ number");
    return uin;
}

std::vector<std::string> UinList(const json& j, const char* key, const std::string& where) {
    std::vector<std::string> out;
    if (!j.contains(key)) return out;
    if (!j.at(key).is_array()) Bad(where, std::string("\"") + key + "\" must be a list");
    for (const json& v : j.at(key)) {
        std::string uin = NormalizeUin(v.is_string() ? v.get<std::string>() : v.dump());
        if (uin.empty()) Bad(where, std::string("\"") + key + "\" holds something that is not a QQ number");
        out.push_back(uin);
    }
    return out;
}

bool SafeId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    }
    return true;
}

std::string FormatName(const std::string& pattern, size_t index) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
            out += std::to_string(index);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

class Builder {
public:
    explicit Builder(ScenarioModel& m) : m_(m) {}

    void Register(const std::string& id, const std::string& address, const std::string& format, size_t size) {
        const std::string key = address.substr(7);  // after "http://"
        ServedPicture sp{id, format, size};
        m_.servedByAddress[key] = sp;
        if (!m_.servedById.count(id)) {
            m_.servedById[id] = sp;
            m_.addressById[id] = address;
        }
    }

    void ClaimId(const std::string& id, const std::string& where) {
        if (!SafeId(id)) Bad(where, "id \"" + id + "\" must be 1-64 letters, digits, '_' or '-'");
        if (!ids_.insert(id).second) Bad(where, "id \"" + id + "\" is used twice");
    }

    Picture ReadPicture(const json& j, const std::string& id, const std::string& where) {
        Picture p;
        p.id = id;
        ClaimId(id, where);
        p.name = Text(j, "name");
        p.desc = Text(j, "desc");
        p.format = Text(j, "format", "jpg");
        if (p.format != "jpg" && p.format != "png" && p.format != "gif" && p.format != "bmp") {
            Bad(where, "format must be jpg, png, gif or bmp");
        }
        const long long size = Number(j, "size", 3000, where);
        if (size < 0 || size > (1LL << 31)) Bad(where, "size out of range");
        p.size = static_cast<size_t>(size);
        p.time = Number(j, "time", 1380000000 + static_cast<long long>(Hash(id) % 30000000), where);
        return p;
    }

    void QZonePicture(Picture& p, const json& j, const std::string& where, bool todayAlbum) {
        const std::string kind = Text(j, "kind", todayAlbum ? "today" : "raw");
        const std::string t1 = Hex16(p.id + "/1"), t2 = Hex16(p.id + "/2"), t3 = Hex16(p.id + "/3");
        p.shoot = Text(j, "shoot");
        p.exifTime = Text(j, "exif_time");
        p.broken = j.value("broken", false);
        if (kind == "today" || kind == "today_qpic") {
            // Today's shape: one key, the medium form in "pre" and the big one in "url".
            const std::string host = kind == "today" ? "http://photogz.photo.store.qq.com" : "http://m.qpic.cn";
            const std::string key = host + "/psc?/V10" + t1.substr(0, 10) + "/" + t2 + t3 + "!/";
            const std::string bo = "&bo=" + Hex16(p.id + "/bo").substr(0, 12) + "!";
            p.today = true;
            p.pre = key + "m" + bo;
            p.bigUrl = key + "b" + bo;
            p.served = p.bigUrl;
            p.fallbackServed = p.pre;
            Register(p.id, p.served, p.format, p.size);
            // The medium form is another, smaller picture.
            Register(p.id + "-m", p.pre, p.format, std::max<size_t>(p.size / 3, 64));
            return;
        }
        const std::string b = "http://b" + std::to_string(Hash(p.id) % 3 + 1) + ".photo.store.qq.com";
        p.pre = b + "/psb?/" + t1 + "/" + t2 + "/a/" + t3;
        p.fallbackServed = ReplaceAll(p.pre, "/a/", "/b/");
        if (kind == "raw") {
            p.raw = "http://r.photo.store.qq.com/psbe?/" + t1 + "/" + t2 + "/r/" + t3;
            p.rawUpload = static_cast<int>(Number(j, "raw_upload", 1, where));
            p.served = ReplaceAll(p.raw, "/psbe?/", "/psb?/");
        } else if (kind == "origin") {
            p.originUrl = b + "/psbe?/" + t1 + "/" + t2 + "/o/" + t3;
            p.rawUpload = static_cast<int>(Number(j, "raw_upload", 1, where));
            p.served = ReplaceAll(p.originUrl, "/psbe?/", "/psb?/");
            if (p.rawUpload == 1) p.served = ReplaceAll(p.served, "/o/", "/r/");
        } else if (kind == "pre") {
            p.rawUpload = static_cast<int>(Number(j, "raw_upload", 0, where));
            p.served = p.fallbackServed;
        } else {
            Bad(where, "picture kind must be raw, origin, pre, today or today_qpic");
        }
        Register(p.id, p.served, p.format, p.size);
        Register(p.id, p.fallbackServed, p.format, p.size);
        if (j.contains("video")) QZoneFilm(p, j.at("video"), where);
    }

    // "video": true, or {"state": ready | not_ready | stream_only | gone, "size": N, "gone_status": 403}.
    void QZoneFilm(Picture& p, const json& v, const std::string& where) {
        if (v.is_boolean() && !v.get<bool>()) return;
        if (!v.is_boolean() && !v.is_object()) Bad(where, "video must be true or an object");
        p.video = true;
        const json o = v.is_object() ? v : json::object();
        p.film.state = Text(o, "state", "ready");
        if (p.film.state != "ready" && p.film.state != "not_ready" && p.film.state != "stream_only" &&
            p.film.state != "gone")
            Bad(where, "video state must be ready, not_ready, stream_only or gone");
        const long long size = Number(o, "size", 20000, where);
        if (size < 0 || size > (1LL << 31) - 1) Bad(where, "video size out of range");
        p.film.size = static_cast<size_t>(size);
        p.film.goneStatus = static_cast<int>(Number(o, "gone_status", 403, where));
        const std::string host = "vwecam.tc.qq.com";
        const std::string path = "/" + Hex16(p.id + "/film") + Hex16(p.id + "/film2").substr(0, 8) + ".f20.mp4";
        p.film.download = "http://" + host + path + "?vkey=" + Hex16(p.id + "/vkey") + "&sdtfrom=v1010";
        p.film.play = "http://qzonestyle.gtimg.cn/qzone/app/video/play.html?vid=" + Hex16(p.id + "/vid");
        m_.filmsByPath[host + path] =
            ServedFilm{p.id, p.film.download, p.film.size, p.film.state == "gone" ? p.film.goneStatus : 200};
    }

    // Pictures of a container: an explicit list, and/or a "generate" block.
    template <typename Fn>
    void Pictures(json& container, const char* listKey, const std::string& idPrefix, const std::string& where,
                  Fn&& each) {
        if (container.contains(listKey)) {
            json& list = container.at(listKey);
            if (list.is_number_integer()) {
                // A bare count: that many default pictures.
                const long long n = list.get<long long>();
                json made = json::array();
                for (long long i = 0; i < n && i < 1000000; ++i) {
                    made.push_back({{"id", idPrefix + "_" + std::to_string(i + 1)}});
                }
                if (container.contains("format")) {
                    for (json& p : made) p["format"] = container["format"];
                }
                if (container.contains("size")) {
                    for (json& p : made) p["size"] = container["size"];
                }
                list = made;
            }
            if (!list.is_array()) Bad(where, std::string("\"") + listKey + "\" must be a list or a count");
            size_t i = 0;
            for (json& pj : list) {
                ++i;
                const std::string pwhere = where + " picture " + std::to_string(i);
                if (!pj.contains("id")) pj["id"] = idPrefix + "_" + std::to_string(i);
                each(pj, Text(pj, "id"), pwhere);
            }
        }
        if (container.contains("generate")) {
            const json gen = container.at("generate");
            const long long count = Number(gen, "count", 0, where);
            if (count < 0 || count > 1000000) Bad(where, "generate count out of range");
            std::vector<std::string> kinds;
            if (gen.contains("kinds") && gen.at("kinds").is_array()) {
                for (const json& k : gen.at("kinds")) kinds.push_back(k.get<std::string>());
            }
            if (kinds.empty()) kinds.push_back(Text(gen, "kind", ""));
            json& list = container[listKey];
            if (!list.is_array()) list = json::array();
            const size_t base = list.size();
            for (long long i = 0; i < count; ++i) {
                json pj = {{"id", idPrefix + "_g" + std::to_string(i + 1)},
                           {"name", FormatName(Text(gen, "name", ""), static_cast<size_t>(i + 1))},
                           {"desc", FormatName(Text(gen, "desc", ""), static_cast<size_t>(i + 1))},
                           {"format", Text(gen, "format", "jpg")},
                           {"size", Number(gen, "size", 3000, where)}};
                const std::string& kind = kinds[static_cast<size_t>(i) % kinds.size()];
                if (!kind.empty()) pj["kind"] = kind;
                list.push_back(pj);
                each(list[base + static_cast<size_t>(i)], Text(pj, "id"),
                     where + " generated picture " + std::to_string(i + 1));
            }
            container.erase("generate");
        }
    }

    ScenarioModel& m_;
    std::set<std::string> ids_;
};

// The picture reading of the scenario, offered to the services that read their own part.
class PicturesOfAService final : public ScenarioPictures {
public:
    explicit PicturesOfAService(Builder& b) : b_(b) {}
    void Read(json& container, const char* listKey, const std::string& idPrefix, const std::string& where,
              const std::function<void(Picture&, const json&)>& each) override {
        b_.Pictures(container, listKey, idPrefix, where, [&](json& pj, const std::string& id, const std::string& pw) {
            Picture p = b_.ReadPicture(pj, id, pw);
            each(p, pj);
        });
    }
    void Serve(const Picture& p, const std::string& address) override {
        b_.Register(p.id, address, p.format, p.size);
    }
    [[noreturn]] void Bad(const std::string& where, const std::string& what) override {
        sim::Bad(where, what);
    }

private:
    Builder& b_;
};

}  // namespace

size_t WeiboAlbum::PictureCount() const {
    size_t n = 0;
    for (const auto& p : posts) n += p.pictures.size();
    return n;
}

std::string NormalizeUin(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == 'o' || text[i] == 'O')) ++i;
    if (i == text.size()) return "";
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return "";
    }
    while (i + 1 < text.size() && text[i] == '0') ++i;
    std::string out = text.substr(i);
    if (out.size() > 12 || out == "0") return "";
    return out;
}

const Account* ScenarioModel::FindAccount(const std::string& uin) const {
    for (const auto& a : accounts) {
        if (a.uin == uin) return &a;
    }
    return nullptr;
}
const Owner* ScenarioModel::FindOwner(const std::string& uin) const {
    for (const auto& o : owners) {
        if (o.uin == uin) return &o;
    }
    return nullptr;
}
const Group* ScenarioModel::FindGroup(const std::string& id) const {
    for (const auto& g : groups) {
        if (g.id == id) return &g;
    }
    return nullptr;
}
const WeiboAccount* ScenarioModel::FindWeiboByName(const std::string& name) const {
    for (const auto& w : weibo) {
        if (w.name == name) return &w;
    }
    return nullptr;
}
const WeiboAccount* ScenarioModel::FindWeiboByUin(const std::string& uin) const {
    for (const auto& w : weibo) {
        if (w.uin == uin) return &w;
    }
    return nullptr;
}

ScenarioModel BuildScenario(nlohmann::json& root) {
    if (!root.is_object()) Bad("top level", "must be a JSON object");
    ScenarioModel m;
    Builder b(m);
    if (root.contains("rate_limit_text")) m.rateLimitText = Text(root, "rate_limit_text");

    if (root.contains("accounts")) {
        size_t i = 0;
        for (json& aj : root.at("accounts")) {
            const std::string where = "accounts[" + std::to_string(i++) + "]";
            Account a;
            a.uin = Uin(aj, "uin", where);
            a.password = Text(aj, "password");
            a.nick = Text(aj, "nick", a.uin);
            a.skey = Text(aj, "skey",
                          "@" + Token(a.uin + "/skey/" + a.password, 9,
                                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
            a.pskey = Text(aj, "p_skey",
                           Token(a.uin + "/p_skey/" + a.password, 44,
                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-"));
            aj["skey"] = a.skey;
            aj["p_skey"] = a.pskey;
            m.accounts.push_back(a);
        }
    }

    if (root.contains("qzone")) {
        size_t oi = 0;
        for (json& oj : root.at("qzone")) {
            const std::string where = "qzone[" + std::to_string(oi++) + "]";
            Owner o;
            o.uin = Uin(oj, "uin", where);
            o.space = Text(oj, "space", "open");
            if (o.space != "open" && o.space != "friends" && o.space != "private") {
                Bad(where, "space must be open, friends or private");
            }
            o.friends = UinList(oj, "friends", where);
            o.route = Text(oj, "route", "xa");
            if (o.route != "xa" && o.route != "sz") Bad(where, "route must be xa or sz");
            o.idcno = Text(oj, "idcno", "102");
            if (oj.contains("albums")) {
                size_t ai = 0;
                for (json& aj : oj.at("albums")) {
                    const std::string awhere = where + ".albums[" + std::to_string(ai++) + "]";
                    Album a;
                    a.id = Text(aj, "id");
                    b.ClaimId(a.id, awhere);
                    a.name = Text(aj, "name");
                    a.desc = Text(aj, "desc");
                    a.priv = static_cast<int>(Number(aj, "priv", 1, awhere));
                    a.password = Text(aj, "password");
                    a.viewers = aj.contains("viewers") ? UinList(aj, "viewers", awhere) : o.friends;
                    a.createtime =
                        Number(aj, "createtime", 1380000000 + static_cast<long long>(ai) * 86400, awhere);
                    // "today": the album answers in today's shape (its pictures default to the
                    // kind "today", and a topic object follows the list).
                    const bool today = aj.value("today", false);
                    a.topic = aj.value("topic", today);
                    b.Pictures(aj, "pictures", a.id, awhere,
                               [&](json& pj, const std::string& id, const std::string& pw) {
                                   Picture p = b.ReadPicture(pj, id, pw);
                                   b.QZonePicture(p, pj, pw, today);
                                   a.pictures.push_back(std::move(p));
                               });
                    const std::string c1 = Hex16(a.id + "/c1"), c2 = Hex16(a.id + "/c2");
                    a.cover = "http://b" + std::to_string(Hash(a.id) % 3 + 1) + ".photo.store.qq.com/psb?/" +
                              c1 + "/" + c2 + "/m/" + Hex16(a.id + "/c3") + "/200";
                    b.Register(a.id + "/cover", a.cover, "jpg",
                               static_cast<size_t>(Number(aj, "cover_size", 900, awhere)));
                    o.albums.push_back(std::move(a));
                }
            }
            if (oj.contains("moods")) {
                json& moods = oj.at("moods");
                if (moods.is_object()) {
                    // {"count": N, "text": "...%d...", "pictures": K}
                    const long long n = Number(moods, "count", 0, where);
                    json list = json::array();
                    for (long long i = 0; i < n && i < 100000; ++i) {
                        json mj = {{"text", FormatName(Text(moods, "text", ""), static_cast<size_t>(i + 1))},
                                   {"pictures", Number(moods, "pictures", 1, where)}};
                        if (moods.contains("size")) mj["size"] = moods["size"];
                        if (moods.contains("format")) mj["format"] = moods["format"];
                        list.push_back(mj);
                    }
                    moods = list;
                }
                size_t mi = 0;
                for (json& mj : moods) {
                    const std::string mwhere = where + ".moods[" + std::to_string(mi) + "]";
                    Mood md;
                    md.createtime =
                        Number(mj, "createtime", 1390000000 - static_cast<long long>(mi) * 3600, mwhere);
                    md.tid = Text(mj, "tid", Hex16(o.uin + "/mood/" + std::to_string(mi)).substr(0, 24));
                    md.text = Text(mj, "text");
                    md.forward = Text(mj, "forward");
                    md.cut = static_cast<size_t>(std::max(0LL, Number(mj, "cut", 0, mwhere)));
                    if (mj.contains("place")) {
                        const json& pl = mj.at("place");
                        md.placeName = Text(pl, "name");
                        md.placeIdname = Text(pl, "idname", md.placeName);
                        md.placeX = Text(pl, "x");
                        md.placeY = Text(pl, "y");
                    }
                    md.forwards = Number(mj, "forwards", 0, mwhere);
                    md.secret = static_cast<int>(Number(mj, "secret", 0, mwhere));
                    md.right = static_cast<int>(Number(mj, "right", 1, mwhere));
                    if (mj.contains("comments")) {
                        if (!mj.at("comments").is_array()) Bad(mwhere, "\"comments\" must be a list");
                        long long ct = md.createtime;
                        auto comment = [&](const json& cj, long long fallbackTime) {
                            MoodComment c;
                            c.name = Text(cj, "name");
                            c.uin = Text(cj, "uin");
                            c.text = Text(cj, "text");
                            c.time = Number(cj, "time", fallbackTime, mwhere);
                            return c;
                        };
                        for (const json& cj : mj.at("comments")) {
                            MoodComment c = comment(cj, ct += 60);
                            if (cj.contains("replies") && cj.at("replies").is_array())
                                for (const json& rj : cj.at("replies")) c.replies.push_back(comment(rj, ct += 60));
                            md.comments.push_back(std::move(c));
                        }
                    }
                    const std::string prefix = o.uin + "_mood" + std::to_string(mi + 1);
                    b.Pictures(mj, "pictures", prefix, mwhere,
                               [&](json& pj, const std::string& id, const std::string& pw) {
                                   Picture p = b.ReadPicture(pj, id, pw);
                                   const std::string t1 = Hex16(id + "/1"), t2 = Hex16(id + "/2"),
                                                     t3 = Hex16(id + "/3");
                                   p.smallurl = "http://a" + std::to_string(Hash(id) % 2 + 1) +
                                                ".qpic.cn/psb?/" + t1 + "/" + t2 + "/a/" + t3;
                                   p.served = ReplaceAll(p.smallurl, "/a/", "/b/");
                                   b.Register(p.id, p.served, p.format, p.size);
                                   md.pictures.push_back(std::move(p));
                               });
                    o.moods.push_back(std::move(md));
                    ++mi;
                }
            }
            m.owners.push_back(std::move(o));
        }
    }

    if (root.contains("groups")) {
        size_t gi = 0;
        for (json& gj : root.at("groups")) {
            const std::string where = "groups[" + std::to_string(gi++) + "]";
            Group g;
            g.id = Uin(gj, "id", where);
            g.name = Text(gj, "name", g.id);
            g.members = UinList(gj, "members", where);
            if (gj.contains("albums")) {
                size_t ai = 0;
                for (json& aj : gj.at("albums")) {
                    const std::string awhere = where + ".albums[" + std::to_string(ai++) + "]";
                    GroupAlbum a;
                    a.id = Text(aj, "id");
                    b.ClaimId(a.id, awhere);
                    a.title = Text(aj, "title");
                    a.desc = Text(aj, "desc");
                    a.createtime = Text(aj, "createtime", "2013-10-01 12:00:00");
                    b.Pictures(aj, "photos", a.id, awhere,
                               [&](json& pj, const std::string& id, const std::string& pw) {
                                   Picture p = b.ReadPicture(pj, id, pw);
                                   const std::string kind = Text(pj, "kind", "rawurl");
                                   const std::string base = "http://p.qpic.cn/qunphoto/" + Hex16(id + "/1") +
                                                            "/" + Hex16(id + "/2");
                                   p.burl = base;
                                   if (kind == "rawurl") {
                                       p.rawurl = base + "/200/";
                                       p.hdurl = base + "/200?pt=1";
                                       p.served = base + "/";
                                   } else if (kind == "hdurl") {
                                       p.hdurl = base + "/200?pt=1";
                                       p.served = base + "/800?pt=1";
                                   } else if (kind == "burl") {
                                       p.served = base + "/800";
                                   } else {
                                       Bad(pw, "photo kind must be rawurl, hdurl or burl");
                                   }
                                   b.Register(p.id, p.served, p.format, p.size);
                                   a.photos.push_back(std::move(p));
                               });
                    a.cover = "http://p.qpic.cn/qunphoto/" + Hex16(a.id + "/c1") + "/" + Hex16(a.id + "/c2") +
                              "/200";
                    b.Register(a.id + "/cover", a.cover, "jpg", 900);
                    g.albums.push_back(std::move(a));
                }
            }
            m.groups.push_back(std::move(g));
        }
    }

    if (root.contains("weibo")) {
        size_t wi = 0;
        for (json& wj : root.at("weibo")) {
            const std::string where = "weibo[" + std::to_string(wi++) + "]";
            WeiboAccount w;
            w.name = Text(wj, "name");
            if (!SafeId(w.name)) Bad(where, "name must be 1-64 letters, digits, '_' or '-'");
            w.uin = Uin(wj, "uin", where);
            if (wj.contains("albums")) {
                size_t ai = 0;
                for (json& aj : wj.at("albums")) {
                    const std::string awhere = where + ".albums[" + std::to_string(ai++) + "]";
                    WeiboAlbum a;
                    a.name = Text(aj, "name");
                    a.type = Text(aj, "type");
                    a.topicid = Text(aj, "topicid");
                    const std::string key = a.type.empty() ? a.topicid : a.type;
                    if (!SafeId(key)) Bad(awhere, "needs a \"type\" or a \"topicid\" of letters and digits");
                    const std::string prefix = w.name + "_" + key;
                    if (aj.contains("posts") && aj.at("posts").is_object()) {
                        json gen = aj.at("posts");
                        json list = json::array();
                        for (long long i = 0; i < Number(gen, "count", 0, awhere) && i < 100000; ++i) {
                            json pj = {
                                {"text", FormatName(Text(gen, "text", ""), static_cast<size_t>(i + 1))},
                                {"pictures", Number(gen, "pictures", 1, awhere)}};
                            if (gen.contains("size")) pj["size"] = gen["size"];
                            list.push_back(pj);
                        }
                        aj["posts"] = list;
                    }
                    size_t pi = 0;
                    if (aj.contains("posts")) {
                        for (json& pj : aj.at("posts")) {
                            const std::string pwhere = awhere + ".posts[" + std::to_string(pi) + "]";
                            WeiboPost post;
                            post.id =
                                std::to_string(300000000000000LL +
                                               static_cast<long long>(
                                                   Hash(prefix + "/" + std::to_string(pi)) % 99999999999LL));
                            post.text = Text(pj, "text");
                            post.forward = Text(pj, "forward");
                            post.realtime =
                                Number(pj, "realtime", 1382300000 - static_cast<long long>(pi) * 600, pwhere);
                            b.Pictures(pj, "pictures", prefix + "_" + std::to_string(pi + 1), pwhere,
                                       [&](json& picj, const std::string& id, const std::string& picw) {
                                           Picture p = b.ReadPicture(picj, id, picw);
                                           p.url = "http://t" + std::to_string(Hash(id) % 3 + 1) +
                                                   ".qpic.cn/mblogpic/" + Hex16(id + "/1") +
                                                   Hex16(id + "/2").substr(0, 4);
                                           p.served = p.url + "/2000";
                                           b.Register(p.id, p.served, p.format, p.size);
                                           post.pictures.push_back(std::move(p));
                                       });
                            a.posts.push_back(std::move(post));
                            ++pi;
                        }
                    }
                    a.cover = "http://t1.qpic.cn/mblogpic/" + Hex16(prefix + "/cover");
                    for (const auto& post : a.posts) {
                        if (!post.pictures.empty()) {
                            a.cover = post.pictures.front().url;
                            break;
                        }
                    }
                    b.Register(prefix + "/cover", a.cover + "/240", "jpg", 900);
                    w.albums.push_back(std::move(a));
                }
            }
            m.weibo.push_back(std::move(w));
        }
    }

    if (root.contains("faults")) {
        size_t fi = 0;
        for (const json& fj : root.at("faults")) {
            const std::string where = "faults[" + std::to_string(fi++) + "]";
            FaultRule f;
            f.match = Text(fj, "match");
            f.delayMs = Number(fj, "delay_ms", 0, where);
            f.stallAfter = Number(fj, "stall_after", -1, where);
            f.stallMs = Number(fj, "stall_ms", 30000, where);
            f.reset = fj.value("reset", false);
            f.truncate = Number(fj, "truncate", -1, where);
            f.contentLength = Number(fj, "content_length", -1, where);
            f.corruptGzip = fj.value("corrupt_gzip", false);
            f.gzip = fj.value("gzip", false);
            f.dripMs = Number(fj, "drip_ms", -1, where);
            f.setCookie = fj.value("set_cookie", false);
            f.header = Text(fj, "header");
            if (!f.header.empty() && f.header.find(':') == std::string::npos)
                Bad(where, "header must be \"Name: value\"");
            f.status = static_cast<int>(Number(fj, "status", 0, where));
            if (fj.contains("body")) f.body = Text(fj, "body");
            f.rateLimitFirst = Number(fj, "rate_limit_first", 0, where);
            f.probability = fj.value("probability", 1.0);
            if (!(f.probability >= 0.0 && f.probability <= 1.0))
                Bad(where, "probability must be within 0..1");
            f.seed = static_cast<unsigned long long>(Number(fj, "seed", 1, where));
            f.first = Number(fj, "first", -1, where);
            f.ignoreRange = fj.value("ignore_range", false);
            f.etag = Text(fj, "etag");
            f.busyCode = static_cast<int>(Number(fj, "busy_code", 0, where));
            if (f.busyCode != 0 && f.busyCode != -10001 && f.busyCode != -10083)
                Bad(where, "busy_code must be -10001 or -10083");
            f.ratePerSecond = fj.value("rate_per_second", 0.0);
            f.burst = fj.value("burst", f.ratePerSecond);
            if (f.ratePerSecond < 0 || f.burst < 0) Bad(where, "rate_per_second and burst must not be negative");
            if (f.ratePerSecond > 0 && f.burst < 1) f.burst = 1;
            f.retryAfter = Number(fj, "retry_after", -1, where);
            m.faults.push_back(f);
        }
    }

    PicturesOfAService pictures(b);
    for (const ServiceAnswers& service : ServiceTable()) {
        if (service.read && root.contains(service.name))
            m.services[service.name] = service.read(root.at(service.name), pictures);
    }
    return m;
}

}  // namespace qm::sim
