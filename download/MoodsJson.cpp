#include "download/MoodsJson.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "net/FileUtil.h"
#include "net/JsonDepth.h"

namespace qm {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// Posts, comments and replies nest five levels in a record; far deeper nesting is refused before
// the parser holds it.
constexpr int kMaxDepth = 16;

// A time as ISO 8601 when known, else the service's own text.
std::string TimeOf(int64_t seconds, const Text& text) {
    const std::string iso = IsoChinaTime(seconds);
    return iso.empty() ? ToUtf8(text) : iso;
}

ordered_json CommentJson(const MoodComment& c, bool withReplies) {
    ordered_json o = {{"name", ToUtf8(c.name)}, {"uin", c.uin}, {"time", TimeOf(c.time, c.timeText)},
                      {"text", ToUtf8(c.text)}};
    if (withReplies) {
        ordered_json replies = ordered_json::array();
        for (const MoodComment& r : c.replies) replies.push_back(CommentJson(r, false));
        o["replies"] = std::move(replies);
    }
    return o;
}

std::string Str(const json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
}
int64_t Int(const json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_number_integer() ? it->get<int64_t>() : 0;
}
int32_t Int32(const json& o, const char* key) {
    const int64_t v = Int(o, key);
    return v < INT32_MIN || v > INT32_MAX ? 0 : static_cast<int32_t>(v);
}

// "2014-01-17T23:06:40+08:00" back to Unix seconds; 0 when the text is not in that form.
int64_t FromIso(const std::string& s) {
    int y, mo, d, h, mi, se, zh, zm;
    char sign;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &se, &sign, &zh, &zm) != 9)
        return 0;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se;
    const int64_t offset = (zh * 3600 + zm * 60) * (sign == '-' ? -1 : 1);
    return static_cast<int64_t>(timegm(&tm)) - offset;
}

MoodComment ReadComment(const json& c, bool withReplies) {
    MoodComment out;
    out.name = FromUtf8(Str(c, "name"));
    out.uin = Str(c, "uin");
    out.text = FromUtf8(Str(c, "text"));
    const std::string time = Str(c, "time");
    out.time = FromIso(time);
    if (out.time == 0) out.timeText = FromUtf8(time);
    if (const auto it = c.find("replies"); withReplies && it != c.end() && it->is_array())
        for (const json& r : *it)
            if (r.is_object()) out.replies.push_back(ReadComment(r, false));
    return out;
}

MoodPost ReadPost(const json& p) {
    MoodPost post;
    post.id = Str(p, "id");
    const std::string time = Str(p, "time");
    post.time = FromIso(time);
    if (post.time == 0) post.timeText = FromUtf8(time);
    post.text = FromUtf8(Str(p, "text"));
    if (const auto it = p.find("text_cut"); it != p.end() && it->is_boolean()) post.textCut = it->get<bool>();
    if (const auto it = p.find("place"); it != p.end() && it->is_object()) {
        post.place.name = FromUtf8(Str(*it, "name"));
        post.place.idname = FromUtf8(Str(*it, "idname"));
        post.place.x = FromUtf8(Str(*it, "x"));
        post.place.y = FromUtf8(Str(*it, "y"));
    }
    post.repost = FromUtf8(Str(p, "repost"));
    if (const auto it = p.find("counts"); it != p.end() && it->is_object()) {
        post.pictureTotal = Int32(*it, "pictures");
        post.commentCount = Int32(*it, "comments");
        post.forwardCount = Int32(*it, "forwards");
    }
    if (const auto it = p.find("privacy"); it != p.end() && it->is_object()) {
        post.secret = Int32(*it, "secret");
        post.right = Int32(*it, "right");
    }
    if (const auto it = p.find("comments"); it != p.end() && it->is_array())
        for (const json& c : *it)
            if (c.is_object()) post.comments.push_back(ReadComment(c, true));
    if (const auto it = p.find("files"); it != p.end() && it->is_array())
        for (const json& f : *it)
            if (f.is_string()) post.files.push_back(FromUtf8(f.get<std::string>()));
    return post;
}

}  // namespace

std::string IsoChinaTime(int64_t unixSeconds) {
    if (unixSeconds == 0) return {};
    const std::time_t t = static_cast<std::time_t>(unixSeconds + 8 * 3600);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return {};
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S+08:00", &tm);
    return buf;
}

const char* PrivacyWord(const MoodPost& p) {
    if (p.secret != 0) return "self";
    switch (p.right) {
        case 0:
        case 1:
            return "everyone";
        case 4:
            return "friends";
        case 16:
            return "chosen";
        case 64:
            return "self";
        case 128:
            return "excluded";
        default:
            return "other";
    }
}

std::string PostRecordJson(const MoodPost& p) {
    ordered_json place = nullptr;
    if (!p.place.Empty())
        place = {{"name", ToUtf8(p.place.name)},
                 {"idname", ToUtf8(p.place.idname)},
                 {"x", ToUtf8(p.place.x)},
                 {"y", ToUtf8(p.place.y)}};
    ordered_json comments = ordered_json::array();
    for (const MoodComment& c : p.comments) comments.push_back(CommentJson(c, true));
    ordered_json files = ordered_json::array();
    for (const Text& f : p.files) files.push_back(ToUtf8(f));
    const ordered_json o = {
        {"id", p.id},
        {"time", TimeOf(p.time, p.timeText)},
        {"text", ToUtf8(p.text)},
        {"text_cut", p.textCut},
        {"place", std::move(place)},
        {"repost", ToUtf8(p.repost)},
        {"counts", {{"pictures", p.pictureTotal}, {"comments", p.commentCount}, {"forwards", p.forwardCount}}},
        {"privacy", {{"word", PrivacyWord(p)}, {"secret", p.secret}, {"right", p.right}}},
        {"comments", std::move(comments)},
        {"files", std::move(files)},
    };
    return o.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<MoodPost> ParsePostRecord(std::string_view record) {
    if (!JsonNestsAtMost(record, kMaxDepth)) return std::nullopt;
    const json p = json::parse(record.begin(), record.end(), nullptr, false);
    if (!p.is_object() || Str(p, "id").empty()) return std::nullopt;
    return ReadPost(p);
}

std::string MoodsJsonText(const std::string& targetId, const std::string& updated,
                          const std::vector<std::string>& records) {
    std::size_t size = 128;
    for (const std::string& r : records) size += r.size() + 3;
    std::string out;
    out.reserve(size);
    out += "{\n \"format\": 1,\n \"target\": ";
    out += ordered_json{{"kind", "qzone"}, {"id", targetId}}.dump(-1, ' ', false, json::error_handler_t::replace);
    out += ",\n \"updated\": ";
    out += json(updated).dump(-1, ' ', false, json::error_handler_t::replace);
    out += ",\n \"posts\": [";
    for (std::size_t i = 0; i < records.size(); ++i) {
        out += i ? ",\n  " : "\n  ";
        out += records[i];
    }
    out += records.empty() ? "]\n}\n" : "\n ]\n}\n";
    return out;
}

std::optional<MoodsFile> ParseMoodsJson(std::string_view text) {
    if (!JsonNestsAtMost(text, kMaxDepth)) return std::nullopt;
    const json doc = json::parse(text.begin(), text.end(), nullptr, false);
    if (!doc.is_object()) return std::nullopt;
    if (const auto f = doc.find("format"); f != doc.end() && f->is_number() && f->get<double>() > 1)
        return std::nullopt;  // written by a newer program
    MoodsFile out;
    if (const auto t = doc.find("target"); t != doc.end() && t->is_object()) out.targetId = Str(*t, "id");
    out.updated = Str(doc, "updated");
    const auto posts = doc.find("posts");
    if (posts == doc.end() || !posts->is_array()) return std::nullopt;
    out.posts.reserve(posts->size());
    for (const json& p : *posts)
        if (p.is_object() && !Str(p, "id").empty()) out.posts.push_back(ReadPost(p));
    return out;
}

bool WriteMoodsJson(const Text& folder, const HeldFolder* held, const std::string& text, std::string* error) {
    const std::filesystem::path target = PathFromText(folder) / kMoodsJsonName;
    errno = 0;
    // Durable: the words of the posts live nowhere else on this machine.
    if (held ? WriteFileAtomic(*held, kMoodsJsonName, text, 0, /*durable=*/true)
             : WriteFileAtomic(target, text, 0, /*durable=*/true))
        return true;
    if (error) *error = errno ? std::strerror(errno) : "cannot write " + target.string();
    return false;
}

std::optional<MoodsFile> ReadMoodsJson(const Text& folder) {
    std::string text;
    if (!ReadRegularFile(PathFromText(folder) / kMoodsJsonName, text, kMoodsJsonMaxBytes, /*followLink=*/false))
        return std::nullopt;
    return ParseMoodsJson(text);
}

}  // namespace qm
